// Fitting the page to the medium: a label page smaller than its PageSize is
// centred on a white page of that size before preparation, and a prepared
// page wider than the print head is cut to the head's width.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "render/baserender.h"
#include "render/pageintake.h"

namespace {

// Copies nbits bits (MSB first) from the start of src into dst at bit offset
// off. The bits of dst around them stay as they are.
void CopyBits(uint8_t* dst, size_t off, const uint8_t* src, size_t nbits) {
    if (off % 8 == 0 && nbits % 8 == 0) {
        std::memcpy(dst + off / 8, src, nbits / 8);
        return;
    }
    const unsigned s = static_cast<unsigned>(off % 8);
    for (size_t i = 0; i * 8 < nbits; ++i) {
        const size_t k = nbits - i * 8 < 8 ? nbits - i * 8 : 8;
        const unsigned mask = (0xFFu << (8 - k)) & 0xFFu;
        const unsigned bits = src[i] & mask;
        uint8_t* d = dst + off / 8 + i;
        d[0] = static_cast<uint8_t>((d[0] & ~(mask >> s)) | (bits >> s));
        const unsigned spill = (mask << (8 - s)) & 0xFFu;
        if (s && spill) d[1] = static_cast<uint8_t>((d[1] & ~spill) | ((bits << (8 - s)) & 0xFFu));
    }
}

// The page size in points: the integer PageSize is truncated by some
// rasterizers (141 for a 50 mm label), so the exact cupsPageSize is taken
// when it is there and agrees with it.
double PagePoints(int points, float exact) {
    if (std::isfinite(exact) && exact > 0 && std::fabs(exact - points) < 2.0) return exact;
    return points;
}

}  // namespace

// imagetoraster makes the page as large as the picture, while TSPL's SIZE
// and CPCL's page width come from the page: the label would be measured
// wrong and the next one misplaced. A page within 2 points of its PageSize
// (every page a PDF gives) is left alone, byte for byte.
bool CBaseRender::PadToPageSize() {
    if (!m_bPadsToPageSize ||
        (m_reg.iMediaType != DfMediaTracking::Gap && m_reg.iMediaType != DfMediaTracking::BLine))
        return false;
    if (!m_header || !m_image.IsValid() || m_image.AlphaIsValid()) return false;
    const int xdpi = DfHeaderInt(m_header->HWResolution[0]), ydpi = DfHeaderInt(m_header->HWResolution[1]);
    const double pw = PagePoints(DfHeaderInt(m_header->PageSize[0]), m_header->cupsPageSize[0]);
    const double ph = PagePoints(DfHeaderInt(m_header->PageSize[1]), m_header->cupsPageSize[1]);
    if (xdpi <= 0 || ydpi <= 0 || !(pw > 0) || !(ph > 0)) return false;
    const long w = m_image.GetWidth(), h = m_image.GetHeight();
    const double wPts = w * 72.0 / xdpi, hPts = h * 72.0 / ydpi;
    if (pw - wPts <= 2.0 && ph - hPts <= 2.0) return false;

    // Far beyond any label; also keeps the conversions below in range.
    if (pw > 1e6 || ph > 1e6) return false;
    long tw = std::lround(pw * xdpi / 72.0), th = std::lround(ph * ydpi / 72.0);
    if (tw < w) tw = w;
    if (th < h) th = h;
    const unsigned bpp = m_image.GetBpp();
    // The same ceiling as the page intake's: the padded page is an image too.
    if (static_cast<double>(tw) * th * bpp / 8.0 > 268435456.0) {
        AddLog("PadToPageSize: %ldx%ld dots is too large, page left at %ldx%ld", tw, th, w, h);
        return false;
    }
    CxImage page(0);
    if (!page.Create(static_cast<unsigned>(tw), static_cast<unsigned>(th), bpp, m_image.GetType())) {
        AddLog("PadToPageSize: %s", page.GetLastError());
        return false;
    }
    if (m_image.GetNumColors()) page.SetPalette(m_image.GetPalette(), m_image.GetNumColors());
    page.SetXDPI(m_image.GetXDPI());
    page.SetYDPI(m_image.GetYDPI());
    // 0xFF is white at every depth with the grey palette the raster gets.
    std::memset(page.GetBits(0), 0xFF, static_cast<size_t>(page.GetEffWidth()) * th);
    const long dx = (tw - w) / 2, dy = (th - h) / 2;
    for (long y = 0; y < h; ++y)
        CopyBits(page.GetBits(static_cast<unsigned>(y + dy)), static_cast<size_t>(dx) * bpp,
                 m_image.GetBits(static_cast<unsigned>(y)), static_cast<size_t>(w) * bpp);
    m_image.Transfer(page);
    SetPageNote("the %ldx%ld dot page is centred on a white page of its size, %.1fx%.1f pt (%ldx%ld dots)", w,
                h, pw, ph, tw, th);
    AddLog("PadToPageSize: %s", m_pageNote.c_str());
    return true;
}

bool CBaseRender::CutToHead() {
    const long head = m_reg.iHeadDots;
    if (head <= 0 || !m_image.IsValid()) return false;
    const long w = m_image.GetWidth(), h = m_image.GetHeight();
    if (w <= head) return false;
    // Crop counts rows from the last one; this keeps every row.
    if (!m_image.Crop(0, 0, static_cast<int>(head), static_cast<int>(h))) {
        AddLog("CutToHead: %s", m_image.GetLastError());
        return false;
    }
    AdjustEffWidthBits();
    SetPageWarning("is %ld dots wide, wider than the print head's %ld: cut at the right", w, head);
    AddLog("CutToHead: %ld -> %ld dots", w, head);
    return true;
}
