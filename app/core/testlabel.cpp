// The test label callback: see testlabel.h.
#include "app/core/testlabel.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/core/testpage.h"
#include "app/documents/mediafit.h"

namespace {

std::string gSpool;
std::atomic<unsigned> gTestPageCount{0};

// A test label longer than this would only waste roll paper.
const int kMaxTestLengthHmm = 30000;
const int kRollTestLengthHmm = 10000;

}  // namespace

void DfAppSetTestPageDir(const char* spool) {
    gSpool = spool && *spool ? spool : "";
}

void DfAppTestPageSize(int widthHmm, int lengthHmm, int dpi, bool roll, int* width, int* height) {
    if (roll || lengthHmm <= 0 || lengthHmm > kMaxTestLengthHmm) lengthHmm = kRollTestLengthHmm;
    // Rounded as the document filter rounds the page it prints the label on,
    // so that the label fills that page dot for dot.
    *width = static_cast<int>(DfAppLengthToDots(widthHmm, dpi));
    *height = static_cast<int>(DfAppLengthToDots(lengthHmm, dpi));
}

const char* DfAppTestPage(pappl_printer_t* printer, char* buffer, size_t bufsize) {
    pappl_pr_driver_data_t data;
    if (!papplPrinterGetDriverData(printer, &data)) return nullptr;
    const pappl_media_col_t& media =
        data.media_ready[0].size_width > 0 ? data.media_ready[0] : data.media_default;
    const int dpi = data.x_default > 0 ? data.x_default : 203;
    int width, height;
    // A roll's page length is only a default: the label is 100 mm, and the
    // trimming of blank space makes the print that long.
    const bool roll = media.tracking == PAPPL_MEDIA_TRACKING_CONTINUOUS || !strcmp(media.type, "continuous");
    DfAppTestPageSize(media.size_width, media.size_length, dpi, roll, &width, &height);

    DfTestPage page;
    const char* driver = papplPrinterGetDriverName(printer);
    const std::string subtitle = std::string(data.make_and_model) + " (" + (driver ? driver : "") + ")";
    if (!DfDrawTestPage(page, width, height, dpi, papplPrinterGetName(printer), subtitle)) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "No test page for media %s (%dx%d dots).",
                        media.size_name, width, height);
        return nullptr;
    }
    std::string dir = gSpool;
    if (dir.empty()) {
        const char* tmp = getenv("TMPDIR");
        dir = tmp && *tmp ? tmp : "/tmp";
    }
    snprintf(buffer, bufsize, "%s/dotforge-testpage-%d-%d-%u.png", dir.c_str(), static_cast<int>(getpid()),
             papplPrinterGetID(printer), gTestPageCount++);
    if (!DfWriteTestPagePng(page, dpi, buffer)) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Unable to write the test page '%s'.", buffer);
        unlink(buffer);
        return nullptr;
    }
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Test page %dx%d dots at %d dpi for %s.", width, height,
                    dpi, media.size_name);
    return buffer;
}
