// Pictures (PNG, JPEG) for the printer application: typing a document by its
// first bytes, decoding it into 8-bit grey no larger than the page needs, and
// fitting it onto a page of the medium's size. Nothing here knows PAPPL, so
// the decoders are tested on their own. Every failure is a text for the job's
// state message; no input makes them allocate more than a bounded amount.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Decoded pictures are refused beyond this many pixels on a side.
constexpr unsigned kDfPictureMaxSide = 16384;
// ... and beyond this many pixels once reduced for the page.
constexpr unsigned long kDfPictureMaxPixels = 64ul * 1024 * 1024;

struct DfGreyImage {
    unsigned width = 0, height = 0;
    std::vector<unsigned char> pixels;  // width * height, 0 black, 255 white
};

// How a picture is placed on the page (IPP print-scaling). Auto is auto-fit:
// labels are borderless, but filling one would crop the picture.
enum class DfScaling { Auto, AutoFit, Fill, Fit, None };
DfScaling DfScalingFromIpp(const char* keyword);

// The MIME type of a document by its first bytes: image/png, image/jpeg (any
// JPEG marker after SOI, not only JFIF or EXIF ones), application/pdf,
// image/pwg-raster, image/urf; nullptr when unknown.
const char* DfSniffFormat(const unsigned char* data, size_t len);

// Decodes the picture into grey, reduced by a whole factor while it stays at
// least boxWidth x boxHeight (the page, in dots); transparency is white.
// False with the reason in error on damaged, truncated or oversized input.
bool DfDecodePng(FILE* file, unsigned boxWidth, unsigned boxHeight, DfGreyImage& out, std::string& error);
bool DfDecodeJpeg(FILE* file, unsigned boxWidth, unsigned boxHeight, DfGreyImage& out, std::string& error);

// Whether a width x height picture or page is turned a quarter to lie as the
// medium lies (landscape on portrait or the reverse; squares never turn).
bool DfTurnsToMedium(double width, double height, unsigned pageWidth, unsigned pageHeight);
// The picture turned a quarter anticlockwise.
void DfTurnPicture(DfGreyImage& picture);

// Where a picture of width x height goes on a page of pageWidth x pageHeight
// dots: its scaled size and the offset of its top left corner (negative when
// it overhangs the page and is cropped).
struct DfPlacement {
    unsigned width = 0, height = 0;
    long x = 0, y = 0;
};
DfPlacement DfPlacePicture(unsigned width, unsigned height, unsigned pageWidth, unsigned pageHeight,
                           DfScaling scaling);

// The page: white, with the picture resampled to its placement.
bool DfFitPicture(const DfGreyImage& picture, unsigned pageWidth, unsigned pageHeight, DfScaling scaling,
                  DfGreyImage& page);
