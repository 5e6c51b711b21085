// CPrinterCPCL: the renderer for CPCL printers. Each page is one label of
// five commands (header, PAGE-WIDTH, CG with the raw bitmap, optional FORM,
// PRINT); every command is written to the spool as soon as it is built.
#pragma once

#include "render/baserender.h"

class CPrinterCPCL : public CBaseRender {
public:
    CPrinterCPCL();
    virtual ~CPrinterCPCL();

    void OnPaintBmp() override;

    void cmdBegin();
    void cmdPageWidth();
    void cmdCG();
    void cmdFORM();
    void cmdPrint();

private:
    // Page image dimensions; an image without pixels counts as 0 x 0.
    int PageWidth();
    int PageHeight();
    int PageEffWidth();
};
