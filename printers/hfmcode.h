// CHfmCode: the static Huffman code of the Paperang bitmap protocol. One tree
// per page from the byte frequencies of the whole page, sent to the printer
// as two traversals of node symbols; the page itself goes out in chunks of
// whole rows, each prefixed by its count of padding bits.
//
// Every result is a value the caller owns (vectors); on bad arguments a
// function returns an empty one.
#pragma once

#include <cstdint>
#include <vector>

class CHfmCode {
public:
    // One tree node. The tree is a flat array: leaves first in ascending byte
    // value, then the internal nodes in creation order; the root is last.
    struct HGMRNCODENODE {
        int32_t weight;  // leaf: occurrences; internal: sum of children
        int32_t left;    // child indexes, -1 for none
        int32_t right;
        int32_t parent;      // -1 for the root (and before linking)
        int32_t codeLength;  // leaf: number of code bits; 0 for internal nodes
        uint16_t symbol;     // leaf: byte value; internal: 256 + creation order
        uint8_t code[256];   // leaf: code bits, one per element, root side first
    };

    // One encoded chunk: byte 0 is the number of padding bits in the last
    // byte (0-7), then the code bits packed MSB first. It points into the
    // storage of the HfmChunks it came in.
    struct HFMCHUNK {
        unsigned char* data;
        int32_t length;
    };

    // A result of HFMDGencoding: the chunks and the one block they lie in.
    // Moved, never copied, so the chunks keep pointing at their own storage.
    struct HfmChunks {
        HfmChunks() = default;
        HfmChunks(HfmChunks&&) = default;
        HfmChunks& operator=(HfmChunks&&) = default;
        HfmChunks(const HfmChunks&) = delete;
        HfmChunks& operator=(const HfmChunks&) = delete;

        std::vector<HFMCHUNK> chunks;  // empty: the page could not be encoded
        std::vector<unsigned char> storage;
    };

    CHfmCode() {}
    ~CHfmCode() {}

    // Builds the tree over length bytes of data: 2 * leaves - 1 nodes, at
    // least 3 (none without data).
    std::vector<HGMRNCODENODE> GetHfmTree(const unsigned char* data, int length);

    // Selection step of the tree building: among nodes[0..count-1] without a
    // parent, *first gets the lightest and *second the next lightest; equal
    // weights go to the lower index. Either is -1 when there is no candidate.
    void GetMinTreeNode(const HGMRNCODENODE* nodes, int count, int* first, int* second);

    // The node symbols in pre-order / in-order, nodeCount entries each.
    // Empty when the array does not describe a tree of exactly nodeCount
    // nodes reachable from the last element.
    std::vector<uint16_t> GetTreePreorder(const HGMRNCODENODE* nodes, int nodeCount);
    std::vector<uint16_t> GetTreeMiddleorder(const HGMRNCODENODE* nodes, int nodeCount);

    // Encodes rows * rowBytes bytes of data, cut into chunks of whole rows
    // below (chunkLimit - 1) * 8 bits each (a single row longer than that
    // gets a chunk of its own). No chunks when the arguments are unusable,
    // a data byte has no leaf in the tree or a chunk would not fit its
    // 32-bit length.
    HfmChunks HFMDGencoding(const HGMRNCODENODE* nodes, int nodeCount, const unsigned char* data,
                            int rowBytes, int rows, int chunkLimit);

private:
    // Recursive steps of the traversals. They stop (and push *written past
    // nodeCount) on an index out of range or a path deeper than the node
    // count, so a damaged array cannot make them loop or overrun out.
    void TreePreorder(const HGMRNCODENODE* nodes, int nodeCount, int index, int depth, uint16_t* out,
                      int* written);
    void TreeMiddleorder(const HGMRNCODENODE* nodes, int nodeCount, int index, int depth, uint16_t* out,
                         int* written);
};
