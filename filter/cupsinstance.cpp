// The filter driver: job loop, cancellation and page intake.
#include "filter/cupsinstance.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/objref.h"
#include "filter/cupslang.h"
#include "printers/cpcl.h"
#include "printers/escpos.h"
#include "printers/paperang.h"
#include "printers/peripage.h"
#include "printers/tspl.h"

int ModelNumber = 0;
int Page = 0;
volatile sig_atomic_t Canceled = 0;

// Constructed before main and destroyed after it returns, which releases the
// renderer and runs its destructor at process exit.
static CStdRefPtr<CBaseRender> g_pRender;

void CancelJob(int) { Canceled = 1; }

// The header's enum fields come straight from the stream and may hold values
// outside their enumeration; reading them as the enum type would be undefined,
// so every dumped field is read as the 32-bit integer it is on the wire.
template <class T>
static int HeaderInt(const T& field) {
    static_assert(sizeof(T) == sizeof(int), "raster header fields are 32 bits");
    int v;
    memcpy(&v, &field, sizeof(v));
    return v;
}

CBaseRender* CCupsInstance::Render() { return g_pRender; }

void CCupsInstance::AdoptRender(CBaseRender* render) { g_pRender = MakeRefPtr<CBaseRender>(render); }

static CBaseRender* CreateRender(int model) {
    switch (model) {
        case 20: return new CPrinterTSPL();
        case 21: return new CPrinterESCPOS();
        case 22: return new CPrinterCPCL();
        case 23: return new CPrinterPaperang();
        case 24: return new CPrinterPeriPage();
        default: return nullptr;
    }
}

// The image toolkit refuses images above 256 MiB of pixels; the page buffer is
// an int-sized block. A page beyond either is refused before anything is read
// into memory for it.
const char* CCupsInstance::PageRejection(const cups_page_header2_t& h) {
    if (HeaderInt(h.HWResolution[0]) <= 0) return "its horizontal resolution is not positive";
    unsigned bpp = h.cupsBitsPerPixel;
    unsigned depth = bpp <= 1 ? 1 : bpp <= 4 ? 4 : bpp <= 8 ? 8 : 24;
    double pixelBytes = static_cast<double>(h.cupsWidth) * h.cupsHeight * depth / 8.0;
    if (pixelBytes > 268435456.0) return "it is larger than the 256 MiB image limit";
    unsigned long long rasterBytes = static_cast<unsigned long long>(h.cupsBytesPerLine) * h.cupsHeight;
    if (rasterBytes > 0x7fffffffULL) return "its raster data does not fit in memory";
    return nullptr;
}

// Writes the page header to the debug log, one line per field.
static void DumpHeader(const cups_page_header2_t& h) {
    DfLog(LOG_DEBUG, "DEBUG: Duplex = %d\n", HeaderInt(h.Duplex));
    DfLog(LOG_DEBUG, "DEBUG: HWResolution = [ %d %d ]\n", HeaderInt(h.HWResolution[0]),
          HeaderInt(h.HWResolution[1]));
    DfLog(LOG_DEBUG, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", HeaderInt(h.ImagingBoundingBox[0]),
          HeaderInt(h.ImagingBoundingBox[1]), HeaderInt(h.ImagingBoundingBox[2]),
          HeaderInt(h.ImagingBoundingBox[3]));
    DfLog(LOG_DEBUG, "DEBUG: Margins = [ %d %d ]\n", HeaderInt(h.Margins[0]), HeaderInt(h.Margins[1]));
    DfLog(LOG_DEBUG, "DEBUG: ManualFeed = %d\n", HeaderInt(h.ManualFeed));
    DfLog(LOG_DEBUG, "DEBUG: MediaPosition = %d\n", HeaderInt(h.MediaPosition));
    DfLog(LOG_DEBUG, "DEBUG: NumCopies = %d\n", HeaderInt(h.NumCopies));
    DfLog(LOG_DEBUG, "DEBUG: Orientation = %d\n", HeaderInt(h.Orientation));
    DfLog(LOG_DEBUG, "DEBUG: PageSize = [ %d %d ]\n", HeaderInt(h.PageSize[0]),
          HeaderInt(h.PageSize[1]));
    DfLog(LOG_DEBUG, "DEBUG: cupsWidth = %d\n", HeaderInt(h.cupsWidth));
    DfLog(LOG_DEBUG, "DEBUG: cupsHeight = %d\n", HeaderInt(h.cupsHeight));
    DfLog(LOG_DEBUG, "DEBUG: cupsMediaType = %d\n", HeaderInt(h.cupsMediaType));
    DfLog(LOG_DEBUG, "DEBUG: cupsBitsPerColor = %d\n", HeaderInt(h.cupsBitsPerColor));
    DfLog(LOG_DEBUG, "DEBUG: cupsBitsPerPixel = %d\n", HeaderInt(h.cupsBitsPerPixel));
    DfLog(LOG_DEBUG, "DEBUG: cupsBytesPerLine = %d\n", HeaderInt(h.cupsBytesPerLine));
    DfLog(LOG_DEBUG, "DEBUG: cupsColorOrder = %d\n", HeaderInt(h.cupsColorOrder));
    DfLog(LOG_DEBUG, "DEBUG: cupsColorSpace = %d\n", HeaderInt(h.cupsColorSpace));
    DfLog(LOG_DEBUG, "DEBUG: cupsCompression = %d\n", HeaderInt(h.cupsCompression));

}

// Reads and drops the rest of the current page so the next header is found.
static void SkipPageData(cups_raster_t* ras, const cups_page_header2_t& h) {
    unsigned long long left = static_cast<unsigned long long>(h.cupsBytesPerLine) * h.cupsHeight;
    std::vector<unsigned char> chunk(65536);
    while (left > 0) {
        unsigned n = left < chunk.size() ? static_cast<unsigned>(left) : static_cast<unsigned>(chunk.size());
        if (cupsRasterReadPixels(ras, chunk.data(), n) == 0) break;
        left -= n;
    }
}

// Releases what Run opened, in the order the job ends: raster stream, input
// file (never standard input), PPD, options. The error paths free them too.
static void CloseJob(cups_raster_t* ras, int fd, ppd_file_t* ppd, int num_options, cups_option_t* options) {
    cupsRasterClose(ras);
    if (fd != 0) close(fd);
    if (ppd) ppdClose(ppd);
    cupsFreeOptions(num_options, options);
}

int CCupsInstance::Run(int argc, char** argv) {
    setbuf(stderr, nullptr);

    if (argc < 6 || argc > 7) {
        _cupsLangPrintFilter(stderr, "ERROR", "%s job-id user title copies options [file]", "dotforge");
        return 1;
    }

    int fd = 0;
    if (argc == 7) {
        fd = open(argv[6], O_RDONLY);
        if (fd < 0) {
            _cupsLangPrintError("ERROR", "Unable to open raster file");
            sleep(1);
            return 1;
        }
    }
    // The handler goes in before the raster stream is opened: opening reads
    // the stream's first bytes, and a job cancelled while it waits for them
    // must still end its document normally.
    Canceled = 0;
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    sigemptyset(&action.sa_mask);
    action.sa_handler = CancelJob;
    action.sa_flags = 0;  // no SA_RESTART: a blocked read or write returns EINTR
    sigaction(SIGTERM, &action, nullptr);
    // A closed printer connection must show as a write error, not kill us.
    signal(SIGPIPE, SIG_IGN);

    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);


    cups_option_t* options = nullptr;
    int num_options = cupsParseOptions(argv[5], 0, &options);

    ppd_file_t* ppd = ppdOpenFile(getenv("PPD"));
    if (!ppd) {
        _cupsLangPrintFilter(stderr, "ERROR", "The PPD file could not be opened.");
        int line = 0;
        ppd_status_t status = ppdLastError(&line);
        fprintf(stderr, "DEBUG: %s on line %d.\n", ppdErrorString(status), line);
        CloseJob(ras, fd, nullptr, num_options, options);
        return 1;
    }

    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, num_options, options);

    std::string modelName;
    if (ppd_attr_t* attr = ppdFindAttr(ppd, "ModelName", nullptr)) {
        DfLog(LOG_DEBUG, "ModelName=%s", attr->value ? attr->value : "");
        modelName = attr->value ? attr->value : "";
    }
    if (ppd_attr_t* attr = ppdFindAttr(ppd, "Personality", nullptr))
        DfLog(LOG_DEBUG, "lang=%s", attr->value ? attr->value : "");

    ModelNumber = ppd->model_number;
    DfLog(LOG_DEBUG, "ModelNumber = %d\n", ModelNumber);

    CBaseRender* render = CreateRender(ModelNumber);
    if (!render) {
        DfLog(LOG_ERR, "ERR: Unknow ModelNumber = %d\n", ModelNumber);
        _cupsLangPrintFilter(stderr, "ERROR", "Unknow ModelNumber.");
        CloseJob(ras, fd, ppd, num_options, options);
        return 1;
    }
    g_pRender = MakeRefPtr<CBaseRender>(render);
    g_pRender->m_ppd = ppd;
    g_pRender->GetPrinterParameters();
    g_pRender->SetModelName(modelName.c_str());

    g_pRender->OnStartDoc(0);
    Page = 0;

    cups_page_header2_t header;
    while (cupsRasterReadHeader2(ras, &header)) {
        if (Canceled) break;

        Page++;
        fprintf(stderr, "PAGE: %d 1\n", Page);
        _cupsLangPrintFilter(stderr, "INFO", "Starting page %d.", Page);

        if (const char* why = PageRejection(header)) {
            DumpHeader(header);
            _cupsLangPrintFilter(stderr, "ERROR", "Page %d skipped: %s (%ux%u dots, %u bits per pixel, %d dpi).",
                                 Page, why, header.cupsWidth, header.cupsHeight, header.cupsBitsPerPixel,
                                 HeaderInt(header.HWResolution[0]));
            SkipPageData(ras, header);
        } else {
            const unsigned bpl = header.cupsBytesPerLine;
            const int total = static_cast<int>(bpl * header.cupsHeight);
            std::vector<unsigned char> line(bpl ? bpl : 1);
            CMyBuffer page;
            page.SetMaxBufferSize(0);  // sized for the whole page below; never cut it
            page.SetBufferSize(total);
            unsigned got = 0;
            for (; got < header.cupsHeight; got++) {
                if (cupsRasterReadPixels(ras, line.data(), bpl) == 0) break;
                page.AddBuffer(line.data(), static_cast<int>(bpl));
            }
            if (got < header.cupsHeight) {
                // The rest of a short page prints white: 0xFF is white at every depth.
                fprintf(stderr, "DEBUG: Page %d ended early: %u of %u lines arrived.\n", Page, got,
                        header.cupsHeight);
                memset(line.data(), 0xFF, line.size());
                for (unsigned i = got; i < header.cupsHeight; i++) page.AddBuffer(line.data(), static_cast<int>(bpl));
            }
            StartPage(ppd, &header, page);
        }

        _cupsLangPrintFilter(stderr, "INFO", "Finished page %d.", Page);
        EndPage(ppd, &header);
        if (Canceled) break;
    }

    g_pRender->OnEndDoc();
    const bool spoolFailed = g_pRender->SpoolFailed();

    g_pRender->m_ppd = nullptr;
    CloseJob(ras, fd, ppd, num_options, options);

    if (Page == 0) {
        _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
        return 1;
    }
    return spoolFailed ? 1 : 0;
}

void CCupsInstance::StartPage(ppd_file_t*, cups_page_header2_t* header, CMyBuffer& page) {
    const cups_page_header2_t& h = *header;
    DumpHeader(h);

    CBaseRender* render = g_pRender;
    if (!render) return;
    render->m_header = header;
    render->m_iDpi = HeaderInt(h.HWResolution[0]);

    // The buffer must hold every line the image reads; a caller that passes a
    // short buffer gets the page refused rather than read past its end.
    const unsigned long long need = static_cast<unsigned long long>(h.cupsBytesPerLine) * h.cupsHeight;
    if (static_cast<unsigned long long>(page.GetBufferLength()) < need ||
        !render->m_image.CreateFromArray(reinterpret_cast<unsigned char*>(page.GetBuffer()), h.cupsWidth,
                                         h.cupsHeight, h.cupsBitsPerPixel, h.cupsBytesPerLine, false)) {
        DfLog(LOG_ERR, "create image error\n");
        return;
    }
    DfLog(LOG_DEBUG, "create image width=%d, height=%d, bitsPerPixel=%d, bytesPerLine=%d",
          HeaderInt(h.cupsWidth), HeaderInt(h.cupsHeight), HeaderInt(h.cupsBitsPerPixel),
          HeaderInt(h.cupsBytesPerLine));
    render->m_image.SetXDPI(HeaderInt(h.HWResolution[0]));
    render->m_image.SetYDPI(HeaderInt(h.HWResolution[1]));

    render->OnStartPage();
    render->OnBeginBmp();
    if (!render->PageError().empty()) {
        _cupsLangPrintFilter(stderr, "ERROR", "Page %d could not be prepared: %s", Page, render->PageError().c_str());
    } else {
        render->OnPaintBmp();
        if (!render->PageError().empty())
            _cupsLangPrintFilter(stderr, "ERROR", "Page %d was not printed: %s", Page, render->PageError().c_str());
    }
    render->OnEndBmp();
}

void CCupsInstance::EndPage(ppd_file_t*, cups_page_header2_t*) {
    if (CBaseRender* render = g_pRender) render->OnEndPage();
}
