// CPrinterESCPOS: the renderer for ESC/POS receipt printers (placeholder until its page output lands).
#pragma once

#include "render/baserender.h"

class CPrinterESCPOS : public CBaseRender {
public:
    CPrinterESCPOS() {}
    virtual ~CPrinterESCPOS() {}
};
