// Image container: layout, creation limits and messages, building from raster
// rows, resolution, palette search, pixel access, transparency, alpha plane,
// and the copy / move semantics the toolkit operations rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "helpers/hexdump.h"
#include "image/ximage.h"

namespace {

std::vector<unsigned char> Row(const CxImage& img, unsigned y, size_t n) {
    const uint8_t* p = img.GetBits(y);
    return std::vector<unsigned char>(p, p + n);
}

bool SameColor(tagRGBQUAD a, tagRGBQUAD b) {
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(CxImage, ValueTypeLayout) {
    EXPECT_EQ(sizeof(tagBITMAPINFOHEADER), 40u);
    EXPECT_EQ(offsetof(tagBITMAPINFOHEADER, biBitCount), 14u);
    EXPECT_EQ(offsetof(tagBITMAPINFOHEADER, biXPelsPerMeter), 24u);
    EXPECT_EQ(offsetof(tagBITMAPINFOHEADER, biClrImportant), 36u);
    EXPECT_EQ(sizeof(tagRGBQUAD), 4u);
    EXPECT_EQ(sizeof(tagRECT), 16u);
}

TEST(CxImage, NewImageIsEmptyWithDefaults) {
    CxImage img;
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetBits(0), nullptr);
    EXPECT_EQ(img.GetWidth(), 0u);
    EXPECT_EQ(img.GetHeight(), 0u);
    EXPECT_EQ(img.GetEffWidth(), 0u);
    EXPECT_EQ(img.GetSize(), 0u);
    EXPECT_EQ(img.GetTransIndex(), -1);
    EXPECT_EQ(img.GetXDPI(), 96);
    EXPECT_EQ(img.GetYDPI(), 96);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 3780);
    EXPECT_EQ(img.AlphaGetMax(), 255);
    EXPECT_STREQ(img.GetLastError(), "");
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPalette(), nullptr);
    EXPECT_FALSE(img.IsTransparent(0, 0));
    EXPECT_EQ(CxImage(7).GetType(), 7u);
}

TEST(CxImage, CreateLayoutByDepth) {
    struct Case {
        unsigned w, h, bpp;
        unsigned bitCount, effWidth, colors;
    };
    const Case cases[] = {
        {1, 1, 1, 1, 4, 2},       {33, 2, 1, 1, 8, 2},    {32, 3, 1, 1, 4, 2},   {9, 1, 4, 4, 8, 16},
        {100, 2, 8, 8, 100, 256}, {3, 2, 24, 24, 12, 0},  {3, 2, 32, 24, 12, 0}, {5, 1, 0, 1, 4, 2},
        {5, 1, 2, 4, 4, 16},      {5, 1, 7, 8, 8, 256},   {5, 1, 16, 24, 16, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " bpp " << c.bpp);
        CxImage img;
        ASSERT_NE(img.Create(c.w, c.h, c.bpp, 0), nullptr);
        EXPECT_EQ(img.GetBpp(), c.bitCount);
        EXPECT_EQ(img.GetEffWidth(), c.effWidth);
        EXPECT_EQ(img.GetNumColors(), c.colors);
        EXPECT_EQ(img.GetPaletteSize(), 4 * c.colors);
        EXPECT_EQ(img.GetSize(), 40u + c.effWidth * c.h + 4 * c.colors);
        EXPECT_EQ(img.GetHeader().biSizeImage, c.effWidth * c.h);
        EXPECT_EQ(img.GetHeader().biSize, 40u);
        EXPECT_EQ(img.GetHeader().biPlanes, 1);
        // The block starts with the header copy, then the palette.
        tagBITMAPINFOHEADER copy;
        std::memcpy(&copy, img.GetBits(0) - 4 * c.colors - 40, 40);
        EXPECT_EQ(std::memcmp(&copy, &img.GetHeader(), 40), 0);
        if (c.h > 1) {
            EXPECT_EQ(img.GetBits(1) - img.GetBits(0), static_cast<long>(c.effWidth));
        }
    }
}

TEST(CxImage, CreateFailures) {
    struct Case {
        unsigned w, h, bpp;
        const char* error;
    };
    const Case cases[] = {
        {0, 10, 8, CXIMAGE_ERR_NOSIZE},
        {10, 0, 8, CXIMAGE_ERR_NOSIZE},
        {16385, 16384, 8, CXIMAGE_ERR_MAXMEM},
        {65536, 65536, 1, CXIMAGE_ERR_MAXMEM},
        {100000, 1000, 24, CXIMAGE_ERR_MAXMEM},
        // Pass the float test but not the header fields: padded rows of a
        // 1-pixel-wide image, and a width that does not fit a signed field.
        {1, 0x7FFFFFFFu, 1, CXIMAGE_ERR_MAXMEM},
        {0x80000000u, 1, 1, CXIMAGE_ERR_MAXMEM},
    };
    EXPECT_STREQ(CXIMAGE_ERR_NOSIZE, "CxImage::Create : width and height must be greater than zero");
    EXPECT_STREQ(CXIMAGE_ERR_MAXMEM, "CXIMAGE_MAX_MEMORY exceeded");
    EXPECT_STREQ(CXIMAGE_ERR_NOMEM, "CxImage::Create can't allocate memory");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " bpp " << c.bpp);
        CxImage img;
        ASSERT_NE(img.Create(4, 4, 8), nullptr);
        ASSERT_TRUE(img.AlphaCreate());
        EXPECT_EQ(img.Create(c.w, c.h, c.bpp, 0), nullptr);
        EXPECT_STREQ(img.GetLastError(), c.error);
        EXPECT_FALSE(img.IsValid());
        EXPECT_FALSE(img.AlphaIsValid());
        EXPECT_EQ(img.GetWidth(), 0u);
        EXPECT_EQ(img.GetBits(0), nullptr);
    }
}

TEST(CxImage, GetBitsRows) {
    CxImage img(10, 3, 8);
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetBits(), img.GetBits(0));
    EXPECT_EQ(img.GetBits(2) - img.GetBits(0), 2 * 12);
    EXPECT_EQ(img.GetBits(3), nullptr);
    EXPECT_EQ(img.GetBits(UINT_MAX), nullptr);
    // Create leaves deterministic (zero) bytes.
    for (unsigned y = 0; y < 3; ++y) EXPECT_TRUE(SameBytes(std::vector<unsigned char>(12, 0), Row(img, y, 12)));
}

TEST(CxImage, CreateFromArrayRejects) {
    unsigned char data[64] = {};
    CxImage img;
    for (unsigned bpp : {0u, 2u, 16u, 31u, 48u}) EXPECT_FALSE(img.CreateFromArray(data, 4, 4, bpp, 16, false)) << bpp;
    EXPECT_FALSE(img.CreateFromArray(nullptr, 4, 4, 8, 4, false));
    EXPECT_FALSE(img.CreateFromArray(data, 0, 4, 8, 4, false));
    EXPECT_STREQ(img.GetLastError(), CXIMAGE_ERR_NOSIZE);
}

// Rows are read from exact-size heap buffers so that reading past
// bytesPerLine in the last row trips the address sanitizer.
TEST(CxImage, CreateFromArrayRowLengths) {
    struct Case {
        unsigned w, h, bpp, bpl;
        bool flip;
    };
    const Case cases[] = {
        {10, 3, 8, 10, false}, {10, 3, 8, 6, false},  {10, 3, 8, 20, false}, {10, 3, 8, 12, true},
        {13, 2, 1, 2, false},  {13, 2, 1, 9, false},  {7, 3, 4, 4, true},    {5, 2, 24, 15, false},
        {5, 2, 24, 7, false},  {5, 2, 24, 40, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " bpp " << c.bpp << " bpl " << c.bpl);
        std::vector<unsigned char> data(static_cast<size_t>(c.bpl) * c.h);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 1);
        CxImage img;
        ASSERT_TRUE(img.CreateFromArray(data.data(), c.w, c.h, c.bpp, c.bpl, c.flip));
        const unsigned eff = img.GetEffWidth();
        const unsigned n = std::min(eff, c.bpl);
        for (unsigned i = 0; i < c.h; ++i) {
            std::vector<unsigned char> expect(data.begin() + i * c.bpl, data.begin() + i * c.bpl + n);
            expect.resize(eff, 0xFF);  // uncovered bytes read as white
            EXPECT_TRUE(SameBytes(expect, Row(img, c.flip ? c.h - 1 - i : i, eff))) << "input row " << i;
        }
        EXPECT_FALSE(img.AlphaIsValid());
        EXPECT_EQ(img.GetType(), 0u);
    }
}

TEST(CxImage, CreateFromArrayGreyPalettes) {
    unsigned char data[8] = {};
    CxImage img;
    ASSERT_TRUE(img.CreateFromArray(data, 2, 1, 1, 4, false));
    EXPECT_TRUE(SameColor(img.GetPaletteColor(0), tagRGBQUAD{0, 0, 0, 0}));
    EXPECT_TRUE(SameColor(img.GetPaletteColor(1), tagRGBQUAD{255, 255, 255, 0}));
    EXPECT_FALSE(img.IsGrayScale());
    ASSERT_TRUE(img.CreateFromArray(data, 2, 1, 4, 4, false));
    EXPECT_EQ(img.GetPaletteColor(15).rgbRed, 255);
    EXPECT_EQ(img.GetPaletteColor(3).rgbGreen, 51);
    ASSERT_TRUE(img.CreateFromArray(data, 2, 1, 8, 4, false));
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_EQ(img.GetPaletteColor(200).rgbBlue, 200);
    ASSERT_TRUE(img.CreateFromArray(data, 2, 1, 24, 8, false));
    EXPECT_EQ(img.GetPalette(), nullptr);
}

TEST(CxImage, CreateFromArray32BitAlpha) {
    // 3 pixels of B, G, R, A per row; two rows.
    const std::vector<unsigned char> src = {1, 2,  3,  0,   4,  5,  6,  128, 7,  8,  9,  255,
                                            10, 11, 12, 13, 14, 15, 16, 17,  18, 19, 20, 21};
    {
        std::vector<unsigned char> data(src);
        CxImage img;
        ASSERT_TRUE(img.CreateFromArray(data.data(), 3, 2, 32, 12, false));
        EXPECT_EQ(img.GetBpp(), 24u);
        ASSERT_TRUE(img.AlphaIsValid());
        EXPECT_TRUE(SameBytes(Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9}), Row(img, 0, 9)));
        EXPECT_TRUE(SameBytes(Bytes({10, 11, 12, 14, 15, 16, 18, 19, 20}), Row(img, 1, 9)));
        EXPECT_TRUE(SameBytes(Bytes({0, 128, 255, 13, 17, 21}),
                              std::vector<unsigned char>(img.AlphaGetPointer(), img.AlphaGetPointer() + 6)));
        EXPECT_TRUE(img.IsTransparent(0, 0));
        EXPECT_FALSE(img.IsTransparent(1, 0));
        EXPECT_EQ(img.GetPixelColor(1, 0).rgbReserved, 128);
        EXPECT_EQ(img.GetPixelColor(1, 0, false).rgbReserved, 0);
    }
    {
        // bytesPerLine 6 holds one whole pixel per row: only it is read, the
        // rest of the row is white and opaque.
        std::vector<unsigned char> data = {1, 2, 3, 40, 99, 99, 10, 11, 12, 50, 99, 99};
        CxImage img;
        ASSERT_TRUE(img.CreateFromArray(data.data(), 3, 2, 32, 6, true));
        EXPECT_TRUE(SameBytes(Bytes({10, 11, 12, 255, 255, 255, 255, 255, 255, 255, 255, 255}), Row(img, 0, 12)));
        EXPECT_TRUE(SameBytes(Bytes({1, 2, 3, 255, 255, 255, 255, 255, 255, 255, 255, 255}), Row(img, 1, 12)));
        EXPECT_TRUE(SameBytes(Bytes({50, 255, 255, 40, 255, 255}),
                              std::vector<unsigned char>(img.AlphaGetPointer(), img.AlphaGetPointer() + 6)));
    }
}

TEST(CxImage, Resolution) {
    struct Case {
        int dpi, stored, ppm;
    };
    const Case cases[] = {{203, 203, 7992}, {300, 300, 11811}, {96, 96, 3780},
                          {0, 96, 3780},    {-5, 96, 3780},    {INT_MAX, INT_MAX, INT_MAX}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        CxImage img(2, 2, 24);
        img.SetXDPI(c.dpi);
        img.SetYDPI(c.dpi);
        EXPECT_EQ(img.GetXDPI(), c.stored);
        EXPECT_EQ(img.GetYDPI(), c.stored);
        EXPECT_EQ(img.GetHeader().biXPelsPerMeter, c.ppm);
        EXPECT_EQ(img.GetHeader().biYPelsPerMeter, c.ppm);
        tagBITMAPINFOHEADER copy;  // the header copy in the pixel block follows
        std::memcpy(&copy, img.GetBits(0) - 40, 40);
        EXPECT_EQ(copy.biXPelsPerMeter, c.ppm);
        EXPECT_EQ(copy.biYPelsPerMeter, c.ppm);
    }
    // Create keeps a resolution set earlier.
    CxImage img;
    img.SetXDPI(203);
    ASSERT_TRUE(img.Create(3, 3, 1));
    EXPECT_EQ(img.GetXDPI(), 203);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 7992);
}

TEST(CxImage, NearestIndex) {
    CxImage bw(1, 1, 1);
    bw.SetGrayPalette();
    struct Case {
        uint8_t v, index;
    };
    for (const Case& c : {Case{0, 0}, Case{255, 1}, Case{128, 1}, Case{127, 0}, Case{128, 1}}) {
        EXPECT_EQ(bw.GetNearestIndex(tagRGBQUAD{c.v, c.v, c.v, 0}), c.index) << int(c.v);
    }
    // Ties keep the lower index; the reserved byte does not count.
    bw.SetPaletteColor(1, 0, 0, 0);
    EXPECT_EQ(bw.GetNearestIndex(tagRGBQUAD{0, 0, 0, 77}), 0);
    // A palette change drops the cached answer.
    bw.SetPaletteColor(0, 255, 255, 255);
    EXPECT_EQ(bw.GetNearestIndex(tagRGBQUAD{0, 0, 0, 77}), 1);

    CxImage grey(1, 1, 8);
    grey.SetGrayPalette();
    EXPECT_EQ(grey.GetNearestIndex(tagRGBQUAD{200, 200, 200, 0}), 200);
    grey.SetClrImportant(10);
    EXPECT_EQ(grey.GetNearestIndex(tagRGBQUAD{200, 200, 200, 0}), 9);
    grey.SetClrImportant(100000);  // beyond the palette: search stops at its end
    EXPECT_EQ(grey.GetNearestIndex(tagRGBQUAD{250, 250, 250, 0}), 250);

    CxImage rgb(1, 1, 24);
    EXPECT_EQ(rgb.GetNearestIndex(tagRGBQUAD{1, 2, 3, 0}), 0);
}

TEST(CxImage, PaletteAccessors) {
    CxImage img(4, 1, 4);
    img.SetGrayPalette();
    EXPECT_EQ(img.GetPaletteColor(1).rgbBlue, 17);
    EXPECT_TRUE(SameColor(img.GetPaletteColor(16), tagRGBQUAD{0, 0, 0, 0}));
    img.SetPaletteColor(16, 1, 2, 3);  // ignored
    img.SetPaletteColor(2, 10, 20, 30, 40);
    EXPECT_TRUE(SameColor(img.GetPaletteColor(2), tagRGBQUAD{30, 20, 10, 40}));
    std::vector<tagRGBQUAD> many(300, tagRGBQUAD{9, 9, 9, 9});
    img.SetPalette(many.data(), 300);  // clamped to the 16 entries
    EXPECT_TRUE(SameColor(img.GetPaletteColor(15), tagRGBQUAD{9, 9, 9, 9}));
    const tagRGBQUAD two[2] = {{1, 1, 1, 0}, {2, 2, 2, 0}};
    img.SetPalette(two, 2);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 2);
    EXPECT_EQ(img.GetPaletteColor(2).rgbRed, 9);
    EXPECT_FALSE(img.IsGrayScale());
}

TEST(CxImage, PixelIndexEncoding) {
    CxImage one(10, 2, 1);
    one.SetPixelIndex(0, 0, 1);
    one.SetPixelIndex(9, 0, 3);  // & 1
    one.SetPixelIndex(1, 1, 1);
    EXPECT_TRUE(SameBytes(Bytes({0x80, 0x40}), Row(one, 0, 2)));
    EXPECT_TRUE(SameBytes(Bytes({0x40, 0x00}), Row(one, 1, 2)));
    one.SetPixelIndex(0, 0, 0);
    EXPECT_EQ(one.GetBits(0)[0], 0x00);

    CxImage four(3, 1, 4);
    four.SetPixelIndex(0, 0, 0x1A);
    four.SetPixelIndex(1, 0, 0x05);
    four.SetPixelIndex(2, 0, 0x0F);
    EXPECT_TRUE(SameBytes(Bytes({0xA5, 0xF0}), Row(four, 0, 2)));
    EXPECT_EQ(four.GetPixelIndex(0, 0), 0x0A);
    EXPECT_EQ(four.GetPixelIndex(1, 0), 0x05);

    CxImage eight(3, 1, 8);
    eight.SetPixelIndex(2, 0, 200);
    EXPECT_EQ(eight.GetPixelIndex(2, 0), 200);

    CxImage rgb(3, 1, 24);
    rgb.SetPixelIndex(0, 0, 9);  // no palette: ignored, reads 0
    EXPECT_EQ(rgb.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(rgb.GetBits(0)[0], 0);
}

TEST(CxImage, OutsidePixels) {
    CxImage img(10, 2, 1);
    std::memset(img.GetBits(0), 0xA5, img.GetEffWidth() * 2);
    const std::vector<unsigned char> before(img.GetBits(0), img.GetBits(0) + img.GetEffWidth() * 2);
    struct Case {
        long x, y;
    };
    for (const Case& c : {Case{-1, 0}, Case{10, 0}, Case{0, -1}, Case{0, 2}, Case{LONG_MIN, LONG_MAX}}) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        EXPECT_EQ(img.GetPixelIndex(c.x, c.y), 1);  // the index of (0, 0), not its byte
        img.SetPixelIndex(c.x, c.y, 0);
        img.SetPixelColor(c.x, c.y, tagRGBQUAD{0, 0, 0, 0});
        EXPECT_EQ(img.AlphaGet(c.x, c.y), 0);
        EXPECT_FALSE(img.IsInside(c.x, c.y));
    }
    EXPECT_TRUE(SameBytes(before, std::vector<unsigned char>(img.GetBits(0), img.GetBits(0) + before.size())));
    img.SetTransIndex(0);
    EXPECT_EQ(img.GetPixelIndex(-1, 0), 0);
    EXPECT_TRUE(img.IsInside(9, 1));
}

TEST(CxImage, PixelColors) {
    CxImage rgb(2, 2, 24);
    rgb.SetPixelColor(1, 1, tagRGBQUAD{1, 2, 3, 4});
    EXPECT_TRUE(SameBytes(Bytes({0, 0, 0, 1, 2, 3}), Row(rgb, 1, 6)));
    rgb.SetPixelColor(0, 0, tagRGBQUAD{7, 8, 9, 0});
    EXPECT_TRUE(SameColor(rgb.GetPixelColor(1, 1), tagRGBQUAD{1, 2, 3, 0}));
    EXPECT_TRUE(SameColor(rgb.GetPixelColor(5, 5), tagRGBQUAD{7, 8, 9, 0}));  // outside: pixel (0, 0)
    ASSERT_TRUE(rgb.AlphaCreate());
    rgb.SetPixelColor(1, 1, tagRGBQUAD{1, 2, 3, 44}, true);
    EXPECT_EQ(rgb.AlphaGet(1, 1), 44);
    EXPECT_TRUE(SameColor(rgb.GetPixelColor(1, 1), tagRGBQUAD{1, 2, 3, 44}));
    EXPECT_TRUE(SameColor(rgb.BlindGetPixelColor(1, 1, false), tagRGBQUAD{1, 2, 3, 0}));

    // Paletted images store the nearest index.
    CxImage bw(2, 1, 1);
    bw.SetGrayPalette();
    bw.SetPixelColor(1, 0, tagRGBQUAD{200, 200, 200, 0});
    EXPECT_EQ(bw.GetPixelIndex(1, 0), 1);
    EXPECT_TRUE(SameColor(bw.GetPixelColor(1, 0), tagRGBQUAD{255, 255, 255, 0}));
    bw.SetTransIndex(1);
    EXPECT_TRUE(SameColor(bw.GetPixelColor(-1, 0), tagRGBQUAD{255, 255, 255, 0}));
    EXPECT_TRUE(SameColor(bw.GetTransColor(), tagRGBQUAD{255, 255, 255, 0}));
}

TEST(CxImage, TransparentIndex) {
    CxImage bw(2, 1, 1);
    bw.SetGrayPalette();
    struct Case {
        long in, stored;
    };
    for (const Case& c : {Case{5, 0}, Case{2, 0}, Case{1, 1}, Case{0, 0}, Case{-1, -1}}) {
        bw.SetTransIndex(c.in);
        EXPECT_EQ(bw.GetTransIndex(), c.stored) << c.in;
    }
    bw.SetPixelIndex(1, 0, 1);
    bw.SetTransIndex(1);
    EXPECT_FALSE(bw.IsTransparent(0, 0));
    EXPECT_TRUE(bw.IsTransparent(1, 0));
    bw.SetTransIndex(-1);
    EXPECT_FALSE(bw.IsTransparent(1, 0));
    ASSERT_TRUE(bw.AlphaCreate());
    bw.AlphaSet(0, 0, 0);
    EXPECT_TRUE(bw.IsTransparent(0, 0));
    EXPECT_FALSE(bw.IsTransparent(1, 0));

    CxImage rgb(2, 1, 24);  // true colour: transparent where the background colour is
    rgb.SetTransIndex(0);
    rgb.SetPixelColor(1, 0, tagRGBQUAD{1, 1, 1, 0});
    EXPECT_TRUE(rgb.IsTransparent(0, 0));
    EXPECT_FALSE(rgb.IsTransparent(1, 0));
}

TEST(CxImage, AlphaPlane) {
    CxImage img(3, 2, 8);
    EXPECT_FALSE(img.AlphaIsValid());
    EXPECT_EQ(img.AlphaGet(0, 0), 0);
    img.AlphaSet(0, 0, 5);  // no plane: ignored
    ASSERT_TRUE(img.AlphaCreate());
    EXPECT_EQ(img.AlphaGet(2, 1), 255);
    img.AlphaSet(2, 1, 7);
    img.AlphaSet(3, 1, 8);  // outside
    EXPECT_EQ(img.AlphaGetPointer()[5], 7);
    EXPECT_EQ(img.AlphaGet(3, 1), 0);

    CxImage same(3, 2, 1), other(2, 3, 8), empty;
    img.AlphaSetMax(200);
    EXPECT_TRUE(same.AlphaCopy(img));
    EXPECT_EQ(same.AlphaGet(2, 1), 7);
    EXPECT_EQ(same.AlphaGetMax(), 200);
    EXPECT_FALSE(other.AlphaCopy(img));
    EXPECT_FALSE(other.AlphaIsValid());
    EXPECT_FALSE(empty.AlphaCopy(img));
    EXPECT_FALSE(img.AlphaCopy(other));  // source without plane
    img.AlphaClear();
    EXPECT_EQ(img.AlphaGet(2, 1), 0);
    img.AlphaDelete();
    EXPECT_FALSE(img.AlphaIsValid());
    EXPECT_FALSE(empty.AlphaCreate());
}

void Fill(CxImage& img) {
    for (unsigned y = 0; y < img.GetHeight(); ++y)
        for (unsigned x = 0; x < img.GetEffWidth(); ++x) img.GetBits(y)[x] = static_cast<uint8_t>(x * 31 + y * 7);
}

TEST(CxImage, CopyIsDeep) {
    CxImage src(13, 5, 8);
    src.SetGrayPalette();
    Fill(src);
    src.SetXDPI(203);
    ASSERT_TRUE(src.AlphaCreate());
    src.AlphaSet(3, 4, 9);

    struct Case {
        bool pixels, alpha;
    };
    for (const Case& c : {Case{true, true}, Case{true, false}, Case{false, true}}) {
        SCOPED_TRACE(testing::Message() << c.pixels << c.alpha);
        CxImage dst(2, 2, 24);
        ASSERT_TRUE(dst.AlphaCreate());
        dst.Copy(src, c.pixels, true, c.alpha);
        ASSERT_TRUE(dst.IsValid());
        EXPECT_NE(dst.GetBits(0), src.GetBits(0));
        EXPECT_EQ(dst.GetWidth(), 13u);
        EXPECT_EQ(dst.GetBpp(), 8u);
        EXPECT_EQ(dst.GetXDPI(), 203);
        EXPECT_TRUE(dst.IsGrayScale());
        EXPECT_EQ(dst.GetBits(4)[12], c.pixels ? src.GetBits(4)[12] : 0);
        EXPECT_EQ(dst.AlphaIsValid(), c.alpha);
        if (c.alpha) {
            EXPECT_EQ(dst.AlphaGet(3, 4), 9);
            EXPECT_NE(dst.AlphaGetPointer(), src.AlphaGetPointer());
        }
    }

    CxImage a = src;  // copy constructor
    CxImage b;
    b = src;
    b = b;  // self-assignment keeps the content
    for (CxImage* img : {&a, &b}) {
        ASSERT_TRUE(img->IsValid());
        EXPECT_EQ(img->GetSize(), src.GetSize());
        EXPECT_EQ(std::memcmp(img->GetBits(0) - 40 - 1024, src.GetBits(0) - 40 - 1024, src.GetSize()), 0);
        img->GetBits(0)[0] ^= 0xFF;
        EXPECT_NE(img->GetBits(0)[0], src.GetBits(0)[0]);
    }

    CxImage c(4, 4, 1), empty;
    c = empty;
    EXPECT_FALSE(c.IsValid());
    EXPECT_STREQ(c.GetLastError(), "");
}

TEST(CxImage, CopyInfoOnlyIntoEmptyImage) {
    CxImage src(2, 2, 1);
    src.SetXDPI(300);
    src.SetTransIndex(1);
    CxImage empty, full(1, 1, 8);
    empty.CopyInfo(src);
    full.CopyInfo(src);
    EXPECT_EQ(empty.GetXDPI(), 300);
    EXPECT_EQ(empty.GetTransIndex(), 1);
    EXPECT_FALSE(empty.IsValid());
    EXPECT_EQ(empty.GetEffWidth(), 0u);
    EXPECT_EQ(full.GetXDPI(), 96);
    EXPECT_EQ(full.GetTransIndex(), -1);
}

TEST(CxImage, TransferMovesContent) {
    CxImage from(5, 4, 24, 3);
    from.SetXDPI(203);
    ASSERT_TRUE(from.AlphaCreate());
    uint8_t* bits = from.GetBits(0);
    uint8_t* alpha = from.AlphaGetPointer();

    CxImage to(9, 9, 1);
    EXPECT_TRUE(to.Transfer(from));
    EXPECT_EQ(to.GetBits(0), bits);
    EXPECT_EQ(to.AlphaGetPointer(), alpha);
    EXPECT_EQ(to.GetWidth(), 5u);
    EXPECT_EQ(to.GetBpp(), 24u);
    EXPECT_EQ(to.GetType(), 3u);
    EXPECT_EQ(to.GetXDPI(), 203);

    EXPECT_FALSE(from.IsValid());
    EXPECT_FALSE(from.AlphaIsValid());
    EXPECT_EQ(from.GetWidth(), 0u);
    EXPECT_EQ(from.GetTransIndex(), -1);

    EXPECT_TRUE(to.Transfer(to));
    EXPECT_EQ(to.GetBits(0), bits);
}

TEST(CxImage, DestroyEmptiesPixelsOnly) {
    CxImage img(4, 4, 8);
    img.SetXDPI(150);
    ASSERT_TRUE(img.AlphaCreate());
    EXPECT_TRUE(img.Destroy());
    EXPECT_FALSE(img.IsValid());
    EXPECT_FALSE(img.AlphaIsValid());
    EXPECT_EQ(img.GetBits(0), nullptr);
    EXPECT_EQ(img.GetHeight(), 0u);
    EXPECT_EQ(img.GetXDPI(), 150);
    EXPECT_TRUE(img.Destroy());
}

}  // namespace
