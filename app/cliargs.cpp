// Copies for `dotforge-app submit`.
#include "app/cliargs.h"

#include <cstring>

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
            if (a[0] == '-' && a[1] && !a[2] && strchr("adhjmouv", a[1]) && i + 1 < argc)
                out.push_back(argv[++i]);
        }
    }
    return out;
}
