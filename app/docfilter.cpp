// PNG, JPEG and PDF jobs: the document is checked and decoded before the
// printer is touched, then each page (each copy, collated) is handed to the
// raster callbacks line by line as a page of the medium's size in 8-bit grey.
// PAPPL 1.3.1's own PNG filter loops for ever on a truncated file (100% CPU,
// no cancel, no SIGTERM); registering ours for each driver format means PAPPL
// never reaches it.
#include "app/docfilter.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "app/job.h"
#include "app/loadedmedium.h"
#include "app/models.h"
#include "app/pdfdoc.h"
#include "app/picture.h"

namespace {

void FormatError(pappl_job_t* job, const std::string& text) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
    papplJobSetMessage(job, "%s", text.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
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
bool SendPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned number,
              const DfGreyImage& page) {
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
    if (!DfAppStartPage(job, options, device, number)) return false;
    for (unsigned y = 0; y < page.height; y++)
        DfAppWriteLine(job, options, device, y, &page.pixels[static_cast<size_t>(y) * page.width]);
    if (!DfAppEndPage(job, options, device, number)) return false;
    papplJobSetImpressionsCompleted(job, 1);
    return true;
}

}  // namespace

void DfAppAddDocumentFilters(pappl_system_t* system) {
    static const char* const kTypes[] = {"image/png", "image/jpeg", "application/pdf",
                                         "application/octet-stream"};
    size_t n;
    const DfAppModel* models = DfAppModels(&n);
    // PAPPL keeps the type pointers, not copies: the model table's strings live for ever.
    std::set<std::string> done;
    for (size_t i = 0; i < n; i++) {
        const char* format = models[i].format;
        if (!format || !done.insert(format).second) continue;
        for (const char* type : kTypes)
            papplSystemAddMIMEFilter(system, type, format, DfAppFilterDocument, nullptr);
    }
    papplSystemSetMIMECallback(system, Sniff, nullptr);
}

bool DfAppFilterDocument(pappl_job_t* job, pappl_device_t* device, void*) {
    const char* filename = papplJobGetFilename(job);
    const char* declared = papplJobGetFormat(job);
    std::unique_ptr<FILE, int (*)(FILE*)> file(filename ? fopen(filename, "rb") : nullptr, fclose);
    if (!file) {
        papplJobSetMessage(job, "Unable to open the print file.");
        papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
        return false;
    }
    unsigned char head[16];
    const size_t got = fread(head, 1, sizeof(head), file.get());
    rewind(file.get());
    const char* found = DfSniffFormat(head, got);
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

    DfPdfDocument doc;
    std::string error;
    unsigned pages = 1;
    if (pdf) {
        if (!doc.Open(filename, error)) {
            FormatError(job, error + ".");
            return false;
        }
        pages = static_cast<unsigned>(doc.Pages());
    }
    Options options(papplJobCreatePrintOptions(job, pages, false));
    if (!options.p) return false;
    pappl_pr_options_t* o = options.p;
    DfAppFitDocumentMedia(job, o);
    const int xdpi = o->printer_resolution[0], ydpi = o->printer_resolution[1];
    const unsigned width = DfAppLengthToDots(o->media.size_width, xdpi);
    const unsigned height = DfAppLengthToDots(o->media.size_length, ydpi);
    if (!width || !height) {
        FormatError(job, "The job's medium has no size.");
        return false;
    }
    const DfScaling scaling = Scaling(o->print_scaling);

    // A picture is decoded and placed once; every copy prints the same page.
    DfGreyImage picture;
    if (!pdf) {
        DfGreyImage decoded;
        const bool ok = !strcmp(format, "image/png")
                            ? DfDecodePng(file.get(), width, height, decoded, error)
                            : DfDecodeJpeg(file.get(), width, height, decoded, error);
        if (ok && DfTurnsToMedium(decoded.width, decoded.height, width, height)) DfTurnPicture(decoded);
        if (!ok || !DfFitPicture(decoded, width, height, scaling, picture)) {
            FormatError(job, (error.empty() ? std::string("The picture has no pixels") : error) + ".");
            return false;
        }
    }
    file.reset();

    // The pages are sent once per copy here, so the raster callbacks make none.
    const unsigned copies = o->copies > 1 ? static_cast<unsigned>(o->copies) : 1;
    o->copies = 1;
    unsigned first = 1, last = pages;
    if (o->first_page >= 1 && o->first_page <= pages) first = o->first_page;
    if (o->last_page >= first && o->last_page < last) last = o->last_page;
    papplJobSetImpressions(job, static_cast<int>((last - first + 1) * copies));
    if (!DfAppStartJob(job, o, device)) return false;
    unsigned number = 0;
    DfGreyImage page;
    for (unsigned c = 0; c < copies; c++) {
        for (unsigned p = first; p <= last; p++) {
            if (papplJobIsCanceled(job)) {
                DfAppEndJob(job, o, device);
                return true;
            }
            if (pdf &&
                !doc.RenderPage(static_cast<int>(p - 1), width, height, xdpi, ydpi, scaling, page, error)) {
                FormatError(job, error + ".");
                DfAppEndJob(job, o, device);
                return false;
            }
            if (!SendPage(job, o, device, ++number, pdf ? page : picture)) return false;
        }
    }
    return DfAppEndJob(job, o, device);
}
