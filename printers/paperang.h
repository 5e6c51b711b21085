// CPrinterPaperang: the renderer for Paperang mini printers (placeholder until its page output lands).
#pragma once

#include "render/baserender.h"

class CPrinterPaperang : public CBaseRender {
public:
    CPrinterPaperang() {}
    virtual ~CPrinterPaperang() {}
};
