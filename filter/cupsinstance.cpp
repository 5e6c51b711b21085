// The filter driver: job loop, cancellation and page intake.
#include "filter/cupsinstance.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "filter/cupslang.h"
#include "filter/optioncheck.h"
#include "filter/ppdsettings.h"
#include "filter/printerstatus.h"
#include "filter/rasterinput.h"
#include "printers/factory.h"
#include "render/pageintake.h"

int ModelNumber = 0;
int Page = 0;
volatile sig_atomic_t Canceled = 0;

// Constructed before main and destroyed after it returns, which runs the
// renderer's destructor at process exit.
static std::unique_ptr<CBaseRender> g_pRender;

void CancelJob(int) {
    Canceled = 1;
}

static DfSink* g_sink = nullptr;

CBaseRender* CCupsInstance::Render() {
    return g_pRender.get();
}

void CCupsInstance::AdoptRender(std::unique_ptr<CBaseRender> render) {
    g_pRender = std::move(render);
}

void CCupsInstance::SetOutput(DfSink* sink) {
    g_sink = sink;
}

const char* CCupsInstance::PageRejection(const cups_page_header2_t& h) {
    return DfPageIntake::Rejection(h);
}

// Status lines of the page intake, as CUPS reads them from standard error.
static void ReportToCups(DfReport level, const std::string& text) {
    switch (level) {
        case DfReport::Error:
            _cupsLangPrintFilter(stderr, "ERROR", "%s", text.c_str());
            break;
        case DfReport::Warning:
            _cupsLangPrintFilter(stderr, "WARNING", "%s", text.c_str());
            break;
        case DfReport::Info:
            _cupsLangPrintFilter(stderr, "INFO", "%s", text.c_str());
            break;
        case DfReport::Debug:
            fprintf(stderr, "DEBUG: %s\n", text.c_str());
            break;
    }
}

// Writes the page header to the debug log, one line per field.
static void DumpHeader(const cups_page_header2_t& h) {
    DfLog(LOG_DEBUG, "DEBUG: Duplex = %d\n", DfHeaderInt(h.Duplex));
    DfLog(LOG_DEBUG, "DEBUG: HWResolution = [ %d %d ]\n", DfHeaderInt(h.HWResolution[0]),
          DfHeaderInt(h.HWResolution[1]));
    DfLog(LOG_DEBUG, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", DfHeaderInt(h.ImagingBoundingBox[0]),
          DfHeaderInt(h.ImagingBoundingBox[1]), DfHeaderInt(h.ImagingBoundingBox[2]),
          DfHeaderInt(h.ImagingBoundingBox[3]));
    DfLog(LOG_DEBUG, "DEBUG: Margins = [ %d %d ]\n", DfHeaderInt(h.Margins[0]), DfHeaderInt(h.Margins[1]));
    DfLog(LOG_DEBUG, "DEBUG: ManualFeed = %d\n", DfHeaderInt(h.ManualFeed));
    DfLog(LOG_DEBUG, "DEBUG: MediaPosition = %d\n", DfHeaderInt(h.MediaPosition));
    DfLog(LOG_DEBUG, "DEBUG: NumCopies = %d\n", DfHeaderInt(h.NumCopies));
    DfLog(LOG_DEBUG, "DEBUG: Orientation = %d\n", DfHeaderInt(h.Orientation));
    DfLog(LOG_DEBUG, "DEBUG: PageSize = [ %d %d ]\n", DfHeaderInt(h.PageSize[0]), DfHeaderInt(h.PageSize[1]));
    DfLog(LOG_DEBUG, "DEBUG: cupsWidth = %d\n", DfHeaderInt(h.cupsWidth));
    DfLog(LOG_DEBUG, "DEBUG: cupsHeight = %d\n", DfHeaderInt(h.cupsHeight));
    DfLog(LOG_DEBUG, "DEBUG: cupsMediaType = %d\n", DfHeaderInt(h.cupsMediaType));
    DfLog(LOG_DEBUG, "DEBUG: cupsBitsPerColor = %d\n", DfHeaderInt(h.cupsBitsPerColor));
    DfLog(LOG_DEBUG, "DEBUG: cupsBitsPerPixel = %d\n", DfHeaderInt(h.cupsBitsPerPixel));
    DfLog(LOG_DEBUG, "DEBUG: cupsBytesPerLine = %d\n", DfHeaderInt(h.cupsBytesPerLine));
    DfLog(LOG_DEBUG, "DEBUG: cupsColorOrder = %d\n", DfHeaderInt(h.cupsColorOrder));
    DfLog(LOG_DEBUG, "DEBUG: cupsColorSpace = %d\n", DfHeaderInt(h.cupsColorSpace));
    DfLog(LOG_DEBUG, "DEBUG: cupsCompression = %d\n", DfHeaderInt(h.cupsCompression));
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

    DfRasterInput input(fd);
    cups_raster_t* ras = input.Open();

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

    if (ppd_attr_t* attr = ppdFindAttr(ppd, "ModelName", nullptr))
        DfLog(LOG_DEBUG, "ModelName=%s", attr->value ? attr->value : "");
    if (ppd_attr_t* attr = ppdFindAttr(ppd, "Personality", nullptr))
        DfLog(LOG_DEBUG, "lang=%s", attr->value ? attr->value : "");

    ModelNumber = ppd->model_number;
    DfLog(LOG_DEBUG, "ModelNumber = %d\n", ModelNumber);

    g_pRender = DfCreateRender(ModelNumber);
    if (!g_pRender) {
        DfLog(LOG_ERR, "ERR: Unknow ModelNumber = %d\n", ModelNumber);
        _cupsLangPrintFilter(stderr, "ERROR", "Unknow ModelNumber.");
        CloseJob(ras, fd, ppd, num_options, options);
        return 1;
    }
    DfCheckJobOptions(ppd, num_options, options, [](const std::string& text) {
        _cupsLangPrintFilter(stderr, "WARNING", "%s", text.c_str());
    });
    DfPpdSettings settings(ppd, num_options, options);
    g_pRender->SetSettings(&settings);
    g_pRender->SetSink(g_sink);
    g_pRender->GetPrinterParameters();

    DfFilterStatus printerStatus(ModelNumber, ppd, g_sink ? g_sink : DfStdoutSink());
    printerStatus.Check();
    g_pRender->OnStartDoc(0);
    Page = 0;

    cups_page_header2_t header;
    while (cupsRasterReadHeader2(ras, &header)) {
        if (Canceled) break;

        Page++;
        fprintf(stderr, "PAGE: %d 1\n", Page);
        _cupsLangPrintFilter(stderr, "INFO", "Starting page %d.", Page);

        DfPageIntake intake;
        const char* why = PageRejection(header);
        if (!why && !intake.Begin(header, &g_pRender->m_image))
            why = "there is no memory for its raster data";
        if (why) {
            DumpHeader(header);
            _cupsLangPrintFilter(stderr, "ERROR",
                                 "Page %d skipped: %s (%ux%u dots, %u bits per pixel, %d dpi).", Page, why,
                                 header.cupsWidth, header.cupsHeight, header.cupsBitsPerPixel,
                                 DfHeaderInt(header.HWResolution[0]));
            SkipPageData(ras, header);
        } else {
            input.ReadPage(ras, header, intake);
            const unsigned got = intake.Lines();
            if (intake.FillRest() > 0)
                fprintf(stderr, "DEBUG: Page %d ended early: %u of %u lines arrived.\n", Page, got,
                        header.cupsHeight);
            if (intake.InImage()) {
                DumpHeader(header);
                DfRenderImagePage(g_pRender.get(), &header, Page, ReportToCups);
            } else {
                StartPage(ppd, &header, intake.Page());
            }
        }

        _cupsLangPrintFilter(stderr, "INFO", "Finished page %d.", Page);
        EndPage(ppd, &header);
        // Once the printer's connection is gone nothing more can reach it:
        // stop instead of preparing the rest of the job for nobody.
        if (Canceled || g_pRender->SpoolFailed()) break;
        printerStatus.Check();
    }

    g_pRender->OnEndDoc();
    const bool spoolFailed = g_pRender->SpoolFailed();

    g_pRender->SetSettings(nullptr);
    CloseJob(ras, fd, ppd, num_options, options);

    if (Page == 0) {
        _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
        return 1;
    }
    return spoolFailed ? 1 : 0;
}

void CCupsInstance::StartPage(ppd_file_t*, cups_page_header2_t* header, CMyBuffer& page) {
    DumpHeader(*header);
    DfRenderPage(g_pRender.get(), header, page, Page, ReportToCups);
}

void CCupsInstance::EndPage(ppd_file_t*, cups_page_header2_t*) {
    if (g_pRender) g_pRender->OnEndPage();
}
