// `dotforge-app options [-d PRINTER | -u URI]`: PAPPL 1.3.1's list of the
// standard options, then the printer's own dotforge-* options (threshold,
// dither method, cut, cash drawer, feed, ...) with their default and values.
// PAPPL's list stops at the standard attributes, so none of them showed.
// The definition below comes before libpappl's in symbol lookup (see
// app/pappl/hardening.cpp), runs PAPPL's own, asks the same printer for its
// attributes and has the core list the rest (DfFenceHooks::printOwnOptions).
#include "app/pappl/optionscmd.h"

#include <cups/cups.h>
#include <dlfcn.h>

#include <cstdio>

#include "app/pappl/fencehooks.h"

extern "C" {
http_t* _papplMainloopConnect(const char* base_name, bool auto_start);
http_t* _papplMainloopConnectURI(const char* base_name, const char* printer_uri, char* resource,
                                 size_t rsize);
void _papplMainloopAddPrinterURI(ipp_t* request, const char* printer_name, char* resource, size_t rsize);
}

namespace {

int ShowVendorOptions(const char* base, int num_options, cups_option_t* options) {
    char resource[1024] = "/ipp/print";
    http_t* http;
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    if (const char* uri = cupsGetOption("printer-uri", num_options, options)) {
        http = _papplMainloopConnectURI(base, uri, resource, sizeof(resource));
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    } else {
        // PAPPL's own list has just reached the server: it runs.
        http = _papplMainloopConnect(base, false);
        const char* name = cupsGetOption("printer-name", num_options, options);
        if (name)
            _papplMainloopAddPrinterURI(request, name, resource, sizeof(resource));
        else  // the default printer
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         "ipp://localhost/ipp/print");
    }
    if (!http) {
        ippDelete(request);
        return 1;
    }
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t* response = cupsDoRequest(http, request, resource);
    int status = 0;
    if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        fprintf(stderr, "%s: Unable to get printer options: %s\n", base, cupsLastErrorString());
        status = 1;
    } else {
        DfAppFenceHooks().printOwnOptions(response);
    }
    ippDelete(response);
    httpClose(http);
    return status;
}

}  // namespace

void DfAppOptionsCommandReady() {}

extern "C" int _papplMainloopShowOptions(const char* base_name, int num_options, cups_option_t* options) {
    using Fn = int (*)(const char*, int, cups_option_t*);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "_papplMainloopShowOptions"));
    if (!real) return 1;
    const int status = real(base_name, num_options, options);
    if (status != 0) return status;
    fflush(stdout);
    return ShowVendorOptions(base_name, num_options, options);
}
