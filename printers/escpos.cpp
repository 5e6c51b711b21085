// CPrinterESCPOS: page rendering and the ESC/POS command builders.
#include "printers/escpos.h"

#include <algorithm>
#include <climits>

#include "base/intmath.h"

namespace {
// Both size fields of GS v 0 are 16 bits wide.
const int kMaxRasterRows = 0xFFFF;
const int kMaxRasterBytesPerRow = 0xFFFF;
}  // namespace

CPrinterESCPOS::CPrinterESCPOS() {
    m_cmdBuffer.SetMaxBufferSize(0);
    AddLog("new CPrinterESCPOS()");
}

CPrinterESCPOS::~CPrinterESCPOS() {}

// The end of the job sends nothing but its cut, if one was asked for and a
// page was printed.
void CPrinterESCPOS::OnDestroy() {
    if (m_reg.iCutMedia != DfCutMedia::EndOfJob || m_pagesPainted == 0) return;
    m_cmdBuffer.InitBuffer(0);
    AppendCut();
    SpoolCommands(m_cmdBuffer);
}

void CPrinterESCPOS::AppendCut() {
    cmdCutPaper(m_reg.iCutType == DfCutType::Full ? 0 : 1);
}

int CPrinterESCPOS::PageWidth() {
    return m_image.IsValid() ? static_cast<int>(m_image.GetWidth()) : 0;
}
int CPrinterESCPOS::PageHeight() {
    return m_image.IsValid() ? static_cast<int>(m_image.GetHeight()) : 0;
}
int CPrinterESCPOS::PageEffWidth() {
    return m_image.IsValid() ? static_cast<int>(m_image.GetEffWidth()) : 0;
}

bool CPrinterESCPOS::CollectRows(int bytesPerRow, CMyBuffer& out) {
    out.SetMaxBufferSize(0);
    out.InitBuffer(0);
    const int rows = PageHeight();
    const long long reserve = static_cast<long long>(PageEffWidth()) * rows;
    if (reserve > 0 && reserve <= INT_MAX) out.SetBufferSize(static_cast<int>(reserve));
    if (bytesPerRow <= 0 || bytesPerRow > PageEffWidth()) return true;
    for (int row = 0; row < rows; row++) {
        const unsigned char* bits = m_image.GetBits(static_cast<unsigned>(row));
        if (!bits) break;
        if (!out.AddBuffer(bits, bytesPerRow)) return false;
    }
    return true;
}

void CPrinterESCPOS::OnPaintBmp() {
    Negative();
    m_cmdBuffer.InitBuffer(0);

    if (m_reg.iMoneyBox == DfMoneyBox::BeforePrint) cmdOpenMoneyBox();
    cmdInit();
    cmdAlignCenter();

    // Only the dots of the page go out, not the 4-byte row padding.
    const int bytesPerRow = static_cast<int>((static_cast<long long>(PageWidth()) + 7) / 8);
    CMyBuffer bitmap;
    if (!CollectRows(bytesPerRow, bitmap)) {
        SetPageError("out of memory while collecting its rows");
        m_cmdBuffer.InitBuffer(0);
        return;
    }
    PrintBMP(m_iDpi, m_iDpi, bytesPerRow, PageHeight(), bitmap.GetBuffer(), bitmap.GetBufferLength());

    // The cutter sits above the print line: the feed brings the last rows
    // past it before the cut.
    if (m_reg.iFeedOffset > 0) PrintAndFeedPaper(m_reg.iFeedOffset);
    if (m_reg.iCutMedia == DfCutMedia::EveryPage) AppendCut();
    cmdEndPrint();
    if (m_reg.iMoneyBox == DfMoneyBox::AfterPrint) cmdOpenMoneyBox();
    m_pagesPainted++;

    SpoolCommands(m_cmdBuffer);
}

void CPrinterESCPOS::cmdInit() {
    CMyBuffer b;
    const unsigned char cmd[] = {0x1B, 0x40, 0x00};
    b.AddBuffer(cmd, sizeof(cmd));
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterESCPOS::cmdAlignCenter() {
    CMyBuffer b;
    const unsigned char cmd[] = {0x1B, 0x61, 0x01};
    b.AddBuffer(cmd, sizeof(cmd));
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterESCPOS::cmdCutPaper(int n) {
    CMyBuffer b;
    const unsigned char cmd[] = {0x1D, 0x56, static_cast<unsigned char>(n == 0 ? 0x30 : 0x31)};
    b.AddBuffer(cmd, sizeof(cmd));
    m_cmdBuffer.AddBuffer(b);
}

// ESC J feeds at most 255 dots, so longer feeds are a run of full steps and
// one remainder. The product wraps in 32 bits like the firmware arithmetic it
// mirrors; a result below zero (absurd settings only) feeds nothing.
void CPrinterESCPOS::PrintAndFeedPaper(int mm) {
    const int dots = static_cast<int>(DfWrapMul(m_iDpi, mm) / 25.4);
    if (dots < 0) return;
    CMyBuffer b;
    if (dots <= 255) {
        const unsigned char cmd[] = {0x1B, 0x4A, static_cast<unsigned char>(dots)};
        b.AddBuffer(cmd, sizeof(cmd));
    } else {
        const unsigned char full[] = {0x1B, 0x4A, 0xFF};
        b.SetBufferSize((dots / 255 + 1) * 3);
        for (int i = 0; i < dots / 255; i++) b.AddBuffer(full, sizeof(full));
        if (dots % 255 > 0) {
            const unsigned char rest[] = {0x1B, 0x4A, static_cast<unsigned char>(dots % 255)};
            b.AddBuffer(rest, sizeof(rest));
        }
    }
    m_cmdBuffer.AddBuffer(b);
}

unsigned char CPrinterESCPOS::RasterMode(int xDpi, int yDpi) {
    if (xDpi > 202 && yDpi > 202) return 0;
    if (xDpi > 202 && yDpi == 100) return 1;
    if (xDpi == 100 && yDpi > 202) return 2;
    if (xDpi == 100 && yDpi == 100) return 3;
    return 0;
}

bool CPrinterESCPOS::AppendRaster(unsigned char mode, int bytesPerRow, int rows, const unsigned char* data,
                                  int dataLen) {
    if (bytesPerRow < 0 || rows < 0 || dataLen < 0 || (dataLen > 0 && !data)) return false;
    if (bytesPerRow > kMaxRasterBytesPerRow) {
        SetPageError("its rows of %d bytes do not fit the raster command", bytesPerRow);
        return false;
    }
    int start = 0;
    int offset = 0;
    do {
        const int n = rows - start < kMaxRasterRows ? rows - start : kMaxRasterRows;
        // The last (usually the only) command carries whatever data is left.
        const bool last = start + n >= rows;
        int len = last ? dataLen - offset
                       : static_cast<int>(
                             std::min<long long>(static_cast<long long>(n) * bytesPerRow, dataLen - offset));
        CMyBuffer b;
        const unsigned char head[] = {0x1D,
                                      0x76,
                                      0x30,
                                      mode,
                                      static_cast<unsigned char>(bytesPerRow & 0xFF),
                                      static_cast<unsigned char>((bytesPerRow >> 8) & 0xFF),
                                      static_cast<unsigned char>(n & 0xFF),
                                      static_cast<unsigned char>((n >> 8) & 0xFF)};
        b.AddBuffer(head, sizeof(head));
        m_cmdBuffer.AddBuffer(b);
        if (len > 0) m_cmdBuffer.AddBuffer(data + offset, len);
        offset += len;
        start += n;
    } while (start < rows);
    return true;
}

void CPrinterESCPOS::PrintBMP(int xDpi, int yDpi, int bytesPerRow, int rows, const void* data, int dataLen) {
    AppendRaster(RasterMode(xDpi, yDpi), bytesPerRow, rows, static_cast<const unsigned char*>(data), dataLen);
}

void CPrinterESCPOS::cmdEndPrint() {}

// ESC p: drawer connector pin 2, 128 x 2 ms on and off.
void CPrinterESCPOS::cmdOpenMoneyBox() {
    CMyBuffer b;
    const unsigned char cmd[] = {0x1B, 0x70, 0x00, 0x80, 0x80};
    b.AddBuffer(cmd, sizeof(cmd));
    m_cmdBuffer.AddBuffer(b);
}
