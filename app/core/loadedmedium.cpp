// The loaded medium rules: the mismatch attribute, the loaded medium and the
// hooks the document filter and the raster callbacks call.
#include "app/core/loadedmedium.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "app/core/driverattrs.h"
#include "app/core/job.h"
#include "app/documents/labelfit.h"
#include "app/documents/mediafit.h"
#include "app/core/models.h"
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
    ipp_t* attrs = DfAppCopyDriverAttributes(papplJobGetPrinter(job));
    const std::string name = std::string(kDfMismatchAttr) + "-default";
    if (ipp_attribute_t* a = attrs ? ippFindAttribute(attrs, name.c_str(), IPP_TAG_KEYWORD) : nullptr)
        Parse(ippGetString(a, 0, nullptr), m);
    DfAppFreeDriverAttributes(attrs);
    return m;
}

bool DfAppLoadedMedium(pappl_printer_t* printer, pappl_media_col_t& ready, bool& roll) {
    pappl_pr_driver_data_t data;
    if (!papplPrinterGetDriverData(printer, &data) || !data.extension) return false;
    ready = data.media_ready[0];
    roll = !static_cast<const DfAppModel*>(data.extension)->labels || !strncmp(ready.size_name, "om_roll", 7);
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

const std::vector<std::string>& DfAppClientSizes(const DfAppModel& model) {
    // Android's table with Mopria's additions, then Windows' small sizes.
    static const char* const kClientSizes[] = {
        "na_letter_8.5x11in",    "na_legal_8.5x14in",     "na_ledger_11x17in",  "na_5x7_5x7in",
        "iso_a3_297x420mm",      "iso_a4_210x297mm",      "iso_a5_148x210mm",   "iso_b4_250x353mm",
        "iso_b5_176x250mm",      "na_govt-letter_8x10in", "na_index-4x6_4x6in", "jpn_hagaki_100x148mm",
        "om_dsc-photo_89x119mm", "om_card_54x86mm",       "oe_photo-l_3.5x5in", "iso_a8_52x74mm",
        "oe_square-photo_4x4in", "iso_a6_105x148mm",      "na_index-3x5_3x5in", "iso_dl_110x220mm"};
    static std::mutex mutex;
    static std::map<const DfAppModel*, std::vector<std::string>> made;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = made.find(&model);
    if (it != made.end()) return it->second;
    std::vector<std::string>& out = made[&model];
    std::vector<pwg_media_t> own;
    for (const std::string& name : model.media)
        if (name.compare(0, 7, "custom_"))
            if (pwg_media_t* pwg = pwgMediaForPWG(name.c_str())) own.push_back(*pwg);
    bool rolls = !model.labels;  // pocket printers list only rolls too
    for (const std::string& name : model.media) rolls |= !name.compare(0, 7, "om_roll");
    for (const std::string& name : model.media) rolls &= name.compare(0, 7, "om_label") != 0;
    for (const char* name : kClientSizes) {
        pwg_media_t* c = pwgMediaForPWG(name);
        if (!c) continue;
        const double cShort = c->width < c->length ? c->width : c->length;
        const double cLong = c->width < c->length ? c->length : c->width;
        if (cLong > 16000) continue;  // office paper, not a phone's photo or card size
        bool listed = false, close = rolls;
        for (const pwg_media_t& o : own) {
            listed |= Near(o.width, c->width) && Near(o.length, c->length);
            const double oShort = o.width < o.length ? o.width : o.length;
            const double oLong = o.width < o.length ? o.length : o.width;
            const double shape = (cLong / cShort) / (oLong / oShort);
            close |= shape > 1 / 1.08 && shape < 1.08;
        }
        if (close && !listed) out.push_back(name);
    }
    return out;
}
