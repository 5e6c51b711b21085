// Test helper: reads a Paperang byte stream back. It splits the stream into
// frames, checking every framing byte, length field and checksum, and turns
// each page's tree and bitmap frames back into the page bytes with
// HfmDecoder. The checksum is recomputed with zlib's crc32, independently of
// the renderer's own table.
#pragma once

#include <string>
#include <vector>

struct PaperangFrame {
    int command = -1;                    // record byte 1
    std::vector<unsigned char> payload;  // the record after its 5-byte head
};

struct PaperangPage {
    int rowBytes = 0;                  // from the bitmap headers
    int chunks = 0;                    // bitmap frames received
    int treeNodes = 0;                 // 0: no tree frame
    std::vector<unsigned char> bits;   // the decoded page, row after row
    std::vector<int> commands;         // every command code of the page, in order
};

// Splits s into frames. False (with the reason in *error) on any framing,
// length or checksum fault.
bool ParsePaperangStream(const std::vector<unsigned char>& s, std::vector<PaperangFrame>* frames,
                         std::string* error);

// Groups frames into pages (start printing opens a page; the frames up to
// the next start belong to it) and decodes each page's bitmap. Checks that
// chunk indexes count up from 0 and that every bitmap header agrees with its
// frame. False (with the reason) on any inconsistency.
bool DecodePaperangPages(const std::vector<PaperangFrame>& frames, std::vector<PaperangPage>* pages,
                         std::string* error);

// Both steps over a whole stream.
bool DecodePaperangStream(const std::vector<unsigned char>& s, std::vector<PaperangPage>* pages,
                          std::string* error);
