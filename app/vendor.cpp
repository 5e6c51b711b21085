// The vendor attribute table. Numbers keep the PPD's choice names as their
// value; words become lower-case IPP keywords.
#include "app/vendor.h"

#include <cstring>

namespace {

constexpr unsigned TSPL = 1u << 0, ESCPOS = 1u << 1, CPCL = 1u << 2, PAPERANG = 1u << 3, PERIPAGE = 1u << 4;
constexpr unsigned ALL = TSPL | ESCPOS | CPCL | PAPERANG | PERIPAGE;

const DfVendorAttr kAttrs[] = {
    {"dotforge-dither-method",
     "ImageFilter",
     false,
     ALL,
     {{"threshold", "0"},
      {"floyd-steinberg", "1"},
      {"bayer-4x4", "2"},
      {"burkes", "3"},
      {"stucki", "4"},
      {"jarvis-judice-ninke", "5"},
      {"sierra", "6"},
      {"stevenson-arce", "7"},
      {"ordered-4x4", "8"},
      {"bayer-8x8", "9"},
      {"screen-16x16", "10"},
      {"edge-keeping", "11"}}},
    {"dotforge-threshold",
     "Threshold",
     true,
     ALL,
     {{"50", "50"},
      {"75", "75"},
      {"100", "100"},
      {"128", "128"},
      {"150", "150"},
      {"175", "175"},
      {"200", "200"},
      {"225", "225"}}},
    {"dotforge-brightness",
     "Brightness",
     true,
     ALL,
     {{"-100", "-100"},
      {"-80", "-80"},
      {"-60", "-60"},
      {"-40", "-40"},
      {"-20", "-20"},
      {"0", "0"},
      {"20", "20"},
      {"40", "40"},
      {"60", "60"},
      {"80", "80"},
      {"100", "100"}}},
    {"dotforge-contrast",
     "Contrast",
     true,
     ALL,
     {{"-50", "-50"}, {"-25", "-25"}, {"0", "0"}, {"25", "25"}, {"50", "50"}, {"100", "100"}}},
    {"dotforge-rotation",
     "Rotate",
     false,
     ALL,
     {{"none", "0"}, {"half-turn", "1"}, {"quarter-turn-ccw", "2"}, {"quarter-turn-cw", "3"}}},
    {"dotforge-shift-horizontal",
     "AdjustHoriaontal",
     true,
     ALL,
     {{"-3", "-3"}, {"-2", "-2"}, {"-1", "-1"}, {"0", "0"}, {"1", "1"}, {"2", "2"}, {"3", "3"}}},
    {"dotforge-shift-vertical",
     "AdjustVertical",
     true,
     ALL,
     {{"-3", "-3"}, {"-2", "-2"}, {"-1", "-1"}, {"0", "0"}, {"1", "1"}, {"2", "2"}, {"3", "3"}}},
    {"dotforge-print-method", "MediaMethod", false, TSPL, {{"direct", "Direct"}, {"ribbon", "Ribbon"}}},
    {"dotforge-compression", "ImageCompress", false, TSPL | PERIPAGE, {{"off", "0"}, {"on", "1"}}},
    // TSPL's tear-off offset; label-tear-offset-configured, where set, wins.
    {"dotforge-feed-offset",
     "FeedOffset",
     true,
     TSPL,
     {{"0", "0"},
      {"1", "1"},
      {"2", "2"},
      {"3", "3"},
      {"4", "4"},
      {"5", "5"},
      {"6", "6"},
      {"8", "8"},
      {"10", "10"},
      {"12", "12"},
      {"15", "15"},
      {"20", "20"},
      {"25", "25"},
      {"30", "30"}}},
    {"dotforge-feed-offset",
     "FeedOffset",
     true,
     ESCPOS,
     {{"0", "0"},
      {"5", "5"},
      {"10", "10"},
      {"15", "15"},
      {"20", "20"},
      {"25", "25"},
      {"30", "30"},
      {"40", "40"},
      {"50", "50"}}},
    {"dotforge-feed-offset",
     "FeedOffset",
     true,
     PERIPAGE,
     {{"0", "0"}, {"5", "5"}, {"10", "10"}, {"15", "15"}, {"20", "20"}, {"30", "30"}}},
    {"dotforge-cash-drawer",
     "MoneyBox",
     false,
     ESCPOS,
     {{"none", "None"}, {"before-print", "BeforePrint"}, {"after-print", "AfterPrint"}}},
    {"dotforge-cut-media",
     "CutMedia",
     false,
     ESCPOS,
     {{"none", "None"}, {"every-page", "EveryPage"}, {"end-of-job", "EndOfJob"}}},
    {"dotforge-cut-type", "CutType", false, ESCPOS, {{"partial", "Partial"}, {"full", "Full"}}},
    {"dotforge-sound-before",
     "BeginPrintSound",
     false,
     PERIPAGE,
     {{"none", "None"}, {"every-page", "EveryPage"}, {"every-document", "EveryDoc"}}},
    {"dotforge-sound-after",
     "EndPrintSound",
     false,
     PERIPAGE,
     {{"none", "None"}, {"every-page", "EveryPage"}, {"every-document", "EveryDoc"}}},
    {"dotforge-crop-top",
     "CropEdgeTop",
     true,
     ESCPOS | PAPERANG | PERIPAGE,
     {{"0", "0"}, {"2", "2"}, {"5", "5"}, {"10", "10"}, {"20", "20"}, {"-1", "-1"}}},
    {"dotforge-crop-bottom",
     "CropEdgeBottom",
     true,
     ESCPOS | PAPERANG | PERIPAGE,
     {{"0", "0"}, {"2", "2"}, {"5", "5"}, {"10", "10"}, {"20", "20"}, {"-1", "-1"}}},
    {"dotforge-crop-left",
     "CropEdgeLeft",
     true,
     ESCPOS | PERIPAGE,
     {{"0", "0"}, {"2", "2"}, {"5", "5"}, {"10", "10"}, {"-1", "-1"}}},
    {"dotforge-crop-right",
     "CropEdgeRight",
     true,
     ESCPOS | PERIPAGE,
     {{"0", "0"}, {"2", "2"}, {"5", "5"}, {"10", "10"}, {"-1", "-1"}}},
};

}  // namespace

size_t DfVendorAttrs(int modelNumber, const DfVendorAttr** out, size_t max) {
    if (modelNumber < 20 || modelNumber > 24) return 0;
    const unsigned bit = 1u << (modelNumber - 20);
    size_t n = 0;
    for (const DfVendorAttr& a : kAttrs)
        if ((a.models & bit) && n < max) out[n++] = &a;
    return n;
}

const char* DfVendorIppValue(const DfVendorAttr& attr, const char* ppdChoice) {
    for (const DfVendorValue& v : attr.values) {
        if (!v.ipp) break;
        if (ppdChoice && !strcmp(v.ppd, ppdChoice)) return v.ipp;
    }
    return nullptr;
}

const char* DfVendorPpdChoice(const DfVendorAttr& attr, const char* ippValue) {
    for (const DfVendorValue& v : attr.values) {
        if (!v.ipp) break;
        if (ippValue && !strcmp(v.ipp, ippValue)) return v.ppd;
    }
    return nullptr;
}
