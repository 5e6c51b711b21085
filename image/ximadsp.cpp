// CxImage tone operations: brightness and contrast (Light through Lut), the
// fixed-level reduction to black and white (Threshold) and the overlay of a
// second image at an offset (Mix). GrayScale lives with the transforms.
#include <cstdint>

#include "image/ximabits.h"
#include "image/ximage.h"

namespace {

// Palette index of pixel x in a row of the given depth (1, 4 or 8 bits).
inline uint8_t RowIndex(const uint8_t* row, long x, unsigned bpp) {
    switch (bpp) {
    case 8:
        return row[x];
    case 4:
        return (x & 1) ? static_cast<uint8_t>(row[x >> 1] & 0x0F) : static_cast<uint8_t>(row[x >> 1] >> 4);
    default:
        return static_cast<uint8_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
    }
}

inline void SetRowIndex(uint8_t* row, long x, unsigned bpp, uint8_t index) {
    switch (bpp) {
    case 8:
        row[x] = index;
        break;
    case 4: {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F))
                    : static_cast<uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
        break;
    }
    default: {
        uint8_t& b = row[x >> 3];
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
        b = (index & 1) ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
        break;
    }
    }
}

// Eight pixels of a 1-bit row starting at bit position pos (which may lie
// before or after the row); bits outside the row's bytes read as 0 and are
// masked off by the caller.
inline uint8_t ReadBits8(const uint8_t* row, long nbytes, long pos) {
    const long q = pos >= 0 ? pos / 8 : -((-pos + 7) / 8);
    const unsigned r = static_cast<unsigned>(pos - q * 8);
    const unsigned hi = (q >= 0 && q < nbytes) ? row[q] : 0u;
    const unsigned lo = (q + 1 >= 0 && q + 1 < nbytes) ? row[q + 1] : 0u;
    return static_cast<uint8_t>((((hi << 8) | lo) << r) >> 8);
}

}  // namespace

bool CxImage::Light(int brightness, int contrast) {
    if (!m_dib) return false;
    // The sums are taken in 64 bits so that absurd settings cannot overflow;
    // for every sane value they are the plain int sums.
    const float factor = static_cast<float>(static_cast<int64_t>(contrast) + 100) / 100.0f;
    const float offset = static_cast<float>(static_cast<int64_t>(brightness) + 128);
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) {
        const float v = static_cast<float>(i - 128) * factor + offset + 0.5f;
        // Clamp before converting: a float outside int's range has no defined
        // conversion. Truncation toward zero of anything below 1 gives 0.
        if (!(v > 0.0f))
            table[i] = 0;
        else if (v >= 255.0f)
            table[i] = 255;
        else
            table[i] = static_cast<uint8_t>(static_cast<int>(v));
    }
    return Lut(table);
}

bool CxImage::Lut(unsigned char* table) {
    if (!m_dib || !table) return false;
    const unsigned bpp = GetBpp();
    if (bpp == 24) {
        // No palette: each colour byte goes through the table.
        const size_t n = static_cast<size_t>(GetWidth()) * 3;
        for (unsigned y = 0; y < GetHeight(); ++y) {
            uint8_t* row = RowPtr(y);
            for (size_t i = 0; i < n; ++i) row[i] = table[row[i]];
        }
        return true;
    }
    const bool wasGray = IsGrayScale();
    const unsigned n = GetNumColors();
    for (unsigned i = 0; i < n; ++i) {
        tagRGBQUAD c = GetPaletteColor(i);
        const bool white = c.rgbRed == 255 && c.rgbGreen == 255 && c.rgbBlue == 255;
        const bool black = c.rgbRed == 0 && c.rgbGreen == 0 && c.rgbBlue == 0;
        if (white || black) continue;
        c.rgbRed = table[c.rgbRed];
        c.rgbGreen = table[c.rgbGreen];
        c.rgbBlue = table[c.rgbBlue];
        SetPaletteColor(i, c);
    }
    // On an 8-bit grey page this is one table pass over the pixel bytes.
    if (wasGray) GrayScale();
    return true;
}

bool CxImage::Threshold(unsigned char level) {
    if (!m_dib) return false;
    if (GetBpp() == 1) return true;
    GrayScale();
    // A failed grey conversion leaves a 4- or 24-bit image whose index reads
    // are no grey levels (all 0 for 24 bits): reducing it would print a black
    // page and call it success. Report the failure and keep the image.
    if (GetBpp() != 8) {
        SetLastError("CxImage::Threshold : grey conversion failed");
        return false;
    }
    const unsigned w = GetWidth(), h = GetHeight();
    CxImage out(w, h, 1, 0);
    if (!out.IsValid()) {
        SetLastError(out.GetLastError());
        return false;
    }
    const uint64_t levels = ximabits::kOnes * level;
    for (unsigned y = 0; y < h; ++y) {
        const uint8_t* in = RowPtr(y);
        uint8_t* o = out.RowPtr(y);
        unsigned x = 0;
        for (; x + 8 <= w; x += 8, in += 8)
            *o++ = ximabits::PackHighBits(ximabits::GreaterBytes(ximabits::Load8(in), levels));
        if (x < w) {
            unsigned b = 0, k = 0;
            for (; x < w; ++x, ++k, ++in) b = (b << 1) | (*in > level ? 1u : 0u);
            *o = static_cast<uint8_t>(b << (8 - k));
        }
    }
    out.SetPaletteColor(0, 0, 0, 0, 0);
    out.SetPaletteColor(1, 255, 255, 255, 0);
    Transfer(out);
    return true;
}

// Only the overlay (and the plain source copy, which is the overlay of an
// opaque source) is implemented; the filter uses nothing else. The other
// operations leave the image unchanged.
void CxImage::Mix(CxImage& src, ImageOpType op, int offsetX, int offsetY, bool mixAlpha) {
    const bool editAlpha = src.AlphaIsValid() && mixAlpha;
    if (editAlpha && !AlphaIsValid()) AlphaCreate();
    if (!m_dib || !src.m_dib) return;
    if (op != OpOverlay && op != OpSrcCopy) return;

    // Visit exactly the pixels whose source position lies inside the source:
    // x in [x0, x1), y in [y0, y1), in rows from the top, left to right.
    const int64_t w = GetWidth(), h = GetHeight();
    const int64_t sw = src.GetWidth(), sh = src.GetHeight();
    const int64_t x0 = offsetX < 0 ? -static_cast<int64_t>(offsetX) : 0;
    const int64_t y0 = offsetY < 0 ? -static_cast<int64_t>(offsetY) : 0;
    const int64_t x1 = sw - offsetX < w ? sw - offsetX : w;
    const int64_t y1 = sh - offsetY < h ? sh - offsetY : h;
    if (x0 >= x1 || y0 >= y1) return;

    const unsigned bpp = GetBpp(), sbpp = src.GetBpp();
    const bool paletted = bpp <= 8 && sbpp <= 8;
    const long srcTrans = src.GetTransIndex();

    if (paletted && !editAlpha && &src != this) {
        // Both images are paletted and the target's alpha is not edited: the
        // outcome of a pixel depends only on the two indices and the source
        // opacity, so the nearest-index searches are done once per colour.
        uint8_t srcMap[256];
        const unsigned sn = src.GetNumColors();
        for (unsigned i = 0; i < sn && i < 256; ++i) srcMap[i] = GetNearestIndex(src.GetPaletteColor(i));
        const bool opaque = op == OpSrcCopy || (!src.AlphaIsValid() && srcTrans < 0);

        if (opaque && bpp == 1 && sbpp == 1 && srcMap[0] == 0 && srcMap[1] == 1) {
            // 1-bit onto 1-bit with matching palettes: bytes are shifted in.
            const long sBytes = static_cast<long>(src.GetEffWidth());
            const long b0 = static_cast<long>(x0 >> 3), b1 = static_cast<long>((x1 - 1) >> 3);
            const uint8_t firstMask = static_cast<uint8_t>(0xFFu >> (x0 & 7));
            const uint8_t lastMask = static_cast<uint8_t>(0xFFu << (7 - ((x1 - 1) & 7)));
            for (int64_t y = y0; y < y1; ++y) {
                uint8_t* d = RowPtr(static_cast<unsigned>(y));
                const uint8_t* s = src.RowPtr(static_cast<unsigned>(y + offsetY));
                for (long j = b0; j <= b1; ++j) {
                    uint8_t mask = 0xFF;
                    if (j == b0) mask &= firstMask;
                    if (j == b1) mask &= lastMask;
                    const uint8_t v = ReadBits8(s, sBytes, j * 8 + offsetX);
                    d[j] = static_cast<uint8_t>((d[j] & ~mask) | (v & mask));
                }
            }
            return;
        }

        uint8_t selfMap[256];
        const tagRGBQUAD* pal = GetPalette();
        const tagRGBQUAD* spal = src.GetPalette();
        if (!opaque) {
            for (unsigned i = 0; i < GetNumColors() && i < 256; ++i) selfMap[i] = GetNearestIndex(pal[i]);
        }
        const uint8_t* salpha = src.AlphaGetPointer();
        const unsigned amax = src.AlphaGetMax();
        for (int64_t y = y0; y < y1; ++y) {
            uint8_t* d = RowPtr(static_cast<unsigned>(y));
            const int64_t sy = y + offsetY;
            const uint8_t* s = src.RowPtr(static_cast<unsigned>(sy));
            const uint8_t* arow = salpha ? salpha + static_cast<size_t>(sy) * static_cast<size_t>(sw) : nullptr;
            for (int64_t x = x0; x < x1; ++x) {
                const long sx = static_cast<long>(x + offsetX);
                const uint8_t si = RowIndex(s, sx, sbpp);
                if (opaque) {
                    SetRowIndex(d, static_cast<long>(x), bpp, srcMap[si]);
                    continue;
                }
                unsigned a = 255;
                if (srcTrans >= 0 && si == srcTrans)
                    a = 0;
                else if (arow)
                    a = arow[sx] * amax / 255;
                const uint8_t di = RowIndex(d, static_cast<long>(x), bpp);
                uint8_t out;
                if (a == 0) {
                    out = selfMap[di];
                } else if (a == 255) {
                    out = srcMap[si];
                } else {
                    const tagRGBQUAD c1 = pal[di], c2 = spal[si];
                    tagRGBQUAD c;
                    c.rgbBlue = static_cast<uint8_t>((c1.rgbBlue * (255 - a) + c2.rgbBlue * a) / 255);
                    c.rgbGreen = static_cast<uint8_t>((c1.rgbGreen * (255 - a) + c2.rgbGreen * a) / 255);
                    c.rgbRed = static_cast<uint8_t>((c1.rgbRed * (255 - a) + c2.rgbRed * a) / 255);
                    c.rgbReserved = 0;
                    out = GetNearestIndex(c);
                }
                SetRowIndex(d, static_cast<long>(x), bpp, out);
            }
        }
        return;
    }

    // Any other combination (true colour, alpha mixing, an image mixed into
    // itself) goes pixel by pixel through the accessors, in scan order.
    for (int64_t y = y0; y < y1; ++y) {
        for (int64_t x = x0; x < x1; ++x) {
            const long sx = static_cast<long>(x + offsetX), sy = static_cast<long>(y + offsetY);
            const tagRGBQUAD c1 = GetPixelColor(static_cast<long>(x), static_cast<long>(y));
            const tagRGBQUAD c2 = src.GetPixelColor(sx, sy);
            unsigned a = 255;
            if (op == OpOverlay) {
                if (src.IsTransparent(sx, sy))
                    a = 0;
                else if (src.AlphaIsValid())
                    a = src.AlphaGet(sx, sy) * static_cast<unsigned>(src.AlphaGetMax()) / 255;
            }
            tagRGBQUAD c;
            if (a == 0) {
                c = c1;
            } else if (a == 255) {
                c = c2;
                if (editAlpha) c.rgbReserved = c1.rgbReserved;
            } else {
                c.rgbBlue = static_cast<uint8_t>((c1.rgbBlue * (255 - a) + c2.rgbBlue * a) / 255);
                c.rgbGreen = static_cast<uint8_t>((c1.rgbGreen * (255 - a) + c2.rgbGreen * a) / 255);
                c.rgbRed = static_cast<uint8_t>((c1.rgbRed * (255 - a) + c2.rgbRed * a) / 255);
                c.rgbReserved = static_cast<uint8_t>(editAlpha ? c1.rgbReserved * a / 255 : c1.rgbReserved);
            }
            SetPixelColor(static_cast<long>(x), static_cast<long>(y), c, editAlpha);
        }
    }
}
