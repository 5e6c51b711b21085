// `dotforge-app jobs [-d PRINTER]`: PAPPL's job list, and after each job
// that waits for its printer or did not print, why (the job's state
// message: "Waiting for the printer: paper out.", "The document is not in
// a format this printer reads."). PAPPL 1.3.1's own list shows the state
// alone, so a job held for paper looked like one printing. A job that
// waits for a printer PAPPL stopped (unreachable, Bluetooth failed) shows
// the printer's state message: "Stopped: Unable to connect to ...".
#include "app/core/jobscmd.h"

#include <cups/cups.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "app/core/startup.h"

namespace {

bool ShowsWhy(const char* state, ipp_attribute_t* reasons) {
    if (!strcmp(state, "aborted")) return true;
    for (int i = 0; reasons && i < ippGetCount(reasons); i++)
        if (!strcmp(ippGetString(reasons, i, nullptr), "printer-stopped")) return true;
    return false;
}

// The printer-state-message of a stopped printer, "" otherwise; asked once
// per printer.
std::string StoppedWhy(http_t* http, const char* printerUri, std::map<std::string, std::string>* known) {
    if (!printerUri || !*printerUri) return "";
    const auto it = known->find(printerUri);
    if (it != known->end()) return it->second;
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char* const kWanted[] = {"printer-state", "printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
    const char* path = strstr(printerUri, "/ipp/print");
    ipp_t* response = cupsDoRequest(http, request, path ? path : "/ipp/print");
    std::string why;
    ipp_attribute_t* state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
    ipp_attribute_t* message = ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT);
    if (state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED && message &&
        ippGetString(message, 0, nullptr))
        why = ippGetString(message, 0, nullptr);
    ippDelete(response);
    (*known)[printerUri] = why;
    return why;
}

}  // namespace

int DfAppJobsCommand(int argc, char* argv[]) {
    // Only the forms shown here; any other goes to PAPPL as before.
    std::string printer;
    if (!DfAppPrinterArgument(argc, argv, printer)) return -1;
    // Without a server PAPPL starts one for the sub-command.
    if (!DfAppServerRunning()) return -1;
    http_t* http = httpConnect2(DfAppControlSocket(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                                30000, nullptr);
    if (!http) return -1;
    const std::string uri = "ipp://localhost/ipp/print" + (printer.empty() ? "" : "/" + printer);
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    static const char* const kWanted[] = {"job-id",         "job-state",         "job-originating-user-name",
                                          "job-name",       "job-state-reasons", "job-state-message",
                                          "job-printer-uri"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(sizeof(kWanted) / sizeof(kWanted[0])), nullptr, kWanted);
    ipp_t* response = cupsDoRequest(http, request, "/ipp/system");
    int status = 0;
    std::map<std::string, std::string> stopped;  // printer URI -> why it stopped
    if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        fprintf(stderr, "dotforge-app: Unable to get jobs: %s\n", cupsLastErrorString());
        status = 1;
    }
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
        if (ippGetGroupTag(attr) != IPP_TAG_JOB) continue;
        int id = 0;
        const char* state = "unknown";
        const char *user = "", *name = "", *message = "", *printerUri = "";
        ipp_attribute_t* reasons = nullptr;
        for (; attr && ippGetGroupTag(attr) == IPP_TAG_JOB; attr = ippNextAttribute(response)) {
            const char* n = ippGetName(attr);
            if (!n) continue;
            if (!strcmp(n, "job-id"))
                id = ippGetInteger(attr, 0);
            else if (!strcmp(n, "job-state"))
                state = ippEnumString("job-state", ippGetInteger(attr, 0));
            else if (!strcmp(n, "job-originating-user-name"))
                user = ippGetString(attr, 0, nullptr);
            else if (!strcmp(n, "job-name"))
                name = ippGetString(attr, 0, nullptr);
            else if (!strcmp(n, "job-state-message"))
                message = ippGetString(attr, 0, nullptr);
            else if (!strcmp(n, "job-state-reasons"))
                reasons = attr;
            else if (!strcmp(n, "job-printer-uri"))
                printerUri = ippGetString(attr, 0, nullptr);
        }
        if (id > 0) {
            printf("%d %-12s %-16s %s", id, state, user ? user : "", name ? name : "");
            if (message && *message && ShowsWhy(state, reasons)) {
                printf("  (%s)", message);
            } else if (!strcmp(state, "processing") || !strcmp(state, "pending")) {
                // Jobs wait while PAPPL retries a printer it stopped.
                const std::string why = StoppedWhy(http, printerUri, &stopped);
                if (!why.empty()) printf("  (%s)", why.c_str());
            }
            putchar('\n');
        }
        if (!attr) break;
    }
    ippDelete(response);
    httpClose(http);
    return status;
}
