// pwgmake: writes the test pages the app tests print, as PWG raster (what a
// driverless client sends) with libcups's own writer, 8-bit sgray; as Apple
// raster when OUT ends in .urf.
//   pwgmake OUT WIDTH HEIGHT DPI PAGES [LINES [PAD [frame]]]
// Each page has a grey ramp (so dithers differ from a threshold), a black
// bar whose place depends on the page number, and fine stripes. LINES < HEIGHT
// cuts the last page's raster short, as a client that went away would. PAD
// above HEIGHT makes every page PAD lines long, white below the picture.
// "frame" draws instead a black frame 2 mm wide round the page and a black
// block in its top left quarter (which way up it landed), as a driverless
// client's test page.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "helpers/raster.h"

int main(int argc, char** argv) {
    if (argc < 6) {
        fprintf(stderr, "usage: pwgmake OUT WIDTH HEIGHT DPI PAGES [LINES [PAD]]\n");
        return 2;
    }
    const unsigned width = atoi(argv[2]), height = atoi(argv[3]), pages = atoi(argv[5]);
    const int dpi = atoi(argv[4]);
    const unsigned pad = argc > 7 ? atoi(argv[7]) : 0;
    const unsigned total = pad > height ? pad : height;
    const unsigned lines = argc > 6 ? atoi(argv[6]) : total;
    const bool frame = argc > 8 && !strcmp(argv[8], "frame");
    const unsigned border = static_cast<unsigned>(dpi > 0 ? dpi * 2 / 25 : 2);
    const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 1;
    // OUT ending in .urf: Apple raster, what iOS and macOS send.
    const size_t len = strlen(argv[1]);
    const bool apple = len > 4 && !strcmp(argv[1] + len - 4, ".urf");
    cups_raster_t* ras = cupsRasterOpen(fd, apple ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE_PWG);
    std::vector<unsigned char> row(width);
    bool ok = ras != nullptr;
    for (unsigned p = 0; ok && p < pages; p++) {
        TestPage page = MakePage(width, total, 8, 255, dpi);
        cups_page_header2_t h;
        FillHeader(page, &h);
        h.cupsColorSpace = CUPS_CSPACE_SW;
        h.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = pages;
        snprintf(h.cupsPageSizeName, sizeof(h.cupsPageSizeName), "custom_%ux%u", width, height);
        snprintf(h.MediaType, sizeof(h.MediaType), "labels");
        ok = cupsRasterWriteHeader2(ras, &h);
        const unsigned last = p + 1 == pages && lines < total ? lines : total;
        for (unsigned y = 0; ok && y < last; y++) {
            for (unsigned x = 0; x < width; x++) {
                if (y >= height) {
                    row[x] = 255;
                    continue;
                }
                if (frame) {
                    const bool edge = x < border || y < border || x + border >= width || y + border >= height;
                    const bool block = x >= 2 * border && x < width / 4 && y >= 2 * border && y < height / 4;
                    row[x] = edge || block ? 0 : 255;
                    continue;
                }
                unsigned char v = static_cast<unsigned char>(x * 255 / (width ? width : 1));           // ramp
                if (y < height / 4 && x >= (p % 3) * width / 4 && x < (p % 3 + 1) * width / 4) v = 0;  // bar
                if (y > height * 3 / 4 && ((x / 3 + y / 5) % 2)) v = 40;  // stripes
                row[x] = v;
            }
            ok = cupsRasterWritePixels(ras, row.data(), width) == width;
        }
    }
    if (ras) cupsRasterClose(ras);
    close(fd);
    return ok ? 0 : 1;
}
