// Fitting a page made for another size onto the loaded label or roll: the
// page is turned a quarter when that makes it larger, scaled keeping its
// aspect (down or up) and centred; on a roll it takes the roll's width and
// its length follows. Pages of few grey levels (codes, text, frames) are
// scaled by a whole number of dots where that costs little of the size,
// otherwise by nearest neighbour, so bars keep hard edges and even widths;
// photos are averaged. Nothing here knows PAPPL, so it is tested on its own.
#pragma once

#include "app/documents/picture.h"

// Where a page goes on the loaded medium, in dots at the printer's resolution.
struct DfLabelFit {
    bool turn = false;                       // turned a quarter first (as DfTurnPicture)
    unsigned pageWidth = 0, pageHeight = 0;  // the label, or the roll's width and the page's length
    DfPlacement place;                       // the scaled page on it (after the turn)
    bool crisp = false;                      // few grey levels: whole factors or nearest neighbour
};

// Whether a page of width x height dots is the loaded medium's own size
// (within a millimetre; on a roll only the width counts).
bool DfIsLoadedSize(unsigned width, unsigned height, unsigned mediumWidth, unsigned mediumLength, bool roll,
                    int dpi);

// The plan for a width x height page onto a mediumWidth x mediumLength label
// (mediumLength unused on a roll). crisp: the page has few grey levels.
DfLabelFit DfPlanLabelFit(unsigned width, unsigned height, unsigned mediumWidth, unsigned mediumLength,
                          bool roll, bool crisp);

// Whether a page has few grey levels (at most 16 distinct values).
bool DfFewGreyLevels(const DfGreyImage& page);

// The fitted page: white, pageWidth x pageHeight, with the page scaled into
// its place. The source is turned in place when the plan says so. False when
// the page is empty or the result would be too large.
bool DfApplyLabelFit(DfGreyImage& source, const DfLabelFit& fit, DfGreyImage& out);
