// Cat printer decoding for the preview: frames 51 78 CMD DIR LEN(2, LE)
// DATA CRC8 FF, each listed. A page runs from lattice start to lattice end;
// its rows are the row frames (A2: first dot in the low bit; BF: runs of
// (colour << 7 | length)), as wide as the head (384 dots unless --head says
// otherwise). Blank rows outside a lattice are paper feed; a feed command
// (A1) is listed.
#include "printers/cat_packet.h"
#include "printers/headrow.h"
#include "tools/preview/decode_internal.h"

namespace {

class CatDecoder {
public:
    explicit CatDecoder(DecodeContext& ctx) : ctx_(ctx), width_(ctx.headDots > 0 ? ctx.headDots : 384) {}

    bool Run() {
        size_t pos = 0;
        while (pos < ctx_.len) {
            const uint8_t* p = ctx_.data + pos;
            if (!ctx_.Need(pos, 6, "frame head 51 78 CMD DIR LEN")) return End(pos);
            if (p[0] != 0x51 || p[1] != 0x78) {
                ctx_.Fail(pos, "expected a frame (51 78), found %s", HexBytes(p, ctx_.Left(pos)).c_str());
                return End(pos);
            }
            const size_t n = LE16(p + 4);
            if (!ctx_.Need(pos, n + 8, "frame")) return End(pos);
            const uint8_t crc = DfCatCrc8(p + 6, n);
            if (crc != p[6 + n]) {
                ctx_.Fail(pos + 6 + n, "frame 0x%02X: CRC %02X, its data give %02X", p[2], p[6 + n], crc);
                return End(pos);
            }
            if (p[7 + n] != 0xFF) {
                ctx_.Fail(pos + 7 + n, "frame 0x%02X: expected the end FF, found %02X", p[2], p[7 + n]);
                return End(pos);
            }
            if (!Frame(pos, p[2], p + 6, n)) return End(pos);
            pos += n + 8;
        }
        return End(pos);
    }

private:
    bool End(size_t pos) {
        if (open_) {
            open_ = false;
            page_.complete = false;
            ctx_.AddPage(std::move(page_), pos);
        }
        return ctx_.result->ok;
    }

    void Open() {
        open_ = true;
        page_ = PreviewPage();
        page_.width = width_;
        page_.rowBytes = (static_cast<size_t>(width_) + 7) / 8;
        page_.dpi = 203;
    }

    bool AddRow(size_t pos, std::vector<uint8_t> row) {
        bool blank = true;
        for (uint8_t b : row) blank = blank && !b;
        if (!open_ && blank) {
            ctx_.List(pos, "blank row outside a page (paper feed)");
            return true;
        }
        if (!open_) Open();
        if (width_ % 8) row[page_.rowBytes - 1] &= static_cast<uint8_t>(0xFF << (8 - width_ % 8));
        if (!PageSizeOk(page_.width, static_cast<int64_t>(page_.height) + 1))
            return ctx_.Fail(pos, "page %zu is longer than a page may be", ctx_.result->pages.size() + 1);
        page_.bits.insert(page_.bits.end(), row.begin(), row.end());
        page_.height++;
        return true;
    }

    bool Frame(size_t pos, uint8_t cmd, const uint8_t* d, size_t n) {
        std::vector<uint8_t> row(page_.rowBytes ? page_.rowBytes : (static_cast<size_t>(width_) + 7) / 8, 0);
        switch (cmd) {
            case cat::kRow:
                if (n > row.size()) return ctx_.Fail(pos, "row: %zu bytes, the head has %zu", n, row.size());
                for (size_t i = 0; i < n; i++) row[i] = DfReverseBits(d[i]);
                return AddRow(pos, row);
            case cat::kRowRle: {
                size_t x = 0;
                for (size_t i = 0; i < n; i++) {
                    const size_t run = d[i] & 0x7F;
                    if (x + run > static_cast<size_t>(width_))
                        return ctx_.Fail(pos + 6 + i, "run-length row: %zu dots, the head has %d", x + run,
                                         width_);
                    if (d[i] & 0x80)
                        for (size_t k = x; k < x + run; k++)
                            row[k >> 3] |= static_cast<uint8_t>(0x80 >> (k & 7));
                    x += run;
                }
                return AddRow(pos, row);
            }
            case cat::kLattice:
                if (n == 11 && d[3] != 0) {
                    if (open_)
                        return ctx_.Fail(pos, "lattice start inside page %zu", ctx_.result->pages.size() + 1);
                    Open();
                    ctx_.List(pos, "A6 lattice start (page %zu begins)", ctx_.result->pages.size() + 1);
                    return true;
                }
                ctx_.List(pos, "A6 lattice end");
                if (!open_) return true;
                open_ = false;
                return ctx_.AddPage(std::move(page_), pos);
            case cat::kFeed:
                ctx_.List(pos, "A1 feed %d lines", n >= 2 ? LE16(d) : n ? d[0] : 0);
                return true;
            case cat::kQuality:
                ctx_.List(pos, "A4 quality %s", HexBytes(d, n).c_str());
                return true;
            case cat::kEnergy:
                ctx_.List(pos, "AF energy %s (0x%04X little-endian)", HexBytes(d, n).c_str(),
                          n >= 2 ? LE16(d) : 0);
                return true;
            case cat::kState:
                ctx_.List(pos, "A3 device state query (answered by the printer)");
                return true;
            default:
                ctx_.List(pos, "%02X frame%s%s", cmd, n ? ": " : "", HexBytes(d, n).c_str());
                return true;
        }
    }

    DecodeContext& ctx_;
    const int width_;
    PreviewPage page_;
    bool open_ = false;
};

bool IsCat(const uint8_t* data, size_t len) {
    return StartsWith(data, len, {0x51, 0x78});
}

bool DecodeCat(DecodeContext& ctx) {
    CatDecoder d(ctx);
    return d.Run();
}

}  // namespace

extern const PreviewDecoder kDfCatDecoder = {IsCat, DecodeCat};
