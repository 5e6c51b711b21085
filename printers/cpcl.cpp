// CPrinterCPCL: page rendering and the CPCL command writers.
#include "printers/cpcl.h"

#include <climits>

#include "base/intmath.h"
#include "base/mybuffer.h"

CPrinterCPCL::CPrinterCPCL() {
    m_bPadsToPageSize = true;
}

CPrinterCPCL::~CPrinterCPCL() {}

int CPrinterCPCL::PageWidth() {
    return m_image.IsValid() ? static_cast<int>(m_image.GetWidth()) : 0;
}
int CPrinterCPCL::PageHeight() {
    return m_image.IsValid() ? static_cast<int>(m_image.GetHeight()) : 0;
}
int CPrinterCPCL::PageEffWidth() {
    return m_image.IsValid() ? static_cast<int>(m_image.GetEffWidth()) : 0;
}

void CPrinterCPCL::OnPaintBmp() {
    Negative();  // CG wants 1 = black; the white row tails become 0
    cmdBegin();
    cmdPageWidth();
    cmdCG();
    cmdFORM();
    cmdPrint();
}

// "! offset 200 200 height quantity". The offset is the stored setting (already
// eight times the PPD choice) times eight again, wrapping in 32 bits; the two
// 200s are fixed whatever the page's resolution.
void CPrinterCPCL::cmdBegin() {
    CMyBuffer b;
    b.AddStringA("! ");
    b.AddInt(DfWrapShl(m_reg.iReference[0], 3));
    b.AddStringA(" 200 200 ");
    b.AddInt(PageHeight());
    b.AddStringA(" 1\r\n");
    SpoolCommands(b);
}

void CPrinterCPCL::cmdPageWidth() {
    CMyBuffer b;
    b.AddStringA("PAGE-WIDTH ");
    b.AddInt(PageWidth());
    b.AddStringA("\r\n");
    SpoolCommands(b);
}

// The command line and the bitmap are two writes; the bitmap is every stored
// row in full, padding included, with no line end after it.
void CPrinterCPCL::cmdCG() {
    const int effWidth = PageEffWidth();
    const int height = PageHeight();
    CMyBuffer b;
    b.AddStringA("CG ");
    b.AddInt(effWidth);
    b.AddStringA(" ");
    b.AddInt(height);
    b.AddStringA(" 0 0\r\n");
    const bool headed = !b.Failed();
    SpoolCommands(b);

    const long long len = static_cast<long long>(effWidth) * height;
    if (headed && len > 0 && len <= INT_MAX) WriteSpool(m_image.GetBits(0), static_cast<int>(len));
}

// Gap labels and black-line media are advanced to the next mark.
void CPrinterCPCL::cmdFORM() {
    if (m_reg.iMediaType != DfMediaTracking::Gap && m_reg.iMediaType != DfMediaTracking::BLine) return;
    CMyBuffer b;
    b.AddStringA("FORM\r\n");
    SpoolCommands(b);
}

void CPrinterCPCL::cmdPrint() {
    CMyBuffer b;
    b.AddStringA("PRINT\r\n");
    SpoolCommands(b);
}
