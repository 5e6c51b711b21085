// CHfmCode: tree building, tree serialisation and chunked encoding of the
// Paperang bitmap code.
#include "printers/hfmcode.h"

#include <climits>
#include <cstring>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

namespace {

// A tree over byte values has at most 256 leaves, hence 511 nodes and codes
// of at most 255 bits.
constexpr int kMaxNodes = 511;

// A leaf code packed for the encoder: MSB first, with the short codes (the
// usual case) also as one right-aligned value.
struct PackedCode {
    int len;         // 0: the byte value has no leaf
    uint32_t value;  // the whole code when len <= 24
    uint8_t bytes[32];
};

// Writes code bits MSB first into a chunk, stopping after budget bits; the
// last byte is completed with zero bits.
class BitWriter {
public:
    BitWriter(unsigned char* out, int64_t budget) : m_out(out), m_budget(budget) {}

    bool Full() const { return m_budget <= 0; }

    void Put(const PackedCode& c) {
        if (c.len <= 24 && c.len <= m_budget) {
            PutBits(c.value, c.len);
            return;
        }
        int whole = c.len / 8;
        for (int i = 0; i < whole && !Full(); ++i) PutClamped(c.bytes[i], 8);
        int rest = c.len % 8;
        if (rest && !Full()) PutClamped(c.bytes[whole] >> (8 - rest), rest);
    }

    void Finish() {
        if (m_nAcc > 0) *m_out++ = static_cast<unsigned char>(m_acc << (8 - m_nAcc));
        m_nAcc = 0;
    }

private:
    void PutClamped(uint32_t v, int n) {
        if (n > m_budget) {
            v >>= (n - m_budget);
            n = static_cast<int>(m_budget);
        }
        PutBits(v, n);
    }
    void PutBits(uint32_t v, int n) {
        m_acc = (m_acc << n) | v;
        m_nAcc += n;
        m_budget -= n;
        while (m_nAcc >= 8) {
            m_nAcc -= 8;
            *m_out++ = static_cast<unsigned char>(m_acc >> m_nAcc);
        }
        m_acc &= (uint64_t{1} << m_nAcc) - 1;
    }

    unsigned char* m_out;
    int64_t m_budget;
    uint64_t m_acc = 0;
    int m_nAcc = 0;  // pending bits in m_acc, below 8 between calls
};

// Where a chunk lies in the input, found by the first pass.
struct ChunkSpan {
    int firstRow;
    int64_t bits;
};

}  // namespace

std::vector<CHfmCode::HGMRNCODENODE> CHfmCode::GetHfmTree(const unsigned char* data, int length) {
    if (!data || length <= 0) return {};

    int32_t counts[256] = {0};
    for (int i = 0; i < length; ++i) ++counts[data[i]];

    int leaves = 0;
    for (int v = 0; v < 256; ++v)
        if (counts[v] > 0) ++leaves;
    const bool single = leaves == 1;
    if (single) leaves = 2;
    const int total = 2 * leaves - 1;

    std::vector<HGMRNCODENODE> nodes(static_cast<size_t>(total), HGMRNCODENODE{});
    for (int i = 0; i < total; ++i) {
        nodes[i].left = nodes[i].right = nodes[i].parent = -1;
        if (i >= leaves) nodes[i].symbol = static_cast<uint16_t>(256 + (i - leaves));
    }

    int next = 0;
    for (int v = 0; v < 256; ++v) {
        if (counts[v] == 0) continue;
        nodes[next].weight = counts[v];
        nodes[next].symbol = static_cast<uint16_t>(v);
        ++next;
    }
    if (single) {
        // A one-symbol page still needs a two-leaf tree so its value gets a
        // one-bit code. The partner leaf takes index 1 whatever its value.
        int v = nodes[0].symbol;
        nodes[1].weight = 1;
        nodes[1].symbol = static_cast<uint16_t>(v < 128 ? v + 1 : v - 1);
    }

    // The selection of GetMinTreeNode (lightest unlinked node, ties to the
    // lower index, then the next) is the smallest (weight, index) pair, so a
    // heap of the unlinked nodes gives the same tree without a scan of all
    // nodes for every internal one.
    std::priority_queue<std::pair<int32_t, int>, std::vector<std::pair<int32_t, int>>,
                        std::greater<std::pair<int32_t, int>>>
        unlinked;
    for (int i = 0; i < leaves; ++i) unlinked.push({nodes[i].weight, i});
    for (int q = leaves; q < total; ++q) {
        // q unlinked nodes always leave at least two candidates.
        const int first = unlinked.top().second;
        unlinked.pop();
        const int second = unlinked.top().second;
        unlinked.pop();
        int64_t w = static_cast<int64_t>(nodes[first].weight) + nodes[second].weight;
        nodes[q].weight = w > INT32_MAX ? INT32_MAX : static_cast<int32_t>(w);
        nodes[q].left = first;
        nodes[q].right = second;
        nodes[first].parent = q;
        nodes[second].parent = q;
        unlinked.push({nodes[q].weight, q});
    }

    for (int i = 0; i < leaves; ++i) {
        uint8_t path[256];
        int len = 0;
        for (int c = i, p = nodes[i].parent; p >= 0 && len < 255; c = p, p = nodes[p].parent)
            path[len++] = nodes[p].left == c ? 0 : 1;
        nodes[i].codeLength = len;
        for (int k = 0; k < len; ++k) nodes[i].code[k] = path[len - 1 - k];
    }

    return nodes;
}

void CHfmCode::GetMinTreeNode(const HGMRNCODENODE* nodes, int count, int* first, int* second) {
    int a = -1, b = -1;
    for (int i = 0; i < count; ++i) {
        if (nodes[i].parent != -1) continue;
        if (a < 0 || nodes[i].weight < nodes[a].weight) a = i;
    }
    for (int i = 0; i < count; ++i) {
        if (nodes[i].parent != -1 || i == a) continue;
        if (b < 0 || nodes[i].weight < nodes[b].weight) b = i;
    }
    if (first) *first = a;
    if (second) *second = b;
}

void CHfmCode::TreePreorder(const HGMRNCODENODE* nodes, int nodeCount, int index, int depth, uint16_t* out,
                            int* written) {
    if (*written > nodeCount) return;
    if (index < 0 || index >= nodeCount || depth >= nodeCount || *written == nodeCount) {
        *written = nodeCount + 1;
        return;
    }
    out[(*written)++] = nodes[index].symbol;
    if (nodes[index].left >= 0) TreePreorder(nodes, nodeCount, nodes[index].left, depth + 1, out, written);
    if (nodes[index].right >= 0) TreePreorder(nodes, nodeCount, nodes[index].right, depth + 1, out, written);
}

void CHfmCode::TreeMiddleorder(const HGMRNCODENODE* nodes, int nodeCount, int index, int depth, uint16_t* out,
                               int* written) {
    if (*written > nodeCount) return;
    if (index < 0 || index >= nodeCount || depth >= nodeCount) {
        *written = nodeCount + 1;
        return;
    }
    if (nodes[index].left >= 0) TreeMiddleorder(nodes, nodeCount, nodes[index].left, depth + 1, out, written);
    if (*written >= nodeCount) {
        *written = nodeCount + 1;
        return;
    }
    out[(*written)++] = nodes[index].symbol;
    if (nodes[index].right >= 0)
        TreeMiddleorder(nodes, nodeCount, nodes[index].right, depth + 1, out, written);
}

std::vector<uint16_t> CHfmCode::GetTreePreorder(const HGMRNCODENODE* nodes, int nodeCount) {
    if (!nodes || nodeCount <= 0 || nodeCount > kMaxNodes) return {};
    std::vector<uint16_t> out(static_cast<size_t>(nodeCount));
    int written = 0;
    TreePreorder(nodes, nodeCount, nodeCount - 1, 0, out.data(), &written);
    if (written != nodeCount) return {};
    return out;
}

std::vector<uint16_t> CHfmCode::GetTreeMiddleorder(const HGMRNCODENODE* nodes, int nodeCount) {
    if (!nodes || nodeCount <= 0 || nodeCount > kMaxNodes) return {};
    std::vector<uint16_t> out(static_cast<size_t>(nodeCount));
    int written = 0;
    TreeMiddleorder(nodes, nodeCount, nodeCount - 1, 0, out.data(), &written);
    if (written != nodeCount) return {};
    return out;
}

CHfmCode::HfmChunks CHfmCode::HFMDGencoding(const HGMRNCODENODE* nodes, int nodeCount,
                                            const unsigned char* data, int rowBytes, int rows,
                                            int chunkLimit) {
    if (!nodes || !data || nodeCount < 3 || nodeCount > kMaxNodes || rowBytes <= 0 || rows <= 0) return {};

    // Byte value -> packed code of its leaf. A value without a usable leaf
    // keeps length 0 and makes any page that contains it unencodable.
    PackedCode codes[256];
    memset(codes, 0, sizeof(codes));
    const int leaves = (nodeCount + 1) / 2;
    for (int i = 0; i < leaves; ++i) {
        const HGMRNCODENODE& n = nodes[i];
        if (n.symbol > 255 || n.codeLength < 1 || n.codeLength > 255) continue;
        PackedCode& c = codes[n.symbol];
        c.len = n.codeLength;
        for (int k = 0; k < n.codeLength; ++k) {
            if (n.code[k]) c.bytes[k / 8] |= static_cast<uint8_t>(0x80 >> (k % 8));
            c.value = (c.value << 1) | (n.code[k] ? 1u : 0u);
        }
    }

    // Pass 1: bits per row, cut into chunks at row boundaries.
    const int64_t limit = (static_cast<int64_t>(chunkLimit) - 1) * 8;
    const size_t stride = static_cast<size_t>(rowBytes);
    std::vector<ChunkSpan> spans;
    int start = 0;
    int64_t total = 0;
    for (int r = 0; r < rows; ++r) {
        const unsigned char* row = data + stride * static_cast<size_t>(r);
        int64_t bits = 0;
        bool missing = false;
        for (int i = 0; i < rowBytes; ++i) {
            int len = codes[row[i]].len;
            bits += len;
            missing |= len == 0;
        }
        if (missing) return {};
        total += bits;
        if (total >= limit && r > start) {
            spans.push_back(ChunkSpan{start, total - bits});
            start = r;
            total = bits;
        }
    }
    spans.push_back(ChunkSpan{start, total});

    // Chunk lengths must fit their 32-bit field.
    size_t storage = 0;
    for (const ChunkSpan& span : spans) {
        int64_t len = (span.bits + 7) / 8 + 1;
        if (len > INT32_MAX) return {};
        storage += static_cast<size_t>(len);
    }

    HfmChunks result;
    result.storage.resize(storage);
    result.chunks.resize(spans.size());

    // Pass 2: each chunk is the stream cut at its first bit; its last byte
    // runs on into the next chunk's first bits, as the printer expects.
    const unsigned char* end = data + stride * static_cast<size_t>(rows);
    unsigned char* out = result.storage.data();
    for (size_t k = 0; k < spans.size(); ++k) {
        const int64_t n = (spans[k].bits + 7) / 8;
        out[0] = static_cast<unsigned char>(n * 8 - spans[k].bits);
        BitWriter w(out + 1, n * 8);
        for (const unsigned char* p = data + stride * static_cast<size_t>(spans[k].firstRow);
             p < end && !w.Full(); ++p)
            w.Put(codes[*p]);
        w.Finish();
        result.chunks[k].data = out;
        result.chunks[k].length = static_cast<int32_t>(n + 1);
        out += n + 1;
    }
    return result;
}
