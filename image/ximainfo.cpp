// CxImage information fields (last error, resolution), pixel accessors by
// index and by colour, and the transparency tests built on them.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "image/ximage.h"

void CxImage::SetLastError(const char* text) {
    std::snprintf(m_info.lastError, sizeof(m_info.lastError), "%s", text ? text : "");
}

// dots per inch -> pixels per metre, saturated so that absurd resolutions
// from a page header cannot overflow the signed header field.
static int32_t DpiToPpm(int dpi) {
    const double ppm = std::floor(dpi * 10000.0 / 254.0 + 0.5);
    return ppm >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(ppm);
}

void CxImage::SetXDPI(int dpi) {
    if (dpi <= 0) dpi = 96;
    m_info.xDpi = dpi;
    m_head.biXPelsPerMeter = DpiToPpm(dpi);
    if (m_dib) std::memcpy(m_dib, &m_head, sizeof(m_head));
}

void CxImage::SetYDPI(int dpi) {
    if (dpi <= 0) dpi = 96;
    m_info.yDpi = dpi;
    m_head.biYPelsPerMeter = DpiToPpm(dpi);
    if (m_dib) std::memcpy(m_dib, &m_head, sizeof(m_head));
}

void CxImage::SetClrImportant(unsigned n) {
    m_head.biClrImportant = n;
    m_info.nearestValid = false;
    if (m_dib) std::memcpy(m_dib, &m_head, sizeof(m_head));
}

uint8_t CxImage::GetPixelIndex(long x, long y) const {
    if (!m_dib || !m_head.biClrUsed) return 0;
    if (!IsInside(x, y)) {
        if (m_info.transIndex >= 0) return static_cast<uint8_t>(m_info.transIndex);
        return BlindGetPixelIndex(0, 0);
    }
    return BlindGetPixelIndex(x, y);
}

void CxImage::SetPixelIndex(long x, long y, uint8_t index) {
    if (!m_dib || !m_head.biClrUsed || !IsInside(x, y)) return;
    BlindSetPixelIndex(x, y, index);
}

tagRGBQUAD CxImage::BlindGetPixelColor(long x, long y, bool getAlpha) const {
    tagRGBQUAD c;
    if (m_head.biClrUsed) {
        c = GetPalette()[BlindGetPixelIndex(x, y)];
    } else {
        const uint8_t* p = RowPtr(static_cast<unsigned>(y)) + 3 * static_cast<size_t>(x);
        c.rgbBlue = p[0];
        c.rgbGreen = p[1];
        c.rgbRed = p[2];
        c.rgbReserved = 0;
    }
    if (getAlpha && m_alpha) c.rgbReserved = BlindAlphaGet(x, y);
    return c;
}

tagRGBQUAD CxImage::GetPixelColor(long x, long y, bool getAlpha) const {
    if (!m_dib || !IsInside(x, y)) {
        if (m_info.transIndex >= 0) return GetTransColor();
        if (!m_dib) return m_info.bkColor;
        x = 0;
        y = 0;
        getAlpha = false;
    }
    tagRGBQUAD c = BlindGetPixelColor(x, y, false);
    if (!m_head.biClrUsed) c.rgbReserved = m_info.bkColor.rgbReserved;
    if (getAlpha && m_alpha) c.rgbReserved = BlindAlphaGet(x, y);
    return c;
}

void CxImage::BlindSetPixelColor(long x, long y, tagRGBQUAD c, bool setAlpha) {
    if (m_head.biClrUsed) {
        BlindSetPixelIndex(x, y, GetNearestIndex(c));
    } else {
        uint8_t* p = RowPtr(static_cast<unsigned>(y)) + 3 * static_cast<size_t>(x);
        p[0] = c.rgbBlue;
        p[1] = c.rgbGreen;
        p[2] = c.rgbRed;
    }
    if (setAlpha) AlphaSet(x, y, c.rgbReserved);
}

void CxImage::SetPixelColor(long x, long y, tagRGBQUAD c, bool setAlpha) {
    if (!m_dib || !IsInside(x, y)) return;
    BlindSetPixelColor(x, y, c, setAlpha);
}

void CxImage::SetTransIndex(long index) {
    m_info.transIndex = index < static_cast<long>(m_head.biClrUsed) ? index : 0;
}

tagRGBQUAD CxImage::GetTransColor() const {
    if (m_head.biBitCount < 24 && m_info.transIndex >= 0)
        return GetPaletteColor(static_cast<unsigned>(m_info.transIndex));
    return m_info.bkColor;
}

bool CxImage::IsTransparent(long x, long y) const {
    if (!m_dib) return false;
    if (m_info.transIndex >= 0) {
        if (m_head.biClrUsed) {
            if (GetPixelIndex(x, y) == m_info.transIndex) return true;
        } else {
            const tagRGBQUAD c = GetPixelColor(x, y, false);
            if (std::memcmp(&c, &m_info.bkColor, sizeof(c)) == 0) return true;
        }
    }
    return m_alpha && AlphaGet(x, y) == 0;
}
