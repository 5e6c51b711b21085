// DfCopySink: collated copies of a raster job. PAPPL 1.3.1 hands the raster
// path each page once whatever "copies" says, and a raster stream cannot be
// read twice; so the printer bytes of the document's pages are kept as they
// go to the device and sent again for every further copy, before the end of
// the document. Every family's pages stand on their own between the start
// and the end of the document, so a copy is the same bytes again.
#pragma once

#include <string>

#include "base/sink.h"

class DfCopySink : public DfSink {
public:
    // At most this many bytes are kept for the copies.
    static const size_t kMaxBytes = 64u << 20;

    DfCopySink(DfSink* out, int copies) : m_out(out), m_copies(copies > 1 ? copies : 1) {}
    bool Write(const void* data, size_t len) override;
    // From now on the bytes are the pages'.
    void StartPages() { m_keep = m_copies > 1; }
    // Sends the pages copies - 1 more times. False when the device failed or
    // the pages were too large to keep (too: the reason).
    bool SendCopies(std::string& why);

private:
    DfSink* m_out;
    int m_copies;
    bool m_keep = false;
    bool m_tooLarge = false;
    std::string m_pages;
};
