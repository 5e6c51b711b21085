// Edge-keeping reduction to 1 bit (Dither method 10): solid black and white
// and the edges between them are thresholded, the rest is shaded by error
// diffusion whose error never reaches a thresholded pixel: each diffused
// pixel shares its whole error among those of its kernel's neighbours that
// are diffused too, so grey areas keep their tone up to a kept edge.
//
// Labels are mostly solid areas, bars and letters whose edges every
// rasterizer and scaler leaves a dot or two of grey; diffusing those greys
// scatters dots along the edges that scanners and eyes trip over. Here a
// pixel near full black or white, one with both within a few dots of it, or
// one on a short climbing ramp between them along its row or column (what an
// interpolating scaler makes of an edge it enlarges) takes the plain
// threshold, and the diffusion's error stops at such pixels,
// so grey areas (gradients, photos, tints) still shade while bars, modules
// and letters keep exact edges. Solid pixels are also the cheap ones: eight
// of them at a time need one compare and no error bookkeeping, a word of 64
// all solid is its white mask. Inside a grey area, where no tap reaches a
// kept pixel, the whole kernel runs with its state in registers.
#include "image/ximaedge.h"

#include <cstddef>
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

// A pixel is given at most seven shares (two from the left, five from the
// row above), none larger than an error (-127..128).
constexpr int kSpan = 7 * 128;

// The working memory of one page.
struct Work {
    long w = 0;
    size_t nw = 0;  // mask words per row
    MaskRows raw;   // solid black (the row entering)
    // kSlots slots x {solid, black spread, white spread, full white (255)}
    MaskRows ring;
    // 0: this row's kept pixels, 1: the next row's; past the row's end and
    // in the guard words 1 (off the page counts as kept), so the taps of a
    // pixel are read from one unaligned load of each row's mask bytes.
    MaskRows kept;
    int16_t* err = nullptr;  // two rows of w + 4 (two guard entries each side)
    // Per column, whether the run of pixels that are not solid through the
    // current row is a ramp (decided at the run's first row).
    uint64_t* vRamp = nullptr;
    // Shares of the whole kernel by the value a diffused pixel reads (its
    // level and the shares it was given), index value + kSpan: the same as
    // for that value clamped to 0..255, with no clamping on the way from one
    // pixel to the next. Eight to a row so that the row is found by a shift;
    // 32 KiB, so on the heap.
    int16_t (*share)[8] = nullptr;
    // Their first share (to the next pixel) alone, the same way: the one the
    // next pixel waits for, read with one scaled index.
    int16_t* first = nullptr;
    // Sum of the weights of the taps whose bits are clear, by tap bits.
    int weight[128];

    ~Work() {
        std::free(raw.mem);
        std::free(ring.mem);
        std::free(kept.mem);
        std::free(err);
        std::free(vRamp);
        std::free(share);
        std::free(first);
    }
};

// The rows around the current one and one more: the kept pixels of the row
// below are known before the current row is diffused.
constexpr int kSlots = 2 * kReach + 2;
constexpr size_t kPerSlot = 4;
constexpr size_t kTapCount = sizeof(kTaps) / sizeof(kTaps[0]);

// Each pixel of the span spread to those within kReach on either side. The
// words before and after the span are the rows' guard words; the index is
// signed so that the one before word 0 is m[-1], not m + SIZE_MAX.
void Spread(const uint64_t* m, uint64_t* d, size_t nw) {
    for (ptrdiff_t k = 0; k < static_cast<ptrdiff_t>(nw); ++k) {
        const uint64_t c = m[k], p = m[k - 1], n = m[k + 1];
        // Blank paper: all set, or nothing near.
        if (c == ~0ull || (c | p | n) == 0) {
            d[k] = c;
            continue;
        }
        uint64_t r = c;
        for (int s = 1; s <= kReach; ++s) r |= c << s | p >> (64 - s) | c >> s | n << (64 - s);
        d[k] = r;
    }
}

// 64 pixels' solid black and solid white bits (pixel 0 in bit 0), kept in
// registers (the loops unrolled) until they are stored.
inline void SolidBits(const uint8_t* g, uint64_t& blackOut, uint64_t& whiteOut) {
    const uint64_t nearBlack = ximabits::kOnes * static_cast<uint64_t>(kNear);
    const uint64_t belowWhite = ximabits::kOnes * static_cast<uint64_t>(254 - kNear);
    // Blank paper, most of a label, in eight loads.
    uint64_t all = ~0ull;
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) all &= ximabits::Load8(g + 8 * j);
    if (all == ~0ull) {
        blackOut = 0;
        whiteOut = ~0ull;
        return;
    }
    uint64_t isB = 0, isW = 0;
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        const uint64_t v = ximabits::Load8(g + 8 * j);
        uint64_t white, black;
        if (ximabits::AllBlackOrWhite(v)) {
            // Full black and white, most of a label, in one pack.
            white = PackHighBitsLow(v);
            black = white ^ 0xFFu;
        } else {
            black = PackHighBitsLow(~ximabits::GreaterBytes(v, nearBlack) & ximabits::kHigh);
            white = PackHighBitsLow(ximabits::GreaterBytes(v, belowWhite));
        }
        isB |= black << (8 * j);
        isW |= white << (8 * j);
    }
    blackOut = isB;
    whiteOut = isW;
}

// Row r's masks into its ring slot: solid pixels, the black and white
// solids spread sideways, and the white solids. Rows past the page are
// never read.
void EnterRow(Work& wk, const uint8_t* grey, size_t gStride, long r, long h) {
    if (r >= h) return;  // never read
    const size_t slot = static_cast<size_t>(r % kSlots) * kPerSlot;
    uint64_t* solid = wk.ring.Row(slot);
    uint64_t* dark = wk.ring.Row(slot + 1);
    uint64_t* light = wk.ring.Row(slot + 2);
    uint64_t* wh = wk.ring.Row(slot + 3);
    const size_t nw = wk.nw;
    uint64_t* b = wk.raw.Row(0);
    const uint8_t* g = grey + static_cast<size_t>(r) * gStride;
    const long w = wk.w;
    long x = 0;
    for (; x + 64 <= w; x += 64) SolidBits(g + x, b[x >> 6], wh[x >> 6]);
    if (x < w) {
        // The rest as a whole word, padded with mid grey (neither solid).
        uint8_t tail[64];
        std::memset(tail, kMid, sizeof(tail));
        std::memcpy(tail, g + x, static_cast<size_t>(w - x));
        SolidBits(tail, b[x >> 6], wh[x >> 6]);
    }
    for (size_t k = 0; k < nw; ++k) solid[k] = b[k] | wh[k];
    Spread(b, dark, nw);
    Spread(wh, light, nw);
}

inline bool Solid(int level) {
    return level <= kNear || level >= 255 - kNear;
}

// Whether the n pixels after p[0] (step apart) are a ramp: p[0] and the
// pixel after them solid, one black and one white, and the levels climbing
// from the black end to the white one (read from p[0] on, as distance from
// p[0]'s side, they never fall more than kSlack below their highest nor
// rise by more than kStep from one to the next, the far end included).
inline bool IsRamp(const uint8_t* p, ptrdiff_t step, long n) {
    const int a = p[0], b = p[step * (n + 1)];
    int flip;
    if (a <= kNear && b >= 255 - kNear)
        flip = 0;
    else if (a >= 255 - kNear && b <= kNear)
        flip = 255;
    else
        return false;
    int top = 0, last = flip ? 255 - a : a;
    for (long i = 1; i <= n + 1; ++i) {
        const int u = flip ? 255 - p[step * i] : p[step * i];
        if (u < top - kSlack || u - last > kStep) return false;
        if (u > top) top = u;
        last = u;
    }
    return true;
}

inline void SetBits(uint64_t* m, long s, long e) {
    for (long x = s; x < e; ++x) m[x >> 6] |= 1ull << (x & 63);
}

// Row y's pixels on ramps into dest (or'ed); above: row y - 1's solid
// pixels (null for row 0). Rows come in order: a column's run is decided at
// its first row, looking at most kRamp + 1 rows down, and holds until the
// run ends, so a row costs a few operations a word and a look down per run
// that starts in it. Along the row, runs are found a word of the solid mask
// at a time; most label rows have none.
void RampRow(Work& wk, const uint8_t* grey, size_t gStride, long y, long h, const uint64_t* solid,
             const uint64_t* above, uint64_t* dest) {
    const long w = wk.w;
    const size_t nw = wk.nw;
    const uint8_t* g = grey + static_cast<size_t>(y) * gStride;
    const ptrdiff_t st = static_cast<ptrdiff_t>(gStride);
    const long limit = y + kRamp + 1 < h ? y + kRamp + 1 : h;
    for (size_t k = 0; k < nw; ++k) {
        const uint64_t open = ~solid[k];
        wk.vRamp[k] &= open;
        for (uint64_t starts = above ? above[k] & open : 0; starts != 0; starts &= starts - 1) {
            const long c = static_cast<long>(k * 64) + __builtin_ctzll(starts);
            if (c >= w) break;
            long r = y + 1;
            while (r < limit && !Solid(grey[static_cast<size_t>(r) * gStride + static_cast<size_t>(c)])) ++r;
            if (r < limit && IsRamp(g + c - st, st, r - y)) wk.vRamp[k] |= 1ull << (c & 63);
        }
        dest[k] |= wk.vRamp[k];
    }
    long x = 0;
    while (x < w) {
        size_t k = static_cast<size_t>(x) >> 6;
        uint64_t m = ~solid[k] & (~0ull << (x & 63));
        while (m == 0 && ++k < nw) m = ~solid[k];
        if (m == 0) break;
        const long s = static_cast<long>(k * 64) + __builtin_ctzll(m);
        if (s >= w) break;
        k = static_cast<size_t>(s) >> 6;
        m = solid[k] & (~0ull << (s & 63));
        while (m == 0 && ++k < nw) m = solid[k];
        long e = m == 0 ? w : static_cast<long>(k * 64) + __builtin_ctzll(m);
        if (e > w) e = w;
        if (s > 0 && e < w && e - s <= kRamp && IsRamp(g + s - 1, 1, e - s)) SetBits(dest, s, e);
        x = e;
    }
}

// Row y's kept pixels into dest: solid, with solid black and solid white
// both in the square around it (rows off the page have neither), or on a
// ramp; past the row's end, set. Called for the rows in order.
void KeptRow(Work& wk, const uint8_t* grey, size_t gStride, long y, long h, uint64_t* dest) {
    const size_t nw = wk.nw;
    const uint64_t* solid = wk.ring.Row(static_cast<size_t>(y % kSlots) * kPerSlot);
    const long r0 = y - kReach < 0 ? 0 : y - kReach;
    const long r1 = y + kReach >= h ? h - 1 : y + kReach;
    const uint64_t* dark[kSlots];
    const uint64_t* light[kSlots];
    size_t n = 0;
    for (long r = r0; r <= r1; ++r, ++n) {
        const size_t slot = static_cast<size_t>(r % kSlots) * kPerSlot;
        dark[n] = wk.ring.Row(slot + 1);
        light[n] = wk.ring.Row(slot + 2);
    }
    for (size_t k = 0; k < nw; ++k) {
        // All solid (blank paper): kept whatever is around.
        if (solid[k] == ~0ull) {
            dest[k] = ~0ull;
            continue;
        }
        uint64_t d = 0, l = 0;
        for (size_t i = 0; i < n; ++i) {
            d |= dark[i][k];
            l |= light[i][k];
        }
        dest[k] = solid[k] | (d & l);
    }
    RampRow(wk, grey, gStride, y, h, solid,
            y > 0 ? wk.ring.Row(static_cast<size_t>((y - 1) % kSlots) * kPerSlot) : nullptr, dest);
    if (wk.w & 63) dest[nw - 1] |= ~0ull << (wk.w & 63);
}

// Reverses the bits of each byte: mask bits (pixel 0 in bit 0) into the
// bytes of a 1-bit row (pixel 0 in the top bit).
inline uint64_t ReverseInBytes(uint64_t v) {
    v = (v >> 1 & 0x5555555555555555ull) | (v & 0x5555555555555555ull) << 1;
    v = (v >> 2 & 0x3333333333333333ull) | (v & 0x3333333333333333ull) << 2;
    return (v >> 4 & 0x0F0F0F0F0F0F0F0Full) | (v & 0x0F0F0F0F0F0F0F0Full) << 4;
}

// The error of the row being reduced, and the part of the next row's that
// its pixels have given so far. The kernel reaches two pixels to the right
// in this row and two either side in the next, so a pixel x is given its
// last share of this row (a) when x - 1 is done, and the next row's x - 2
// its last when x is done: until then they are kept here, not in memory.
struct Carry {
    int a = 0, b = 0;                    // this row's x and x + 1
    int n0 = 0, n1 = 0, n2 = 0, n3 = 0;  // the next row's x - 2 .. x + 1
    // The next row's x - 2 .. x + 1 into en, and nothing carried on.
    void Flush(int16_t* en, long x) {
        en[x - 2] = static_cast<int16_t>(n0);
        en[x - 1] = static_cast<int16_t>(n1);
        en[x] = static_cast<int16_t>(n2);
        en[x + 1] = static_cast<int16_t>(n3);
        *this = Carry();
    }
};

// One diffused pixel x: its bit, and its error shared out to the right and
// below among the neighbours that are diffused too, in proportion to the
// kernel's weights. absent: the neighbours that are kept or off the page,
// one bit per tap in the kernel's order. ec holds the shares the row above
// gave this row; en receives the next row's x - 2.
inline __attribute__((always_inline)) unsigned DiffuseOne(const Work& wk, unsigned absent, const int16_t* ec,
                                                          int16_t* en, long x, int level, Carry& c) {
    const int v = level + ec[x] + c.a;
    const unsigned white = v > kMid ? 1u : 0u;
    const int16_t* s = wk.share[v + kSpan];
    int16_t part[8];
    if (absent != 0) {
        const int e = (v < 0 ? 0 : v > 255 ? 255 : v) - 255 * static_cast<int>(white);
        const int total = wk.weight[absent];
        for (size_t i = 0; i < kTapCount; ++i)
            part[i] =
                static_cast<int16_t>(((absent >> i) & 1u) || total == 0 ? 0 : Share(e, kTaps[i].w, total));
        s = part;
    }
    c.a = c.b + s[0];
    c.b = s[1];
    en[x - 2] = static_cast<int16_t>(c.n0 + s[2]);
    c.n0 = c.n1 + s[3];
    c.n1 = c.n2 + s[4];
    c.n2 = c.n3 + s[5];
    c.n3 = s[6];
    return white;
}

// A kept pixel x: its threshold bit. No share was given to it, and it gives
// none.
inline __attribute__((always_inline)) unsigned KeepOne(int16_t* en, long x, int level, Carry& c) {
    c.a = c.b;
    c.b = 0;
    en[x - 2] = static_cast<int16_t>(c.n0);
    c.n0 = c.n1;
    c.n1 = c.n2;
    c.n2 = c.n3;
    c.n3 = 0;
    return level > kMid ? 1u : 0u;
}

// Pixel x0 + i's absent taps from the kept bits of this row from x0 on
// (cur) and of the next row from x0 - 8 on (next).
inline unsigned Absent(uint64_t cur, uint64_t next, unsigned i) {
    return static_cast<unsigned>((cur >> (i + 1)) & 3u) | static_cast<unsigned>((next >> (i + 6)) & 0x1Fu)
                                                              << 2;
}

// The bits of cur and next (see Absent) that eight pixels and their taps
// read.
constexpr uint64_t kOpenCur = 0x3FFull;
constexpr uint64_t kOpenNext = 0xFFFull << 6;

// 64 kept bits from pixel x0 (a multiple of 8) on, before: from x0 - 8 on
// (the guard word before the row is read for x0 = 0).
inline uint64_t LoadBits(const uint64_t* row, long x0, bool before = false) {
    return ximabits::Load8(reinterpret_cast<const uint8_t*>(row) + (x0 >> 3) - (before ? 1 : 0));
}

// Groups of eight diffused pixels from x on whose taps all reach diffused
// pixels (a grey area's inside), while there are such: the whole kernel for
// each, its state in registers. share and first: indexed by the value read.
// Returns where it stopped (x if the first group is not such).
//
// Each pixel waits for the share its left neighbour gives it, so the time
// per pixel is that chain: the value read, then one load of its first share
// and one add (the rest of the sum is made beside the chain).
__attribute__((noinline)) long DiffuseOpen(const int16_t (*share)[8], const int16_t* first,
                                           const uint64_t* kc, const uint64_t* kn, const uint8_t* g,
                                           const int16_t* ec, int16_t* en, uint8_t* o, long x, long w,
                                           Carry& c) {
    // This pixel's share from two to the left (p) and from its left
    // neighbour (s0), the next pixel's from this one's left neighbour (b).
    long p = c.a, s0 = 0, b = c.b;
    int n0 = c.n0, n1 = c.n1, n2 = c.n2, n3 = c.n3;
    for (; x + 8 <= w && (LoadBits(kc, x) & kOpenCur) == 0 && (LoadBits(kn, x, true) & kOpenNext) == 0;
         x += 8) {
        unsigned acc = 0;
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            const long v = (static_cast<long>(g[x + i]) + ec[x + i] + p) + s0;
            const int16_t* s = share[v];
            s0 = first[v];
            p = b;
            b = s[1];
            acc |= static_cast<unsigned>(v > kMid) << (7 - i);
            en[x + i - 2] = static_cast<int16_t>(n0 + s[2]);
            n0 = n1 + s[3];
            n1 = n2 + s[4];
            n2 = n3 + s[5];
            n3 = s[6];
        }
        o[x >> 3] = static_cast<uint8_t>(acc);
    }
    c.a = static_cast<int>(p + s0);
    c.b = static_cast<int>(b);
    c.n0 = n0;
    c.n1 = n1;
    c.n2 = n2;
    c.n3 = n3;
    return x;
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
    wk.raw.words = wk.ring.words = wk.kept.words = wk.nw + 2;
    const size_t ew = static_cast<size_t>(w) + 4;
    wk.raw.mem = static_cast<uint64_t*>(std::calloc(wk.raw.words, sizeof(uint64_t)));
    wk.ring.mem = static_cast<uint64_t*>(std::calloc(kPerSlot * kSlots * wk.ring.words, sizeof(uint64_t)));
    wk.kept.mem = static_cast<uint64_t*>(std::malloc(2 * wk.kept.words * sizeof(uint64_t)));
    wk.err = static_cast<int16_t*>(std::calloc(2 * ew, sizeof(int16_t)));
    wk.share = static_cast<int16_t(*)[8]>(std::malloc((256 + 2 * kSpan) * sizeof(*wk.share)));
    wk.vRamp = static_cast<uint64_t*>(std::calloc(wk.nw, sizeof(uint64_t)));
    wk.first = static_cast<int16_t*>(std::malloc((256 + 2 * kSpan) * sizeof(int16_t)));
    if (!wk.raw.mem || !wk.ring.mem || !wk.kept.mem || !wk.err || !wk.share || !wk.first || !wk.vRamp)
        return false;
    // A pixel's error is what it reads, less 255 when it turns white: within
    // -127..128. A pixel is given at most seven shares, so the sums stay far
    // inside 16 bits.
    for (int v = -kSpan; v < 256 + kSpan; ++v) {
        const int e = (v < 0 ? 0 : v > 255 ? 255 : v) - (v > kMid ? 255 : 0);
        for (size_t i = 0; i < 8; ++i)
            wk.share[v + kSpan][i] = i < kTapCount ? static_cast<int16_t>(Share(e, kTaps[i].w, kDiv)) : 0;
        wk.first[v + kSpan] = wk.share[v + kSpan][0];
    }
    for (unsigned m = 0; m < 128; ++m) {
        wk.weight[m] = 0;
        for (size_t i = 0; i < kTapCount; ++i)
            if (!((m >> i) & 1u)) wk.weight[m] += kTaps[i].w;
    }
    // Off the page on either side counts as kept (the guard words).
    std::memset(wk.kept.mem, 0xFF, 2 * wk.kept.words * sizeof(uint64_t));
    uint64_t* kc = wk.kept.Row(0);
    uint64_t* kn = wk.kept.Row(1);

    for (long r = 0; r <= kReach; ++r) EnterRow(wk, grey, gStride, r, h);
    KeptRow(wk, grey, gStride, 0, h, kn);
    int16_t* ec = wk.err + 2;
    int16_t* en = wk.err + ew + 2;
    const uint64_t mid = ximabits::kOnes * static_cast<uint64_t>(kMid);
    bool aboveDiffused = false;
    for (long y = 0; y < h; ++y) {
        uint64_t* t = kc;
        kc = kn;
        kn = t;
        if (y + 1 < h) {
            EnterRow(wk, grey, gStride, y + 1 + kReach, h);
            KeptRow(wk, grey, gStride, y + 1, h, kn);
        } else {
            // Below the last row every neighbour is off the page.
            for (size_t k = 0; k < wk.nw; ++k) kn[k] = ~0ull;
        }
        bool allKept = true;
        for (size_t k = 0; k < wk.nw && allKept; ++k) allKept = kc[k] == ~0ull;
        const size_t slot = static_cast<size_t>(y % kSlots) * kPerSlot;
        const uint64_t* solid = wk.ring.Row(slot);
        const uint64_t* white = wk.ring.Row(slot + 3);
        const uint8_t* g = grey + static_cast<size_t>(y) * gStride;
        uint8_t* o = out + static_cast<size_t>(y) * oStride;
        Carry c;
        bool carry = false;  // whether c holds anything
        long x = 0;
        for (; x + 8 <= w; x += 8) {
            const size_t k = static_cast<size_t>(x) >> 6;
            if ((x & 63) == 0 && x + 64 <= w && kc[k] == ~0ull) {
                // 64 kept pixels; solid ones are white where they are white.
                if (carry) c.Flush(en, x);
                carry = false;
                if (solid[k] == ~0ull) {
                    const uint64_t bits = white[k] == ~0ull ? ~0ull : ReverseInBytes(white[k]);
                    std::memcpy(o + (x >> 3), &bits, sizeof(bits));
                } else {
                    for (long j = 0; j < 64; j += 8)
                        o[(x + j) >> 3] =
                            ximabits::PackHighBits(ximabits::GreaterBytes(ximabits::Load8(g + x + j), mid));
                }
                x += 56;
                continue;
            }
            const unsigned keep = static_cast<unsigned>(kc[k] >> (x & 63)) & 0xFFu;
            if (keep == 0xFFu) {
                // Eight kept pixels: one compare, and nothing carried past them.
                if (carry) c.Flush(en, x);
                carry = false;
                o[x >> 3] = ximabits::PackHighBits(ximabits::GreaterBytes(ximabits::Load8(g + x), mid));
                continue;
            }
            const uint64_t cur = LoadBits(kc, x), next = LoadBits(kn, x, true);
            unsigned acc = 0;
            carry = true;
            if ((cur & kOpenCur) == 0 && (next & kOpenNext) == 0) {
                x = DiffuseOpen(wk.share + kSpan, wk.first + kSpan, kc, kn, g, ec, en, o, x, w, c) - 8;
                continue;
            }
#pragma GCC unroll 8
            for (unsigned i = 0; i < 8; ++i) {
                const int level = g[x + i];
                const unsigned bit = (keep >> i) & 1u
                                         ? KeepOne(en, x + i, level, c)
                                         : DiffuseOne(wk, Absent(cur, next, i), ec, en, x + i, level, c);
                acc |= bit << (7 - i);
            }
            o[x >> 3] = static_cast<uint8_t>(acc);
        }
        if (x < w) {
            unsigned acc = 0;
            const long k0 = x;
            const uint64_t cur = LoadBits(kc, x), next = LoadBits(kn, x, true);
            for (; x < w; ++x) {
                const int level = g[x];
                const unsigned i = static_cast<unsigned>(x - k0);
                const bool keep = (kc[x >> 6] >> (x & 63)) & 1u;
                const unsigned bit = keep ? KeepOne(en, x, level, c)
                                          : DiffuseOne(wk, Absent(cur, next, i), ec, en, x, level, c);
                acc |= bit << (7 - i);
            }
            o[k0 >> 3] = static_cast<uint8_t>(acc);
        }
        c.Flush(en, x);
        // The row below becomes the current one; the one after starts clean
        // (it holds shares only if the row before this one diffused).
        int16_t* te = ec;
        ec = en;
        en = te;
        if (aboveDiffused) std::memset(en - 2, 0, ew * sizeof(int16_t));
        aboveDiffused = !allKept;
    }
    return true;
}

}  // namespace ximaedge
