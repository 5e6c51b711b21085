// Fuzz target: the Paperang Huffman coder. The input becomes a bitmap (first
// byte: row width, second: chunk limit, the rest: rows) that is encoded and
// decoded again, which must give the bitmap back; the same bytes are also fed
// to the decoder as a tree frame and as a chunk, which must never misbehave.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "printers/hfmcode.h"
#include "printers/hfmdecode.h"
#include "tests/fuzz/fuzz_common.h"

static void RoundTrip(const uint8_t* data, size_t size) {
    if (size < 3) return;
    const int rowBytes = 1 + data[0] % 96;
    // Below 2 a chunk holds no bits at all; the renderer uses 256.
    const int chunkLimit = 2 + data[1];
    const uint8_t* bits = data + 2;
    const int rows = static_cast<int>((size - 2) / rowBytes);
    if (rows == 0) return;
    const int len = rows * rowBytes;

    CHfmCode hfm;
    const std::vector<CHfmCode::HGMRNCODENODE> tree = hfm.GetHfmTree(bits, len);
    const int nodeCount = static_cast<int>(tree.size());
    FUZZ_CHECK(nodeCount > 0);
    const std::vector<uint16_t> pre = hfm.GetTreePreorder(tree.data(), nodeCount);
    const std::vector<uint16_t> in = hfm.GetTreeMiddleorder(tree.data(), nodeCount);
    FUZZ_CHECK(!pre.empty() && !in.empty());
    const CHfmCode::HfmChunks coded = hfm.HFMDGencoding(tree.data(), nodeCount, bits, rowBytes, rows, chunkLimit);
    const std::vector<CHfmCode::HFMCHUNK>& chunks = coded.chunks;
    const int chunkCount = static_cast<int>(chunks.size());
    FUZZ_CHECK(chunkCount > 0);

    // The tree travels as a frame payload: pre-order then in-order, 16 bits little-endian.
    std::vector<uint8_t> payload;
    for (const std::vector<uint16_t>* order : {&pre, &in})
        for (int i = 0; i < nodeCount; ++i) {
            payload.push_back(static_cast<uint8_t>((*order)[i]));
            payload.push_back(static_cast<uint8_t>((*order)[i] >> 8));
        }
    HfmDecoder dec;
    FUZZ_CHECK(dec.BuildFromPayload(payload.data(), static_cast<int>(payload.size())));
    FUZZ_CHECK(dec.NodeCount() == nodeCount);

    std::vector<uint8_t> back;
    for (int k = 0; k < chunkCount; ++k) {
        const int n = dec.DecodeChunk(chunks[k].data, chunks[k].length, nullptr, 0);
        FUZZ_CHECK(n > 0 && n % rowBytes == 0);
        const size_t at = back.size();
        back.resize(at + static_cast<size_t>(n));
        FUZZ_CHECK(dec.DecodeChunk(chunks[k].data, chunks[k].length, back.data() + at, n) == n);
    }
    FUZZ_CHECK(back.size() == static_cast<size_t>(len) && memcmp(back.data(), bits, back.size()) == 0);
}

// The printer side on bytes it did not make: a tree frame from the first
// part, a chunk from the rest.
static void DecodeArbitrary(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const size_t split = data[0] * 8 % size;
    HfmDecoder dec;
    if (!dec.BuildFromPayload(data + 1, static_cast<int>(split > 0 ? split - 1 : 0))) {
        FUZZ_CHECK(!dec.IsValid());
        return;
    }
    const int n = dec.DecodeChunk(data + split, static_cast<int>(size - split), nullptr, 0);
    if (n <= 0) return;
    std::vector<uint8_t> out(static_cast<size_t>(n));
    FUZZ_CHECK(dec.DecodeChunk(data + split, static_cast<int>(size - split), out.data(), n) == n);
    // One byte short must be refused, never overrun.
    FUZZ_CHECK(dec.DecodeChunk(data + split, static_cast<int>(size - split), out.data(), n - 1) == -1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    RoundTrip(data, size);
    DecodeArbitrary(data, size);
    return 0;
}
