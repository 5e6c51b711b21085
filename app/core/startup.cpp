// Start-up fixes around PAPPL 1.3.1's main loop:
//  - a sub-command that needs a server fails at once, saying so, when none
//    of this user's runs (ctlsocket.h);
//  - `drivers` is answered by creating a whole system, which listens on the
//    server port and so fails while a server runs; the list is printed here;
//  - a second `server` takes the control socket of one already running away
//    from it (it unlinks and binds the path); a running server is checked
//    for first, and the socket's private directory made (ctlsocket.h).
#include "app/core/startup.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/pappl/ctlsocket.h"
#include "app/core/driver.h"
#include "app/core/jobscmd.h"
#include "app/core/statuscmd.h"
#include "app/pappl/optionscmd.h"

namespace {

int ListDrivers() {
    int count;
    const pappl_pr_driver_t* drivers = DfAppDriverList(&count);
    for (int i = 0; i < count; i++)
        printf("%s \"%s\" \"%s\"\n", drivers[i].name, drivers[i].description,
               drivers[i].device_id ? drivers[i].device_id : "");
    return 0;
}

// The sub-commands that talk to a server. PAPPL 1.3.1's `status` says
// "Server is not running." and exits 0 without one; every one of them now
// says so and fails, unless it names a server with -u URI.
bool NeedsServer(int argc, char* argv[]) {
    static const char* const kCommands[] = {"add",    "autoadd",  "cancel",  "default", "delete",
                                            "jobs",   "modify",   "options", "pause",   "printers",
                                            "resume", "shutdown", "status",  "submit"};
    bool known = false;
    for (const char* c : kCommands) known = known || !strcmp(argv[1], c);
    for (int i = 2; known && i < argc; i++)
        if (!strncmp(argv[i], "-u", 2)) return false;
    return known;
}

}  // namespace

const char* DfAppControlSocket() {
    static std::string path;
    std::string error;
    if (!DfAppSocketPath(false, path, error)) path.clear();
    return path.c_str();
}

bool DfAppServerRunning() {
    http_t* http = nullptr;
    std::string message;
    if (DfAppReachServer(&http, message) != DfAppReach::kUp) return false;
    httpClose(http);
    return true;
}

int DfAppBeforeMainloop(int argc, char* argv[]) {
    if (argc < 2) return -1;
    if (!strcmp(argv[1], "drivers")) return ListDrivers();
    if (NeedsServer(argc, argv)) {
        http_t* http = nullptr;
        std::string message;
        if (DfAppReachServer(&http, message) != DfAppReach::kUp) {
            fprintf(stderr, "dotforge-app: %s\n", message.c_str());
            return 1;
        }
        httpClose(http);
    }
    if (!strcmp(argv[1], "jobs")) return DfAppJobsCommand(argc, argv);
    if (!strcmp(argv[1], "options")) DfAppOptionsCommandReady();
    if (!strcmp(argv[1], "status")) return DfAppStatusCommand(argc, argv);
    if (!strcmp(argv[1], "server")) {
        std::string path, error;
        if (!DfAppSocketPath(true, path, error)) {
            fprintf(stderr, "dotforge-app: %s\n", error.c_str());
            return 1;
        }
        if (DfAppServerRunning()) {
            fprintf(stderr, "dotforge-app: A server is already running (control socket %s).\n", path.c_str());
            return 1;
        }
    }
    return -1;
}

bool DfAppPrinterArgument(int argc, char* argv[], std::string& printer) {
    printer.clear();
    for (int i = 2; i < argc; i++) {
        if (!strcmp(argv[i], "-d") && i + 1 < argc)
            printer = argv[++i];
        else if (!strncmp(argv[i], "-d", 2) && argv[i][2])
            printer = argv[i] + 2;
        else
            return false;
    }
    return true;
}
