// Test helper: Paperang stream parsing and page decoding.
#include "helpers/paperang_decode.h"

#include <zlib.h>

#include <cstdio>

#include "printers/families.h"
#include "tools/preview/preview.h"

namespace {

unsigned Le16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}
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

bool DecodePaperangStream(const std::vector<unsigned char>& s, std::vector<PaperangPage>* pages,
                          std::string* error) {
    pages->clear();
    PreviewResult res;
    if (!DecodePrinterStream(s.data(), s.size(), PreviewFamilyOf(kDfPaperang), &res))
        return Fail(error, "offset " + std::to_string(res.errorOffset) + ": " + res.error);
    // The listing names every frame ("frame 0x1B bitmap chunk ..."); a start
    // printing frame opens the next page.
    std::vector<PaperangPage> found;
    for (const PreviewLine& l : res.listing) {
        unsigned command = 0;
        size_t nodes = 0;
        if (sscanf(l.text.c_str(), "frame 0x%2X", &command) != 1) continue;
        if (command == 0x19) found.emplace_back();
        if (found.empty()) return Fail(error, "a frame before start printing");
        PaperangPage& page = found.back();
        page.commands.push_back(static_cast<int>(command));
        if (command == 0x1B) ++page.chunks;
        if (command == 0x1C && sscanf(l.text.c_str(), "frame 0x1C Huffman tree, %zu nodes", &nodes) == 1)
            page.treeNodes = static_cast<int>(nodes);
    }
    if (found.size() != res.pages.size())
        return Fail(error, "the pages do not match the start printing frames");
    for (size_t i = 0; i < found.size(); ++i) {
        found[i].rowBytes = static_cast<int>(res.pages[i].rowBytes);
        found[i].bits = res.pages[i].bits;
    }
    *pages = std::move(found);
    return true;
}
