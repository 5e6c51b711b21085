// The threshold matrices of CxImage::Dither's ordered methods, for the
// tests to read rather than copy.
#pragma once

#include <cstdint>

namespace ximadither {
extern const uint8_t kBayer4[4][4];      // Dither(1), indexed [y mod 4][x mod 4]
extern const uint8_t kBayer8[8][8];      // Dither(8), indexed [x mod 8][y mod 8]
extern const uint8_t kScreen16[16][16];  // Dither(9), indexed [x mod 16][y mod 16]
}  // namespace ximadither
