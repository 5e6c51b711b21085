// The printer application's test label: the printer's name and driver, its
// resolution, millimetre rulers along two edges and a 16-step grey ramp,
// drawn at the printer's own size so that it shows what the head reaches,
// whether the dots are square and how each dither renders grey.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DfTestPage {
    int width = 0;                // dots
    int height = 0;               // dots
    std::vector<uint8_t> pixels;  // 8-bit grey, 255 = white, row after row
};

// Draws the label; false when the size is empty or absurd (over 64 Mdots).
bool DfDrawTestPage(DfTestPage& page, int width, int height, int dpi, const std::string& title,
                    const std::string& subtitle);

// Writes a page as an 8-bit grey PNG carrying its resolution.
bool DfWriteTestPagePng(const DfTestPage& page, int dpi, const char* path);
