// Test helper: raster streams written with libcups's cupsRasterWriteHeader2 and
// cupsRasterWritePixels, never packed by hand.
#include "helpers/raster.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

TestPage MakePage(unsigned width, unsigned height, unsigned bpp, unsigned char fill, int dpi) {
    TestPage p;
    p.width = width;
    p.height = height;
    p.bitsPerPixel = bpp;
    p.xdpi = p.ydpi = dpi;
    p.data.assign(static_cast<size_t>(p.BytesPerLine()) * height, fill);
    return p;
}

void FillHeader(const TestPage& page, cups_page_header2_t* h) {
    memset(h, 0, sizeof(*h));
    h->HWResolution[0] = static_cast<unsigned>(page.xdpi);
    h->HWResolution[1] = static_cast<unsigned>(page.ydpi);
    int xr = page.xdpi > 0 ? page.xdpi : 72;
    int yr = page.ydpi > 0 ? page.ydpi : 72;
    h->PageSize[0] = page.width * 72 / static_cast<unsigned>(xr);
    h->PageSize[1] = page.height * 72 / static_cast<unsigned>(yr);
    h->ImagingBoundingBox[2] = h->PageSize[0];
    h->ImagingBoundingBox[3] = h->PageSize[1];
    h->NumCopies = 1;
    h->cupsWidth = page.width;
    h->cupsHeight = page.height;
    h->cupsBitsPerPixel = page.bitsPerPixel;
    h->cupsBitsPerColor = page.bitsPerPixel >= 24 ? page.bitsPerPixel / (page.bitsPerPixel == 32 ? 4 : 3)
                                                  : page.bitsPerPixel;
    h->cupsBytesPerLine = page.BytesPerLine();
    h->cupsColorOrder = CUPS_ORDER_CHUNKED;
    h->cupsColorSpace = page.bitsPerPixel == 24 ? CUPS_CSPACE_RGB
                        : page.bitsPerPixel == 32 ? CUPS_CSPACE_RGBA
                                                  : CUPS_CSPACE_W;
    h->cupsNumColors = page.bitsPerPixel >= 24 ? (page.bitsPerPixel == 32 ? 4 : 3) : 1;
    snprintf(h->cupsPageSizeName, sizeof(h->cupsPageSizeName), "Custom");
}

static bool WriteTo(int fd, const std::vector<TestPage>& pages, cups_mode_t mode) {
    cups_raster_t* ras = cupsRasterOpen(fd, mode);
    if (!ras) return false;
    bool ok = true;
    for (const TestPage& p : pages) {
        cups_page_header2_t h;
        FillHeader(p, &h);
        if (!cupsRasterWriteHeader2(ras, &h)) {
            ok = false;
            break;
        }
        unsigned bpl = h.cupsBytesPerLine;
        unsigned lines = p.linesToWrite < p.height ? p.linesToWrite : p.height;
        for (unsigned y = 0; y < lines && ok; y++) {
            if (static_cast<size_t>(y + 1) * bpl > p.data.size()) break;
            ok = cupsRasterWritePixels(ras, const_cast<unsigned char*>(p.data.data()) + static_cast<size_t>(y) * bpl,
                                       bpl) == bpl;
        }
        if (lines < p.height) break;  // a truncated page ends the stream
    }
    cupsRasterClose(ras);
    return ok;
}

bool WriteRasterFile(const std::string& path, const std::vector<TestPage>& pages, cups_mode_t mode) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = WriteTo(fd, pages, mode);
    close(fd);
    return ok;
}

std::vector<unsigned char> RasterBytes(const std::vector<TestPage>& pages, cups_mode_t mode) {
    std::string path = TempPath("raster");
    std::vector<unsigned char> out;
    if (WriteRasterFile(path, pages, mode)) {
        std::ifstream in(path, std::ios::binary);
        out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    unlink(path.c_str());
    return out;
}

std::string TempPath(const std::string& stem) {
    static int counter = 0;
    std::string dir = std::string(DF_BUILD_DIR) + "/test-scratch";
    mkdir(dir.c_str(), 0755);
    return dir + "/" + stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}
