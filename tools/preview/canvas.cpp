// Page canvas operations of the preview decoder: growing, resizing and
// drawing 1-bit bitmaps into a PreviewPage.
#include "tools/preview/decode_internal.h"

#include <cstring>

const char* PreviewPageLimitText() {
    return "at most 65535 dots a side and 64 million dots";
}

bool PageSizeOk(int64_t width, int64_t height) {
    if (width < 0 || height < 0 || width > kPreviewMaxDots || height > kPreviewMaxDots) return false;
    return (uint64_t)((width + 7) / 8) * (uint64_t)height <= kPreviewMaxPageBytes;
}

// Mask of the dots of the last byte of a row that lie inside the width.
static uint8_t TailMask(int width) {
    int rest = width & 7;
    return rest ? (uint8_t)(0xFF00 >> rest) : 0xFF;
}

void PageResize(PreviewPage* page, int width, int height) {
    size_t rowBytes = ((size_t)width + 7) / 8;
    if (rowBytes == page->rowBytes) {
        page->bits.resize(rowBytes * (size_t)height, 0);
    } else {
        std::vector<uint8_t> bits(rowBytes * (size_t)height, 0);
        size_t copy = rowBytes < page->rowBytes ? rowBytes : page->rowBytes;
        int rows = height < page->height ? height : page->height;
        for (int y = 0; y < rows && copy; y++)
            memcpy(&bits[(size_t)y * rowBytes], &page->bits[(size_t)y * page->rowBytes], copy);
        page->bits.swap(bits);
    }
    page->width = width;
    page->height = height;
    page->rowBytes = rowBytes;
    if (width < 0 || (width & 7) == 0 || rowBytes == 0) return;
    uint8_t mask = TailMask(width);
    for (int y = 0; y < height; y++) page->bits[(size_t)y * rowBytes + rowBytes - 1] &= mask;
}

bool PageGrow(PreviewPage* page, int64_t width, int64_t height) {
    if (width < page->width) width = page->width;
    if (height < page->height) height = page->height;
    if (!PageSizeOk(width, height)) return false;
    if (width != page->width || height != page->height) PageResize(page, (int)width, (int)height);
    return true;
}

static inline void ApplyByte(uint8_t* row, int64_t index, size_t rowBytes, uint8_t mask, uint8_t lastMask,
                             uint8_t value, BlitOp op) {
    if (index < 0 || (uint64_t)index >= rowBytes) return;
    if ((uint64_t)index == rowBytes - 1) mask &= lastMask;
    value &= mask;
    uint8_t& d = row[index];
    switch (op) {
        case BlitOp::Overwrite:
            d = (uint8_t)((d & ~mask) | value);
            break;
        case BlitOp::Or:
            d |= value;
            break;
        case BlitOp::Xor:
            d ^= value;
            break;
    }
}

void PageBlit(PreviewPage* page, int64_t x, int64_t y, const uint8_t* src, size_t srcRowBytes, size_t rows,
              bool blackIsZero, BlitOp op) {
    if (page->width <= 0 || page->height <= 0 || srcRowBytes == 0) return;
    const uint8_t flip = blackIsZero ? 0xFF : 0x00;
    const uint8_t lastMask = TailMask(page->width);
    // Floor division, so that a negative x shifts the same way as a positive one.
    const int64_t base = x >= 0 ? x / 8 : -((-x + 7) / 8);
    const int shift = (int)(x - base * 8);
    for (size_t r = 0; r < rows; r++) {
        int64_t ty = y + (int64_t)r;
        if (ty < 0) continue;
        if (ty >= page->height) break;
        uint8_t* row = &page->bits[(size_t)ty * page->rowBytes];
        const uint8_t* s = src + r * srcRowBytes;
        // Only the source bytes that can land on the row matter.
        int64_t first = base < 0 ? -base - 1 : 0;
        if (first < 0) first = 0;
        int64_t last = (int64_t)page->rowBytes - base;  // exclusive bound
        if (last > (int64_t)srcRowBytes) last = (int64_t)srcRowBytes;
        if (shift == 0) {
            for (int64_t i = first; i < last; i++)
                ApplyByte(row, base + i, page->rowBytes, 0xFF, lastMask, (uint8_t)(s[i] ^ flip), op);
        } else {
            const uint8_t hiMask = (uint8_t)(0xFF >> shift), loMask = (uint8_t)~hiMask;
            for (int64_t i = first; i < last; i++) {
                uint8_t v = (uint8_t)(s[i] ^ flip);
                ApplyByte(row, base + i, page->rowBytes, hiMask, lastMask, (uint8_t)(v >> shift), op);
                ApplyByte(row, base + i + 1, page->rowBytes, loMask, lastMask, (uint8_t)(v << (8 - shift)),
                          op);
            }
        }
    }
}

bool PageHasInk(const PreviewPage& page) {
    for (uint8_t b : page.bits)
        if (b) return true;
    return false;
}
