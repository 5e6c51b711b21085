// CPrinterPeriPage: the renderer for PeriPage mini printers, ESC/POS with the
// vendor's extra commands: speed, density, media kind, beeps, a deflate
// compressed raster frame and raster bands of limited height.
#pragma once

#include <vector>

#include "printers/escpos.h"

class CPrinterPeriPage : public CPrinterESCPOS {
public:
    CPrinterPeriPage();
    virtual ~CPrinterPeriPage();

    void OnStartDoc(unsigned long flags) override;
    void OnEndDoc() override;
    void OnPaintBmp() override;

    void cmdInit() override;
    void PrintBMP(int xDpi, int yDpi, int bytesPerRow, int rows, const void* data, int dataLen) override;
    void cmdEndPrint() override;

    // The vendor's name for the speed command is kept.
    void cmdSpead(int s);
    void cmdDENSITY(int d);
    void cmdBeginPrintSound();
    void cmdEndPrintSound();

protected:
    // Appends one compressed frame per at most 65535 rows; on any zlib
    // failure nothing at all is appended and false is returned.
    bool AppendCompressedFrames(int bytesPerRow, int rows, const unsigned char* data, int dataLen);
    // One zlib stream of len bytes (header included), or none on any zlib
    // failure. A seam, so that the failure can be exercised.
    virtual std::vector<unsigned char> Deflate(const unsigned char* data, int len);
};
