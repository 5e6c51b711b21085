// Test helper: reads a Paperang byte stream back. ParsePaperangStream splits
// it into frames, checking every framing byte, length field and checksum
// (recomputed with zlib's crc32, independently of the renderer's own table),
// for tests that look at frame payloads. Pages are decoded by the preview's
// decoder, the one stream decoder of the tests.
#pragma once

#include <string>
#include <vector>

struct PaperangFrame {
    int command = -1;                    // record byte 1
    std::vector<unsigned char> payload;  // the record after its 5-byte head
};

struct PaperangPage {
    int rowBytes = 0;                 // from the bitmap headers
    int chunks = 0;                   // bitmap frames received
    int treeNodes = 0;                // 0: no tree frame
    std::vector<unsigned char> bits;  // the decoded page, row after row
    std::vector<int> commands;        // every command code of the page, in order
};

// Splits s into frames. False (with the reason in *error) on any framing,
// length or checksum fault.
bool ParsePaperangStream(const std::vector<unsigned char>& s, std::vector<PaperangFrame>* frames,
                         std::string* error);

// The pages of a whole stream as the preview decodes them: the command of
// every frame of a page, its chunk count, tree size and the page bytes (1 =
// black, row after row). False (with the reason) on any fault.
bool DecodePaperangStream(const std::vector<unsigned char>& s, std::vector<PaperangPage>* pages,
                          std::string* error);
