// CPrinterTSPL: page rendering and the TSPL line builders.
#include "printers/tspl.h"

#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void AddUnit(CMyBuffer& b, int u) {
    if (u == 1)
        b.AddStringA(" mm");
    else if (u == 2)
        b.AddStringA(" dot");
}

void AddCRLF(CMyBuffer& b) {
    b.AddStringA("\r\n");
}

// "%.2lf" of any double fits: DBL_MAX has 309 integer digits.
void AddFixed2(CMyBuffer& b, double v) {
    char text[400];
    int n = snprintf(text, sizeof(text), "%.2lf", v);
    if (n > 0) b.AddBuffer(text, n < static_cast<int>(sizeof(text)) ? n : static_cast<int>(sizeof(text)) - 1);
}

}  // namespace

CPrinterTSPL::CPrinterTSPL() {
    m_bPadsToPageSize = true;
    m_cmdBuffer.SetMaxBufferSize(0);
}

CPrinterTSPL::~CPrinterTSPL() {}

int CPrinterTSPL::Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* src,
                           unsigned long srcLen) {
    uLongf outLen = *destLen;
    int rc = compress(dest, &outLen, src, srcLen);
    *destLen = outLen;
    return rc;
}

void CPrinterTSPL::OnPaintBmp() {
    AddLog("OnPaintBmp");
    m_cmdBuffer.InitBuffer(0);

    const bool valid = m_image.IsValid();
    const int width = valid ? static_cast<int>(m_image.GetWidth()) : 0;
    const int height = valid ? static_cast<int>(m_image.GetHeight()) : 0;
    const int effWidth = valid ? static_cast<int>(m_image.GetEffWidth()) : 0;

    // The driver refuses pages without a positive resolution; should one get
    // here anyway, the label size is left to the printer rather than sent as
    // an infinite or negative size.
    if (m_iDpi > 0) {
        const double dotsPerMm = m_iDpi / 25.4;
        cmdSIZE(width / dotsPerMm, height / dotsPerMm, 1);
    } else {
        AddLog("resolution %d dpi: no SIZE line", m_iDpi);
    }

    if (m_reg.iPrinttype == DfPrintMethod::Direct)
        cmdSetRibbon(false);
    else if (m_reg.iPrinttype == DfPrintMethod::Ribbon)
        cmdSetRibbon(true);
    cmdLabelMode(m_reg.iLabelMode);

    switch (m_reg.iMediaType) {
        case DfMediaTracking::Continuous:
            cmdGAP(0, 0, 1);
            break;
        case DfMediaTracking::Gap:
            cmdGAP(m_reg.iGapHeight, m_reg.iGapOffset, 1);
            break;
        case DfMediaTracking::BLine:
            cmdBLINE(m_reg.iGapHeight, m_reg.iGapOffset, 1);
            break;
        default:
            break;  // perforated, roll and the rest: no sensing line
    }

    cmdOFFSET(m_reg.iOffset, 1);
    cmdDENSITY(m_reg.iDensity);
    cmdSPEED(m_reg.iSpeed);
    cmdCLS();

    // Whole stored rows, padding included: the width field is the 4-byte
    // aligned row length, not the width in dots / 8.
    const long long len = static_cast<long long>(effWidth) * height;
    cmdBITMAP(0, 0, effWidth, height, valid ? m_image.GetBits(0) : nullptr,
              len <= INT_MAX ? static_cast<int>(len) : 0);

    cmdPRINT(1, 1);

    SpoolCommands(m_cmdBuffer);
}

void CPrinterTSPL::cmdSIZE(double width, double height, int u) {
    CMyBuffer b;
    b.AddStringA("SIZE ");
    AddFixed2(b, width);
    AddUnit(b, u);
    b.AddStringA(",");
    AddFixed2(b, height);
    AddUnit(b, u);
    AddCRLF(b);
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterTSPL::cmdSetRibbon(bool on) {
    CMyBuffer b;
    b.AddStringA("SET RIBBON ");
    b.AddStringA(on ? "ON" : "OFF");
    AddCRLF(b);
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterTSPL::cmdLabelMode(DfLabelMode labelMode) {
    const int mode = static_cast<int>(labelMode);
    static const char* const kLines[][3] = {
        {nullptr, nullptr, nullptr},
        {"SET TEAR ON", "SET PEEL OFF", "SET CUTTER OFF"},  // tear-off
        {"SET PEEL ON", "SET CUTTER OFF", nullptr},         // peel-off
        {"SET PEEL OFF", "SET CUTTER 1", nullptr},          // cut after every label
        {"SET PEEL OFF", "SET CUTTER BATCH", nullptr},      // cut once, at the job's end
    };
    if (mode <= 0 || mode >= static_cast<int>(sizeof(kLines) / sizeof(kLines[0]))) return;
    CMyBuffer b;
    for (const char* line : kLines[mode]) {
        if (!line) break;
        b.AddStringA(line);
        AddCRLF(b);
    }
    m_cmdBuffer.AddBuffer(b);
}

// GAP and BLINE share one form: the mark (or gap) height and its offset.
static void AddDistancePair(CMyBuffer& b, const char* command, int a, int c, int u) {
    b.AddStringA(command);
    b.AddInt(a);
    AddUnit(b, u);
    b.AddStringA(",");
    b.AddInt(c);
    AddUnit(b, u);
    AddCRLF(b);
}

void CPrinterTSPL::cmdGAP(int a, int c, int u) {
    CMyBuffer b;
    AddDistancePair(b, "GAP ", a, c, u);
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterTSPL::cmdBLINE(int a, int c, int u) {
    CMyBuffer b;
    AddDistancePair(b, "BLINE ", a, c, u);
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterTSPL::cmdOFFSET(int a, int u) {
    CMyBuffer b;
    b.AddStringA("OFFSET ");
    b.AddInt(a);
    AddUnit(b, u);
    AddCRLF(b);
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterTSPL::cmdDENSITY(int d) {
    if (d < 0) return;
    CMyBuffer b;
    b.AddStringA("DENSITY ");
    b.AddInt(d);
    AddCRLF(b);
    m_cmdBuffer.AddBuffer(b);
}

// The printers know speeds 1 to 12; 0 and anything faster fall back to 4.
void CPrinterTSPL::cmdSPEED(int s) {
    if (s < 0) return;
    CMyBuffer b;
    b.AddStringA("SPEED ");
    b.AddInt(s >= 1 && s <= 12 ? s : 4);
    AddCRLF(b);
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterTSPL::cmdCLS() {
    CMyBuffer b;
    b.AddStringA("CLS");
    AddCRLF(b);
    m_cmdBuffer.AddBuffer(b);
}

// Mode 3 carries a zlib stream of the inverted rows (1 = black, padding 0);
// mode 1 the rows as stored (0 = black, padding 1). When compression cannot be
// done the image is turned back and the page goes out as mode 1, so the
// header never announces a length that does not follow.
void CPrinterTSPL::cmdBITMAP(int x, int y, int widthBytes, int rows, const void* data, int len) {
    CMyBuffer b;
    b.AddStringA("BITMAP ");
    b.AddInt(x);
    b.AddStringA(",");
    b.AddInt(y);
    b.AddStringA(",");
    b.AddInt(widthBytes);
    b.AddStringA(",");
    b.AddInt(rows);
    b.AddStringA(",");
    if (len < 0) len = 0;

    if (m_halftone.ImageCompress) {
        const uLong bound = compressBound(static_cast<uLong>(len));
        std::vector<unsigned char> packed(bound ? bound : 1);
        Negative();
        unsigned long packedLen = bound;
        const int rc = Compress(packed.data(), &packedLen, static_cast<const unsigned char*>(data),
                                static_cast<unsigned long>(len));
        if (rc == Z_OK && packedLen <= bound && packedLen <= INT_MAX) {
            b.AddStringA("3,");
            b.AddInt(static_cast<int>(packedLen));
            b.AddStringA(",");
            m_cmdBuffer.AddBuffer(b);
            m_cmdBuffer.AddBuffer(packed.data(), static_cast<int>(packedLen));
            AddCRLF(m_cmdBuffer);
            return;
        }
        AddLog("compress failed (%d): bitmap sent uncompressed", rc);
        Negative();  // back to the stored sense for mode 1
    }

    b.AddStringA("1,");
    m_cmdBuffer.AddBuffer(b);
    m_cmdBuffer.AddBuffer(data, len);
    AddCRLF(m_cmdBuffer);
}

void CPrinterTSPL::cmdPRINT(int sets, int copies) {
    CMyBuffer b;
    b.AddStringA("PRINT ");
    b.AddInt(sets);
    b.AddStringA(",");
    b.AddInt(copies);
    AddCRLF(b);
    m_cmdBuffer.AddBuffer(b);
}
