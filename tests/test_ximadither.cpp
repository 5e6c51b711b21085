// Dithering: hand-computed pages for the kernels and matrices, and every
// method checked against a plain pixel-by-pixel version written from the
// description (kernel taps, clamping at each update, truncating division).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/images.h"
#include "image/ximadither.h"
#include "image/ximaedge.h"
#include "image/ximage.h"

namespace {

// ---- helpers --------------------------------------------------------------

CxImage Grey8(unsigned w, unsigned h, const std::vector<uint8_t>& levels) {
    std::vector<unsigned char> data(levels.begin(), levels.end());
    CxImage img(0);
    EXPECT_TRUE(img.CreateFromArray(data.data(), w, h, 8, w, false));
    return img;
}

CxImage Uniform(unsigned w, unsigned h, uint8_t level) {
    return Grey8(w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h, level));
}

// Random page content; some pages are mostly near black or white so that
// the clamping at 0 and 255 is exercised often, others mostly full black and
// white with grey specks, as text pages are (error diffusion passes over
// stretches without error eight pixels at a time).
CxImage RandomTonesImage(unsigned w, unsigned h, unsigned bpp, std::mt19937& rng) {
    CxImage img = RandomImage(w, h, bpp, rng, {RandomTones::Varied});
    img.SetYDPI(406);
    return img;
}

// Pixel values of a 1-bit image, row by row.
std::vector<int> Pixels(const CxImage& img) {
    std::vector<int> v;
    for (long y = 0; y < static_cast<long>(img.GetHeight()); ++y)
        for (long x = 0; x < static_cast<long>(img.GetWidth()); ++x) v.push_back(img.GetPixelIndex(x, y));
    return v;
}

// ---- the plain version --------------------------------------------------------

struct Tap {
    int dx, dy, w;
};
struct Kernel {
    int div;
    std::vector<Tap> taps;
};

const Kernel& KernelOf(int method) {
    static const Kernel fs{16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}};
    static const Kernel burkes{32, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}};
    static const Kernel stucki{42,
                               {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2},
                                {-2, 2, 1}, {-1, 2, 2}, {0, 2, 4}, {1, 2, 2}, {2, 2, 1}}};
    static const Kernel jarvis{48,
                               {{1, 0, 7}, {2, 0, 5}, {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5}, {2, 1, 3},
                                {-2, 2, 1}, {-1, 2, 3}, {0, 2, 5}, {1, 2, 3}, {2, 2, 1}}};
    static const Kernel sierra{32,
                               {{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5}, {1, 1, 4}, {2, 1, 2},
                                {-1, 2, 2}, {0, 2, 3}, {1, 2, 2}}};
    static const Kernel arce{200,
                             {{2, 0, 32}, {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30}, {3, 1, 16}, {-2, 2, 12}, {0, 2, 26},
                              {2, 2, 12}, {-3, 3, 5}, {-1, 3, 12}, {1, 3, 12}, {3, 3, 5}}};
    switch (method) {
    case 2: return burkes;
    case 3: return stucki;
    case 4: return jarvis;
    case 5: return sierra;
    case 6: return arce;
    default: return fs;
    }
}

using ximadither::kBayer4;
using ximadither::kBayer8;
using ximadither::kScreen16;

// Method 10 pixel by pixel: solid pixels (near full black or white),
// pixels with both kinds within reach and pixels on ramps are thresholded from their own level;
// the others read their level and the shares they were given, clamped to
// 0..255, and share their whole error among the kernel's neighbours on the
// page that are diffused themselves, in proportion to the kernel's weights.
void RefEdgeKeeping(const CxImage& img, CxImage& out) {
    using namespace ximaedge;
    const long w = static_cast<long>(img.GetWidth()), h = static_cast<long>(img.GetHeight());
    std::vector<int> levels(static_cast<size_t>(w * h));
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) levels[static_cast<size_t>(y * w + x)] = img.GetPixelIndex(x, y);
    auto level = [&](long x, long y) { return levels[static_cast<size_t>(y * w + x)]; };
    std::vector<char> kept(static_cast<size_t>(w * h));
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
            bool black = false, white = false;
            for (long v = y - kReach; v <= y + kReach; ++v)
                for (long u = x - kReach; u <= x + kReach; ++u) {
                    if (!img.IsInside(u, v)) continue;
                    black = black || level(u, v) <= kNear;
                    white = white || level(u, v) >= 255 - kNear;
                }
            const int l = level(x, y);
            kept[static_cast<size_t>(y * w + x)] = l <= kNear || l >= 255 - kNear || (black && white);
        }
    // Ramps: runs of pixels that are not solid along a row or a column, at
    // most kRamp long, solid black before one end and solid white past the
    // other, climbing from black to white within kSlack, never by more than
    // kStep at once.
    auto solid = [&](long x, long y) { return level(x, y) <= kNear || level(x, y) >= 255 - kNear; };
    // Each run of pixels that are not solid, n long from (x0, y0) on along
    // (dx, dy), between the solid pixels before and after it.
    auto ramp = [&](long x0, long y0, long dx, long dy, long n) {
        if (!img.IsInside(x0 - dx, y0 - dy) || !img.IsInside(x0 + n * dx, y0 + n * dy) || n > kRamp)
            return false;
        const int a = level(x0 - dx, y0 - dy), b = level(x0 + n * dx, y0 + n * dy);
        if ((a <= kNear) == (b <= kNear)) return false;
        int top = 0, last = a <= kNear ? a : 255 - a;
        for (long i = 0; i <= n; ++i) {
            const int u =
                a <= kNear ? level(x0 + i * dx, y0 + i * dy) : 255 - level(x0 + i * dx, y0 + i * dy);
            if (u < top - kSlack || u - last > kStep) return false;
            top = std::max(top, u);
            last = u;
        }
        return true;
    };
    auto runs = [&](long lines, long len, long dx, long dy) {
        for (long l = 0; l < lines; ++l)
            for (long i = 0; i < len;) {
                auto px = [&](long k) { return std::make_pair(dx ? k : l, dx ? l : k); };
                if (solid(px(i).first, px(i).second)) {
                    ++i;
                    continue;
                }
                long n = 1;
                while (i + n < len && !solid(px(i + n).first, px(i + n).second)) ++n;
                if (ramp(px(i).first, px(i).second, dx, dy, n))
                    for (long k = i; k < i + n; ++k)
                        kept[static_cast<size_t>(px(k).second * w + px(k).first)] = 1;
                i += n;
            }
    };
    runs(h, w, 1, 0);
    runs(w, h, 0, 1);
    std::vector<int> err(static_cast<size_t>(w * h), 0);
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y * w + x);
            if (kept[i]) {
                out.SetPixelIndex(x, y, level(x, y) > kMid ? 1 : 0);
                continue;
            }
            const int v = std::min(255, std::max(0, level(x, y) + err[i]));
            const int bit = v > kMid ? 1 : 0;
            const int e = v - 255 * bit;
            auto open = [&](const ximaedge::Tap& t) {
                const long nx = x + t.dx, ny = y + t.dy;
                return img.IsInside(nx, ny) && !kept[static_cast<size_t>(ny * w + nx)];
            };
            int total = 0;
            for (const ximaedge::Tap& t : kTaps) total += open(t) ? t.w : 0;
            for (const ximaedge::Tap& t : kTaps)
                if (open(t))
                    err[static_cast<size_t>((y + t.dy) * w + x + t.dx)] += ximaedge::Share(e, t.w, total);
            out.SetPixelIndex(x, y, static_cast<uint8_t>(bit));
        }
}

bool RefDither(CxImage& img, int method) {
    if (!img.IsValid()) return false;
    if (img.GetBpp() == 1) return true;
    img.GrayScale();
    CxImage out(0);
    out.CopyInfo(img);
    out.Create(img.GetWidth(), img.GetHeight(), 1, img.GetType());
    if (!out.IsValid()) return false;
    out.AlphaCopy(img);
    const long w = static_cast<long>(img.GetWidth()), h = static_cast<long>(img.GetHeight());

    uint8_t gen[256];
    for (int i = 0; i < 256; ++i) {
        int x = i / 4, y = i % 4, d = 0;
        for (int n = 0; n < 4; ++n) {
            d = (d * 4) + 2 * ((x ^ y) & 1) + (y & 1);
            x /= 2;
            y /= 2;
        }
        gen[i] = static_cast<uint8_t>(d & 255);
    }

    if (method == 10) RefEdgeKeeping(img, out);
    for (long y = 0; y < h && method != 10; ++y) {
        for (long x = 0; x < w; ++x) {
            const int level = img.GetPixelIndex(x, y);
            int bit = 0;
            switch (method) {
            case 1: {
                const int t = level * 16 / 255, r = t % 16, o = t / 16;
                const int intensity[3] = {0, 1, 1};  // the third entry is never reached
                bit = kBayer4[y % 4][x % 4] < r ? intensity[o + 1] : intensity[o];
                break;
            }
            case 7:
                bit = level > gen[(x % 4) + 4 * (y % 4)] ? 1 : 0;
                break;
            case 8: {
                const int q = level / 4;
                bit = (q != 0 && q >= kBayer8[x % 8][y % 8]) ? 1 : 0;
                break;
            }
            case 9:
                // Level 255 is white in every cell (no dot on white paper).
                bit = level == 255 || level > kScreen16[x % 16][y % 16] ? 1 : 0;
                break;
            default: {
                const Kernel& k = KernelOf(method);
                int err;
                if (level > 128) {
                    bit = 1;
                    err = level - 255;
                } else {
                    bit = 0;
                    err = level;
                }
                for (const Tap& t : k.taps) {
                    const long nx = x + t.dx, ny = y + t.dy;
                    if (!img.IsInside(nx, ny)) continue;
                    int v = img.GetPixelIndex(nx, ny) + (err * t.w) / k.div;
                    v = v < 0 ? 0 : (v > 255 ? 255 : v);
                    img.SetPixelIndex(nx, ny, static_cast<uint8_t>(v));
                }
                break;
            }
            }
            out.SetPixelIndex(x, y, static_cast<uint8_t>(bit));
        }
    }
    out.SetPaletteColor(0, 0, 0, 0, 0);
    out.SetPaletteColor(1, 255, 255, 255, 0);
    img.Transfer(out);
    return true;
}

const int kAllMethods[] = {-1000, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1000, INT_MIN, INT_MAX};
const int kDiffusion[] = {0, 2, 3, 4, 5, 6};

// ---- hand-computed pages -------------------------------------------------------

TEST(Dither, FloydSteinbergLevel128) {
    // The first pixel is black with error 128; its right neighbour then holds
    // 128 + 896 / 16 = 184 and turns white. A 3 x 2 page worked by hand:
    // row 0 reads 128, 184, 97 when visited; row 1 reads 155, 89, 192.
    CxImage img = Uniform(3, 2, 128);
    ASSERT_TRUE(img.Dither(0));
    EXPECT_EQ(Pixels(img), (std::vector<int>{0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(img.GetBits(0)[0], 0x40);
    EXPECT_EQ(img.GetBits(1)[0], 0xA0);
}

TEST(Dither, ErrorDivisionTruncatesTowardZero) {
    // 129 is white with error -126; -882 / 16 is -55 (not -56), so 184 becomes
    // 129 and is white as well.
    CxImage img = Grey8(2, 1, {129, 184});
    ASSERT_TRUE(img.Dither(0));
    EXPECT_EQ(Pixels(img), (std::vector<int>{1, 1}));
}

TEST(Dither, NeighboursAreClampedAtEveryUpdate) {
    // Pixel (0,1) starts at 5, is pulled to -34 by the white (0,0) and
    // clamped to 0, then gets +24 from (1,0): 24, black, whose +10 takes
    // (1,1) from 123 to 133: white. Without the clamp (0,1) would carry -10
    // and (1,1) would end at 119: black.
    CxImage img = Grey8(2, 2, {129, 183, 5, 90});
    ASSERT_TRUE(img.Dither(0));
    EXPECT_EQ(Pixels(img), (std::vector<int>{1, 0, 0, 1}));
}

TEST(Dither, SameRowWeightsOfBurkesAndStevensonArce) {
    // Burkes on 128 x 5 reads 128, 160, 121, 147, 116 in turn.
    CxImage burkes = Uniform(5, 1, 128);
    ASSERT_TRUE(burkes.Dither(2));
    EXPECT_EQ(Pixels(burkes), (std::vector<int>{0, 1, 0, 1, 0}));
    // Stevenson-Arce passes only 32/200 two pixels on: 128, 128, 148, 148, 111.
    CxImage arce = Uniform(5, 1, 128);
    ASSERT_TRUE(arce.Dither(6));
    EXPECT_EQ(Pixels(arce), (std::vector<int>{0, 0, 1, 1, 0}));
}

TEST(Dither, UniformBlackAndWhiteForEveryDiffusionKernel) {
    for (int m : kDiffusion) {
        CxImage white = Uniform(13, 6, 255), black = Uniform(13, 6, 0);
        ASSERT_TRUE(white.Dither(m));
        ASSERT_TRUE(black.Dither(m));
        EXPECT_EQ(Pixels(white), std::vector<int>(13 * 6, 1)) << m;
        EXPECT_EQ(Pixels(black), std::vector<int>(13 * 6, 0)) << m;
    }
}

TEST(Dither, OutOfRangeMethodsAreFloydSteinberg) {
    std::mt19937 rng(41);
    CxImage page = RandomTonesImage(37, 9, 8, rng);
    CxImage fs(page);
    ASSERT_TRUE(fs.Dither(0));
    for (int m : {-1, 11, 1000, INT_MIN, INT_MAX}) {
        CxImage img(page);
        ASSERT_TRUE(img.Dither(m));
        EXPECT_TRUE(SameImage(fs, img)) << m;
    }
}

TEST(Dither, Bayer4x4TwoIntensities) {
    CxImage white = Uniform(8, 8, 255), black = Uniform(8, 8, 0), half = Uniform(8, 8, 128);
    ASSERT_TRUE(white.Dither(1));
    ASSERT_TRUE(black.Dither(1));
    ASSERT_TRUE(half.Dither(1));
    EXPECT_EQ(Pixels(white), std::vector<int>(64, 1));
    EXPECT_EQ(Pixels(black), std::vector<int>(64, 0));
    // 128: t = 8, white exactly where D < 8, which is half of each 4 x 4 cell.
    const auto& d = kBayer4;
    int whites = 0;
    for (long y = 0; y < 8; ++y)
        for (long x = 0; x < 8; ++x) {
            EXPECT_EQ(half.GetPixelIndex(x, y), d[y % 4][x % 4] < 8 ? 1 : 0) << x << "," << y;
            whites += half.GetPixelIndex(x, y);
        }
    EXPECT_EQ(whites, 32);
}

// The tables the methods read: the Bayer matrices are the recursive ones
// (M2n = [4Mn, 4Mn + 2; 4Mn + 3, 4Mn + 1]), the screen holds every level once.
TEST(Dither, OrderedMatricesAreWhatTheirNamesSay) {
    std::vector<std::vector<int>> m = {{0}};
    while (m.size() < 8) {
        const size_t n = m.size();
        std::vector<std::vector<int>> next(2 * n, std::vector<int>(2 * n));
        for (size_t y = 0; y < n; ++y)
            for (size_t x = 0; x < n; ++x) {
                next[y][x] = 4 * m[y][x];
                next[y][x + n] = 4 * m[y][x] + 2;
                next[y + n][x] = 4 * m[y][x] + 3;
                next[y + n][x + n] = 4 * m[y][x] + 1;
            }
        m = next;
        for (size_t y = 0; y < m.size(); ++y)
            for (size_t x = 0; x < m.size(); ++x) {
                if (m.size() == 4) {
                    EXPECT_EQ(kBayer4[y][x], m[y][x]) << x << "," << y;
                }
                if (m.size() == 8) {
                    EXPECT_EQ(kBayer8[y][x], m[y][x]) << x << "," << y;
                }
            }
    }
    std::vector<int> seen(256, 0);
    for (const auto& row : kScreen16)
        for (uint8_t t : row) seen[t]++;
    EXPECT_EQ(seen, std::vector<int>(256, 1));
}

TEST(Dither, GeneratedMatrix) {
    CxImage white = Uniform(8, 8, 255), black = Uniform(8, 8, 0), mid = Uniform(8, 8, 100);
    ASSERT_TRUE(white.Dither(7));
    ASSERT_TRUE(black.Dither(7));
    ASSERT_TRUE(mid.Dither(7));
    EXPECT_EQ(Pixels(white), std::vector<int>(64, 1));
    EXPECT_EQ(Pixels(black), std::vector<int>(64, 0));
    const int b[4][4] = {{0, 192, 48, 240}, {128, 64, 176, 112}, {32, 224, 16, 208}, {160, 96, 144, 80}};
    for (long y = 0; y < 8; ++y)
        for (long x = 0; x < 8; ++x) EXPECT_EQ(mid.GetPixelIndex(x, y), 100 > b[y % 4][x % 4] ? 1 : 0) << x << "," << y;
}

TEST(Dither, Bayer8x8ReadWithXSelectingTheRow) {
    for (int level : {0, 1, 2, 3}) {
        CxImage img = Uniform(16, 16, static_cast<uint8_t>(level));
        ASSERT_TRUE(img.Dither(8));
        EXPECT_EQ(Pixels(img), std::vector<int>(256, 0)) << level;
    }
    for (int level : {252, 253, 255}) {
        CxImage img = Uniform(16, 16, static_cast<uint8_t>(level));
        ASSERT_TRUE(img.Dither(8));
        EXPECT_EQ(Pixels(img), std::vector<int>(256, 1)) << level;
    }
    // Level 8 (q = 2): on row 0 only x mod 8 = 0 is white; x mod 8 = 4 stays
    // black (E[4][0] = 3) although E[0][4] = 2 would have made it white.
    CxImage img = Uniform(24, 2, 8);
    ASSERT_TRUE(img.Dither(8));
    for (long x = 0; x < 24; ++x) EXPECT_EQ(img.GetPixelIndex(x, 0), x % 8 == 0 ? 1 : 0) << x;
    EXPECT_EQ(img.GetBits(0)[0], 0x80);
}

TEST(Dither, Screen16x16WhitePaperStaysWhite) {
    CxImage white = Uniform(40, 40, 255), black = Uniform(40, 40, 0);
    ASSERT_TRUE(white.Dither(9));
    ASSERT_TRUE(black.Dither(9));
    EXPECT_EQ(Pixels(black), std::vector<int>(1600, 0));
    EXPECT_EQ(Pixels(white), std::vector<int>(1600, 1));
    // Level 254 keeps the dot where the screen's threshold is 254 or 255.
    CxImage light = Uniform(40, 40, 254);
    ASSERT_TRUE(light.Dither(9));
    for (long y = 0; y < 40; ++y)
        for (long x = 0; x < 40; ++x)
            ASSERT_EQ(light.GetPixelIndex(x, y), kScreen16[x % 16][y % 16] >= 254 ? 0 : 1) << x << "," << y;
}

// ---- frame ----------------------------------------------------------------------

TEST(Dither, OneBitPageUnchangedByEveryMethod) {
    std::mt19937 rng(42);
    CxImage page = RandomTonesImage(29, 5, 1, rng);
    for (int m : kAllMethods) {
        CxImage img(page);
        EXPECT_TRUE(img.Dither(m));
        EXPECT_TRUE(SameImage(page, img)) << m;
    }
}

TEST(Dither, KeepsResolutionAlphaAndPalette) {
    std::mt19937 rng(43);
    CxImage page = RandomTonesImage(11, 4, 32, rng);
    ASSERT_TRUE(page.AlphaIsValid());
    std::vector<uint8_t> alpha(page.AlphaGetPointer(), page.AlphaGetPointer() + 44);
    for (int m : {0, 1, 2, 8, 9}) {
        CxImage img(page);
        ASSERT_TRUE(img.Dither(m));
        EXPECT_EQ(img.GetBpp(), 1u);
        EXPECT_EQ(img.GetXDPI(), 203);
        EXPECT_EQ(img.GetYDPI(), 406);
        ASSERT_TRUE(img.AlphaIsValid());
        EXPECT_EQ(std::vector<uint8_t>(img.AlphaGetPointer(), img.AlphaGetPointer() + 44), alpha);
        const tagRGBQUAD b = img.GetPaletteColor(0), w = img.GetPaletteColor(1);
        EXPECT_TRUE(b.rgbBlue == 0 && b.rgbGreen == 0 && b.rgbRed == 0 && b.rgbReserved == 0);
        EXPECT_TRUE(w.rgbBlue == 255 && w.rgbGreen == 255 && w.rgbRed == 255 && w.rgbReserved == 0);
    }
    CxImage empty(0);
    EXPECT_FALSE(empty.Dither(0));
}

TEST(Dither, FastPathsMatchPlainVersion) {
    std::mt19937 rng(44);
    int n = 0;
    for (unsigned bpp : {4u, 8u, 24u, 32u}) {
        for (unsigned w : {1u, 2u, 3u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 64u, 100u, 131u}) {
            for (unsigned h : {1u, 2u, 3u, 4u, 5u, 17u}) {
                CxImage page = RandomTonesImage(w, h, bpp, rng);
                for (int m : kAllMethods) {
                    CxImage a(page), b(page);
                    ASSERT_TRUE(a.Dither(m));
                    ASSERT_TRUE(RefDither(b, m));
                    ASSERT_TRUE(SameImage(b, a)) << "bpp " << bpp << " " << w << "x" << h << " method " << m;
                    ++n;
                }
            }
        }
    }
    EXPECT_GT(n, 4000);
}

// Full black and white stretches that still carry error from a grey pixel on
// their left (into the first pixels, and for the same-row tap of two into
// the second alone) must pass it on; rows of mid-grey below show it.
TEST(Dither, ErrorCarriedIntoBlackAndWhiteStretches) {
    const uint8_t patterns[][4] = {{255, 0, 255, 0}, {0, 255, 0, 255}, {255, 255, 0, 0}, {0, 0, 255, 255}};
    int n = 0;
    for (int m : kDiffusion) {
        for (int grey : {1, 60, 127, 128, 129, 200, 254}) {
            for (unsigned pos = 0; pos < 24; ++pos) {
                for (const auto& p : patterns) {
                    std::vector<uint8_t> levels(40 * 4, 128);
                    for (unsigned x = 0; x < 40; ++x) levels[x] = p[x % 4];
                    levels[pos] = static_cast<uint8_t>(grey);
                    CxImage a = Grey8(40, 4, levels), b = Grey8(40, 4, levels);
                    ASSERT_TRUE(a.Dither(m));
                    ASSERT_TRUE(RefDither(b, m));
                    ASSERT_TRUE(SameImage(b, a)) << "method " << m << " grey " << grey << " at " << pos;
                    ++n;
                }
            }
        }
    }
    EXPECT_EQ(n, 6 * 7 * 24 * 4);
}

}  // namespace

// ---- edge-keeping (method 10) ------------------------------------------------

namespace edge {

// A label-like page: white paper, a black bar whose two edges are grey ramps
// (as a rasterizer or scaler leaves them), a tint block and a gradient.
CxImage LabelPage(unsigned w, unsigned h, unsigned barAt, unsigned ramp) {
    std::vector<uint8_t> v(static_cast<size_t>(w) * h, 255);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            uint8_t& p = v[static_cast<size_t>(y) * w + x];
            const long d = static_cast<long>(x) - static_cast<long>(barAt);
            if (d >= 0 && d < 6) p = 0;
            for (unsigned r = 1; r <= ramp; ++r)
                if (d == -static_cast<long>(r) || d == 5 + static_cast<long>(r))
                    p = static_cast<uint8_t>(255 * r / (ramp + 1));
            if (y >= h / 2 && x < w / 3) p = 200;  // tint
            if (y >= h / 2 && x >= 2 * w / 3)
                p = static_cast<uint8_t>(255 * (x - 2 * w / 3) / w);  // gradient
        }
    return Grey8(w, h, v);
}

// Random dark and light modules enlarged scale times with bilinear
// interpolation, as an image filter fits a small code to a label: every
// module edge a ramp of about scale pixels.
CxImage ScaledModules(unsigned w, unsigned h, double scale, unsigned seed) {
    std::mt19937 rng(seed);
    const unsigned mw = static_cast<unsigned>(w / scale) + 2, mh = static_cast<unsigned>(h / scale) + 2;
    std::vector<int> mods(static_cast<size_t>(mw) * mh);
    for (int& m : mods) m = rng() & 1u ? 255 : 0;
    auto at = [&](long c, long r) {
        c = std::max(0L, std::min(static_cast<long>(mw) - 1, c));
        r = std::max(0L, std::min(static_cast<long>(mh) - 1, r));
        return static_cast<double>(mods[static_cast<size_t>(r) * mw + static_cast<size_t>(c)]);
    };
    std::vector<uint8_t> v(static_cast<size_t>(w) * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            const double sx = (x + 0.5) / scale - 0.5, sy = (y + 0.5) / scale - 0.5;
            const long c = static_cast<long>(std::floor(sx)), r = static_cast<long>(std::floor(sy));
            const double fx = sx - c, fy = sy - r;
            const double top = at(c, r) * (1 - fx) + at(c + 1, r) * fx;
            const double bottom = at(c, r + 1) * (1 - fx) + at(c + 1, r + 1) * fx;
            v[static_cast<size_t>(y) * w + x] =
                static_cast<uint8_t>(std::lround(top * (1 - fy) + bottom * fy));
        }
    return Grey8(w, h, v);
}

}  // namespace edge

TEST(Dither, EdgeKeepingMatchesPlainVersionOnScaledModules) {
    // Ramps of 2 to 40 pixels across rows and columns (some longer than
    // kRamp), around the words of the masks.
    for (unsigned w : {63u, 130u})
        for (double scale : {2.5, 11.0, 40.0})
            for (unsigned seed = 1; seed <= 2; ++seed) {
                CxImage a = edge::ScaledModules(w, 70, scale, seed), b = a;
                ASSERT_TRUE(a.Dither(10));
                ASSERT_TRUE(RefDither(b, 10));
                ASSERT_TRUE(SameImage(b, a)) << w << " scale " << scale << " seed " << seed;
            }
}

TEST(Dither, EdgeKeepingHardensScaledEdgesAndShadesGreyAreas) {
    // Each page: its levels by (x, y), and the share of its dots in the rows
    // checked that may differ from a plain threshold of the same levels.
    struct Case {
        const char* what;
        unsigned w, h;
        std::function<int(unsigned, unsigned)> level;
        double minDiffer, maxDiffer;
    };
    auto bars = [](double scale) {
        // Bars of 1 to 3 modules of two source pixels each, enlarged with
        // linear interpolation: each edge a ramp of scale pixels.
        return [scale](unsigned x, unsigned) {
            const int pattern[] = {1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 1, 0, 1, 0};
            auto src = [&](long q) { return pattern[((q / 2) % 16 + 16) % 16] ? 0.0 : 255.0; };
            const double m = (x + 0.5) / scale - 0.5;
            const long q = static_cast<long>(std::floor(m));
            return static_cast<int>(std::lround(src(q) + (src(q + 1) - src(q)) * (m - q)));
        };
    };
    const Case cases[] = {
        {"bars enlarged 4 times", 256, 8, bars(4), 0, 0},
        {"bars enlarged 11 times", 512, 8, bars(11), 0, 0},
        {"bars enlarged 24 times", 768, 8, bars(24), 0, 0},
        // A gradient from black to white longer than any ramp: shaded.
        {"gradient over 200 pixels", 240, 64,
         [](unsigned x, unsigned) {
             return x < 20 ? 0 : x >= 220 ? 255 : static_cast<int>((x - 20) * 255 / 200);
         },
         0.2, 1},
        // A photo-like strip between black and white, short enough to be a
        // ramp, but its texture turns back: shaded.
        {"textured strip between black and white", 64, 64,
         [](unsigned x, unsigned y) {
             return x < 20    ? 0
                    : x >= 44 ? 255
                              : 128 + static_cast<int>(60 * std::sin(x * 1.3) * std::cos(y * 0.9));
         },
         0.05, 1},
        // Mid grey across a short run between black and white: shaded.
        {"flat grey between black and white", 64, 64,
         [](unsigned x, unsigned) { return x < 20    ? 0
                                           : x >= 44 ? 255
                                                     : 100; }, 0.2, 1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> v(static_cast<size_t>(c.w) * c.h);
        for (unsigned y = 0; y < c.h; ++y)
            for (unsigned x = 0; x < c.w; ++x)
                v[static_cast<size_t>(y) * c.w + x] = static_cast<uint8_t>(c.level(x, y));
        CxImage img = Grey8(c.w, c.h, v);
        ASSERT_TRUE(img.Dither(10));
        // Runs that the page's left or right edge cuts are no ramps: not counted.
        const unsigned margin = std::min(40u, c.w / 4);
        long differ = 0, grey = 0;
        for (unsigned y = 0; y < c.h; ++y)
            for (unsigned x = margin; x < c.w - margin; ++x) {
                const int l = v[static_cast<size_t>(y) * c.w + x];
                if (l <= ximaedge::kNear || l >= 255 - ximaedge::kNear) continue;
                ++grey;
                differ +=
                    img.GetPixelIndex(static_cast<long>(x), static_cast<long>(y)) != (l > ximaedge::kMid);
            }
        ASSERT_GT(grey, 0) << c.what;
        const double share = static_cast<double>(differ) / grey;
        EXPECT_GE(share, c.minDiffer) << c.what;
        EXPECT_LE(share, c.maxDiffer) << c.what;
    }
}

TEST(Dither, EdgeKeepingMatchesPlainVersionAcrossWordEdges) {
    // Bars at every position around the 64-pixel words the masks are kept in,
    // with edges of 0 to 3 grey pixels.
    int n = 0;
    for (unsigned w : {9u, 63u, 64u, 65u, 129u, 200u})
        for (unsigned ramp = 0; ramp <= 3; ++ramp)
            for (unsigned at = 0; at < w; at += (w > 70 ? 3 : 1)) {
                CxImage a = edge::LabelPage(w, 7, at, ramp), b = a;
                ASSERT_TRUE(a.Dither(10));
                ASSERT_TRUE(RefDither(b, 10));
                ASSERT_TRUE(SameImage(b, a)) << w << " ramp " << ramp << " bar at " << at;
                ++n;
            }
    EXPECT_GT(n, 500);
}

TEST(Dither, EdgeKeepingThresholdsSolidsAndEdges) {
    using ximaedge::kNear;
    // One row each: which pixels come out white.
    struct Case {
        const char* what;
        std::vector<uint8_t> levels;
        std::vector<int> bits;
    };
    const Case cases[] = {
        {"one grey pixel between black and white", {0, 0, 0, 100, 255, 255, 255}, {0, 0, 0, 0, 1, 1, 1}},
        {"two grey pixels between black and white", {0, 0, 90, 170, 255, 255}, {0, 0, 0, 1, 1, 1}},
        {"near black and near white are solid",
         {static_cast<uint8_t>(kNear), 255 - kNear, static_cast<uint8_t>(kNear), 255 - kNear},
         {0, 1, 0, 1}},
        // 120 is diffused (no black near): black with error 120, all of it
        // to the next 120 (its only diffused neighbour on a one-row page).
        {"grey beside white only is diffused", {255, 255, 255, 120, 120}, {1, 1, 1, 0, 1}},
        // The first 100's only diffused neighbour gets its whole error (not
        // the kernel's 8/32 of it): 200, white.
        {"the whole error goes to diffused neighbours", {100, 100, 255}, {0, 1, 1}},
        // The grey's error would darken the near-white pixels after it; they
        // are solid and stay white.
        {"no error into solid white", {100, 250, 250, 250}, {0, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        CxImage img = Grey8(static_cast<unsigned>(c.levels.size()), 1, c.levels);
        ASSERT_TRUE(img.Dither(10));
        EXPECT_EQ(Pixels(img), c.bits) << c.what;
    }
}

TEST(Dither, EdgeKeepingShadesFlatGreysAndKeepsPaperClean) {
    // Flat greys shade to their level (within 2% of the dots, light and dark
    // tints, whose small errors truncated shares would drop, within 0.5%);
    // the white paper around them gets no dot and the black frame no gap.
    const struct {
        int level;
        double tol;
    } cases[] = {{20, 0.02},  {64, 0.02},  {100, 0.02}, {128, 0.02},  {160, 0.02}, {200, 0.02},
                 {235, 0.02}, {12, 0.005}, {16, 0.005}, {240, 0.005}, {244, 0.005}};
    for (const auto& c : cases) {
        const int level = c.level;
        const unsigned w = 96, h = 96;
        std::vector<uint8_t> v(w * h, 255);
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x) {
                const bool inner = x >= 16 && x < 80 && y >= 16 && y < 80;
                const bool frame = !inner && x >= 12 && x < 84 && y >= 12 && y < 84;
                v[y * w + x] = inner ? static_cast<uint8_t>(level) : frame ? 0 : 255;
            }
        CxImage img = Grey8(w, h, v);
        ASSERT_TRUE(img.Dither(10));
        long whites = 0;
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x) {
                const int bit = img.GetPixelIndex(static_cast<long>(x), static_cast<long>(y));
                if (v[y * w + x] == 255) {
                    ASSERT_EQ(bit, 1) << level << " paper at " << x << "," << y;
                }
                if (v[y * w + x] == 0) {
                    ASSERT_EQ(bit, 0) << level << " frame at " << x << "," << y;
                }
                // The inner square less the two rows and columns that touch the frame.
                if (x >= 18 && x < 78 && y >= 18 && y < 78) whites += bit;
            }
        EXPECT_NEAR(static_cast<double>(whites) / (60 * 60), level / 255.0, c.tol) << level;
    }
}
