// The ESC/POS family's descriptor: ESC/POS receipt printers (model number 21), 203 dpi. Receipts trim blank
// space at the top and bottom by default, so a page made for larger paper starts at its first line and ends
// after its last.
#include "printers/family.h"
#include "printers/escpos.h"
#include "printers/status.h"

namespace {

std::unique_ptr<CBaseRender> Create() {
    return std::make_unique<CPrinterESCPOS>();
}

DfFamily Make() {
    DfFamily f;
    f.modelNumber = 21;
    f.name = "ESC/POS";
    f.comment =
        "ESC/POS receipt printers (model number 21), 203 dpi. Receipts trim blank space at the top and "
        "bottom by default, so a page made for larger paper starts at its first line and ends after its "
        "last.";
    f.create = Create;
    f.format = "application/vnd.dotforge-escpos";
    f.kind = DfKind::Receipt;
    f.options = {{"FeedOffset",
                  "Feed after each page",
                  kDfPrinterSettings,
                  20,
                  "10",
                  {{"0", "None", nullptr, kDfAsText},
                   {"5", "5 mm"},
                   {"10", "10 mm"},
                   {"15", "15 mm"},
                   {"20", "20 mm"},
                   {"25", "25 mm"},
                   {"30", "30 mm"},
                   {"40", "40 mm"},
                   {"50", "50 mm"}},
                  "dotforge-feed-offset",
                  true,
                  "Feed after each page (mm)"},
                 {"MoneyBox",
                  "Cash drawer",
                  kDfPrinterSettings,
                  21,
                  "None",
                  {{"None", "Do not open", "none"},
                   {"BeforePrint", "Open before printing each page", "before-print"},
                   {"AfterPrint", "Open after printing each page", "after-print"}},
                  "dotforge-cash-drawer",
                  false},
                 {"CutMedia",
                  "Cut the paper",
                  kDfPrinterSettings,
                  22,
                  "None",
                  {{"None", "Never", "none"},
                   {"EveryPage", "After every page", "every-page"},
                   {"EndOfJob", "Once, after the last page", "end-of-job"}},
                  "dotforge-cut-media",
                  false},
                 {"CutType",
                  "Kind of cut",
                  kDfPrinterSettings,
                  23,
                  "Partial",
                  {{"Partial", "Partial (a tab holds the receipt)", "partial"}, {"Full", "Full", "full"}},
                  "dotforge-cut-type",
                  false},
                 DfSharedOption("CropEdgeTop"),
                 DfSharedOption("CropEdgeBottom"),
                 DfSharedOption("CropEdgeLeft"),
                 DfSharedOption("CropEdgeRight")};
    f.drivers = {{"escpos-58",
                  "ESC/POS Receipt Printer 58mm",
                  "ESC/POS Receipt 58mm",
                  "dotforge ESC/POS 58 mm Receipt Printer",
                  203,
                  384,
                  {"w136h142", "w136h283", "w136h425", "w136h567", "w136h842"},
                  "w136h567",
                  {"10mm", "10mm"},
                  {"48mm", "3000mm"}},
                 {"escpos-80",
                  "ESC/POS Receipt Printer 80mm",
                  "ESC/POS Receipt 80mm",
                  "dotforge ESC/POS 80 mm Receipt Printer",
                  203,
                  576,
                  {"w204h283", "w204h425", "w204h567", "w204h842"},
                  "w204h567",
                  {"10mm", "10mm"},
                  {"72mm", "3000mm"}}};
    f.statusSteps = DfEscPosStatusSteps;
    return f;
}

}  // namespace

extern const DfFamily kDfEscpos = Make();
