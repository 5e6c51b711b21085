// DfPageIntake: one raster page from its lines to the renderer, the same for
// every front end. The front end hands over the page header and the lines as
// they arrive (read from a CUPS raster stream, or pushed by the printer
// application's raster callbacks); the intake keeps them in one page buffer
// and fills what never arrived with white. DfRenderPage then builds the page
// image, prepares it and runs the renderer's page hooks. Problems go to the
// front end's report callback, which prints or logs them its own way.
#pragma once

#include <cups/raster.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/mybuffer.h"
#include "render/baserender.h"

enum class DfReport { Debug, Info, Warning, Error };
using DfReportFn = std::function<void(DfReport level, const std::string& text)>;

// The header's enum fields come straight from the stream and may hold values
// outside their enumeration; reading them as the enum type would be undefined,
// so they are read as the 32-bit integers they are on the wire.
template <class T>
int DfHeaderInt(const T& field) {
    static_assert(sizeof(T) == sizeof(int), "raster header fields are 32 bits");
    int v;
    memcpy(&v, &field, sizeof(v));
    return v;
}

class DfPageIntake {
public:
    // Why a page with this header cannot be taken in, or nullptr when it can.
    static const char* Rejection(const cups_page_header2_t& header);

    // Starts a page: the buffer is sized for all of its lines. False when the
    // header is refused or the memory cannot be had.
    bool Begin(const cups_page_header2_t& header);
    // Starts a page straight in the page image when its lines can be read
    // into the image's rows as they are (1, 4, 8 or 24 bits per pixel, lines
    // no longer than a row): no page buffer, and no copy of the page into the
    // image. Otherwise, or when the image cannot be made, as Begin(header).
    bool Begin(const cups_page_header2_t& header, CxImage* image);
    bool InImage() const { return m_image != nullptr; }
    // Where the next line is to be read to (bytes-per-line bytes), and its
    // hand-over once it is there.
    unsigned char* LineBuffer();
    void CommitLine();
    // Appends one line of bytes-per-line bytes; lines past the page's height
    // are ignored.
    void AddLine(const void* line);
    // Several lines at once: from lines, or read straight into the rest of
    // the page at DirectLines() (null unless the image's rows lie back to
    // back, as long as the lines) and then committed.
    void AddLines(const unsigned char* lines, unsigned count);
    unsigned char* DirectLines();
    void CommitLines(unsigned count);
    unsigned Lines() const { return m_lines; }
    // Completes the page: lines that did not arrive print white (0xFF is white
    // at every depth). Returns how many were missing.
    unsigned FillRest();

    CMyBuffer& Page() { return m_page; }

private:
    CMyBuffer m_page;
    CxImage* m_image = nullptr;
    std::vector<unsigned char> m_line;
    unsigned m_bytesPerLine = 0;
    unsigned m_height = 0;
    unsigned m_lines = 0;
};

// Builds the page image from a complete page buffer, prepares it and paints
// it. Returns true when the page reached the renderer whole.
bool DfRenderPage(CBaseRender* render, cups_page_header2_t* header, CMyBuffer& page, int pageNumber,
                  const DfReportFn& report);
// The same for a page that an intake built in the renderer's page image.
bool DfRenderImagePage(CBaseRender* render, cups_page_header2_t* header, int pageNumber,
                       const DfReportFn& report);
