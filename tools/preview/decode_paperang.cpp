// Paperang decoding for the preview: frames A5 01 len(LE16) record
// CRC-32(LE) 5A, the CRC taken over the record only and seeded with the
// protocol's 0x35769521; records 05 code 03 len(LE16) payload. A page runs
// from start printing (19) to end printing (1A); its Huffman tree (1C) is
// rebuilt with HfmDecoder and its bitmap chunks (1B) decoded into rows of
// the width the bitmap headers give, 1 bit = black.
#include <zlib.h>

#include "printers/hfmdecode.h"
#include "tools/preview/decode_internal.h"

namespace {

constexpr uint32_t kCrcSeed = 0x35769521;

class PaperangDecoder {
public:
    explicit PaperangDecoder(DecodeContext& ctx) : ctx_(ctx) {}
    bool Run();

private:
    bool Frame(size_t pos, size_t* next);
    bool Record(size_t pos, uint8_t code, const uint8_t* payload, size_t plen);
    bool Bitmap(size_t pos, const uint8_t* payload, size_t plen);
    void EndPage(size_t pos, bool complete);
    size_t PageNumber() const { return ctx_.result->pages.size() + 1; }

    DecodeContext& ctx_;
    HfmDecoder tree_;
    bool pageOpen_ = false;
    size_t nextChunk_ = 0;
    size_t rowBytes_ = 0;
    std::vector<uint8_t> rows_;
};

bool PaperangDecoder::Run() {
    size_t pos = 0;
    bool ok = true;
    while (pos < ctx_.len) {
        size_t next = pos;
        if (!ctx_.StatusQuery(pos, &next) && (!Frame(pos, &next) || !ctx_.result->ok)) {
            ok = false;
            break;
        }
        pos = next;
    }
    if (ok && pageOpen_)
        ok = ctx_.Fail(ctx_.len, "the stream ends inside page %zu: expected the end printing frame (1A)",
                       PageNumber());
    if (!ok && pageOpen_ && !rows_.empty()) EndPage(pos, false);
    return ok;
}

void PaperangDecoder::EndPage(size_t pos, bool complete) {
    PreviewPage page;
    if (rowBytes_) {
        page.width = (int)(rowBytes_ * 8);
        page.rowBytes = rowBytes_;
        page.height = (int)(rows_.size() / rowBytes_);
        rows_.resize((size_t)page.height * rowBytes_);
        page.bits.swap(rows_);
    }
    page.complete = complete;
    ctx_.AddPage(std::move(page), pos);
    rows_.clear();
    rowBytes_ = 0;
    nextChunk_ = 0;
    pageOpen_ = false;
}

bool PaperangDecoder::Frame(size_t pos, size_t* next) {
    const uint8_t* p = ctx_.data + pos;
    if (p[0] != 0xA5) return ctx_.Fail(pos, "expected the frame start A5, found 0x%02X", p[0]);
    if (!ctx_.Need(pos, 4, "frame header A5 01 length")) return false;
    if (p[1] != 0x01) return ctx_.Fail(pos + 1, "expected 01 after the frame start A5, found 0x%02X", p[1]);
    size_t n = LE16(p + 2);
    if (ctx_.Left(pos) < n + 9)
        return ctx_.Fail(
            pos + 2,
            "frame length %zu runs past the end of the stream: the frame needs %zu bytes, %zu are left", n,
            n + 9, ctx_.Left(pos));
    const uint8_t* rec = p + 4;
    uint32_t want = LE32(rec + n);
    uint32_t got = (uint32_t)crc32(kCrcSeed, rec, (uInt)n);
    if (want != got)
        return ctx_.Fail(pos + 4 + n, "bad CRC: the frame says %08X, its %zu-byte record gives %08X", want, n,
                         got);
    if (rec[n + 4] != 0x5A)
        return ctx_.Fail(pos + 8 + n, "expected the frame end 5A, found 0x%02X", rec[n + 4]);
    if (n < 5) return ctx_.Fail(pos + 2, "a record of %zu bytes is shorter than its 5-byte head", n);
    if (rec[0] != 0x05 || rec[2] != 0x03)
        return ctx_.Fail(pos + 4, "unexpected record head %s (expected 05 code 03)",
                         HexBytes(rec, 3).c_str());
    size_t plen = LE16(rec + 3);
    if (plen != n - 5)
        return ctx_.Fail(pos + 7,
                         "the record's payload length %zu disagrees with the frame length %zu (expected %zu)",
                         plen, n, n - 5);
    *next = pos + n + 9;
    return Record(pos, rec[1], rec + 5, plen);
}

bool PaperangDecoder::Record(size_t pos, uint8_t code, const uint8_t* payload, size_t plen) {
    auto needLen = [&](size_t want, const char* what) {
        if (plen == want) return true;
        return ctx_.Fail(pos + 7, "%s frame: payload of %zu bytes, expected %zu", what, plen, want);
    };
    switch (code) {
        case 0x19:
            if (!needLen(0, "start printing")) return false;
            if (pageOpen_)
                return ctx_.Fail(pos, "start printing inside page %zu: expected end printing (1A) first",
                                 PageNumber());
            pageOpen_ = true;
            ctx_.List(pos, "frame 0x19 start printing, CRC ok (page %zu begins)", PageNumber());
            return true;
        case 0x1A:
            if (!needLen(0, "end printing")) return false;
            if (!pageOpen_) return ctx_.Fail(pos, "end printing without start printing (19)");
            ctx_.List(pos, "frame 0x1A end printing, CRC ok");
            EndPage(pos, true);
            return true;
        case 0x16:
            if (!needLen(2, "feed")) return false;
            ctx_.List(pos, "frame 0x16 feed %u, CRC ok", LE16(payload));
            return true;
        case 0x21:
            if (!needLen(4, "paper locate")) return false;
            ctx_.List(pos, "frame 0x21 paper locate %u, CRC ok", LE32(payload));
            return true;
        case 0x1C: {
            if (!pageOpen_) return ctx_.Fail(pos, "Huffman tree frame outside start/end printing");
            size_t count = plen / 4;
            if (plen % 4 || count < 3 || count > (size_t)HfmDecoder::kMaxNodes || !(count & 1))
                return ctx_.Fail(pos + 9,
                                 "Huffman tree frame: %zu bytes cannot hold two traversals of an odd node "
                                 "count from 3 to %d",
                                 plen, HfmDecoder::kMaxNodes);
            if (!tree_.BuildFromPayload(payload, (int)plen))
                return ctx_.Fail(
                    pos + 9,
                    "Huffman tree frame: the pre-order and in-order lists of %zu nodes do not describe "
                    "one code tree (distinct symbols, leaves below 256, every internal node with two "
                    "children)",
                    count);
            ctx_.List(pos, "frame 0x1C Huffman tree, %zu nodes, CRC ok", count);
            return true;
        }
        case 0x1B:
            return Bitmap(pos, payload, plen);
        default:
            return ctx_.Fail(pos + 5, "unknown command code 0x%02X in a frame", code);
    }
}

bool PaperangDecoder::Bitmap(size_t pos, const uint8_t* payload, size_t plen) {
    if (!pageOpen_) return ctx_.Fail(pos, "bitmap frame outside start/end printing");
    if (plen < 12)
        return ctx_.Fail(pos + 7, "bitmap frame: payload of %zu bytes is shorter than its 12-byte header",
                         plen);
    size_t index = LE16(payload), follow = LE16(payload + 2), rowBytes = LE16(payload + 5),
           d = LE16(payload + 10);
    bool coded = payload[9] != 0;
    const size_t hdr = pos + 9;  // offset of the bitmap header in the stream
    if (d + 12 != plen)
        return ctx_.Fail(hdr + 10,
                         "bitmap frame: data length %zu disagrees with the payload length %zu (expected %zu)",
                         d, plen, plen - 12);
    if (follow != d + 8)
        return ctx_.Fail(hdr + 2, "bitmap frame: length field %zu, expected %zu (data length + 8)", follow,
                         d + 8);
    if (payload[9] > 1)
        return ctx_.Fail(hdr + 9, "bitmap frame: coding flag 0x%02X (expected 00 or 01)", payload[9]);
    if (index != nextChunk_)
        return ctx_.Fail(hdr, "bitmap frame: chunk index %zu, expected %zu", index, nextChunk_);
    if (rowBytes == 0 || rowBytes * 8 > (size_t)kPreviewMaxDots)
        return ctx_.Fail(hdr + 5, "bitmap frame: row width of %zu bytes is out of range", rowBytes);
    if (rowBytes_ && rowBytes != rowBytes_)
        return ctx_.Fail(hdr + 5, "bitmap frame: row width %zu bytes, the page's earlier chunks had %zu",
                         rowBytes, rowBytes_);
    rowBytes_ = rowBytes;
    const uint8_t* data = payload + 12;
    size_t maxRows = kPreviewMaxPageBytes / rowBytes;
    if (maxRows > (size_t)kPreviewMaxDots) maxRows = kPreviewMaxDots;
    size_t room = maxRows * rowBytes - rows_.size();
    size_t before = rows_.size();
    if (coded) {
        if (!tree_.IsValid())
            return ctx_.Fail(hdr, "bitmap frame: Huffman-coded chunk %zu before any tree frame", index);
        if (d < 1) return ctx_.Fail(hdr + 10, "bitmap frame: a coded chunk needs at least its padding byte");
        if (data[0] > 7)
            return ctx_.Fail(hdr + 12, "bitmap chunk %zu: %u padding bits (expected 0-7)", index,
                             (unsigned)data[0]);
        int count = tree_.DecodeChunk(data, (int)d, nullptr, 0);
        if (count < 0) return ctx_.Fail(hdr + 12, "bitmap chunk %zu: the code bits end inside a code", index);
        if ((size_t)count > room)
            return ctx_.Fail(hdr + 12, "bitmap chunk %zu: the page grows beyond the largest page", index);
        rows_.resize(before + (size_t)count);
        tree_.DecodeChunk(data, (int)d, rows_.data() + before, count);
    } else {
        if (d > room)
            return ctx_.Fail(hdr + 12, "bitmap chunk %zu: the page grows beyond the largest page", index);
        rows_.insert(rows_.end(), data, data + d);
    }
    size_t produced = rows_.size() - before;
    if (produced % rowBytes) {
        rows_.resize(before);
        return ctx_.Fail(hdr + 12, "bitmap chunk %zu decodes to %zu bytes, not whole rows of %zu", index,
                         produced, rowBytes);
    }
    nextChunk_++;
    ctx_.List(pos, "frame 0x1B bitmap chunk %zu, %zu bytes, CRC ok (%s, %zu row%s)", index, d,
              coded ? "Huffman" : "raw", produced / rowBytes, produced == rowBytes ? "" : "s");
    return true;
}

bool IsPaperang(const uint8_t* data, size_t len) {
    return StartsWith(data, len, {0xA5, 0x01});
}

bool DecodePaperang(DecodeContext& ctx) {
    PaperangDecoder d(ctx);
    return d.Run();
}

}  // namespace

extern const PreviewDecoder kDfPaperangDecoder = {IsPaperang, DecodePaperang};
