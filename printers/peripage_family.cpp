// The PeriPage family's descriptor: PeriPage mini printers (model number 24), 57 mm paper, 203 dpi.
#include "printers/family.h"
#include "printers/peripage.h"
#include "printers/status.h"

namespace {

std::unique_ptr<CBaseRender> Create() {
    return std::make_unique<CPrinterPeriPage>();
}

DfFamily Make() {
    DfFamily f;
    f.modelNumber = 24;
    f.name = "PeriPage";
    f.comment = "PeriPage mini printers (model number 24), 57 mm paper, 203 dpi.";
    f.create = Create;
    f.format = "application/vnd.dotforge-peripage";
    f.kind = DfKind::Label;
    f.options = {{"zeMediaTracking",
                  "Paper",
                  kDfPrinterSettings,
                  20,
                  "Continuous",
                  {{"Continuous", "Continuous roll", "continuous"},
                   {"Recording", "Continuous roll, blank top and bottom removed"},
                   {"Gap", "Labels with gaps", "gap"},
                   {"BLine", "Paper with black marks", "mark"},
                   {"Perforated", "Perforated paper"},
                   {"Tattoo", "Tattoo transfer paper"}}},
                 {"Darkness",
                  "Darkness",
                  kDfPrinterSettings,
                  21,
                  "Default",
                  {{"Default", "Printer default"},
                   {"0", "0 (lightest)"},
                   {"1", "1"},
                   {"2", "2"},
                   {"3", "3"},
                   {"4", "4"},
                   {"5", "5 (darkest)"}},
                  nullptr,
                  true},
                 {"zePrintRate",
                  "Print speed",
                  kDfPrinterSettings,
                  22,
                  "Default",
                  {{"Default", "Printer default"},
                   {"1", "1 (slowest)"},
                   {"2", "2"},
                   {"3", "3"},
                   {"4", "4"},
                   {"5", "5"},
                   {"6", "6"},
                   {"7", "7"},
                   {"8", "8 (fastest)"}},
                  nullptr,
                  true},
                 {"FeedOffset",
                  "Feed after each page",
                  kDfPrinterSettings,
                  23,
                  "10",
                  {{"0", "None", nullptr, kDfAsText},
                   {"5", "5 mm"},
                   {"10", "10 mm"},
                   {"15", "15 mm"},
                   {"20", "20 mm"},
                   {"30", "30 mm"}},
                  "dotforge-feed-offset",
                  true,
                  "Feed after each page (mm)"},
                 {"ImageCompress",
                  "Compress bitmaps",
                  kDfPrinterSettings,
                  24,
                  "0",
                  {{"0", "Off (works with every model)", "off", "Off (works with every printer)"},
                   {"1", "On (newer models)", "on", "On (faster on printers that support it)"}},
                  "dotforge-compression",
                  false},
                 {"BeginPrintSound",
                  "Beep before printing",
                  kDfSounds,
                  60,
                  "None",
                  {{"None", "Never", "none", "None"},
                   {"EveryPage", "Before every page", "every-page"},
                   {"EveryDoc", "Once per document", "every-document", "Before every document"}},
                  "dotforge-sound-before",
                  false,
                  "Sound before printing"},
                 {"EndPrintSound",
                  "Beep after printing",
                  kDfSounds,
                  61,
                  "None",
                  {{"None", "Never", "none", "None"},
                   {"EveryPage", "After every page", "every-page"},
                   {"EveryDoc", "Once per document", "every-document", "After every document"}},
                  "dotforge-sound-after",
                  false,
                  "Sound after printing"},
                 DfSharedOption("CropEdgeTop"),
                 DfSharedOption("CropEdgeBottom"),
                 DfSharedOption("CropEdgeLeft"),
                 DfSharedOption("CropEdgeRight")};
    f.drivers = {{"peripage-57",
                  "PeriPage Mini Printer 57mm",
                  "PeriPage Mini 57mm",
                  "dotforge PeriPage 57 mm Mini Printer",
                  203,
                  384,
                  DfMiniRollMedia(),
                  kDfMiniRollDefault,
                  {"10mm", "10mm"},
                  {"48mm", "2000mm"}}};
    f.mediaTypes = {{"recording", "Recording"}, {"perforated", "Perforated"}, {"tattoo", "Tattoo"}};
    f.attributes = {{"DensityCommand", "0"}, {"ImageMaxLength", "255"}};
    f.statusSteps = DfPeriPageStatusSteps;
    f.ble = {"0000ff00-0000-1000-8000-00805f9b34fb", "0000ff02-0000-1000-8000-00805f9b34fb",
             "0000ff01-0000-1000-8000-00805f9b34fb", "0000ff03-0000-1000-8000-00805f9b34fb"};
    return f;
}

}  // namespace

extern const DfFamily kDfPeripage = Make();
