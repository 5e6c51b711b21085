// PDF documents for the printer application: each page rendered in 8-bit
// grey at the printer's resolution onto a page of the medium's size, placed
// as pictures are (fit by default). A page made for the medium is rendered
// at the printer's resolution as it is, dot for dot.
#pragma once

#include <memory>
#include <string>

#include "app/documents/picture.h"

namespace poppler {
class document;
}

class DfPdfDocument {
public:
    DfPdfDocument();
    ~DfPdfDocument();
    // False with the reason when the file is no PDF, damaged beyond repair
    // or locked by a password.
    bool Open(const std::string& path, std::string& error);
    int Pages() const;
    // Page index (from 0) on a white pageWidth x pageHeight page.
    bool RenderPage(int index, unsigned pageWidth, unsigned pageHeight, int xdpi, int ydpi, DfScaling scaling,
                    DfGreyImage& page, std::string& error);

private:
    std::unique_ptr<poppler::document> m_doc;
};
