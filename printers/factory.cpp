// DfCreateRender: model number to renderer.
#include "printers/factory.h"

#include "printers/cpcl.h"
#include "printers/escpos.h"
#include "printers/paperang.h"
#include "printers/peripage.h"
#include "printers/tspl.h"

CBaseRender* DfCreateRender(int model) {
    switch (model) {
        case 20:
            return new CPrinterTSPL();
        case 21:
            return new CPrinterESCPOS();
        case 22:
            return new CPrinterCPCL();
        case 23:
            return new CPrinterPaperang();
        case 24:
            return new CPrinterPeriPage();
        default:
            return nullptr;
    }
}
