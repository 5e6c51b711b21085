// Test helper: whole-image comparison with a hex dump of the first differing row.
#include "helpers/images.h"

#include <cstring>

#include "helpers/hexdump.h"

::testing::AssertionResult SameImage(const CxImage& a, const CxImage& b, bool compareInfo, bool compareAlpha) {
    if (a.IsValid() != b.IsValid()) return ::testing::AssertionFailure() << "validity differs";
    if (!a.IsValid()) return ::testing::AssertionSuccess();
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetBpp() != b.GetBpp())
        return ::testing::AssertionFailure() << "layout " << a.GetWidth() << "x" << a.GetHeight() << "x" << a.GetBpp()
                                             << " vs " << b.GetWidth() << "x" << b.GetHeight() << "x" << b.GetBpp();
    if (compareInfo &&
        (a.GetXDPI() != b.GetXDPI() || a.GetYDPI() != b.GetYDPI() || a.GetTransIndex() != b.GetTransIndex()))
        return ::testing::AssertionFailure() << "information fields differ";
    for (unsigned i = 0; i < a.GetNumColors(); ++i) {
        const tagRGBQUAD p = a.GetPaletteColor(i), q = b.GetPaletteColor(i);
        if (memcmp(&p, &q, 4) != 0) return ::testing::AssertionFailure() << "palette entry " << i << " differs";
    }
    const unsigned eff = a.GetEffWidth();
    for (unsigned y = 0; y < a.GetHeight(); ++y) {
        if (memcmp(a.GetBits(y), b.GetBits(y), eff) != 0)
            return ::testing::AssertionFailure() << "row " << y << " differs\n"
                                                 << HexDump(a.GetBits(y), eff, 64) << "\n"
                                                 << HexDump(b.GetBits(y), eff, 64);
    }
    if (a.AlphaIsValid() != b.AlphaIsValid()) return ::testing::AssertionFailure() << "alpha presence differs";
    if (compareAlpha && a.AlphaIsValid() &&
        memcmp(a.AlphaGetPointer(), b.AlphaGetPointer(), static_cast<size_t>(a.GetWidth()) * a.GetHeight()) != 0)
        return ::testing::AssertionFailure() << "alpha plane differs";
    return ::testing::AssertionSuccess();
}
