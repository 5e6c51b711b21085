// The preview decoder's front: family detection and names, the decode
// context (listing, faults, pages) and the dispatch to the family decoders.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "tools/preview/decode_internal.h"

std::string VPrintf(const char* format, va_list ap) {
    char small[256];
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(small, sizeof(small), format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if ((size_t)n < sizeof(small)) return std::string(small, (size_t)n);
    std::string s((size_t)n + 1, '\0');
    vsnprintf(&s[0], s.size(), format, ap);
    s.resize((size_t)n);
    return s;
}

std::string Printf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string s = VPrintf(format, ap);
    va_end(ap);
    return s;
}

std::string HexBytes(const uint8_t* p, size_t n, size_t max) {
    std::string s;
    for (size_t i = 0; i < n && i < max; i++) {
        char b[4];
        snprintf(b, sizeof(b), i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    if (n > max) s += " ...";
    return s;
}

void DecodeContext::List(size_t offset, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    result->listing.push_back(PreviewLine{offset, VPrintf(format, ap)});
    va_end(ap);
}

bool DecodeContext::Fail(size_t offset, const char* format, ...) {
    if (result->ok) {
        va_list ap;
        va_start(ap, format);
        result->error = VPrintf(format, ap);
        va_end(ap);
        result->errorOffset = offset;
        result->ok = false;
    }
    return false;
}

bool DecodeContext::Need(size_t pos, size_t n, const char* what) {
    if (Left(pos) >= n) return true;
    return Fail(pos, "%s: expected %zu bytes, the stream ends after %zu", what, n, Left(pos));
}

void DecodeContext::AddPage(PreviewPage&& page, size_t offset) {
    result->pages.push_back(std::move(page));
    const PreviewPage& p = result->pages.back();
    List(offset, "-- page %zu%s: %d x %d dots%s", result->pages.size(), p.complete ? "" : " (unfinished)", p.width,
         p.height, p.dpi ? Printf(" at %d dpi", p.dpi).c_str() : "");
}

const char* FamilyName(PreviewFamily family) {
    switch (family) {
    case PreviewFamily::TSPL: return "TSPL";
    case PreviewFamily::ESCPOS: return "ESC/POS";
    case PreviewFamily::CPCL: return "CPCL";
    case PreviewFamily::Paperang: return "Paperang";
    case PreviewFamily::PeriPage: return "PeriPage";
    default: return "unknown";
    }
}

PreviewFamily ParseFamily(const char* text) {
    static const struct {
        const char* number;
        const char* name;
        PreviewFamily family;
    } kNames[] = {
        {"20", "tspl", PreviewFamily::TSPL},         {"21", "escpos", PreviewFamily::ESCPOS},
        {"22", "cpcl", PreviewFamily::CPCL},         {"23", "paperang", PreviewFamily::Paperang},
        {"24", "peripage", PreviewFamily::PeriPage},
    };
    if (!text) return PreviewFamily::Unknown;
    for (const auto& n : kNames)
        if (!strcmp(text, n.number) || !strcasecmp(text, n.name)) return n.family;
    if (!strcasecmp(text, "esc/pos")) return PreviewFamily::ESCPOS;
    // PPD names such as escpos-58 or tspl-203: the family before the dash.
    if (const char* dash = strchr(text, '-')) {
        const std::string family(text, dash);
        for (const auto& n : kNames)
            if (!strcasecmp(family.c_str(), n.name)) return n.family;
    }
    return PreviewFamily::Unknown;
}

static bool StartsWith(const uint8_t* data, size_t len, std::initializer_list<uint8_t> prefix) {
    if (len < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), data);
}

PreviewFamily DetectFamily(const uint8_t* data, size_t len) {
    if (!data || !len) return PreviewFamily::Unknown;
    if (StartsWith(data, len, {0xA5, 0x01})) return PreviewFamily::Paperang;
    if (StartsWith(data, len, {'!', ' '})) return PreviewFamily::CPCL;
    // Both ESC/POS-like families may open with a drawer pulse (ESC p m t1 t2).
    const uint8_t* p = data;
    size_t n = len;
    while (n >= 5 && p[0] == 0x1B && p[1] == 0x70) {
        p += 5;
        n -= 5;
    }
    if (StartsWith(p, n, {0x10, 0xFF}) || StartsWith(p, n, {0x1F, 0x1B}) || StartsWith(p, n, {0x1F, 0x1E}) ||
        StartsWith(p, n, {0x1F, 0x00}))
        return PreviewFamily::PeriPage;
    if (StartsWith(p, n, {0x1B, 0x40}) || StartsWith(p, n, {0x1B, 0x61}) || StartsWith(p, n, {0x1D, 0x76, 0x30}))
        return PreviewFamily::ESCPOS;
    if (p != data && n == 0) return PreviewFamily::ESCPOS;  // nothing but drawer pulses
    // TSPL: a command word in capitals, then a space or the line end.
    size_t i = 0;
    while (i < len && i < 16 && data[i] >= 'A' && data[i] <= 'Z') i++;
    if (i >= 3 && i < len && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n')) return PreviewFamily::TSPL;
    return PreviewFamily::Unknown;
}

int ParseHeadDots(const char* text) {
    static const struct {
        const char* name;
        int dots;
    } kHeads[] = {{"escpos-58", 384}, {"escpos-80", 576}, {"peripage-57", 384}, {"peripage", 384},
                  {"24", 384},        {"paperang-57", 384}, {"paperang", 384},  {"23", 384}};
    if (!text) return 0;
    for (const auto& h : kHeads)
        if (!strcasecmp(text, h.name)) return h.dots;
    return 0;
}

bool DecodePrinterStream(const uint8_t* data, size_t len, PreviewFamily family, PreviewResult* result,
                         int headDots) {
    *result = PreviewResult();
    DecodeContext ctx(data, len, result);
    ctx.headDots = headDots > 0 && headDots <= kPreviewMaxDots ? headDots : 0;
    if (!data || !len) return ctx.Fail(0, "the stream is empty");
    if (family == PreviewFamily::Unknown) {
        family = DetectFamily(data, len);
        if (family == PreviewFamily::Unknown)
            return ctx.Fail(0, "cannot tell the printer family from the first bytes (%s); name it with --model",
                            HexBytes(data, len).c_str());
    }
    result->family = family;
    switch (family) {
    case PreviewFamily::TSPL: return DecodeTspl(ctx);
    case PreviewFamily::ESCPOS: return DecodeEscPos(ctx, false);
    case PreviewFamily::PeriPage: return DecodeEscPos(ctx, true);
    case PreviewFamily::CPCL: return DecodeCpcl(ctx);
    case PreviewFamily::Paperang: return DecodePaperang(ctx);
    default: return ctx.Fail(0, "unknown printer family");
    }
}

bool DecodeContext::CommandLine(size_t pos, size_t* next, std::string* line) {
    const uint8_t* s = data + pos;
    size_t left = Left(pos);
    size_t limit = left < 1024 ? left : 1024;
    const uint8_t* nl = (const uint8_t*)memchr(s, '\n', limit);
    if (!nl) {
        if (left < 1024)
            return Fail(pos, "command line \"%s\" is cut short: expected CR LF before the end of the stream",
                        HexBytes(s, left, 16).c_str());
        return Fail(pos, "expected a command line ending in CR LF within 1024 bytes");
    }
    size_t n = (size_t)(nl - s);
    *next = pos + n + 1;
    if (n && s[n - 1] == '\r') n--;
    for (size_t i = 0; i < n; i++)
        if (s[i] < 0x20 || s[i] > 0x7E) return Fail(pos + i, "unknown command: byte 0x%02X in a command line", s[i]);
    line->assign((const char*)s, n);
    return true;
}
