// CxImage::Dither: reduction of an image to 1-bit black and white by one of
// six error-diffusion kernels, four ordered threshold matrices or the
// edge-keeping method (image/ximaedge.cpp).
#include <cstddef>
#include <cstdint>
#include <utility>

#include "image/ximabits.h"
#include "image/ximadither.h"
#include "image/ximaedge.h"
#include "image/ximage.h"

namespace ximadither {

// Bayer 4 x 4 matrix of method 1, indexed [y mod 4][x mod 4].
const uint8_t kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// 8 x 8 matrix of method 8, indexed [x mod 8][y mod 8].
const uint8_t kBayer8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

// 16 x 16 screen of method 9, indexed [x mod 16][y mod 16].
const uint8_t kScreen16[16][16] = {
    {1, 235, 59, 219, 15, 231, 55, 215, 2, 232, 56, 216, 12, 228, 52, 212},
    {129, 65, 187, 123, 143, 79, 183, 119, 130, 66, 184, 120, 140, 76, 180, 116},
    {33, 193, 17, 251, 47, 207, 31, 247, 34, 194, 18, 248, 44, 204, 28, 244},
    {161, 97, 145, 81, 175, 111, 159, 95, 162, 98, 146, 82, 172, 108, 156, 92},
    {9, 225, 49, 209, 5, 239, 63, 223, 10, 226, 50, 210, 6, 236, 60, 220},
    {137, 73, 177, 113, 133, 69, 191, 127, 138, 74, 178, 114, 134, 70, 188, 124},
    {41, 201, 25, 241, 37, 197, 21, 255, 42, 202, 26, 242, 38, 198, 22, 252},
    {169, 105, 153, 89, 165, 101, 149, 85, 170, 106, 154, 90, 166, 102, 150, 86},
    {3, 233, 57, 217, 13, 229, 53, 213, 0, 234, 58, 218, 14, 230, 54, 214},
    {131, 67, 185, 121, 141, 77, 181, 117, 128, 64, 186, 122, 142, 78, 182, 118},
    {35, 195, 19, 249, 45, 205, 29, 245, 32, 192, 16, 250, 46, 206, 30, 246},
    {163, 99, 147, 83, 173, 109, 157, 93, 160, 96, 144, 80, 174, 110, 158, 94},
    {11, 227, 51, 211, 7, 237, 61, 221, 8, 224, 48, 208, 4, 238, 62, 222},
    {139, 75, 179, 115, 135, 71, 189, 125, 136, 72, 176, 112, 132, 68, 190, 126},
    {43, 203, 27, 243, 39, 199, 23, 253, 40, 200, 24, 240, 36, 196, 20, 254},
    {171, 107, 155, 91, 167, 103, 151, 87, 168, 104, 152, 88, 164, 100, 148, 84},
};

}  // namespace ximadither

namespace {

// One neighbour of an error-diffusion kernel: offset right (dx) and down
// (dy), and its share of the error in units of the kernel's divisor.
struct DiffTap {
    int dx;
    int dy;
    int w;
};

struct KFloydSteinberg {
    static constexpr int kDiv = 16;
    static constexpr DiffTap kTaps[] = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
};
struct KBurkes {
    static constexpr int kDiv = 32;
    static constexpr DiffTap kTaps[] = {{1, 0, 8},  {2, 0, 4},  {-2, 1, 2}, {-1, 1, 4},
                                        {0, 1, 8},  {1, 1, 4},  {2, 1, 2}};
};
struct KStucki {
    static constexpr int kDiv = 42;
    static constexpr DiffTap kTaps[] = {{1, 0, 8},  {2, 0, 4},  {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4},
                                        {2, 1, 2},  {-2, 2, 1}, {-1, 2, 2}, {0, 2, 4},  {1, 2, 2}, {2, 2, 1}};
};
struct KJarvis {
    static constexpr int kDiv = 48;
    static constexpr DiffTap kTaps[] = {{1, 0, 7},  {2, 0, 5},  {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5},
                                        {2, 1, 3},  {-2, 2, 1}, {-1, 2, 3}, {0, 2, 5},  {1, 2, 3}, {2, 2, 1}};
};
struct KSierra {
    static constexpr int kDiv = 32;
    static constexpr DiffTap kTaps[] = {{1, 0, 5},  {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5},
                                        {1, 1, 4},  {2, 1, 2}, {-1, 2, 2}, {0, 2, 3},  {1, 2, 2}};
};
struct KStevensonArce {
    static constexpr int kDiv = 200;
    static constexpr DiffTap kTaps[] = {{2, 0, 32},  {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30}, {3, 1, 16},
                                        {-2, 2, 12}, {0, 2, 26},  {2, 2, 12},  {-3, 3, 5}, {-1, 3, 12},
                                        {1, 3, 12},  {3, 3, 5}};
};

template <class K>
constexpr int KernelReach(bool left) {
    int r = 0;
    for (const DiffTap& t : K::kTaps) {
        const int d = left ? -t.dx : t.dx;
        if (d > r) r = d;
    }
    return r;
}

template <class K>
constexpr int KernelDepth() {
    int r = 0;
    for (const DiffTap& t : K::kTaps)
        if (t.dy > r) r = t.dy;
    return r;
}

// Share of a pixel's error for each tap, indexed by the pixel's level (the
// error follows from it: the level itself up to 128, level - 255 above):
// the truncating division err * w / divisor done once per call instead of
// once per update, and the compare and subtraction kept off the chain from
// one pixel to the next. moves[level] is false where every share is 0 (the
// error is too small to change any neighbour, or is 0 at full black and
// white), so the updates can be skipped.
template <class K>
struct ShareTable {
    static constexpr size_t kTaps = sizeof(K::kTaps) / sizeof(K::kTaps[0]);
    int16_t v[256][kTaps];
    bool moves[256];
    ShareTable() {
        for (int level = 0; level < 256; ++level) {
            const int e = level > 128 ? level - 255 : level;
            moves[level] = false;
            for (size_t i = 0; i < kTaps; ++i) {
                v[level][i] = static_cast<int16_t>(e * K::kTaps[i].w / K::kDiv);
                if (v[level][i] != 0) moves[level] = true;
            }
        }
    }
};

inline __attribute__((always_inline)) int Clamp255(int v) {
    v = v < 0 ? 0 : v;
    return v > 255 ? 255 : v;
}

// The current row's next two pixels (x + 1 and x + 2), the only ones of that
// row the kernels reach, live in registers instead of memory: every update
// still clamps at once, and nothing reads a row again once it is passed, so
// they need not be written back.
struct Window {
    int n0, n1, n2;  // values at x, x + 1, x + 2
};

// One tap of the kernel. kChecked tests the neighbour against the page
// edges; otherwise it must lie inside. Same-row neighbours past the right
// edge update the window harmlessly: it is never read there.
// The kernel's code is forced inline: a call per pixel for the larger kernels
// (which the compiler would otherwise leave out of line) costs more than
// the taps themselves.
#define DF_INLINE inline __attribute__((always_inline))

template <class K, size_t I, bool kChecked>
DF_INLINE void Tap(uint8_t* const* rows, Window& win, long x, long w, const int16_t* share) {
    constexpr DiffTap t = K::kTaps[I];
    if constexpr (t.dy == 0) {
        static_assert(t.dx == 1 || t.dx == 2, "same-row taps reach one or two pixels on");
        int& n = t.dx == 1 ? win.n1 : win.n2;
        n = Clamp255(n + share[I]);
    } else {
        uint8_t* r = rows[t.dy];
        const long nx = x + t.dx;
        if (kChecked && (!r || nx < 0 || nx >= w)) return;
        r[nx] = static_cast<uint8_t>(Clamp255(r[nx] + share[I]));
    }
}

template <class K, bool kChecked, size_t... I>
DF_INLINE void Spread(uint8_t* const* rows, Window& win, long x, long w, const int16_t* share,
                      std::index_sequence<I...>) {
    (Tap<K, I, kChecked>(rows, win, x, w, share), ...);
}

// Output bit of pixel x (packed into acc, flushed every eight pixels) and
// its diffused error; then the window moves on by one pixel.
template <class K, bool kChecked>
DF_INLINE void DiffusePixel(uint8_t* const* rows, Window& win, uint8_t* o, unsigned& acc, long x, long w,
                            const ShareTable<K>& st) {
    // Branch-free: on mid-tones the black/white decision is a coin toss
    // that a branch would mispredict half of the time.
    const int level = win.n0;
    const unsigned white = level > 128 ? 1u : 0u;
    acc |= white << (7 - (x & 7));
    if ((x & 7) == 7) {
        o[x >> 3] = static_cast<uint8_t>(acc);
        acc = 0;
    }
    // Shares of 0 leave every neighbour as it is (the values are already
    // within 0..255).
    if (st.moves[level])
        Spread<K, kChecked>(rows, win, x, w, st.v[level], std::make_index_sequence<ShareTable<K>::kTaps>());
    win.n0 = win.n1;
    win.n1 = win.n2;
    win.n2 = x + 3 < w ? rows[0][x + 3] : 0;
}

// Error diffusion in scan order, rows from the first in memory, each from the
// left. The error goes straight into the grey rows (the caller throws them
// away afterwards), each neighbour clamped to 0..255 at every update, exactly
// as a pixel-by-pixel read-modify-write would leave it. Only the pixels near
// an edge pay for the bounds tests.
template <class K>
void Diffuse(uint8_t* grey, size_t gStride, uint8_t* out, size_t oStride, long w, long h) {
    constexpr long kLeft = KernelReach<K>(true);
    constexpr long kRight = KernelReach<K>(false);
    constexpr long kDepth = KernelDepth<K>();
    const ShareTable<K> st;
    for (long y = 0; y < h; ++y) {
        uint8_t* rows[4];
        for (long d = 0; d < 4; ++d) rows[d] = y + d < h ? grey + static_cast<size_t>(y + d) * gStride : nullptr;
        uint8_t* o = out + static_cast<size_t>(y) * oStride;
        Window win{rows[0][0], w > 1 ? rows[0][1] : 0, w > 2 ? rows[0][2] : 0};
        unsigned acc = 0;
        long x = 0;
        if (y + kDepth < h && w > kLeft + kRight) {
            for (; x < kLeft; ++x) DiffusePixel<K, true>(rows, win, o, acc, x, w, st);
            while (x < w - kRight) {
                // Eight pixels that are all full black or full white have no
                // error to pass on: they touch no neighbour (so the group may
                // run past the unchecked stretch) and only need their bits.
                // The window holds the first three, memory the other five.
                if ((x & 7) == 0 && x + 8 <= w) {
                    const uint64_t v = (ximabits::Load8(rows[0] + x) & ~0xFFFFFFull) |
                                       static_cast<uint64_t>(win.n0) | static_cast<uint64_t>(win.n1) << 8 |
                                       static_cast<uint64_t>(win.n2) << 16;
                    if (ximabits::AllBlackOrWhite(v)) {
                        o[x >> 3] = ximabits::PackHighBits(v);
                        x += 8;
                        win.n0 = x < w ? rows[0][x] : 0;
                        win.n1 = x + 1 < w ? rows[0][x + 1] : 0;
                        win.n2 = x + 2 < w ? rows[0][x + 2] : 0;
                        continue;
                    }
                }
                DiffusePixel<K, false>(rows, win, o, acc, x, w, st);
                ++x;
            }
        }
        for (; x < w; ++x) DiffusePixel<K, true>(rows, win, o, acc, x, w, st);
        if (w & 7) o[w >> 3] = static_cast<uint8_t>(acc);
    }
}

using ximadither::kBayer4;
using ximadither::kBayer8;
using ximadither::kScreen16;

// Every ordered method comes down to "white when level > T" with T taken
// from a 16 x 16 tile, indexed [y mod 16][x mod 16] (4 and 8 divide 16).
void BuildTile(int method, uint8_t tile[16][16]) {
    uint8_t gen[256];
    uint8_t bayer4Level[16];
    if (method == 7) {
        // Generated matrix of order 4; the level shift (4 - order) x 2 is 0.
        for (int i = 0; i < 256; ++i) {
            int x = i / 4, y = i % 4, d = 0;
            for (int n = 0; n < 4; ++n) {
                d = d * 4 + 2 * ((x ^ y) & 1) + (y & 1);
                x /= 2;
                y /= 2;
            }
            gen[i] = static_cast<uint8_t>(d & 255);
        }
    } else if (method == 1) {
        // Method 1 is white when level is 255 or D < (level x 16 / 255) mod 16.
        // Below 255 the right side grows with the level, so for each D the
        // white levels are those above the last level that stays black.
        for (int d = 0; d < 16; ++d) {
            int t = 254;
            for (int level = 0; level < 255; ++level) {
                if (d < (level * 16 / 255) % 16) {
                    t = level - 1;
                    break;
                }
            }
            bayer4Level[d] = static_cast<uint8_t>(t);
        }
    }
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            uint8_t t = 0;
            switch (method) {
            case 1:
                t = bayer4Level[kBayer4[y % 4][x % 4]];
                break;
            case 7:
                t = gen[(x % 4) + 4 * (y % 4)];
                break;
            case 8: {
                // White when q = level / 4 is not 0 and q >= E: level > 4 max(E, 1) - 1.
                const int e = kBayer8[x % 8][y % 8];
                t = static_cast<uint8_t>(4 * (e > 0 ? e : 1) - 1);
                break;
            }
            default:
                // The screen's one threshold of 255 would keep a black dot in
                // every 16 x 16 cell of white paper (a visible grid, and ink
                // for the white-margin crop to find everywhere). Level 255 is
                // white in every cell; below 255 a threshold of 254 gives the
                // same dots as 255.
                t = kScreen16[x][y] == 255 ? 254 : kScreen16[x][y];
                break;
            }
            tile[y][x] = t;
        }
    }
}

void Ordered(int method, const uint8_t* grey, size_t gStride, uint8_t* out, size_t oStride, long w, long h) {
    uint8_t tile[16][16];
    BuildTile(method, tile);
    for (long y = 0; y < h; ++y) {
        const uint8_t* g = grey + static_cast<size_t>(y) * gStride;
        const uint8_t* t = tile[y & 15];
        uint8_t* o = out + static_cast<size_t>(y) * oStride;
        const uint64_t half[2] = {ximabits::Load8(t), ximabits::Load8(t + 8)};
        long x = 0;
        for (; x + 8 <= w; x += 8)
            o[x >> 3] =
                ximabits::PackHighBits(ximabits::GreaterBytes(ximabits::Load8(g + x), half[(x >> 3) & 1]));
        if (x < w) {
            unsigned b = 0;
            const long k0 = x;
            for (; x < w; ++x) b = (b << 1) | (g[x] > t[x & 15] ? 1u : 0u);
            o[k0 >> 3] = static_cast<uint8_t>(b << (8 - (w - k0)));
        }
    }
}

}  // namespace

bool CxImage::Dither(int method) {
    if (!m_dib) return false;
    if (GetBpp() == 1) return true;
    GrayScale();
    // A failed grey conversion leaves an image whose index reads are no grey
    // levels (0 everywhere on 24 bits): dithering it would hand a black page
    // on as a success. Report the failure and keep the image instead.
    if (GetBpp() != 8) {
        SetLastError("CxImage::Dither : grey conversion failed");
        return false;
    }
    const unsigned w = GetWidth(), h = GetHeight();
    CxImage out(0);
    if (!CreateResult(out, w, h, 1)) return false;
    out.AlphaCopy(*this);

    uint8_t* grey = m_info.pixels;
    const size_t gs = m_info.effWidth;
    uint8_t* bits = out.m_info.pixels;
    const size_t os = out.m_info.effWidth;
    const long lw = static_cast<long>(w), lh = static_cast<long>(h);
    switch (method) {
    case 1:
    case 7:
    case 8:
    case 9:
        Ordered(method, grey, gs, bits, os, lw, lh);
        break;
    case 2:
        Diffuse<KBurkes>(grey, gs, bits, os, lw, lh);
        break;
    case 3:
        Diffuse<KStucki>(grey, gs, bits, os, lw, lh);
        break;
    case 4:
        Diffuse<KJarvis>(grey, gs, bits, os, lw, lh);
        break;
    case 5:
        Diffuse<KSierra>(grey, gs, bits, os, lw, lh);
        break;
    case 6:
        Diffuse<KStevensonArce>(grey, gs, bits, os, lw, lh);
        break;
    case 10:
        if (!ximaedge::Reduce(grey, gs, bits, os, lw, lh)) {
            SetLastError("CxImage::Dither : no memory for the edge-keeping rows");
            return false;
        }
        break;
    default:  // 0, negative, 11 and above
        Diffuse<KFloydSteinberg>(grey, gs, bits, os, lw, lh);
        break;
    }

    out.SetPaletteColor(0, 0, 0, 0, 0);
    out.SetPaletteColor(1, 255, 255, 255, 0);
    Transfer(out);
    return true;
}
