// Shared by the family decoders of dotforge-preview: the stream context with
// its listing and fault reporting, the page canvas operations, byte-order
// readers and the zlib helper. Not part of the decoder's public interface.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tools/preview/preview.h"

// How a bitmap is combined with what the page already holds.
enum class BlitOp { Overwrite, Or, Xor };

// True when a page of width x height dots stays within the limits.
bool PageSizeOk(int64_t width, int64_t height);
// Grows the page to at least width x height, keeping its content; false
// (page unchanged) when that would pass the limits.
bool PageGrow(PreviewPage* page, int64_t width, int64_t height);
// Sets the page to exactly width x height (within the limits), cropping or
// padding with white.
void PageResize(PreviewPage* page, int width, int height);
// Draws rows x (srcRowBytes * 8) dots at (x, y); whatever falls outside the
// page is clipped. blackIsZero: the source uses 0 for a black dot.
void PageBlit(PreviewPage* page, int64_t x, int64_t y, const uint8_t* src, size_t srcRowBytes, size_t rows,
              bool blackIsZero, BlitOp op);
// True when any dot of the page is black.
bool PageHasInk(const PreviewPage& page);

class DecodeContext {
public:
    DecodeContext(const uint8_t* data, size_t len, PreviewResult* result)
        : data(data), len(len), result(result) {}

    const uint8_t* const data;
    const size_t len;
    PreviewResult* const result;
    int headDots = 0;         // the print head's width, 0 when unknown
    size_t pageBytes = 0;     // storage of the pages added so far
    size_t widenedBytes = 0;  // page bytes copied to widen pages so far

    size_t Left(size_t pos) const { return pos < len ? len - pos : 0; }

    void List(size_t offset, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Records the fault (the first one wins) and returns false.
    bool Fail(size_t offset, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Fails unless n bytes are left at pos; what names the item being read.
    bool Need(size_t pos, size_t n, const char* what);

    // Appends a decoded page and lists where it ends; false (a fault, the
    // page dropped) when the stream's pages together would take more than
    // kPreviewMaxJobPageBytes.
    bool AddPage(PreviewPage&& page, size_t offset);

    // PageGrow within the stream's budget for widening pages: a wider row
    // copies the whole page, so a stream of bitmaps each a little further
    // right would otherwise copy without end. False (a fault at pos when
    // the budget is spent) when the page cannot grow.
    bool Grow(PreviewPage* page, int64_t width, int64_t height, size_t pos);

    // A status query of any family at pos (the app and the filter ask
    // before a job and between pages): lists it, sets *next past it and
    // returns true; false when the bytes at pos are not a whole query.
    bool StatusQuery(size_t pos, size_t* next);

    // Reads the text command line at pos (TSPL, CPCL): printable ASCII ending
    // in LF or CR LF, at most 1024 bytes. *next is where the following
    // command starts; *line is the line without its end.
    bool CommandLine(size_t pos, size_t* next, std::string* line);
};

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VPrintf(const char* format, va_list ap);
// Up to max bytes as "1B 40 00", with "..." when there are more.
std::string HexBytes(const uint8_t* p, size_t n, size_t max = 8);

inline uint16_t LE16(const uint8_t* p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}
inline uint16_t BE16(const uint8_t* p) {
    return (uint16_t)((p[0] << 8) | p[1]);
}
inline uint32_t LE32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline uint32_t BE32(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

// Inflates srcLen bytes into exactly expected bytes. windowBits as for
// inflateInit2 (15: zlib stream with its own Adler-32 check, -15: raw
// deflate). The stream must end exactly at srcLen. On failure *why says
// what went wrong.
bool InflateExact(const uint8_t* src, size_t srcLen, int windowBits, size_t expected,
                  std::vector<uint8_t>* out, std::string* why);

// Deflate cannot expand more than about 1032:1; a header that promises more
// from fewer bytes is damaged, and refusing it spares a useless allocation.
inline bool InflateRatioPlausible(size_t compressed, size_t expected) {
    return expected <= compressed * (size_t)1040 + 64;
}

inline bool StartsWith(const uint8_t* data, size_t len, std::initializer_list<uint8_t> prefix) {
    return len >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data);
}
