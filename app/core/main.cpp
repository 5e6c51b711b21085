// dotforge-app: the printer application. PAPPL's main loop provides the
// sub-commands (server, add, modify, submit, ...); the system callback below
// reads the server options, listens on the loopback address unless told
// otherwise and keeps printers and their settings in a state file.
#include <pappl/pappl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/web/auth.h"
#include "app/devices/bledevice.h"
#include "app/devices/bleuri.h"
#include "app/core/cliargs.h"
#include "app/devices/devicelist.h"
#include "app/devices/devicewrite.h"
#include "app/documents/docbudget.h"
#include "app/documents/docfilter.h"
#include "app/documents/docrender.h"
#include "app/core/driver.h"
#include "app/core/fencehooks.h"
#include "app/pappl/hardening.h"
#include "app/core/housekeeping.h"
#include "app/core/job.h"
#include "app/core/loadedmedium.h"
#include "app/core/models.h"
#include "app/pappl/joblimits.h"
#include "app/pappl/pappl_fence.h"
#include "app/devices/serialdevice.h"
#include "app/devices/socketdevice.h"
#include "app/core/spooldir.h"
#include "app/core/startup.h"
#include "app/core/testlabel.h"
#include "app/core/statefile.h"
#include "app/web/webui.h"
#include "base/log.h"
#include "render/optionrules.h"

#ifndef DF_APP_VERSION
#define DF_APP_VERSION "0.1.0"
#endif

namespace {

const int kDefaultPort = 8632;

// The renderers' debug log is the filter's syslog trace; in the server only
// real errors are worth a line.
void QuietLog(int priority, const char* message) {
    if (priority <= LOG_ERR) fprintf(stderr, "dotforge: %s\n", message);
}

pappl_loglevel_t LogLevel(const char* value) {
    if (!value) return PAPPL_LOGLEVEL_WARN;
    if (!strcmp(value, "debug")) return PAPPL_LOGLEVEL_DEBUG;
    if (!strcmp(value, "info")) return PAPPL_LOGLEVEL_INFO;
    if (!strcmp(value, "error")) return PAPPL_LOGLEVEL_ERROR;
    if (!strcmp(value, "fatal")) return PAPPL_LOGLEVEL_FATAL;
    return PAPPL_LOGLEVEL_WARN;
}

// Where printers and their defaults are kept unless -o state-file= says.
std::string DefaultStateFile() {
    if (const char* snap = getenv("SNAP_COMMON")) return std::string(snap) + "/dotforge-app.state";
    if (getuid() == 0) return "/var/lib/dotforge-app.state";
    if (const char* xdg = getenv("XDG_CONFIG_HOME")) return std::string(xdg) + "/dotforge-app.state";
    if (const char* home = getenv("HOME")) return std::string(home) + "/.config/dotforge-app.state";
    return "/tmp/dotforge-app.state";
}

// PNG, JPEG and PDF jobs for every driver's format, their pages handed to
// the drivers' raster callbacks.
void AddDocumentFilters(pappl_system_t* system) {
    static const DfAppDocumentSink kSink = {DfAppStartJob, DfAppStartPage, DfAppWriteLine,
                                            DfAppEndPage,  DfAppEndJob,    DfAppFitDocumentMedia};
    size_t n;
    const DfAppModel* models = DfAppModels(&n);
    std::vector<const char*> formats;  // the model table's strings live for ever
    for (size_t i = 0; i < n; i++) formats.push_back(models[i].format);
    DfAppAddDocumentFilters(system, formats, &kSink);
}

void Usage(void*) {
    puts(
        "Usage: dotforge-app SUB-COMMAND [OPTIONS] [FILENAME]\n"
        "Sub-commands: add, autoadd, cancel, default, delete, devices, drivers, jobs, modify,\n"
        "              options, printers, server, shutdown, status, submit\n"
        "Server options (-o NAME=VALUE): server-port (default 8632), listen-hostname\n"
        "  (default localhost; '*' for every address), server-name, log-file ('-' = stderr),\n"
        "  log-level (fatal, error, warn, info, debug), spool-directory, state-file,\n"
        "  auth-service (PAM service for remote configuration, default dotforge-app; none),\n"
        "  admin-group (default lpadmin), device-timeout (seconds a printer may take no data\n"
        "  before its job ends, default 60), document-time-limit (seconds of\n"
        "  rendering a PDF, PNG or JPEG may take, default 60), document-memory-limit (MB,\n"
        "  default 512), multiple-operation-time-out (seconds a job waits for its document,\n"
        "  default 60), client-idle-time-out (seconds a document may stall, default 20).");
    puts(DfAppDriversText().c_str());
}

pappl_system_t* CreateSystem(int num_options, cups_option_t* options, void*) {
    const char* portText = cupsGetOption("server-port", num_options, options);
    int port = kDefaultPort;
    if (portText && (!DfWholeNumber(portText, port) || port < 0 || port > 65535)) {
        fprintf(stderr, "dotforge-app: Bad 'server-port' value '%s' (a whole number from 0 to 65535).\n",
                portText);
        return nullptr;
    }
    const char* logFile = cupsGetOption("log-file", num_options, options);
    const char* spool = cupsGetOption("spool-directory", num_options, options);
    const char* listen = cupsGetOption("listen-hostname", num_options, options);
    const char* serverName = cupsGetOption("server-name", num_options, options);
    const char* stateOption = cupsGetOption("state-file", num_options, options);
    const char* deviceTimeout = cupsGetOption("device-timeout", num_options, options);
    if (deviceTimeout && !DfAppSetDeviceTimeout(deviceTimeout)) {
        fprintf(stderr, "dotforge-app: Bad 'device-timeout' value (1 to 3600 seconds).\n");
        return nullptr;
    }
    std::string budgetError;
    if (!DfDocBudgetFromOptions(num_options, options, budgetError)) {
        fprintf(stderr, "dotforge-app: %s\n", budgetError.c_str());
        return nullptr;
    }
    static std::string stateFile;
    stateFile = stateOption ? stateOption : DefaultStateFile();
    static std::string spoolDir;
    std::string spoolError;
    if (!DfAppSpoolDirectory(spool, stateFile, spoolDir, spoolError)) {
        fprintf(stderr, "dotforge-app: %s\n", spoolError.c_str());
        return nullptr;
    }
    spool = spoolDir.c_str();

    // Loopback only unless asked: a printer on the network is an open door.
    if (!listen) listen = "localhost";
    const bool everywhere = !strcmp(listen, "*");
    const bool loopback =
        !strcmp(listen, "localhost") || !strcmp(listen, "127.0.0.1") || !strcmp(listen, "::1");
    // No certificate can name the loopback address, so it is served without TLS.
    pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
    if (loopback) soptions |= PAPPL_SOPTIONS_NO_TLS;
    static DfAppAuth auth;
    auth = DfAppAuthFromOptions(num_options, options);
    logFile = DfAppLogBeforeCreate(logFile ? logFile : "-");
    pappl_system_t* system =
        papplSystemCreate(soptions, "dotforge", port, "_print,_universal", spool, logFile,
                          LogLevel(cupsGetOption("log-level", num_options, options)),
                          auth.service.empty() ? nullptr : auth.service.c_str(), false);
    DfAppHousekeeping(system, logFile);
    if (!system) return nullptr;
    if (!auth.warning.empty() && !loopback) papplLog(system, PAPPL_LOGLEVEL_WARN, "%s", auth.warning.c_str());

    // "localhost" is both loopback addresses, whichever of them exists here.
    bool listening;
    if (!strcmp(listen, "localhost")) {
        const bool v4 = papplSystemAddListeners(system, "127.0.0.1");
        const bool v6 = papplSystemAddListeners(system, "::1");
        listening = v4 || v6;
    } else {
        listening = papplSystemAddListeners(system, everywhere ? nullptr : listen);
    }
    if (!listening) {
        fprintf(stderr, "dotforge-app: Unable to listen on '%s' port %d.\n", listen, port);
        papplSystemDelete(system);
        return nullptr;
    }
    if (serverName)
        papplSystemSetHostName(system, serverName);
    else if (!everywhere)
        papplSystemSetHostName(system, listen);

    int count;
    pappl_pr_driver_t* drivers = DfAppDriverList(&count);
    papplSystemSetPrinterDrivers(system, count, drivers, nullptr, nullptr, DfAppDriverCallback, nullptr);
    AddDocumentFilters(system);
    papplSystemSetFooterHTML(system, "dotforge printer application");
    DfAppSetTestPageDir(spool);
    DfAppWebSetup(system);
    DfAppStateLoad(system, stateFile);
    DfAppStateCleanSpool(system, spool);
    DfDocBudgetCleanSpool(system, spool);
    // After the state: it carries an admin group of its own.
    DfAppAuthInstall(system, auth);
    DfAppInstallGuards(system, spool);
    DfAppJobLimitsSetup(system, num_options, options);
    return system;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc >= 2 && !strcmp(argv[1], kDfRenderCommand)) return DfRenderChildMain(argc, argv);
    DfSetLogSink(QuietLog);
    if (!DfFenceCheckAtStart()) return 1;
    DfAppSetFenceHooks();
    // PAPPL adds its built-in schemes (socket, usb, dnssd, ...) only to an
    // empty table: have it do so before ours goes in.
    papplDeviceIsSupported("socket://localhost");
    DfRegisterSerialScheme();
    DfRegisterBleScheme();
    DfRegisterSocketScheme();
    // `add -v ble://AA:BB:...`: the colon form would be refused as a URI.
    std::vector<std::string> bleUris;
    bleUris.reserve(static_cast<size_t>(argc));
    for (int i = 1; i < argc; i++)
        if (!strncmp(argv[i], "ble://", 6)) argv[i] = &bleUris.emplace_back(DfBleCanonicalUri(argv[i]))[0];
    if (argc >= 2 && !strcmp(argv[1], "devices"))
        return DfAppListDevices(argc >= 3 && !strcmp(argv[2], "-v"));
    const int status = DfAppBeforeMainloop(argc, argv);
    if (status >= 0) return status;
    std::vector<std::string> fixed = DfAppFixArgs(argc, argv);
    const std::string mediaProblem = DfAppSubmitMediaProblem(fixed);
    if (!mediaProblem.empty()) {
        fprintf(stderr, "dotforge-app: %s\n", mediaProblem.c_str());
        return 1;
    }
    std::vector<char*> args;
    for (std::string& a : fixed) args.push_back(&a[0]);
    args.push_back(nullptr);
    int count;
    pappl_pr_driver_t* drivers = DfAppDriverList(&count);
    return papplMainloop(static_cast<int>(fixed.size()), args.data(), DF_APP_VERSION, nullptr, count, drivers,
                         nullptr, DfAppDriverCallback, nullptr, nullptr, CreateSystem, Usage, nullptr);
}
