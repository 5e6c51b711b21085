// The loaded medium rules: the mismatch attribute, the loaded medium and the
// hooks the document filter and the raster callbacks call.
#include "app/loadedmedium.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/job.h"
#include "app/labelfit.h"
#include "app/mediafit.h"
#include "app/models.h"
#include "render/pageintake.h"

namespace {

const char* const kMismatchWords[] = {"fit", "hold", "as-sent"};

bool Parse(const char* value, DfMismatch& out) {
    for (int i = 0; value && i < 3; i++)
        if (!strcmp(value, kMismatchWords[i])) {
            out = static_cast<DfMismatch>(i);
            return true;
        }
    return false;
}

bool Near(int a, int b) {
    return abs(a - b) <= 100;  // hundredths of a millimetre
}

}  // namespace

void DfAppAddMismatchAttr(pappl_pr_driver_data_t* d, ipp_t* attrs) {
    if (d->num_vendor >= PAPPL_MAX_VENDOR) return;
    d->vendor[d->num_vendor++] = kDfMismatchAttr;
    const std::string name = kDfMismatchAttr;
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (name + "-supported").c_str(), 3, nullptr,
                  kMismatchWords);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (name + "-default").c_str(), nullptr,
                 kMismatchWords[0]);
}

bool DfAppMismatchOption(const char* name, const char* value) {
    DfMismatch m;
    return name && !strcmp(name, kDfMismatchAttr) && Parse(value, m);
}

DfMismatch DfAppJobMismatch(pappl_job_t* job, const pappl_pr_options_t& options) {
    DfMismatch m = DfMismatch::Fit;
    if (Parse(cupsGetOption(kDfMismatchAttr, options.num_vendor, options.vendor), m)) return m;
    ipp_t* attrs = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
    const std::string name = std::string(kDfMismatchAttr) + "-default";
    if (ipp_attribute_t* a = attrs ? ippFindAttribute(attrs, name.c_str(), IPP_TAG_KEYWORD) : nullptr)
        Parse(ippGetString(a, 0, nullptr), m);
    ippDelete(attrs);
    return m;
}

bool DfAppLoadedMedium(pappl_printer_t* printer, pappl_media_col_t& ready, bool& roll) {
    pappl_pr_driver_data_t data;
    if (!papplPrinterGetDriverData(printer, &data) || !data.extension) return false;
    ready = data.media_ready[0];
    roll = !static_cast<const DfAppModel*>(data.extension)->labels;
    return ready.size_width > 0 && (roll || ready.size_length > 0);
}

bool DfAppIsLoadedMedium(const pappl_media_col_t& media, const pappl_media_col_t& ready, bool roll) {
    return Near(media.size_width, ready.size_width) && (roll || Near(media.size_length, ready.size_length));
}

void DfAppFitDocumentMedia(pappl_job_t* job, pappl_pr_options_t* options) {
    pappl_media_col_t ready;
    bool roll;
    const pappl_media_col_t asked = options->media;
    if (!DfAppLoadedMedium(papplJobGetPrinter(job), ready, roll) || asked.size_width <= 0 ||
        asked.size_length <= 0 || DfAppIsLoadedMedium(asked, ready, roll) ||
        DfAppJobMismatch(job, *options) == DfMismatch::AsSent)
        return;
    options->media = ready;
    if (roll) {
        // The page's length follows its aspect; a landscape page is turned along the roll.
        const long long across = asked.size_width < asked.size_length ? asked.size_width : asked.size_length;
        const long long along = asked.size_width < asked.size_length ? asked.size_length : asked.size_width;
        options->media.size_length = static_cast<int>(ready.size_width * along / across);
    }
    options->print_scaling = PAPPL_SCALING_FIT;
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The job's %.1f x %.1f mm page is fitted onto the loaded %s.",
                asked.size_width / 100.0, asked.size_length / 100.0, ready.size_name);
}

DfAppFitState DfAppFitRasterJob(pappl_job_t* job, pappl_pr_options_t* options) {
    DfAppFitState s;
    pappl_media_col_t ready;
    if (!DfAppLoadedMedium(papplJobGetPrinter(job), ready, s.roll) ||
        DfAppJobMismatch(job, *options) == DfMismatch::AsSent)
        return s;
    s.enabled = true;
    if (options->media.size_width > 0 && !DfAppIsLoadedMedium(options->media, ready, s.roll)) {
        s.mediaDiffers = true;
        options->media = ready;
    }
    return s;
}

bool DfAppFitsPage(const DfAppFitState& s, const cups_page_header2_t& h, const pappl_media_col_t& media) {
    if (!s.enabled) return false;
    const int xdpi = DfHeaderInt(h.HWResolution[0]), ydpi = DfHeaderInt(h.HWResolution[1]);
    const unsigned width = DfAppLengthToDots(media.size_width, xdpi);
    const unsigned length = DfAppLengthToDots(media.size_length, ydpi);
    if (!width || (!s.roll && !length) ||
        DfIsLoadedSize(h.cupsWidth, h.cupsHeight, width, length, s.roll, xdpi))
        return false;
    return s.mediaDiffers || !DfPageTooLarge(h.cupsWidth, h.cupsHeight, xdpi, ydpi, media.size_width,
                                             media.size_length, !s.roll)
                                  .empty();
}

void DfAppGreyHeader(cups_page_header2_t& h, unsigned width, unsigned height) {
    const unsigned xdpi = h.HWResolution[0] ? h.HWResolution[0] : 72;
    const unsigned ydpi = h.HWResolution[1] ? h.HWResolution[1] : 72;
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = width;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsNumColors = 1;
    h.PageSize[0] = (width * 72u + xdpi / 2) / xdpi;
    h.PageSize[1] = (height * 72u + ydpi / 2) / ydpi;
    h.cupsPageSize[0] = static_cast<float>(width) * 72.0f / static_cast<float>(xdpi);
    h.cupsPageSize[1] = static_cast<float>(height) * 72.0f / static_cast<float>(ydpi);
    h.ImagingBoundingBox[0] = h.ImagingBoundingBox[1] = 0;
    h.ImagingBoundingBox[2] = h.PageSize[0];
    h.ImagingBoundingBox[3] = h.PageSize[1];
}
