// The `options` sub-command's second part: see optionslist.h.
#include "app/core/optionslist.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

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

}  // namespace

void DfAppPrintOwnOptions(ipp_t* response) {
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
