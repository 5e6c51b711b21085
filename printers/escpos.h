// CPrinterESCPOS: the renderer for ESC/POS receipt printers. Each page leaves
// as one write: optional drawer pulse, reset, centring, the page as GS v 0
// raster data, optional paper feed, optional cut, optional drawer pulse; a
// cut at the end of the job is a write of its own. It is also the base
// of the PeriPage renderer, which replaces some of the builders below.
#pragma once

#include "base/mybuffer.h"
#include "render/baserender.h"

class CPrinterESCPOS : public CBaseRender {
public:
    CPrinterESCPOS();
    virtual ~CPrinterESCPOS();

    void OnDestroy() override;
    void OnPaintBmp() override;

    // Command builders. They only append to m_cmdBuffer; the hooks write it.
    // The PeriPage renderer overrides some of them.
    virtual void cmdInit();
    virtual void cmdAlignCenter();
    virtual void cmdCutPaper(int n);
    virtual void PrintAndFeedPaper(int mm);
    virtual void PrintBMP(int xDpi, int yDpi, int bytesPerRow, int rows, const void* data, int dataLen);
    virtual void cmdEndPrint();
    virtual void cmdOpenMoneyBox();

    // The GS v 0 mode byte for a pair of resolutions: 0 normal, 1 double
    // width, 2 double height, 3 quadruple.
    static unsigned char RasterMode(int xDpi, int yDpi);

protected:
    // Appends GS v 0 commands for rows of bytesPerRow bytes. The command's row
    // count is 16 bits wide, so more than 65535 rows go out as consecutive
    // commands of at most 65535 rows each; up to 65535 rows it is exactly one
    // command carrying all dataLen bytes. Rows wider than the 16-bit width
    // field cannot be described at all: nothing is appended and false is
    // returned (no printer head comes anywhere near that width).
    bool AppendRaster(unsigned char mode, int bytesPerRow, int rows, const unsigned char* data, int dataLen);

    // Copies the first bytesPerRow bytes of every row of the page image,
    // top row first, into out (which is cleared first). False when out of
    // memory: out then holds no usable bitmap.
    bool CollectRows(int bytesPerRow, CMyBuffer& out);

    // Page image dimensions; an image without pixels counts as 0 x 0.
    int PageWidth();
    int PageHeight();
    int PageEffWidth();

    // The page's command stream. Not size-limited: a long page's bitmap must
    // never be dropped by the buffer's soft limit.
    CMyBuffer m_cmdBuffer;

    // Pages painted in this job; the end-of-job cut needs at least one.
    int m_pagesPainted = 0;

    // The cut command for the job's CutType: partial (1D 56 31) unless Full.
    void AppendCut();
};
