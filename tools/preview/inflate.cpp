// zlib inflation to an exactly known size, for the TSPL and PeriPage
// compressed bitmaps.
#include <zlib.h>

#include "tools/preview/decode_internal.h"

bool InflateExact(const uint8_t* src, size_t srcLen, int windowBits, size_t expected, std::vector<uint8_t>* out,
                  std::string* why) {
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK) {
        *why = "zlib could not start inflating";
        return false;
    }
    // One spare byte tells "more data than the header announced" apart
    // from an exact fit.
    out->assign(expected + 1, 0);
    zs.next_out = out->data();
    zs.avail_out = (uInt)(expected + 1);
    size_t fed = 0;
    bool ok = false;
    for (;;) {
        if (zs.avail_in == 0 && fed < srcLen) {
            size_t chunk = srcLen - fed;
            if (chunk > (1u << 30)) chunk = 1u << 30;
            zs.next_in = const_cast<Bytef*>(src + fed);
            zs.avail_in = (uInt)chunk;
            fed += chunk;
        }
        int rc = inflate(&zs, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            if (zs.total_out != expected)
                *why = Printf("the data inflates to %lu bytes instead of %zu", zs.total_out, expected);
            else if (zs.avail_in != 0 || fed < srcLen)
                *why = Printf("the compressed data ends %zu bytes before its announced length",
                              (size_t)zs.avail_in + (srcLen - fed));
            else
                ok = true;
            break;
        }
        if (zs.total_out > expected) {
            *why = Printf("the data inflates to more than the %zu bytes announced", expected);
            break;
        }
        if (rc == Z_OK) continue;
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && fed >= srcLen) {
            *why = Printf("the compressed data is cut short (%zu of %zu bytes inflated)", (size_t)zs.total_out,
                          expected);
            break;
        }
        if (rc == Z_BUF_ERROR) continue;
        *why = Printf("the compressed data is corrupt (%s)", zs.msg ? zs.msg : "zlib error");
        break;
    }
    inflateEnd(&zs);
    out->resize(ok ? expected : 0);
    return ok;
}
