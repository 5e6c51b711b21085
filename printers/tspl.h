// CPrinterTSPL: the renderer for TSPL label printers (placeholder until its page output lands).
#pragma once

#include "render/baserender.h"

class CPrinterTSPL : public CBaseRender {
public:
    CPrinterTSPL() {}
    virtual ~CPrinterTSPL() {}
};
