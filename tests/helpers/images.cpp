// Test helper: whole-image comparison with a hex dump of the first differing
// row, and random images.
#include "helpers/images.h"

#include <cstring>
#include <vector>

#include "helpers/hexdump.h"

::testing::AssertionResult SameImage(const CxImage& a, const CxImage& b, bool compareInfo,
                                     bool compareAlpha) {
    if (a.IsValid() != b.IsValid()) return ::testing::AssertionFailure() << "validity differs";
    if (!a.IsValid()) return ::testing::AssertionSuccess();
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetBpp() != b.GetBpp())
        return ::testing::AssertionFailure()
               << "layout " << a.GetWidth() << "x" << a.GetHeight() << "x" << a.GetBpp() << " vs "
               << b.GetWidth() << "x" << b.GetHeight() << "x" << b.GetBpp();
    if (compareInfo &&
        (a.GetXDPI() != b.GetXDPI() || a.GetYDPI() != b.GetYDPI() || a.GetTransIndex() != b.GetTransIndex()))
        return ::testing::AssertionFailure() << "information fields differ";
    for (unsigned i = 0; i < a.GetNumColors(); ++i) {
        const tagRGBQUAD p = a.GetPaletteColor(i), q = b.GetPaletteColor(i);
        if (memcmp(&p, &q, 4) != 0)
            return ::testing::AssertionFailure() << "palette entry " << i << " differs";
    }
    const unsigned eff = a.GetEffWidth();
    for (unsigned y = 0; y < a.GetHeight(); ++y) {
        if (memcmp(a.GetBits(y), b.GetBits(y), eff) != 0)
            return ::testing::AssertionFailure() << "row " << y << " differs\n"
                                                 << HexDump(a.GetBits(y), eff, 64) << "\n"
                                                 << HexDump(b.GetBits(y), eff, 64);
    }
    if (a.AlphaIsValid() != b.AlphaIsValid())
        return ::testing::AssertionFailure() << "alpha presence differs";
    if (compareAlpha && a.AlphaIsValid() &&
        memcmp(a.AlphaGetPointer(), b.AlphaGetPointer(), static_cast<size_t>(a.GetWidth()) * a.GetHeight()) !=
            0)
        return ::testing::AssertionFailure() << "alpha plane differs";
    return ::testing::AssertionSuccess();
}

CxImage RandomImage(unsigned w, unsigned h, unsigned bpp, std::mt19937& rng, const RandomImageOptions& o) {
    const unsigned bpl = (w * bpp + 7) / 8 + o.rowPadding;
    std::vector<unsigned char> data(static_cast<size_t>(bpl) * h);
    const unsigned style = o.tones == RandomTones::Varied ? rng() % 4 : 0;
    for (size_t i = 0; i < data.size(); ++i) {
        unsigned char& b = data[i];
        const unsigned r = rng();
        // Every other row mid-grey, where the error that such a stretch
        // must pass on (carried in from its left) shows in the output.
        if (style == 3 && (i / bpl) % 2)
            b = static_cast<unsigned char>(120 + (r >> 8) % 17);
        else if (style == 3)
            b = static_cast<unsigned char>(r % 16 == 0 ? r >> 8 : (r >> 8) % 2 ? 255 : 0);
        else if (style == 0)
            b = static_cast<unsigned char>(r);
        else if (style == 1)
            b = static_cast<unsigned char>(r % 4 ? (r >> 8) % 12 : 255 - (r >> 8) % 12);
        else
            b = static_cast<unsigned char>(120 + (r >> 8) % 17);
    }
    if (o.alphaExtremes && bpp == 32) {
        for (size_t i = 3; i < data.size(); i += 4) {
            const unsigned k = rng() % 3;
            data[i] = k == 0 ? 0 : (k == 1 ? 255 : static_cast<unsigned char>(rng()));
        }
    }
    CxImage img(0);
    EXPECT_TRUE(img.CreateFromArray(data.data(), w, h, bpp, bpl, false));
    if (o.randomPalette)
        for (unsigned i = 0; i < img.GetNumColors(); ++i)
            img.SetPaletteColor(i, static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                static_cast<uint8_t>(rng()));
    img.SetXDPI(203);
    return img;
}
