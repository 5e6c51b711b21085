// The vendor IPP attributes: every option of a family's descriptor that has
// no standard IPP attribute, with its IPP values and the PPD choice each one
// stands for. PAPPL offers them as NAME (job), NAME-default and
// NAME-supported.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct DfVendorValue {
    const char* ipp;  // IPP keyword, or the integer as text
    const char* ppd;  // PPD choice name
};

struct DfVendorAttr {
    const char* name;     // IPP attribute name
    const char* keyword;  // PPD option keyword
    bool integer;         // integer values (else keywords)
    std::vector<DfVendorValue> values;
};

// The vendor attributes of one model number, in a fixed order.
size_t DfVendorAttrs(int modelNumber, const DfVendorAttr** out, size_t max);
// The IPP value that stands for a PPD choice, or nullptr.
const char* DfVendorIppValue(const DfVendorAttr& attr, const char* ppdChoice);
// The PPD choice for an IPP value, or nullptr when the value is not offered.
const char* DfVendorPpdChoice(const DfVendorAttr& attr, const char* ippValue);
// 1 when NAME is an integer job attribute of the printers' (print-darkness,
// print-speed and the integer vendor attributes), 0 a keyword one, -1 when
// it is none of theirs.
int DfAppJobValueKind(const char* name);
// The PPD choice a job's IPP value stands for, checked as the filter checks
// its options (DfAcceptValue): an offered value, or for a number any whole
// number between the offered ones. False when the value is refused.
bool DfVendorAccept(const DfVendorAttr& attr, const char* ippValue, std::string& ppdChoice);
// Why DfVendorAccept refuses a value, in the filter's words:
// "NAME=VALUE is not a value this printer accepts (ACCEPTED)".
std::string DfVendorRefusal(const DfVendorAttr& attr, const char* ippValue);
