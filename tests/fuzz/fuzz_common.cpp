// Shared by the fuzz targets: the discarding log sink and PPDs from memory.
#include "tests/fuzz/fuzz_common.h"

#include <sys/mman.h>
#include <unistd.h>

#include "base/log.h"

static void Drop(int, const char*) {}

void FuzzQuietLog() {
    DfSetLogSink(Drop);
}

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

ppd_file_t* FuzzOpenPpd(const char* text, size_t len) {
    int fd = memfd_create("fuzz-ppd", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, text + done, len - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ppd_file_t* ppd = nullptr;
    if (done == len && lseek(fd, 0, SEEK_SET) == 0) {
        if (cups_file_t* f = cupsFileOpenFd(fd, "r")) {
            ppd = ppdOpen2(f);
            cupsFileClose(f);  // closes fd as well
            return ppd;
        }
    }
    close(fd);
    return ppd;
}
