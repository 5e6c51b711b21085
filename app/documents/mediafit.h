// Whether a raster page fits the job's medium, and a medium's length in dots.
// A page larger than the medium would be cut at the print head (or run over
// several labels) and still be reported printed; such a page is refused with
// a reason instead.
#pragma once

#include <string>

// Why a page of pageWidth x pageHeight dots cannot go on a medium of
// mediaWidth x mediaLength hundredths of a millimetre, or "" when it can.
// The length counts only on gap or mark media (labels); continuous rolls take
// any length. Labels get one millimetre of slack for rounding by the sender;
// a roll's medium is its printable width, and a page up to the paper's width
// (the roll's unprintable edges, 10 mm, and 1 mm of rounding) is still
// taken and cut to the head.
std::string DfPageTooLarge(unsigned pageWidth, unsigned pageHeight, int xdpi, int ydpi, int mediaWidth,
                           int mediaLength, bool labels);

// Lines a page of this many hundredths of a millimetre has at dpi.
unsigned DfAppLengthToDots(int hundredthsMm, int dpi);
