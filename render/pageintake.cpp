// Page intake: the page buffer and the hand-over of a page to its renderer.
#include "render/pageintake.h"

#include <cstdio>

#include "base/log.h"

// The image toolkit refuses images above 256 MiB of pixels; the page buffer is
// an int-sized block. A page beyond either is refused before anything is read
// into memory for it.
const char* DfPageIntake::Rejection(const cups_page_header2_t& h) {
    if (DfHeaderInt(h.HWResolution[0]) <= 0) return "its horizontal resolution is not positive";
    unsigned bpp = h.cupsBitsPerPixel;
    unsigned depth = bpp <= 1 ? 1 : bpp <= 4 ? 4 : bpp <= 8 ? 8 : 24;
    double pixelBytes = static_cast<double>(h.cupsWidth) * h.cupsHeight * depth / 8.0;
    if (pixelBytes > 268435456.0) return "it is larger than the 256 MiB image limit";
    unsigned long long rasterBytes = static_cast<unsigned long long>(h.cupsBytesPerLine) * h.cupsHeight;
    if (rasterBytes > 0x7fffffffULL) return "its raster data does not fit in memory";
    return nullptr;
}

bool DfPageIntake::Begin(const cups_page_header2_t& h) {
    m_lines = 0;
    m_bytesPerLine = m_height = 0;
    m_page.InitBuffer(0);
    if (Rejection(h)) return false;
    m_page.SetMaxBufferSize(0);  // sized for the whole page below; never cut it
    if (!m_page.SetBufferSize(static_cast<int>(h.cupsBytesPerLine * h.cupsHeight))) return false;
    m_bytesPerLine = h.cupsBytesPerLine;
    m_height = h.cupsHeight;
    return true;
}

bool DfPageIntake::Begin(const cups_page_header2_t& h, CxImage* image) {
    m_image = nullptr;
    const unsigned bpp = h.cupsBitsPerPixel;
    if (image && !Rejection(h) && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24) &&
        image->Create(h.cupsWidth, h.cupsHeight, bpp, 0) && h.cupsBytesPerLine <= image->GetEffWidth()) {
        if (bpp < 24) image->SetGrayPalette();
        m_page.InitBuffer(0);
        m_lines = 0;
        m_bytesPerLine = h.cupsBytesPerLine;
        m_height = h.cupsHeight;
        m_image = image;
        return true;
    }
    return Begin(h);
}

unsigned char* DfPageIntake::LineBuffer() {
    if (m_image && m_lines < m_height) return m_image->GetBits(m_lines);
    m_line.resize(m_bytesPerLine ? m_bytesPerLine : 1);
    return m_line.data();
}

void DfPageIntake::CommitLine() {
    if (!m_image) {
        AddLine(m_line.data());
        return;
    }
    if (m_lines >= m_height) return;
    // The part of a row that the line does not cover is white, as when the
    // image is built from a page buffer.
    const size_t eff = m_image->GetEffWidth();
    if (m_bytesPerLine < eff)
        std::memset(m_image->GetBits(m_lines) + m_bytesPerLine, 0xFF, eff - m_bytesPerLine);
    m_lines++;
}

void DfPageIntake::AddLine(const void* line) {
    if (m_lines >= m_height) return;
    if (m_image) {  // a page begun in the image takes its lines there too
        std::memcpy(m_image->GetBits(m_lines), line, m_bytesPerLine);
        CommitLine();
        return;
    }
    m_page.AddBuffer(line, static_cast<int>(m_bytesPerLine));
    m_lines++;
}

void DfPageIntake::AddLines(const unsigned char* lines, unsigned count) {
    for (unsigned i = 0; i < count; ++i, lines += m_bytesPerLine) {
        if (m_image) {
            if (m_lines >= m_height) return;
            std::memcpy(m_image->GetBits(m_lines), lines, m_bytesPerLine);
            CommitLine();
        } else {
            AddLine(lines);
        }
    }
}

unsigned char* DfPageIntake::DirectLines() {
    if (!m_image || m_lines >= m_height || m_bytesPerLine != m_image->GetEffWidth()) return nullptr;
    return m_image->GetBits(m_lines);
}

void DfPageIntake::CommitLines(unsigned count) {
    m_lines = count < m_height - m_lines ? m_lines + count : m_height;
}

unsigned DfPageIntake::FillRest() {
    const unsigned missing = m_height - m_lines;
    if (m_image) {
        // A line whose read failed may have left part of its bytes behind.
        for (; m_lines < m_height; m_lines++)
            std::memset(m_image->GetBits(m_lines), 0xFF, m_image->GetEffWidth());
        return missing;
    }
    if (missing) {
        std::vector<unsigned char> white(m_bytesPerLine ? m_bytesPerLine : 1, 0xFF);
        while (m_lines < m_height) AddLine(white.data());
    }
    return missing;
}

static std::string Format(const char* format, int page, const std::string& why) {
    char text[600];
    snprintf(text, sizeof(text), format, page, why.c_str());
    return text;
}

bool DfRenderPage(CBaseRender* render, cups_page_header2_t* header, CMyBuffer& page, int pageNumber,
                  const DfReportFn& report) {
    if (!render) return false;
    const cups_page_header2_t& h = *header;
    render->m_header = header;
    render->m_iDpi = DfHeaderInt(h.HWResolution[0]);

    // The buffer must hold every line the image reads; a caller that passes a
    // short buffer gets the page refused rather than read past its end.
    const unsigned long long need = static_cast<unsigned long long>(h.cupsBytesPerLine) * h.cupsHeight;
    if (static_cast<unsigned long long>(page.GetBufferLength()) < need ||
        !render->m_image.CreateFromArray(reinterpret_cast<unsigned char*>(page.GetBuffer()), h.cupsWidth,
                                         h.cupsHeight, h.cupsBitsPerPixel, h.cupsBytesPerLine, false)) {
        DfLog(LOG_ERR, "create image error\n");
        return false;
    }
    return DfRenderImagePage(render, header, pageNumber, report);
}

bool DfRenderImagePage(CBaseRender* render, cups_page_header2_t* header, int pageNumber,
                       const DfReportFn& report) {
    if (!render) return false;
    const cups_page_header2_t& h = *header;
    render->m_header = header;
    render->m_iDpi = DfHeaderInt(h.HWResolution[0]);
    DfLog(LOG_DEBUG, "create image width=%d, height=%d, bitsPerPixel=%d, bytesPerLine=%d",
          DfHeaderInt(h.cupsWidth), DfHeaderInt(h.cupsHeight), DfHeaderInt(h.cupsBitsPerPixel),
          DfHeaderInt(h.cupsBytesPerLine));
    render->m_image.SetXDPI(DfHeaderInt(h.HWResolution[0]));
    render->m_image.SetYDPI(DfHeaderInt(h.HWResolution[1]));

    bool whole = false;
    render->OnStartPage();
    render->OnBeginBmp();
    if (!render->PageNote().empty())
        report(DfReport::Debug, Format("Page %d: %s", pageNumber, render->PageNote()));
    if (!render->PageError().empty()) {
        report(DfReport::Error, Format("Page %d could not be prepared: %s", pageNumber, render->PageError()));
    } else {
        render->OnPaintBmp();
        if (!render->PageError().empty())
            report(DfReport::Error, Format("Page %d was not printed: %s", pageNumber, render->PageError()));
        else
            whole = true;
        if (!render->PageWarning().empty())
            report(DfReport::Warning, Format("Page %d %s.", pageNumber, render->PageWarning()));
    }
    render->OnEndBmp();
    return whole;
}
