// Edge-keeping reduction to 1 bit (Dither method 10): solid black and white
// and the edges between them are thresholded, the rest is shaded by error
// diffusion whose error never reaches a thresholded pixel.
//
// Labels are mostly solid areas, bars and letters whose edges every
// rasterizer and scaler leaves a dot or two of grey; diffusing those greys
// scatters dots along the edges that scanners and eyes trip over. Here a
// pixel near full black or white, or one with both within a few dots of it,
// takes the plain threshold, and the diffusion's error stops at such pixels,
// so grey areas (gradients, photos, tints) still shade while bars, modules
// and letters keep exact edges. Solid pixels are also the cheap ones: eight
// of them at a time need one compare and no error bookkeeping.
#include "image/ximaedge.h"

#include <cstdlib>
#include <cstring>

#include "image/ximabits.h"

namespace ximaedge {
namespace {

static_assert(kReach > 0 && kReach < 64, "the dilation shifts within one neighbouring word");

// Bytes of v whose top bit is set, as bits of a byte with pixel 0 in the
// lowest bit (the masks below are in pixel order from bit 0 of each word).
// The multiplier moves bit 8k to bit 56 + k; no two products share a bit.
inline unsigned PackHighBitsLow(uint64_t v) {
    return static_cast<unsigned>((((v >> 7) & ximabits::kOnes) * 0x0102040810204080ull) >> 56);
}

// Rows of 64-pixel words with one empty guard word at each end.
struct MaskRows {
    size_t words = 0;  // per row, guards included
    uint64_t* mem = nullptr;
    uint64_t* Row(size_t i) { return mem + i * words + 1; }
};

// The working memory of one page.
struct Work {
    long w = 0;
    size_t nw = 0;  // mask words per row
    MaskRows raw;   // 0: solid black, 1: solid white (the row entering)
    MaskRows ring;  // 5 slots x {solid, black spread, white spread}
    uint64_t* kept = nullptr;
    int16_t* err = nullptr;  // two rows of w + 4 (two guard entries each side)
    // Shares by the value a diffused pixel reads (index value + 128: -128
    // to 383, its level and at most a whole error's worth of shares); eight
    // to a row so that the row is found by a shift.
    int16_t share[512][8];

    ~Work() {
        std::free(raw.mem);
        std::free(ring.mem);
        std::free(kept);
        std::free(err);
    }
};

constexpr int kSlots = 2 * kReach + 1;
constexpr size_t kTapCount = sizeof(kTaps) / sizeof(kTaps[0]);

// Each pixel of the span spread to those within kReach on either side.
void Spread(const uint64_t* m, uint64_t* d, size_t nw) {
    for (size_t k = 0; k < nw; ++k) {
        const uint64_t c = m[k], p = m[k - 1], n = m[k + 1];
        uint64_t r = c;
        for (int s = 1; s <= kReach; ++s) r |= c << s | p >> (64 - s) | c >> s | n << (64 - s);
        d[k] = r;
    }
}

// Row r's masks into its ring slot: solid pixels, and the black and white
// solids spread sideways. Rows past the page are empty.
void EnterRow(Work& wk, const uint8_t* grey, size_t gStride, long r, long h) {
    const size_t slot = static_cast<size_t>(r % kSlots) * 3;
    uint64_t* solid = wk.ring.Row(slot);
    uint64_t* dark = wk.ring.Row(slot + 1);
    uint64_t* light = wk.ring.Row(slot + 2);
    const size_t nw = wk.nw;
    if (r >= h) {
        std::memset(solid, 0, nw * sizeof(uint64_t));
        std::memset(dark, 0, nw * sizeof(uint64_t));
        std::memset(light, 0, nw * sizeof(uint64_t));
        return;
    }
    uint64_t* b = wk.raw.Row(0);
    uint64_t* wh = wk.raw.Row(1);
    const uint8_t* g = grey + static_cast<size_t>(r) * gStride;
    const long w = wk.w;
    const uint64_t nearBlack = ximabits::kOnes * static_cast<uint64_t>(kNear);
    const uint64_t belowWhite = ximabits::kOnes * static_cast<uint64_t>(254 - kNear);
    // Whole words in registers (64 pixels, eight at a time), then the rest.
    long x = 0;
    for (; x + 64 <= w; x += 64) {
        uint64_t isB = 0, isW = 0;
        for (int j = 0; j < 8; ++j) {
            const uint64_t v = ximabits::Load8(g + x + 8 * j);
            // Full black and white, most of a label, in one pack.
            if (ximabits::AllBlackOrWhite(v)) {
                const uint64_t white = PackHighBitsLow(v);
                isW |= white << (8 * j);
                isB |= (white ^ 0xFFu) << (8 * j);
                continue;
            }
            isB |= static_cast<uint64_t>(
                       PackHighBitsLow(~ximabits::GreaterBytes(v, nearBlack) & ximabits::kHigh))
                   << (8 * j);
            isW |= static_cast<uint64_t>(PackHighBitsLow(ximabits::GreaterBytes(v, belowWhite))) << (8 * j);
        }
        b[x >> 6] = isB;
        wh[x >> 6] = isW;
    }
    if (x < w) {
        uint64_t isB = 0, isW = 0;
        for (long i = 0; x + i < w; ++i) {
            isB |= static_cast<uint64_t>(g[x + i] <= kNear) << i;
            isW |= static_cast<uint64_t>(g[x + i] >= 255 - kNear) << i;
        }
        b[x >> 6] = isB;
        wh[x >> 6] = isW;
    }
    for (size_t k = 0; k < nw; ++k) solid[k] = b[k] | wh[k];
    Spread(b, dark, nw);
    Spread(wh, light, nw);
}

// Row y's kept pixels: solid, or with solid black and solid white both in
// the square around it.
void KeptRow(Work& wk, long y) {
    const size_t nw = wk.nw;
    const uint64_t* solid = wk.ring.Row(static_cast<size_t>(y % kSlots) * 3);
    for (size_t k = 0; k < nw; ++k) {
        uint64_t dark = 0, light = 0;
        for (size_t s = 0; s < kSlots; ++s) {
            dark |= wk.ring.Row(s * 3 + 1)[k];
            light |= wk.ring.Row(s * 3 + 2)[k];
        }
        wk.kept[k] = solid[k] | (dark & light);
    }
}

// One diffused pixel: its bit, its error shared out to the right and below.
// The current row's shares for the next two pixels wait in a and b (the
// pixel's level and the row above's shares are in level and ec); shares that
// land on kept pixels or past the page are never read.
struct Pending {
    int a = 0, b = 0;  // for x and x + 1
};

inline __attribute__((always_inline)) unsigned DiffuseOne(const Work& wk, const int16_t* ec, int16_t* en,
                                                          long x, int level, Pending& p) {
    const int v = level + ec[x] + p.a;
    const unsigned white = v > kMid ? 1u : 0u;
    const int16_t* s = wk.share[v + 128];
    p.a = p.b + s[0];
    p.b = s[1];
    en[x - 2] = static_cast<int16_t>(en[x - 2] + s[2]);
    en[x - 1] = static_cast<int16_t>(en[x - 1] + s[3]);
    en[x] = static_cast<int16_t>(en[x] + s[4]);
    en[x + 1] = static_cast<int16_t>(en[x + 1] + s[5]);
    en[x + 2] = static_cast<int16_t>(en[x + 2] + s[6]);
    return white;
}

// A kept pixel: its threshold bit; what the row had pending for it is dropped.
inline __attribute__((always_inline)) unsigned KeepOne(int level, Pending& p) {
    p.a = p.b;
    p.b = 0;
    return level > kMid ? 1u : 0u;
}

static_assert(kTapCount == 7 && kTaps[0].dx == 1 && kTaps[0].dy == 0 && kTaps[1].dx == 2 &&
                  kTaps[1].dy == 0 && kTaps[2].dx == -2 && kTaps[2].dy == 1 && kTaps[3].dx == -1 &&
                  kTaps[4].dx == 0 && kTaps[5].dx == 1 && kTaps[6].dx == 2 && kTaps[6].dy == 1,
              "DiffuseOne spells out the taps in this order");

}  // namespace

bool Reduce(const uint8_t* grey, size_t gStride, uint8_t* out, size_t oStride, long w, long h) {
    if (w <= 0 || h <= 0) return true;
    Work wk;
    wk.w = w;
    wk.nw = static_cast<size_t>(w + 63) / 64;
    wk.raw.words = wk.nw + 2;
    wk.ring.words = wk.nw + 2;
    const size_t ew = static_cast<size_t>(w) + 4;
    wk.raw.mem = static_cast<uint64_t*>(std::calloc(2 * wk.raw.words, sizeof(uint64_t)));
    wk.ring.mem = static_cast<uint64_t*>(std::calloc(3 * kSlots * wk.ring.words, sizeof(uint64_t)));
    wk.kept = static_cast<uint64_t*>(std::calloc(wk.nw, sizeof(uint64_t)));
    wk.err = static_cast<int16_t*>(std::calloc(2 * ew, sizeof(int16_t)));
    if (!wk.raw.mem || !wk.ring.mem || !wk.kept || !wk.err) return false;
    // A pixel's error is what it reads, less 255 when it turns white: within
    // -128..128, so what the next pixels read stays within -128..383.
    for (int v = -128; v < 384; ++v) {
        const int e = v > kMid ? v - 255 : v;
        for (size_t i = 0; i < 8; ++i)
            wk.share[v + 128][i] = i < kTapCount ? static_cast<int16_t>(e * kTaps[i].w / kDiv) : 0;
    }

    for (long r = 0; r < kReach; ++r) EnterRow(wk, grey, gStride, r, h);
    int16_t* ec = wk.err + 2;
    int16_t* en = wk.err + ew + 2;
    const uint64_t mid = ximabits::kOnes * static_cast<uint64_t>(kMid);
    for (long y = 0; y < h; ++y) {
        EnterRow(wk, grey, gStride, y + kReach, h);
        KeptRow(wk, y);
        const uint8_t* g = grey + static_cast<size_t>(y) * gStride;
        uint8_t* o = out + static_cast<size_t>(y) * oStride;
        Pending p;
        long x = 0;
        for (; x + 8 <= w; x += 8) {
            const unsigned keep = static_cast<unsigned>(wk.kept[x >> 6] >> (x & 63)) & 0xFFu;
            if (keep == 0xFFu) {
                // Eight kept pixels: one compare, and nothing pending after them.
                o[x >> 3] = ximabits::PackHighBits(ximabits::GreaterBytes(ximabits::Load8(g + x), mid));
                p = Pending();
                continue;
            }
            unsigned acc = 0;
            for (long i = 0; i < 8; ++i) {
                const int level = g[x + i];
                const unsigned bit =
                    (keep >> i) & 1u ? KeepOne(level, p) : DiffuseOne(wk, ec, en, x + i, level, p);
                acc |= bit << (7 - i);
            }
            o[x >> 3] = static_cast<uint8_t>(acc);
        }
        if (x < w) {
            unsigned acc = 0;
            const long k0 = x;
            for (; x < w; ++x) {
                const int level = g[x];
                const bool keep = (wk.kept[x >> 6] >> (x & 63)) & 1u;
                const unsigned bit = keep ? KeepOne(level, p) : DiffuseOne(wk, ec, en, x, level, p);
                acc |= bit << (7 - (x - k0));
            }
            o[k0 >> 3] = static_cast<uint8_t>(acc);
        }
        // The row below becomes the current one; the one after starts clean.
        int16_t* t = ec;
        ec = en;
        en = t;
        std::memset(en - 2, 0, ew * sizeof(int16_t));
    }
    return true;
}

}  // namespace ximaedge
