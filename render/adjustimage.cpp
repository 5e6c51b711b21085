// Page preparation on CBaseRender: the fixed sequence that turns the raster
// page in m_image into the 1-bit bitmap the renderers send (grey, brightness
// and contrast, threshold or dither, white margins, rotation, shift, white
// row tails), and the bitmap helpers the renderers call themselves.
#include <climits>
#include <cstdint>
#include <cstring>

#include "base/intmath.h"
#include "render/baserender.h"

namespace {

// Column of the first black (0) pixel among the first w pixels of a 1-bit
// row, or -1.
long FirstBlack(const uint8_t* row, long w) {
    const long full = w / 8;
    for (long j = 0; j < full; ++j) {
        if (row[j] != 0xFF) return j * 8 + __builtin_clz(static_cast<unsigned>(~row[j] & 0xFF)) - 24;
    }
    const long rest = w % 8;
    if (rest) {
        const unsigned inv = ~(row[full] | (0xFFu >> rest)) & 0xFFu;
        if (inv) return full * 8 + __builtin_clz(inv) - 24;
    }
    return -1;
}

// Column of the last black pixel among the first w pixels, or -1.
long LastBlack(const uint8_t* row, long w) {
    const long full = w / 8;
    const long rest = w % 8;
    if (rest) {
        const unsigned inv = ~(row[full] | (0xFFu >> rest)) & 0xFFu;
        if (inv) return full * 8 + 7 - __builtin_ctz(inv);
    }
    for (long j = full - 1; j >= 0; --j) {
        if (row[j] != 0xFF) return j * 8 + 7 - __builtin_ctz(static_cast<unsigned>(~row[j] & 0xFF));
    }
    return -1;
}

// Black pixel test for a page that is not 1-bit (only after a failed
// reduction): index 0 is black on every grey palette.
bool IsBlackAt(const CxImage& img, long x, long y) { return img.GetPixelIndex(x, y) == 0; }

}  // namespace

int CBaseRender::mm_2_dots(int mm) {
    // A page never has a resolution of 0 or less (the driver refuses it);
    // such a value converts every distance to 0 dots.
    if (m_iDpi <= 0) return 0;
    const double v = mm * (m_iDpi / 25.4) + 0.9999;
    // Absurd settings (9999 mm at a huge resolution) must not overflow int.
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

void CBaseRender::Negative() {
    uint8_t* p = m_image.GetBits(0);
    if (!p) return;
    const size_t n = static_cast<size_t>(m_image.GetEffWidth()) * m_image.GetHeight();
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

void CBaseRender::AdjustEffWidthBits() {
    if (!m_image.IsValid()) return;
    const unsigned h = m_image.GetHeight();
    const size_t eff = m_image.GetEffWidth();
    // Counted in bits, so that a page left deeper than 1 bit by a failed
    // reduction gets its tails (and nothing else) whitened as well.
    const uint64_t bits = static_cast<uint64_t>(m_image.GetWidth()) * m_image.GetBpp();
    const size_t full = static_cast<size_t>(bits / 8);
    const unsigned rest = static_cast<unsigned>(bits % 8);
    if (full >= eff) return;
    for (unsigned y = 0; y < h; ++y) {
        uint8_t* row = m_image.GetBits(y);
        size_t from = full;
        if (rest) {
            row[full] = static_cast<uint8_t>(row[full] | (0xFFu >> rest));
            ++from;
        }
        if (from < eff) std::memset(row + from, 0xFF, eff - from);
    }
}

void CBaseRender::CropWhiteEdge(int top, int bottom, int left, int right) {
    if (top == 0 && bottom == 0 && left == 0 && right == 0) return;
    if (!m_image.IsValid()) return;
    if (top < 0) top = 9999;
    if (bottom < 0) bottom = 9999;
    if (left < 0) left = 9999;
    if (right < 0) right = 9999;
    const long topDots = mm_2_dots(top), bottomDots = mm_2_dots(bottom);
    const long leftDots = mm_2_dots(left), rightDots = mm_2_dots(right);

    const long w = static_cast<long>(m_image.GetWidth());
    const long h = static_cast<long>(m_image.GetHeight());
    const bool oneBit = m_image.GetBpp() == 1;

    // First black row from the top (or -1), last from the bottom, and the
    // leftmost and rightmost black columns over all rows.
    auto rowHasBlack = [&](long y) -> bool {
        if (oneBit) return FirstBlack(m_image.GetBits(static_cast<unsigned>(y)), w) >= 0;
        for (long x = 0; x < w; ++x)
            if (IsBlackAt(m_image, x, y)) return true;
        return false;
    };

    long cutTop = 0, cutBottom = 0, cutLeft = 0, cutRight = 0;
    if (bottom > 0) {
        for (long y = h - 1; y >= 0; --y) {
            if (rowHasBlack(y)) {
                cutBottom = h - 1 - y;
                break;
            }
        }
        if (cutBottom > bottomDots) cutBottom = bottomDots;
    }
    if (top > 0) {
        for (long y = 0; y < h; ++y) {
            if (rowHasBlack(y)) {
                cutTop = y;
                break;
            }
        }
        if (cutTop > topDots) cutTop = topDots;
    }
    if (left > 0) {
        long c = -1;
        for (long y = 0; y < h && c != 0; ++y) {
            long f = -1;
            if (oneBit) {
                f = FirstBlack(m_image.GetBits(static_cast<unsigned>(y)), c < 0 ? w : c);
            } else {
                for (long x = 0; x < (c < 0 ? w : c); ++x)
                    if (IsBlackAt(m_image, x, y)) {
                        f = x;
                        break;
                    }
            }
            if (f >= 0) c = f;
        }
        if (c >= 0) cutLeft = c < leftDots ? c : leftDots;
    }
    if (right > 0) {
        long c = -1;
        for (long y = 0; y < h && c != w - 1; ++y) {
            long f = -1;
            if (oneBit) {
                f = LastBlack(m_image.GetBits(static_cast<unsigned>(y)), w);
            } else {
                for (long x = w - 1; x >= 0; --x)
                    if (IsBlackAt(m_image, x, y)) {
                        f = x;
                        break;
                    }
            }
            if (f > c) c = f;
        }
        if (c >= 0) {
            cutRight = w - 1 - c;
            // One column more than the limit may go on this edge.
            if (cutRight > rightDots + 1) cutRight = rightDots + 1;
        }
    }

    // Crop counts its vertical bounds from the last row: this rectangle keeps
    // rows cutTop .. h - cutBottom - 1 and columns cutLeft .. w - cutRight - 1.
    // The result goes straight into the page; should it fail (no memory),
    // the page stays whole instead of becoming the empty temporary.
    if (!m_image.Crop(static_cast<int>(cutLeft), static_cast<int>(cutBottom), static_cast<int>(w - cutRight),
                      static_cast<int>(h - cutTop))) {
        AddLog("CropWhiteEdge: %s", m_image.GetLastError());
    }
}

void CBaseRender::AdjustImage() {
    if (!m_image.IsValid()) return;

    if (m_image.GetBpp() > 23) m_image.GrayScale();

    if (m_halftone.iLiangdu != 0 || m_halftone.iDuibidu != 0) m_image.Light(m_halftone.iLiangdu, m_halftone.iDuibidu);

    bool reduced;
    if (static_cast<int>(m_halftone.iGrayMethod) < 1)
        reduced = m_image.Threshold(static_cast<unsigned char>(m_halftone.iThreValue));
    else
        reduced = m_image.Dither(static_cast<int>(m_halftone.iGrayMethod) - 1);
    if (!reduced) AddLog("AdjustImage: %s", m_image.GetLastError());

    CropWhiteEdge(m_halftone.iCropTopEdge, m_halftone.iCropBottomEdge, m_halftone.iCropLeftEdge,
                  m_halftone.iCropRightEdge);

    bool turned = true;
    switch (m_reg.iRotate) {
    case DfRotation::HalfTurn:
        turned = m_image.Rotate(180.0f);
        break;
    case DfRotation::QuarterTurnCcw:
        turned = m_image.Rotate(90.0f);
        break;
    case DfRotation::QuarterTurnCw:
        turned = m_image.Rotate(270.0f);
        break;
    default:
        break;
    }
    if (!turned) AddLog("AdjustImage: %s", m_image.GetLastError());

    if (m_reg.iReference[0] != 0 || m_reg.iReference[1] != 0) {
        if (m_iDpi <= 0) {
            AddLog("AdjustImage: no shift at a resolution of %d dpi", m_iDpi);
        } else {
            // The product wraps in 32 bits rather than overflowing; any wrapped
            // value divided by 25.4 fits an int again.
            const int dx = static_cast<int>(static_cast<double>(DfWrapMul(m_reg.iReference[0], m_iDpi)) / 25.4);
            const int dy = static_cast<int>(static_cast<double>(DfWrapMul(m_reg.iReference[1], m_iDpi)) / 25.4);
            CxImage copy(0);
            copy.Copy(m_image, true, true, true);
            if (!copy.IsValid()) {
                // Whitening the page with nothing to draw back would lose it.
                AddLog("AdjustImage: %s", copy.GetLastError());
            } else {
                uint8_t* p = m_image.GetBits(0);
                std::memset(p, 0xFF, static_cast<size_t>(m_image.GetEffWidth()) * m_image.GetHeight());
                m_image.Mix(copy, CxImage::OpOverlay, dx, -dy, false);
            }
        }
    }

    AdjustEffWidthBits();
}
