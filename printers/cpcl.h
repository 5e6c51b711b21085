// CPrinterCPCL: the renderer for CPCL printers (placeholder until its page output lands).
#pragma once

#include "render/baserender.h"

class CPrinterCPCL : public CBaseRender {
public:
    CPrinterCPCL() {}
    virtual ~CPrinterCPCL() {}
};
