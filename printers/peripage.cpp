// CPrinterPeriPage: page rendering, document beeps and the PeriPage command
// builders.
#include "printers/peripage.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The frame's row count is 16 bits wide, as is GS v 0's.
const int kMaxFrameRows = 0xFFFF;
const int kMaxFrameBytesPerRow = 0xFFFF;

void AddBytes(CMyBuffer& to, std::initializer_list<unsigned char> bytes) {
    to.AddBuffer(bytes.begin(), static_cast<int>(bytes.size()));
}

}  // namespace

// One deflate stream as the printer wants it: 1 KiB window, default level and
// strategy.
std::vector<unsigned char> CPrinterPeriPage::Deflate(const unsigned char* data, int len) {
    z_stream strm = {};
    strm.zalloc = Z_NULL;
    strm.zfree = Z_NULL;
    strm.opaque = Z_NULL;
    strm.next_in = const_cast<Bytef*>(data);
    strm.avail_in = static_cast<uInt>(len);
    // Asked before initialisation, zlib answers with its general upper bound,
    // which holds for every window size and level.
    const uLong bound = deflateBound(&strm, static_cast<uLong>(len));
    std::vector<unsigned char> out(bound);
    if (deflateInit2(&strm, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 10, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    strm.next_out = out.data();
    strm.avail_out = static_cast<uInt>(bound);
    const int rc = deflate(&strm, Z_FINISH);
    const int endRc = deflateEnd(&strm);
    if (rc != Z_STREAM_END || endRc != Z_OK || strm.total_out < 2) return {};
    out.resize(strm.total_out);
    return out;
}

CPrinterPeriPage::CPrinterPeriPage() {
    AddLog("new CPrinterPeriPage()");
}

CPrinterPeriPage::~CPrinterPeriPage() {}

void CPrinterPeriPage::OnStartDoc(unsigned long) {
    if (m_reg.BeginPrintSound != DfSound::EveryDoc) return;
    cmdBeginPrintSound();
    SpoolCommands(m_cmdBuffer);
}

void CPrinterPeriPage::OnEndDoc() {
    if (m_reg.EndPrintSound == DfSound::EveryDoc) {
        cmdEndPrintSound();
        SpoolCommands(m_cmdBuffer);
    }
    OnDestroy();
}

void CPrinterPeriPage::OnPaintBmp() {
    // Recording paper: no white leader or trailer.
    if (m_reg.iMediaType == DfMediaTracking::Recording) {
        CropWhiteEdge(-1, -1, 0, 0);
        AdjustEffWidthBits();
    }
    Negative();
    m_cmdBuffer.InitBuffer(0);

    if (m_reg.iMoneyBox == DfMoneyBox::BeforePrint) cmdOpenMoneyBox();
    cmdInit();
    cmdSpead(m_reg.iSpeed);
    cmdDENSITY(m_reg.iDensity);
    cmdAlignCenter();
    if (m_reg.BeginPrintSound == DfSound::EveryPage) cmdBeginPrintSound();

    int bytesPerRow = static_cast<int>((static_cast<long long>(PageWidth()) + 7) / 8);
    // Compressed rows are limited to an A4-wide head: 208 bytes up to 203 dpi,
    // 312 above. Wider rows lose their right-hand part.
    if (m_halftone.ImageCompress) bytesPerRow = std::min(bytesPerRow, m_iDpi <= 203 ? 208 : 312);
    CMyBuffer bitmap;
    if (!CollectRows(bytesPerRow, bitmap)) {
        SetPageError("out of memory while collecting its rows");
        m_cmdBuffer.InitBuffer(0);
        return;
    }
    PrintBMP(m_iDpi, m_iDpi, bytesPerRow, PageHeight(), bitmap.GetBuffer(), bitmap.GetBufferLength());

    // Labels, marks and perforations: on to the next one.
    const DfMediaTracking m = m_reg.iMediaType;
    if (m == DfMediaTracking::Gap || m == DfMediaTracking::BLine || m == DfMediaTracking::Perforated)
        AddBytes(m_cmdBuffer, {0x1D, 0x0C});
    if (m_reg.iFeedOffset > 0) PrintAndFeedPaper(m_reg.iFeedOffset);
    if (m_reg.EndPrintSound == DfSound::EveryPage) cmdEndPrintSound();
    cmdEndPrint();
    if (m_reg.iMoneyBox == DfMoneyBox::AfterPrint) cmdOpenMoneyBox();

    SpoolCommands(m_cmdBuffer);
}

void CPrinterPeriPage::cmdInit() {
    CMyBuffer b;
    AddBytes(b, {0x10, 0xFF, 0xFE, 0x01});
    int k = -1;
    switch (m_reg.iMediaType) {
        case DfMediaTracking::BLine:
            k = 0x00;
            break;
        case DfMediaTracking::Continuous:
        case DfMediaTracking::Roll:
        case DfMediaTracking::Recording:
            k = 0x01;
            break;
        case DfMediaTracking::Gap:
            k = 0x02;
            break;
        case DfMediaTracking::Perforated:
            k = 0x03;
            break;
        default:
            break;  // tattoo papers: the printer keeps its media setting
    }
    if (k >= 0) AddBytes(b, {0x10, 0xFF, 0x10, 0x03, static_cast<unsigned char>(k)});
    AddBytes(b, {0x1B, 0x40, 0x00});
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterPeriPage::cmdSpead(int s) {
    if (s < 0) return;
    CMyBuffer b;
    AddBytes(b, {0x1F, 0x1E, 0x1C, 0x03, static_cast<unsigned char>(s <= 8 ? s : 8)});
    m_cmdBuffer.AddBuffer(b);
}

// Two generations of firmware: the extended command takes levels 0-15 (out
// of range gives the middle, 8), the short one 0-5 (out of range gives 5).
void CPrinterPeriPage::cmdDENSITY(int d) {
    if (d < 0) return;
    CMyBuffer b;
    if (m_reg.iDensityCommand != 0)
        AddBytes(b, {0x1F, 0x1E, 0x1C, 0x02, static_cast<unsigned char>(d <= 15 ? d : 8)});
    else
        AddBytes(b, {0x10, 0xFF, 0x10, 0x00, static_cast<unsigned char>(d <= 5 ? d : 5)});
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterPeriPage::cmdBeginPrintSound() {
    CMyBuffer b;
    AddBytes(b, {0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0, 0x22});
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterPeriPage::cmdEndPrintSound() {
    CMyBuffer b;
    AddBytes(b, {0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0, 0x99});
    m_cmdBuffer.AddBuffer(b);
}

void CPrinterPeriPage::cmdEndPrint() {
    CMyBuffer b;
    AddBytes(b, {0x10, 0xFF, 0xFE, 0x45});
    m_cmdBuffer.AddBuffer(b);
}

// Frame: 1F 00, bytes per row and rows (16 bits each), the length N (32 bits),
// all big-endian, then N bytes: the zlib stream without its two-byte header
// but with its Adler-32 trailer. Every frame is a stream of its own. The
// frames are assembled aside so that a failure leaves no partial frame.
bool CPrinterPeriPage::AppendCompressedFrames(int bytesPerRow, int rows, const unsigned char* data,
                                              int dataLen) {
    if (bytesPerRow < 0 || rows < 0 || dataLen < 0 || (dataLen > 0 && !data)) return false;
    if (bytesPerRow > kMaxFrameBytesPerRow) {
        SetPageError("its rows of %d bytes do not fit the compressed frame", bytesPerRow);
        return false;
    }
    CMyBuffer frames;
    frames.SetMaxBufferSize(0);
    int start = 0;
    int offset = 0;
    do {
        const int n = std::min(rows - start, kMaxFrameRows);
        const bool last = start + n >= rows;
        const int len = last ? dataLen - offset
                             : static_cast<int>(std::min<long long>(static_cast<long long>(n) * bytesPerRow,
                                                                    dataLen - offset));
        const std::vector<unsigned char> out = Deflate(data ? data + offset : nullptr, len);
        if (out.empty()) return false;
        const unsigned long body = out.size() - 2;
        AddBytes(frames,
                 {0x1F, 0x00, static_cast<unsigned char>(bytesPerRow >> 8),
                  static_cast<unsigned char>(bytesPerRow & 0xFF), static_cast<unsigned char>(n >> 8),
                  static_cast<unsigned char>(n & 0xFF), static_cast<unsigned char>((body >> 24) & 0xFF),
                  static_cast<unsigned char>((body >> 16) & 0xFF),
                  static_cast<unsigned char>((body >> 8) & 0xFF), static_cast<unsigned char>(body & 0xFF)});
        frames.AddBuffer(out.data() + 2, static_cast<int>(body));
        offset += len;
        start += n;
    } while (start < rows);
    if (frames.Failed()) return false;
    m_cmdBuffer.AddBuffer(frames);
    return true;
}

void CPrinterPeriPage::PrintBMP(int xDpi, int yDpi, int bytesPerRow, int rows, const void* data,
                                int dataLen) {
    const unsigned char* bits = static_cast<const unsigned char*>(data);
    if (m_halftone.ImageCompress) {
        // The page cannot go out without its bitmap unnoticed.
        if (!AppendCompressedFrames(bytesPerRow, rows, bits, dataLen))
            SetPageError("its bitmap could not be compressed");
        return;
    }
    const unsigned char mode = RasterMode(xDpi, yDpi);
    const int band = m_reg.iImageMaxLength;
    if (band > 0) {
        if (bytesPerRow < 0 || dataLen < 0 || (dataLen > 0 && !bits)) return;
        int offset = 0;
        for (int start = 0; start < rows;) {
            const int n = std::min(band, rows - start);
            const int len = static_cast<int>(
                std::min<long long>(static_cast<long long>(n) * bytesPerRow, dataLen - offset));
            if (!AppendRaster(mode, bytesPerRow, n, bits + offset, len)) return;
            offset += len;
            start += n;
        }
        return;
    }
    AppendRaster(mode, bytesPerRow, rows, bits, dataLen);
}
