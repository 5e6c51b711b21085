// Copies of a printer's driver attributes, one at a time (see driverattrs.h).
#include "app/core/driverattrs.h"

#include <mutex>

namespace {
std::mutex gCopies;
}  // namespace

ipp_t* DfAppCopyDriverAttributes(pappl_printer_t* printer) {
    std::lock_guard<std::mutex> lock(gCopies);
    return printer ? papplPrinterGetDriverAttributes(printer) : nullptr;
}

void DfAppFreeDriverAttributes(ipp_t* attrs) {
    std::lock_guard<std::mutex> lock(gCopies);
    ippDelete(attrs);
}
