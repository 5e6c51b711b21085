// CxImage pixel-moving operations: rotation (exact half and quarter turns,
// sampled turns for other angles), cropping, and the conversion to 8-bit
// grey that every reduction to one bit starts with.
//
// The hot loops work on row pointers instead of the range-checked accessors;
// the results are the same pixel for pixel (the tests hold a plain accessor
// version of each to compare against). Row tails of results are not
// meaningful: the page pipeline whitens them before printing.
#include <cmath>
#include <cstring>
#include <utility>

#include "image/ximage.h"

namespace {

inline uint8_t GetIdx(const uint8_t* row, unsigned bpp, size_t x) {
    switch (bpp) {
    case 1:
        return static_cast<uint8_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
    case 4:
        return (x & 1) ? static_cast<uint8_t>(row[x >> 1] & 0x0F) : static_cast<uint8_t>(row[x >> 1] >> 4);
    default:
        return row[x];
    }
}

inline void SetIdx(uint8_t* row, unsigned bpp, size_t x, uint8_t v) {
    switch (bpp) {
    case 1: {
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
        row[x >> 3] = (v & 1) ? static_cast<uint8_t>(row[x >> 3] | mask) : static_cast<uint8_t>(row[x >> 3] & ~mask);
        break;
    }
    case 4:
        if (x & 1)
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (v & 0x0F));
        else
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | ((v & 0x0F) << 4));
        break;
    default:
        row[x] = v;
        break;
    }
}

inline uint8_t GreyLevel(uint8_t b, uint8_t g, uint8_t r) {
    return static_cast<uint8_t>((b * 117u + g * 601u + r * 306u) >> 10);
}

// Result (nx, ny) = src (w-1-ny, nx) for ccw, src (ny, h-1-nx) otherwise;
// dst is h x w with src's depth. Each result row gathers one source column.
void QuarterTurnPixels(const CxImage& src, CxImage& dst, bool ccw) {
    const size_t w = src.GetWidth(), h = src.GetHeight();
    const unsigned bpp = src.GetBpp();
    const ptrdiff_t eff = static_cast<ptrdiff_t>(src.GetEffWidth());
    // Result column nx reads source row nx (ccw) or h-1-nx; in is advanced
    // only while it stays inside the block.
    const uint8_t* first = ccw ? src.GetBits(0) : src.GetBits(static_cast<unsigned>(h - 1));
    const ptrdiff_t step = ccw ? eff : -eff;
    auto next = [step, h](const uint8_t*& in, size_t nx) {
        if (nx + 1 < h) in += step;
    };
    const uint8_t* srcAlpha = src.AlphaGetPointer();
    uint8_t* dstAlpha = dst.AlphaGetPointer();

    for (size_t ny = 0; ny < w; ++ny) {
        const size_t sx = ccw ? w - 1 - ny : ny;
        uint8_t* out = dst.GetBits(static_cast<unsigned>(ny));
        const uint8_t* in = first;
        switch (bpp) {
        case 1: {
            const size_t byte = sx >> 3;
            const unsigned shift = 7 - static_cast<unsigned>(sx & 7);
            unsigned acc = 0;
            size_t nx = 0;
            for (; nx < h; next(in, nx), ++nx) {
                acc = (acc << 1) | ((in[byte] >> shift) & 1u);
                if ((nx & 7) == 7) {
                    out[nx >> 3] = static_cast<uint8_t>(acc);
                    acc = 0;
                }
            }
            if (h & 7) out[h >> 3] = static_cast<uint8_t>(acc << (8 - (h & 7)));
            break;
        }
        case 4:
            for (size_t nx = 0; nx < h; next(in, nx), ++nx) SetIdx(out, 4, nx, GetIdx(in, 4, sx));
            break;
        case 8:
            for (size_t nx = 0; nx < h; next(in, nx), ++nx) out[nx] = in[sx];
            break;
        default:
            for (size_t nx = 0; nx < h; next(in, nx), ++nx) {
                out[3 * nx] = in[3 * sx];
                out[3 * nx + 1] = in[3 * sx + 1];
                out[3 * nx + 2] = in[3 * sx + 2];
            }
            break;
        }
        if (srcAlpha && dstAlpha) {
            uint8_t* arow = dstAlpha + ny * h;
            for (size_t nx = 0; nx < h; ++nx) {
                const size_t sy = ccw ? nx : h - 1 - nx;
                arow[nx] = srcAlpha[sy * w + sx];
            }
        }
    }
}

void HalfTurnPixels(const CxImage& src, CxImage& dst) {
    const size_t w = src.GetWidth(), h = src.GetHeight();
    const unsigned bpp = src.GetBpp();
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* in = src.GetBits(static_cast<unsigned>(y));
        uint8_t* out = dst.GetBits(static_cast<unsigned>(h - 1 - y));
        switch (bpp) {
        case 1:
        case 4:
            for (size_t x = 0; x < w; ++x) SetIdx(out, bpp, w - 1 - x, GetIdx(in, bpp, x));
            break;
        case 8:
            for (size_t x = 0; x < w; ++x) out[w - 1 - x] = in[x];
            break;
        default:
            for (size_t x = 0; x < w; ++x) {
                uint8_t* o = out + 3 * (w - 1 - x);
                o[0] = in[3 * x];
                o[1] = in[3 * x + 1];
                o[2] = in[3 * x + 2];
            }
            break;
        }
    }
    const uint8_t* srcAlpha = src.AlphaGetPointer();
    uint8_t* dstAlpha = dst.AlphaGetPointer();
    if (srcAlpha && dstAlpha) {
        const size_t n = w * h;
        for (size_t i = 0; i < n; ++i) dstAlpha[n - 1 - i] = srcAlpha[i];
    }
}

}  // namespace

bool CxImage::Rotate(float angle, CxImage* dst) {
    if (!m_dib) return false;
    // A NaN or infinite angle has no meaning and would poison every size below.
    if (!std::isfinite(angle)) return false;

    const double a = angle;
    if (std::fmod(a, 180.0) == 0.0 && std::fmod(a, 360.0) != 0.0) return Rotate180(dst);

    const unsigned w = GetWidth(), h = GetHeight(), bpp = GetBpp();
    double turn = std::fmod(a, 360.0);
    if (turn < 0) turn += 360.0;
    if (turn == 90.0 || turn == 270.0) {
        // Quarter turns map pixels one to one; sampling would read one column
        // (or row) outside the page and drop the opposite one.
        CxImage tmp(0);
        if (!CreateResult(tmp, h, w, bpp)) return false;
        tmp.SetPalette(GetPalette(), 256);
        if (m_alpha && !tmp.AlphaCreate()) {
            SetLastError(CXIMAGE_ERR_NOMEM);
            return false;
        }
        QuarterTurnPixels(*this, tmp, turn == 90.0);
        (dst ? *dst : *this).Transfer(tmp);
        return true;
    }

    // Any other angle: sample the source at the rounded back-turned position
    // of each result pixel. Nothing in the filter asks for this path.
    const double rad = -a * 1.5707963267948966 / 90.0;
    const double c = std::cos(rad), s = std::sin(rad);
    auto turned = [c, s](double px, double py) {
        return CxPoint2(static_cast<float>(px * c - py * s), static_cast<float>(px * s + py * c));
    };
    const CxPoint2 corners[4] = {CxPoint2(0.0f, 0.0f), turned(w, 0), turned(0, h), turned(w, h)};
    const CxRect2 box = DfBoundingBox(corners, 4);
    // Turned sizes stay below w + h < 2^32; clamp anyway before converting.
    auto toSize = [](float v) {
        return v < 1.0f ? 1u : (v >= 4294967295.0f ? 4294967295u : static_cast<unsigned>(v));
    };
    const unsigned nw = toSize(std::floor(box.max.x + 0.5f - box.min.x));
    const unsigned nh = toSize(std::floor(box.max.y + 0.5f - box.min.y));

    CxImage tmp(0);
    if (!CreateResult(tmp, nw, nh, bpp)) return false;
    tmp.SetPalette(GetPalette(), 256);
    if (m_alpha) {
        if (!tmp.AlphaCreate()) {
            SetLastError(CXIMAGE_ERR_NOMEM);
            return false;
        }
        tmp.AlphaClear();
    }

    const long x0 = static_cast<long>(box.min.x), x1 = static_cast<long>(box.max.x);
    const long y0 = static_cast<long>(box.min.y), y1 = static_cast<long>(box.max.y);
    const bool paletted = m_head.biClrUsed != 0;
    long ny = 0;
    for (long y = y0; y <= y1; ++y, ++ny) {
        long nx = 0;
        for (long x = x0; x <= x1; ++x, ++nx) {
            const long sx = static_cast<long>(x * c + y * s + 0.5);
            const long sy = static_cast<long>(y * c - x * s + 0.5);
            if (paletted)
                tmp.SetPixelIndex(nx, ny, GetPixelIndex(sx, sy));
            else
                tmp.SetPixelColor(nx, ny, GetPixelColor(sx, sy));
            if (m_alpha) tmp.AlphaSet(nx, ny, AlphaGet(sx, sy));
        }
    }
    (dst ? *dst : *this).Transfer(tmp);
    return true;
}

bool CxImage::Rotate180(CxImage* dst) {
    if (!m_dib) return false;
    CxImage tmp(0);
    if (!CreateResult(tmp, GetWidth(), GetHeight(), GetBpp())) return false;
    tmp.SetPalette(GetPalette(), 256);
    if (m_alpha && !tmp.AlphaCreate()) {
        SetLastError(CXIMAGE_ERR_NOMEM);
        return false;
    }
    HalfTurnPixels(*this, tmp);
    (dst ? *dst : *this).Transfer(tmp);
    return true;
}

bool CxImage::Crop(const tagRECT& rect, CxImage* dst) {
    return Crop(rect.left, rect.top, rect.right, rect.bottom, dst);
}

bool CxImage::Crop(int left, int top, int right, int bottom, CxImage* dst) {
    if (!m_dib) return false;
    const long w = GetWidth(), h = GetHeight();
    const unsigned bpp = GetBpp();
    long startX = DfClampLong(left, 0, w), endX = DfClampLong(right, 0, w);
    // Vertical values count from the last row (bottom-up convention).
    long startY = h - DfClampLong(top, 0, h), endY = h - DfClampLong(bottom, 0, h);
    if (startX == endX || startY == endY) return false;
    if (startX > endX) std::swap(startX, endX);
    if (startY > endY) std::swap(startY, endY);

    const size_t rw = static_cast<size_t>(endX - startX), rh = static_cast<size_t>(endY - startY);
    CxImage tmp(0);
    if (!CreateResult(tmp, static_cast<unsigned>(rw), static_cast<unsigned>(rh), bpp)) return false;
    tmp.SetPalette(GetPalette(), m_head.biClrUsed);
    tmp.m_info.transIndex = m_info.transIndex;
    tmp.m_info.bkColor = m_info.bkColor;

    const size_t srcEff = m_info.effWidth;
    for (size_t y = 0; y < rh; ++y) {
        const uint8_t* in = RowPtr(static_cast<unsigned>(startY + y));
        uint8_t* out = tmp.RowPtr(static_cast<unsigned>(y));
        if (bpp == 1 || bpp == 4) {
            // Gather whole result bytes from two neighbouring source bytes; the
            // bits past the last kept pixel land in the (meaningless) row tail.
            const size_t ppb = bpp == 1 ? 8 : 2;                       // pixels per byte
            const size_t k = static_cast<size_t>(startX) / ppb;        // first source byte
            const unsigned r = static_cast<unsigned>(startX % ppb) * bpp;  // bit offset in it
            const size_t nbytes = (rw + ppb - 1) / ppb;
            if (r == 0) {
                std::memcpy(out, in + k, nbytes);
            } else {
                for (size_t j = 0; j < nbytes; ++j) {
                    const unsigned hi = in[k + j];
                    const unsigned lo = k + j + 1 < srcEff ? in[k + j + 1] : 0u;
                    out[j] = static_cast<uint8_t>((hi << r) | (lo >> (8 - r)));
                }
            }
        } else {
            std::memcpy(out, in + (static_cast<size_t>(startX) * bpp) / 8, (rw * bpp) / 8);
        }
    }

    if (m_alpha) {
        if (!tmp.AlphaCreate()) {
            SetLastError(CXIMAGE_ERR_NOMEM);
            return false;
        }
        for (size_t y = 0; y < rh; ++y) {
            std::memcpy(tmp.m_alpha + y * rw, m_alpha + (static_cast<size_t>(startY) + y) * w + startX, rw);
        }
    }
    (dst ? *dst : *this).Transfer(tmp);
    return true;
}

bool CxImage::GrayScale() {
    if (!m_dib) return false;
    const unsigned w = GetWidth(), h = GetHeight(), bpp = GetBpp();

    if (bpp == 24) {
        CxImage tmp(0);
        if (!CreateResult(tmp, w, h, 8)) return false;
        tmp.SetGrayPalette();
        if (m_info.transIndex >= 0) {
            const tagRGBQUAD t = GetTransColor();
            tmp.m_info.transIndex = GreyLevel(t.rgbBlue, t.rgbGreen, t.rgbRed);
        }
        tmp.AlphaCopy(*this);
        for (unsigned y = 0; y < h; ++y) {
            const uint8_t* in = RowPtr(y);
            uint8_t* out = tmp.RowPtr(y);
            for (unsigned x = 0; x < w; ++x, in += 3) out[x] = GreyLevel(in[0], in[1], in[2]);
        }
        Transfer(tmp);
        return true;
    }

    // Paletted: the blue byte of each entry becomes the entry's grey level,
    // and pixels are then mapped through the blue bytes.
    tagRGBQUAD* pal = GetPalette();
    const unsigned n = m_head.biClrUsed;
    uint8_t level[256];
    for (unsigned i = 0; i < n; ++i) {
        pal[i].rgbBlue = GreyLevel(pal[i].rgbBlue, pal[i].rgbGreen, pal[i].rgbRed);
        level[i] = pal[i].rgbBlue;
    }
    m_info.nearestValid = false;
    long trans = m_info.transIndex;
    if (trans >= 0 && trans < static_cast<long>(n)) trans = level[trans];

    if (bpp == 8) {
        // A page that already is grey maps every byte to itself (the usual
        // case: CUPS sends 8-bit grey); the pass over the pixels is skipped.
        bool identity = n == 256;
        for (unsigned i = 0; identity && i < 256; ++i) identity = level[i] == i;
        uint8_t* p = m_info.pixels;
        const size_t size = identity ? 0 : static_cast<size_t>(m_info.effWidth) * h;
        for (size_t i = 0; i < size; ++i) p[i] = level[p[i]];
        SetGrayPalette();
        m_info.transIndex = trans;
        return true;
    }

    CxImage tmp(0);
    if (!CreateResult(tmp, w, h, 8)) return false;
    tmp.SetGrayPalette();
    // Only the result gets the new index: on failure above this image keeps
    // its depth, and a grey level is no index into a 2- or 16-entry palette.
    tmp.m_info.transIndex = trans;
    tmp.AlphaCopy(*this);
    for (unsigned y = 0; y < h; ++y) {
        const uint8_t* in = RowPtr(y);
        uint8_t* out = tmp.RowPtr(y);
        for (unsigned x = 0; x < w; ++x) out[x] = level[GetIdx(in, bpp, x)];
    }
    Transfer(tmp);
    return true;
}
