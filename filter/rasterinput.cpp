// DfRasterInput: raster stream reading with counted bytes.
#include "filter/rasterinput.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

// As libcups reads a file descriptor: interrupted and would-block reads are
// tried again.
ssize_t DfRasterInput::Read(void* ctx, unsigned char* buffer, size_t bytes) {
    DfRasterInput* in = static_cast<DfRasterInput*>(ctx);
    ssize_t n;
    while ((n = read(in->m_fd, buffer, bytes)) < 0)
        if (errno != EINTR && errno != EAGAIN) return -1;
    for (ssize_t i = 0; i < n && in->m_bytes + i < sizeof(in->m_sync); ++i)
        in->m_sync[in->m_bytes + i] = buffer[i];
    in->m_bytes += static_cast<unsigned long long>(n);
    return n;
}

cups_raster_t* DfRasterInput::Open() {
    return cupsRasterOpenIO(Read, this, CUPS_RASTER_READ);
}

// Version 1 and 3 streams, in either byte order, carry their lines as they
// are: libcups reads a request of many lines straight into the caller's
// buffer, so the bytes counted tell how many lines arrived. The compressed
// forms (version 2, PWG, Apple) are read a line at a time.
bool DfRasterInput::Uncompressed() const {
    static const char* const kSyncs[] = {"RaSt", "tSaR", "RaS3", "3SaR"};
    for (const char* s : kSyncs)
        if (std::memcmp(m_sync, s, sizeof(m_sync)) == 0) return true;
    return false;
}

void DfRasterInput::ReadPage(cups_raster_t* ras, const cups_page_header2_t& h, DfPageIntake& intake) {
    const unsigned bpl = h.cupsBytesPerLine;
    if (!Uncompressed() || bpl == 0) {
        while (intake.Lines() < h.cupsHeight && cupsRasterReadPixels(ras, intake.LineBuffer(), bpl) != 0)
            intake.CommitLine();
        return;
    }
    // Rows that lie back to back take the rest of the page in one request;
    // otherwise lines come in chunks of about 64 KiB and are handed over.
    std::vector<unsigned char> chunk;
    while (intake.Lines() < h.cupsHeight) {
        unsigned n = h.cupsHeight - intake.Lines();
        unsigned char* dst = intake.DirectLines();
        if (!dst) {
            n = std::min(n, std::max(1u, 65536u / bpl));
            chunk.resize(static_cast<size_t>(n) * bpl);
            dst = chunk.data();
        }
        const unsigned long long before = m_bytes;
        const bool whole = cupsRasterReadPixels(ras, dst, n * bpl) != 0;
        const unsigned got = whole ? n : static_cast<unsigned>((m_bytes - before) / bpl);
        if (dst == chunk.data())
            intake.AddLines(dst, got);
        else
            intake.CommitLines(got);
        if (!whole) return;
    }
}
