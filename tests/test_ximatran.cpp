// Rotation, cropping and grey conversion: worked examples, identities, the
// failure paths, and equality with plain accessor-based versions of each
// operation on random pages of several sizes and depths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "helpers/images.h"
#include "image/ximage.h"

namespace {

// ---- reference versions: one range-checked accessor call per pixel ----

bool RefNewLike(const CxImage& src, CxImage& out, unsigned w, unsigned h) {
    out.CopyInfo(src);
    if (!out.Create(w, h, src.GetBpp(), src.GetType())) return false;
    out.SetPalette(src.GetPalette(), 256);
    if (src.AlphaIsValid()) out.AlphaCreate();
    return true;
}

void RefCopyPixel(const CxImage& src, long sx, long sy, CxImage& out, long x, long y) {
    if (src.GetNumColors())
        out.SetPixelIndex(x, y, src.GetPixelIndex(sx, sy));
    else
        out.SetPixelColor(x, y, src.GetPixelColor(sx, sy));
    out.AlphaSet(x, y, src.AlphaGet(sx, sy));
}

CxImage RefRotate(const CxImage& src, int quarter) {
    const long w = src.GetWidth(), h = src.GetHeight();
    CxImage out;
    RefNewLike(src, out, quarter == 2 ? w : h, quarter == 2 ? h : w);
    for (long y = 0; y < static_cast<long>(out.GetHeight()); ++y)
        for (long x = 0; x < static_cast<long>(out.GetWidth()); ++x) {
            if (quarter == 1) RefCopyPixel(src, w - 1 - y, x, out, x, y);          // 90
            if (quarter == 2) RefCopyPixel(src, w - 1 - x, h - 1 - y, out, x, y);  // 180
            if (quarter == 3) RefCopyPixel(src, y, h - 1 - x, out, x, y);          // 270
        }
    return out;
}

CxImage RefCrop(const CxImage& src, long x0, long y0, long x1, long y1) {  // kept: [x0,x1) x [y0,y1)
    CxImage out;
    RefNewLike(src, out, x1 - x0, y1 - y0);
    for (long y = y0; y < y1; ++y)
        for (long x = x0; x < x1; ++x) RefCopyPixel(src, x, y, out, x - x0, y - y0);
    return out;
}

uint8_t RefGrey(tagRGBQUAD c) {
    return static_cast<uint8_t>((c.rgbBlue * 117 + c.rgbGreen * 601 + c.rgbRed * 306) >> 10);
}

CxImage RefGrayScale(const CxImage& src) {
    CxImage out;
    out.CopyInfo(src);
    out.Create(src.GetWidth(), src.GetHeight(), 8, src.GetType());
    out.SetGrayPalette();
    out.AlphaCopy(src);
    for (long y = 0; y < static_cast<long>(src.GetHeight()); ++y)
        for (long x = 0; x < static_cast<long>(src.GetWidth()); ++x)
            out.SetPixelIndex(x, y, RefGrey(src.GetPixelColor(x, y, false)));
    return out;
}

// ---- comparison of pixels, palette and alpha (row tails are not compared) ----

::testing::AssertionResult SamePixels(const CxImage& a, const CxImage& b) {
    if (!a.IsValid() || !b.IsValid()) return ::testing::AssertionFailure() << "invalid image";
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetBpp() != b.GetBpp())
        return ::testing::AssertionFailure() << "size " << a.GetWidth() << "x" << a.GetHeight() << "x" << a.GetBpp()
                                             << " vs " << b.GetWidth() << "x" << b.GetHeight() << "x" << b.GetBpp();
    if (a.GetPaletteSize() != b.GetPaletteSize() ||
        (a.GetPaletteSize() && std::memcmp(a.GetPalette(), b.GetPalette(), a.GetPaletteSize()) != 0))
        return ::testing::AssertionFailure() << "palettes differ";
    if (a.AlphaIsValid() != b.AlphaIsValid()) return ::testing::AssertionFailure() << "alpha plane presence differs";
    for (long y = 0; y < static_cast<long>(a.GetHeight()); ++y)
        for (long x = 0; x < static_cast<long>(a.GetWidth()); ++x) {
            const tagRGBQUAD ca = a.BlindGetPixelColor(x, y), cb = b.BlindGetPixelColor(x, y);
            if (a.GetPixelIndex(x, y) != b.GetPixelIndex(x, y) || std::memcmp(&ca, &cb, 4) != 0)
                return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") differs: index "
                                                     << int(a.GetPixelIndex(x, y)) << " vs "
                                                     << int(b.GetPixelIndex(x, y)) << ", alpha "
                                                     << int(ca.rgbReserved) << " vs " << int(cb.rgbReserved);
        }
    return ::testing::AssertionSuccess();
}

// Random page (rows with 3 spare source bytes); 32 bits per pixel gives 24
// bits with a random alpha plane. Paletted pages get a random palette so
// that grey conversion has work.
CxImage RandomPage(unsigned w, unsigned h, unsigned bpp, unsigned seed) {
    std::mt19937 rng(seed);
    return RandomImage(w, h, bpp, rng, {RandomTones::Bytes, false, true, 3});
}

struct Size {
    unsigned w, h;
};
const Size kSizes[] = {{1, 1}, {5, 3}, {8, 8}, {13, 7}, {31, 17}, {33, 9}, {64, 2}, {67, 45}, {3, 70}};
const unsigned kDepths[] = {1, 4, 8, 24, 32};

#define FOR_EACH_PAGE(img)                                                                    \
    for (const Size& sz : kSizes)                                                             \
        for (unsigned bpp : kDepths)                                                          \
            for (CxImage img = RandomPage(sz.w, sz.h, bpp, sz.w * 1000 + sz.h * 10 + bpp); img.IsValid(); \
                 img.Destroy())

// ---- rotation ----

TEST(Rotate, QuarterAndHalfTurnsMatchReference) {
    struct Case {
        float angle;
        int quarter;
    };
    const Case cases[] = {{90.0f, 1}, {270.0f, 3}, {180.0f, 2}, {-180.0f, 2}, {540.0f, 2},
                          {-90.0f, 3}, {450.0f, 1}, {-270.0f, 1}};
    FOR_EACH_PAGE(page) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << page.GetWidth() << "x" << page.GetHeight() << " bpp " << page.GetBpp()
                                            << (page.AlphaIsValid() ? "+alpha" : "") << " angle " << c.angle);
            CxImage turned(page);
            ASSERT_TRUE(turned.Rotate(c.angle));
            EXPECT_TRUE(SamePixels(RefRotate(page, c.quarter), turned));
            EXPECT_EQ(turned.GetXDPI(), 203);
        }
    }
}

TEST(Rotate, TurnsComposeToIdentity) {
    FOR_EACH_PAGE(page) {
        SCOPED_TRACE(testing::Message() << page.GetWidth() << "x" << page.GetHeight() << " bpp " << page.GetBpp());
        CxImage a(page);
        ASSERT_TRUE(a.Rotate(90.0f));
        ASSERT_TRUE(a.Rotate(270.0f));
        EXPECT_TRUE(SamePixels(page, a));
        CxImage b(page);
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(b.Rotate(90.0f));
        EXPECT_TRUE(SamePixels(page, b));
        CxImage c(page);
        ASSERT_TRUE(c.Rotate180());
        ASSERT_TRUE(c.Rotate180());
        EXPECT_TRUE(SamePixels(page, c));
        CxImage d(page);  // angle 0 runs the sampling path, which is then a copy
        ASSERT_TRUE(d.Rotate(0.0f));
        EXPECT_TRUE(SamePixels(page, d));
    }
}

// 5 x 3 page whose pixel (x, y) holds index x + 5y.
CxImage Numbered5x3() {
    CxImage img(5, 3, 8);
    img.SetGrayPalette();
    for (long y = 0; y < 3; ++y)
        for (long x = 0; x < 5; ++x) img.SetPixelIndex(x, y, static_cast<uint8_t>(x + 5 * y));
    return img;
}

std::vector<int> Indices(const CxImage& img) {
    std::vector<int> v;
    for (long y = 0; y < static_cast<long>(img.GetHeight()); ++y)
        for (long x = 0; x < static_cast<long>(img.GetWidth()); ++x) v.push_back(img.GetPixelIndex(x, y));
    return v;
}

TEST(Rotate, WorkedExamples5x3) {
    struct Case {
        float angle;
        unsigned w, h;
        std::vector<int> pixels;
    };
    const Case cases[] = {
        // 90: result (nx, ny) = source (4 - ny, nx); row 0 is source column 4.
        {90.0f, 3, 5, {4, 9, 14, 3, 8, 13, 2, 7, 12, 1, 6, 11, 0, 5, 10}},
        // 270: result (nx, ny) = source (ny, 2 - nx); column 0 is source row 2.
        {270.0f, 3, 5, {10, 5, 0, 11, 6, 1, 12, 7, 2, 13, 8, 3, 14, 9, 4}},
        {180.0f, 5, 3, {14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        CxImage img = Numbered5x3();
        ASSERT_TRUE(img.Rotate(c.angle));
        EXPECT_EQ(img.GetWidth(), c.w);
        EXPECT_EQ(img.GetHeight(), c.h);
        EXPECT_EQ(Indices(img), c.pixels);
    }
}

TEST(Rotate, IntoDestinationLeavesSource) {
    CxImage img = Numbered5x3();
    const uint8_t* bits = img.GetBits(0);
    CxImage dst(9, 9, 1);
    ASSERT_TRUE(img.Rotate(90.0f, &dst));
    EXPECT_EQ(img.GetBits(0), bits);
    EXPECT_EQ(Indices(img), Indices(Numbered5x3()));
    EXPECT_EQ(dst.GetWidth(), 3u);
    EXPECT_EQ(dst.GetPixelIndex(0, 0), 4);
    CxImage dst2;
    ASSERT_TRUE(img.Rotate180(&dst2));
    EXPECT_EQ(dst2.GetPixelIndex(0, 0), 14);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
}

TEST(Rotate, Failures) {
    CxImage empty;
    EXPECT_FALSE(empty.Rotate(90.0f));
    EXPECT_FALSE(empty.Rotate(180.0f));
    EXPECT_FALSE(empty.Rotate180());

    CxImage img = Numbered5x3();
    EXPECT_FALSE(img.Rotate(std::nanf("")));
    EXPECT_FALSE(img.Rotate(INFINITY));
    EXPECT_EQ(Indices(img), Indices(Numbered5x3()));

    // A long thin line turned by 45 degrees would need a square of ~741000
    // pixels: the result cannot be created and the page stays as it was.
    CxImage line(1u << 20, 1, 1);
    line.GetBits(0)[0] = 0x5A;
    const uint8_t* bits = line.GetBits(0);
    EXPECT_FALSE(line.Rotate(45.0f));
    EXPECT_STREQ(line.GetLastError(), CXIMAGE_ERR_MAXMEM);
    EXPECT_EQ(line.GetBits(0), bits);
    EXPECT_EQ(line.GetWidth(), 1u << 20);
    EXPECT_EQ(line.GetBits(0)[0], 0x5A);
}

TEST(Rotate, OtherAnglesStaySane) {
    // 45 degrees of a 20 x 10 page: a box of about (20 + 10) / sqrt 2 each way.
    CxImage img(20, 10, 8);
    img.SetGrayPalette();
    std::memset(img.GetBits(0), 200, img.GetEffWidth() * 10);
    ASSERT_TRUE(img.AlphaCreate());
    ASSERT_TRUE(img.Rotate(45.0f));
    EXPECT_NEAR(img.GetWidth(), 21.2, 1.0);
    EXPECT_NEAR(img.GetHeight(), 21.2, 1.0);
    // The centre lies on the page; the result's alpha is 0 where nothing maps.
    EXPECT_EQ(img.GetPixelIndex(img.GetWidth() / 2, img.GetHeight() / 2), 200);
    EXPECT_EQ(img.AlphaGet(img.GetWidth() / 2, img.GetHeight() / 2), 255);
    EXPECT_EQ(img.AlphaGet(0, 0), 0);
}

// ---- crop ----

TEST(Crop, RectangleExamples) {
    const long w = 20, h = 30;
    struct Case {
        int left, top, right, bottom;
        long x0, y0, x1, y1;  // kept columns [x0, x1), rows [y0, y1)
    };
    const Case cases[] = {
        {0, 0, 20, 30, 0, 0, w, h},            // whole page
        {0, 30, 20, 0, 0, 0, w, h},            // whole page, other order
        {0, 10, 20, 0, 0, h - 10, w, h},       // last 10 rows in memory
        {0, 30, 20, 20, 0, 0, w, 10},          // first 10 rows
        {-20, 1000, 1000, -20, 0, 0, w, h},    // clamped to the page
        {3, 30, 17, 0, 3, 0, 17, h},           // columns 3..16
        {17, 30, 3, 0, 3, 0, 17, h},           // swapped columns
        {5, 25, 12, 4, 5, 5, 12, 26},          // inner box
        {19, 1, 20, 0, 19, h - 1, w, h},       // last pixel
    };
    for (unsigned bpp : kDepths) {
        const CxImage page = RandomPage(w, h, bpp, bpp * 17);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "bpp " << bpp << " rect " << c.left << "," << c.top << ","
                                            << c.right << "," << c.bottom);
            CxImage img(page);
            ASSERT_TRUE(img.Crop(c.left, c.top, c.right, c.bottom));
            EXPECT_TRUE(SamePixels(RefCrop(page, c.x0, c.y0, c.x1, c.y1), img));
            EXPECT_EQ(img.GetXDPI(), 203);
            CxImage viaRect(page), dst;
            ASSERT_TRUE(viaRect.Crop(tagRECT{c.left, c.top, c.right, c.bottom}, &dst));
            EXPECT_TRUE(SamePixels(page, viaRect));
            EXPECT_TRUE(SamePixels(img, dst));
        }
    }
}

TEST(Crop, EmptyRectanglesChangeNothing) {
    struct Case {
        int left, top, right, bottom;
    };
    const Case cases[] = {{5, 30, 5, 0}, {0, -5, 20, 0}, {0, 40, 20, 30}, {-3, 30, -1, 0}, {25, 30, 40, 0}};
    const CxImage page = RandomPage(20, 30, 1, 5);
    for (const Case& c : cases) {
        CxImage img(page);
        const uint8_t* bits = img.GetBits(0);
        EXPECT_FALSE(img.Crop(c.left, c.top, c.right, c.bottom)) << c.left << "," << c.top;
        EXPECT_EQ(img.GetBits(0), bits);
        EXPECT_TRUE(SamePixels(page, img));
    }
    CxImage empty;
    EXPECT_FALSE(empty.Crop(0, 1, 1, 0));
}

TEST(Crop, EveryOffsetMatchesReference) {
    // All start columns against the sub-byte packing of 1 and 4 bits.
    for (unsigned bpp : kDepths) {
        const CxImage page = RandomPage(41, 6, bpp, 99 + bpp);
        for (int left = 0; left < 41; ++left)
            for (int right : {left + 1, left + 7, left + 9, 41}) {
                if (right > 41) continue;
                SCOPED_TRACE(testing::Message() << "bpp " << bpp << " cols " << left << ".." << right);
                CxImage img(page);
                ASSERT_TRUE(img.Crop(left, 5, right, 1));
                EXPECT_TRUE(SamePixels(RefCrop(page, left, 1, right, 5), img));
            }
    }
}

// ---- grey conversion ----

TEST(GrayScale, ColourLevels) {
    struct Case {
        uint8_t b, g, r, grey;
    };
    const Case cases[] = {{0, 0, 255, 76}, {255, 255, 255, 255}, {0, 255, 0, 149}, {255, 0, 0, 29},
                          {0, 0, 0, 0},    {77, 77, 77, 77}};
    for (const Case& c : cases) {
        CxImage img(2, 1, 24);
        img.SetPixelColor(1, 0, tagRGBQUAD{c.b, c.g, c.r, 0});
        ASSERT_TRUE(img.GrayScale());
        EXPECT_EQ(img.GetBpp(), 8u);
        EXPECT_TRUE(img.IsGrayScale());
        EXPECT_EQ(img.GetPixelIndex(1, 0), c.grey) << int(c.b) << "," << int(c.g) << "," << int(c.r);
    }
}

TEST(GrayScale, BlackAndWhiteBecomesTwoLevels) {
    const unsigned char rows[8] = {0xA0, 0, 0, 0, 0x40, 0, 0, 0};
    CxImage img;
    ASSERT_TRUE(img.CreateFromArray(rows, 3, 2, 1, 4, false));
    img.SetXDPI(203);
    img.SetTransIndex(1);
    ASSERT_TRUE(img.GrayScale());
    EXPECT_EQ(img.GetBpp(), 8u);
    EXPECT_EQ(Indices(img), (std::vector<int>{255, 0, 255, 0, 255, 0}));
    EXPECT_EQ(img.GetXDPI(), 203);
    EXPECT_EQ(img.GetTransIndex(), 255);  // the index follows its colour
    CxImage empty;
    EXPECT_FALSE(empty.GrayScale());
}

TEST(GrayScale, MatchesReference) {
    FOR_EACH_PAGE(page) {
        SCOPED_TRACE(testing::Message() << page.GetWidth() << "x" << page.GetHeight() << " bpp " << page.GetBpp()
                                        << (page.AlphaIsValid() ? "+alpha" : ""));
        const CxImage expect = RefGrayScale(page);
        CxImage img(page);
        ASSERT_TRUE(img.GrayScale());
        EXPECT_TRUE(SamePixels(expect, img));
        EXPECT_EQ(img.GetXDPI(), 203);
        EXPECT_EQ(img.GetTransIndex(), -1);
        ASSERT_TRUE(img.GrayScale());  // grey stays grey
        EXPECT_TRUE(SamePixels(expect, img));
    }
}

}  // namespace
