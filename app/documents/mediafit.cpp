// The page-against-medium check of the raster path, and lengths in dots.
#include "app/documents/mediafit.h"

#include <cstdio>

namespace {

double Mm(unsigned dots, int dpi) {
    return dpi > 0 ? dots * 25.4 / dpi : 0;
}

}  // namespace

std::string DfPageTooLarge(unsigned pageWidth, unsigned pageHeight, int xdpi, int ydpi, int mediaWidth,
                           int mediaLength, bool labels) {
    if (xdpi <= 0 || ydpi <= 0 || mediaWidth <= 0) return std::string();
    const double wMm = Mm(pageWidth, xdpi), hMm = Mm(pageHeight, ydpi);
    const bool wide = wMm > mediaWidth / 100.0 + (labels ? 1 : 11);
    const bool longer = labels && mediaLength > 0 && hMm > mediaLength / 100.0 + 1;
    if (!wide && !longer) return std::string();
    char text[200];
    if (labels)
        snprintf(text, sizeof(text), "the %.1f x %.1f mm page is larger than the %.1f x %.1f mm label", wMm,
                 hMm, mediaWidth / 100.0, mediaLength / 100.0);
    else
        snprintf(text, sizeof(text), "the %.1f mm wide page is wider than the %.1f mm roll", wMm,
                 mediaWidth / 100.0);
    return text;
}

unsigned DfAppLengthToDots(int hundredthsMm, int dpi) {
    if (hundredthsMm <= 0 || dpi <= 0) return 0;
    return static_cast<unsigned>((static_cast<long long>(hundredthsMm) * dpi + 1270) / 2540);
}
