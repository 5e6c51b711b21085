// Test helper: inflating the compressed bitmaps of TSPL and PeriPage streams.
#include "helpers/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "printers/families.h"
#include "tools/preview/preview.h"

namespace {

// Inflates len bytes into exactly expected bytes; *used gets how many input
// bytes the stream took. False when it is corrupt, short or too long.
bool Inflate(const unsigned char* data, size_t len, int windowBits, size_t expected, ByteVec* out,
             size_t* used) {
    z_stream z = {};
    if (inflateInit2(&z, windowBits) != Z_OK) return false;
    out->assign(expected + 1, 0);
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<uInt>(len);
    z.next_out = out->data();
    z.avail_out = static_cast<uInt>(out->size());
    const int rc = inflate(&z, Z_FINISH);
    *used = z.total_in;
    const bool ok = rc == Z_STREAM_END && z.total_out == expected;
    inflateEnd(&z);
    out->resize(expected);
    return ok;
}

}  // namespace

ByteVec InflatedTspl(const ByteVec& s) {
    ByteVec out;
    size_t pos = 0;
    const std::string tag = "BITMAP ";
    while (pos < s.size()) {
        auto at = std::search(s.begin() + static_cast<long>(pos), s.end(), tag.begin(), tag.end());
        const size_t b = static_cast<size_t>(at - s.begin());
        out.insert(out.end(), s.begin() + static_cast<long>(pos), at);
        if (at == s.end()) break;
        const std::string head(s.begin() + static_cast<long>(b),
                               s.begin() + static_cast<long>(std::min(s.size(), b + 80)));
        int x, y, w, h, mode, n = 0, len = 0;
        if (sscanf(head.c_str(), "BITMAP %d,%d,%d,%d,%d,%n", &x, &y, &w, &h, &mode, &len) < 5 || len == 0 ||
            mode != 3) {
            out.insert(out.end(), tag.begin(), tag.end());
            pos = b + tag.size();
            continue;
        }
        int numLen = 0;
        if (sscanf(head.c_str() + len, "%d,%n", &n, &numLen) < 1 || numLen == 0 || n < 0 ||
            b + static_cast<size_t>(len + numLen + n) > s.size()) {
            ADD_FAILURE() << "bad compressed BITMAP header at offset " << b;
            return s;
        }
        out.insert(out.end(), s.begin() + static_cast<long>(b), s.begin() + static_cast<long>(b + len));
        const unsigned char* payload = s.data() + b + len + numLen;
        ByteVec rows;
        size_t used = 0;
        if (!Inflate(payload, static_cast<size_t>(n), 15, static_cast<size_t>(w) * h, &rows, &used) ||
            used != static_cast<size_t>(n)) {
            ADD_FAILURE() << "the compressed BITMAP at offset " << b << " does not inflate to " << w << " x "
                          << h << " bytes from exactly " << n << " bytes";
            return s;
        }
        out.insert(out.end(), rows.begin(), rows.end());
        pos = b + len + numLen + n;
    }
    return out;
}

ByteVec InflatedPeriPage(const ByteVec& s) {
    PreviewResult res;
    DecodePrinterStream(s.data(), s.size(), PreviewFamilyOf(kDfPeripage), &res);
    ByteVec out;
    size_t pos = 0;
    for (const PreviewLine& l : res.listing) {
        if (l.text.rfind("1F 00 compressed bitmap", 0) != 0) continue;
        const size_t f = l.offset;
        if (f < pos || f + 10 > s.size()) continue;
        const size_t rowBytes = (s[f + 2] << 8) | s[f + 3], rows = (s[f + 4] << 8) | s[f + 5];
        const size_t n =
            (static_cast<size_t>(s[f + 6]) << 24) | (s[f + 7] << 16) | (s[f + 8] << 8) | s[f + 9];
        ByteVec data;
        size_t used = 0;
        if (f + 10 + n > s.size() || !Inflate(s.data() + f + 10, n, -15, rowBytes * rows, &data, &used) ||
            used + 4 != n) {
            ADD_FAILURE() << "the PeriPage frame at offset " << f << " does not inflate to " << rowBytes
                          << " x " << rows << " bytes followed by its Adler-32";
            return s;
        }
        const uLong adler = adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size()));
        const unsigned char* tail = s.data() + f + 10 + used;
        const uLong sent = (static_cast<uLong>(tail[0]) << 24) | (tail[1] << 16) | (tail[2] << 8) | tail[3];
        if (adler != sent)
            ADD_FAILURE() << "the PeriPage frame at offset " << f << " carries a wrong Adler-32";
        out.insert(out.end(), s.begin() + static_cast<long>(pos), s.begin() + static_cast<long>(f + 6));
        out.insert(out.end(), data.begin(), data.end());
        pos = f + 10 + n;
    }
    out.insert(out.end(), s.begin() + static_cast<long>(pos), s.end());
    return out;
}
