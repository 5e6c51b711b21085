// What the fence asks of the printer application above it. The fence
// includes neither the core nor web (README, "Source layout"): each of them
// fills in its hooks here when it is set up, before a sub-command runs or
// the server serves (the core in DfAppSetFenceHooks, app/core/fencehooks.cpp;
// web in DfAppAuthInstall and DfAppWebSetup). A hook left unset answers as
// its comment says: nothing added, nothing saved, nobody admitted.
#pragma once

#include <pappl/pappl.h>
#include <sys/types.h>

#include <string>

struct DfFenceHooks {
    // The core's media holds (core/mediahold.h), before and after PAPPL
    // handles a request.
    void (*mediaHoldRequest)(pappl_client_t* client) = [](pappl_client_t*) {};
    void (*mediaHoldResponse)(pappl_client_t* client) = [](pappl_client_t*) {};
    // The core's printer status (core/status.h): how many jobs wait for
    // their printer (the shutdown need not wait for them), and the severity
    // of the printer-state-reasons in an answer.
    int (*jobsKeptQueued)() = [] { return 0; };
    void (*suffixStateReasons)(ipp_t* response) = [](ipp_t*) {};
    // The core's state file (core/statefile.h); unset, a save has nothing to
    // do and succeeds.
    bool (*stateSave)(pappl_system_t* system, std::string& error) = [](pappl_system_t*, std::string&) {
        return true;
    };
    bool (*stateSaveSoon)(pappl_system_t* system, int waitSeconds) = [](pappl_system_t*, int) {
        return true;
    };
    void (*stateStopSaving)() = [] {};
    // A job attribute of the printer's (core/vendor.h): 1 an integer one, 0 a
    // keyword one, -1 not the printer's own (left as it came).
    int (*jobValueKind)(const char* name) = [](const char*) { return -1; };
    // The `options` sub-command's list of the printer's own options, from
    // its Get-Printer-Attributes answer (core/optionslist.h).
    void (*printOwnOptions)(ipp_t* response) = [](ipp_t*) {};

    // Web's access checks (web/access.h, web/auth.h); unset, no local user is
    // known and nobody is an administrator.
    bool (*localPeerUid)(pappl_client_t* client, uid_t& uid) = [](pappl_client_t*, uid_t&) { return false; };
    bool (*jobOperation)(pappl_client_t* client) = [](pappl_client_t*) { return false; };
    bool (*authLocalAdmin)(uid_t uid) = [](uid_t) { return false; };
    bool (*authIsAdminGroup)(const char* group) = [](const char*) { return true; };
    // Web's rows and options of the Printing Defaults page (web/webui.h).
    std::string (*labelModeRow)(pappl_printer_t* printer) = [](pappl_printer_t*) { return std::string(); };
    std::string (*darknessExtraOptions)(int configured, int levels) = [](int, int) { return std::string(); };
    std::string (*speedExtraOptions)(int speed) = [](int) { return std::string(); };
};

// The hooks, filled in before any thread of the server runs and only read
// afterwards.
DfFenceHooks& DfAppFenceHooks();
