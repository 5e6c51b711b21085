// Test helper: writes CUPS raster streams with libcups's own writer.
#pragma once

#include <cups/raster.h>

#include <string>
#include <vector>

struct TestPage {
    unsigned width = 0;
    unsigned height = 0;
    unsigned bitsPerPixel = 8;  // 1, 2, 4, 8, 16, 24 or 32
    int xdpi = 203;
    int ydpi = 203;
    std::vector<unsigned char> data;  // height lines of BytesPerLine() bytes
    unsigned linesToWrite = ~0u;      // fewer than height makes a truncated page
    // Overrides for malformed headers; 0 keeps the computed value.
    unsigned bytesPerLineOverride = 0;

    unsigned BytesPerLine() const { return bytesPerLineOverride ? bytesPerLineOverride : (width * bitsPerPixel + 7) / 8; }
};

// A page of the given size and depth filled with one byte value.
TestPage MakePage(unsigned width, unsigned height, unsigned bpp, unsigned char fill, int dpi = 203);

// Fills the header the way a raster filter of CUPS would for this page.
void FillHeader(const TestPage& page, cups_page_header2_t* header);

// Writes the pages to path; returns false on any error.
bool WriteRasterFile(const std::string& path, const std::vector<TestPage>& pages,
                     cups_mode_t mode = CUPS_RASTER_WRITE);

// The same stream as bytes.
std::vector<unsigned char> RasterBytes(const std::vector<TestPage>& pages, cups_mode_t mode = CUPS_RASTER_WRITE);

// A fresh temporary file name under the build directory's scratch folder.
std::string TempPath(const std::string& stem);
