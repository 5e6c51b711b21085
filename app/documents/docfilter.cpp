// PNG, JPEG and PDF jobs: the document is typed here, then rendered by a
// child process within the document budget (docrender.h); its first page
// comes before the printer is touched, then each page (each copy, collated)
// is handed to the raster callbacks line by line as a page of the medium's
// size in 8-bit grey. A rendering that runs out of its budget ends the job
// with document-unprintable-error and is recorded, so a restart does not run
// it again.
// PAPPL 1.3.1's own PNG filter loops for ever on a truncated file (100% CPU,
// no cancel, no SIGTERM); registering ours for each driver format means PAPPL
// never reaches it.
#include "app/documents/docfilter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "app/documents/docbudget.h"
#include "app/documents/docrender.h"
#include "app/documents/mediafit.h"
#include "app/documents/picture.h"

namespace {

void FormatError(pappl_job_t* job, const std::string& text) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
    papplJobSetMessage(job, "%s", text.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
}

void BudgetError(pappl_job_t* job, const std::string& text) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
    papplJobSetMessage(job, "%s", text.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
}

DfScaling Scaling(pappl_scaling_t s) {
    switch (s) {
        case PAPPL_SCALING_AUTO_FIT:
            return DfScaling::AutoFit;
        case PAPPL_SCALING_FILL:
            return DfScaling::Fill;
        case PAPPL_SCALING_FIT:
            return DfScaling::Fit;
        case PAPPL_SCALING_NONE:
            return DfScaling::None;
        default:
            return DfScaling::Auto;
    }
}

// Content typing for documents sent as application/octet-stream.
const char* Sniff(const unsigned char* header, size_t size, void*) {
    return DfSniffFormat(header, size);
}

struct Options {
    pappl_pr_options_t* p = nullptr;
    explicit Options(pappl_pr_options_t* o) : p(o) {}
    ~Options() {
        if (p) papplJobDeletePrintOptions(p);
    }
};

// One page through the raster callbacks. False when the job failed.
bool SendPage(const DfAppDocumentSink& sink, pappl_job_t* job, pappl_pr_options_t* options,
              pappl_device_t* device, unsigned number, const DfGreyImage& page) {
    cups_page_header2_t& h = options->header;
    h.cupsWidth = page.width;
    h.cupsHeight = page.height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = page.width;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsNumColors = 1;
    h.HWResolution[0] = static_cast<unsigned>(options->printer_resolution[0]);
    h.HWResolution[1] = static_cast<unsigned>(options->printer_resolution[1]);
    h.PageSize[0] = static_cast<unsigned>((page.width * 72u + h.HWResolution[0] / 2) / h.HWResolution[0]);
    h.PageSize[1] = static_cast<unsigned>((page.height * 72u + h.HWResolution[1] / 2) / h.HWResolution[1]);
    h.cupsPageSize[0] = static_cast<float>(page.width) * 72.0f / static_cast<float>(h.HWResolution[0]);
    h.cupsPageSize[1] = static_cast<float>(page.height) * 72.0f / static_cast<float>(h.HWResolution[1]);
    h.ImagingBoundingBox[2] = h.PageSize[0];
    h.ImagingBoundingBox[3] = h.PageSize[1];
    if (!sink.startPage(job, options, device, number)) return false;
    for (unsigned y = 0; y < page.height; y++)
        sink.writeLine(job, options, device, y, &page.pixels[static_cast<size_t>(y) * page.width]);
    if (!sink.endPage(job, options, device, number)) return false;
    papplJobSetImpressionsCompleted(job, 1);
    return true;
}

}  // namespace

void DfAppAddDocumentFilters(pappl_system_t* system, const std::vector<const char*>& formats,
                             const DfAppDocumentSink* sink) {
    // application/vnd.cups-pdf (a PDF whose options are still to be applied)
    // makes a driverless CUPS queue hand its PDFs over as they are, as to a
    // CUPS server: CUPS's own pdftopdf would turn a landscape page clockwise
    // (CUPS 2.4's driverless PPD has no LandscapeOrientation) and leave a
    // smaller page small, where the app turns it anticlockwise and fits it.
    // Page ranges, copies and scaling are the app's then, as for any client.
    static const char* const kTypes[] = {"image/png", "image/jpeg", "application/pdf",
                                         "application/vnd.cups-pdf", "application/octet-stream"};
    // PAPPL keeps the type pointers, not copies.
    std::set<std::string> done;
    for (const char* format : formats) {
        if (!format || !done.insert(format).second) continue;
        for (const char* type : kTypes)
            papplSystemAddMIMEFilter(system, type, format, DfAppFilterDocument,
                                     const_cast<DfAppDocumentSink*>(sink));
    }
    papplSystemSetMIMECallback(system, Sniff, nullptr);
}

bool DfAppFilterDocument(pappl_job_t* job, pappl_device_t* device, void* data) {
    const DfAppDocumentSink& sink = *static_cast<const DfAppDocumentSink*>(data);
    const char* filename = papplJobGetFilename(job);
    const char* declared = papplJobGetFormat(job);
    if (declared && !strcmp(declared, "application/vnd.cups-pdf")) declared = "application/pdf";
    const int fd = filename ? open(filename, O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    if (fd < 0) {
        papplJobSetMessage(job, "Unable to open the print file.");
        papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
        return false;
    }
    std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* f) {
        close(*f);
        delete f;
    });
    unsigned char head[16];
    const ssize_t got = pread(fd, head, sizeof(head), 0);
    const char* found = DfSniffFormat(head, got > 0 ? static_cast<size_t>(got) : 0);
    const bool octet = !declared || !strcmp(declared, "application/octet-stream");
    const char* format = octet ? found : declared;
    if (!format || (!octet && (!found || strcmp(found, declared)))) {
        FormatError(job, std::string("The document is not ") +
                             (octet ? "in a format this printer reads"
                                    : std::string("a ") + declared + " file" +
                                          (found ? std::string(" (it looks like ") + found + ")" : "")) +
                             ".");
        return false;
    }
    const bool pdf = !strcmp(format, "application/pdf");
    if (!pdf && strcmp(format, "image/png") && strcmp(format, "image/jpeg")) {
        FormatError(job, std::string("Documents sent as ") + format + " must be declared as such.");
        return false;
    }

    // What an earlier run of the job (before a restart) used of the budget.
    const DfDocBudget& budget = DfDocBudgetCurrent();
    DfBudgetRecord record;
    if (!record.Open(filename))
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Unable to record the document's budget use: %s.",
                    strerror(errno));
    if (record.Ended() != DfBudgetEnd::None || record.UsedMs() >= static_cast<long>(budget.seconds) * 1000) {
        const DfBudgetEnd end = record.Ended() != DfBudgetEnd::None ? record.Ended() : DfBudgetEnd::Time;
        std::string text = DfBudgetText(end, budget);
        text.insert(text.size() - 1, " (before the server stopped; it is not tried again)");
        BudgetError(job, text);
        return false;
    }
    if (record.UsedMs() > 0)
        papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                    "The document used %ld ms of its budget before the server stopped.", record.UsedMs());
    DfRenderProcess render(budget, record.UsedMs(), [job] { return papplJobIsCanceled(job); });
    render.OnProgress([&record](long used) { record.Note(used, DfBudgetEnd::None); });
    std::string error;
    if (!render.Start(fd, format, error)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to start the document renderer: %s", error.c_str());
        papplJobSetMessage(job, "Unable to start the document renderer: %s.", error.c_str());
        papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
        return false;
    }
    closer.reset();
    // Ends the job for a rendering that did not go well; true for a cancel.
    const auto ended = [&](DfRenderStatus status) {
        if (status == DfRenderStatus::OverBudget) {
            record.Note(render.UsedMs(), render.End());
            BudgetError(job, DfBudgetText(render.End(), budget, render.Error()));
            return false;
        }
        if (status == DfRenderStatus::Failed) FormatError(job, render.Error());
        return status == DfRenderStatus::Stopped;
    };

    unsigned pages = 1;
    DfRenderStatus status = render.Pages(pages);
    if (status != DfRenderStatus::Ok) return ended(status);
    Options options(papplJobCreatePrintOptions(job, pages, false));
    if (!options.p) return false;
    pappl_pr_options_t* o = options.p;
    sink.fitMedia(job, o);
    DfRenderRequest request;
    request.xdpi = o->printer_resolution[0];
    request.ydpi = o->printer_resolution[1];
    request.width = DfAppLengthToDots(o->media.size_width, request.xdpi);
    request.height = DfAppLengthToDots(o->media.size_length, request.ydpi);
    if (!request.width || !request.height) {
        FormatError(job, "The job's medium has no size.");
        return false;
    }
    request.scaling = Scaling(o->print_scaling);
    // The pages are sent once per copy here, so the raster callbacks make none.
    request.copies = o->copies > 1 ? static_cast<unsigned>(o->copies) : 1;
    o->copies = 1;
    request.last = pages;
    if (o->first_page >= 1 && o->first_page <= pages) request.first = o->first_page;
    if (o->last_page >= request.first && o->last_page < request.last) request.last = o->last_page;
    const unsigned total = (request.last - request.first + 1) * request.copies;
    papplJobSetImpressions(job, static_cast<int>(total));
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Rendering pages %u to %u of %u, %u copies, on %ux%u dots.",
                request.first, request.last, pages, request.copies, request.width, request.height);
    if (!render.Request(request)) return ended(render.Finish());

    // The first page is rendered before the printer is touched: a document
    // that cannot be rendered sends it nothing.
    DfGreyImage page;
    status = render.NextPage(page);
    if (status != DfRenderStatus::Ok) return ended(status);
    if (!sink.startJob(job, o, device)) return false;
    for (unsigned number = 1;; number++) {
        if (!SendPage(sink, job, o, device, number, page)) return false;
        status = number < total ? render.NextPage(page) : render.Finish();
        if (status != DfRenderStatus::Ok || number == total) break;
        if (papplJobIsCanceled(job)) {
            status = DfRenderStatus::Stopped;
            break;
        }
    }
    if (status != DfRenderStatus::Ok) {
        const bool ok = ended(status);
        sink.endJob(job, o, device);
        return ok;
    }
    return sink.endJob(job, o, device);
}
