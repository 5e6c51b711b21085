// Label mode (tear-off, peel-off, cutter) on the web interface's "Printing
// Defaults" page, for the drivers that have it (the row itself is web's,
// DfFenceHooks::labelModeRow). PAPPL 1.3.1 takes
// label-mode-configured over IPP (`modify -o label-mode-configured=cutter`)
// but leaves it off that page. The definitions below come before libpappl's
// in symbol lookup (see app/pappl/hardening.cpp): while the page runs, the posted
// form's label-mode-configured is noted and goes into the driver defaults
// PAPPL saves, and app/pappl/webselect.cpp writes the row before the page's
// "Save Changes" button.
#include "app/pappl/weblabelmode.h"

#include <dlfcn.h>

#include <cstring>

#include "app/pappl/fencehooks.h"

namespace {

// The printer whose defaults page this thread is writing, and the label mode
// its posted form asks for (0: none asked).
thread_local pappl_printer_t* tPage = nullptr;
thread_local pappl_label_mode_t tPosted = 0;

const pappl_label_mode_t kModes[] = {PAPPL_LABEL_MODE_TEAR_OFF, PAPPL_LABEL_MODE_PEEL_OFF,
                                     PAPPL_LABEL_MODE_CUTTER, PAPPL_LABEL_MODE_CUTTER_DELAYED};

const char* Keyword(pappl_label_mode_t mode) {
    switch (mode) {
        case PAPPL_LABEL_MODE_TEAR_OFF:
            return "tear-off";
        case PAPPL_LABEL_MODE_PEEL_OFF:
            return "peel-off";
        case PAPPL_LABEL_MODE_CUTTER:
            return "cutter";
        case PAPPL_LABEL_MODE_CUTTER_DELAYED:
            return "cutter-delayed";
        default:
            return nullptr;
    }
}

// A value no driver offers: PAPPL then says "Bad printer defaults."
constexpr pappl_label_mode_t kUnknown = 0xffff;

pappl_label_mode_t ModeOf(const char* keyword) {
    for (pappl_label_mode_t m : kModes)
        if (!strcmp(keyword, Keyword(m))) return m;
    return kUnknown;
}

}  // namespace

std::string DfAppLabelModeRow() {
    return tPage ? DfAppFenceHooks().labelModeRow(tPage) : std::string();
}

const pappl_label_mode_t* DfAppLabelModes(size_t* count) {
    *count = sizeof(kModes) / sizeof(kModes[0]);
    return kModes;
}

const char* DfAppLabelModeKeyword(pappl_label_mode_t mode) {
    return Keyword(mode);
}

extern "C" {

void _papplPrinterWebDefaults(pappl_client_t* client, pappl_printer_t* printer) {
    static const auto real = reinterpret_cast<void (*)(pappl_client_t*, pappl_printer_t*)>(
        dlsym(RTLD_NEXT, "_papplPrinterWebDefaults"));
    tPage = printer;
    tPosted = 0;
    real(client, printer);
    tPage = nullptr;
    tPosted = 0;
}

int papplClientGetForm(pappl_client_t* client, cups_option_t** form) {
    static const auto real =
        reinterpret_cast<int (*)(pappl_client_t*, cups_option_t**)>(dlsym(RTLD_NEXT, "papplClientGetForm"));
    const int count = real(client, form);
    if (tPage && count > 0 && papplClientIsValidForm(client, count, *form))
        if (const char* value = cupsGetOption("label-mode-configured", count, *form)) tPosted = ModeOf(value);
    return count;
}

// PAPPL's page keeps the label mode it read before the form; the posted
// one replaces it when the printer offers it.
bool papplPrinterSetDriverDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data, int num_vendor,
                                   cups_option_t* vendor) {
    static const auto real =
        reinterpret_cast<bool (*)(pappl_printer_t*, pappl_pr_driver_data_t*, int, cups_option_t*)>(
            dlsym(RTLD_NEXT, "papplPrinterSetDriverDefaults"));
    if (printer != tPage || !tPosted) return real(printer, data, num_vendor, vendor);
    if (tPosted == kUnknown || !(data->mode_supported & tPosted)) return false;
    pappl_pr_driver_data_t changed = *data;
    changed.mode_configured = tPosted;
    return real(printer, &changed, num_vendor, vendor);
}

}  // extern "C"
