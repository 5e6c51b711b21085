// DfHeadRow: one row of a prepared page (1 bit, 0 = black) as a print head
// of a given width takes it: the page centred on the head (a narrower page
// gets white on both sides, a wider one loses both edges alike), 1 = black,
// packed first dot in the most significant bit. Used by the families whose
// rows always cover the whole head.
#pragma once

#include <cstdint>

#include "image/ximage.h"

// Writes (head + 7) / 8 bytes to out; false when y is not a row of the page.
bool DfHeadRow(CxImage& page, unsigned y, int head, uint8_t* out);
// The same byte with its bit order reversed (for printers that take the
// first dot in the least significant bit).
uint8_t DfReverseBits(uint8_t b);
