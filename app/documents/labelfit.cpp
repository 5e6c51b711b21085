// The page-onto-loaded-medium step: its plan and its resampling.
#include "app/documents/labelfit.h"

#include <algorithm>
#include <cmath>

namespace {

// A whole factor is taken while it keeps this much of the fitted size.
constexpr double kWholeFactorKeeps = 0.85;

double Scale(unsigned w, unsigned h, unsigned mediumWidth, unsigned mediumLength, bool roll) {
    const double across = static_cast<double>(mediumWidth) / w;
    return roll ? across : std::min(across, static_cast<double>(mediumLength) / h);
}

// Every dot of the placement from the source dot under its centre.
void Nearest(const DfGreyImage& src, const DfPlacement& p, DfGreyImage& out) {
    const long x0 = std::max(0l, p.x), x1 = std::min<long>(out.width, p.x + p.width);
    const long y0 = std::max(0l, p.y), y1 = std::min<long>(out.height, p.y + p.height);
    if (x0 >= x1 || y0 >= y1) return;
    std::vector<unsigned> sx(static_cast<size_t>(x1 - x0));
    for (long x = x0; x < x1; x++)
        sx[x - x0] = static_cast<unsigned>(((2ull * (x - p.x) + 1) * src.width) / (2ull * p.width));
    for (long y = y0; y < y1; y++) {
        const unsigned sy = static_cast<unsigned>(((2ull * (y - p.y) + 1) * src.height) / (2ull * p.height));
        const unsigned char* row = &src.pixels[static_cast<size_t>(sy) * src.width];
        unsigned char* dst = &out.pixels[static_cast<size_t>(y) * out.width];
        for (long x = x0; x < x1; x++) dst[x] = row[sx[x - x0]];
    }
}

// The source reduced by n on both sides, each n x n block as its mean.
DfGreyImage Reduce(const DfGreyImage& src, unsigned n) {
    DfGreyImage r;
    r.width = (src.width + n - 1) / n;
    r.height = (src.height + n - 1) / n;
    r.pixels.assign(static_cast<size_t>(r.width) * r.height, 255);
    std::vector<unsigned> sums(r.width), counts(r.width);
    for (unsigned by = 0; by < r.height; by++) {
        std::fill(sums.begin(), sums.end(), 0);
        std::fill(counts.begin(), counts.end(), 0);
        for (unsigned y = by * n; y < std::min(src.height, (by + 1) * n); y++) {
            const unsigned char* row = &src.pixels[static_cast<size_t>(y) * src.width];
            for (unsigned x = 0; x < src.width; x++) {
                sums[x / n] += row[x];
                counts[x / n]++;
            }
        }
        for (unsigned bx = 0; bx < r.width; bx++)
            r.pixels[static_cast<size_t>(by) * r.width + bx] =
                static_cast<unsigned char>((sums[bx] + counts[bx] / 2) / counts[bx]);
    }
    return r;
}

}  // namespace

bool DfIsLoadedSize(unsigned width, unsigned height, unsigned mediumWidth, unsigned mediumLength, bool roll,
                    int dpi) {
    const long slack = dpi > 0 ? (dpi + 12) / 25 : 0;  // a millimetre
    const auto near = [slack](unsigned a, unsigned b) {
        return std::labs(static_cast<long>(a) - static_cast<long>(b)) <= slack;
    };
    return near(width, mediumWidth) && (roll || near(height, mediumLength));
}

DfLabelFit DfPlanLabelFit(unsigned width, unsigned height, unsigned mediumWidth, unsigned mediumLength,
                          bool roll, bool crisp) {
    DfLabelFit f;
    if (!width || !height || !mediumWidth || (!roll && !mediumLength)) return f;
    f.crisp = crisp;
    f.turn = Scale(height, width, mediumWidth, mediumLength, roll) >
             Scale(width, height, mediumWidth, mediumLength, roll) * 1.0001;
    const unsigned w = f.turn ? height : width, h = f.turn ? width : height;
    f.pageWidth = mediumWidth;
    f.pageHeight =
        roll ? std::max(1u, static_cast<unsigned>(std::lround(static_cast<double>(h) * mediumWidth / w)))
             : mediumLength;
    f.place = DfPlacePicture(w, h, f.pageWidth, f.pageHeight, DfScaling::Fit);
    if (crisp && f.place.width != w) {
        // A whole number of dots per dot (or dots per dot) when it keeps most of the size.
        const double s = static_cast<double>(f.place.width) / w;
        unsigned pw = 0, ph = 0;
        if (s >= 1) {
            const unsigned k = static_cast<unsigned>(std::floor(s + 1e-9));
            if (k / s >= kWholeFactorKeeps) pw = w * k, ph = h * k;
        } else {
            const unsigned n = static_cast<unsigned>(std::ceil(1 / s - 1e-9));
            if (1.0 / n / s >= kWholeFactorKeeps) pw = (w + n - 1) / n, ph = (h + n - 1) / n;
        }
        if (pw && pw <= f.pageWidth && (roll || ph <= f.pageHeight)) {
            f.place.width = pw;
            f.place.height = ph;
            if (roll) f.pageHeight = ph;
            f.place.x = (static_cast<long>(f.pageWidth) - pw) / 2;
            f.place.y = (static_cast<long>(f.pageHeight) - ph) / 2;
        }
    }
    return f;
}

bool DfFewGreyLevels(const DfGreyImage& page) {
    bool seen[256] = {};
    unsigned levels = 0;
    for (unsigned char v : page.pixels)
        if (!seen[v]) {
            seen[v] = true;
            if (++levels > 16) return false;
        }
    return true;
}

bool DfApplyLabelFit(DfGreyImage& source, const DfLabelFit& fit, DfGreyImage& out) {
    if (!fit.place.width || !fit.place.height || !source.width || !source.height ||
        source.pixels.size() < static_cast<size_t>(source.width) * source.height)
        return false;
    if (static_cast<unsigned long long>(fit.pageWidth) * fit.pageHeight > kDfPictureMaxPixels) return false;
    if (fit.turn) DfTurnPicture(source);
    if (!fit.crisp) {
        // Photos: a whole-factor mean first, then DfFitPicture's resampling.
        const unsigned n =
            std::max(1u, std::min(source.width / fit.place.width, source.height / fit.place.height));
        return n > 1 ? DfFitPicture(Reduce(source, n), fit.pageWidth, fit.pageHeight, DfScaling::Fit, out)
                     : DfFitPicture(source, fit.pageWidth, fit.pageHeight, DfScaling::Fit, out);
    }
    out.width = fit.pageWidth;
    out.height = fit.pageHeight;
    out.pixels.assign(static_cast<size_t>(out.width) * out.height, 255);
    // A whole reduction averages its blocks: a bar narrower than the factor
    // keeps its weight instead of vanishing between the samples.
    const unsigned n = (source.width + fit.place.width - 1) / fit.place.width;
    if (n > 1 && (source.width + n - 1) / n == fit.place.width &&
        (source.height + n - 1) / n == fit.place.height) {
        Nearest(Reduce(source, n), fit.place, out);
        return true;
    }
    Nearest(source, fit.place, out);
    return true;
}
