// Fuzz target: the whole filter in process, through the same CCupsInstance::Run
// as the executable. The input (see fuzz_input.h) is split into the job's
// options, the PPD text and the raster stream; PPD and raster go into
// anonymous memory files that Run opens by their /proc/self/fd names, and the
// printer bytes go to a memory sink. Whatever the filter sends for a job with
// pages must read back as a well-formed stream of the PPD's family.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cups/raster.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/sink.h"
#include "filter/cupsinstance.h"
#include "tests/fuzz/fuzz_common.h"
#include "tests/fuzz/fuzz_input.h"
#include "tools/preview/preview.h"

namespace {

int MemoryFile(const void* data, size_t len) {
    int fd = memfd_create("fuzz-job", MFD_CLOEXEC);
    if (fd < 0) return -1;
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n <= 0) {
            close(fd);
            return -1;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

struct Reader {
    const uint8_t* data;
    size_t size, pos;
};

ssize_t ReadMemory(void* ctx, unsigned char* buf, size_t n) {
    Reader* r = static_cast<Reader*>(ctx);
    if (n > r->size - r->pos) n = r->size - r->pos;
    if (n == 0) return 0;
    memcpy(buf, r->data + r->pos, n);
    r->pos += n;
    return static_cast<ssize_t>(n);
}

// False when the stream holds a page the filter would take in that is too
// big to prepare at fuzzing speed (libcups's reader decides what the pages
// are, exactly as in the filter). The filter fills missing lines with white,
// so a tiny input can announce a huge page.
bool SmallPages(const uint8_t* data, size_t size) {
    Reader r{data, size, 0};
    cups_raster_t* ras = cupsRasterOpenIO(ReadMemory, &r, CUPS_RASTER_READ);
    if (!ras) return true;
    cups_page_header2_t h;
    bool small = true;
    int pages = 0;
    std::vector<unsigned char> chunk(65536);
    while (small && cupsRasterReadHeader2(ras, &h)) {
        const uint64_t bytes = static_cast<uint64_t>(h.cupsBytesPerLine) * h.cupsHeight;
        const uint64_t pixels = static_cast<uint64_t>(h.cupsWidth) * h.cupsHeight;
        if (!CCupsInstance::PageRejection(h) &&
            (bytes > (256u << 10) || pixels > (256u << 10) || ++pages > 4))
            small = false;
        for (uint64_t left = bytes; small && left > 0;) {
            const unsigned n = static_cast<unsigned>(left < chunk.size() ? left : chunk.size());
            if (cupsRasterReadPixels(ras, chunk.data(), n) == 0) break;
            left -= n;
        }
    }
    cupsRasterClose(ras);
    return small;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const FuzzJob job = SplitFuzzInput(data, size);
    if (!SmallPages(job.raster, job.rasterSize)) return 0;
    const int ppdFd = MemoryFile(job.ppd.data(), job.ppd.size());
    const int rasFd = MemoryFile(job.raster, job.rasterSize);
    if (ppdFd < 0 || rasFd < 0) abort();
    const std::string ppdPath = "/proc/self/fd/" + std::to_string(ppdFd);
    std::string rasPath = "/proc/self/fd/" + std::to_string(rasFd);
    setenv("PPD", ppdPath.c_str(), 1);
    std::string options = job.options;
    char arg0[] = "dotforge", id[] = "1", user[] = "fuzz", title[] = "fuzz", copies[] = "1";
    char* argv[] = {arg0, id, user, title, copies, &options[0], &rasPath[0], nullptr};

    FuzzMemorySink sink;
    CCupsInstance::SetOutput(&sink);
    CCupsInstance instance;
    const int status = instance.Run(7, argv);
    CCupsInstance::SetOutput(nullptr);
    close(ppdFd);
    close(rasFd);
    FUZZ_CHECK(status == 0 || status == 1);

    // The renderers' output is what the preview decodes; a page the filter
    // sent must decode as one.
    if (status == 0 && !sink.bytes.empty()) {
        PreviewResult res;
        const bool ok = DecodePrinterStream(sink.bytes.data(), sink.bytes.size(),
                                            static_cast<PreviewFamily>(ModelNumber), &res);
        if (!ok) fprintf(stderr, "preview: offset %zu: %s\n", res.errorOffset, res.error.c_str());
        FUZZ_CHECK(ok);
    }
    return 0;
}
