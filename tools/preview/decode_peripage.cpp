// PeriPage decoding for the preview: the vendor commands around the ESC/POS
// core (start and end of print, media, speed, density, beeps) and the
// compressed bitmap frame 1F 00: bytes per row, rows and length, all
// big-endian, then raw deflate data (the zlib header is not sent) followed
// by the Adler-32 of the rows, big-endian. The rows carry 1 = black.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "tools/preview/escpos_decoder.h"

static bool Match(const uint8_t* p, size_t left, std::initializer_list<uint8_t> bytes) {
    return left >= bytes.size() && std::equal(bytes.begin(), bytes.end(), p);
}

bool EscPosDecoder::PeriPageCommand(size_t pos, size_t* next, bool* handled) {
    const uint8_t* p = ctx_.data + pos;
    size_t left = ctx_.Left(pos);
    *handled = true;
    if (p[0] == 0x10) {
        if (!ctx_.Need(pos, 4, "10 FF command")) return false;
        if (Match(p, left, {0x10, 0xFF, 0xFE, 0x01})) {
            if (pageOpen_ && bands_)
                return ctx_.Fail(pos, "start of print 10 FF FE 01 inside page %zu: expected the end of print 10 FF FE 45 first",
                                 ctx_.result->pages.size() + 1);
            pageOpen_ = true;
            ctx_.List(pos, "10 FF FE 01 (start of print; page %zu begins)", ctx_.result->pages.size() + 1);
            *next = pos + 4;
            return true;
        }
        if (Match(p, left, {0x10, 0xFF, 0xFE, 0x45})) {
            ctx_.List(pos, "10 FF FE 45 (end of print)");
            EndPage(pos, true);
            *next = pos + 4;
            return true;
        }
        if (Match(p, left, {0x10, 0xFF, 0x10, 0x03})) {
            if (!ctx_.Need(pos, 5, "media command 10 FF 10 03")) return false;
            static const char* const kMedia[] = {"black line", "continuous", "gap labels", "perforated"};
            if (p[4] > 3) return ctx_.Fail(pos + 4, "media command: unknown media 0x%02X (expected 0-3)", p[4]);
            ctx_.List(pos, "10 FF 10 03 %02X (media: %s)", p[4], kMedia[p[4]]);
            *next = pos + 5;
            return true;
        }
        if (Match(p, left, {0x10, 0xFF, 0x10, 0x00})) {
            if (!ctx_.Need(pos, 5, "density command 10 FF 10 00")) return false;
            ctx_.List(pos, "10 FF 10 00 %02X (density %d of 0-5)", p[4], p[4]);
            *next = pos + 5;
            return true;
        }
        return ctx_.Fail(pos, "unknown command %s", HexBytes(p, left, 5).c_str());
    }
    if (p[0] == 0x1F) {
        if (!ctx_.Need(pos, 2, "1F command")) return false;
        if (p[1] == 0x00) return DeflateFrame(pos, next);
        if (p[1] == 0x1E) {
            if (!ctx_.Need(pos, 5, "1F 1E 1C command")) return false;
            if (p[2] == 0x1C && p[3] == 0x03) {
                ctx_.List(pos, "1F 1E 1C 03 %02X (speed %d)", p[4], p[4]);
                *next = pos + 5;
                return true;
            }
            if (p[2] == 0x1C && p[3] == 0x02) {
                ctx_.List(pos, "1F 1E 1C 02 %02X (density %d of 0-15)", p[4], p[4]);
                *next = pos + 5;
                return true;
            }
        } else if (p[1] == 0x1B) {
            if (!ctx_.Need(pos, 8, "beep command 1F 1B 1F 56")) return false;
            if (Match(p, left, {0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0}) && (p[7] == 0x22 || p[7] == 0x99)) {
                ctx_.List(pos, "beep (%s)", p[7] == 0x22 ? "start" : "end");
                *next = pos + 8;
                return true;
            }
        }
        return ctx_.Fail(pos, "unknown command %s", HexBytes(p, left, 8).c_str());
    }
    *handled = false;
    return true;
}

bool EscPosDecoder::DeflateFrame(size_t pos, size_t* next) {
    if (!ctx_.Need(pos, 10, "compressed bitmap frame header 1F 00")) return false;
    const uint8_t* p = ctx_.data + pos;
    size_t rowBytes = BE16(p + 2), rows = BE16(p + 4);
    size_t n = BE32(p + 6);
    if (!PageSizeOk((int64_t)rowBytes * 8, (int64_t)rows))
        return ctx_.Fail(pos + 2, "compressed bitmap frame: %zu bytes x %zu rows is larger than a page may be", rowBytes,
                         rows);
    if (n > ctx_.Left(pos + 10))
        return ctx_.Fail(pos + 6, "compressed bitmap frame: the length field announces %zu bytes, only %zu follow", n,
                         ctx_.Left(pos + 10));
    if (n < 4)
        return ctx_.Fail(pos + 6, "compressed bitmap frame: length %zu leaves no room for the Adler-32 of the rows", n);
    const uint8_t* z = p + 10;
    size_t zlen = n - 4;
    size_t raw = rowBytes * rows;
    if (!InflateRatioPlausible(zlen, raw))
        return ctx_.Fail(pos + 2, "compressed bitmap frame: %zu deflate bytes cannot hold %zu bytes x %zu rows", zlen,
                         rowBytes, rows);
    std::vector<uint8_t> out;
    std::string why;
    // Raw inflation with the largest window reads any window size the
    // sender chose; the Adler-32 is then checked by hand.
    if (!InflateExact(z, zlen, -15, raw, &out, &why))
        return ctx_.Fail(pos + 10, "compressed bitmap frame data: %s", why.c_str());
    uint32_t want = BE32(z + zlen);
    uint32_t got = (uint32_t)adler32(adler32(0L, Z_NULL, 0), out.data(), (uInt)out.size());
    if (want != got)
        return ctx_.Fail(pos + 10 + zlen, "compressed bitmap frame: bad Adler-32: the frame says %08X, the rows give %08X",
                         want, got);
    std::string where;
    if (!AddBand(pos, out.data(), rowBytes, rows, &where)) return false;
    ctx_.List(pos, "1F 00 compressed bitmap, %zu bytes x %zu rows (deflate, %zu bytes -> %zu, Adler-32 ok)%s",
              rowBytes, rows, zlen, raw, where.c_str());
    *next = pos + 10 + n;
    return true;
}

namespace {

bool IsPeriPage(const uint8_t* data, size_t len) {
    const uint8_t* p = SkipDrawerPulses(data, &len);
    return StartsWith(p, len, {0x10, 0xFF}) || StartsWith(p, len, {0x1F, 0x1B}) ||
           StartsWith(p, len, {0x1F, 0x1E}) || StartsWith(p, len, {0x1F, 0x00});
}

bool DecodePeriPage(DecodeContext& ctx) {
    EscPosDecoder d(ctx, true);
    return d.Run();
}

}  // namespace

extern const PreviewDecoder kDfPeripageDecoder = {IsPeriPage, DecodePeriPage};
