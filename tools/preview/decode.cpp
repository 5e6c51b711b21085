// The preview decoder's front: family detection and names, the decode
// context (listing, faults, pages) and the dispatch to the family decoders.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include <memory>
#include <string>
#include <vector>

#include "printers/families.h"
#include "tools/preview/decode_internal.h"
#include "tools/preview/vprinter.h"

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
    // A stream of one-byte commands would otherwise list millions of lines.
    if (result->listing.size() >= kPreviewMaxListing) {
        if (result->listing.size() == kPreviewMaxListing)
            result->listing.push_back(PreviewLine{
                offset,
                Printf("... the listing stops after %zu lines; decoding goes on", kPreviewMaxListing)});
        return;
    }
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

bool DecodeContext::AddPage(PreviewPage&& page, size_t offset) {
    if (result->pages.size() >= kPreviewMaxPages)
        return Fail(offset, "page %zu: a stream may hold at most %zu pages; decoding stops here",
                    result->pages.size() + 1, kPreviewMaxPages);
    if (page.bits.size() > kPreviewMaxJobPageBytes - pageBytes)
        return Fail(offset, "page %zu: the stream's pages take more than %zu MiB; decoding stops here",
                    result->pages.size() + 1, kPreviewMaxJobPageBytes >> 20);
    pageBytes += page.bits.size();
    result->pages.push_back(std::move(page));
    const PreviewPage& p = result->pages.back();
    List(offset, "-- page %zu%s: %d x %d dots%s", result->pages.size(), p.complete ? "" : " (unfinished)",
         p.width, p.height, p.dpi ? Printf(" at %d dpi", p.dpi).c_str() : "");
    return true;
}

bool DecodeContext::Grow(PreviewPage* page, int64_t width, int64_t height, size_t pos) {
    if (width > page->width && (uint64_t)(width + 7) / 8 != page->rowBytes) {
        const size_t cost = page->bits.size();
        if (cost > kPreviewMaxWidenBytes - widenedBytes)
            return Fail(pos, "page %zu is widened too often (%zu MiB copied); decoding stops here",
                        result->pages.size() + 1, kPreviewMaxWidenBytes >> 20);
        widenedBytes += cost;
    }
    return PageGrow(page, width, height);
}

bool DecodeContext::StatusQuery(size_t pos, size_t* next) {
    size_t n = 0;
    if (MatchStatusQuery(data + pos, Left(pos), &n) != QueryMatch::Query) return false;
    List(pos, "status query %s (answered by the printer; prints nothing)", HexBytes(data + pos, n).c_str());
    *next = pos + n;
    return true;
}

// Each family's decoder, kDf<Family>Decoder from its decode_<family>.cpp,
// declared by the family list.
#define DF_DECLARE_DECODER(name) extern const PreviewDecoder name##Decoder;
DF_FAMILY_LIST(DF_DECLARE_DECODER)

namespace {

struct Entry {
    const DfFamily* family;
    const PreviewDecoder* decoder;
};

// The family list's decoders and those registered at run time.
std::vector<Entry>& Decoders() {
#define DF_DECODER_ENTRY(name) {&name, &name##Decoder},
    static std::vector<Entry> list = {DF_FAMILY_LIST(DF_DECODER_ENTRY)};
    return list;
}

const Entry* Find(PreviewFamily family) {
    for (const Entry& e : Decoders())
        if (PreviewFamilyOf(*e.family) == family) return &e;
    return nullptr;
}

// The family whose descriptor or drivers TEXT names; nullptr for none.
const DfFamily* Named(const char* text) {
    for (const Entry& e : Decoders()) {
        const DfFamily& f = *e.family;
        if (std::to_string(f.modelNumber) == text || !strcasecmp(text, f.name) ||
            !strcasecmp(text, PreviewFamilyKey(f).c_str()))
            return &f;
    }
    // Driver names such as escpos-58 or tspl-203: the family before the dash.
    if (const char* dash = strchr(text, '-')) {
        const std::string key(text, dash);
        for (const Entry& e : Decoders())
            if (!strcasecmp(key.c_str(), PreviewFamilyKey(*e.family).c_str())) return e.family;
    }
    return nullptr;
}

}  // namespace

bool RegisterPreviewDecoder(const DfFamily& family, const PreviewDecoder& decoder) {
    if (Find(PreviewFamilyOf(family)) || !decoder.decode) return false;
    static std::vector<std::unique_ptr<PreviewDecoder>> kept;
    kept.push_back(std::make_unique<PreviewDecoder>(decoder));
    Decoders().push_back({&family, kept.back().get()});
    return true;
}

std::vector<const DfFamily*> PreviewFamilies() {
    std::vector<const DfFamily*> families;
    for (const Entry& e : Decoders()) families.push_back(e.family);
    std::sort(families.begin(), families.end(),
              [](const DfFamily* a, const DfFamily* b) { return a->modelNumber < b->modelNumber; });
    return families;
}

const PreviewDecoder* FindPreviewDecoder(PreviewFamily family) {
    const Entry* e = Find(family);
    return e ? e->decoder : nullptr;
}

// What its drivers' names begin with: "escpos" of escpos-58.
std::string PreviewFamilyKey(const DfFamily& family) {
    std::string key = family.drivers.empty() ? family.name : family.drivers[0].name;
    key = key.substr(0, key.find('-'));
    for (char& c : key) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return key;
}

std::string PreviewModelNames() {
    std::string names;
    for (const DfFamily* f : PreviewFamilies())
        names +=
            (names.empty() ? "" : ", ") + std::to_string(f->modelNumber) + " (" + PreviewFamilyKey(*f) + ")";
    return names;
}

const char* FamilyName(PreviewFamily family) {
    const Entry* e = Find(family);
    return e ? e->family->name : "unknown";
}

PreviewFamily ParseFamily(const char* text) {
    const DfFamily* f = text ? Named(text) : nullptr;
    return f ? PreviewFamilyOf(*f) : PreviewFamily::Unknown;
}

// Detection asks the families in model number order; their detections do
// not overlap, so the order does not decide.
PreviewFamily DetectFamily(const uint8_t* data, size_t len) {
    if (!data || !len) return PreviewFamily::Unknown;
    // A job may open with status queries; the family shows after them.
    size_t n = 0;
    while (len && MatchStatusQuery(data, len, &n) == QueryMatch::Query) {
        data += n;
        len -= n;
    }
    if (!len) return PreviewFamily::Unknown;
    for (const DfFamily* f : PreviewFamilies()) {
        const PreviewDecoder* d = FindPreviewDecoder(PreviewFamilyOf(*f));
        if (d->detect && d->detect(data, len)) return PreviewFamilyOf(*f);
    }
    return PreviewFamily::Unknown;
}

int FamilyHeadDots(PreviewFamily family) {
    const DfFamily* f = DfFindFamily(static_cast<int>(family));
    int dots = 0;
    for (size_t i = 0; f && i < f->drivers.size(); i++) {
        if (i && f->drivers[i].headDots != dots) return 0;
        dots = f->drivers[i].headDots;
    }
    return dots;
}

int ParseHeadDots(const char* text) {
    if (!text) return 0;
    for (const DfFamily* f : DfFamilies())
        for (const DfDriver& d : f->drivers)
            if (!strcasecmp(text, d.name)) return d.headDots;
    return strchr(text, '-') ? 0 : FamilyHeadDots(ParseFamily(text));
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
            return ctx.Fail(0,
                            "cannot tell the printer family from the first bytes (%s); name it with --model",
                            HexBytes(data, len).c_str());
    }
    const PreviewDecoder* decoder = FindPreviewDecoder(family);
    if (!decoder) return ctx.Fail(0, "unknown printer family");
    result->family = family;
    return decoder->decode(ctx);
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
        if (s[i] < 0x20 || s[i] > 0x7E)
            return Fail(pos + i, "unknown command: byte 0x%02X in a command line", s[i]);
    line->assign((const char*)s, n);
    return true;
}
