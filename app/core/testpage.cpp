// Test label drawing: a 5x7 dot font, rulers, a grey ramp, and PNG output.
#include "app/core/testpage.h"

#include <png.h>

#include <cctype>
#include <cstdio>

namespace {

// Upper-case letters, digits and the punctuation a printer name or a
// resolution needs, five columns by seven rows, top row first, bit 4 the
// leftmost column. Lower case is drawn as upper case; anything else as a box.
struct Glyph {
    char c;
    uint8_t rows[7];
};

const Glyph kFont[] = {
    {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'-', {0, 0, 0, 0x1F, 0, 0, 0}},
    {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},
    {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},
    {'/', {0x01, 0x02, 0x02, 0x04, 0x08, 0x08, 0x10}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'_', {0, 0, 0, 0, 0, 0, 0x1F}},
    {',', {0, 0, 0, 0, 0x0C, 0x04, 0x08}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
};

const uint8_t kUnknown[7] = {0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F};

const uint8_t* GlyphRows(char c) {
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kFont)
        if (g.c == c) return g.rows;
    return kUnknown;
}

struct Canvas {
    DfTestPage& page;
    void Fill(int x0, int y0, int w, int h, uint8_t v) {
        for (int y = y0 < 0 ? 0 : y0; y < y0 + h && y < page.height; ++y)
            for (int x = x0 < 0 ? 0 : x0; x < x0 + w && x < page.width; ++x)
                page.pixels[static_cast<size_t>(y) * page.width + x] = v;
    }
    // Draws text with each font dot as a scale x scale square; returns the
    // width drawn.
    int Text(int x, int y, const std::string& text, int scale) {
        int at = x;
        for (char c : text) {
            const uint8_t* rows = GlyphRows(c);
            for (int r = 0; r < 7; ++r)
                for (int col = 0; col < 5; ++col)
                    if (rows[r] & (0x10 >> col)) Fill(at + col * scale, y + r * scale, scale, scale, 0);
            at += 6 * scale;
        }
        return at - x;
    }
};

}  // namespace

bool DfDrawTestPage(DfTestPage& page, int width, int height, int dpi, const std::string& title,
                    const std::string& subtitle) {
    if (width <= 0 || height <= 0 || dpi <= 0 || static_cast<long long>(width) * height > (64LL << 20))
        return false;
    page.width = width;
    page.height = height;
    page.pixels.assign(static_cast<size_t>(width) * height, 255);
    Canvas c{page};

    const double dotsPerMm = dpi / 25.4;
    const int line = dpi >= 250 ? 3 : 2;
    // A frame one line inside the edge shows where the head's reach ends.
    c.Fill(0, 0, width, line, 0);
    c.Fill(0, height - line, width, line, 0);
    c.Fill(0, 0, line, height, 0);
    c.Fill(width - line, 0, line, height, 0);

    // Rulers: a tick every millimetre, longer every 5 and 10.
    const int tick = static_cast<int>(dotsPerMm * 1.5);
    for (int mm = 1; mm * dotsPerMm < width; ++mm) {
        const int x = static_cast<int>(mm * dotsPerMm);
        const int len = mm % 10 == 0 ? tick * 3 : mm % 5 == 0 ? tick * 2 : tick;
        c.Fill(x, line, 1, len, 0);
    }
    for (int mm = 1; mm * dotsPerMm < height; ++mm) {
        const int y = static_cast<int>(mm * dotsPerMm);
        const int len = mm % 10 == 0 ? tick * 3 : mm % 5 == 0 ? tick * 2 : tick;
        c.Fill(line, y, len, 1, 0);
    }

    // Text sized to about 2.5 mm capitals, smaller if the name would not fit.
    const int margin = tick * 3 + line * 2 + static_cast<int>(dotsPerMm);
    // A line too long for the label at its size is drawn smaller, down to
    // one dot per font dot.
    auto fit = [&](const std::string& text, int scale) {
        while (scale > 1 && margin + static_cast<int>(text.size()) * 6 * scale > width - line) --scale;
        return scale;
    };
    int big = static_cast<int>(dotsPerMm * 2.5 / 7);
    if (big < 1) big = 1;
    const int small = big > 1 ? big - big / 3 : 1;
    const std::string size =
        std::to_string(dpi) + " DPI  " + std::to_string(width) + "X" + std::to_string(height) + " DOTS";
    int y = margin;
    for (const auto& [text, scale] :
         {std::make_pair(title, big), std::make_pair(subtitle, small), std::make_pair(size, small)}) {
        const int s = fit(text, scale);
        c.Text(margin, y, text, s);
        y += 9 * s;
    }
    y += static_cast<int>(dotsPerMm);

    // The grey ramp: 16 steps from white to black across the free width.
    const int rampH = static_cast<int>(dotsPerMm * 6);
    if (y + rampH < height - line) {
        const int rampW = width - 2 * margin;
        for (int step = 0; step < 16 && rampW >= 16; ++step) {
            const int x0 = margin + rampW * step / 16;
            const int x1 = margin + rampW * (step + 1) / 16;
            c.Fill(x0, y, x1 - x0, rampH, static_cast<uint8_t>(255 - step * 17));
        }
        c.Fill(margin, y + rampH, rampW, 1, 0);
        c.Fill(margin, y - 1, rampW, 1, 0);
    }
    return true;
}

bool DfWriteTestPagePng(const DfTestPage& page, int dpi, const char* path) {
    if (page.width <= 0 || page.height <= 0 ||
        page.pixels.size() != static_cast<size_t>(page.width) * page.height)
        return false;
    FILE* fp = fopen(path, "wb");
    if (!fp) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    volatile bool ok = false;  // survives a longjmp from libpng
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, fp);
        png_set_IHDR(png, info, static_cast<png_uint_32>(page.width), static_cast<png_uint_32>(page.height),
                     8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        const png_uint_32 ppm = static_cast<png_uint_32>(dpi / 0.0254 + 0.5);
        png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
        png_write_info(png, info);
        for (int y = 0; y < page.height; ++y)
            png_write_row(png, const_cast<png_bytep>(&page.pixels[static_cast<size_t>(y) * page.width]));
        png_write_end(png, info);
        ok = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    const bool closed = fclose(fp) == 0;
    return ok && closed;
}
