// The vendor IPP attributes: every PPD option that has no standard IPP
// attribute, with its IPP values and the PPD choice each one stands for.
// PAPPL offers them as NAME (job), NAME-default and NAME-supported.
#pragma once

#include <cstddef>

struct DfVendorValue {
    const char* ipp;  // IPP keyword, or the integer as text
    const char* ppd;  // PPD choice name
};

struct DfVendorAttr {
    const char* name;     // IPP attribute name
    const char* keyword;  // PPD option keyword
    bool integer;         // integer values (else keywords)
    unsigned models;      // bit (model number - 20) per family that has it
    DfVendorValue values[16];
};

// The vendor attributes of one model number, in a fixed order.
size_t DfVendorAttrs(int modelNumber, const DfVendorAttr** out, size_t max);
// The IPP value that stands for a PPD choice, or nullptr.
const char* DfVendorIppValue(const DfVendorAttr& attr, const char* ppdChoice);
// The PPD choice for an IPP value, or nullptr when the value is not offered.
const char* DfVendorPpdChoice(const DfVendorAttr& attr, const char* ippValue);
