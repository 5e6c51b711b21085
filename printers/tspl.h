// CPrinterTSPL: the renderer for TSPL label printers. Every page is one
// self-contained TSPL job (size, ribbon, label mode, media sensing, offset,
// density, speed, CLS, BITMAP, PRINT), composed in m_cmdBuffer and written at
// once.
#pragma once

#include "base/mybuffer.h"
#include "render/baserender.h"

class CPrinterTSPL : public CBaseRender {
public:
    CPrinterTSPL();
    virtual ~CPrinterTSPL();

    void OnPaintBmp() override;

    // Line builders: each appends one CR LF terminated line to m_cmdBuffer.
    // Unit u: 1 appends " mm", 2 " dot", anything else no suffix.
    void cmdSIZE(double width, double height, int u);
    void cmdSetRibbon(bool on);
    // The SET lines of a label mode (tear-off, peel-off, cutter);
    // PrinterDefault and values outside the enum append nothing.
    void cmdLabelMode(DfLabelMode mode);
    void cmdGAP(int a, int b, int u);
    void cmdBLINE(int a, int b, int u);
    void cmdOFFSET(int a, int u);
    void cmdDENSITY(int d);
    void cmdSPEED(int s);
    void cmdCLS();
    // BITMAP x,y,widthBytes,rows,mode,... with mode 1 (raw rows, 0 = black)
    // or, when ImageCompress is set, mode 3 (zlib stream of the inverted
    // rows). Compressing inverts m_image in place, so data must point into it.
    void cmdBITMAP(int x, int y, int widthBytes, int rows, const void* data, int len);
    void cmdPRINT(int sets, int copies);

    // The page command buffer: empty between pages, storage kept. Not
    // size-limited, so a large page's bitmap is never dropped.
    CMyBuffer m_cmdBuffer;

protected:
    // zlib's compress(); a seam so the fallback to raw rows can be exercised.
    virtual int Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* src,
                         unsigned long srcLen);
};
