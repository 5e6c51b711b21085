// The Paperang family's descriptor: Paperang mini printers (model number 23), 57 mm paper, 203 dpi.
#include "printers/family.h"
#include "printers/paperang.h"
#include "printers/status.h"

namespace {

std::unique_ptr<CBaseRender> Create() {
    return std::make_unique<CPrinterPaperang>();
}

DfFamily Make() {
    DfFamily f;
    f.modelNumber = 23;
    f.name = "Paperang";
    f.comment = "Paperang mini printers (model number 23), 57 mm paper, 203 dpi.";
    f.create = Create;
    f.format = "application/vnd.dotforge-paperang";
    f.kind = DfKind::Label;
    f.options = {{"zeMediaTracking",
                  "Paper",
                  kDfPrinterSettings,
                  20,
                  "Continuous",
                  {{"Continuous", "Continuous roll", "continuous"},
                   {"Gap", "Labels with gaps", "gap"},
                   {"BLine", "Paper with black marks", "mark"}}},
                 DfSharedOption("CropEdgeTop"),
                 DfSharedOption("CropEdgeBottom")};
    f.drivers = {{"paperang-57",
                  "Paperang Mini Printer 57mm",
                  "Paperang Mini 57mm",
                  "dotforge Paperang 57 mm Mini Printer",
                  203,
                  384,
                  DfMiniRollMedia(),
                  kDfMiniRollDefault,
                  {"48mm", "10mm"},
                  {"48mm", "2000mm"}}};
    f.statusSteps = DfPaperangStatusSteps;
    f.ble = {"49535343-fe7d-4ae5-8fa9-9fafd205e455", "49535343-8841-43f4-a8d4-ecbe34729bb3",
             "49535343-1e4d-4bd9-ba61-23c647249616", nullptr};
    return f;
}

}  // namespace

extern const DfFamily kDfPaperang = Make();
