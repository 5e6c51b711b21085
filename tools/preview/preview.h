// The printer-stream decoder behind dotforge-preview: turns the bytes that a
// renderer sent back into page pictures and a readable command listing.
//
// One entry point, DecodePrinterStream, dispatches on the command family.
// Decoding stops at the first fault; everything decoded up to it (listing
// lines, finished pages and the page in progress) stays in the result, so a
// damaged job still shows how far it got.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "printers/family.h"

// A command family, as the PPD's model number of its descriptor
// (printers/families.h lists them); Unknown when none is known.
enum class PreviewFamily { Unknown = 0 };
inline PreviewFamily PreviewFamilyOf(const DfFamily& family) {
    return static_cast<PreviewFamily>(family.modelNumber);
}

// Limits on what a stream may ask for, so that a damaged length field or a
// hostile stream (a bitmap placed far off the label, thousands of pages) can
// never make the decoder reserve absurd amounts of memory. The largest real
// page (a 4-inch head at 600 dpi on a 1 m label, 65535 rows of a receipt) is
// well inside them.
constexpr int kPreviewMaxDots = 65535;                            // per page side
constexpr int64_t kPreviewMaxPageDots = 64ll << 20;               // 64 Mdots a page
constexpr size_t kPreviewMaxPageBytes = kPreviewMaxPageDots / 8;  // 8 MiB packed
constexpr size_t kPreviewMaxJobPageBytes = 128u << 20;            // all pages of one stream
constexpr size_t kPreviewMaxPages = 10000;                        // pages of one stream
constexpr size_t kPreviewMaxWidenBytes = 256u << 20;              // copied to widen pages, per stream
constexpr size_t kPreviewMaxListing = 200000;                     // listing lines kept
// "at most 65535 dots a side and 64 million dots", for messages.
const char* PreviewPageLimitText();

// One decoded page: packed rows, most significant bit = leftmost dot,
// 1 = black. The bits after the last dot of a row are always 0.
struct PreviewPage {
    int width = 0;        // dots
    int height = 0;       // rows
    size_t rowBytes = 0;  // (width + 7) / 8
    std::vector<uint8_t> bits;
    // False for a page that the stream left unfinished (no page end
    // command before the fault or the end of the data).
    bool complete = true;
    // Resolution found for the page, 0 when the stream does not tell.
    int dpi = 0;

    bool Black(int x, int y) const {
        return x >= 0 && y >= 0 && x < width && y < height &&
               (bits[(size_t)y * rowBytes + (size_t)(x >> 3)] & (0x80 >> (x & 7))) != 0;
    }
};

struct PreviewLine {
    size_t offset;  // stream offset of the command's first byte
    std::string text;
};

struct PreviewResult {
    PreviewFamily family = PreviewFamily::Unknown;
    std::vector<PreviewPage> pages;
    std::vector<PreviewLine> listing;
    bool ok = true;
    size_t errorOffset = 0;  // where the fault was found
    std::string error;       // what was expected there
};

// Guesses the family from the first bytes; Unknown when nothing fits.
PreviewFamily DetectFamily(const uint8_t* data, size_t len);

// "TSPL", "ESC/POS", ... for messages.
const char* FamilyName(PreviewFamily family);

// Accepts a model number, a family's name as its descriptor writes it
// (TSPL, ESC/POS; any case) or as its drivers' names begin (tspl, escpos),
// or a driver name (escpos-58). Unknown when the text is none of them, or
// names a family without a decoder.
PreviewFamily ParseFamily(const char* text);

// The print head's width in dots for a driver (escpos-58, peripage-57, ...)
// or a family whose drivers all have the same head (peripage, 24), as the
// family descriptors give it; 0 when the name does not tell it.
int ParseHeadDots(const char* text);
// The same for a family.
int FamilyHeadDots(PreviewFamily family);

class DecodeContext;

// One family's decoder. tools/preview/decode_<family>.cpp defines it as
// kDf<Family>Decoder, named after the family's descriptor kDf<Family>; the
// family's line in DF_FAMILY_LIST (printers/families.h) puts both in the
// lists. RegisterPreviewDecoder adds one for a family registered at run
// time (the test build's fake family).
struct PreviewDecoder {
    // Whether a stream's first bytes are this family's; may be null. No
    // two families' detections take the same bytes.
    bool (*detect)(const uint8_t* data, size_t len);
    bool (*decode)(DecodeContext& ctx);
};
// False when the family has a decoder already.
bool RegisterPreviewDecoder(const DfFamily& family, const PreviewDecoder& decoder);
// The families with a decoder, in model number order.
std::vector<const DfFamily*> PreviewFamilies();
// The family's decoder, or nullptr.
const PreviewDecoder* FindPreviewDecoder(PreviewFamily family);
// The model numbers and names --model takes: "20 (tspl), 21 (escpos), ...".
std::string PreviewModelNames();
// The name --model takes for a family besides its number: "escpos".
std::string PreviewFamilyKey(const DfFamily& family);

// Decodes len bytes of a stream of the given family (Unknown: detect it).
// headDots: the print head's width when known (0: unknown). ESC/POS and
// PeriPage printers centre a narrower bitmap after ESC a 1, so with a known
// head such a page is drawn centred on a head-wide page, as it comes out.
// Returns result->ok.
bool DecodePrinterStream(const uint8_t* data, size_t len, PreviewFamily family, PreviewResult* result,
                         int headDots = 0);

// Writes the page as a 1-bit greyscale PNG, black dots black. False (with a
// reason in *error) when the page is empty or the file cannot be written.
bool WritePagePng(const PreviewPage& page, const std::string& path, std::string* error);
