// The options every family has, the page sizes drivers name, and the list
// of families with its look-ups.
#include <cstring>

#include "printers/families.h"

const char kDfAsText[] = "";

const std::vector<DfOption>& DfImageOptions() {
    static const std::vector<DfOption> options = {
        {"ImageFilter",
         "Black and white method",
         kDfImageGroup,
         30,
         "11",
         {{"0", "Threshold (sharp edges, best for barcodes and text)", "threshold"},
          {"1", "Floyd-Steinberg dither", "floyd-steinberg"},
          {"2", "Ordered dither, Bayer 4x4", "bayer-4x4"},
          {"3", "Burkes dither", "burkes"},
          {"4", "Stucki dither", "stucki"},
          {"5", "Jarvis-Judice-Ninke dither", "jarvis-judice-ninke"},
          {"6", "Sierra dither", "sierra"},
          {"7", "Stevenson-Arce dither", "stevenson-arce"},
          {"8", "Ordered dither, generated 4x4", "ordered-4x4"},
          {"9", "Ordered dither, Bayer 8x8", "bayer-8x8"},
          {"10", "Ordered dither, 16x16 screen", "screen-16x16"},
          {"11", "Edge-keeping (sharp codes and text, shaded greys)", "edge-keeping"}},
         "dotforge-dither-method",
         false},
        {"Threshold",
         "Threshold level (Threshold method only)",
         kDfImageGroup,
         31,
         "175",
         {{"50", "50 (only the darkest greys print)", nullptr, kDfAsText},
          {"75", "75"},
          {"100", "100"},
          {"128", "128 (middle grey)", nullptr, kDfAsText},
          {"150", "150"},
          {"175", "175"},
          {"200", "200"},
          {"225", "225 (light greys print too)", nullptr, kDfAsText}},
         "dotforge-threshold",
         true,
         "Threshold level (Threshold method; higher prints lighter greys)"},
        {"Brightness",
         "Brightness",
         kDfImageGroup,
         32,
         "0",
         {{"-100", "-100 (darker)", nullptr, kDfAsText},
          {"-80", "-80"},
          {"-60", "-60"},
          {"-40", "-40"},
          {"-20", "-20"},
          {"0", "Normal", nullptr, kDfAsText},
          {"20", "+20"},
          {"40", "+40"},
          {"60", "+60"},
          {"80", "+80"},
          {"100", "+100 (lighter)", nullptr, kDfAsText}},
         "dotforge-brightness",
         true,
         "Brightness (below 0 darker, above 0 lighter)"},
        {"Contrast",
         "Contrast",
         kDfImageGroup,
         33,
         "0",
         {{"-50", "-50 (flatter)", nullptr, kDfAsText},
          {"-25", "-25"},
          {"0", "Normal", nullptr, kDfAsText},
          {"25", "+25"},
          {"50", "+50"},
          {"100", "+100 (stronger)", nullptr, kDfAsText}},
         "dotforge-contrast",
         true,
         "Contrast (below 0 flatter, above 0 stronger)"},
        {"Rotate",
         "Rotate page",
         kDfImageGroup,
         34,
         "0",
         {{"0", "No rotation", "none"},
          {"1", "Half turn (180 degrees)", "half-turn"},
          {"2", "Quarter turn counter-clockwise", "quarter-turn-ccw"},
          {"3", "Quarter turn clockwise", "quarter-turn-cw"}},
         "dotforge-rotation",
         false},
        {"AdjustHoriaontal",
         "Horizontal shift",
         kDfPosition,
         40,
         "0",
         {{"-3", "24 mm to the right", nullptr, kDfAsText},
          {"-2", "16 mm to the right", nullptr, kDfAsText},
          {"-1", "8 mm to the right", nullptr, kDfAsText},
          {"0", "No shift", nullptr, kDfAsText},
          {"1", "8 mm to the left", nullptr, kDfAsText},
          {"2", "16 mm to the left", nullptr, kDfAsText},
          {"3", "24 mm to the left", nullptr, kDfAsText}},
         "dotforge-shift-horizontal",
         true,
         "Horizontal shift (steps of 8 mm, below 0 to the right)"},
        {"AdjustVertical",
         "Vertical shift",
         kDfPosition,
         41,
         "0",
         {{"-3", "24 mm up", nullptr, kDfAsText},
          {"-2", "16 mm up", nullptr, kDfAsText},
          {"-1", "8 mm up", nullptr, kDfAsText},
          {"0", "No shift", nullptr, kDfAsText},
          {"1", "8 mm down", nullptr, kDfAsText},
          {"2", "16 mm down", nullptr, kDfAsText},
          {"3", "24 mm down", nullptr, kDfAsText}},
         "dotforge-shift-vertical",
         true,
         "Vertical shift (steps of 8 mm, below 0 up)"},
        // With On, the filter asks the printer for its status before the job
        // and after each page, on the back channel of the socket, usb and
        // serial back ends; printers that do not answer print as with Off.
        // The app always asks its printers (app/core/status.cpp).
        {"PrinterStatus",
         "Read the printer's status",
         kDfStatusGroup,
         45,
         "Off",
         {{"Off", "Off"}, {"On", "On (paper out, cover open, jams)"}},
         nullptr,
         false,
         nullptr,
         true}};
    return options;
}

// Options several families offer alike: trimming blank space (receipts
// and mini printers start at their first line and end after their last by
// default) and the media sensing of 4-inch label printers.
const DfOption& DfSharedOption(const char* keyword) {
    static const std::vector<DfOption> options = {
        {"CropEdgeTop",
         "Trim blank space at the top",
         kDfTrim,
         50,
         "-1",
         {{"0", "Keep", nullptr, kDfAsText},
          {"2", "Up to 2 mm"},
          {"5", "Up to 5 mm"},
          {"10", "Up to 10 mm"},
          {"20", "Up to 20 mm"},
          {"-1", "All of it (the print starts at its first line)", nullptr, "All of it"}},
         "dotforge-crop-top",
         true,
         "Trim blank space at the top (mm)"},
        {"CropEdgeBottom",
         "Trim blank space at the bottom",
         kDfTrim,
         51,
         "-1",
         {{"0", "Keep", nullptr, kDfAsText},
          {"2", "Up to 2 mm"},
          {"5", "Up to 5 mm"},
          {"10", "Up to 10 mm"},
          {"20", "Up to 20 mm"},
          {"-1", "All of it (saves paper)", nullptr, kDfAsText}},
         "dotforge-crop-bottom",
         true,
         "Trim blank space at the bottom (mm)"},
        {"CropEdgeLeft",
         "Trim blank space at the left",
         kDfTrim,
         52,
         "0",
         {{"0", "Keep", nullptr, kDfAsText},
          {"2", "Up to 2 mm"},
          {"5", "Up to 5 mm"},
          {"10", "Up to 10 mm"},
          {"-1", "All of it (centres the content)", nullptr, kDfAsText}},
         "dotforge-crop-left",
         true,
         "Trim blank space at the left (mm)"},
        {"CropEdgeRight",
         "Trim blank space at the right",
         kDfTrim,
         53,
         "0",
         {{"0", "Keep", nullptr, kDfAsText},
          {"2", "Up to 2 mm"},
          {"5", "Up to 5 mm"},
          {"10", "Up to 10 mm"},
          {"-1", "All of it (centres the content)", nullptr, kDfAsText}},
         "dotforge-crop-right",
         true,
         "Trim blank space at the right (mm)"},
        {"zeMediaTracking",
         "Media sensing",
         kDfPrinterSettings,
         20,
         "Gap",
         {{"Continuous", "Continuous roll (no sensing)", "continuous"},
          {"Gap", "Labels with gaps", "gap"},
          {"BLine", "Labels or tags with black marks", "mark"}}}};
    static const DfOption none{};
    for (const DfOption& o : options)
        if (!strcmp(o.keyword, keyword)) return o;
    return none;
}

const std::vector<DfMedium>& DfMedia() {
    // Label sizes are named after CUPS's wNNNhNNN convention (size in points,
    // rounded), so "-o PageSize=Custom.50x30mm" lands on the named size. A
    // roll page is as wide as the head reaches: 48 mm (384 dots at 203 dpi)
    // on 57/58 mm paper, 72 mm (576 dots) on 80 mm.
    static const std::vector<DfMedium> media = {
        {"w113h85", "40 x 30 mm", "40mm", "30mm", "om_label-40x30_40x30mm", "Label 40 x 30 mm"},
        {"w142h85", "50 x 30 mm", "50mm", "30mm", "om_label-50x30_50x30mm", "Label 50 x 30 mm"},
        {"w162h91", "57 x 32 mm", "57mm", "32mm", "om_label-57x32_57x32mm", "Label 57 x 32 mm"},
        {"w170h113", "60 x 40 mm", "60mm", "40mm", "om_label-60x40_60x40mm", "Label 60 x 40 mm"},
        {"w283h142", "100 x 50 mm", "100mm", "50mm", "om_label-100x50_100x50mm", "Label 100 x 50 mm"},
        {"w283h283", "100 x 100 mm", "100mm", "100mm", "om_label-100x100_100x100mm", "Label 100 x 100 mm"},
        {"w283h425", "100 x 150 mm", "100mm", "150mm", "om_label-100x150_100x150mm", "Label 100 x 150 mm"},
        {"w288h432", "4 x 6 in", "4in", "6in", "na_index-4x6_4x6in", "Label 4 x 6 in"},
        {"w136h142", "57-58 mm roll, 50 mm long", "48mm", "50mm", "om_roll-58-50_48x50mm",
         "57-58 mm roll, 50 mm pages"},
        {"w136h283", "57-58 mm roll, 100 mm long", "48mm", "100mm", "om_roll-58-100_48x100mm",
         "57-58 mm roll, 100 mm pages"},
        {"w136h425", "57-58 mm roll, 150 mm long", "48mm", "150mm", "om_roll-58-150_48x150mm",
         "57-58 mm roll, 150 mm pages"},
        {"w136h567", "57-58 mm roll, 200 mm long", "48mm", "200mm", "om_roll-58-200_48x200mm",
         "57-58 mm roll, 200 mm pages"},
        {"w136h842", "57-58 mm roll, 297 mm long", "48mm", "297mm", "om_roll-58-297_48x297mm",
         "57-58 mm roll, 297 mm pages"},
        {"w204h283", "80 mm roll, 100 mm long", "72mm", "100mm", "om_roll-80-100_72x100mm",
         "80 mm roll, 100 mm pages"},
        {"w204h425", "80 mm roll, 150 mm long", "72mm", "150mm", "om_roll-80-150_72x150mm",
         "80 mm roll, 150 mm pages"},
        {"w204h567", "80 mm roll, 200 mm long", "72mm", "200mm", "om_roll-80-200_72x200mm",
         "80 mm roll, 200 mm pages"},
        {"w204h842", "80 mm roll, 297 mm long", "72mm", "297mm", "om_roll-80-297_72x297mm",
         "80 mm roll, 297 mm pages"},
        {"w136h85", "57-58 mm roll, 30 mm long", "48mm", "30mm", "om_roll-58-30_48x30mm",
         "57-58 mm roll, 30 mm pages"},
        // Small labels of the pocket label printers (Niimbot).
        {"w142h43", "50 x 15 mm", "50mm", "15mm", "om_label-50x15_50x15mm", "Label 50 x 15 mm"},
        {"w85h43", "30 x 15 mm", "30mm", "15mm", "om_label-30x15_30x15mm", "Label 30 x 15 mm"},
        {"w113h34", "40 x 12 mm", "40mm", "12mm", "om_label-40x12_40x12mm", "Label 40 x 12 mm"},
        {"w142h40", "50 x 14 mm", "50mm", "14mm", "om_label-50x14_50x14mm", "Label 50 x 14 mm"},
        {"w213h34", "75 x 12 mm", "75mm", "12mm", "om_label-75x12_75x12mm", "Label 75 x 12 mm"},
        {"w309h35", "109 x 12.5 mm", "109mm", "12.5mm", "om_label-109x12.5_109x12.5mm",
         "Label 109 x 12.5 mm"},
    };
    return media;
}

const std::vector<const char*>& DfLabelMedia() {
    static const std::vector<const char*> media = {"w113h85",  "w142h85",  "w162h91",  "w170h113",
                                                   "w283h142", "w283h283", "w283h425", "w288h432"};
    return media;
}

const std::vector<const char*>& DfMiniRollMedia() {
    static const std::vector<const char*> media = {"w136h85", "w136h142", "w136h283", "w136h425", "w136h567"};
    return media;
}

const DfMedium* DfFindMedium(const char* ppd) {
    for (const DfMedium& m : DfMedia())
        if (ppd && !strcmp(m.ppd, ppd)) return &m;
    return nullptr;
}

#define DF_ENTRY(name) &name,

static std::vector<const DfFamily*>& List() {
    static std::vector<const DfFamily*> list = {DF_FAMILY_LIST(DF_ENTRY)};
    return list;
}

const std::vector<const DfFamily*>& DfFamilies() {
    return List();
}

bool DfRegisterFamily(const DfFamily* family) {
    if (!family || DfFindFamily(family->modelNumber)) return false;
    std::vector<const DfFamily*>& list = List();
    auto at = list.begin();
    while (at != list.end() && (*at)->modelNumber < family->modelNumber) ++at;
    list.insert(at, family);
    return true;
}

const DfFamily* DfFindFamily(int modelNumber) {
    for (const DfFamily* f : List())
        if (f->modelNumber == modelNumber) return f;
    return nullptr;
}

// (filterOnly options included: the caller decides.)
const DfOption* DfFindOption(const DfFamily& family, const char* keyword) {
    if (!keyword) return nullptr;
    for (const DfOption& o : DfImageOptions())
        if (!strcmp(o.keyword, keyword)) return &o;
    for (const DfOption& o : family.options)
        if (!strcmp(o.keyword, keyword)) return &o;
    return nullptr;
}
