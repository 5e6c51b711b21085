// The current value in the darkness and speed selects of the web
// interface's "Printing Defaults" page, and the reason a printer is stopped
// on its status line.
//
// PAPPL 1.3.1 offers print-darkness as the percent steps of the head's levels
// (0%, 6%, 13%, ...) and print-speed in whole inches per second, and marks an
// option selected only when the printer's value is exactly that step. Any
// other value (ours for "leave the printer's own darkness", or one set with
// `modify -o printer-darkness-configured=70`) selects nothing, the browser
// shows the first option, and saving the page unchanged sets darkness 0 (or
// speed Auto). PAPPL writes these options with papplClientHTMLPrintf(); the
// definition below comes before libpappl's in symbol lookup, formats exactly
// as PAPPL's does, and closes those two selects with the current value (and
// "Printer's own setting" for darkness) when PAPPL selected nothing. A
// stopped printer's status line ("Stopped, 1 job") ends with the error that
// stopped it (app/pappl/devicestate.cpp). Integer vendor options show our texts
// ("All of it" rather than "-1"), the custom size's minimums are millimetres
// like the rest of it, a supply of unknown level gets no (empty) bar, and
// the label mode row goes before the Printing Defaults page's button.
#include <pappl/pappl.h>

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/pappl/devicestate.h"
#include "app/pappl/fencehooks.h"
#include "app/pappl/weblabelmode.h"
#include "app/pappl/webselect.h"

namespace {

const char* const kDarknessSelect = "<select name=\"print-darkness\">";
const char* const kDarknessOption = "<option value=\"%d\"%s>%d%%</option>";
const char* const kSpeedSelect = "<select name=\"print-speed\">";
const char* const kSpeedOption = "<option value=\"%d\"%s>%s</option>";
// A printer's status line on its page and the home page: icon class, printer
// path, state, jobs, ... then the end with the make and model.
const char* const kStatusLine = "<p><img class=\"%s\" src=\"%s/icon-md.png\">%s, %s";
const char* const kStatusEnd = ".<br>%s</p>";
// A select of an integer vendor attribute and its options, which PAPPL shows
// as bare numbers ("-1"): their texts come from our strings instead.
const char* const kVendorSelect = "<select name=\"%s\">";
const char* const kIntOption = "<option value=\"%d\"%s>%d</option>";
// The media page's custom size in millimetres: PAPPL writes both minimums in
// inches ("0.39" for 10 mm) next to millimetre maximums and values.
const char* const kCustomMm = "value=\"mm\" checked>";
// A supply's bar on the supplies page: name, colour, width, level, ... A
// level below 0 is one the printer does not report: no bar is drawn for it.
const char* const kSupplyBar = "<tr><th>%s</th><td colspan=\"4\"><span class=\"bar\"";
// The Printing Defaults page's last row, its "Save Changes" button: the
// label mode row goes before it (app/pappl/weblabelmode.cpp).
const char* const kSubmitRow = "              <tr><th></th><td><input type=\"submit\"";

enum class Open { None, Darkness, Speed };

// Per client thread: the select being written and whether PAPPL selected
// one of its options.
thread_local Open tOpen = Open::None;
thread_local bool tSelected = false;
// The reason a stopped printer's status line is to end with.
thread_local std::string tStopReason;
// The dotforge-* select being written, if any.
thread_local std::string tVendorSelect;

using PutsFn = void (*)(pappl_client_t*, const char*);

PutsFn RealPuts() {
    static const PutsFn real = reinterpret_cast<PutsFn>(dlsym(RTLD_NEXT, "papplClientHTMLPuts"));
    return real;
}

void Raw(pappl_client_t* client, const char* s) {
    if (PutsFn real = RealPuts()) real(client, s);
}

// The printer whose page this is: web pages live under /NAME/.
pappl_printer_t* PagePrinter(pappl_client_t* client) {
    const char* uri = papplClientGetURI(client);
    if (!uri || *uri != '/') return nullptr;
    const char* end = strchr(uri + 1, '/');
    const std::string name(uri + 1, end ? static_cast<size_t>(end - uri - 1) : strlen(uri + 1));
    return papplSystemFindPrinter(papplClientGetSystem(client), ("/ipp/print/" + name).c_str(), 0, nullptr);
}

// Before whatever follows the last option of an open select.
void CloseSelect(pappl_client_t* client) {
    const Open open = tOpen;
    tOpen = Open::None;
    if (open == Open::None || tSelected) return;
    pappl_printer_t* printer = PagePrinter(client);
    pappl_pr_driver_data_t data;
    if (!printer || !papplPrinterGetDriverData(printer, &data)) return;
    const DfFenceHooks& hooks = DfAppFenceHooks();
    const std::string extra =
        open == Open::Darkness ? hooks.darknessExtraOptions(data.darkness_configured, data.darkness_supported)
                               : hooks.speedExtraOptions(data.speed_default);
    Raw(client, extra.c_str());
}

// One conversion of a printf format: flags, width, precision, length and the
// conversion character, as PAPPL's own HTML printf takes them.
size_t SpecLength(const char* p) {
    size_t n = 1;  // '%'
    while (p[n] && strchr("-+ #0", p[n])) n++;
    while (p[n] == '*' || (p[n] >= '0' && p[n] <= '9')) n++;
    if (p[n] == '.') {
        n++;
        while (p[n] == '*' || (p[n] >= '0' && p[n] <= '9')) n++;
    }
    while (p[n] && strchr("hlLqjzt", p[n])) n++;
    return p[n] ? n + 1 : n;
}

}  // namespace

bool DfAppWebSelectsReady() {
    return RealPuts() != nullptr;
}

extern "C" {

void papplClientHTMLPuts(pappl_client_t* client, const char* s) {
    if (tOpen != Open::None) CloseSelect(client);
    Raw(client, s);
}

void papplClientHTMLPrintf(pappl_client_t* client, const char* format, ...) {
    if (tOpen == Open::Darkness && strcmp(format, kDarknessOption) != 0) CloseSelect(client);
    if (tOpen == Open::Speed && strcmp(format, kSpeedOption) != 0) CloseSelect(client);
    if (!tStopReason.empty() && !strncmp(format, kStatusEnd, strlen(kStatusEnd))) {
        Raw(client, ": ");
        papplClientHTMLEscape(client, tStopReason.c_str(), 0);
        tStopReason.clear();
    }
    if (!strncmp(format, kSubmitRow, strlen(kSubmitRow))) {
        const std::string row = DfAppLabelModeRow();
        if (!row.empty()) Raw(client, row.c_str());
    }
    std::vector<std::string> strings;  // the %s arguments
    if (!tVendorSelect.empty() && !strcmp(format, kIntOption)) {
        va_list ap;
        va_start(ap, format);
        const int value = va_arg(ap, int);
        const char* selected = va_arg(ap, const char*);
        va_end(ap);
        const std::string key = tVendorSelect + "." + std::to_string(value);
        const char* text = papplClientGetLocString(client, key.c_str());
        const std::string shown = text && key != text ? text : std::to_string(value);
        const std::string head =
            "<option value=\"" + std::to_string(value) + "\"" + (selected ? selected : "") + ">";
        Raw(client, head.c_str());
        papplClientHTMLEscape(client, shown.c_str(), 0);
        Raw(client, "</option>");
        return;
    }
    if (!tVendorSelect.empty()) tVendorSelect.clear();
    if (!strncmp(format, kSupplyBar, strlen(kSupplyBar))) {
        va_list ap;
        va_start(ap, format);
        va_arg(ap, const char*);
        va_arg(ap, const char*);
        va_arg(ap, double);
        const int level = va_arg(ap, int);
        va_end(ap);
        if (level < 0) return;
    }
    const bool customMm = strstr(format, kCustomMm) != nullptr;
    int doubles = 0;

    va_list ap;
    va_start(ap, format);
    std::string literal;
    bool selectedOption = false;
    for (const char* p = format; *p;) {
        if (*p != '%') {
            literal += *p++;
            continue;
        }
        if (p[1] == '%') {
            literal += '%';
            p += 2;
            continue;
        }
        const size_t n = SpecLength(p);
        const std::string conversion(p, n);
        p += n;
        const char conv = conversion.back();
        const bool star = conversion.find('*') != std::string::npos;
        const int starValue = star ? va_arg(ap, int) : 0;
        char buffer[512];
        buffer[0] = '\0';
        if (conv == 's') {
            const char* s = va_arg(ap, const char*);
            if (!s) s = "(null)";
            strings.push_back(s);
            if (!strcmp(s, " selected")) selectedOption = true;
            if (!literal.empty()) Raw(client, literal.c_str());
            literal.clear();
            const size_t dot = conversion.find('.');
            size_t len = strlen(s);
            if (dot != std::string::npos) {
                const size_t max = conversion[dot + 1] == '*' ? static_cast<size_t>(starValue)
                                                              : strtoul(&conversion[dot + 1], nullptr, 10);
                len = len < max ? len : max;
            }
            papplClientHTMLEscape(client, s, len);
            continue;
        }
        const bool isLong =
            conversion.find('l') != std::string::npos || conversion.find('z') != std::string::npos ||
            conversion.find('j') != std::string::npos || conversion.find('t') != std::string::npos ||
            conversion.find('q') != std::string::npos;
        if (strchr("diouxXc", conv)) {
            if (isLong) {
                const long long v =
                    conversion.find("ll") != std::string::npos ? va_arg(ap, long long) : va_arg(ap, long);
                star ? snprintf(buffer, sizeof(buffer), conversion.c_str(), starValue, v)
                     : snprintf(buffer, sizeof(buffer), conversion.c_str(), v);
            } else {
                const int v = va_arg(ap, int);
                star ? snprintf(buffer, sizeof(buffer), conversion.c_str(), starValue, v)
                     : snprintf(buffer, sizeof(buffer), conversion.c_str(), v);
            }
        } else if (strchr("eEfFgGaA", conv)) {
            double v = va_arg(ap, double);
            // min of width (first) and of length (fourth) to millimetres
            if (customMm && (doubles == 0 || doubles == 3)) v *= 25.4;
            doubles++;
            star ? snprintf(buffer, sizeof(buffer), conversion.c_str(), starValue, v)
                 : snprintf(buffer, sizeof(buffer), conversion.c_str(), v);
        } else if (conv == 'p') {
            snprintf(buffer, sizeof(buffer), "%p", va_arg(ap, void*));
        }
        literal += buffer;
    }
    va_end(ap);
    if (!literal.empty()) Raw(client, literal.c_str());

    if (strstr(format, kStatusLine) && strings.size() >= 2 && strings[0] == "stopped") {
        pappl_printer_t* printer = DfAppPrinterForUri(papplClientGetSystem(client), strings[1].c_str());
        tStopReason = printer ? DfAppDeviceError(papplPrinterGetDeviceURI(printer)) : "";
        while (!tStopReason.empty() && tStopReason.back() == '.') tStopReason.pop_back();
    }
    if (strstr(format, kVendorSelect) && !strings.empty() && !strncmp(strings.back().c_str(), "dotforge-", 9))
        tVendorSelect = strings.back();
    if (strstr(format, kDarknessSelect)) {
        tOpen = Open::Darkness;
        tSelected = false;
    } else if (strstr(format, kSpeedSelect)) {
        tOpen = Open::Speed;
        tSelected = false;
    } else if (tOpen != Open::None && selectedOption) {
        tSelected = true;
    }
}

}  // extern "C"
