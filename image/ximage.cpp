// CxImage lifetime: construction, Create / CreateFromArray, deep copies,
// moving content between images with Transfer, and row access.
#include "image/ximage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

CxImage::CxImage(unsigned type) : m_dib(nullptr), m_alpha(nullptr) {
    ResetFields(type);
}

CxImage::CxImage(unsigned width, unsigned height, unsigned bpp, unsigned type) : m_dib(nullptr), m_alpha(nullptr) {
    ResetFields(type);
    Create(width, height, bpp, type);
}

CxImage::CxImage(const CxImage& src) : m_dib(nullptr), m_alpha(nullptr) {
    ResetFields(0);
    Copy(src, true, true, true);
}

CxImage::~CxImage() {
    std::free(m_dib);
    std::free(m_alpha);
}

void CxImage::ResetFields(unsigned type) {
    std::memset(&m_head, 0, sizeof(m_head));
    std::memset(&m_info, 0, sizeof(m_info));
    m_info.type = type;
    m_info.transIndex = -1;
    m_info.alphaMax = 255;
    m_info.enabled = true;
    SetXDPI(96);
    SetYDPI(96);
}

bool CxImage::Destroy() {
    std::free(m_dib);
    m_dib = nullptr;
    m_info.pixels = nullptr;
    AlphaDelete();
    return true;
}

void* CxImage::Create(unsigned width, unsigned height, unsigned bpp, unsigned type) {
    Destroy();
    if (width == 0 || height == 0) {
        SetLastError(CXIMAGE_ERR_NOSIZE);
        return nullptr;
    }
    if (bpp <= 1)
        bpp = 1;
    else if (bpp <= 4)
        bpp = 4;
    else if (bpp <= 8)
        bpp = 8;
    else
        bpp = 24;

    if (static_cast<float>(width) * static_cast<float>(height) * static_cast<float>(bpp) / 8.0f > CXIMAGE_MAX_MEMORY) {
        SetLastError(CXIMAGE_ERR_MAXMEM);
        return nullptr;
    }
    // The float test above ignores row padding and rounds, so it lets through
    // sizes the signed header fields and the 32-bit image size cannot hold
    // (a 1-pixel-wide image of 2^31 rows, say). Those are refused as well.
    const uint64_t effWidth = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
    const uint64_t imageSize = effWidth * height;
    const uint32_t colors = bpp == 1 ? 2u : bpp == 4 ? 16u : bpp == 8 ? 256u : 0u;
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu || imageSize > 0xFFFFFFFFull - 40 - 4 * 256) {
        SetLastError(CXIMAGE_ERR_MAXMEM);
        return nullptr;
    }

    m_info.effWidth = static_cast<uint32_t>(effWidth);
    m_info.type = type;
    m_info.nearestValid = false;
    m_head.biSize = sizeof(tagBITMAPINFOHEADER);
    m_head.biWidth = static_cast<int32_t>(width);
    m_head.biHeight = static_cast<int32_t>(height);
    m_head.biPlanes = 1;
    m_head.biBitCount = static_cast<uint16_t>(bpp);
    m_head.biCompression = 0;
    m_head.biSizeImage = static_cast<uint32_t>(imageSize);
    m_head.biClrUsed = colors;

    // Zeroed: palette and pixel bytes no operation writes read as 0.
    const size_t total = sizeof(tagBITMAPINFOHEADER) + 4u * colors + static_cast<size_t>(imageSize);
    m_dib = std::calloc(1, total);
    if (!m_dib) {
        SetLastError(CXIMAGE_ERR_NOMEM);
        return nullptr;
    }
    std::memcpy(m_dib, &m_head, sizeof(m_head));
    m_info.pixels = static_cast<uint8_t*>(m_dib) + sizeof(tagBITMAPINFOHEADER) + 4u * colors;
    return m_dib;
}

bool CxImage::CreateFromArray(const unsigned char* data, unsigned width, unsigned height, unsigned bitsPerPixel,
                              unsigned bytesPerLine, bool flip) {
    if (!data) return false;
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32)
        return false;
    if (!Create(width, height, bitsPerPixel, 0)) return false;
    if (bitsPerPixel < 24) SetGrayPalette();
    if (bitsPerPixel == 32 && !AlphaCreate()) {
        Destroy();
        SetLastError(CXIMAGE_ERR_NOMEM);
        return false;
    }

    // Input rows never get read past bytesPerLine. Whatever part of an image
    // row the input does not cover is set to 0xFF, which is white at every
    // depth with the grey palette; unread 32-bit pixels keep alpha 255.
    const size_t eff = m_info.effWidth;
    for (unsigned i = 0; i < height; ++i) {
        const unsigned char* src = data + static_cast<size_t>(i) * bytesPerLine;
        const unsigned row = flip ? height - 1 - i : i;
        uint8_t* dst = RowPtr(row);
        if (bitsPerPixel == 32) {
            const size_t n = std::min<size_t>(width, bytesPerLine / 4);
            uint8_t* alpha = m_alpha + static_cast<size_t>(row) * width;
            for (size_t x = 0; x < n; ++x) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                alpha[x] = src[3];
                dst += 3;
                src += 4;
            }
            std::memset(dst, 0xFF, eff - 3 * n);
        } else {
            const size_t n = std::min<size_t>(eff, bytesPerLine);
            std::memcpy(dst, src, n);
            if (n < eff) std::memset(dst + n, 0xFF, eff - n);
        }
    }
    return true;
}

void CxImage::Copy(const CxImage& src, bool copyPixels, bool copySelection, bool copyAlpha) {
    (void)copySelection;  // no selection mask is ever made
    if (&src == this) return;

    Destroy();
    m_head = src.m_head;
    m_info = src.m_info;
    m_info.pixels = nullptr;
    m_info.effWidth = 0;
    if (!src.m_dib) return;

    if (!Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.GetType())) return;
    if (copyPixels) {
        std::memcpy(m_dib, src.m_dib, GetSize());
    } else if (m_head.biClrUsed) {
        std::memcpy(GetPalette(), src.GetPalette(), 4u * std::min<uint32_t>(m_head.biClrUsed, 256));
    }
    // Create dropped the cache; with the same palette the source's is valid.
    m_info.nearestValid = src.m_info.nearestValid;

    if (copyAlpha && src.m_alpha) {
        const size_t n = static_cast<size_t>(GetWidth()) * GetHeight();
        m_alpha = static_cast<uint8_t*>(std::malloc(n));
        if (!m_alpha) {
            // A copy without the transparency it was asked for would draw
            // transparent pixels; leave no image rather than a wrong one.
            Destroy();
            SetLastError(CXIMAGE_ERR_NOMEM);
            return;
        }
        std::memcpy(m_alpha, src.m_alpha, n);
    }
}

CxImage& CxImage::operator=(const CxImage& src) {
    if (this != &src) Copy(src, true, true, true);
    return *this;
}

void CxImage::CopyInfo(const CxImage& src) {
    if (m_dib) return;
    m_info = src.m_info;
    // The layout fields describe src's pixel block, not ours.
    m_info.pixels = nullptr;
    m_info.effWidth = 0;
}

bool CxImage::Transfer(CxImage& from, bool transferFrames) {
    (void)transferFrames;  // no frames are ever made
    if (&from == this) return true;
    Destroy();
    m_head = from.m_head;
    m_info = from.m_info;
    m_dib = from.m_dib;
    m_alpha = from.m_alpha;
    from.m_dib = nullptr;
    from.m_alpha = nullptr;
    from.m_info.pixels = nullptr;
    // The emptied source gets the defaults of a new image rather than all
    // zeros: a transparent index of 0 would make every black pixel
    // transparent if the object were filled again.
    from.ResetFields(0);
    return true;
}

uint8_t* CxImage::GetBits(unsigned row) {
    if (!m_dib || row >= static_cast<unsigned>(m_head.biHeight)) return nullptr;
    return RowPtr(row);
}

const uint8_t* CxImage::GetBits(unsigned row) const {
    if (!m_dib || row >= static_cast<unsigned>(m_head.biHeight)) return nullptr;
    return RowPtr(row);
}

size_t CxImage::GetSize() const {
    if (!m_dib) return 0;
    return sizeof(tagBITMAPINFOHEADER) + static_cast<size_t>(m_head.biSizeImage) + 4u * m_head.biClrUsed;
}

bool CxImage::CreateResult(CxImage& result, unsigned w, unsigned h, unsigned bpp) {
    result.CopyInfo(*this);
    if (!result.Create(w, h, bpp, GetType())) {
        SetLastError(result.GetLastError());
        return false;
    }
    return true;
}
