// The TSPL family's descriptor: TSPL label printers (model number 20), 4-inch print head.
#include "printers/family.h"
#include "printers/tspl.h"
#include "printers/status.h"

namespace {

std::unique_ptr<CBaseRender> Create() {
    return std::make_unique<CPrinterTSPL>();
}

DfFamily Make() {
    DfFamily f;
    f.modelNumber = 20;
    f.name = "TSPL";
    f.comment = "TSPL label printers (model number 20), 4-inch print head.";
    f.create = Create;
    f.format = "application/vnd.dotforge-tspl";
    f.kind = DfKind::Label;
    f.options = {DfSharedOption("zeMediaTracking"),
                 {"MediaMethod",
                  "Print method",
                  kDfPrinterSettings,
                  21,
                  "Direct",
                  {{"Direct", "Direct thermal (no ribbon)", "direct"},
                   {"Ribbon", "Thermal transfer (ribbon)", "ribbon"}},
                  "dotforge-print-method",
                  false},
                 {"Darkness",
                  "Darkness",
                  kDfPrinterSettings,
                  22,
                  "Default",
                  {{"Default", "Printer default"},
                   {"0", "0 (lightest)"},
                   {"1", "1"},
                   {"2", "2"},
                   {"3", "3"},
                   {"4", "4"},
                   {"5", "5"},
                   {"6", "6"},
                   {"7", "7"},
                   {"8", "8"},
                   {"9", "9"},
                   {"10", "10"},
                   {"11", "11"},
                   {"12", "12"},
                   {"13", "13"},
                   {"14", "14"},
                   {"15", "15 (darkest)"}},
                  nullptr,
                  true},
                 {"zePrintRate",
                  "Print speed",
                  kDfPrinterSettings,
                  23,
                  "Default",
                  {{"Default", "Printer default"},
                   {"1", "1 inch per second"},
                   {"2", "2 inches per second"},
                   {"3", "3 inches per second"},
                   {"4", "4 inches per second"},
                   {"5", "5 inches per second"},
                   {"6", "6 inches per second"},
                   {"8", "8 inches per second"},
                   {"10", "10 inches per second"},
                   {"12", "12 inches per second"}},
                  nullptr,
                  true},
                 {"FeedOffset",
                  "Tear-off offset",
                  kDfPrinterSettings,
                  24,
                  "0",
                  {{"0", "None", nullptr, kDfAsText},
                   {"1", "1 mm"},
                   {"2", "2 mm"},
                   {"3", "3 mm"},
                   {"4", "4 mm"},
                   {"5", "5 mm"},
                   {"6", "6 mm"},
                   {"8", "8 mm"},
                   {"10", "10 mm"},
                   {"12", "12 mm"},
                   {"15", "15 mm"},
                   {"20", "20 mm"},
                   {"25", "25 mm"},
                   {"30", "30 mm"}},
                  "dotforge-feed-offset",
                  true,
                  "Feed after each page (mm)"},
                 {"ImageCompress",
                  "Compress bitmaps",
                  kDfPrinterSettings,
                  25,
                  "0",
                  {{"0", "Off (works with every printer)", "off"},
                   {"1", "On (faster on printers that support it)", "on"}},
                  "dotforge-compression",
                  false},
                 {"LabelMode",
                  "After printing",
                  kDfPrinterSettings,
                  26,
                  "PrinterDefault",
                  // The app's label modes (label-mode-configured); tear-off is
                  // what the printer does unless told otherwise.
                  {{"PrinterDefault", "Printer default", "tear-off"},
                   {"TearOff", "Tear off"},
                   {"PeelOff", "Peel off (dispenser)", "peel-off"},
                   {"CutEveryLabel", "Cut after every label", "cutter"},
                   {"CutEndOfJob", "Cut after the last label", "cutter-delayed"}}}};
    f.drivers = {{"tspl-203", "TSPL Label Printer 203dpi", "TSPL Label Printer 203dpi",
                  "dotforge TSPL 4-inch Label Printer, 203 dpi", 203, 832, DfLabelMedia(), kDfLabelDefault,
                  kDfLabelMinSize, kDfLabelMaxSize},
                 {"tspl-300", "TSPL Label Printer 300dpi", "TSPL Label Printer 300dpi",
                  "dotforge TSPL 4-inch Label Printer, 300 dpi", 300, 1248, DfLabelMedia(), kDfLabelDefault,
                  kDfLabelMinSize, kDfLabelMaxSize}};
    f.labelModes = true;
    f.identify = "SOUND 5,200\r\n";
    f.statusSteps = DfTsplStatusSteps;
    return f;
}

}  // namespace

extern const DfFamily kDfTspl = Make();
