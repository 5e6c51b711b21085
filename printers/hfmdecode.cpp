// HfmDecoder: tree reconstruction from two traversals and chunk decoding.
#include "printers/hfmdecode.h"

#include <climits>
#include <cstring>

HfmDecoder::HfmDecoder() : m_count(0), m_root(-1) {}

// Builds the subtree whose in-order symbols are in[lo, hi) from the pre-order
// symbols starting at *next. Node numbers are pre-order positions. Returns
// -1 for an empty range, -2 on inconsistent input.
int HfmDecoder::BuildRange(const uint16_t* pre, const uint16_t* in, int lo, int hi, int* next) {
    if (lo >= hi) return -1;
    if (*next >= m_count) return -2;
    const int node = (*next)++;
    const uint16_t sym = pre[node];
    int p = lo;
    while (p < hi && in[p] != sym) ++p;
    if (p == hi) return -2;
    int left = BuildRange(pre, in, lo, p, next);
    if (left == -2) return -2;
    int right = BuildRange(pre, in, p + 1, hi, next);
    if (right == -2) return -2;
    if ((left < 0) != (right < 0)) return -2;  // a code tree has no single-child nodes
    if (left < 0 && sym > 255) return -2;      // leaves stand for byte values
    m_left[node] = static_cast<int16_t>(left);
    m_right[node] = static_cast<int16_t>(right);
    m_symbol[node] = sym;
    return node;
}

bool HfmDecoder::Build(const uint16_t* preorder, const uint16_t* inorder, int nodeCount) {
    m_root = -1;
    m_count = 0;
    if (!preorder || !inorder || nodeCount < 3 || nodeCount > kMaxNodes) return false;

    // Distinct symbols are what make the two traversals unambiguous.
    unsigned char seen[65536 / 8];
    memset(seen, 0, sizeof(seen));
    for (int i = 0; i < nodeCount; ++i) {
        uint16_t s = preorder[i];
        if (seen[s >> 3] & (1u << (s & 7))) return false;
        seen[s >> 3] |= static_cast<unsigned char>(1u << (s & 7));
    }

    m_count = nodeCount;
    int next = 0;
    int root = BuildRange(preorder, inorder, 0, nodeCount, &next);
    if (root < 0 || next != nodeCount) {
        m_count = 0;
        return false;
    }
    m_root = root;
    return true;
}

bool HfmDecoder::BuildFromPayload(const unsigned char* payload, int length) {
    m_root = -1;
    m_count = 0;
    if (!payload || length <= 0 || length % 4 != 0 || length / 4 > kMaxNodes) return false;
    const int n = length / 4;
    uint16_t pre[kMaxNodes], in[kMaxNodes];
    for (int i = 0; i < n; ++i) {
        pre[i] = static_cast<uint16_t>(payload[2 * i] | (payload[2 * i + 1] << 8));
        in[i] = static_cast<uint16_t>(payload[2 * (n + i)] | (payload[2 * (n + i) + 1] << 8));
    }
    return Build(pre, in, n);
}

int HfmDecoder::DecodeChunk(const unsigned char* chunk, int length, unsigned char* out, int outCap) const {
    if (m_root < 0 || !chunk || length < 1 || chunk[0] > 7) return -1;
    const long long bits = 8LL * (length - 1) - chunk[0];
    if (bits < 0) return -1;
    int produced = 0;
    int node = m_root;
    for (long long i = 0; i < bits; ++i) {
        const int bit = (chunk[1 + i / 8] >> (7 - i % 8)) & 1;
        node = bit ? m_right[node] : m_left[node];
        if (m_left[node] >= 0) continue;
        if (produced == INT_MAX) return -1;
        if (out) {
            if (produced >= outCap) return -1;
            out[produced] = static_cast<unsigned char>(m_symbol[node]);
        }
        ++produced;
        node = m_root;
    }
    return node == m_root ? produced : -1;
}
