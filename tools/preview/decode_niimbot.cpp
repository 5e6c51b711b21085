// Niimbot decoding for the preview: packets 55 55 CMD LEN DATA XOR AA AA
// (a single 03 before connect), each listed; a page runs from page start to
// page end, sized by the page size packet (rows, head dots), and is drawn
// from the bitmap (85), empty (84) and indexed (83) row packets with their
// repeat counts. Pages are drawn as the head prints them: a D11's label
// comes out turned a quarter.
#include "printers/niimbot_packet.h"
#include "tools/preview/decode_internal.h"

namespace {

const char* Name(uint8_t cmd) {
    const char* name = DfNiimbotCommandName(cmd);
    return name ? name : "command";
}

class NiimbotDecoder {
public:
    explicit NiimbotDecoder(DecodeContext& ctx) : ctx_(ctx) {}

    bool Run() {
        size_t pos = 0;
        while (pos < ctx_.len) {
            const uint8_t* p = ctx_.data + pos;
            if (p[0] == 0x03 && ctx_.Left(pos) >= 4 && p[1] == 0x55 && p[2] == 0x55 &&
                p[3] == niim::kConnect) {
                pos++;  // the connect packet's prefix
                continue;
            }
            if (!ctx_.Need(pos, 4, "packet head 55 55 CMD LEN")) return EndAll(pos);
            if (p[0] != 0x55 || p[1] != 0x55) {
                ctx_.Fail(pos, "expected a packet (55 55), found %s", HexBytes(p, ctx_.Left(pos)).c_str());
                return EndAll(pos);
            }
            const size_t n = p[3];
            if (!ctx_.Need(pos, n + 7, "packet")) return EndAll(pos);
            uint8_t x = p[2] ^ p[3];
            for (size_t i = 0; i < n; i++) x ^= p[4 + i];
            if (x != p[4 + n]) {
                ctx_.Fail(pos + 4 + n, "packet 0x%02X: checksum %02X, its bytes give %02X", p[2], p[4 + n],
                          x);
                return EndAll(pos);
            }
            if (p[5 + n] != 0xAA || p[6 + n] != 0xAA) {
                ctx_.Fail(pos + 5 + n, "packet 0x%02X: expected the end AA AA, found %s", p[2],
                          HexBytes(p + 5 + n, 2).c_str());
                return EndAll(pos);
            }
            if (!Packet(pos, p[2], p + 4, n)) return EndAll(pos);
            pos += n + 7;
        }
        return EndAll(pos);
    }

private:
    // The page in progress goes into the result unfinished.
    bool EndAll(size_t pos) {
        if (open_) {
            page_.complete = false;
            open_ = false;
            ctx_.AddPage(std::move(page_), pos);
        }
        return ctx_.result->ok;
    }

    bool Rows(size_t pos, const uint8_t* d, size_t n, uint8_t cmd) {
        if (!open_ || page_.width == 0)
            return ctx_.Fail(
                pos, "row packet 0x%02X outside a sized page (page start and page size come first)", cmd);
        const size_t head = cmd == niim::kRowEmpty ? 3 : 6;
        if (n < head)
            return ctx_.Fail(pos, "row packet 0x%02X: %zu bytes, expected at least %zu", cmd, n, head);
        const int row = BE16(d);
        const int repeat = d[head - 1];
        if (repeat == 0 || row + repeat > page_.height)
            return ctx_.Fail(pos, "row packet 0x%02X: rows %d-%d, the page has %d", cmd, row,
                             row + repeat - 1, page_.height);
        std::vector<uint8_t> line(page_.rowBytes, 0);
        if (cmd == niim::kRowBitmap) {
            if (n - head > page_.rowBytes)
                return ctx_.Fail(pos, "bitmap row: %zu bytes, the page's rows have %zu", n - head,
                                 page_.rowBytes);
            std::copy(d + head, d + n, line.begin());
            ctx_.List(pos, "85 bitmap row %d x%d, %zu bytes (dots %d %d %d)", row, repeat, n - head, d[2],
                      d[3], d[4]);
        } else if (cmd == niim::kRowIndexed) {
            if ((n - head) % 2) return ctx_.Fail(pos, "indexed row: an odd count of index bytes");
            for (size_t i = head; i < n; i += 2) {
                const int x = BE16(d + i);
                if (x >= page_.width)
                    return ctx_.Fail(pos, "indexed row: dot %d, the page is %d wide", x, page_.width);
                line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            }
            ctx_.List(pos, "83 indexed row %d x%d, %zu dots", row, repeat, (n - head) / 2);
        } else {
            ctx_.List(pos, "84 empty row %d x%d", row, repeat);
        }
        // The bits after the last dot stay 0.
        if (page_.width % 8) line[page_.rowBytes - 1] &= static_cast<uint8_t>(0xFF << (8 - page_.width % 8));
        for (int r = row; r < row + repeat; r++)
            std::copy(line.begin(), line.end(), page_.bits.begin() + static_cast<long>(r * page_.rowBytes));
        return true;
    }

    bool Packet(size_t pos, uint8_t cmd, const uint8_t* d, size_t n) {
        const std::string data = HexBytes(d, n);
        switch (cmd) {
            case niim::kRowBitmap:
            case niim::kRowEmpty:
            case niim::kRowIndexed:
                return Rows(pos, d, n, cmd);
            case niim::kPageStart:
                if (open_) return ctx_.Fail(pos, "page start inside page %zu", ctx_.result->pages.size() + 1);
                open_ = true;
                page_ = PreviewPage();
                page_.dpi = 203;
                ctx_.List(pos, "03 page start (page %zu begins)", ctx_.result->pages.size() + 1);
                return true;
            case niim::kSetPageSize: {
                if (!open_) return ctx_.Fail(pos, "page size outside a page (after page start only)");
                if (n != 2 && n != 4 && n != 6 && n != 9 && n != 13)
                    return ctx_.Fail(pos, "page size: %zu bytes, expected 2, 4, 6, 9 or 13", n);
                const int rows = BE16(d), cols = n >= 4 ? BE16(d + 2) : ctx_.headDots;
                if (cols <= 0) return ctx_.Fail(pos, "page size without a width: name the head with --head");
                if (!PageSizeOk(cols, rows))
                    return ctx_.Fail(pos, "page size %d x %d: beyond the limits", cols, rows);
                page_.width = cols;
                page_.height = rows;
                page_.rowBytes = (static_cast<size_t>(cols) + 7) / 8;
                page_.bits.assign(page_.rowBytes * static_cast<size_t>(rows), 0);
                ctx_.List(pos, "13 page size: %d rows of %d dots%s", rows, cols,
                          n >= 6 ? Printf(", %d copies", BE16(d + 4)).c_str() : "");
                return true;
            }
            case niim::kPageEnd:
                if (!open_) return ctx_.Fail(pos, "page end without a page start");
                open_ = false;
                ctx_.List(pos, "E3 page end");
                return ctx_.AddPage(std::move(page_), pos);
            default:
                ctx_.List(pos, "%02X %s%s%s", cmd, Name(cmd), n ? ": " : "", data.c_str());
                return true;
        }
    }

    DecodeContext& ctx_;
    PreviewPage page_;
    bool open_ = false;
};

// 55 55, or the connect packet's 03 before it.
bool IsNiimbot(const uint8_t* data, size_t len) {
    return StartsWith(data, len, {0x55, 0x55}) || StartsWith(data, len, {0x03, 0x55, 0x55});
}

bool DecodeNiimbot(DecodeContext& ctx) {
    NiimbotDecoder d(ctx);
    return d.Run();
}

}  // namespace

extern const PreviewDecoder kDfNiimbotDecoder = {IsNiimbot, DecodeNiimbot};
