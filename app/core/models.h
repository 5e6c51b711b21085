// The printer application's drivers: one per driver of the family
// descriptors (printers/family.h), with what PAPPL wants in its own terms.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "printers/family.h"

struct DfAppModel {
    const DfFamily* family;
    const char* driver;     // driver name, e.g. "tspl-203"
    const char* makeModel;  // printer-make-and-model (the PPD's NickName)
    const char* deviceId;   // IEEE 1284 device id for autoadd, or nullptr
    int modelNumber;
    int dpi;
    const char* format;              // raw pass-through document format
    std::vector<std::string> media;  // PWG names; custom_min/custom_max give the range
    std::string mediaDefault;
    bool labels;              // gap and mark media, tear-off label mode
    int darknessLevels;       // Darkness FIRST..FIRST+N-1 (0: no Darkness option)
    int darknessFirst;        // its lowest level (0; Niimbot and cat printers: 1)
    std::vector<int> speeds;  // zePrintRate choices (none: no option)
    std::string headDots;     // the print head's width in dots
};

const DfAppModel* DfAppModels(size_t* count);
const DfAppModel* DfAppFindModel(const char* driver);
// The usage text's driver list: "Drivers: tspl-203, ... (dotforge-app
// drivers).", in lines of at most 78 characters, the later ones indented.
std::string DfAppDriversText();
// The model's default choice for a keyword, or nullptr when it has no such option.
const char* DfAppDefaultChoice(const DfAppModel& model, const char* keyword);
// The whole numbers among the model's choices of an option, in order.
std::vector<int> DfAppNumbers(const DfAppModel& model, const char* keyword);
