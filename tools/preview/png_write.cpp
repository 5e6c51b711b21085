// PNG output of the preview: one 1-bit greyscale PNG per page.
#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/preview/preview.h"

// libpng reports errors by longjmp; nothing with a destructor may live
// between the setjmp and the calls that can jump, hence the plain C below.
static const char* WritePng(const PreviewPage& page, FILE* f) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return "libpng could not start";
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return "libpng could not start";
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return "libpng failed while writing";
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)page.width, (png_uint_32)page.height, 1, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (page.dpi > 0) {
        png_uint_32 ppm = (png_uint_32)(page.dpi / 0.0254 + 0.5);
        png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    // In a grey PNG 0 is black; the page has 1 = black.
    png_set_invert_mono(png);
    for (int y = 0; y < page.height; y++)
        png_write_row(png, const_cast<png_bytep>(&page.bits[(size_t)y * page.rowBytes]));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return nullptr;
}

bool WritePagePng(const PreviewPage& page, const std::string& path, std::string* error) {
    if (page.width <= 0 || page.height <= 0) {
        *error = "the page has no dots";
        return false;
    }
    if (page.bits.size() < page.rowBytes * (size_t)page.height || page.rowBytes < ((size_t)page.width + 7) / 8) {
        *error = "inconsistent page storage";
        return false;
    }
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    const char* why = WritePng(page, f);
    bool closed = fclose(f) == 0;
    if (why || !closed) {
        *error = path + ": " + (why ? why : strerror(errno));
        remove(path.c_str());
        return false;
    }
    return true;
}
