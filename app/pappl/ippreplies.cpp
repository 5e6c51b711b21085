// Two faults of PAPPL 1.3.1 in what its IPP replies carry, mended where
// PAPPL copies the attributes. As in app/pappl/hardening.cpp, these definitions
// come before libpappl's in symbol lookup and call PAPPL's own (dlsym
// RTLD_NEXT); the signatures are those of PAPPL 1.3.1's private headers.
// Both show on Debian 13, whose libcups (2.4.10) refuses what 2.4.2 let by.
#include <pappl/pappl.h>

#include <dlfcn.h>

#include <cstring>
#include <initializer_list>

extern "C" {
void _papplJobCopyStateNoLock(pappl_job_t* job, ipp_tag_t group_tag, ipp_t* ipp, cups_array_t* ra);
void _papplPrinterCopyAttributesNoLock(pappl_printer_t* printer, pappl_client_t* client, cups_array_t* ra,
                                       const char* format);
const char* _papplJobReasonString(pappl_jreason_t reason);
}

namespace {

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int CompareNames(void* a, void* b, void*) {
    return strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

bool Requested(cups_array_t* ra, const char* name) {
    return !ra || cupsArrayFind(ra, const_cast<char*>(name));
}

// The languages of the strings files the program serves (app/web/webui.cpp).
const char* const kStringsLanguages[] = {"en"};

}  // namespace

extern "C" {

// PAPPL 1.3.1 bug: "job-state-reasons" lists the reasons up to
// warnings-detected, one bit short of job-hold-until-specified, so a job
// held by job-hold-until gets the attribute with no value: libcups 2.4.2
// sends that, 2.4.10 drops it, and the Print-Job reply of a held job has no
// job-state-reasons at all. With that bit set the reasons are listed here.
void _papplJobCopyStateNoLock(pappl_job_t* job, ipp_tag_t group_tag, ipp_t* ipp, cups_array_t* ra) {
    static const auto real =
        Real<void (*)(pappl_job_t*, ipp_tag_t, ipp_t*, cups_array_t*)>("_papplJobCopyStateNoLock");
    const pappl_jreason_t reasons = papplJobGetReasons(job);
    if (!(reasons & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) || !Requested(ra, "job-state-reasons")) {
        real(job, group_tag, ipp, ra);
        return;
    }
    // The two other attributes PAPPL copies here, as asked.
    cups_array_t* rest = cupsArrayNew(CompareNames, nullptr);
    for (const char* name : {"job-state", "job-state-message"})
        if (Requested(ra, name)) cupsArrayAdd(rest, const_cast<char*>(name));
    real(job, group_tag, ipp, rest);
    cupsArrayDelete(rest);

    const char* values[32];
    int count = 0;
    for (unsigned bit = 1; bit <= PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED && count < 32; bit <<= 1)
        if (reasons & bit)
            if (const char* keyword = _papplJobReasonString(static_cast<pappl_jreason_t>(bit)))
                values[count++] = keyword;
    ippAddStrings(ipp, group_tag, IPP_CONST_TAG(IPP_TAG_KEYWORD), "job-state-reasons", count, nullptr,
                  values);
}

// PAPPL 1.3.1 bug: asked for "printer-strings-languages-supported", it adds
// the attribute to the printer's own attributes instead of the reply, so
// the next replies carry it once more each time. libcups 2.4.10 counts it
// among "all" ("all,media-col-database"), and the conformance check then
// finds it repeated. Here PAPPL is not asked for it, and it goes into the
// reply. A request for "all" alone (no list) still reaches PAPPL's code.
void _papplPrinterCopyAttributesNoLock(pappl_printer_t* printer, pappl_client_t* client, cups_array_t* ra,
                                       const char* format) {
    static const auto real = Real<void (*)(pappl_printer_t*, pappl_client_t*, cups_array_t*, const char*)>(
        "_papplPrinterCopyAttributesNoLock");
    static const char* const kName = "printer-strings-languages-supported";
    if (!ra || !cupsArrayFind(ra, const_cast<char*>(kName))) {
        real(printer, client, ra, format);
        return;
    }
    cups_array_t* rest = cupsArrayDup(ra);
    cupsArrayRemove(rest, const_cast<char*>(kName));
    real(printer, client, rest, format);
    cupsArrayDelete(rest);
    ippAddStrings(papplClientGetResponse(client), IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_LANGUAGE), kName,
                  static_cast<int>(sizeof(kStringsLanguages) / sizeof(kStringsLanguages[0])), nullptr,
                  kStringsLanguages);
}

}  // extern "C"
