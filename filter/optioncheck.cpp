// Warnings for job options the printer will not act on: values our PPD does
// not accept and misspelt option names.
#include "filter/optioncheck.h"

#include <cstring>
#include <vector>

#include "filter/ppdsettings.h"
#include "render/optionrules.h"

namespace {

// Options of CUPS, its filters and IPP that reach a filter's argv[5]. IPP
// names with a hyphen are all passed over; these are the rest.
const char* const kCupsOptions[] = {
    "collate",         "columns",     "copies",    "cpi",         "fitplot",    "fit-to-page",
    "gamma",           "hue",         "landscape", "lpi",         "media",      "mirror",
    "natural-scaling", "ppi",         "position",  "prettyprint", "raw",        "saturation",
    "scaling",         "sides",       "wrap",      "nowrap",      "blackplot",  "penwidth",
    "outputorder",     "orientation", "Collate",   "Duplex",      "InputSlot",  "MediaType",
    "OutputBin",       "PageRegion",  "PageSize",  "Resolution",  "ColorModel", "cupsPrintQuality",
    "job-sheets",
};

bool IsCupsOption(const char* name) {
    if (strchr(name, '-')) return true;
    for (const char* c : kCupsOptions)
        if (strcmp(name, c) == 0) return true;
    return false;
}

}  // namespace

void DfCheckJobOptions(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                       const std::function<void(const std::string&)>& warn) {
    if (!ppd) return;
    // Our options as this PPD has them; near misses are matched only to these.
    std::vector<std::string> ours;
    for (const std::string& k : DfOptionKeywords())
        if (ppdFindOption(ppd, k.c_str())) ours.push_back(k);

    for (int i = 0; i < numOptions; i++) {
        const char* name = options[i].name;
        const char* value = options[i].value ? options[i].value : "";
        if (!name) continue;
        bool isOurs = false;
        for (const std::string& k : ours)
            if (k == name) isOurs = true;
        if (isOurs) {
            ppd_option_t* option = ppdFindOption(ppd, name);
            int number;
            if (ppdFindChoice(option, value) || DfPpdSettings::NumericValue(option, value, number)) continue;
            ppd_choice_t* marked = ppdFindMarkedChoice(ppd, name);
            warn(DfRefusedValue(name, value, DfPpdSettings::ChoiceNames(option),
                                marked ? marked->choice : "its default"));
            continue;
        }
        if (IsCupsOption(name)) continue;
        // CUPS matches option names without letter case: a valid choice in
        // other letters has been acted on.
        ppd_option_t* other = ppdFindOption(ppd, name);
        if (other && ppdFindChoice(other, value)) continue;
        const std::string near = DfNearOption(name, ours);
        if (!near.empty())
            warn(std::string("Option ") + name + "=" + value +
                 " is not one of this printer's; did you mean " + near + "?");
    }
}
