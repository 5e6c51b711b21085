// PDF pages through poppler's C++ interface into grey pages of the medium's
// size. Only the part of a page that lands on the medium is rendered, so a
// poster-sized page costs no more memory than the label.
#include "app/documents/pdfdoc.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// poppler prints its complaints about damaged files on stderr; the job's
// message says what matters.
void QuietPoppler(const std::string&, void*) {}

}  // namespace

DfPdfDocument::DfPdfDocument() = default;
DfPdfDocument::~DfPdfDocument() = default;

bool DfPdfDocument::Open(const std::string& path, std::string& error) {
    poppler::set_debug_error_function(QuietPoppler, nullptr);
    m_doc.reset(poppler::document::load_from_file(path));
    if (!m_doc) {
        error = "PDF: the document is damaged or not a PDF file";
        return false;
    }
    if (m_doc->is_locked()) {
        m_doc.reset();
        error = "PDF: the document is protected by a password";
        return false;
    }
    if (m_doc->pages() < 1) {
        m_doc.reset();
        error = "PDF: the document has no pages";
        return false;
    }
    return true;
}

int DfPdfDocument::Pages() const {
    return m_doc ? m_doc->pages() : 0;
}

bool DfPdfDocument::RenderPage(int index, unsigned pageWidth, unsigned pageHeight, int xdpi, int ydpi,
                               DfScaling scaling, DfGreyImage& out, std::string& error) {
    if (!m_doc || index < 0 || index >= m_doc->pages() || !pageWidth || !pageHeight || xdpi <= 0 ||
        ydpi <= 0) {
        error = "PDF: no such page";
        return false;
    }
    std::unique_ptr<poppler::page> page(m_doc->create_page(index));
    if (!page) {
        error = "PDF: page " + std::to_string(index + 1) + " cannot be read";
        return false;
    }
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    double wPt = box.width(), hPt = box.height();
    const poppler::page::orientation_enum o = page->orientation();
    if (o == poppler::page::landscape || o == poppler::page::seascape) std::swap(wPt, hPt);
    // A landscape page on a portrait medium (or the other way round) is
    // turned a quarter anticlockwise first, as CUPS's chain does.
    const bool turn = DfTurnsToMedium(wPt, hPt, pageWidth, pageHeight);
    if (turn) std::swap(wPt, hPt);
    if (!(wPt > 0) || !(hPt > 0) || wPt > 14400 * 72 || hPt > 14400 * 72) {
        error = "PDF: page " + std::to_string(index + 1) + " has no usable size";
        return false;
    }
    // The page in dots at the printer's resolution, then its place on the medium.
    const double wDots = wPt * xdpi / 72, hDots = hPt * ydpi / 72;  // as it lands on the medium
    const unsigned natW = std::max(1u, static_cast<unsigned>(std::lround(wDots)));
    const unsigned natH = std::max(1u, static_cast<unsigned>(std::lround(hDots)));
    DfPlacement p = DfPlacePicture(natW, natH, pageWidth, pageHeight, scaling);
    double scale = static_cast<double>(p.width) / natW;
    // A page within a dot of its place is rendered at the printer's resolution as it is.
    if (std::abs(static_cast<long>(p.width) - static_cast<long>(natW)) <= 1 &&
        std::abs(static_cast<long>(p.height) - static_cast<long>(natH)) <= 1) {
        scale = 1;
        p.width = natW;
        p.height = natH;
        p.x = (static_cast<long>(pageWidth) - static_cast<long>(natW)) / 2;
        p.y = (static_cast<long>(pageHeight) - static_cast<long>(natH)) / 2;
    }
    out.width = pageWidth;
    out.height = pageHeight;
    out.pixels.assign(static_cast<size_t>(pageWidth) * pageHeight, 255);

    // The slice of the rendered page that lands on the medium.
    const long sx = std::max(0l, -p.x), sy = std::max(0l, -p.y);
    const long dx = std::max(0l, p.x), dy = std::max(0l, p.y);
    const long sw = std::min<long>(static_cast<long>(p.width) - sx, static_cast<long>(pageWidth) - dx);
    const long sh = std::min<long>(static_cast<long>(p.height) - sy, static_cast<long>(pageHeight) - dy);
    if (sw <= 0 || sh <= 0) return true;
    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_gray8);
    // Text and line art without anti-aliasing, as CUPS's chain renders them:
    // at the printer's resolution a grey fringe is all a small letter or a
    // hairline has, and the reduction would scatter it into dots. Pictures
    // keep their greys (this concerns only the outlines of shapes and glyphs).
    renderer.set_render_hints(0);
    renderer.set_paper_color(0xffffffff);
    const poppler::image img = renderer.render_page(
        page.get(), xdpi * scale, ydpi * scale, static_cast<int>(sx), static_cast<int>(sy),
        static_cast<int>(sw), static_cast<int>(sh), turn ? poppler::rotate_270 : poppler::rotate_0);
    if (!img.is_valid() || img.format() != poppler::image::format_gray8) {
        error = "PDF: page " + std::to_string(index + 1) + " could not be rendered";
        return false;
    }
    const long w = std::min<long>(sw, img.width()), h = std::min<long>(sh, img.height());
    const char* src = img.const_data();
    for (long y = 0; y < h; y++)
        memcpy(&out.pixels[static_cast<size_t>(dy + y) * pageWidth + dx], src + y * img.bytes_per_row(),
               static_cast<size_t>(w));
    return true;
}
