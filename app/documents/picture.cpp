// PNG and JPEG decoding into grey for the printer application, and the
// placement of a picture on its page. The decoders read row by row and reduce
// as they go, so a picture far larger than the label costs one source row and
// the reduced image; libpng and libjpeg report errors by longjmp, so the
// functions that call setjmp hold no objects of their own.
#include "app/documents/picture.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>

namespace {

// The largest whole factor that keeps width x height at least the box.
unsigned ReduceFactor(unsigned width, unsigned height, unsigned boxWidth, unsigned boxHeight) {
    if (!boxWidth || !boxHeight) return 1;
    const unsigned k = std::min(width / boxWidth, height / boxHeight);
    return k ? k : 1;
}

// Rows in, each k x k block out as its mean.
class Reducer {
public:
    bool Start(unsigned width, unsigned height, unsigned k, DfGreyImage& out, std::string& error) {
        m_width = width;
        m_k = k;
        m_out = &out;
        out.width = (width + k - 1) / k;
        out.height = (height + k - 1) / k;
        m_height = height;
        if (static_cast<unsigned long long>(out.width) * out.height > kDfPictureMaxPixels) {
            error = "the picture is too large (" + std::to_string(width) + "x" + std::to_string(height) +
                    " pixels)";
            return false;
        }
        out.pixels.assign(static_cast<size_t>(out.width) * out.height, 255);
        m_sums.assign(out.width, 0);
        m_row = m_rowInBlock = 0;
        return true;
    }
    void Add(const unsigned char* grey) {
        if (m_row >= m_height) return;
        unsigned char* dst = &m_out->pixels[static_cast<size_t>(m_row / m_k) * m_out->width];
        if (m_k == 1) {
            memcpy(dst, grey, m_width);
            m_row++;
            return;
        }
        for (unsigned x = 0; x < m_width; x++) m_sums[x / m_k] += grey[x];
        m_row++;
        if (++m_rowInBlock == m_k || m_row == m_height) {
            for (unsigned bx = 0; bx < m_out->width; bx++) {
                const unsigned cols = std::min(m_k, m_width - bx * m_k);
                const uint32_t n = cols * m_rowInBlock;
                dst[bx] = static_cast<unsigned char>((m_sums[bx] + n / 2) / n);
            }
            std::fill(m_sums.begin(), m_sums.end(), 0);
            m_rowInBlock = 0;
        }
    }

private:
    DfGreyImage* m_out = nullptr;
    std::vector<uint32_t> m_sums;
    unsigned m_width = 0, m_height = 0, m_k = 1, m_row = 0, m_rowInBlock = 0;
};

std::string SizeText(unsigned long width, unsigned long height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// ---- PNG ----

struct PngJob {
    jmp_buf jump;
    std::string* error;
    std::string* warning;               // the last one: says why IHDR was refused
    std::vector<unsigned char>* row;    // one decoded row
    std::vector<unsigned char>* whole;  // every row, for interlaced pictures
    std::vector<unsigned char>* grey;
    Reducer* reducer;
    unsigned boxWidth, boxHeight;
    DfGreyImage* out;
};

void PngError(png_structp png, png_const_charp message) {
    PngJob* job = static_cast<PngJob*>(png_get_error_ptr(png));
    *job->error = message;
    if (!job->warning->empty()) *job->error += " (" + *job->warning + ")";
    longjmp(job->jump, 1);
}

// Ancillary trouble only: the picture still decodes. Kept for the error
// that may follow.
void PngWarning(png_structp png, png_const_charp message) {
    *static_cast<PngJob*>(png_get_error_ptr(png))->warning = message;
}

void PngRowToGrey(const unsigned char* row, unsigned width, unsigned channels, unsigned char* grey) {
    if (channels == 1) {
        memcpy(grey, row, width);
        return;
    }
    for (unsigned x = 0; x < width; x++, row += 2) {  // grey and alpha over white
        const unsigned a = row[1];
        grey[x] = static_cast<unsigned char>((row[0] * a + 255 * (255 - a) + 127) / 255);
    }
}

bool PngRead(png_structp png, png_infop info, FILE* file, PngJob* job) {
    if (setjmp(job->jump)) return false;
    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, kDfPictureMaxSide, kDfPictureMaxSide);
    png_set_chunk_malloc_max(png, 8u << 20);
    png_read_info(png, info);
    const unsigned width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    if (png_get_color_type(png, info) & PNG_COLOR_MASK_COLOR) png_set_rgb_to_gray_fixed(png, 1, -1, -1);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const unsigned channels = png_get_channels(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    if ((channels != 1 && channels != 2) || rowBytes < static_cast<size_t>(width) * channels)
        png_error(png, "unexpected row layout");
    if (!job->reducer->Start(width, height, ReduceFactor(width, height, job->boxWidth, job->boxHeight),
                             *job->out, *job->error))
        return false;
    job->grey->resize(width);
    if (passes > 1) {
        // Interlaced rows are complete only after the last pass.
        if (static_cast<unsigned long long>(rowBytes) * height > 2ull * kDfPictureMaxPixels) {
            *job->error = "the interlaced picture is too large (" + SizeText(width, height) + " pixels)";
            return false;
        }
        job->whole->assign(rowBytes * height, 0);
        for (int pass = 0; pass < passes; pass++)
            for (unsigned y = 0; y < height; y++) png_read_row(png, &(*job->whole)[rowBytes * y], nullptr);
        for (unsigned y = 0; y < height; y++) {
            PngRowToGrey(&(*job->whole)[rowBytes * y], width, channels, job->grey->data());
            job->reducer->Add(job->grey->data());
        }
    } else {
        job->row->resize(rowBytes);
        for (unsigned y = 0; y < height; y++) {
            png_read_row(png, job->row->data(), nullptr);
            PngRowToGrey(job->row->data(), width, channels, job->grey->data());
            job->reducer->Add(job->grey->data());
        }
    }
    png_read_end(png, nullptr);  // the rest of the file must be sound too
    return true;
}

// ---- JPEG ----

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    std::string* error;
};

void JpegExit(j_common_ptr info) {
    JpegError* e = reinterpret_cast<JpegError*>(info->err);
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    *e->error = text;
    longjmp(e->jump, 1);
}

// A warning means damaged data (a premature end, a bad Huffman code): the
// rest would print grey, so it ends the decoding like an error.
void JpegMessage(j_common_ptr info, int level) {
    if (level < 0) JpegExit(info);
}

struct JpegJob {
    jpeg_decompress_struct* info;
    std::vector<unsigned char>* row;
    std::vector<unsigned char>* grey;
    Reducer* reducer;
    unsigned boxWidth, boxHeight;
    DfGreyImage* out;
    std::string* error;
};

void CmykToGrey(const unsigned char* row, unsigned width, bool inverted, unsigned char* grey) {
    for (unsigned x = 0; x < width; x++, row += 4) {
        unsigned c = row[0], m = row[1], y = row[2], k = row[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        const unsigned r = c * k / 255, g = m * k / 255, b = y * k / 255;
        grey[x] = static_cast<unsigned char>((r * 299 + g * 587 + b * 114 + 500) / 1000);
    }
}

bool JpegRead(JpegJob* job, JpegError* err) {
    jpeg_decompress_struct* info = job->info;
    if (setjmp(err->jump)) return false;
    jpeg_read_header(info, TRUE);
    if (info->image_width > kDfPictureMaxSide || info->image_height > kDfPictureMaxSide) {
        *job->error = "the picture is too large (" + SizeText(info->image_width, info->image_height) +
                      " pixels, at most " + std::to_string(kDfPictureMaxSide) + " on a side)";
        return false;
    }
    // libjpeg decodes at 1/2, 1/4 or 1/8 size at a fraction of the cost.
    const unsigned k = ReduceFactor(info->image_width, info->image_height, job->boxWidth, job->boxHeight);
    info->scale_num = 1;
    info->scale_denom = k >= 8 ? 8 : k >= 4 ? 4 : k >= 2 ? 2 : 1;
    const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    info->out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
    jpeg_start_decompress(info);
    const unsigned width = info->output_width, height = info->output_height;
    if (!job->reducer->Start(width, height, ReduceFactor(width, height, job->boxWidth, job->boxHeight),
                             *job->out, *job->error))
        return false;
    job->row->resize(static_cast<size_t>(width) * info->output_components);
    job->grey->resize(width);
    while (info->output_scanline < height) {
        JSAMPROW rows[1] = {job->row->data()};
        if (jpeg_read_scanlines(info, rows, 1) != 1) {
            *job->error = "the picture ends early";
            return false;
        }
        if (cmyk) {
            CmykToGrey(job->row->data(), width, info->saw_Adobe_marker, job->grey->data());
            job->reducer->Add(job->grey->data());
        } else {
            job->reducer->Add(job->row->data());
        }
    }
    jpeg_finish_decompress(info);
    return true;
}

}  // namespace

DfScaling DfScalingFromIpp(const char* keyword) {
    if (!keyword) return DfScaling::Auto;
    if (!strcmp(keyword, "auto-fit")) return DfScaling::AutoFit;
    if (!strcmp(keyword, "fill")) return DfScaling::Fill;
    if (!strcmp(keyword, "fit")) return DfScaling::Fit;
    if (!strcmp(keyword, "none")) return DfScaling::None;
    return DfScaling::Auto;
}

const char* DfSniffFormat(const unsigned char* d, size_t n) {
    if (n >= 8 && !memcmp(d, "\x89PNG\r\n\x1a\n", 8)) return "image/png";
    // SOI and the start of any marker: bare JPEG streams have no JFIF or EXIF segment.
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return "image/jpeg";
    if (n >= 5 && !memcmp(d, "%PDF-", 5)) return "application/pdf";
    if (n >= 4 && !memcmp(d, "RaS2", 4)) return "image/pwg-raster";
    if (n >= 4 && !memcmp(d, "UNIR", 4)) return "image/urf";
    return nullptr;
}

bool DfDecodePng(FILE* file, unsigned boxWidth, unsigned boxHeight, DfGreyImage& out, std::string& error) {
    unsigned char signature[8];
    if (fread(signature, 1, 8, file) != 8 || png_sig_cmp(signature, 0, 8)) {
        error = "PNG: the document is not a PNG picture";
        return false;
    }
    std::vector<unsigned char> row, whole, grey;
    std::string warning;
    Reducer reducer;
    PngJob job;
    job.error = &error;
    job.warning = &warning;
    job.row = &row;
    job.whole = &whole;
    job.grey = &grey;
    job.reducer = &reducer;
    job.boxWidth = boxWidth;
    job.boxHeight = boxHeight;
    job.out = &out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, PngError, PngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (!info)
        error = "no memory for the PNG decoder";
    else
        ok = PngRead(png, info, file, &job);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (!ok) {
        if (error.empty()) error = "damaged PNG data";
        error = "PNG: " + error;
        out = DfGreyImage();
    }
    return ok;
}

bool DfDecodeJpeg(FILE* file, unsigned boxWidth, unsigned boxHeight, DfGreyImage& out, std::string& error) {
    std::vector<unsigned char> row, grey;
    Reducer reducer;
    jpeg_decompress_struct info;
    JpegError err;
    info.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegExit;
    err.mgr.emit_message = JpegMessage;
    err.error = &error;
    jpeg_create_decompress(&info);
    // Progressive pictures keep every coefficient until the end; without
    // backing store libjpeg refuses one that would need more than this.
    info.mem->max_memory_to_use = 64l * 1024 * 1024;
    jpeg_stdio_src(&info, file);
    JpegJob job{&info, &row, &grey, &reducer, boxWidth, boxHeight, &out, &error};
    const bool ok = JpegRead(&job, &err);
    const unsigned long declaredWidth = info.image_width, declaredHeight = info.image_height;
    jpeg_destroy_decompress(&info);
    if (!ok) {
        if (error.empty()) error = "damaged JPEG data";
        if (error.find("Backing store") != std::string::npos)  // over max_memory_to_use
            error = "the picture is too large to decode (" + SizeText(declaredWidth, declaredHeight) +
                    " pixels, progressive: more than 64 MiB)";
        error = "JPEG: " + error;
        out = DfGreyImage();
    }
    return ok;
}

bool DfTurnsToMedium(double width, double height, unsigned pageWidth, unsigned pageHeight) {
    if (width == height || pageWidth == pageHeight) return false;
    return (width > height) != (pageWidth > pageHeight);
}

void DfTurnPicture(DfGreyImage& picture) {
    const unsigned w = picture.width, h = picture.height;
    if (picture.pixels.size() < static_cast<size_t>(w) * h) return;
    std::vector<unsigned char> turned(static_cast<size_t>(w) * h);
    // Anticlockwise: the top row becomes the left column, read bottom up.
    for (unsigned y = 0; y < h; y++) {
        const unsigned char* src = &picture.pixels[static_cast<size_t>(y) * w];
        for (unsigned x = 0; x < w; x++) turned[static_cast<size_t>(w - 1 - x) * h + y] = src[x];
    }
    picture.pixels.swap(turned);
    picture.width = h;
    picture.height = w;
}

DfPlacement DfPlacePicture(unsigned width, unsigned height, unsigned pageWidth, unsigned pageHeight,
                           DfScaling scaling) {
    DfPlacement p;
    if (!width || !height || !pageWidth || !pageHeight) return p;
    const bool fits = width <= pageWidth && height <= pageHeight;
    if (scaling == DfScaling::None ||
        ((scaling == DfScaling::AutoFit || scaling == DfScaling::Auto) && fits)) {
        p.width = width;
        p.height = height;
    } else {
        // Taller than the page's shape: height decides when fitting, width when filling.
        const bool taller = static_cast<unsigned long long>(width) * pageHeight <=
                            static_cast<unsigned long long>(height) * pageWidth;
        if (taller == (scaling != DfScaling::Fill)) {
            p.height = pageHeight;
            p.width = static_cast<unsigned>(
                (static_cast<unsigned long long>(width) * pageHeight + height / 2) / height);
        } else {
            p.width = pageWidth;
            p.height = static_cast<unsigned>(
                (static_cast<unsigned long long>(height) * pageWidth + width / 2) / width);
        }
        p.width = std::max(p.width, 1u);
        p.height = std::max(p.height, 1u);
    }
    p.x = (static_cast<long>(pageWidth) - static_cast<long>(p.width)) / 2;
    p.y = (static_cast<long>(pageHeight) - static_cast<long>(p.height)) / 2;
    return p;
}

bool DfFitPicture(const DfGreyImage& picture, unsigned pageWidth, unsigned pageHeight, DfScaling scaling,
                  DfGreyImage& page) {
    const DfPlacement p = DfPlacePicture(picture.width, picture.height, pageWidth, pageHeight, scaling);
    if (!p.width || picture.pixels.size() < static_cast<size_t>(picture.width) * picture.height) return false;
    page.width = pageWidth;
    page.height = pageHeight;
    page.pixels.assign(static_cast<size_t>(pageWidth) * pageHeight, 255);
    const long x0 = std::max(0l, p.x), x1 = std::min<long>(pageWidth, p.x + p.width);
    const long y0 = std::max(0l, p.y), y1 = std::min<long>(pageHeight, p.y + p.height);
    if (x0 >= x1 || y0 >= y1) return true;
    // Enlarged pictures keep hard edges (bars and text stay sharp under the
    // threshold); reduced ones are sampled between the four nearest pixels.
    const bool enlarge = p.width >= picture.width && p.height >= picture.height;
    // Per column: the source column (16.8 fixed point) of the dot's centre.
    std::vector<unsigned> sx(static_cast<size_t>(x1 - x0));
    std::vector<unsigned char> wx(sx.size());
    auto source = [](long dot, unsigned placed, unsigned size, unsigned& index, unsigned char& weight) {
        const long long f = ((2ll * dot + 1) * size * 256) / (2ll * placed) - 128;  // centre to centre
        const long long c = std::max(0ll, f);
        index = std::min<unsigned>(static_cast<unsigned>(c >> 8), size - 1);
        weight = index + 1 < size ? static_cast<unsigned char>(c & 255) : 0;
    };
    for (long x = x0; x < x1; x++) {
        if (enlarge) {
            sx[x - x0] =
                static_cast<unsigned>((static_cast<unsigned long long>(x - p.x) * picture.width) / p.width);
            wx[x - x0] = 0;
        } else {
            source(x - p.x, p.width, picture.width, sx[x - x0], wx[x - x0]);
        }
    }
    for (long y = y0; y < y1; y++) {
        unsigned sy;
        unsigned char wy;
        if (enlarge) {
            sy =
                static_cast<unsigned>((static_cast<unsigned long long>(y - p.y) * picture.height) / p.height);
            wy = 0;
        } else {
            source(y - p.y, p.height, picture.height, sy, wy);
        }
        const unsigned char* r0 = &picture.pixels[static_cast<size_t>(sy) * picture.width];
        const unsigned char* r1 = wy ? r0 + picture.width : r0;
        unsigned char* dst = &page.pixels[static_cast<size_t>(y) * pageWidth];
        for (long x = x0; x < x1; x++) {
            const unsigned i = sx[x - x0], a = wx[x - x0];
            const unsigned j = a ? i + 1 : i;
            const unsigned top = r0[i] * (256 - a) + r0[j] * a;
            const unsigned bottom = r1[i] * (256 - a) + r1[j] * a;
            dst[x] = static_cast<unsigned char>((top * (256 - wy) + bottom * wy + 32768) >> 16);
        }
    }
    return true;
}
