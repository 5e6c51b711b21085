// CPCL decoding for the preview: labels from the "! " header to PRINT, with
// PAGE-WIDTH and CG graphics (a text line, then width x height raw bytes with
// no line end after them; 1 bit = black). The page is the header's height by
// PAGE-WIDTH; graphics beyond it are clipped as the printer clips them.
#include <cstring>

#include "tools/preview/decode_internal.h"

namespace {

struct Words {
    const char* s;
    size_t n;
    size_t i = 0;
    bool Int(int64_t* v) {
        while (i < n && s[i] == ' ') i++;
        bool neg = false;
        if (i < n && s[i] == '-') {
            neg = true;
            i++;
        }
        size_t start = i;
        int64_t x = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            if (x > 999999999) return false;
            x = x * 10 + (s[i++] - '0');
        }
        if (i == start) return false;
        *v = neg ? -x : x;
        return i == n || s[i] == ' ';
    }
    bool AtEnd() {
        while (i < n && s[i] == ' ') i++;
        return i == n;
    }
};

class CpclDecoder {
public:
    explicit CpclDecoder(DecodeContext& ctx) : ctx_(ctx) {}
    bool Run();

private:
    bool Line(size_t pos, size_t* next);
    bool Graphics(size_t pos, size_t dataPos, Words& w, const std::string& line, size_t* next);
    void EndLabel(size_t pos, bool complete);

    DecodeContext& ctx_;
    bool inLabel_ = false;
    int64_t height_ = 0;
    int64_t pageWidth_ = 0;
    PreviewPage canvas_;
};

bool CpclDecoder::Run() {
    size_t pos = 0;
    bool ok = true;
    while (pos < ctx_.len) {
        size_t next = pos;
        if (!ctx_.StatusQuery(pos, &next) && (!Line(pos, &next) || !ctx_.result->ok)) {
            ok = false;
            break;
        }
        pos = next;
    }
    if (ok && inLabel_)
        ok = ctx_.Fail(ctx_.len, "the stream ends inside label %zu: expected PRINT",
                       ctx_.result->pages.size() + 1);
    if (!ok && inLabel_ && canvas_.width > 0 && canvas_.height > 0) EndLabel(pos, false);
    return ok;
}

void CpclDecoder::EndLabel(size_t pos, bool complete) {
    PreviewPage page = std::move(canvas_);
    int64_t w = pageWidth_ > 0 ? pageWidth_ : page.width;
    if (PageSizeOk(w, height_)) PageResize(&page, (int)w, (int)height_);
    page.complete = complete;
    ctx_.AddPage(std::move(page), pos);
    canvas_ = PreviewPage();
    inLabel_ = false;
}

bool CpclDecoder::Line(size_t pos, size_t* next) {
    std::string line;
    if (!ctx_.CommandLine(pos, next, &line)) return false;
    if (line.empty()) return true;  // an empty line does nothing
    const size_t n = line.size();

    if (line.compare(0, 2, "! ") == 0) {
        if (inLabel_)
            return ctx_.Fail(pos, "label header inside label %zu: expected PRINT first",
                             ctx_.result->pages.size() + 1);
        Words w{line.c_str() + 2, n - 2};
        int64_t offset, hres, vres, height, qty;
        if (!w.Int(&offset) || !w.Int(&hres) || !w.Int(&vres) || !w.Int(&height) || !w.Int(&qty) ||
            !w.AtEnd())
            return ctx_.Fail(pos,
                             "label header: expected \"! offset 200 200 height quantity\", found \"%.40s\"",
                             line.c_str());
        if (height < 0 || height > kPreviewMaxDots)
            return ctx_.Fail(pos, "label header: height %lld dots is out of range", (long long)height);
        inLabel_ = true;
        height_ = height;
        pageWidth_ = 0;
        canvas_ = PreviewPage();
        ctx_.List(pos, "%s (label %lld dots high, offset %lld, %lld %s)", line.c_str(), (long long)height,
                  (long long)offset, (long long)qty, qty == 1 ? "copy" : "copies");
        return true;
    }
    if (!inLabel_)
        return ctx_.Fail(pos, "expected a label header \"! offset 200 200 height quantity\", found \"%.40s\"",
                         line.c_str());
    Words w{line.c_str(), n};
    auto word = [&](const char* k) {
        size_t kl = strlen(k);
        if (line.compare(0, kl, k) || (n > kl && line[kl] != ' ')) return false;
        w.i = kl;
        return true;
    };
    if (word("PAGE-WIDTH") || word("PW")) {
        int64_t pw;
        if (!w.Int(&pw) || !w.AtEnd() || pw < 0 || !PageSizeOk(pw, height_))
            return ctx_.Fail(pos, "PAGE-WIDTH: expected a width in dots, found \"%.40s\"", line.c_str());
        pageWidth_ = pw;
        ctx_.List(pos, "%s", line.c_str());
        return true;
    }
    if (word("CG") || word("COMPRESSED-GRAPHICS")) return Graphics(pos, *next, w, line, next);
    if (line == "FORM") {
        ctx_.List(pos, "FORM (feed to the next label)");
        return true;
    }
    if (line == "PRINT") {
        ctx_.List(pos, "PRINT");
        EndLabel(pos, true);
        return true;
    }
    return ctx_.Fail(pos, "unknown command \"%.40s\"", line.c_str());
}

bool CpclDecoder::Graphics(size_t pos, size_t dataPos, Words& w, const std::string& line, size_t* next) {
    int64_t wb, h, x, y;
    if (!w.Int(&wb) || !w.Int(&h) || !w.Int(&x) || !w.Int(&y) || !w.AtEnd())
        return ctx_.Fail(pos, "CG: expected \"CG width height x y\", found \"%.40s\"", line.c_str());
    if (wb < 0 || h < 0 || !PageSizeOk(wb * 8, h) || x < -kPreviewMaxDots || x > kPreviewMaxDots ||
        y < -kPreviewMaxDots || y > kPreviewMaxDots)
        return ctx_.Fail(pos, "CG %lld %lld %lld %lld: size or position out of range", (long long)wb,
                         (long long)h, (long long)x, (long long)y);
    size_t bytes = (size_t)wb * (size_t)h;
    if (!ctx_.Need(dataPos, bytes, "CG data")) return false;
    if (!ctx_.Grow(&canvas_, x + wb * 8, y + h, pos))
        return ctx_.Fail(pos, "CG at %lld,%lld reaches beyond the largest page (%s)", (long long)x,
                         (long long)y, PreviewPageLimitText());
    PageBlit(&canvas_, x, y, ctx_.data + dataPos, (size_t)wb, (size_t)h, false, BlitOp::Or);
    ctx_.List(pos, "%s (%lld bytes x %lld rows at %lld,%lld, %zu data bytes)", line.c_str(), (long long)wb,
              (long long)h, (long long)x, (long long)y, bytes);
    *next = dataPos + bytes;
    return true;
}

bool IsCpcl(const uint8_t* data, size_t len) {
    return StartsWith(data, len, {'!', ' '});
}

bool DecodeCpcl(DecodeContext& ctx) {
    CpclDecoder d(ctx);
    return d.Run();
}

}  // namespace

extern const PreviewDecoder kDfCpclDecoder = {IsCpcl, DecodeCpcl};
