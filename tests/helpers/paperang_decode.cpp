// Test helper: Paperang stream parsing and page decoding.
#include "helpers/paperang_decode.h"

#include <zlib.h>

#include "printers/hfmdecode.h"

namespace {

unsigned Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
unsigned long Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned long>(p[3]) << 24);
}

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool ParsePaperangStream(const std::vector<unsigned char>& s, std::vector<PaperangFrame>* frames,
                         std::string* error) {
    frames->clear();
    size_t pos = 0;
    while (pos < s.size()) {
        const std::string at = "frame at offset " + std::to_string(pos) + ": ";
        if (s.size() - pos < 9) return Fail(error, at + "truncated");
        if (s[pos] != 0xA5 || s[pos + 1] != 0x01) return Fail(error, at + "bad start bytes");
        const size_t n = Le16(&s[pos + 2]);
        if (s.size() - pos < n + 9) return Fail(error, at + "truncated record");
        const unsigned char* rec = &s[pos + 4];
        if (n < 5 || rec[0] != 0x05 || rec[2] != 0x03) return Fail(error, at + "bad record head");
        if (Le16(rec + 3) + 5 != n) return Fail(error, at + "payload length disagrees with the frame length");
        unsigned long crc = crc32(0x35769521UL, rec, static_cast<uInt>(n));
        if (Le32(rec + n) != crc) return Fail(error, at + "bad checksum");
        if (rec[n + 4] != 0x5A) return Fail(error, at + "bad end byte");
        PaperangFrame f;
        f.command = rec[1];
        f.payload.assign(rec + 5, rec + n);
        frames->push_back(std::move(f));
        pos += n + 9;
    }
    return true;
}

bool DecodePaperangPages(const std::vector<PaperangFrame>& frames, std::vector<PaperangPage>* pages,
                         std::string* error) {
    pages->clear();
    HfmDecoder dec;
    for (size_t i = 0; i < frames.size(); ++i) {
        const PaperangFrame& f = frames[i];
        const std::string at = "frame " + std::to_string(i) + ": ";
        if (f.command == 0x19) {
            pages->emplace_back();
            dec = HfmDecoder();
        }
        if (pages->empty()) return Fail(error, at + "command before start printing");
        PaperangPage& page = pages->back();
        page.commands.push_back(f.command);
        if (f.command == 0x1C) {
            if (!dec.BuildFromPayload(f.payload.data(), static_cast<int>(f.payload.size())))
                return Fail(error, at + "tree does not rebuild");
            page.treeNodes = dec.NodeCount();
        } else if (f.command == 0x1B) {
            const std::vector<unsigned char>& p = f.payload;
            if (p.size() < 12) return Fail(error, at + "short bitmap header");
            const unsigned d = Le16(&p[10]);
            if (Le16(&p[0]) != static_cast<unsigned>(page.chunks)) return Fail(error, at + "chunk index out of order");
            if (Le16(&p[2]) != d + 8 || d + 12 != p.size()) return Fail(error, at + "bitmap lengths disagree");
            if (p[4] != 0x01 || p[7] != 0 || p[8] != 0 || p[9] != 0x01) return Fail(error, at + "bad bitmap header");
            const int rowBytes = static_cast<int>(Le16(&p[5]));
            if (page.chunks > 0 && rowBytes != page.rowBytes) return Fail(error, at + "row width changed");
            page.rowBytes = rowBytes;
            const int n = dec.DecodeChunk(&p[12], static_cast<int>(d), nullptr, 0);
            if (n <= 0) return Fail(error, at + "chunk does not decode");
            if (rowBytes == 0 || n % rowBytes != 0) return Fail(error, at + "chunk holds part of a row");
            const size_t base = page.bits.size();
            page.bits.resize(base + static_cast<size_t>(n));
            dec.DecodeChunk(&p[12], static_cast<int>(d), page.bits.data() + base, n);
            ++page.chunks;
        }
    }
    return true;
}

bool DecodePaperangStream(const std::vector<unsigned char>& s, std::vector<PaperangPage>* pages,
                          std::string* error) {
    std::vector<PaperangFrame> frames;
    return ParsePaperangStream(s, &frames, error) && DecodePaperangPages(frames, pages, error);
}
