// Fuzz target: one dotforge-preview decoder, chosen at build time by
// FUZZ_FAMILY (the model number; 0 lets the decoder detect the family). Any
// input must decode or stop with a fault inside the stream, and every page
// it leaves must be consistent with its size.
//
// Paperang frames carry a CRC that random mutation almost never keeps right;
// the custom mutator repairs it on half of the mutations, so the records
// behind the checksum (tree and bitmap chunks) get reached as well.
#include <zlib.h>

#include <cstdint>
#include <cstring>

#include "tests/fuzz/fuzz_common.h"
#include "tools/preview/preview.h"

#ifndef FUZZ_FAMILY
#define FUZZ_FAMILY 0
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PreviewResult res;
    const bool ok = DecodePrinterStream(data, size, static_cast<PreviewFamily>(FUZZ_FAMILY), &res);
    FUZZ_CHECK(ok == res.ok);
    FUZZ_CHECK(ok || res.errorOffset <= size);
    FUZZ_CHECK(ok || !res.error.empty());
    for (const PreviewPage& p : res.pages) {
        FUZZ_CHECK(p.width >= 0 && p.height >= 0 && p.width <= kPreviewMaxDots &&
                   p.height <= kPreviewMaxDots);
        FUZZ_CHECK(p.rowBytes == (static_cast<size_t>(p.width) + 7) / 8);
        FUZZ_CHECK(p.bits.size() == p.rowBytes * static_cast<size_t>(p.height));
        // Bits past the last dot of a row stay 0.
        if (p.width % 8 && p.height > 0)
            for (int y = 0; y < p.height; ++y)
                FUZZ_CHECK((p.bits[static_cast<size_t>(y) * p.rowBytes + p.rowBytes - 1] &
                            (0xFF >> (p.width % 8))) == 0);
    }
    for (const PreviewLine& l : res.listing) FUZZ_CHECK(l.offset <= size);
    return 0;
}

#if FUZZ_FAMILY == 23 && defined(DF_LIBFUZZER)
extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

// Recomputes the CRC of every frame that still parses.
static void FixCrcs(uint8_t* s, size_t size) {
    size_t pos = 0;
    while (pos + 9 <= size && s[pos] == 0xA5) {
        const size_t n = s[pos + 2] | (s[pos + 3] << 8);
        if (pos + n + 9 > size) break;
        const uint32_t c = static_cast<uint32_t>(crc32(0x35769521UL, s + pos + 4, static_cast<uInt>(n)));
        for (int i = 0; i < 4; i++) s[pos + 4 + n + i] = static_cast<uint8_t>(c >> (8 * i));
        pos += n + 9;
    }
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (seed & 1) FixCrcs(data, size);
    return size;
}
#endif
