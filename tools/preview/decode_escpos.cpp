// ESC/POS decoding for the preview: reset, alignment, feeds, cuts, drawer
// pulses and GS v 0 raster images (1 bit = black).
#include "tools/preview/escpos_decoder.h"

bool EscPosDecoder::Run() {
    size_t pos = 0;
    bool ok = true;
    while (pos < ctx_.len) {
        size_t next = pos;
        if (!ctx_.StatusQuery(pos, &next) && (!Command(pos, &next) || !ctx_.result->ok)) {
            ok = false;
            break;
        }
        pos = next;
    }
    if (ok) {
        if (peri_ && pageOpen_) {
            ok = ctx_.Fail(ctx_.len, "the stream ends inside page %zu: expected the end of print 10 FF FE 45",
                           ctx_.result->pages.size() + 1);
        } else {
            if (bands_) EndPage(ctx_.len, true);
            return ctx_.result->ok;
        }
    }
    if (bands_) EndPage(pos, false);
    return false;
}

void EscPosDecoder::EndPage(size_t pos, bool complete) {
    page_.complete = complete;
    // The printer places a narrower bitmap in the middle of its head.
    const int head = ctx_.headDots;
    if (head > 0 && align_ == 1 && page_.width > 0 && page_.width < head && page_.height > 0) {
        PreviewPage wide;
        wide.dpi = page_.dpi;
        wide.complete = page_.complete;
        PageResize(&wide, head, page_.height);
        PageBlit(&wide, (head - page_.width) / 2, 0, page_.bits.data(), page_.rowBytes, (size_t)page_.height,
                 false, BlitOp::Overwrite);
        page_ = std::move(wide);
    }
    ctx_.AddPage(std::move(page_), pos);
    page_ = PreviewPage();
    nextRow_ = 0;
    pendingFeed_ = 0;
    bands_ = 0;
    pageOpen_ = false;
}

bool EscPosDecoder::AddBand(size_t pos, const uint8_t* rows, size_t rowBytes, size_t count,
                            std::string* where) {
    int64_t top = nextRow_ + (bands_ ? pendingFeed_ : 0);
    if (!ctx_.Grow(&page_, (int64_t)rowBytes * 8, top + (int64_t)count, pos))
        return ctx_.Fail(pos, "the page grows to %zu x %lld dots, beyond the largest page (%s)", rowBytes * 8,
                         (long long)(top + (int64_t)count), PreviewPageLimitText());
    PageBlit(&page_, 0, top, rows, rowBytes, count, false, BlitOp::Or);
    *where = bands_ ? Printf(", band %d at row %lld", bands_ + 1, (long long)top) : std::string();
    nextRow_ = top + (int64_t)count;
    pendingFeed_ = 0;
    bands_++;
    pageOpen_ = true;
    return true;
}

bool EscPosDecoder::Raster(size_t pos, size_t* next) {
    if (!ctx_.Need(pos, 8, "GS v 0 raster header")) return false;
    const uint8_t* p = ctx_.data + pos;
    uint8_t m = p[3];
    size_t x = LE16(p + 4), y = LE16(p + 6);
    static const char* const kModes[] = {"normal", "double width", "double height", "quadruple"};
    int mode = m <= 3 ? m : (m >= 0x30 && m <= 0x33) ? m - 0x30 : -1;
    if (mode < 0) return ctx_.Fail(pos + 3, "GS v 0: unknown mode byte 0x%02X (expected 0-3)", m);
    if (x * 8 > (size_t)kPreviewMaxDots)
        return ctx_.Fail(pos + 4, "GS v 0: %zu bytes a row is wider than the largest page", x);
    if (!ctx_.Need(pos + 8, x * y, "GS v 0 raster data")) return false;
    std::string where;
    if (!AddBand(pos, p + 8, x, y, &where)) return false;
    ctx_.List(pos, "GS v 0 raster, mode %d (%s), %zu bytes x %zu rows%s", mode, kModes[mode], x, y,
              where.c_str());
    *next = pos + 8 + x * y;
    return true;
}

bool EscPosDecoder::Command(size_t pos, size_t* next) {
    const uint8_t* p = ctx_.data + pos;
    size_t left = ctx_.Left(pos);
    if (peri_) {
        bool handled = false;
        if (!PeriPageCommand(pos, next, &handled)) return false;
        if (handled) return true;
    }
    if (p[0] == 0x0A) {
        ctx_.List(pos, "LF (print and feed one line)");
        *next = pos + 1;
        return true;
    }
    if (p[0] == 0x1B) {
        if (!ctx_.Need(pos, 2, "ESC command")) return false;
        switch (p[1]) {
            case 0x40: {  // ESC @, sent with a trailing 00 by the renderers
                size_t n = left >= 3 && p[2] == 0x00 ? 3 : 2;
                if (!peri_ && bands_) EndPage(pos, true);
                align_ = 0;
                ctx_.List(pos, "ESC @%s (initialise%s)", n == 3 ? " 00" : "",
                          peri_ ? "" : Printf("; page %zu begins", ctx_.result->pages.size() + 1).c_str());
                *next = pos + n;
                return true;
            }
            case 0x61: {
                if (!ctx_.Need(pos, 3, "ESC a")) return false;
                static const char* const kAlign[] = {"left", "centre", "right"};
                int a = p[2] <= 2 ? p[2] : (p[2] >= 0x30 && p[2] <= 0x32) ? p[2] - 0x30 : -1;
                if (a < 0) return ctx_.Fail(pos + 2, "ESC a: unknown alignment 0x%02X", p[2]);
                ctx_.List(pos, "ESC a %d (%s)", p[2], kAlign[a]);
                align_ = a;
                *next = pos + 3;
                return true;
            }
            case 0x4A:
                if (!ctx_.Need(pos, 3, "ESC J")) return false;
                ctx_.List(pos, "ESC J %d (feed %d dots)", p[2], p[2]);
                pendingFeed_ += p[2];
                *next = pos + 3;
                return true;
            case 0x64:
                if (!ctx_.Need(pos, 3, "ESC d")) return false;
                ctx_.List(pos, "ESC d %d (feed %d lines)", p[2], p[2]);
                *next = pos + 3;
                return true;
            case 0x70: {
                if (!ctx_.Need(pos, 5, "ESC p (drawer pulse)")) return false;
                int pin = (p[2] & 0x0F) == 0 ? 2 : (p[2] & 0x0F) == 1 ? 5 : -1;
                if (pin < 0) return ctx_.Fail(pos + 2, "ESC p: unknown drawer pin selector 0x%02X", p[2]);
                ctx_.List(pos, "drawer pulse pin %d (on %d ms, off %d ms)", pin, p[3] * 2, p[4] * 2);
                *next = pos + 5;
                return true;
            }
            default:
                break;
        }
        return ctx_.Fail(pos, "unknown command %s", HexBytes(p, left, 4).c_str());
    }
    if (p[0] == 0x1D) {
        if (!ctx_.Need(pos, 2, "GS command")) return false;
        if (p[1] == 0x76) {
            if (!ctx_.Need(pos, 3, "GS v")) return false;
            if (p[2] == 0x30) return Raster(pos, next);
        } else if (p[1] == 0x56) {
            if (!ctx_.Need(pos, 3, "GS V (cut)")) return false;
            uint8_t m = p[2];
            if (m == 0 || m == 0x30 || m == 1 || m == 0x31) {
                ctx_.List(pos, "GS V %d (%s cut)", m, (m & 1) ? "partial" : "full");
                *next = pos + 3;
                return true;
            }
            if (m == 65 || m == 66) {
                if (!ctx_.Need(pos, 4, "GS V (feed and cut)")) return false;
                ctx_.List(pos, "GS V %d %d (feed %d dots, %s cut)", m, p[3], p[3],
                          m == 65 ? "full" : "partial");
                *next = pos + 4;
                return true;
            }
            return ctx_.Fail(pos + 2, "GS V: unknown cut mode 0x%02X", m);
        } else if (p[1] == 0x0C) {
            ctx_.List(pos, "GS FF (feed to the next label or mark)");
            *next = pos + 2;
            return true;
        }
        return ctx_.Fail(pos, "unknown command %s", HexBytes(p, left, 4).c_str());
    }
    return ctx_.Fail(pos, "unknown command byte 0x%02X (expected ESC, GS%s)", p[0],
                     peri_ ? ", 10 or 1F" : " or LF");
}

const uint8_t* SkipDrawerPulses(const uint8_t* p, size_t* n) {
    while (*n >= 5 && p[0] == 0x1B && p[1] == 0x70) {
        p += 5;
        *n -= 5;
    }
    return p;
}

namespace {

bool IsEscPos(const uint8_t* data, size_t len) {
    const uint8_t* p = SkipDrawerPulses(data, &len);
    if (p != data && len == 0) return true;  // nothing but drawer pulses
    return StartsWith(p, len, {0x1B, 0x40}) || StartsWith(p, len, {0x1B, 0x61}) ||
           StartsWith(p, len, {0x1D, 0x76, 0x30});
}

bool DecodeEscPos(DecodeContext& ctx) {
    EscPosDecoder d(ctx, false);
    return d.Run();
}

}  // namespace

extern const PreviewDecoder kDfEscposDecoder = {IsEscPos, DecodeEscPos};
