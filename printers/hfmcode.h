// CHfmCode: the static Huffman code of the Paperang bitmap protocol. One tree
// per page from the byte frequencies of the whole page, sent to the printer
// as two traversals of node symbols; the page itself goes out in chunks of
// whole rows, each prefixed by its count of padding bits.
//
// Every result is a malloc'd block owned by the caller: free() the node array
// and the traversal arrays, and hand chunk arrays to FreeChunks(). On any
// failure (bad arguments, allocation failure) the functions return null and
// leave nothing allocated behind.
#pragma once

#include <cstdint>

class CHfmCode {
public:
    // One tree node. The tree is a flat array: leaves first in ascending byte
    // value, then the internal nodes in creation order; the root is last.
    struct HGMRNCODENODE {
        int32_t weight;      // leaf: occurrences; internal: sum of children
        int32_t left;        // child indexes, -1 for none
        int32_t right;
        int32_t parent;      // -1 for the root (and before linking)
        int32_t codeLength;  // leaf: number of code bits; 0 for internal nodes
        uint16_t symbol;     // leaf: byte value; internal: 256 + creation order
        uint8_t code[256];   // leaf: code bits, one per element, root side first
    };

    // One encoded chunk: byte 0 is the number of padding bits in the last
    // byte (0-7), then the code bits packed MSB first. All chunks of one
    // result share a single storage block (see FreeChunks).
    struct HFMCHUNK {
        unsigned char* data;
        int32_t length;
    };

    CHfmCode() {}
    ~CHfmCode() {}

    // Builds the tree over length bytes of data and stores the number of
    // nodes (2 * leaves - 1, at least 3) in *nodeCount.
    HGMRNCODENODE* GetHfmTree(const unsigned char* data, int length, int* nodeCount);

    // Selection step of the tree building: among nodes[0..count-1] without a
    // parent, *first gets the lightest and *second the next lightest; equal
    // weights go to the lower index. Either is -1 when there is no candidate.
    void GetMinTreeNode(const HGMRNCODENODE* nodes, int count, int* first, int* second);

    // The node symbols in pre-order / in-order, nodeCount entries each.
    // Null when the array does not describe a tree of exactly nodeCount
    // nodes reachable from the last element.
    uint16_t* GetTreePreorder(const HGMRNCODENODE* nodes, int nodeCount);
    uint16_t* GetTreeMiddleorder(const HGMRNCODENODE* nodes, int nodeCount);

    // Encodes rows * rowBytes bytes of data, cut into chunks of whole rows
    // below (chunkLimit - 1) * 8 bits each (a single row longer than that
    // gets a chunk of its own). Returns the chunk array and its size in
    // *chunkCount, or null (with *chunkCount untouched) when the arguments
    // are unusable, a data byte has no leaf in the tree, a chunk would not
    // fit its 32-bit length, or an allocation fails.
    HFMCHUNK* HFMDGencoding(const HGMRNCODENODE* nodes, int nodeCount, const unsigned char* data,
                            int rowBytes, int rows, int chunkLimit, int* chunkCount);

    // Releases a result of HFMDGencoding (null is fine).
    static void FreeChunks(HFMCHUNK* chunks, int chunkCount);

private:
    // Recursive steps of the traversals. They stop (and push *written past
    // nodeCount) on an index out of range or a path deeper than the node
    // count, so a damaged array cannot make them loop or overrun out.
    void TreePreorder(const HGMRNCODENODE* nodes, int nodeCount, int index, int depth, uint16_t* out,
                      int* written);
    void TreeMiddleorder(const HGMRNCODENODE* nodes, int nodeCount, int index, int depth, uint16_t* out,
                         int* written);
};
