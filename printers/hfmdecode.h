// HfmDecoder: the receiving side of the Paperang bitmap code. It rebuilds the
// code tree from the two symbol traversals that the tree frame carries and
// turns coded chunks back into page bytes, as the printer does. Used by the
// tests and by tools that show what a Paperang stream would print.
#pragma once

#include <cstdint>

class HfmDecoder {
public:
    // Nodes a tree over byte values can have (256 leaves).
    static constexpr int kMaxNodes = 511;

    HfmDecoder();

    // Rebuilds the tree from nodeCount pre-order and nodeCount in-order
    // symbols. Fails (and leaves the decoder empty) unless they describe one
    // tree with distinct symbols in which every node has zero or two
    // children, every leaf is a byte value and there are at least two leaves.
    bool Build(const uint16_t* preorder, const uint16_t* inorder, int nodeCount);

    // The same from a tree frame payload: the pre-order symbols, then the
    // in-order symbols, two bytes each, low byte first.
    bool BuildFromPayload(const unsigned char* payload, int length);

    bool IsValid() const { return m_root >= 0; }
    int NodeCount() const { return m_count; }

    // Decodes one chunk (byte 0: padding bits in the last byte, then the
    // code bits MSB first). Writes the bytes to out and returns how many
    // there are; with out null it only counts them. Returns -1 when there is
    // no tree, the chunk is malformed (padding count above 7, bits ending
    // inside a code) or out would need more than outCap bytes.
    int DecodeChunk(const unsigned char* chunk, int length, unsigned char* out, int outCap) const;

private:
    int BuildRange(const uint16_t* pre, const uint16_t* in, int lo, int hi, int* next);

    int16_t m_left[kMaxNodes];
    int16_t m_right[kMaxNodes];
    uint16_t m_symbol[kMaxNodes];
    int m_count;
    int m_root;
};
