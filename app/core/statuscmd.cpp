// The `status` sub-command. PAPPL 1.3.1's own prints the reasons straight
// after the date ("...08:22:24 GMTmedia-empty-error.") and, when the answer
// lacks printer-state-change-date-time, "since Thu, 01 Jan 1970": the
// sub-command is answered here instead.
#include "app/core/statuscmd.h"

#include <cups/cups.h>

#include <cstdio>

#include "app/core/startup.h"

std::string DfAppStatusLine(const std::string& state, time_t since, const std::vector<std::string>& reasons) {
    std::string line = "Running, " + state;
    if (since > 0) {
        char date[256];
        line += std::string(" since ") + httpGetDateString2(since, date, sizeof(date));
    }
    std::string list;
    for (const std::string& r : reasons)
        if (!r.empty() && r != "none") list += (list.empty() ? "" : ", ") + r;
    if (!list.empty()) line += "; " + list;
    return line + ".";
}

int DfAppStatusCommand(int argc, char* argv[]) {
    std::string printer;
    if (!DfAppPrinterArgument(argc, argv, printer)) return -1;
    if (printer.empty() || !DfAppServerRunning()) return -1;
    http_t* http = httpConnect2(DfAppControlSocket(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                                30000, nullptr);
    if (!http) return -1;
    const std::string resource = "/ipp/print/" + printer;
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 ("ipp://localhost" + resource).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char* const kWanted[] = {"printer-state", "printer-state-change-date-time",
                                          "printer-state-change-time", "printer-up-time",
                                          "printer-state-reasons"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(sizeof(kWanted) / sizeof(kWanted[0])), nullptr, kWanted);
    ipp_t* response = cupsDoRequest(http, request, resource.c_str());
    int status = 0;
    if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        fprintf(stderr, "dotforge-app: Unable to get the status of %s: %s\n", printer.c_str(),
                cupsLastErrorString());
        status = 1;
    } else {
        const int state = ippGetInteger(ippFindAttribute(response, "printer-state", IPP_TAG_ENUM), 0);
        const char* name = ippEnumString("printer-state", state >= IPP_PSTATE_IDLE ? state : IPP_PSTATE_IDLE);
        time_t since = 0;
        if (ipp_attribute_t* date =
                ippFindAttribute(response, "printer-state-change-date-time", IPP_TAG_DATE)) {
            since = ippDateToTime(ippGetDate(date, 0));
        } else {
            // Seconds since the server started, as the up time counts them.
            ipp_attribute_t* change =
                ippFindAttribute(response, "printer-state-change-time", IPP_TAG_INTEGER);
            ipp_attribute_t* up = ippFindAttribute(response, "printer-up-time", IPP_TAG_INTEGER);
            if (change && up && ippGetInteger(up, 0) >= ippGetInteger(change, 0))
                since = time(nullptr) - (ippGetInteger(up, 0) - ippGetInteger(change, 0));
        }
        std::vector<std::string> reasons;
        ipp_attribute_t* list = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
        for (int i = 0; list && i < ippGetCount(list); i++) reasons.push_back(ippGetString(list, i, nullptr));
        puts(DfAppStatusLine(name, since, reasons).c_str());
    }
    ippDelete(response);
    httpClose(http);
    return status;
}
