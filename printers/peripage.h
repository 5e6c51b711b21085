// CPrinterPeriPage: the renderer for PeriPage mini printers (placeholder until its page output lands).
#pragma once

#include "printers/escpos.h"

class CPrinterPeriPage : public CPrinterESCPOS {
public:
    CPrinterPeriPage() {}
    virtual ~CPrinterPeriPage() {}
};
