// TSPL decoding for the preview: text command lines ending in CR LF, with
// the binary data of BITMAP commands (mode 0-2 raw rows, 0 bit = black;
// mode 3 a zlib stream of the complemented rows, 1 bit = black).
//
// The image buffer works as on the printer: BITMAP draws into it, CLS clears
// it, and each PRINT shows its current content as one page. SOUND beeps.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tools/preview/decode_internal.h"

namespace {

enum class SizeUnit { Inch, Mm, Dot };

struct LabelSize {
    bool valid = false;
    double width = 0, height = 0;
    SizeUnit unit = SizeUnit::Inch;
};

// A cursor over the text of one command.
struct Text {
    const uint8_t* s;
    size_t n;
    size_t i = 0;

    void Spaces() {
        while (i < n && s[i] == ' ') i++;
    }
    bool Lit(const char* t) {
        size_t k = strlen(t);
        if (n - i < k || memcmp(s + i, t, k)) return false;
        i += k;
        return true;
    }
    bool Int(int64_t* v) {
        Spaces();
        bool neg = false;
        if (i < n && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
        size_t start = i;
        int64_t x = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            if (x > 999999999) return false;  // far beyond any sane field
            x = x * 10 + (s[i++] - '0');
        }
        if (i == start) return false;
        *v = neg ? -x : x;
        Spaces();
        return true;
    }
    bool Num(double* v) {
        Spaces();
        char buf[32];
        size_t k = 0;
        while (i < n && k + 1 < sizeof(buf) && ((s[i] >= '0' && s[i] <= '9') || s[i] == '.' || s[i] == '-'))
            buf[k++] = (char)s[i++];
        buf[k] = 0;
        if (!k) return false;
        char* end = nullptr;
        *v = strtod(buf, &end);
        Spaces();
        return end && *end == 0 && std::isfinite(*v);
    }
    bool Unit(SizeUnit* u) {
        if (Lit("mm"))
            *u = SizeUnit::Mm;
        else if (Lit("dot"))
            *u = SizeUnit::Dot;
        else
            *u = SizeUnit::Inch;
        Spaces();
        return true;
    }
    bool AtEnd() const { return i == n; }
};

class TsplDecoder {
public:
    explicit TsplDecoder(DecodeContext& ctx) : ctx_(ctx) {}
    bool Run();

private:
    bool Line(size_t pos, size_t* next);
    bool Bitmap(size_t pos, size_t* next);
    bool Size(Text& t, size_t pos);
    static const char* SetMeaning(const std::string& line);
    void Print(size_t pos, int64_t sets, int64_t copies);
    void FitToLabel(PreviewPage* page) const;

    DecodeContext& ctx_;
    PreviewPage canvas_;
    LabelSize size_;
    bool pageOpen_ = false;  // commands seen since the last PRINT
};

bool TsplDecoder::Run() {
    size_t pos = 0;
    bool ok = true;
    while (pos < ctx_.len) {
        size_t next = pos;
        bool isBitmap = ctx_.Left(pos) >= 7 && !memcmp(ctx_.data + pos, "BITMAP ", 7);
        if (!ctx_.StatusQuery(pos, &next) &&
            (!(isBitmap ? Bitmap(pos, &next) : Line(pos, &next)) || !ctx_.result->ok)) {
            ok = false;
            break;
        }
        pos = next;
    }
    if (ok && pageOpen_)
        ok = ctx_.Fail(ctx_.len, "the stream ends before PRINT: the last label is never printed");
    if (!ok && pageOpen_ && canvas_.width > 0 && canvas_.height > 0) {
        PreviewPage page = canvas_;
        page.complete = false;
        FitToLabel(&page);
        ctx_.AddPage(std::move(page), pos);
    }
    return ok;
}

bool TsplDecoder::Line(size_t pos, size_t* next) {
    std::string line;
    if (!ctx_.CommandLine(pos, next, &line)) return false;
    if (line.empty()) return true;  // an empty line does nothing
    const uint8_t* s = ctx_.data + pos;
    const size_t n = line.size();
    Text t{s, n};
    // SOUND is the app's Identify-Printer signal: a job of its own that
    // prints nothing, so it opens no label.
    if (t.Lit("SOUND ")) {
        int64_t level = 0, interval = 0;
        if (!t.Int(&level) || !t.Lit(",") || !t.Int(&interval) || !t.AtEnd() || level < 0 || interval < 0)
            return ctx_.Fail(pos, "SOUND: expected \"SOUND level,interval\", found \"%.40s\"", line.c_str());
        ctx_.List(pos, "%s (beep, level %lld, interval %lld)", line.c_str(), (long long)level,
                  (long long)interval);
        return true;
    }
    pageOpen_ = true;

    if (t.Lit("SIZE ")) return Size(t, pos);
    if (t.Lit("CLS")) {
        if (!t.AtEnd()) return ctx_.Fail(pos, "CLS takes no arguments");
        canvas_ = PreviewPage();
        ctx_.List(pos, "CLS (clear the image buffer)");
        return true;
    }
    if (t.Lit("PRINT ")) {
        int64_t sets = 0, copies = 1;
        if (!t.Int(&sets) || (t.Lit(",") && !t.Int(&copies)) || !t.AtEnd())
            return ctx_.Fail(pos, "PRINT: expected \"PRINT sets[,copies]\", found \"%s\"", line.c_str());
        ctx_.List(pos, "%s", line.c_str());
        Print(pos, sets, copies);
        return true;
    }
    static const char* const kSetup[] = {"GAP ",       "BLINE ",    "OFFSET ", "DENSITY ",
                                         "SPEED ",     "SET ",      "SHIFT ",  "DIRECTION ",
                                         "REFERENCE ", "CODEPAGE ", "FEED ",   "BACKFEED "};
    for (const char* k : kSetup)
        if (t.Lit(k)) {
            ctx_.List(pos, "%s%s", line.c_str(), SetMeaning(line));
            return true;
        }
    if (line == "HOME" || line == "FORMFEED") {
        ctx_.List(pos, "%s", line.c_str());
        return true;
    }
    return ctx_.Fail(pos, "unknown command \"%.40s\"", line.c_str());
}

// What the label mode lines do, for the listing; other lines explain
// themselves.
const char* TsplDecoder::SetMeaning(const std::string& line) {
    static const struct {
        const char* line;
        const char* meaning;
    } kMeanings[] = {
        {"SET TEAR ON", " (stop at the tear bar)"},
        {"SET TEAR OFF", " (stop at the print line)"},
        {"SET PEEL ON", " (peel-off: wait for the label to be taken)"},
        {"SET PEEL OFF", " (no peel-off)"},
        {"SET CUTTER OFF", " (no cut)"},
        {"SET CUTTER BATCH", " (cut once, after the last label of the job)"},
        {"SET CUTTER 1", " (cut after every label)"},
    };
    for (const auto& m : kMeanings)
        if (line == m.line) return m.meaning;
    if (line.compare(0, 11, "SET CUTTER ") == 0) return " (cut after every so many labels)";
    return "";
}

bool TsplDecoder::Size(Text& t, size_t pos) {
    LabelSize ls;
    SizeUnit u2;
    if (!t.Num(&ls.width) || !t.Unit(&ls.unit) || !t.Lit(",") || !t.Num(&ls.height) || !t.Unit(&u2) ||
        !t.AtEnd() || u2 != ls.unit || ls.width < 0 || ls.height < 0)
        return ctx_.Fail(pos, "SIZE: expected \"SIZE width unit,height unit\", found \"%s\"",
                         std::string((const char*)t.s, t.n).c_str());
    ls.valid = true;
    size_ = ls;
    ctx_.List(pos, "%s", std::string((const char*)t.s, t.n).c_str());
    return true;
}

bool TsplDecoder::Bitmap(size_t pos, size_t* next) {
    // The header is text up to the comma before the data; it is short.
    size_t left = ctx_.Left(pos);
    Text t{ctx_.data + pos, left < 96 ? left : 96};
    t.i = 7;
    int64_t x, y, w, h, mode, clen = 0;
    if (!t.Int(&x) || !t.Lit(",") || !t.Int(&y) || !t.Lit(",") || !t.Int(&w) || !t.Lit(",") || !t.Int(&h) ||
        !t.Lit(",") || !t.Int(&mode) || !t.Lit(","))
        return ctx_.Fail(pos, "BITMAP: expected \"BITMAP x,y,width,height,mode,\" then the data");
    if (mode == 3 && (!t.Int(&clen) || !t.Lit(",")))
        return ctx_.Fail(pos, "BITMAP mode 3: expected the compressed length and a comma after the mode");
    if (w < 0 || h < 0 || x < -kPreviewMaxDots || y < -kPreviewMaxDots || x > kPreviewMaxDots ||
        y > kPreviewMaxDots)
        return ctx_.Fail(pos, "BITMAP %lld,%lld,%lld,%lld: position or size out of range", (long long)x,
                         (long long)y, (long long)w, (long long)h);
    if (!PageSizeOk(w * 8, h))
        return ctx_.Fail(pos, "BITMAP: %lld bytes x %lld rows is larger than a page may be (%s)",
                         (long long)w, (long long)h, PreviewPageLimitText());
    size_t dataPos = pos + t.i;
    size_t raw = (size_t)w * (size_t)h;
    std::vector<uint8_t> inflated;
    const uint8_t* rows = ctx_.data + dataPos;
    size_t dataLen;
    if (mode >= 0 && mode <= 2) {
        dataLen = raw;
        if (!ctx_.Need(dataPos, dataLen, "BITMAP data")) return false;
        ctx_.List(pos, "BITMAP %lld,%lld,%lld,%lld mode %lld (%s, %zu bytes)", (long long)x, (long long)y,
                  (long long)w, (long long)h, (long long)mode,
                  mode == 0   ? "overwrite"
                  : mode == 1 ? "raw"
                              : "exclusive or",
                  raw);
    } else if (mode == 3) {
        if (clen < 0)
            return ctx_.Fail(pos, "BITMAP mode 3: negative compressed length %lld", (long long)clen);
        dataLen = (size_t)clen;
        if (!ctx_.Need(dataPos, dataLen, "BITMAP mode 3 data")) return false;
        if (!InflateRatioPlausible(dataLen, raw))
            return ctx_.Fail(pos,
                             "BITMAP mode 3: %zu compressed bytes cannot hold the %zu bytes of %lld x %lld",
                             dataLen, raw, (long long)w, (long long)h);
        std::string why;
        if (!InflateExact(rows, dataLen, 15, raw, &inflated, &why))
            return ctx_.Fail(dataPos, "BITMAP mode 3 data: %s", why.c_str());
        rows = inflated.data();
        ctx_.List(pos, "BITMAP %lld,%lld,%lld,%lld mode 3 (zlib, %zu bytes -> %zu)", (long long)x,
                  (long long)y, (long long)w, (long long)h, dataLen, raw);
    } else {
        return ctx_.Fail(pos + 7, "BITMAP: unknown mode %lld (expected 0, 1, 2 or 3)", (long long)mode);
    }
    size_t end = dataPos + dataLen;
    if (ctx_.Left(end) >= 2 && ctx_.data[end] == '\r' && ctx_.data[end + 1] == '\n')
        end += 2;
    else if (ctx_.Left(end) >= 1 && ctx_.data[end] == '\n')
        end += 1;
    else
        return ctx_.Fail(
            end, "expected CR LF after the %zu bytes of BITMAP data%s", dataLen,
            ctx_.Left(end)
                ? Printf(", found %s", HexBytes(ctx_.data + end, ctx_.Left(end), 4).c_str()).c_str()
                : " (the stream ends there)");
    if (!ctx_.Grow(&canvas_, x + w * 8, y + h, pos))
        return ctx_.Fail(
            pos, "BITMAP at %lld,%lld makes the page %lld x %lld dots, larger than a page may be (%s)",
            (long long)x, (long long)y, (long long)std::max<int64_t>(canvas_.width, x + w * 8),
            (long long)std::max<int64_t>(canvas_.height, y + h), PreviewPageLimitText());
    // Modes 0-2 carry 0 = black; mode 3 compresses the complement, 1 = black.
    BlitOp op = mode == 0 ? BlitOp::Overwrite : mode == 2 ? BlitOp::Xor : BlitOp::Or;
    PageBlit(&canvas_, x, y, rows, (size_t)w, (size_t)h, mode != 3, op);
    pageOpen_ = true;
    *next = end;
    return true;
}

// The label's size in dots, when the SIZE line and the bitmap agree on a
// resolution. SIZE gives millimetres rounded to 1/100 and the BITMAP row
// length is padded to whole bytes (up to 31 dots with 4-byte rows), so the
// resolution is the one at which the bitmap's height rounds to the SIZE
// height and some width within that padding rounds to the SIZE width.
void TsplDecoder::FitToLabel(PreviewPage* page) const {
    if (!size_.valid || page->width <= 0 || page->height <= 0) return;
    if (size_.unit == SizeUnit::Dot) {
        double w = std::floor(size_.width + 0.5), h = std::floor(size_.height + 0.5);
        if (w >= 1 && h >= 1 && PageSizeOk((int64_t)w, (int64_t)h)) PageResize(page, (int)w, (int)h);
        return;
    }
    const double scale = size_.unit == SizeUnit::Mm ? 1.0 : 25.4;  // inches are given to 1/100 inch
    const double tol = 0.0051 * scale;
    const double wmm = size_.width * scale, hmm = size_.height * scale;
    static const int kCommon[] = {203, 300, 600, 200, 406, 150, 100, 180, 360, 400, 1200, 72, 96};
    auto tryDpi = [&](int dpi) -> bool {
        if (std::fabs(page->height * 25.4 / dpi - hmm) > tol) return false;
        int best = -1;
        double bestDiff = tol;
        for (int w = page->width; w > 0 && w > page->width - 32; w--) {
            double d = std::fabs(w * 25.4 / dpi - wmm);
            if (d <= bestDiff) {
                bestDiff = d;
                best = w;
            }
        }
        if (best < 0) return false;
        PageResize(page, best, page->height);
        page->dpi = dpi;
        return true;
    };
    for (int dpi : kCommon)
        if (tryDpi(dpi)) return;
    for (int dpi = 50; dpi <= 2400; dpi++)
        if (tryDpi(dpi)) return;
}

void TsplDecoder::Print(size_t pos, int64_t sets, int64_t copies) {
    (void)sets;
    (void)copies;
    PreviewPage page = canvas_;
    page.complete = true;
    FitToLabel(&page);
    ctx_.AddPage(std::move(page), pos);
    pageOpen_ = false;
}

// A command word in capitals, then a space or the line end.
bool IsTspl(const uint8_t* data, size_t len) {
    size_t i = 0;
    while (i < len && i < 16 && data[i] >= 'A' && data[i] <= 'Z') i++;
    return i >= 3 && i < len && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n');
}

bool DecodeTspl(DecodeContext& ctx) {
    TsplDecoder d(ctx);
    return d.Run();
}

}  // namespace

extern const PreviewDecoder kDfTsplDecoder = {IsTspl, DecodeTspl};
