// CxImage alpha plane: one unaligned byte per pixel (255 opaque), present only
// for pages that arrived with 32 bits per pixel and their copies.
#include <cstdlib>
#include <cstring>

#include "image/ximage.h"

static size_t PlaneSize(const CxImage& img) {
    return static_cast<size_t>(img.GetWidth()) * img.GetHeight();
}

bool CxImage::AlphaCreate() {
    if (m_alpha) return true;
    if (!m_dib) return false;
    const size_t n = PlaneSize(*this);
    m_alpha = static_cast<uint8_t*>(std::malloc(n));
    if (!m_alpha) return false;
    std::memset(m_alpha, 255, n);
    return true;
}

void CxImage::AlphaDelete() {
    std::free(m_alpha);
    m_alpha = nullptr;
}

void CxImage::AlphaClear() {
    if (m_alpha) std::memset(m_alpha, 0, PlaneSize(*this));
}

bool CxImage::AlphaCopy(const CxImage& from) {
    if (!from.m_alpha || !m_dib || GetWidth() != from.GetWidth() || GetHeight() != from.GetHeight()) return false;
    if (&from == this) return true;
    const size_t n = PlaneSize(*this);
    if (!m_alpha) {
        m_alpha = static_cast<uint8_t*>(std::malloc(n));
        if (!m_alpha) return false;
    }
    std::memcpy(m_alpha, from.m_alpha, n);
    m_info.alphaMax = from.m_info.alphaMax;
    return true;
}

uint8_t CxImage::AlphaGet(long x, long y) const {
    if (!m_alpha || !IsInside(x, y)) return 0;
    return BlindAlphaGet(x, y);
}

void CxImage::AlphaSet(long x, long y, uint8_t value) {
    if (!m_alpha || !IsInside(x, y)) return;
    m_alpha[static_cast<size_t>(x) + static_cast<size_t>(y) * GetWidth()] = value;
}
