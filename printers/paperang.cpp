// CPrinterPaperang: frames, checksum and page output of the Paperang
// renderer.
#include "printers/paperang.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "printers/hfmcode.h"

namespace {

// The protocol's CRC starts from this seed instead of 0.
constexpr uint32_t kCrcSeed = 0x35769521u;

// Space kept free in the command buffer for the end and positioning frames
// that follow the bitmap (14 + 18 bytes).
constexpr long long kTrailerReserve = 32;

enum : unsigned char {
    kCmdFeed = 0x16,
    kCmdBeginPrinting = 0x19,
    kCmdEndPrinting = 0x1A,
    kCmdBitmap = 0x1B,
    kCmdHfmTree = 0x1C,
    kCmdPaperLocate = 0x21,
};

void PutLe16(unsigned char* p, unsigned v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

void PutLe32(unsigned char* p, uint32_t v) {
    PutLe16(p, v & 0xFFFF);
    PutLe16(p + 2, v >> 16);
}

}  // namespace

CPrinterPaperang::CPrinterPaperang() : m_bPageFailed(false) {
    m_cmdBuffer.SetMaxBufferSize(104857600);
}

CPrinterPaperang::~CPrinterPaperang() {}

// zlib's CRC-32 started from the seed is exactly the protocol's checksum.
uint32_t CPrinterPaperang::MakeCrc32(const unsigned char* data, unsigned int length) {
    if (!data) length = 0;
    return static_cast<uint32_t>(crc32(kCrcSeed, data, length));
}

bool CPrinterPaperang::AddToBuffer(const void* data, int length) {
    if (length <= 0) return true;
    const long long before = m_cmdBuffer.GetBufferLength();
    // The buffer drops its content when it would pass its limit; refuse
    // instead, so a page is never sent with its head cut off.
    const int max = m_cmdBuffer.GetMaxBufferSize();
    if (!data || (max > 0 && before + length > max)) {
        m_bPageFailed = true;
        return false;
    }
    if (!m_cmdBuffer.AddBuffer(data, length)) {
        m_bPageFailed = true;
        return false;
    }
    return true;
}

bool CPrinterPaperang::AddToBuffer(CMyBuffer& buffer) {
    if (buffer.Failed()) {
        m_bPageFailed = true;
        return false;
    }
    return AddToBuffer(buffer.GetBuffer(), buffer.GetBufferLength());
}

bool CPrinterPaperang::cmdChildClassPackage(unsigned char* record, int n) {
    if (!record || n <= 0 || n > kMaxRecord) return false;
    unsigned char head[4] = {0xA5, 0x01, 0, 0};
    PutLe16(head + 2, static_cast<unsigned>(n));
    unsigned char tail[5];
    PutLe32(tail, MakeCrc32(record, static_cast<unsigned>(n)));
    tail[4] = 0x5A;
    return AddToBuffer(head, 4) && AddToBuffer(record, n) && AddToBuffer(tail, 5);
}

bool CPrinterPaperang::SendRecord(unsigned char code, const unsigned char* payload, int length) {
    if (length < 0 || length > kMaxRecord - 5 || (length > 0 && !payload)) return false;
    CMyBuffer record;
    unsigned char head[5] = {0x05, code, 0x03, 0, 0};
    PutLe16(head + 3, static_cast<unsigned>(length));
    if (!record.AddBuffer(head, 5) || !record.AddBuffer(payload, length)) {
        m_bPageFailed = true;
        return false;
    }
    return cmdChildClassPackage(reinterpret_cast<unsigned char*>(record.GetBuffer()), record.GetBufferLength());
}

void CPrinterPaperang::cmdBeginPrinting() {
    SendRecord(kCmdBeginPrinting, nullptr, 0);
    AddLog("MM_TP_CTRL_PRINT_START");
}

void CPrinterPaperang::cmdEndPrinting() {
    SendRecord(kCmdEndPrinting, nullptr, 0);
    AddLog("MM_TP_CTRL_PRINT_END");
}

void CPrinterPaperang::cmdFeed(int value) {
    unsigned char p[2];
    PutLe16(p, static_cast<unsigned>(value) & 0xFFFF);
    SendRecord(kCmdFeed, p, 2);
}

void CPrinterPaperang::cmdPaperLocate(int value) {
    unsigned char p[4];
    PutLe32(p, static_cast<uint32_t>(value));
    SendRecord(kCmdPaperLocate, p, 4);
}

bool CPrinterPaperang::cmdHfmTree(unsigned char* tree, int t) {
    return SendRecord(kCmdHfmTree, tree, t);
}

bool CPrinterPaperang::cmdBitmap(int index, bool coded, unsigned char* data, int d) {
    if (index < 0 || index > kMaxChunkIndex || d < 0 || d > kMaxRecord - kBitmapRecordOverhead || (d > 0 && !data))
        return false;
    const unsigned rowBytes = m_image.GetEffWidth();
    if (rowBytes > static_cast<unsigned>(kMaxRowBytes)) return false;

    CMyBuffer payload;
    unsigned char head[12];
    PutLe16(head, static_cast<unsigned>(index));
    PutLe16(head + 2, static_cast<unsigned>(d + 8));  // bytes after this field
    head[4] = 0x01;
    PutLe16(head + 5, rowBytes);
    head[7] = 0x00;
    head[8] = 0x00;
    head[9] = coded ? 0x01 : 0x00;
    PutLe16(head + 10, static_cast<unsigned>(d));
    if (!payload.AddBuffer(head, 12) || !payload.AddBuffer(data, d)) {
        m_bPageFailed = true;
        return false;
    }
    return SendRecord(kCmdBitmap, reinterpret_cast<unsigned char*>(payload.GetBuffer()), d + 12);
}

// Sends the page as a tree frame and bitmap frames. The frame length fields
// are 16 bits wide: a page whose frames would not fit them (a chunk of a
// single very long row, more chunks than the index counts, rows wider than
// the width field) is reported and its tree and bitmap frames are left out,
// rather than sent with wrapped lengths the printer would misparse. The
// start, end and positioning frames still go, so a label printer stays in
// step with its labels.
void CPrinterPaperang::SendBitmap_withHFM() {
    const unsigned rowBytes = m_image.GetEffWidth();
    const unsigned rows = m_image.GetHeight();
    const unsigned char* bits = m_image.GetBits(0);
    const unsigned long long size = static_cast<unsigned long long>(rowBytes) * rows;
    if (!bits || size == 0) {
        AddLog("Paperang: empty page image, no bitmap sent");
        return;
    }
    if (rowBytes > static_cast<unsigned>(kMaxRowBytes)) {
        SetPageError("%u bytes per row is beyond the printer's 16-bit row width",
                rowBytes);
        return;
    }
    if (size > 0x7fffffffULL) {
        SetPageError("its %llu bytes are too many to code", size);
        return;
    }

    CHfmCode hfm;
    const std::vector<CHfmCode::HGMRNCODENODE> tree = hfm.GetHfmTree(bits, static_cast<int>(size));
    const int nodeCount = static_cast<int>(tree.size());
    const std::vector<uint16_t> pre = hfm.GetTreePreorder(tree.data(), nodeCount);
    const std::vector<uint16_t> mid = hfm.GetTreeMiddleorder(tree.data(), nodeCount);
    if (pre.empty() || mid.empty()) {
        SetPageError("out of memory while coding the bitmap");
        return;
    }
    const int t = 4 * nodeCount;
    std::vector<unsigned char> treeBytes(static_cast<size_t>(t));
    for (int i = 0; i < nodeCount; ++i) {
        PutLe16(&treeBytes[2 * i], pre[i]);
        PutLe16(&treeBytes[2 * (nodeCount + i)], mid[i]);
    }

    const CHfmCode::HfmChunks coded = hfm.HFMDGencoding(
        tree.data(), nodeCount, bits, static_cast<int>(rowBytes), static_cast<int>(rows), 256);
    const std::vector<CHfmCode::HFMCHUNK>& chunks = coded.chunks;
    const int chunkCount = static_cast<int>(chunks.size());
    if (chunks.empty()) {
        // The tree still goes, as the printer has always received it; the
        // page itself is lost and says so.
        cmdHfmTree(treeBytes.data(), t);
        SetPageError("out of memory while coding the bitmap");
        return;
    }

    // Check every frame against its 16-bit fields and the whole page against
    // the command buffer before anything is queued.
    bool fits = true;
    long long need = static_cast<long long>(t) + kTreeRecordOverhead + kFrameOverhead;
    if (chunkCount - 1 > kMaxChunkIndex) {
        SetPageError("%d bitmap chunks are beyond the printer's 16-bit chunk index",
                chunkCount);
        fits = false;
    }
    for (int k = 0; fits && k < chunkCount; ++k) {
        if (chunks[k].length > kMaxRecord - kBitmapRecordOverhead) {
            SetPageError("a row codes to %d bytes, beyond the printer's 16-bit frame length",
                    static_cast<int>(chunks[k].length));
            fits = false;
        }
        need += chunks[k].length + kBitmapRecordOverhead + kFrameOverhead;
    }
    const int max = m_cmdBuffer.GetMaxBufferSize();
    if (fits && max > 0 && m_cmdBuffer.GetBufferLength() + need + kTrailerReserve > max) {
        SetPageError("its %lld bytes of printer data exceed the %d byte send buffer",
                need, max);
        fits = false;
    }

    if (fits) {
        bool queued = cmdHfmTree(treeBytes.data(), t);
        for (int k = 0; queued && k < chunkCount; ++k) queued = cmdBitmap(k, true, chunks[k].data, chunks[k].length);
        // A page with a frame missing must not go out (see OnPaintBmp).
        if (!queued) m_bPageFailed = true;
        AddLog("Paperang: %d tree nodes, %d bitmap chunks", nodeCount, chunkCount);
    }

}

void CPrinterPaperang::QueuePage(bool withBitmap) {
    cmdBeginPrinting();
    if (withBitmap) SendBitmap_withHFM();
    cmdEndPrinting();
    const DfMediaTracking m = m_reg.iMediaType;
    if (m == DfMediaTracking::Gap || m == DfMediaTracking::BLine) cmdPaperLocate(100);
    if (m == DfMediaTracking::Continuous || m == DfMediaTracking::Roll) cmdFeed(0);
}

void CPrinterPaperang::OnPaintBmp() {
    AddLog("OnPaintBmp");
    Negative();
    m_bPageFailed = false;
    QueuePage(true);
    if (m_bPageFailed) {
        // A frame could not be queued (out of memory, or past the send
        // buffer's limit): never send half a page. Send just the frames that
        // keep the printer in step, or nothing when even those fail.
        SetPageError("its printer data could not be queued");
        m_cmdBuffer.InitBuffer(0);
        m_bPageFailed = false;
        QueuePage(false);
        if (m_bPageFailed) m_cmdBuffer.InitBuffer(0);
    }
    SpoolCommands(m_cmdBuffer);
}
