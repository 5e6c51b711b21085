// Driver data for the seven models. Every driver takes 8-bit grey lines only
// (sgray_8, also forced for bi-level jobs) so that the library, not PAPPL,
// turns grey into dots.
#include "app/core/driver.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/devices/bledevice.h"
#include "app/devices/devicelist.h"
#include "app/core/ippsettings.h"
#include "app/core/job.h"
#include "app/core/loadedmedium.h"
#include "app/core/models.h"
#include "app/core/status.h"
#include "app/core/testlabel.h"
#include "app/core/vendor.h"

namespace {

void Copy(char* dst, size_t size, const char* src) {
    strncpy(dst, src, size - 1);
    dst[size - 1] = '\0';
}

// A family that can signal does so (a TSPL printer beeps); the others only
// log it.
void Identify(pappl_printer_t* printer, pappl_identify_actions_t, const char*) {
    pappl_pr_driver_data_t data;
    if (!papplPrinterGetDriverData(printer, &data) || !data.extension) return;
    const DfAppModel& model = *static_cast<const DfAppModel*>(data.extension);
    if (const char* signal = model.family->identify) {
        if (pappl_device_t* device = DfAppOpenIdleDevice(printer)) {
            papplDevicePuts(device, signal);
            papplDeviceFlush(device);
            papplPrinterCloseDevice(printer);
        } else {
            papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: the printer is busy with jobs.");
        }
        return;
    }
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: this printer has no way to signal.");
}

void AddVendor(const DfAppModel& model, pappl_pr_driver_data_t* d, ipp_t* attrs) {
    const DfVendorAttr* list[32];
    const size_t n = DfVendorAttrs(model.modelNumber, list, 32);
    for (size_t i = 0; i < n && d->num_vendor < PAPPL_MAX_VENDOR; i++) {
        const DfVendorAttr& a = *list[i];
        d->vendor[d->num_vendor++] = a.name;
        const std::string supported = std::string(a.name) + "-supported";
        const std::string deflt = std::string(a.name) + "-default";
        const char* value = DfVendorIppValue(a, DfAppDefaultChoice(model, a.keyword));
        const int count = static_cast<int>(a.values.size() < 16 ? a.values.size() : 16);
        if (a.integer) {
            int numbers[16];
            for (int k = 0; k < count; k++) numbers[k] = atoi(a.values[k].ipp);
            ippAddIntegers(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, supported.c_str(), count, numbers);
            ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, deflt.c_str(), value ? atoi(value) : 0);
        } else {
            const char* words[16];
            for (int k = 0; k < count; k++) words[k] = a.values[k].ipp;
            ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), count, nullptr, words);
            ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, deflt.c_str(), nullptr,
                         value ? value : words[0]);
        }
    }
}

// Printer attributes IPP Everywhere asks for that PAPPL 1.3 leaves out. One
// grey plane, one side, no colour management: the values are the trivial ones.
void AddConformance(ipp_t* attrs) {
    static const char* const kOverrides[] = {"document-number", "pages"};
    ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr, kOverrides);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
                 "auto");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr,
                 "normal");
}

}  // namespace

pappl_pr_driver_t* DfAppDriverList(int* count) {
    static std::vector<pappl_pr_driver_t> list;
    if (list.empty()) {
        size_t n;
        const DfAppModel* models = DfAppModels(&n);
        for (size_t i = 0; i < n; i++)
            list.push_back({models[i].driver, models[i].makeModel, models[i].deviceId,
                            const_cast<DfAppModel*>(&models[i])});
    }
    *count = static_cast<int>(list.size());
    return list.data();
}

bool DfAppDriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri, const char*,
                         pappl_pr_driver_data_t* d, ipp_t** attrs, void*) {
    std::string uriError;
    if (!DfAppCheckDeviceUri(device_uri, uriError)) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "%s", uriError.c_str());
        return false;
    }
    const DfAppModel* found = DfAppFindModel(driver_name);
    if (!found) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "No driver named '%s'.", driver_name ? driver_name : "");
        return false;
    }
    const DfAppModel& m = *found;
    DfBleNotePrinter(device_uri, m.modelNumber);
    d->extension = const_cast<DfAppModel*>(found);
    d->printfile_cb = DfAppPrintRaw;
    d->rstartjob_cb = DfAppStartJob;
    d->rstartpage_cb = DfAppStartPage;
    d->rwriteline_cb = DfAppWriteLine;
    d->rendpage_cb = DfAppEndPage;
    d->rendjob_cb = DfAppEndJob;
    d->identify_cb = Identify;
    d->status_cb = DfAppStatus;
    d->testpage_cb = DfAppTestPage;
    d->format = m.format;
    Copy(d->make_and_model, sizeof(d->make_and_model), m.makeModel);
    d->ppm = 10;
    d->kind = m.family->kind == DfKind::Receipt ? PAPPL_KIND_RECEIPT : PAPPL_KIND_LABEL;
    d->has_supplies = true;
    d->orient_default = IPP_ORIENT_PORTRAIT;
    d->color_supported = PAPPL_COLOR_MODE_BI_LEVEL | PAPPL_COLOR_MODE_MONOCHROME;
    d->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    d->content_default = PAPPL_CONTENT_AUTO;
    d->quality_default = IPP_QUALITY_NORMAL;
    // Pictures are fitted: the whole picture on the label, centred.
    d->scaling_default = PAPPL_SCALING_FIT;
    d->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    d->force_raster_type = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    d->duplex = PAPPL_DUPLEX_NONE;
    d->sides_supported = PAPPL_SIDES_ONE_SIDED;
    d->sides_default = PAPPL_SIDES_ONE_SIDED;
    d->finishings = PAPPL_FINISHINGS_NONE;
    d->num_resolution = 1;
    d->x_resolution[0] = d->y_resolution[0] = m.dpi;
    d->x_default = d->y_default = m.dpi;
    // Margins of 0.01 mm, not borderless: CUPS's driverless PPD names a size
    // with no margins "4x6.Borderless" but defaults to "4x6", which it then
    // cannot find, and its queues print on Letter.
    d->borderless = false;
    d->left_right = d->bottom_top = 1;

    d->num_media = 0;
    for (const std::string& name : m.media) {
        if (d->num_media >= PAPPL_MAX_MEDIA) break;
        d->media[d->num_media++] = name.c_str();
    }
    for (const std::string& name : DfAppClientSizes(m)) {
        if (d->num_media >= PAPPL_MAX_MEDIA) break;
        d->media[d->num_media++] = name.c_str();
    }
    d->num_source = 1;
    d->source[0] = "main-roll";

    d->tracking_supported =
        m.labels ? PAPPL_MEDIA_TRACKING_CONTINUOUS | PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK
                 : PAPPL_MEDIA_TRACKING_CONTINUOUS;
    // Gap labels are loaded when the default media sensing is the gap's.
    const char* tracking = DfAppDefaultChoice(m, "zeMediaTracking");
    bool gapDefault = false;
    if (const DfOption* option = tracking ? DfFindOption(*m.family, "zeMediaTracking") : nullptr)
        for (const DfChoice& c : option->choices)
            if (!strcmp(c.name, tracking) && c.ipp && !strcmp(c.ipp, "gap")) gapDefault = true;
    d->num_type = 0;
    d->type[d->num_type++] = "labels";
    d->type[d->num_type++] = "continuous";
    for (const DfMediaType& t : m.family->mediaTypes)
        if (d->num_type < PAPPL_MAX_TYPE) d->type[d->num_type++] = t.ipp;

    pappl_media_col_t& ready = d->media_ready[0];
    memset(&ready, 0, sizeof(ready));
    if (pwg_media_t* pwg = pwgMediaForPWG(m.mediaDefault.c_str())) {
        ready.size_width = pwg->width;
        ready.size_length = pwg->length;
    }
    Copy(ready.size_name, sizeof(ready.size_name), m.mediaDefault.c_str());
    ready.left_margin = ready.right_margin = d->left_right;
    ready.bottom_margin = ready.top_margin = d->bottom_top;
    Copy(ready.source, sizeof(ready.source), "main-roll");
    Copy(ready.type, sizeof(ready.type), gapDefault ? "labels" : "continuous");
    ready.tracking = gapDefault ? PAPPL_MEDIA_TRACKING_GAP : PAPPL_MEDIA_TRACKING_CONTINUOUS;
    d->media_default = ready;

    // Label modes only where the family has them (TSPL's LabelMode): a
    // receipt printer has no tear-off mode to offer.
    d->mode_supported = static_cast<pappl_label_mode_t>(0);
    d->mode_configured = static_cast<pappl_label_mode_t>(0);
    if (m.family->labelModes) {
        d->mode_supported = PAPPL_LABEL_MODE_TEAR_OFF | PAPPL_LABEL_MODE_PEEL_OFF | PAPPL_LABEL_MODE_CUTTER |
                            PAPPL_LABEL_MODE_CUTTER_DELAYED;
        d->mode_configured = PAPPL_LABEL_MODE_TEAR_OFF;
        const std::vector<int> steps = DfAppNumbers(m, "FeedOffset");
        d->tear_offset_supported[0] = 0;
        d->tear_offset_supported[1] = steps.empty() ? 0 : steps.back() * 100;
    }
    d->tear_offset_configured = 0;
    int maxSpeed = 0;
    for (int s : m.speeds) maxSpeed = s > maxSpeed ? s : maxSpeed;
    if (maxSpeed) {
        d->speed_supported[0] = 0;
        d->speed_supported[1] = maxSpeed * 2540;
    }
    d->speed_default = 0;
    d->darkness_supported = m.darknessLevels;
    d->darkness_configured = m.darknessLevels ? kDfDarknessUntouched : 0;
    d->darkness_default = 0;
    d->identify_supported = PAPPL_IDENTIFY_ACTIONS_SOUND;
    d->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;

    if (!*attrs) *attrs = ippNew();
    AddVendor(m, d, *attrs);
    DfAppAddMismatchAttr(d, *attrs);
    AddConformance(*attrs);
    return true;
}
