// Copies for `dotforge-app submit`.
#include "app/core/cliargs.h"

#include <cups/cups.h>

#include <cstdio>
#include <cstring>

#include "app/core/models.h"

std::vector<std::string> DfAppFixArgs(int argc, const char* const* argv) {
    std::vector<std::string> out(argv, argv + argc);
    if (argc < 2 || strcmp(argv[1], "submit")) return out;
    out.resize(2);
    for (int i = 2; i < argc; i++) {
        const char* a = argv[i];
        if (!strcmp(a, "--")) {  // file names from here on
            out.insert(out.end(), argv + i, argv + argc);
            break;
        }
        const bool copies = a[0] == '-' && (a[1] == 'n' || a[1] == 'c');
        if (copies && a[2]) {
            out.push_back("-o");
            out.push_back(std::string("copies=") + (a + 2));
        } else if (copies && i + 1 < argc) {
            out.push_back("-o");
            out.push_back(std::string("copies=") + argv[++i]);
        } else {
            out.push_back(a);
            // Options whose value is the next argument: it is no option itself.
            if (a[0] == '-' && a[1] && !a[2] && strchr("dhjmouv", a[1]) && i + 1 < argc)
                out.push_back(argv[++i]);
        }
    }
    return out;
}

namespace {

// The widest medium of any driver, in hundredths of a millimetre.
int WidestMedium() {
    size_t n;
    const DfAppModel* models = DfAppModels(&n);
    int widest = 0;
    for (size_t i = 0; i < n; i++)
        for (const std::string& name : models[i].media)
            if (pwg_media_t* pwg = pwgMediaForPWG(name.c_str())) widest = pwg->width > widest ? pwg->width : widest;
    return widest;
}

}  // namespace

std::string DfAppSubmitMediaProblem(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[1] != "submit") return std::string();
    for (size_t i = 2; i + 1 < args.size(); i++) {
        if (args[i] != "-o") continue;
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(args[++i].c_str(), 0, &options);
        const char* media = cupsGetOption("media", count, options);
        std::string problem;
        if (media) {
            pwg_media_t* pwg = pwgMediaForPWG(media);
            if (!pwg) pwg = pwgMediaForLegacy(media);
            char text[300];
            if (!pwg) {
                snprintf(text, sizeof(text), "Unknown media '%s'.", media);
                problem = text;
            } else if (pwg->width > WidestMedium()) {
                snprintf(text, sizeof(text),
                         "No printer here takes media '%s' (%.1f x %.1f mm): the widest medium is %.1f mm.",
                         media, pwg->width / 100.0, pwg->length / 100.0, WidestMedium() / 100.0);
                problem = text;
            }
        }
        cupsFreeOptions(count, options);
        if (!problem.empty()) return problem;
    }
    return std::string();
}
