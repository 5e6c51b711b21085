// Page preparation on CBaseRender: white-margin crop, shift, row tails,
// Negative, mm_2_dots and whole pages of every depth through AdjustImage,
// with the fast scans checked against plain versions written from the
// description.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/images.h"
#include "render/baserender.h"

namespace {

// ---- helpers --------------------------------------------------------------

// A white 1-bit page; black pixels are then set where wanted.
CxImage WhitePage(unsigned w, unsigned h) {
    const unsigned bpl = (w + 7) / 8;
    std::vector<unsigned char> data(static_cast<size_t>(bpl) * h, 0xFF);
    CxImage img(0);
    EXPECT_TRUE(img.CreateFromArray(data.data(), w, h, 1, bpl, false));
    return img;
}

// A white 1-bit page with black dots only inside a random box (or none), so
// that every edge has a white margin of some width; the row tails carry
// random bits, as they may after a transform.
CxImage SparsePage(unsigned w, unsigned h, std::mt19937& rng) {
    CxImage img = WhitePage(w, h);
    for (unsigned y = 0; y < h; ++y) {
        uint8_t* row = img.GetBits(y);
        for (unsigned i = w / 8; i < img.GetEffWidth(); ++i) row[i] = static_cast<uint8_t>(rng());
        for (long x = 0; x < static_cast<long>(w); ++x) img.SetPixelIndex(x, y, 1);
    }
    if (rng() % 6 == 0) return img;
    const unsigned x0 = rng() % w, x1 = x0 + rng() % (w - x0);
    const unsigned y0 = rng() % h, y1 = y0 + rng() % (h - y0);
    for (unsigned y = y0; y <= y1; ++y)
        for (unsigned x = x0; x <= x1; ++x)
            if (rng() % 10 == 0) img.SetPixelIndex(x, y, 0);
    img.SetPixelIndex(x0 + rng() % (x1 - x0 + 1), y0 + rng() % (y1 - y0 + 1), 0);
    return img;
}

// Every bit after the last pixel of every row is 1.
::testing::AssertionResult WhiteTails(const CxImage& img) {
    if (img.GetBpp() != 1) return ::testing::AssertionFailure() << "page has " << img.GetBpp() << " bits per pixel";
    const unsigned w = img.GetWidth();
    for (unsigned y = 0; y < img.GetHeight(); ++y) {
        const uint8_t* row = img.GetBits(y);
        for (unsigned bit = w; bit < img.GetEffWidth() * 8; ++bit)
            if (!((row[bit / 8] >> (7 - bit % 8)) & 1))
                return ::testing::AssertionFailure() << "row " << y << " bit " << bit << " is black\n"
                                                     << HexDump(row, img.GetEffWidth(), 64);
    }
    return ::testing::AssertionSuccess();
}

struct Render {
    CBaseRender r;
    explicit Render(int dpi = 203) { r.m_iDpi = dpi; }
};

// ---- plain versions ---------------------------------------------------------------

int RefDots(int dpi, int mm) { return static_cast<int>(mm * (dpi / 25.4) + 0.9999); }

void RefCropWhiteEdge(CxImage& img, int dpi, int top, int bottom, int left, int right) {
    if (top == 0 && bottom == 0 && left == 0 && right == 0) return;
    if (top < 0) top = 9999;
    if (bottom < 0) bottom = 9999;
    if (left < 0) left = 9999;
    if (right < 0) right = 9999;
    const int topDots = RefDots(dpi, top), bottomDots = RefDots(dpi, bottom);
    const int leftDots = RefDots(dpi, left), rightDots = RefDots(dpi, right);
    const int w = static_cast<int>(img.GetWidth()), h = static_cast<int>(img.GetHeight());
    auto black = [&](int x, int y) { return img.GetPixelIndex(x, y) == 0; };
    int cutTop = 0, cutBottom = 0, cutLeft = 0, cutRight = 0;
    if (bottom > 0) {
        bool found = false;
        for (int r = h - 1; r >= 0 && !found; --r)
            for (int x = 0; x < w; ++x)
                if (black(x, r)) {
                    cutBottom = h - 1 - r;
                    found = true;
                    break;
                }
        if (cutBottom > bottomDots) cutBottom = bottomDots;
    }
    if (top > 0) {
        bool found = false;
        for (int r = 0; r < h && !found; ++r)
            for (int x = 0; x < w; ++x)
                if (black(x, r)) {
                    cutTop = r;
                    found = true;
                    break;
                }
        if (cutTop > topDots) cutTop = topDots;
    }
    if (left > 0) {
        bool found = false;
        for (int c = 0; c < w && !found; ++c)
            for (int y = 0; y < h; ++y)
                if (black(c, y)) {
                    cutLeft = c;
                    found = true;
                    break;
                }
        if (cutLeft > leftDots) cutLeft = leftDots;
    }
    if (right > 0) {
        bool found = false;
        for (int c = w - 1; c >= 0 && !found; --c)
            for (int y = 0; y < h; ++y)
                if (black(c, y)) {
                    cutRight = w - 1 - c;
                    found = true;
                    break;
                }
        if (cutRight > rightDots + 1) cutRight = rightDots + 1;
    }
    CxImage tmp(0);
    img.Crop(cutLeft, cutBottom, w - cutRight, h - cutTop, &tmp);
    img = tmp;
}

void RefNegative(CxImage& img) {
    for (unsigned y = 0; y < img.GetHeight(); ++y)
        for (unsigned i = 0; i < img.GetEffWidth(); ++i) img.GetBits(y)[i] = static_cast<uint8_t>(~img.GetBits(y)[i]);
}

void RefAdjustEffWidthBits(CxImage& img) {
    const unsigned full = img.GetWidth() / 8, rest = img.GetWidth() % 8;
    for (unsigned y = 0; y < img.GetHeight(); ++y) {
        uint8_t* row = img.GetBits(y);
        if (rest == 0) {
            for (unsigned i = full; i < img.GetEffWidth(); ++i) row[i] = 0xFF;
        } else {
            row[full] |= static_cast<uint8_t>(0xFF >> rest);
            for (unsigned i = full + 1; i < img.GetEffWidth(); ++i) row[i] = 0xFF;
        }
    }
}

// ---- mm_2_dots ----------------------------------------------------------------------

TEST(MmToDots, Conversions) {
    struct Case {
        int dpi, mm, dots;
    } cases[] = {{203, 5, 40},     {300, 5, 60},         {203, 4, 32},         {203, 0, 0},
                 {203, 1, 8},      {203, 9999, 79914},   {600, 1, 24},         {8, 1, 1},
                 {0, 5, 0},        {-203, 5, 0},         {INT_MIN, 9999, 0},   {INT_MAX, 9999, INT_MAX},
                 {INT_MAX, INT_MIN, INT_MIN}, {203, INT_MAX, INT_MAX}};
    for (const Case& c : cases) {
        Render t(c.dpi);
        EXPECT_EQ(t.r.mm_2_dots(c.mm), c.dots) << c.dpi << " dpi, " << c.mm << " mm";
    }
}

// ---- CropWhiteEdge --------------------------------------------------------------------

TEST(CropWhiteEdge, RightLimitExamples) {
    // 100 dots wide, last black pixel in column 59: 40 white columns.
    CxImage page = WhitePage(100, 6);
    page.SetPixelIndex(0, 2, 0);
    page.SetPixelIndex(59, 4, 0);
    struct Case {
        int right;
        unsigned width;
    } cases[] = {{5, 60}, {4, 67}, {-1, 60}, {1, 91}, {6, 60}};
    for (const Case& c : cases) {
        Render t;
        t.r.m_image = page;
        t.r.CropWhiteEdge(0, 0, 0, c.right);
        EXPECT_EQ(t.r.m_image.GetWidth(), c.width) << c.right << " mm";
        EXPECT_EQ(t.r.m_image.GetHeight(), 6u);
        EXPECT_EQ(t.r.m_image.GetPixelIndex(59, 4), 0);
        EXPECT_EQ(t.r.m_image.GetPixelIndex(0, 2), 0);
    }
}

TEST(CropWhiteEdge, OtherEdgesAndNegativeLimits) {
    // Black only in rows 10..29 and columns 5..44 of a 50 x 40 page.
    CxImage page = WhitePage(50, 40);
    page.SetPixelIndex(5, 20, 0);
    page.SetPixelIndex(44, 10, 0);
    page.SetPixelIndex(30, 29, 0);
    struct Case {
        int top, bottom, left, right;
        unsigned width, height;
        long blackX, blackY;  // where pixel (5, 20) ends up
    } cases[] = {
        {-1, -1, -1, -1, 40, 20, 0, 10},  // every white margin goes
        {1, 0, 0, 0, 50, 32, 5, 12},      // 8 of the 10 top rows
        {0, 1, 0, 0, 50, 32, 5, 20},      // 8 of the 10 bottom rows
        {0, 0, 1, 0, 45, 40, 0, 20},      // all 5 left columns (limit 8)
        {0, 0, 0, -5, 45, 40, 5, 20},     // all 5 right columns
        {-1, 0, 0, 0, 50, 30, 5, 10},
        {2, 2, 2, 2, 40, 20, 0, 10},      // 16-dot limits exceed every margin
    };
    for (const Case& c : cases) {
        Render t;
        t.r.m_image = page;
        t.r.CropWhiteEdge(c.top, c.bottom, c.left, c.right);
        EXPECT_EQ(t.r.m_image.GetWidth(), c.width) << c.top << " " << c.bottom << " " << c.left << " " << c.right;
        EXPECT_EQ(t.r.m_image.GetHeight(), c.height) << c.top << " " << c.bottom << " " << c.left << " " << c.right;
        EXPECT_EQ(t.r.m_image.GetPixelIndex(c.blackX, c.blackY), 0);
        int blacks = 0;
        for (long y = 0; y < long(t.r.m_image.GetHeight()); ++y)
            for (long x = 0; x < long(t.r.m_image.GetWidth()); ++x) blacks += t.r.m_image.GetPixelIndex(x, y) == 0;
        EXPECT_EQ(blacks, 3);
    }
}

TEST(CropWhiteEdge, PageWithoutBlackKeepsItsSize) {
    Render t;
    t.r.m_image = WhitePage(77, 13);
    t.r.CropWhiteEdge(-1, 3, -1, 5);
    EXPECT_EQ(t.r.m_image.GetWidth(), 77u);
    EXPECT_EQ(t.r.m_image.GetHeight(), 13u);
}

TEST(CropWhiteEdge, AllZeroLimitsLeaveThePageAlone) {
    Render t;
    t.r.m_image = WhitePage(40, 10);
    const uint8_t* before = t.r.m_image.GetBits(0);
    t.r.CropWhiteEdge(0, 0, 0, 0);
    EXPECT_EQ(t.r.m_image.GetBits(0), before);
    // Any non-zero limit replaces the page by a cropped copy.
    t.r.CropWhiteEdge(0, 0, 0, 1);
    EXPECT_NE(t.r.m_image.GetBits(0), before);
    Render empty;
    empty.r.CropWhiteEdge(-1, -1, -1, -1);
    EXPECT_FALSE(empty.r.m_image.IsValid());
}

TEST(CropWhiteEdge, FastScansMatchPlainVersion) {
    std::mt19937 rng(51);
    const int limits[] = {0, 0, 1, 2, -1, 5, 9999, INT_MIN};
    int n = 0;
    for (int dpi : {203, 300, 8, 25}) {
        for (unsigned w : {1u, 2u, 7u, 8u, 9u, 31u, 33u, 64u, 100u}) {
            for (unsigned h : {1u, 2u, 5u, 30u}) {
                for (int k = 0; k < 6; ++k) {
                    CxImage page = SparsePage(w, h, rng);
                    const int top = limits[rng() % 8], bottom = limits[rng() % 8];
                    const int left = limits[rng() % 8], right = limits[rng() % 8];
                    Render t(dpi);
                    t.r.m_image = page;
                    t.r.CropWhiteEdge(top, bottom, left, right);
                    CxImage ref(page);
                    RefCropWhiteEdge(ref, dpi, top, bottom, left, right);
                    ASSERT_TRUE(SameImage(ref, t.r.m_image, false, false)) << dpi << " dpi " << w << "x" << h << " limits " << top
                                                             << " " << bottom << " " << left << " " << right;
                    ++n;
                }
            }
        }
    }
    EXPECT_GT(n, 800);
}

// ---- Negative and AdjustEffWidthBits --------------------------------------------------------

TEST(Negative, TwiceRestoresAndMatchesPlainVersion) {
    std::mt19937 rng(52);
    for (unsigned bpp : {1u, 8u, 24u}) {
        for (unsigned w : {1u, 9u, 33u, 100u}) {
            Render t;
            t.r.m_image = RandomImage(w, 7, bpp, rng);
            CxImage page(t.r.m_image);
            t.r.Negative();
            CxImage ref(page);
            RefNegative(ref);
            ASSERT_TRUE(SameImage(ref, t.r.m_image, false, false));
            EXPECT_EQ(t.r.m_image.GetBits(0)[t.r.m_image.GetEffWidth() - 1],
                      static_cast<uint8_t>(~page.GetBits(0)[page.GetEffWidth() - 1]));
            t.r.Negative();
            ASSERT_TRUE(SameImage(page, t.r.m_image, false, false));
        }
    }
    Render empty;
    empty.r.Negative();
}

TEST(AdjustEffWidthBits, TailsOfWidths1And8And33) {
    struct Case {
        unsigned width;
        std::vector<unsigned char> row;  // an all-black row afterwards
    } cases[] = {
        {1, Bytes({0x7F, 0xFF, 0xFF, 0xFF})},
        {8, Bytes({0x00, 0xFF, 0xFF, 0xFF})},
        {33, Bytes({0x00, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0xFF, 0xFF})},
        {32, Bytes({0x00, 0x00, 0x00, 0x00})},
        {14, Bytes({0x00, 0x03, 0xFF, 0xFF})},
    };
    for (const Case& c : cases) {
        Render t;
        t.r.m_image = WhitePage(c.width, 3);
        memset(t.r.m_image.GetBits(0), 0, t.r.m_image.GetEffWidth() * 3);
        t.r.AdjustEffWidthBits();
        for (unsigned y = 0; y < 3; ++y) {
            const uint8_t* row = t.r.m_image.GetBits(y);
            EXPECT_TRUE(SameBytes(c.row, std::vector<unsigned char>(row, row + t.r.m_image.GetEffWidth())))
                << "width " << c.width;
        }
    }
}

TEST(AdjustEffWidthBits, MatchesPlainVersion) {
    std::mt19937 rng(53);
    for (unsigned w = 1; w <= 70; ++w) {
        Render t;
        t.r.m_image = RandomImage(w, 3, 1, rng);
        for (unsigned y = 0; y < 3; ++y)
            for (unsigned i = 0; i < t.r.m_image.GetEffWidth(); ++i) t.r.m_image.GetBits(y)[i] = static_cast<uint8_t>(rng());
        CxImage ref(t.r.m_image);
        t.r.AdjustEffWidthBits();
        RefAdjustEffWidthBits(ref);
        ASSERT_TRUE(SameImage(ref, t.r.m_image, false, false)) << w;
        ASSERT_TRUE(WhiteTails(t.r.m_image));
    }
}

// ---- AdjustImage ---------------------------------------------------------------------------

// A 1-bit page whose column x is black when x mod 3 is 0 and whose row y is
// black when y mod 5 is 0 (everything else white).
CxImage GridPage(unsigned w, unsigned h) {
    CxImage img = WhitePage(w, h);
    for (long y = 0; y < long(h); ++y)
        for (long x = 0; x < long(w); ++x)
            if (x % 3 == 0 || y % 5 == 0) img.SetPixelIndex(x, y, 0);
    return img;
}

TEST(AdjustImage, ShiftByTheReferenceOffsets) {
    const unsigned w = 300, h = 90;
    struct Case {
        int ref0, ref1;
        long dx, dy;
    } cases[] = {{16, 0, 127, 0}, {-16, 0, -127, 0}, {0, 8, 0, 63}, {0, -8, 0, -63}, {1, 1, 7, 7}, {16, 8, 127, 63}};
    for (const Case& c : cases) {
        Render t;
        CxImage page = GridPage(w, h);
        t.r.m_image = page;
        t.r.m_reg.iReference[0] = c.ref0;
        t.r.m_reg.iReference[1] = c.ref1;
        t.r.AdjustImage();
        const CxImage& out = t.r.m_image;
        ASSERT_EQ(out.GetWidth(), w);
        ASSERT_EQ(out.GetHeight(), h);
        for (long y = 0; y < long(h); ++y) {
            for (long x = 0; x < long(w); ++x) {
                const long sx = x + c.dx, sy = y - c.dy;
                const int expect = (sx >= 0 && sx < long(w) && sy >= 0 && sy < long(h)) ? page.GetPixelIndex(sx, sy) : 1;
                ASSERT_EQ(out.GetPixelIndex(x, y), expect) << "ref " << c.ref0 << "," << c.ref1 << " at " << x << "," << y;
            }
        }
        EXPECT_TRUE(WhiteTails(out));
    }
}

TEST(AdjustImage, NoShiftWithoutAResolution) {
    Render t(0);
    CxImage page = GridPage(40, 10);
    t.r.m_image = page;
    t.r.m_reg.iReference[0] = 16;
    t.r.AdjustImage();
    EXPECT_TRUE(SameImage(page, t.r.m_image, false, false));
}

TEST(AdjustImage, RotationSetting) {
    struct Case {
        int rotate;
        unsigned w, h;
    } cases[] = {{0, 40, 10}, {4, 40, 10}, {-1, 40, 10}, {1, 40, 10}, {2, 10, 40}, {3, 10, 40}};
    for (const Case& c : cases) {
        Render t;
        CxImage page = WhitePage(40, 10);
        page.SetPixelIndex(0, 0, 0);
        t.r.m_image = page;
        t.r.m_reg.iRotate = static_cast<DfRotation>(c.rotate);
        t.r.AdjustImage();
        EXPECT_EQ(t.r.m_image.GetWidth(), c.w) << c.rotate;
        EXPECT_EQ(t.r.m_image.GetHeight(), c.h) << c.rotate;
        if (c.rotate == 1) {
            EXPECT_EQ(t.r.m_image.GetPixelIndex(39, 9), 0);
        }
        if (c.w == 40 && c.rotate != 1) {
            CxImage expect(page);
            RefAdjustEffWidthBits(expect);
            EXPECT_TRUE(SameImage(expect, t.r.m_image, false, false)) << c.rotate;
        }
        EXPECT_TRUE(WhiteTails(t.r.m_image));
    }
}

TEST(AdjustImage, EveryDepthBecomesOneBitWithWhiteTails) {
    std::mt19937 rng(54);
    struct Settings {
        int grayMethod, threshold, bright, contrast, crop, rotate, ref0, ref1;
    } settings[] = {
        {3, 175, 0, 0, 0, 0, 0, 0},    // the defaults: dither method 2
        {0, 175, 0, 0, 0, 0, 0, 0},    // threshold
        {1, 175, 20, 30, -1, 2, 3, 2}, {9, 100, -40, 0, 1, 1, -5, 0}, {10, 0, 0, -50, 2, 3, 0, -4},
        {8, 255, 0, 0, 0, 2, 16, 16},
    };
    int n = 0;
    for (unsigned bpp : {1u, 4u, 8u, 24u, 32u}) {
        for (unsigned w : {1u, 9u, 33u, 100u}) {
            for (const Settings& s : settings) {
                Render t;
                t.r.m_image = RandomImage(w, 1 + rng() % 20, bpp, rng);
                t.r.m_halftone.iGrayMethod = static_cast<DfReduction>(s.grayMethod);
                t.r.m_halftone.iThreValue = s.threshold;
                t.r.m_halftone.iLiangdu = s.bright;
                t.r.m_halftone.iDuibidu = s.contrast;
                t.r.m_halftone.iCropTopEdge = t.r.m_halftone.iCropBottomEdge = s.crop;
                t.r.m_halftone.iCropLeftEdge = t.r.m_halftone.iCropRightEdge = s.crop;
                t.r.m_reg.iRotate = static_cast<DfRotation>(s.rotate);
                t.r.m_reg.iReference[0] = s.ref0;
                t.r.m_reg.iReference[1] = s.ref1;
                t.r.AdjustImage();
                ASSERT_TRUE(t.r.m_image.IsValid());
                ASSERT_TRUE(WhiteTails(t.r.m_image)) << "bpp " << bpp << " w " << w << " method " << s.grayMethod;
                ++n;
            }
        }
    }
    EXPECT_EQ(n, 5 * 4 * 6);
}

// White paper through the 16 x 16 screen stays white, so the margin crop
// finds only the printed box (a dot per screen cell would stop it at once).
TEST(AdjustImage, ScreenedWhiteMarginsAreCropped) {
    const unsigned w = 64, h = 48;
    std::vector<unsigned char> grey(static_cast<size_t>(w) * h, 255);
    for (unsigned y = 20; y < 30; ++y)
        for (unsigned x = 24; x < 40; ++x) grey[y * w + x] = 0;
    Render t;
    ASSERT_TRUE(t.r.m_image.CreateFromArray(grey.data(), w, h, 8, w, false));
    t.r.m_halftone.iGrayMethod = DfReduction::Screen16x16;
    t.r.m_halftone.iCropTopEdge = t.r.m_halftone.iCropBottomEdge = -1;
    t.r.m_halftone.iCropLeftEdge = t.r.m_halftone.iCropRightEdge = -1;
    t.r.AdjustImage();
    EXPECT_EQ(t.r.m_image.GetWidth(), 16u);
    EXPECT_EQ(t.r.m_image.GetHeight(), 10u);
}

TEST(AdjustImage, OneBitPageBitsTakenAsTheyCome) {
    CxImage page = GridPage(45, 12);
    for (int method : {-5, 0, 1, 3, 7, 11}) {
        Render t;
        t.r.m_image = page;
        t.r.m_halftone.iGrayMethod = static_cast<DfReduction>(method);
        t.r.AdjustImage();
        CxImage expect(page);
        RefAdjustEffWidthBits(expect);
        EXPECT_TRUE(SameImage(expect, t.r.m_image, false, false)) << method;
    }
}

// A 32-bit page: the left half opaque black, the right half transparent
// black. Only the shift's overlay looks at the alpha plane, which Dither
// keeps and Threshold drops.
TEST(AdjustImage, TransparentPixelsOfA32BitPageUnderTheShift) {
    const unsigned w = 16, h = 3;
    std::vector<unsigned char> data(w * 4 * h, 0);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w / 2; ++x) data[(y * w + x) * 4 + 3] = 255;
    CxImage page(0);
    ASSERT_TRUE(page.CreateFromArray(data.data(), w, h, 32, w * 4, false));

    for (int method : {3, 0}) {
        Render t;
        t.r.m_image = page;
        t.r.m_halftone.iGrayMethod = static_cast<DfReduction>(method);
        t.r.m_reg.iReference[0] = 1;  // 7 dots at 203 dpi
        t.r.AdjustImage();
        ASSERT_EQ(t.r.m_image.GetBpp(), 1u);
        for (long y = 0; y < long(h); ++y) {
            for (long x = 0; x < long(w); ++x) {
                const long sx = x + 7;
                int expect;
                if (sx >= long(w))
                    expect = 1;  // shifted in from outside: white
                else if (method == 3)
                    expect = sx < long(w) / 2 ? 0 : 1;  // transparent stays white
                else
                    expect = 0;  // no alpha left: every pixel is black
                ASSERT_EQ(t.r.m_image.GetPixelIndex(x, y), expect) << "method " << method << " at " << x << "," << y;
            }
        }
        EXPECT_TRUE(WhiteTails(t.r.m_image));
    }
}

int Neg(int v) { return v == INT_MIN ? INT_MAX : -v; }

TEST(AdjustImage, AbsurdSettingsStaySafe) {
    std::mt19937 rng(55);
    const int absurd[] = {INT_MIN, INT_MIN + 1, -100000, 100000, INT_MAX - 1, INT_MAX};
    for (int v : absurd) {
        for (int dpi : {1, 203, 100000, INT_MAX}) {
            Render t(dpi);
            t.r.m_image = RandomImage(23, 7, 8, rng);
            t.r.m_halftone.iGrayMethod = static_cast<DfReduction>(v);
            t.r.m_halftone.iThreValue = v;
            t.r.m_halftone.iLiangdu = v;
            t.r.m_halftone.iDuibidu = Neg(v);
            t.r.m_halftone.iCropTopEdge = v;
            t.r.m_halftone.iCropBottomEdge = Neg(v);
            t.r.m_halftone.iCropLeftEdge = v;
            t.r.m_halftone.iCropRightEdge = v;
            t.r.m_reg.iRotate = static_cast<DfRotation>(v);
            t.r.m_reg.iReference[0] = v;
            t.r.m_reg.iReference[1] = Neg(v);
            t.r.AdjustImage();
            ASSERT_TRUE(t.r.m_image.IsValid());
            ASSERT_TRUE(WhiteTails(t.r.m_image)) << v << " at " << dpi;
        }
    }
    Render empty;
    empty.r.AdjustImage();
    EXPECT_FALSE(empty.r.m_image.IsValid());
}

}  // namespace
