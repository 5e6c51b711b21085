// CxImage palette: entries, the grey palettes, and the nearest-colour search
// (with its one-colour cache) that colour writes to paletted images use.
#include <algorithm>
#include <cstring>

#include "image/ximage.h"

unsigned CxImage::GetPaletteSize() const {
    return m_dib ? 4u * m_head.biClrUsed : 0u;
}

tagRGBQUAD* CxImage::GetPalette() const {
    if (!m_dib || !m_head.biClrUsed) return nullptr;
    return reinterpret_cast<tagRGBQUAD*>(static_cast<uint8_t*>(m_dib) + sizeof(tagBITMAPINFOHEADER));
}

tagRGBQUAD CxImage::GetPaletteColor(unsigned index) const {
    const tagRGBQUAD* pal = GetPalette();
    if (pal && index < m_head.biClrUsed) return pal[index];
    return tagRGBQUAD{0, 0, 0, 0};
}

void CxImage::SetPaletteColor(unsigned index, uint8_t r, uint8_t g, uint8_t b, uint8_t alpha) {
    SetPaletteColor(index, tagRGBQUAD{b, g, r, alpha});
}

void CxImage::SetPaletteColor(unsigned index, tagRGBQUAD c) {
    tagRGBQUAD* pal = GetPalette();
    if (!pal || index >= m_head.biClrUsed) return;
    pal[index] = c;
    m_info.nearestValid = false;
}

void CxImage::SetPalette(const tagRGBQUAD* entries, unsigned count) {
    tagRGBQUAD* pal = GetPalette();
    if (!pal || !entries) return;
    const size_t n = std::min<size_t>(4 * static_cast<size_t>(count), GetPaletteSize());
    std::memmove(pal, entries, n);
    m_info.nearestValid = false;
}

void CxImage::SetGrayPalette() {
    tagRGBQUAD* pal = GetPalette();
    const unsigned n = m_head.biClrUsed;
    if (!pal || n < 2) return;
    const unsigned step = 255 / (n - 1);
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t v = static_cast<uint8_t>(step * i);
        pal[i].rgbBlue = v;
        pal[i].rgbGreen = v;
        pal[i].rgbRed = v;
    }
    m_info.nearestValid = false;
}

bool CxImage::IsGrayScale() const {
    const tagRGBQUAD* pal = GetPalette();
    if (!pal) return false;
    for (unsigned i = 0; i < m_head.biClrUsed; ++i) {
        if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i) return false;
    }
    return true;
}

uint8_t CxImage::GetNearestIndex(tagRGBQUAD c) {
    const tagRGBQUAD* pal = GetPalette();
    if (!pal) return 0;
    if (m_info.nearestValid && std::memcmp(&m_info.nearestColor, &c, sizeof(c)) == 0) return m_info.nearestIndex;

    m_info.nearestColor = c;
    m_info.nearestValid = true;
    // Colours-important narrows the search, but never past the palette's end.
    unsigned n = m_head.biClrUsed;
    if (m_head.biClrImportant && m_head.biClrImportant < n) n = m_head.biClrImportant;
    long best = 200000;
    unsigned bestIndex = 0;
    for (unsigned i = 0; i < n; ++i) {
        const long db = static_cast<long>(pal[i].rgbBlue) - c.rgbBlue;
        const long dg = static_cast<long>(pal[i].rgbGreen) - c.rgbGreen;
        const long dr = static_cast<long>(pal[i].rgbRed) - c.rgbRed;
        const long d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            bestIndex = i;
            break;
        }
        if (d < best) {
            best = d;
            bestIndex = i;
        }
    }
    m_info.nearestIndex = static_cast<uint8_t>(bestIndex);
    return m_info.nearestIndex;
}
