// DfRasterInput: the filter's raster stream, read through a callback that
// counts the bytes it delivers and keeps the stream's first four (the sync
// word). Lines of an uncompressed stream are then read many per call instead
// of one read(2) per line, and a page the stream cuts short inside such a
// call still keeps exactly the lines that arrived whole.
#pragma once

#include <cups/raster.h>
#include <sys/types.h>

#include "render/pageintake.h"

class DfRasterInput {
public:
    explicit DfRasterInput(int fd) : m_fd(fd) {}
    // The stream for reading, as cupsRasterOpen(fd, CUPS_RASTER_READ) gives it.
    cups_raster_t* Open();
    // Reads the current page's lines into the intake, up to the page's end or
    // the stream's.
    void ReadPage(cups_raster_t* ras, const cups_page_header2_t& header, DfPageIntake& intake);

private:
    static ssize_t Read(void* ctx, unsigned char* buffer, size_t bytes);
    bool Uncompressed() const;

    int m_fd;
    unsigned long long m_bytes = 0;
    unsigned char m_sync[4] = {0, 0, 0, 0};
};
