// Eight grey pixels at a time: byte-wise compares and the packing of eight
// compare results into one byte of a 1-bit row (pixel 0 in the top bit), on
// plain 64-bit words, so the threshold and dither loops need neither
// per-pixel branches nor vector instructions of one particular machine.
// Pixel k of a group is byte k of the word, as a little-endian load gives it.
#pragma once

#include <cstdint>
#include <cstring>

namespace ximabits {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHigh = 0x8080808080808080ull;
constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;

inline uint64_t Load8(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// The top bit of each byte, byte 0 first, as one byte of a 1-bit row. The
// multiplier moves bit 8k + 7 to bit 63 - k; no two products share a bit and
// none below bit 56 carries into it.
inline uint8_t PackHighBits(uint64_t v) {
    return static_cast<uint8_t>((((v >> 7) & kOnes) * 0x8040201008040201ull) >> 56);
}

// Top bit of byte k set where byte k of v is greater than byte k of t. That
// is the carry out of v + (255 - t), which for each byte is worked out from
// the low seven bits' sum (it cannot reach the next byte) and the two top bits.
inline uint64_t GreaterBytes(uint64_t v, uint64_t t) {
    const uint64_t c = ~t;  // 255 - t in every byte
    const uint64_t low = (v & kLow7) + (c & kLow7);
    return ((v & c) | ((v ^ c) & low)) & kHigh;
}

// True when every byte of v is 0 or 255.
inline bool AllBlackOrWhite(uint64_t v) {
    return ((v & kHigh) >> 7) * 0xFF == v;
}

}  // namespace ximabits
