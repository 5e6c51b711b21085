// Tone operations of the image toolkit: Light/Lut tables, Threshold, the grey
// level of colour pixels and the overlay Mix, each fast path checked against
// a plain pixel-by-pixel version written from the description.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/images.h"
#include "image/ximage.h"

namespace {

// ---- helpers --------------------------------------------------------------

// An image of the given depth from rows of random bytes; for 32 bits the
// alpha bytes are drawn from 0, 255 and anything in between.
CxImage RandomAlphaImage(unsigned w, unsigned h, unsigned bpp, std::mt19937& rng) {
    return RandomImage(w, h, bpp, rng, {RandomTones::Bytes, true});
}

// A 1-bit image whose bits are 0 with the given probability (in percent).
CxImage RandomBits(unsigned w, unsigned h, unsigned blackPercent, std::mt19937& rng) {
    CxImage img(0);
    const unsigned bpl = (w + 7) / 8;
    std::vector<unsigned char> data(static_cast<size_t>(bpl) * h, 0xFF);
    EXPECT_TRUE(img.CreateFromArray(data.data(), w, h, 1, bpl, false));
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            if (rng() % 100 < blackPercent) img.SetPixelIndex(x, y, 0);
    return img;
}

CxImage Grey8(unsigned w, unsigned h, const std::vector<uint8_t>& levels) {
    std::vector<unsigned char> data(levels.begin(), levels.end());
    CxImage img(0);
    EXPECT_TRUE(img.CreateFromArray(data.data(), w, h, 8, w, false));
    return img;
}

// ---- plain versions, one pixel at a time through the accessors --------------

bool RefThreshold(CxImage& img, unsigned char level) {
    if (!img.IsValid()) return false;
    if (img.GetBpp() == 1) return true;
    img.GrayScale();
    CxImage out(img.GetWidth(), img.GetHeight(), 1, 0);
    if (!out.IsValid()) return false;
    for (long y = 0; y < static_cast<long>(img.GetHeight()); ++y)
        for (long x = 0; x < static_cast<long>(img.GetWidth()); ++x)
            out.SetPixelIndex(x, y, img.BlindGetPixelIndex(x, y) > level ? 1 : 0);
    out.SetPaletteColor(0, 0, 0, 0, 0);
    out.SetPaletteColor(1, 255, 255, 255, 0);
    img.Transfer(out);
    return true;
}

void RefMix(CxImage& dst, CxImage& src, CxImage::ImageOpType op, int offX, int offY, bool mixAlpha) {
    const bool editAlpha = src.AlphaIsValid() && mixAlpha;
    if (editAlpha && !dst.AlphaIsValid()) dst.AlphaCreate();
    const uint32_t w = std::min<uint32_t>(dst.GetWidth(), src.GetWidth() - static_cast<uint32_t>(offX));
    const uint32_t h = std::min<uint32_t>(dst.GetHeight(), src.GetHeight() - static_cast<uint32_t>(offY));
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const long long sx = static_cast<long long>(x) + offX, sy = static_cast<long long>(y) + offY;
            if (!dst.IsInside(x, y)) continue;
            if (!src.IsInside(static_cast<long>(sx), static_cast<long>(sy))) continue;
            const tagRGBQUAD c1 = dst.GetPixelColor(x, y);
            const tagRGBQUAD c2 = src.GetPixelColor(static_cast<long>(sx), static_cast<long>(sy));
            unsigned a;
            if (op == CxImage::OpSrcCopy)
                a = 255;
            else if (src.IsTransparent(static_cast<long>(sx), static_cast<long>(sy)))
                a = 0;
            else if (src.AlphaIsValid())
                a = src.AlphaGet(static_cast<long>(sx), static_cast<long>(sy)) * src.AlphaGetMax() / 255u;
            else
                a = 255;
            tagRGBQUAD c = c1;
            if (a == 255) {
                c = c2;
                c.rgbReserved = c1.rgbReserved;
            } else if (a != 0) {
                c.rgbBlue = static_cast<uint8_t>((c1.rgbBlue * (255 - a) + c2.rgbBlue * a) / 255);
                c.rgbGreen = static_cast<uint8_t>((c1.rgbGreen * (255 - a) + c2.rgbGreen * a) / 255);
                c.rgbRed = static_cast<uint8_t>((c1.rgbRed * (255 - a) + c2.rgbRed * a) / 255);
                if (editAlpha) c.rgbReserved = static_cast<uint8_t>(c1.rgbReserved * a / 255);
            }
            dst.SetPixelColor(x, y, c, editAlpha);
        }
    }
}

// The brightness/contrast table exactly as described, in single precision.
std::vector<int> RefLightTable(int brightness, int contrast) {
    const float factor = static_cast<float>(contrast + 100) / 100.0f;
    const int offset = brightness + 128;
    std::vector<int> t(256);
    for (int i = 0; i < 256; ++i) {
        const int v = static_cast<int>(static_cast<float>(i - 128) * factor + static_cast<float>(offset) + 0.5f);
        t[i] = v < 0 ? 0 : (v > 255 ? 255 : v);
    }
    return t;
}

// The table Light applied, read back from a palette whose entries are
// neither pure black nor pure white (red = i, green = blue = 128).
std::vector<int> LightTable(int brightness, int contrast) {
    CxImage img(4, 1, 8, 0);
    for (unsigned i = 0; i < 256; ++i) img.SetPaletteColor(i, static_cast<uint8_t>(i), 128, 128);
    EXPECT_TRUE(img.Light(brightness, contrast));
    std::vector<int> t(256);
    for (unsigned i = 0; i < 256; ++i) t[i] = img.GetPaletteColor(i).rgbRed;
    return t;
}

// ---- Light and Lut -----------------------------------------------------------

TEST(Light, TablesOfTheDescribedExamples) {
    const std::vector<int> id = LightTable(0, 0);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(id[i], i) << i;

    const std::vector<int> bright = LightTable(50, 0);
    EXPECT_EQ(bright[100], 150);
    EXPECT_EQ(bright[210], 255);
    EXPECT_EQ(bright[0], 50);

    const std::vector<int> contrast = LightTable(0, 100);
    EXPECT_EQ(contrast[128], 128);
    EXPECT_EQ(contrast[129], 130);
    EXPECT_EQ(contrast[127], 126);
    EXPECT_EQ(contrast[60], 0);
    EXPECT_EQ(contrast[200], 255);

    const std::vector<int> flat = LightTable(-100, -100);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(flat[i], 28) << i;
}

TEST(Light, TableMatchesTheFormulaForManySettings) {
    for (int b : {-255, -100, -37, -1, 0, 1, 13, 99, 200}) {
        for (int c : {-100, -99, -50, -3, 0, 7, 33, 100, 250}) {
            EXPECT_EQ(LightTable(b, c), RefLightTable(b, c)) << "brightness " << b << " contrast " << c;
        }
    }
}

TEST(Light, AbsurdSettingsClampWithoutOverflow) {
    for (int v : {INT_MIN, INT_MIN + 1, -1000000, 1000000, INT_MAX - 1, INT_MAX}) {
        const std::vector<int> a = LightTable(v, 0);
        const std::vector<int> b = LightTable(0, v);
        const std::vector<int> c = LightTable(v, v);
        for (int i = 0; i < 256; ++i) {
            ASSERT_TRUE(a[i] >= 0 && a[i] <= 255);
            ASSERT_TRUE(b[i] >= 0 && b[i] <= 255);
            ASSERT_TRUE(c[i] >= 0 && c[i] <= 255);
        }
    }
    EXPECT_EQ(LightTable(INT_MAX, 0)[0], 255);
    EXPECT_EQ(LightTable(INT_MIN, 0)[255], 0);
}

TEST(Light, GreyPageKeepsFullBlackAndWhite) {
    std::mt19937 rng(11);
    for (auto bc : {std::pair<int, int>{50, 0}, {-60, 40}, {0, 100}, {-100, -100}, {20, -70}}) {
        for (unsigned w : {1u, 7u, 33u, 100u}) {
            CxImage img = RandomAlphaImage(w, 5, 8, rng);
            img.SetPixelIndex(0, 0, 0);
            img.SetPixelIndex(static_cast<long>(w) - 1, 4, 255);
            CxImage before(img);
            ASSERT_TRUE(img.Light(bc.first, bc.second));
            const std::vector<int> t = RefLightTable(bc.first, bc.second);
            EXPECT_TRUE(img.IsGrayScale());
            for (long y = 0; y < 5; ++y)
                for (long x = 0; x < static_cast<long>(w); ++x) {
                    const int p = before.GetPixelIndex(x, y);
                    const int expect = (p == 0 || p == 255) ? p : t[p];
                    ASSERT_EQ(img.GetPixelIndex(x, y), expect) << x << "," << y << " level " << p;
                }
        }
    }
}

TEST(Light, OneBitPageUnchanged) {
    std::mt19937 rng(12);
    CxImage img = RandomBits(21, 4, 50, rng);
    CxImage before(img);
    EXPECT_TRUE(img.Light(80, 50));
    EXPECT_TRUE(SameImage(before, img));
}

TEST(Light, FourBitPaletteChangesExceptBlackAndWhite) {
    std::mt19937 rng(13);
    CxImage img = RandomAlphaImage(9, 3, 4, rng);
    CxImage before(img);
    ASSERT_TRUE(img.Light(30, 0));
    EXPECT_EQ(img.GetBpp(), 4u);
    EXPECT_EQ(img.GetPaletteColor(0).rgbRed, 0);
    EXPECT_EQ(img.GetPaletteColor(15).rgbRed, 255);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 17 + 30);
    EXPECT_EQ(img.GetPaletteColor(14).rgbBlue, 255);  // 238 + 30 clamped
    EXPECT_EQ(memcmp(img.GetBits(0), before.GetBits(0), img.GetEffWidth() * 3), 0);
}

TEST(Lut, TrueColourBytesGoThroughTheTable) {
    const unsigned char row[6] = {0, 100, 255, 30, 128, 200};
    CxImage img(0);
    ASSERT_TRUE(img.CreateFromArray(row, 2, 1, 24, 6, false));
    unsigned char table[256];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(255 - i);
    ASSERT_TRUE(img.Lut(table));
    EXPECT_TRUE(SameBytes(Bytes({255, 155, 0, 225, 127, 55}), std::vector<unsigned char>(img.GetBits(0), img.GetBits(0) + 6)));
}

TEST(Lut, RejectsEmptyImageAndMissingTable) {
    CxImage empty(0);
    unsigned char t[256] = {0};
    EXPECT_FALSE(empty.Lut(t));
    EXPECT_FALSE(empty.Light(10, 10));
    CxImage img(3, 3, 8, 0);
    EXPECT_FALSE(img.Lut(nullptr));
}

// ---- grey levels and Threshold ------------------------------------------------

TEST(Threshold, GreyLevelsOfColourPixels) {
    // Pixels (blue, green, red): (0, 0, 255), (255, 255, 255), (0, 255, 0).
    const unsigned char row[9] = {0, 0, 255, 255, 255, 255, 0, 255, 0};
    CxImage img(0);
    ASSERT_TRUE(img.CreateFromArray(row, 3, 1, 24, 9, false));
    CxImage grey(img);
    ASSERT_TRUE(grey.GrayScale());
    EXPECT_EQ(grey.GetPixelIndex(0, 0), 76);
    EXPECT_EQ(grey.GetPixelIndex(1, 0), 255);
    EXPECT_EQ(grey.GetPixelIndex(2, 0), 149);

    struct Case {
        unsigned char level;
        int expect[3];
    } cases[] = {{75, {1, 1, 1}}, {76, {0, 1, 1}}, {148, {0, 1, 1}}, {149, {0, 1, 0}}, {254, {0, 1, 0}}, {255, {0, 0, 0}}};
    for (const Case& c : cases) {
        CxImage t(img);
        ASSERT_TRUE(t.Threshold(c.level));
        for (long x = 0; x < 3; ++x) EXPECT_EQ(t.GetPixelIndex(x, 0), c.expect[x]) << "level " << int(c.level) << " x " << x;
    }
}

TEST(Threshold, Boundaries) {
    std::vector<uint8_t> levels(256);
    for (int i = 0; i < 256; ++i) levels[i] = static_cast<uint8_t>(i);
    struct Case {
        unsigned char level;
        int firstWhite;  // levels above it are white
    } cases[] = {{175, 176}, {255, 256}, {0, 1}, {128, 129}};
    for (const Case& c : cases) {
        CxImage img = Grey8(256, 1, levels);
        ASSERT_TRUE(img.Threshold(c.level));
        ASSERT_EQ(img.GetBpp(), 1u);
        for (long x = 0; x < 256; ++x) ASSERT_EQ(img.GetPixelIndex(x, 0), x >= c.firstWhite ? 1 : 0) << x;
        const tagRGBQUAD b = img.GetPaletteColor(0), w = img.GetPaletteColor(1);
        EXPECT_TRUE(b.rgbBlue == 0 && b.rgbGreen == 0 && b.rgbRed == 0 && b.rgbReserved == 0);
        EXPECT_TRUE(w.rgbBlue == 255 && w.rgbGreen == 255 && w.rgbRed == 255 && w.rgbReserved == 0);
    }
}

// Eight pixels are compared at a time inside a 64-bit word: every level
// against every threshold, in every position of such a group.
TEST(Threshold, EveryLevelAgainstEveryThreshold) {
    std::vector<uint8_t> levels(8 * 256);
    for (size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<uint8_t>(i % 256 + i / 256);
    for (int t = 0; t < 256; ++t) {
        CxImage img = Grey8(static_cast<unsigned>(levels.size()), 1, levels);
        ASSERT_TRUE(img.Threshold(static_cast<unsigned char>(t)));
        for (long x = 0; x < static_cast<long>(levels.size()); ++x)
            ASSERT_EQ(img.GetPixelIndex(x, 0), levels[x] > t ? 1 : 0) << "threshold " << t << " x " << x;
    }
}

TEST(Threshold, OneBitImageUntouchedAndEmptyImageRefused) {
    std::mt19937 rng(21);
    CxImage img = RandomBits(30, 6, 40, rng);
    img.SetPaletteColor(1, 10, 20, 30);
    CxImage before(img);
    EXPECT_TRUE(img.Threshold(100));
    EXPECT_TRUE(SameImage(before, img));
    CxImage empty(0);
    EXPECT_FALSE(empty.Threshold(100));
}

TEST(Threshold, ResultIsAFreshImageWithoutAlpha) {
    std::mt19937 rng(22);
    CxImage img = RandomAlphaImage(10, 4, 32, rng);
    ASSERT_TRUE(img.AlphaIsValid());
    ASSERT_TRUE(img.Threshold(128));
    EXPECT_FALSE(img.AlphaIsValid());
    EXPECT_EQ(img.GetXDPI(), 96);
}

TEST(Threshold, FastPathMatchesPlainVersion) {
    std::mt19937 rng(23);
    for (unsigned bpp : {1u, 4u, 8u, 24u, 32u}) {
        for (unsigned w : {1u, 5u, 8u, 9u, 16u, 33u, 100u}) {
            for (unsigned h : {1u, 3u, 7u}) {
                for (int level : {0, 1, 100, 175, 254, 255}) {
                    CxImage a = RandomAlphaImage(w, h, bpp, rng);
                    CxImage b(a);
                    ASSERT_EQ(a.Threshold(static_cast<unsigned char>(level)), RefThreshold(b, static_cast<unsigned char>(level)));
                    ASSERT_TRUE(SameImage(b, a)) << "bpp " << bpp << " w " << w << " h " << h << " level " << level;
                }
            }
        }
    }
}

// ---- Mix ---------------------------------------------------------------------

// A 1-bit white page of the size of src, as the pipeline prepares it.
CxImage WhiteLike(const CxImage& src) {
    CxImage page(src);
    memset(page.GetBits(0), 0xFF, static_cast<size_t>(page.GetEffWidth()) * page.GetHeight());
    return page;
}

TEST(Mix, OverlayOffsets) {
    std::mt19937 rng(31);
    const unsigned w = 45, h = 12;
    CxImage src = RandomBits(w, h, 50, rng);

    CxImage same = WhiteLike(src);
    same.Mix(src, CxImage::OpOverlay, 0, 0, false);
    for (long y = 0; y < long(h); ++y)
        for (long x = 0; x < long(w); ++x) ASSERT_EQ(same.GetPixelIndex(x, y), src.GetPixelIndex(x, y));

    CxImage right = WhiteLike(src);
    right.Mix(src, CxImage::OpOverlay, 10, 0, false);
    CxImage left = WhiteLike(src);
    left.Mix(src, CxImage::OpOverlay, -10, 0, false);
    for (long y = 0; y < long(h); ++y) {
        for (long x = 0; x < long(w); ++x) {
            ASSERT_EQ(right.GetPixelIndex(x, y), x >= long(w) - 10 ? 1 : src.GetPixelIndex(x + 10, y)) << x;
            ASSERT_EQ(left.GetPixelIndex(x, y), x < 10 ? 1 : src.GetPixelIndex(x - 10, y)) << x;
        }
    }

    for (int oy : {int(h), int(h) + 5, -int(h), INT_MAX, INT_MIN}) {
        CxImage none = WhiteLike(src);
        CxImage white(none);
        none.Mix(src, CxImage::OpOverlay, 0, oy, false);
        EXPECT_TRUE(SameImage(white, none)) << oy;
    }
}

TEST(Mix, TransparentSourcePixelsLeaveTheTarget) {
    // A 32-bit page: left half opaque black, right half transparent black.
    const unsigned w = 8, h = 2;
    std::vector<unsigned char> data(w * 4 * h, 0);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w / 2; ++x) data[(y * w + x) * 4 + 3] = 255;
    CxImage img(0);
    ASSERT_TRUE(img.CreateFromArray(data.data(), w, h, 32, w * 4, false));

    CxImage dithered(img);
    ASSERT_TRUE(dithered.Dither(0));
    ASSERT_TRUE(dithered.AlphaIsValid());
    CxImage page = WhiteLike(dithered);
    page.Mix(dithered, CxImage::OpOverlay, 0, 0, false);
    for (long x = 0; x < long(w); ++x) EXPECT_EQ(page.GetPixelIndex(x, 1), x < long(w) / 2 ? 0 : 1) << x;

    CxImage thresholded(img);
    ASSERT_TRUE(thresholded.Threshold(128));
    CxImage page2 = WhiteLike(thresholded);
    page2.Mix(thresholded, CxImage::OpOverlay, 0, 0, false);
    for (long x = 0; x < long(w); ++x) EXPECT_EQ(page2.GetPixelIndex(x, 1), 0) << x;
}

TEST(Mix, OtherOperationsLeaveTheTargetAndEmptyImagesAreSafe) {
    std::mt19937 rng(32);
    CxImage src = RandomBits(20, 5, 50, rng);
    CxImage page = WhiteLike(src);
    CxImage white(page);
    page.Mix(src, CxImage::OpXor, 0, 0, false);
    EXPECT_TRUE(SameImage(white, page));
    CxImage empty(0);
    page.Mix(empty, CxImage::OpOverlay, 0, 0, false);
    EXPECT_TRUE(SameImage(white, page));
    empty.Mix(src, CxImage::OpOverlay, 0, 0, true);
    EXPECT_FALSE(empty.IsValid());
}

TEST(Mix, FastPathsMatchPlainVersion) {
    std::mt19937 rng(33);
    const int offsets[] = {0, 1, -1, 7, -7, 8, -8, 9, 13, -13, 31, 64, -64, 1000, -1000, INT_MAX, INT_MIN};
    struct Pair {
        unsigned dbpp, sbpp;
    } pairs[] = {{1, 1}, {1, 8}, {8, 1}, {4, 4}, {8, 8}, {4, 1}, {24, 1}, {1, 24}, {24, 24}};
    int n = 0;
    for (const Pair& p : pairs) {
        for (unsigned w : {1u, 7u, 8u, 9u, 40u, 67u}) {
            const unsigned h = 1 + rng() % 9;
            for (int variant = 0; variant < 4; ++variant) {
                CxImage src = p.sbpp == 1 ? RandomBits(w, h, 50, rng) : RandomAlphaImage(w, h, p.sbpp, rng);
                CxImage dst0 = p.dbpp == 1 ? RandomBits(w + rng() % 3, h, 50, rng) : RandomAlphaImage(w, h, p.dbpp, rng);
                if (variant == 1) {  // source with an alpha plane
                    src.AlphaCreate();
                    for (long y = 0; y < long(h); ++y)
                        for (long x = 0; x < long(w); ++x) {
                            const unsigned k = rng() % 3;
                            src.AlphaSet(x, y, k == 0 ? 0 : (k == 1 ? 255 : static_cast<uint8_t>(rng())));
                        }
                    if (rng() % 2) src.AlphaSetMax(200);
                }
                if (variant == 2 && src.GetNumColors()) src.SetTransIndex(static_cast<long>(rng() % src.GetNumColors()));
                if (variant == 3 && p.dbpp == 1) dst0.SetPaletteColor(1, 200, 200, 200);
                for (int op : {CxImage::OpOverlay, CxImage::OpSrcCopy}) {
                    for (int ox : offsets) {
                        const int oy = offsets[rng() % 11];
                        const bool mixAlpha = rng() % 4 == 0;
                        CxImage a(dst0), b(dst0);
                        a.Mix(src, static_cast<CxImage::ImageOpType>(op), ox, oy, mixAlpha);
                        RefMix(b, src, static_cast<CxImage::ImageOpType>(op), ox, oy, mixAlpha);
                        ASSERT_TRUE(SameImage(b, a)) << "dst " << p.dbpp << " src " << p.sbpp << " w " << w << " variant "
                                                     << variant << " op " << op << " offset " << ox << "," << oy;
                        ++n;
                    }
                }
            }
        }
    }
    EXPECT_GT(n, 1000);
}

TEST(Mix, ImageMixedIntoItselfFollowsScanOrder) {
    std::mt19937 rng(34);
    for (int ox : {-3, 0, 5}) {
        for (int oy : {-2, 0, 1}) {
            CxImage a = RandomBits(19, 6, 50, rng);
            CxImage b(a);
            a.Mix(a, CxImage::OpOverlay, ox, oy, false);
            RefMix(b, b, CxImage::OpOverlay, ox, oy, false);
            ASSERT_TRUE(SameImage(b, a)) << ox << "," << oy;
        }
    }
}

}  // namespace
