// The model table behind the seven drivers.
#include "app/models.h"

#include <cstring>

namespace {

// Image options every PPD has.
#define DF_IMAGE_OPTIONS                                                                                 \
    {"ImageFilter", "11"}, {"Threshold", "175"}, {"Brightness", "0"}, {"Contrast", "0"}, {"Rotate", "0"}, \
        {"AdjustHoriaontal", "0"}, {                                                                     \
        "AdjustVertical", "0"                                                                            \
    }

// The two TSPL drivers and the two ESC/POS drivers differ in resolution
// and width only.
#define DF_TSPL_OPTIONS                                                                               \
    DF_IMAGE_OPTIONS, {"zeMediaTracking", "Gap"}, {"MediaMethod", "Direct"}, {"Darkness", "Default"}, \
        {"zePrintRate", "Default"}, {"FeedOffset", "0"}, {"ImageCompress", "0"}, {                    \
        "LabelMode", "PrinterDefault"                                                                 \
    }

#define DF_ESCPOS_OPTIONS                                                                                 \
    DF_IMAGE_OPTIONS, {"FeedOffset", "10"}, {"MoneyBox", "None"}, {"CutMedia", "None"},                   \
        {"CutType", "Partial"}, {"CropEdgeTop", "-1"}, {"CropEdgeBottom", "-1"}, {"CropEdgeLeft", "0"}, { \
        "CropEdgeRight", "0"                                                                              \
    }

#define DF_LABEL_MEDIA                                                                                      \
    "om_label-40x30_40x30mm", "om_label-50x30_50x30mm", "om_label-57x32_57x32mm", "om_label-60x40_60x40mm", \
        "om_label-100x50_100x50mm", "om_label-100x100_100x100mm", "om_label-100x150_100x150mm",             \
        "na_index-4x6_4x6in", "custom_min_10x5mm", "custom_max_104x1000mm"

#define DF_ROLL58_MEDIA                                                                                     \
    "om_roll-58-30_48x30mm", "om_roll-58-50_48x50mm", "om_roll-58-100_48x100mm", "om_roll-58-150_48x150mm", \
        "om_roll-58-200_48x200mm"

const DfAppModel kModels[] = {
    {"tspl-203",
     "dotforge TSPL 4-inch Label Printer, 203 dpi",
     nullptr,
     20,
     203,
     "application/vnd.dotforge-tspl",
     {DF_LABEL_MEDIA},
     "om_label-100x150_100x150mm",
     true,
     16,
     {1, 2, 3, 4, 5, 6, 8, 10, 12},
     {DF_TSPL_OPTIONS},
     nullptr,
     nullptr,
     "832"},
    {"tspl-300",
     "dotforge TSPL 4-inch Label Printer, 300 dpi",
     nullptr,
     20,
     300,
     "application/vnd.dotforge-tspl",
     {DF_LABEL_MEDIA},
     "om_label-100x150_100x150mm",
     true,
     16,
     {1, 2, 3, 4, 5, 6, 8, 10, 12},
     {DF_TSPL_OPTIONS},
     nullptr,
     nullptr,
     "1248"},
    {"escpos-58",
     "dotforge ESC/POS 58 mm Receipt Printer",
     nullptr,
     21,
     203,
     "application/vnd.dotforge-escpos",
     {"om_roll-58-50_48x50mm", "om_roll-58-100_48x100mm", "om_roll-58-150_48x150mm",
      "om_roll-58-200_48x200mm", "om_roll-58-297_48x297mm", "custom_min_10x10mm", "custom_max_48x3000mm"},
     "om_roll-58-200_48x200mm",
     false,
     0,
     {0},
     {DF_ESCPOS_OPTIONS},
     nullptr,
     nullptr,
     "384"},
    {"escpos-80",
     "dotforge ESC/POS 80 mm Receipt Printer",
     nullptr,
     21,
     203,
     "application/vnd.dotforge-escpos",
     {"om_roll-80-100_72x100mm", "om_roll-80-150_72x150mm", "om_roll-80-200_72x200mm",
      "om_roll-80-297_72x297mm", "custom_min_10x10mm", "custom_max_72x3000mm"},
     "om_roll-80-200_72x200mm",
     false,
     0,
     {0},
     {DF_ESCPOS_OPTIONS},
     nullptr,
     nullptr,
     "576"},
    {"cpcl-203",
     "dotforge CPCL 4-inch Label Printer, 203 dpi",
     nullptr,
     22,
     203,
     "application/vnd.dotforge-cpcl",
     {DF_LABEL_MEDIA},
     "om_label-100x150_100x150mm",
     true,
     0,
     {0},
     {DF_IMAGE_OPTIONS, {"zeMediaTracking", "Gap"}},
     nullptr,
     nullptr,
     "832"},
    {"paperang-57",
     "dotforge Paperang 57 mm Mini Printer",
     nullptr,
     23,
     203,
     "application/vnd.dotforge-paperang",
     {DF_ROLL58_MEDIA, "custom_min_48x10mm", "custom_max_48x2000mm"},
     "om_roll-58-100_48x100mm",
     true,
     0,
     {0},
     {DF_IMAGE_OPTIONS, {"zeMediaTracking", "Continuous"}, {"CropEdgeTop", "-1"}, {"CropEdgeBottom", "-1"}},
     nullptr,
     nullptr,
     "384"},
    {"peripage-57",
     "dotforge PeriPage 57 mm Mini Printer",
     nullptr,
     24,
     203,
     "application/vnd.dotforge-peripage",
     {DF_ROLL58_MEDIA, "custom_min_10x10mm", "custom_max_48x2000mm"},
     "om_roll-58-100_48x100mm",
     true,
     6,
     {1, 2, 3, 4, 5, 6, 7, 8},
     {DF_IMAGE_OPTIONS,
      {"zeMediaTracking", "Continuous"},
      {"Darkness", "Default"},
      {"zePrintRate", "Default"},
      {"FeedOffset", "10"},
      {"ImageCompress", "0"},
      {"BeginPrintSound", "None"},
      {"EndPrintSound", "None"},
      {"CropEdgeTop", "-1"},
      {"CropEdgeBottom", "-1"},
      {"CropEdgeLeft", "0"},
      {"CropEdgeRight", "0"}},
     "0",
     "255",
     "384"},
};

}  // namespace

const DfAppModel* DfAppModels(size_t* count) {
    *count = sizeof(kModels) / sizeof(kModels[0]);
    return kModels;
}

const DfAppModel* DfAppFindModel(const char* driver) {
    if (!driver) return nullptr;
    for (const DfAppModel& m : kModels)
        if (!strcmp(m.driver, driver)) return &m;
    return nullptr;
}

const char* DfAppDefaultChoice(const DfAppModel& model, const char* keyword) {
    for (const DfAppOption& o : model.options) {
        if (!o.keyword) break;
        if (!strcmp(o.keyword, keyword)) return o.choice;
    }
    return nullptr;
}
