// DfHeadRow: a page row centred on the print head.
#include "printers/headrow.h"

#include <cstring>

bool DfHeadRow(CxImage& page, unsigned y, int head, uint8_t* out) {
    if (head <= 0) return false;
    const size_t n = (static_cast<size_t>(head) + 7) / 8;
    std::memset(out, 0, n);
    const uint8_t* row = y < page.GetHeight() ? page.GetBits(y) : nullptr;
    if (!row) return false;
    const long w = static_cast<long>(page.GetWidth());
    const long offset = (head - w) / 2;  // negative: the page's edges are cut
    for (long x = 0; x < head; x++) {
        const long sx = x - offset;
        if (sx < 0 || sx >= w) continue;
        if (!(row[sx >> 3] & (0x80 >> (sx & 7)))) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    return true;
}

uint8_t DfReverseBits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}
