// `dotforge-app options [-d PRINTER | -u URI]`: PAPPL 1.3.1's list of the
// standard options, then the printer's own dotforge-* options (threshold,
// dither method, cut, cash drawer, feed, ...) with their default and values.
// PAPPL's list stops at the standard attributes, so none of them showed.
// The definition below comes before libpappl's in symbol lookup (see
// app/pappl/hardening.cpp), runs PAPPL's own and adds the rest from the same
// printer's attributes.
#include "app/pappl/optionscmd.h"

#include <cups/cups.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
http_t* _papplMainloopConnect(const char* base_name, bool auto_start);
http_t* _papplMainloopConnectURI(const char* base_name, const char* printer_uri, char* resource,
                                 size_t rsize);
void _papplMainloopAddPrinterURI(ipp_t* request, const char* printer_name, char* resource, size_t rsize);
}

namespace {

std::string Value(ipp_attribute_t* attr, int i) {
    if (ippGetValueTag(attr) == IPP_TAG_INTEGER) return std::to_string(ippGetInteger(attr, i));
    const char* s = ippGetString(attr, i, nullptr);
    return s ? s : "";
}

// One option: its default, then the other values, as PAPPL lists its own;
// a number takes any whole number between its smallest and largest value.
void PrintOption(ipp_t* response, ipp_attribute_t* supported, const std::string& name) {
    ipp_attribute_t* deflt = ippFindAttribute(response, (name + "-default").c_str(), IPP_TAG_ZERO);
    const std::string current = deflt ? Value(deflt, 0) : "";
    if (!current.empty()) printf("  -o %s=%s (default)\n", name.c_str(), current.c_str());
    const int count = ippGetCount(supported);
    if (ippGetValueTag(supported) == IPP_TAG_INTEGER && count > 1) {
        int low = ippGetInteger(supported, 0), high = low;
        for (int i = 1; i < count; i++) {
            low = std::min(low, ippGetInteger(supported, i));
            high = std::max(high, ippGetInteger(supported, i));
        }
        printf("  -o %s=%d to %d\n", name.c_str(), low, high);
        return;
    }
    for (int i = 0; i < count; i++) {
        const std::string v = Value(supported, i);
        if (v != current) printf("  -o %s=%s\n", name.c_str(), v.c_str());
    }
}

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
        bool first = true;
        for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
            const char* n = ippGetName(a);
            const size_t len = n ? strlen(n) : 0;
            if (len < 19 || strncmp(n, "dotforge-", 9) || strcmp(n + len - 10, "-supported")) continue;
            if (first) {
                puts(
                    "\nPrinter's own options (per job; the printer's default with modify -o "
                    "NAME-default=VALUE):");
                first = false;
            }
            PrintOption(response, a, std::string(n, len - 10));
        }
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
