// The printer application's drivers: one per shipped PPD, with the PPD's
// model number, resolution, sizes, custom range and option defaults. The
// table is the app's copy of ppd/dotforge.drv; keep the two in step.
#pragma once

#include <cstddef>

// One PPD option the model offers and its default choice.
struct DfAppOption {
    const char* keyword;  // PPD keyword, e.g. "ImageFilter"
    const char* choice;   // the PPD's default choice
};

struct DfAppModel {
    const char* driver;     // driver name, e.g. "tspl-203"
    const char* makeModel;  // printer-make-and-model (the PPD's NickName)
    const char* deviceId;   // IEEE 1284 device id for autoadd, or nullptr
    int modelNumber;        // 20 TSPL ... 24 PeriPage
    int dpi;
    const char* format;     // raw pass-through document format
    const char* media[16];  // PWG names; custom_min/custom_max give the range
    const char* mediaDefault;
    bool labels;                 // gap and mark media, tear-off label mode
    int darknessLevels;          // PPD Darkness 0..N-1 (0: no Darkness option)
    int speeds[10];              // zePrintRate choices (0 ends; none: no option)
    DfAppOption options[24];     // options offered and their defaults (nullptr ends)
    const char* densityCommand;  // model attributes, or nullptr
    const char* imageMaxLength;
    const char* headDots;  // *dotforgeHeadDots: the print head's width in dots
};

const DfAppModel* DfAppModels(size_t* count);
const DfAppModel* DfAppFindModel(const char* driver);
// The model's default choice for a keyword, or nullptr when it has no such option.
const char* DfAppDefaultChoice(const DfAppModel& model, const char* keyword);
