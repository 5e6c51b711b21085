// Option keyword rules shared by the front ends: the keywords the
// renderers read, the numeric ones, and near-miss matching of names.
#include "render/optionrules.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <strings.h>

#include "printers/family.h"

// Both lists come from the family descriptors (printers/family.h): the
// data the front ends' rules read, not the families' code.
namespace {

template <class F>
void ForEachOption(F f) {
    for (const DfOption& o : DfImageOptions()) f(o);
    for (const DfFamily* family : DfFamilies())
        for (const DfOption& o : family->options) f(o);
}

}  // namespace

const std::vector<std::string>& DfOptionKeywords() {
    static const std::vector<std::string> keywords = [] {
        std::vector<std::string> list;
        ForEachOption([&](const DfOption& o) {
            if (!o.filterOnly && std::find(list.begin(), list.end(), o.keyword) == list.end())
                list.push_back(o.keyword);
        });
        return list;
    }();
    return keywords;
}

bool DfIsNumericOption(const std::string& k) {
    bool numeric = false;
    ForEachOption([&](const DfOption& o) { numeric = numeric || (o.integer && k == o.keyword); });
    return numeric;
}

bool DfWholeNumber(const std::string& text, int& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); i++) {
        if (!isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

namespace {

// The smallest and largest numeric choice; false when there is none.
bool NumericRange(const std::vector<std::string>& choices, int& lo, int& hi) {
    bool any = false;
    int n;
    for (const std::string& c : choices) {
        if (!DfWholeNumber(c, n)) continue;
        if (!any || n < lo) lo = n;
        if (!any || n > hi) hi = n;
        any = true;
    }
    return any;
}

}  // namespace

bool DfAcceptValue(const std::string& keyword, const std::vector<std::string>& choices, const std::string& value,
                   std::string& choice) {
    if (std::find(choices.begin(), choices.end(), value) != choices.end()) {
        choice = value;
        return true;
    }
    int v, lo = 0, hi = 0;
    if (!DfIsNumericOption(keyword) || !DfWholeNumber(value, v) || !NumericRange(choices, lo, hi) || v < lo ||
        v > hi)
        return false;
    choice = std::to_string(v);
    return true;
}

std::string DfAcceptedValues(const std::string& keyword, const std::vector<std::string>& choices) {
    const bool numeric = DfIsNumericOption(keyword);
    std::string list;
    int n;
    for (const std::string& c : choices) {
        if (numeric && DfWholeNumber(c, n)) continue;
        if (!list.empty()) list += ", ";
        list += c;
    }
    int lo = 0, hi = 0;
    if (numeric && NumericRange(choices, lo, hi)) {
        if (!list.empty()) list += " or ";
        list += DfNumberRange(lo, hi);
    }
    return list;
}

std::string DfNumberRange(int lo, int hi) {
    return "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
}

std::string DfNotAccepted(const std::string& name, const std::string& value, const std::string& accepted) {
    return name + "=" + value + " is not a value this printer accepts (" + accepted + ")";
}

std::string DfRefusedValue(const std::string& keyword, const std::string& value,
                           const std::vector<std::string>& choices, const std::string& used) {
    return DfNotAccepted(keyword, value, DfAcceptedValues(keyword, choices)) + "; " + used + " is used.";
}

bool DfNearestValue(const std::string& keyword, const std::vector<std::string>& choices, int number,
                    int& value) {
    int lo = 0, hi = 0;
    if (!DfIsNumericOption(keyword) || !NumericRange(choices, lo, hi)) return false;
    value = number < lo ? lo : number > hi ? hi : number;
    return true;
}

namespace {

// Edit distance with transpositions, letters compared without case.
size_t Distance(const std::string& a, const std::string& b) {
    const size_t n = a.size(), m = b.size();
    std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
    for (size_t i = 0; i <= n; i++) d[i][0] = i;
    for (size_t j = 0; j <= m; j++) d[0][j] = j;
    auto same = [](char x, char y) {
        return tolower(static_cast<unsigned char>(x)) == tolower(static_cast<unsigned char>(y));
    };
    for (size_t i = 1; i <= n; i++)
        for (size_t j = 1; j <= m; j++) {
            const size_t cost = same(a[i - 1], b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[n][m];
}

// Names people give these settings in other drivers and documents.
struct Alias {
    const char* name;
    const char* keyword;
};
const Alias kAliases[] = {
    {"Dither", "ImageFilter"},
    {"Dithering", "ImageFilter"},
    {"Halftone", "ImageFilter"},
    {"Density", "Darkness"},
    {"PrintDensity", "Darkness"},
    {"Speed", "zePrintRate"},
    {"PrintSpeed", "zePrintRate"},
    {"PrintRate", "zePrintRate"},
    {"MediaTracking", "zeMediaTracking"},
    {"Rotation", "Rotate"},
    {"AdjustHorizontal", "AdjustHoriaontal"},
    {"Cut", "CutMedia"},
    {"Cutter", "CutMedia"},
    {"CashDrawer", "MoneyBox"},
};

}  // namespace

std::string DfNearOption(const std::string& name, const std::vector<std::string>& candidates) {
    auto present = [&](const char* k) {
        return std::find(candidates.begin(), candidates.end(), std::string(k)) != candidates.end();
    };
    for (const Alias& a : kAliases)
        if (strcasecmp(name.c_str(), a.name) == 0 && present(a.keyword)) return a.keyword;
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& k : candidates) {
        if (k == name) continue;
        const size_t d = Distance(name, k);
        const size_t limit = std::min(name.size(), k.size()) <= 6 ? 1 : 2;
        if (d <= limit && (d < bestDistance || (d == 0 && bestDistance != 0))) {
            best = k;
            bestDistance = d;
        }
        if (d == 0) break;  // the same name in other letter case
    }
    return best;
}
