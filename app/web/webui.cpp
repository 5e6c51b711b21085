// Web interface glue: the localisation strings, the device lists as web
// pages, and what the fence's Printing Defaults page asks for.
#include "app/web/webui.h"

#include <cstdio>
#include <cstring>

#include "app/core/ippsettings.h"
#include "app/core/models.h"
#include "app/devices/devicelist.h"
#include "app/pappl/fencehooks.h"
#include "app/pappl/jobvalues.h"
#include "app/pappl/statustext.h"
#include "app/pappl/weblabelmode.h"
#include "app/pappl/webselect.h"

namespace {

const DfOption* LabelModeOption(const DfAppModel& model) {
    for (const DfOption& o : model.family->options)
        if (!strcmp(o.keyword, "LabelMode")) return &o;
    return nullptr;
}

// The words of the LabelMode choice that stands for the mode.
const char* Words(const DfOption& option, pappl_label_mode_t mode) {
    const char* keyword = DfAppLabelModeKeyword(mode);
    for (const DfChoice& c : option.choices)
        if (keyword && c.ipp && !strcmp(c.ipp, keyword)) return c.text;
    return keyword;
}

}  // namespace

void DfAppWebSetup(pappl_system_t* system) {
    papplSystemAddStringsData(system, "/en.strings", "en", DfAppEnglishStrings());
    DfAppSetDeviceListsForWeb(true);
    DfAppReasonWordsReady();
    DfFenceHooks& hooks = DfAppFenceHooks();
    hooks.labelModeRow = DfAppLabelModeRowOf;
    hooks.darknessExtraOptions = DfAppDarknessExtraOptions;
    hooks.speedExtraOptions = DfAppSpeedExtraOptions;
    if (!DfAppJobValuesReady())
        papplLog(system, PAPPL_LOGLEVEL_WARN, "Job options sent as names (CUPS raw queues) will be refused.");
    if (!DfAppWebSelectsReady())
        papplLog(system, PAPPL_LOGLEVEL_WARN,
                 "The web pages' darkness and speed selects may not show the current values.");
}

std::string DfAppLabelModeRowOf(pappl_printer_t* printer) {
    pappl_pr_driver_data_t data;
    if (!printer || !papplPrinterGetDriverData(printer, &data) || !data.mode_supported || !data.extension)
        return "";
    const DfOption* option = LabelModeOption(*static_cast<const DfAppModel*>(data.extension));
    if (!option) return "";
    std::string row = std::string("              <tr><th>") + option->text +
                      ":</th><td><select name=\"label-mode-configured\">";
    size_t count;
    const pappl_label_mode_t* modes = DfAppLabelModes(&count);
    for (size_t i = 0; i < count; i++) {
        const pappl_label_mode_t m = modes[i];
        if (!(data.mode_supported & m)) continue;
        row += std::string("<option value=\"") + DfAppLabelModeKeyword(m) + "\"" +
               (m == data.mode_configured ? " selected" : "") + ">" + Words(*option, m) + "</option>";
    }
    return row + "</select></td></tr>\n";
}

std::string DfAppDarknessExtraOptions(int configured, int levels) {
    if (levels < 2) return "";
    bool step = false, ownStep = false;
    for (int i = 0; i < levels; i++) {
        const int percent = 100 * i / (levels - 1);
        step = step || percent == configured;
        ownStep = ownStep || percent == kDfDarknessUntouched;
    }
    std::string out;
    if (!step && configured != kDfDarknessUntouched && configured >= 0 && configured <= 100)
        out += "<option value=\"" + std::to_string(configured) + "\" selected>" + std::to_string(configured) +
               "%</option>";
    if (!ownStep)
        out += "<option value=\"" + std::to_string(kDfDarknessUntouched) + "\"" +
               (configured == kDfDarknessUntouched ? " selected" : "") + ">Printer's own setting</option>";
    return out;
}

std::string DfAppSpeedExtraOptions(int speed) {
    // Hundredths of a millimetre per second; the page posts inches per second.
    if (speed <= 0) return "";
    const int inches = (speed + 1270) / 2540;
    char text[96];
    snprintf(text, sizeof(text), "<option value=\"%d\" selected>%.1f inches/sec</option>",
             inches > 0 ? inches : 1, speed / 2540.0);
    return text;
}
