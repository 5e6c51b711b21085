// Test helper: prepared page bitmaps and byte builders.
#include "helpers/pages.h"

#include <gtest/gtest.h>

void FillPreparedPage(CxImage& img, unsigned w, unsigned h, unsigned seed,
                      const std::function<bool(unsigned)>& whiteRow) {
    EXPECT_NE(img.Create(w, h, 1, 0), nullptr);
    img.SetGrayPalette();
    const unsigned eff = img.GetEffWidth();
    unsigned x = seed;
    for (unsigned y = 0; y < h; y++) {
        uint8_t* row = img.GetBits(y);
        const bool white = whiteRow && whiteRow(y);
        for (unsigned i = 0; i < eff; i++) {
            x = x * 1103515245u + 12345u;
            row[i] = white ? 0xFF : static_cast<uint8_t>(x >> 16);
        }
        if (w % 8) row[w / 8] |= static_cast<uint8_t>(0xFF >> (w % 8));
        for (unsigned i = (w + 7) / 8; i < eff; i++) row[i] = 0xFF;
    }
}

ByteVec InvertedRows(CxImage& img, unsigned bytesPerRow, const std::function<bool(unsigned)>& skipRow) {
    ByteVec wire;
    for (unsigned y = 0; y < img.GetHeight(); y++) {
        if (skipRow && skipRow(y)) continue;
        const uint8_t* row = img.GetBits(y);
        for (unsigned i = 0; i < bytesPerRow; i++) wire.push_back(static_cast<unsigned char>(~row[i]));
    }
    return wire;
}

ByteVec Cat(std::initializer_list<ByteVec> parts) {
    ByteVec all;
    for (const ByteVec& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

ByteVec RasterHeader(int mode, int bytesPerRow, int rows) {
    return ByteVec{0x1D, 0x76, 0x30, static_cast<unsigned char>(mode), static_cast<unsigned char>(bytesPerRow & 0xFF),
                   static_cast<unsigned char>((bytesPerRow >> 8) & 0xFF), static_cast<unsigned char>(rows & 0xFF),
                   static_cast<unsigned char>((rows >> 8) & 0xFF)};
}
