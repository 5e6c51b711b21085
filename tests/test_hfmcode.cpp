// Tests of the Paperang Huffman coder and of the decoder that inverts it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "helpers/hexdump.h"
#include "printers/hfmcode.h"
#include "printers/hfmdecode.h"

namespace {

using Node = CHfmCode::HGMRNCODENODE;

// Everything the coder returns for one page.
struct Coded {
    std::vector<Node> tree;
    int nodeCount = 0;
    std::vector<uint16_t> pre, in;
    CHfmCode::HfmChunks coded;
    const CHfmCode::HFMCHUNK* chunks = nullptr;  // null: not encoded
    int chunkCount = -1;

    Coded(const ByteVec& data, int rowBytes, int chunkLimit = 256) {
        CHfmCode hfm;
        tree = hfm.GetHfmTree(data.data(), static_cast<int>(data.size()));
        nodeCount = static_cast<int>(tree.size());
        if (tree.empty()) return;
        pre = hfm.GetTreePreorder(tree.data(), nodeCount);
        in = hfm.GetTreeMiddleorder(tree.data(), nodeCount);
        coded = hfm.HFMDGencoding(tree.data(), nodeCount, data.data(), rowBytes,
                                  static_cast<int>(data.size()) / rowBytes, chunkLimit);
        if (coded.chunks.empty()) return;
        chunks = coded.chunks.data();
        chunkCount = static_cast<int>(coded.chunks.size());
    }
    ByteVec Chunk(int k) const { return ByteVec(chunks[k].data, chunks[k].data + chunks[k].length); }
    std::vector<int> Pre() const { return std::vector<int>(pre.begin(), pre.end()); }
    std::vector<int> In() const { return std::vector<int>(in.begin(), in.end()); }
    const Node& Leaf(int value) const {
        for (int i = 0; i < (nodeCount + 1) / 2; ++i)
            if (tree[i].symbol == value) return tree[i];
        static Node none{};
        return none;
    }
    std::string Code(int value) const {
        const Node& n = Leaf(value);
        std::string s;
        for (int i = 0; i < n.codeLength; ++i) s += n.code[i] ? '1' : '0';
        return s;
    }
};

// The whole code stream written the slow, obvious way: one bit per entry.
std::vector<int> ReferenceBits(const Coded& c, const ByteVec& data) {
    std::vector<int> bits;
    for (unsigned char b : data)
        for (char ch : c.Code(b)) bits.push_back(ch - '0');
    return bits;
}

ByteVec RandomPage(std::mt19937& rng, size_t size, int distinct) {
    // Geometric-ish weights, so codes of many lengths occur.
    std::vector<unsigned char> values(256);
    for (int i = 0; i < 256; ++i) values[i] = static_cast<unsigned char>(i);
    std::shuffle(values.begin(), values.end(), rng);
    std::geometric_distribution<int> pick(0.25);
    ByteVec d(size);
    for (auto& b : d) b = values[std::min(pick(rng), distinct - 1)];
    return d;
}

// Fibonacci counts make the deepest trees a page can have: value v occurs
// Fib(v + 1) times, so the rarest values get codes of 25 bits, past the
// encoder's short-code path.
ByteVec FibonacciPage(std::mt19937& rng) {
    ByteVec d;
    long a = 1, b = 1;
    for (int v = 0; v < 26; ++v) {
        d.insert(d.end(), static_cast<size_t>(a), static_cast<unsigned char>(v));
        long c = a + b;
        a = b;
        b = c;
    }
    std::shuffle(d.begin(), d.end(), rng);
    return d;
}

}  // namespace

TEST(HfmCode, WorkedExample) {
    ByteVec data = Bytes({0x00, 0x00, 0x00, 0xFF, 0x0F});
    Coded c(data, 5);
    ASSERT_FALSE(c.tree.empty());
    ASSERT_EQ(c.nodeCount, 5);
    const Node* n = c.tree.data();
    EXPECT_EQ(n[0].symbol, 0x00);
    EXPECT_EQ(n[0].weight, 3);
    EXPECT_EQ(n[1].symbol, 0x0F);
    EXPECT_EQ(n[2].symbol, 0xFF);
    EXPECT_EQ(n[3].symbol, 256);
    EXPECT_EQ(n[3].left, 1);
    EXPECT_EQ(n[3].right, 2);
    EXPECT_EQ(n[4].symbol, 257);
    EXPECT_EQ(n[4].left, 3);
    EXPECT_EQ(n[4].right, 0);
    EXPECT_EQ(n[4].parent, -1);
    EXPECT_EQ(n[4].weight, 5);
    EXPECT_EQ(n[3].codeLength, 0);
    EXPECT_EQ(c.Code(0x00), "1");
    EXPECT_EQ(c.Code(0x0F), "00");
    EXPECT_EQ(c.Code(0xFF), "01");
    EXPECT_EQ(c.Pre(), (std::vector<int>{257, 256, 15, 255, 0}));
    EXPECT_EQ(c.In(), (std::vector<int>{15, 256, 255, 257, 0}));
    ASSERT_EQ(c.chunkCount, 1);
    EXPECT_TRUE(SameBytes(Bytes({0x01, 0xE8}), c.Chunk(0)));
}

// A one-value page gets a partner leaf at index 1 so its value has a one-bit
// code; every byte then costs one bit.
TEST(HfmCode, SingleValuePages) {
    struct Case {
        int value, partner;
    } cases[] = {{0x00, 0x01}, {0x7F, 0x80}, {0x80, 0x7F}, {0xFF, 0xFE}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.value);
        ByteVec data(1000, static_cast<unsigned char>(k.value));
        Coded c(data, 40);
        ASSERT_FALSE(c.tree.empty());
        ASSERT_EQ(c.nodeCount, 3);
        EXPECT_EQ(c.tree.data()[0].symbol, k.value);
        EXPECT_EQ(c.tree.data()[0].weight, 1000);
        EXPECT_EQ(c.tree.data()[1].symbol, k.partner);
        EXPECT_EQ(c.tree.data()[1].weight, 1);
        EXPECT_EQ(c.Code(k.value), "1");  // the lighter partner is the left child
        ASSERT_EQ(c.chunkCount, 1);
        // 1000 bits = 125 bytes, all ones, no padding.
        ByteVec expect(126, 0xFF);
        expect[0] = 0;
        EXPECT_TRUE(SameBytes(expect, c.Chunk(0)));
    }
}

TEST(HfmCode, AllByteValues) {
    ByteVec data;
    for (int rep = 0; rep < 3; ++rep)
        for (int v = 0; v < 256; ++v) data.push_back(static_cast<unsigned char>(v));
    Coded c(data, 256);
    ASSERT_FALSE(c.tree.empty());
    ASSERT_EQ(c.nodeCount, 511);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(c.tree.data()[i].symbol, i);
    for (int i = 256; i < 511; ++i) EXPECT_EQ(c.tree.data()[i].symbol, i);
    // Equal weights pair in ascending order: a complete tree, 8 bits a code.
    for (int v = 0; v < 256; ++v) EXPECT_EQ(c.tree.data()[v].codeLength, 8);
    EXPECT_EQ(c.Code(0), "00000000");
    EXPECT_EQ(c.Code(255), "11111111");
}

// Ties go to the lower index: equal leaves pair in byte order, and a leaf of
// the same weight as an internal node is taken before it.
TEST(HfmCode, TieBreaking) {
    Coded c(Bytes({'a', 'b', 'c', 'c'}), 4);
    ASSERT_EQ(c.nodeCount, 5);
    const Node* n = c.tree.data();
    EXPECT_EQ(n[3].left, 0);  // a
    EXPECT_EQ(n[3].right, 1);  // b
    EXPECT_EQ(n[4].left, 2);  // c (weight 2, index 2) before node 3 (weight 2)
    EXPECT_EQ(n[4].right, 3);

    CHfmCode hfm;
    int first = -2, second = -2;
    hfm.GetMinTreeNode(n, 0, &first, &second);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(second, -1);
}

// The tree is built with a heap; it must be the one that repeated
// GetMinTreeNode selection gives, node for node, on pages full of equal
// weights and on skewed ones.
TEST(HfmCode, TreeMatchesRepeatedMinimumSelection) {
    std::mt19937 rng(71);
    CHfmCode hfm;
    for (int round = 0; round < 60; ++round) {
        const int distinct = 1 + static_cast<int>(rng() % 256);
        ByteVec data(1 + rng() % 3000);
        for (auto& b : data)
            b = static_cast<unsigned char>(round % 3 ? rng() % distinct : (rng() % 7 ? 0 : rng() % distinct));
        const std::vector<Node> tree = hfm.GetHfmTree(data.data(), static_cast<int>(data.size()));
        const int count = static_cast<int>(tree.size());
        ASSERT_GT(count, 0);
        // The plain way: leaves as GetHfmTree laid them out, then one
        // GetMinTreeNode call per internal node.
        std::vector<Node> plain = tree;
        const int leaves = (count + 1) / 2;
        for (int i = leaves; i < count; ++i) plain[i].weight = plain[i].left = plain[i].right = 0;
        for (Node& n : plain) n.parent = -1;
        for (int q = leaves; q < count; ++q) {
            int first = -1, second = -1;
            hfm.GetMinTreeNode(plain.data(), q, &first, &second);
            ASSERT_GE(second, 0);
            const int64_t w = static_cast<int64_t>(plain[first].weight) + plain[second].weight;
            plain[q].weight = w > INT32_MAX ? INT32_MAX : static_cast<int32_t>(w);
            plain[q].left = first;
            plain[q].right = second;
            plain[first].parent = plain[second].parent = q;
        }
        for (int i = 0; i < count; ++i) {
            const Node& a = tree[i];
            ASSERT_EQ(a.weight, plain[i].weight) << round << " node " << i;
            ASSERT_EQ(a.left, plain[i].left) << round << " node " << i;
            ASSERT_EQ(a.right, plain[i].right) << round << " node " << i;
            ASSERT_EQ(a.parent, plain[i].parent) << round << " node " << i;
        }
    }
}

// Rows of a known bit cost: an all-equal page costs one bit per byte, so a
// row of R bytes costs R bits and the 2040-bit limit falls at a known row.
TEST(HfmCode, ChunkBoundaries) {
    struct Case {
        int rowBytes, rows, chunkLimit;
        std::vector<int> chunkRows;
    } cases[] = {
        {8, 600, 256, {254, 254, 92}},  // 255 rows would be exactly 2040 bits
        {10, 410, 256, {203, 203, 4}},  // 2030 bits, the next row would pass
        {2040, 3, 256, {1, 1, 1}},      // one row alone reaches the limit
        {2100, 2, 256, {1, 1}},
        {4, 5, 1, {1, 1, 1, 1, 1}},     // no room at all: a row each
        {4, 5, 0, {1, 1, 1, 1, 1}},
        {4, 5, 0x7fffffff, {5}},        // no overflow computing the limit
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.rowBytes << "x" << k.rows << " limit " << k.chunkLimit);
        ByteVec data(static_cast<size_t>(k.rowBytes) * k.rows, 0x00);
        Coded c(data, k.rowBytes, k.chunkLimit);
        ASSERT_NE(c.chunks, nullptr);
        ASSERT_EQ(c.chunkCount, static_cast<int>(k.chunkRows.size()));
        for (int i = 0; i < c.chunkCount; ++i) {
            int bits = k.chunkRows[i] * k.rowBytes;
            int n = (bits + 7) / 8;
            ASSERT_EQ(c.chunks[i].length, n + 1) << "chunk " << i;
            EXPECT_EQ(c.chunks[i].data[0], 8 * n - bits) << "chunk " << i;
            // Padding bits carry the next chunk's first bits (all ones
            // here); after the last chunk they are zero.
            unsigned char last = c.chunks[i].data[n];
            int pad = 8 * n - bits;
            unsigned char expect = i + 1 < c.chunkCount ? 0xFF : static_cast<unsigned char>(0xFF << pad);
            EXPECT_EQ(last, expect) << "chunk " << i;
        }
    }
}

// Random pages against a bit-by-bit reference: every chunk is the stream cut
// at the chunk's first bit, chunks hold whole rows, stay below the limit
// unless they are one row, and are as long as the limit allows; then the
// round trip through the decoder.
TEST(HfmCode, ChunksMatchReferenceStream) {
    std::mt19937 rng(1234);
    struct Case {
        int rowBytes, rows, distinct;
    } cases[] = {{48, 300, 256}, {48, 300, 3}, {4, 2000, 40}, {300, 20, 256}, {1, 5000, 2}, {72, 100, 17},
                   {1, 317810, 0}};  // 0: the Fibonacci page
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.rowBytes << "x" << k.rows << " values " << k.distinct);
        ByteVec data = k.distinct ? RandomPage(rng, static_cast<size_t>(k.rowBytes) * k.rows, k.distinct)
                                  : FibonacciPage(rng);
        Coded c(data, k.rowBytes);
        ASSERT_NE(c.chunks, nullptr);
        if (!k.distinct) {
            ASSERT_EQ(c.Code(0).size(), 25u);
        }
        std::vector<int> stream = ReferenceBits(c, data);
        std::vector<long> rowStart(k.rows + 1, 0);  // bit offset of each row
        for (int r = 0; r < k.rows; ++r) {
            long bits = 0;
            for (int i = 0; i < k.rowBytes; ++i) bits += c.Code(data[r * k.rowBytes + i]).size();
            rowStart[r + 1] = rowStart[r] + bits;
        }
        long pos = 0;
        int row = 0;
        for (int i = 0; i < c.chunkCount; ++i) {
            const unsigned char* p = c.chunks[i].data;
            long n = c.chunks[i].length - 1;
            long bits = 8 * n - p[0];
            ASSERT_LE(p[0], 7);
            ASSERT_GT(bits, 0);
            // Whole rows, starting where the previous chunk ended.
            int first = row;
            while (row < k.rows && rowStart[row + 1] - pos <= bits) ++row;
            ASSERT_EQ(rowStart[row] - pos, bits) << "chunk " << i << " splits a row";
            if (row - first > 1) {
                EXPECT_LT(bits, 2040) << "chunk " << i;
            }
            if (row < k.rows) {
                EXPECT_GE(rowStart[row + 1] - pos, 2040) << "chunk " << i << " stops early";
            }
            for (long b = 0; b < 8 * n; ++b) {
                int want = pos + b < static_cast<long>(stream.size()) ? stream[pos + b] : 0;
                int got = (p[1 + b / 8] >> (7 - b % 8)) & 1;
                ASSERT_EQ(got, want) << "chunk " << i << " bit " << b;
            }
            pos += bits;
        }
        EXPECT_EQ(row, k.rows);
        EXPECT_EQ(pos, static_cast<long>(stream.size()));

        // And back: the receiver's tree from the two traversals decodes the
        // chunks to the page, after the result has moved (its chunks must
        // still point into the storage that moved with them).
        const CHfmCode::HfmChunks moved = std::move(c.coded);
        c.coded = CHfmCode::HfmChunks();
        HfmDecoder dec;
        ASSERT_TRUE(dec.Build(c.pre.data(), c.in.data(), c.nodeCount));
        ByteVec back(data.size() + 1);
        size_t at = 0;
        ASSERT_EQ(moved.chunks.size(), static_cast<size_t>(c.chunkCount));
        for (size_t i = 0; i < moved.chunks.size(); ++i) {
            int n = dec.DecodeChunk(moved.chunks[i].data, moved.chunks[i].length, back.data() + at,
                                    static_cast<int>(back.size() - at));
            ASSERT_GT(n, 0) << "chunk " << i;
            at += static_cast<size_t>(n);
        }
        back.resize(at);
        EXPECT_TRUE(back == data);
    }
}

TEST(HfmCode, RejectsUnusableInput) {
    CHfmCode hfm;
    unsigned char byte = 0;
    EXPECT_TRUE(hfm.GetHfmTree(nullptr, 10).empty());
    EXPECT_TRUE(hfm.GetHfmTree(&byte, 0).empty());
    EXPECT_TRUE(hfm.GetHfmTree(&byte, -5).empty());
    EXPECT_TRUE(hfm.GetTreePreorder(nullptr, 3).empty());
    EXPECT_TRUE(hfm.GetTreeMiddleorder(nullptr, 3).empty());

    ByteVec page = Bytes({1, 2, 3, 3});
    Coded c(page, 4);
    ASSERT_FALSE(c.tree.empty());
    Node* n = c.tree.data();
    ByteVec other = Bytes({1, 2, 3, 4});  // 4 has no leaf in this tree
    EXPECT_TRUE(hfm.HFMDGencoding(n, c.nodeCount, other.data(), 4, 1, 256).chunks.empty());
    EXPECT_TRUE(hfm.HFMDGencoding(nullptr, c.nodeCount, page.data(), 4, 1, 256).chunks.empty());
    EXPECT_TRUE(hfm.HFMDGencoding(n, c.nodeCount, nullptr, 4, 1, 256).chunks.empty());
    EXPECT_TRUE(hfm.HFMDGencoding(n, c.nodeCount, page.data(), 0, 1, 256).chunks.empty());
    EXPECT_TRUE(hfm.HFMDGencoding(n, c.nodeCount, page.data(), 4, 0, 256).chunks.empty());

    // Traversals of a damaged array stop instead of looping or overrunning:
    // a cycle, a child out of range, and a node count that is too small.
    Node saved = n[3];
    n[3].left = 4;
    EXPECT_TRUE(hfm.GetTreePreorder(n, c.nodeCount).empty());
    EXPECT_TRUE(hfm.GetTreeMiddleorder(n, c.nodeCount).empty());
    n[3] = saved;
    n[4].right = 1000;
    EXPECT_TRUE(hfm.GetTreePreorder(n, c.nodeCount).empty());
    EXPECT_TRUE(hfm.GetTreeMiddleorder(n, c.nodeCount).empty());
    EXPECT_TRUE(hfm.GetTreePreorder(n, 600).empty());
}

TEST(HfmDecoder, RejectsInconsistentTrees) {
    HfmDecoder dec;
    struct Case {
        const char* what;
        std::vector<uint16_t> pre, in;
    } cases[] = {
        {"duplicate symbol", {257, 256, 15, 15, 0}, {15, 256, 15, 257, 0}},
        {"leaf above 255", {257, 256, 15, 300, 0}, {15, 256, 300, 257, 0}},
        {"single-child node", {257, 256, 15}, {15, 256, 257}},
        {"in-order is another set", {257, 256, 15, 255, 0}, {15, 256, 254, 257, 0}},
        {"inconsistent orders", {257, 256, 15, 255, 0}, {256, 15, 255, 257, 0}},
        {"a lone leaf", {7}, {7}},
    };
    for (const Case& k : cases) {
        EXPECT_FALSE(dec.Build(k.pre.data(), k.in.data(), static_cast<int>(k.pre.size()))) << k.what;
        EXPECT_FALSE(dec.IsValid()) << k.what;
    }
    EXPECT_FALSE(dec.BuildFromPayload(Bytes({1, 1, 0}).data(), 3));
    unsigned char chunk[] = {0, 0xFF};
    EXPECT_EQ(dec.DecodeChunk(chunk, 2, nullptr, 0), -1);  // no tree
}

TEST(HfmDecoder, RejectsMalformedChunks) {
    // The worked example's tree: 00 -> 1, 0F -> 00, FF -> 01.
    std::vector<uint16_t> pre = {257, 256, 15, 255, 0}, in = {15, 256, 255, 257, 0};
    HfmDecoder dec;
    ASSERT_TRUE(dec.Build(pre.data(), in.data(), 5));
    unsigned char out[8];
    unsigned char good[] = {0x01, 0xE8};
    EXPECT_EQ(dec.DecodeChunk(good, 2, out, 8), 5);
    EXPECT_TRUE(SameBytes(Bytes({0, 0, 0, 0xFF, 0x0F}), ByteVec(out, out + 5)));
    EXPECT_EQ(dec.DecodeChunk(good, 2, out, 4), -1);  // too small a buffer
    unsigned char badPad[] = {0x08, 0xE8};
    EXPECT_EQ(dec.DecodeChunk(badPad, 2, out, 8), -1);
    unsigned char midCode[] = {0x02, 0xE8};  // six bits: ends inside "00"
    EXPECT_EQ(dec.DecodeChunk(midCode, 2, out, 8), -1);
    unsigned char padOnly[] = {0x01};
    EXPECT_EQ(dec.DecodeChunk(padOnly, 1, out, 8), -1);
}
