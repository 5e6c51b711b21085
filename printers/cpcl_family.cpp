// The CPCL family's descriptor: CPCL printers (model number 22), 4-inch head at 203 dpi.
#include "printers/family.h"
#include "printers/cpcl.h"
#include "printers/status.h"

namespace {

std::unique_ptr<CBaseRender> Create() {
    return std::make_unique<CPrinterCPCL>();
}

DfFamily Make() {
    DfFamily f;
    f.modelNumber = 22;
    f.name = "CPCL";
    f.comment = "CPCL printers (model number 22), 4-inch head at 203 dpi.";
    f.create = Create;
    f.format = "application/vnd.dotforge-cpcl";
    f.kind = DfKind::Label;
    f.options = {DfSharedOption("zeMediaTracking")};
    f.drivers = {{"cpcl-203", "CPCL Label Printer 203dpi", "CPCL Label Printer 203dpi",
                  "dotforge CPCL 4-inch Label Printer, 203 dpi", 203, 832, DfLabelMedia(), kDfLabelDefault,
                  kDfLabelMinSize, kDfLabelMaxSize}};
    f.statusSteps = DfCpclStatusSteps;
    return f;
}

}  // namespace

extern const DfFamily kDfCpcl = Make();
