// The vendor attributes, read from the family descriptors: the image options
// first, then the family's own, each with a vendor attribute name. Numbers
// keep the PPD's choice names as their value; words have IPP keywords.
#include "app/core/vendor.h"

#include <cstring>
#include <map>

#include "printers/family.h"
#include "render/optionrules.h"

namespace {

void Add(const DfOption& o, std::vector<DfVendorAttr>& out) {
    if (!o.ipp) return;
    DfVendorAttr a{o.ipp, o.keyword, o.integer, {}};
    for (const DfChoice& c : o.choices) a.values.push_back({c.ipp ? c.ipp : c.name, c.name});
    out.push_back(a);
}

// Made once, on first use (PAPPL's threads only read it).
const std::vector<DfVendorAttr>* AttrsOf(int modelNumber) {
    static const std::map<int, std::vector<DfVendorAttr>> made = [] {
        std::map<int, std::vector<DfVendorAttr>> all;
        for (const DfFamily* family : DfFamilies()) {
            std::vector<DfVendorAttr>& attrs = all[family->modelNumber];
            for (const DfOption& o : DfImageOptions()) Add(o, attrs);
            for (const DfOption& o : family->options) Add(o, attrs);
        }
        return all;
    }();
    auto it = made.find(modelNumber);
    return it == made.end() ? nullptr : &it->second;
}

}  // namespace

size_t DfVendorAttrs(int modelNumber, const DfVendorAttr** out, size_t max) {
    const std::vector<DfVendorAttr>* attrs = AttrsOf(modelNumber);
    size_t n = 0;
    for (size_t i = 0; attrs && i < attrs->size() && n < max; i++) out[n++] = &(*attrs)[i];
    return n;
}

const char* DfVendorIppValue(const DfVendorAttr& attr, const char* ppdChoice) {
    for (const DfVendorValue& v : attr.values)
        if (ppdChoice && !strcmp(v.ppd, ppdChoice)) return v.ipp;
    return nullptr;
}

const char* DfVendorPpdChoice(const DfVendorAttr& attr, const char* ippValue) {
    for (const DfVendorValue& v : attr.values)
        if (ippValue && !strcmp(v.ipp, ippValue)) return v.ppd;
    return nullptr;
}

bool DfVendorAccept(const DfVendorAttr& attr, const char* ippValue, std::string& ppdChoice) {
    if (!ippValue) return false;
    if (const char* ppd = DfVendorPpdChoice(attr, ippValue)) {
        ppdChoice = ppd;
        return true;
    }
    if (!attr.integer) return false;
    std::vector<std::string> choices;
    for (const DfVendorValue& v : attr.values) choices.push_back(v.ppd);
    return DfAcceptValue(attr.keyword, choices, ippValue, ppdChoice);
}

int DfAppJobValueKind(const char* name) {
    if (!strcmp(name, "print-darkness") || !strcmp(name, "print-speed")) return 1;
    for (const DfFamily* family : DfFamilies()) {
        const DfVendorAttr* list[32];
        const size_t n = DfVendorAttrs(family->modelNumber, list, 32);
        for (size_t i = 0; i < n; i++)
            if (!strcmp(list[i]->name, name)) return list[i]->integer ? 1 : 0;
    }
    return -1;
}

std::string DfVendorRefusal(const DfVendorAttr& attr, const char* ippValue) {
    // The IPP values: keywords, or for integers the PPD's numbers.
    std::vector<std::string> values;
    for (const DfVendorValue& v : attr.values) values.push_back(v.ipp);
    return DfNotAccepted(attr.name, ippValue ? ippValue : "", DfAcceptedValues(attr.keyword, values));
}
