// CPrinterPaperang: the renderer for Paperang mini printers. Every command is
// a record (05, command code, 03, 16-bit payload length, payload) wrapped in
// a frame: A5 01, 16-bit record length, the record, the record's CRC-32 with
// the protocol's seed, 5A; numbers little-endian. A page goes out as start
// printing, the Huffman tree, the coded bitmap in chunks of whole rows, end
// printing and a positioning command, all in one write.
#pragma once

#include <cstdint>

#include "base/mybuffer.h"
#include "render/baserender.h"

class CPrinterPaperang : public CBaseRender {
public:
    CPrinterPaperang();
    virtual ~CPrinterPaperang();

    void OnPaintBmp() override;

    void cmdBeginPrinting();
    void cmdEndPrinting();
    void cmdFeed(int value);
    void cmdPaperLocate(int value);
    // Tree frame from t bytes of serialised tree. False when the frame could
    // not be queued (lengths beyond their 16-bit fields, out of memory).
    bool cmdHfmTree(unsigned char* tree, int t);
    // Bitmap frame for chunk index with d chunk bytes; false as above (the
    // index and d must fit the frame's 16-bit fields).
    bool cmdBitmap(int index, bool coded, unsigned char* data, int d);
    // Wraps a record of n bytes in a frame and queues it.
    bool cmdChildClassPackage(unsigned char* record, int n);
    uint32_t MakeCrc32(const unsigned char* data, unsigned int length);
    void SendBitmap_withHFM();

    bool AddToBuffer(CMyBuffer& buffer);
    bool AddToBuffer(const void* data, int length);

    // Largest values the 16-bit fields of a frame can carry.
    static constexpr int kMaxRecord = 0xFFFF;
    static constexpr int kMaxChunkIndex = 0xFFFF;
    static constexpr int kMaxRowBytes = 0xFFFF;
    // Bytes a frame adds around its record, and a record (with the bitmap
    // header) around a chunk's d bytes and around a tree's t bytes.
    static constexpr int kFrameOverhead = 9;
    static constexpr int kBitmapRecordOverhead = 5 + 12;
    static constexpr int kTreeRecordOverhead = 5;

protected:
    // Queues a record of the given command code and payload.
    bool SendRecord(unsigned char code, const unsigned char* payload, int length);
    // Queues one page: start, tree and bitmap (when withBitmap), end and the
    // positioning frame of the medium.
    void QueuePage(bool withBitmap);

    CMyBuffer m_cmdBuffer;
    // Set when a frame of the current page could not be queued; the page is
    // then replaced by its start, end and positioning frames.
    bool m_bPageFailed;
};
