// Job options typed as names. CUPS's IPP backend sends an option it has no
// IPP type for as nameWithoutLanguage: through a raw queue (`lpadmin -m
// raw`, which passes every `lp -o` option on) `-o print-darkness=100`
// arrives as the name "100", and PAPPL refuses the job as unsupported. The
// printer's own job attributes are retyped before PAPPL sees them: PAPPL
// 1.3.1 checks job attributes before any callback of its API is called (its
// operation callback serves only operations it does not know), so the
// definition of _papplClientProcessIPP below comes before libpappl's in
// symbol lookup, retypes, and hands the request on.
#include "app/pappl/jobvalues.h"

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/pappl/devicestate.h"
#include "app/pappl/fencehooks.h"
#include "render/optionrules.h"

namespace {

// 1: integer attribute, 0: keyword attribute, -1: not ours.
int Kind(const char* name) {
    return DfAppFenceHooks().jobValueKind(name);
}

using ProcessFn = bool (*)(pappl_client_t*);

ProcessFn RealProcess() {
    return reinterpret_cast<ProcessFn>(dlsym(RTLD_NEXT, "_papplClientProcessIPP"));
}

}  // namespace

int DfAppRetypeJobValues(ipp_t* request) {
    if (!request) return 0;
    struct Change {
        std::string name;
        bool integer;
        std::string text;
        int number;
    };
    std::vector<Change> changes;
    for (ipp_attribute_t* a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
        const ipp_tag_t tag = ippGetValueTag(a);
        if (ippGetGroupTag(a) != IPP_TAG_JOB || ippGetCount(a) != 1 || !ippGetName(a)) continue;
        if (tag != IPP_TAG_NAME && tag != IPP_TAG_TEXT && tag != IPP_TAG_NAMELANG && tag != IPP_TAG_TEXTLANG)
            continue;
        const int kind = Kind(ippGetName(a));
        if (kind < 0) continue;
        const char* text = ippGetString(a, 0, nullptr);
        Change c{ippGetName(a), kind == 1, text ? text : "", 0};
        // A value that is no number stays as it came, for PAPPL to refuse:
        // numbers are read as the filter reads them (no spaces, no "0x").
        if (c.integer && !DfWholeNumber(c.text, c.number)) continue;
        changes.push_back(c);
    }
    for (const Change& c : changes) {
        if (ipp_attribute_t* old = ippFindAttribute(request, c.name.c_str(), IPP_TAG_ZERO))
            ippDeleteAttribute(request, old);
        if (c.integer)
            ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, c.name.c_str(), c.number);
        else
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, c.name.c_str(), nullptr, c.text.c_str());
    }
    return static_cast<int>(changes.size());
}

bool DfAppJobValuesReady() {
    return RealProcess() != nullptr;
}

extern "C" bool _papplClientProcessIPP(pappl_client_t* client) {
    static const ProcessFn real = RealProcess();
    if (!real) return false;
    ipp_t* request = papplClientGetRequest(client);
    const ipp_op_t op = request ? ippGetOperation(request) : IPP_OP_CUPS_NONE;
    if (op == IPP_OP_PRINT_JOB || op == IPP_OP_CREATE_JOB || op == IPP_OP_VALIDATE_JOB)
        DfAppRetypeJobValues(request);
    // printer-state-message says why a printer is stopped (app/pappl/devicestate.cpp).
    pappl_printer_t* printer = nullptr;
    if (op == IPP_OP_GET_PRINTER_ATTRIBUTES) {
        ipp_attribute_t* uri = ippFindAttribute(request, "printer-uri", IPP_TAG_URI);
        printer =
            DfAppPrinterForUri(papplClientGetSystem(client), uri ? ippGetString(uri, 0, nullptr) : nullptr);
    }
    DfAppSetRequestPrinter(printer);
    const bool ok = real(client);
    DfAppSetRequestPrinter(nullptr);
    return ok;
}
