// Documents in the printer application: damaged pictures fail fast with a
// reason, sound ones come out grey and reduced, placement follows
// print-scaling, PDF pages render at the printer's resolution, pages larger
// than the medium are caught, and submit's copies reach the job.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/core/cliargs.h"
#include "app/core/copysink.h"
#include "app/documents/docbudget.h"
#include "app/documents/labelfit.h"
#include "app/documents/mediafit.h"
#include "app/documents/pdfdoc.h"
#include "app/documents/picture.h"
#include "image/ximaedge.h"

// poppler finds the fonts of a PDF through fontconfig, whose configuration
// it keeps until exit; the leak checker is told so, not about our code.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

using Bytes = std::vector<unsigned char>;

void PngWrite(png_structp png, png_bytep data, png_size_t len) {
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + len);
}
void PngFlush(png_structp) {}

// A PNG of w x h; colour type 0 (grey) or 6 (RGBA), pixel(x, y) gives grey
// and alpha.
Bytes MakePng(unsigned w, unsigned h, int colorType, bool interlaced = false) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, PngWrite, PngFlush);
    png_set_IHDR(png, info, w, h, 8, colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const unsigned channels = colorType == PNG_COLOR_TYPE_RGBA ? 4 : 1;
    std::vector<Bytes> rows(h, Bytes(w * channels));
    std::vector<png_bytep> pointers;
    for (unsigned y = 0; y < h; y++) {
        for (unsigned x = 0; x < w; x++) {
            const unsigned char g = x < w / 2 ? 0 : 255;  // left half black
            if (channels == 1) {
                rows[y][x] = g;
            } else {
                unsigned char* p = &rows[y][x * 4];
                p[0] = p[1] = p[2] = g;
                p[3] = y < h / 2 ? 255 : 0;  // bottom half transparent
            }
        }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// The IHDR of a PNG rewritten to w x h, its CRC made good again.
Bytes WithSize(Bytes png, unsigned w, unsigned h) {
    const unsigned char size[8] = {static_cast<unsigned char>(w >> 24), static_cast<unsigned char>(w >> 16),
                                   static_cast<unsigned char>(w >> 8),  static_cast<unsigned char>(w),
                                   static_cast<unsigned char>(h >> 24), static_cast<unsigned char>(h >> 16),
                                   static_cast<unsigned char>(h >> 8),  static_cast<unsigned char>(h)};
    std::copy(size, size + 8, png.begin() + 16);
    const uLong crc = crc32(0, &png[12], 17);
    for (int i = 0; i < 4; i++) png[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
    return png;
}

// A grey JPEG of w x h (left half black), with or without a JFIF segment.
Bytes MakeJpeg(unsigned w, unsigned h, bool progressive, bool jfif = true) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    c.write_JFIF_header = jfif ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    Bytes row(w);
    for (unsigned x = 0; x < w; x++) row[x] = x < w / 2 ? 0 : 255;
    while (c.next_scanline < h) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(mem, mem + size);
    jpeg_destroy_compress(&c);
    free(mem);
    return out;
}

// The frame header of a JPEG rewritten to declare w x h.
Bytes JpegWithSize(Bytes jpeg, unsigned w, unsigned h) {
    for (size_t i = 2; i + 9 < jpeg.size(); i++) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<unsigned char>(h >> 8), jpeg[i + 6] = static_cast<unsigned char>(h);
            jpeg[i + 7] = static_cast<unsigned char>(w >> 8), jpeg[i + 8] = static_cast<unsigned char>(w);
            break;
        }
    }
    return jpeg;
}

Bytes Head(Bytes b, size_t n) {
    b.resize(std::min(n, b.size()));
    return b;
}

struct Decoded {
    bool ok;
    DfGreyImage image;
    std::string error;
    double seconds;
};

Decoded Decode(const Bytes& bytes, bool jpeg, unsigned boxW, unsigned boxH) {
    Decoded d;
    FILE* f = fmemopen(const_cast<unsigned char*>(bytes.data()), bytes.size(), "rb");
    const auto start = std::chrono::steady_clock::now();
    d.ok =
        jpeg ? DfDecodeJpeg(f, boxW, boxH, d.image, d.error) : DfDecodePng(f, boxW, boxH, d.image, d.error);
    d.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fclose(f);
    return d;
}

TEST(Picture, DamagedPicturesFailFastWithAReason) {
    const Bytes png = MakePng(200, 200, PNG_COLOR_TYPE_RGBA);
    Bytes badCrc = png;
    badCrc[png.size() / 2] ^= 0x55;  // inside IDAT
    Bytes raster = {'R', 'a', 'S', '2'};
    raster.resize(2000, 0);
    const Bytes progressive = MakeJpeg(64, 64, true);
    struct Case {
        const char* name;
        Bytes bytes;
        bool jpeg;
    } cases[] = {
        {"truncated PNG", Head(png, 300), false},
        {"PNG cut before IEND", Head(png, png.size() - 6), false},
        {"PWG raster declared as PNG", raster, false},
        {"0x0 PNG", WithSize(png, 0, 0), false},
        {"16385 wide PNG", WithSize(png, 16385, 1), false},
        {"100000x100000 PNG header", WithSize(png, 100000, 100000), false},
        {"16384x16384 PNG header, 200x200 data", WithSize(png, 16384, 16384), false},
        {"bad CRC", badCrc, false},
        {"empty file", Bytes(), false},
        {"truncated JPEG", Head(MakeJpeg(300, 300, false), 400), true},
        {"truncated progressive JPEG", Head(progressive, progressive.size() - 40), true},
        {"progressive JPEG declaring 16384x16384", JpegWithSize(progressive, 16384, 16384), true},
        {"baseline JPEG declaring 16384x16384", JpegWithSize(MakeJpeg(64, 64, false), 16384, 16384), true},
        {"JPEG declaring 16385 wide", JpegWithSize(MakeJpeg(64, 64, false), 16385, 8), true},
        {"PNG declared as JPEG", png, true},
    };
    for (const Case& c : cases) {
        const Decoded d = Decode(c.bytes, c.jpeg, 832, 1200);
        EXPECT_FALSE(d.ok) << c.name;
        EXPECT_FALSE(d.error.empty()) << c.name;
        EXPECT_EQ(d.error.rfind(c.jpeg ? "JPEG: " : "PNG: ", 0), 0u) << c.name << ": " << d.error;
        EXPECT_LT(d.seconds, 1.0) << c.name;
        EXPECT_TRUE(d.image.pixels.empty()) << c.name;
    }
}

TEST(Picture, SoundPicturesDecodeToGreyReducedForThePage) {
    struct Case {
        const char* name;
        Bytes bytes;
        bool jpeg;
        unsigned boxW, boxH, width, height;
    } cases[] = {
        {"grey PNG, no reduction", MakePng(100, 60, PNG_COLOR_TYPE_GRAY), false, 100, 60, 100, 60},
        {"RGBA PNG halved", MakePng(100, 60, PNG_COLOR_TYPE_RGBA), false, 50, 30, 50, 30},
        {"interlaced PNG by 3", MakePng(99, 60, PNG_COLOR_TYPE_RGBA, true), false, 33, 10, 33, 20},
        {"JPEG without JFIF", MakeJpeg(64, 32, false, false), true, 64, 32, 64, 32},
        {"JPEG decoded at 1/4", MakeJpeg(256, 128, false), true, 60, 30, 64, 32},
        {"progressive JPEG at 1/8", MakeJpeg(512, 512, true), true, 64, 64, 64, 64},
    };
    for (const Case& c : cases) {
        const Decoded d = Decode(c.bytes, c.jpeg, c.boxW, c.boxH);
        ASSERT_TRUE(d.ok) << c.name << ": " << d.error;
        EXPECT_EQ(d.image.width, c.width) << c.name;
        EXPECT_EQ(d.image.height, c.height) << c.name;
        ASSERT_EQ(d.image.pixels.size(), size_t(c.width) * c.height) << c.name;
        // Left half black, right half white; transparent rows white.
        const unsigned char* top = d.image.pixels.data();
        EXPECT_LT(top[1], 40) << c.name;
        EXPECT_GT(top[c.width - 2], 215) << c.name;
        const unsigned char* bottom = &d.image.pixels[size_t(c.height - 1) * c.width];
        if (!c.jpeg && strstr(c.name, "RGBA")) {
            EXPECT_EQ(bottom[1], 255) << c.name;
        }
    }
}

TEST(Picture, SniffsByContent) {
    const Bytes bare = MakeJpeg(8, 8, false, false);
    struct Case {
        Bytes head;
        const char* type;
    } cases[] = {
        {MakePng(4, 4, PNG_COLOR_TYPE_GRAY), "image/png"},
        {MakeJpeg(8, 8, false), "image/jpeg"},
        {bare, "image/jpeg"},
        {{'%', 'P', 'D', 'F', '-', '1', '.', '4'}, "application/pdf"},
        {{'R', 'a', 'S', '2', 'P', 'W', 'G'}, "image/pwg-raster"},
        {{'U', 'N', 'I', 'R', 'A', 'S', 'T'}, "image/urf"},
        {{0xFF, 0xD8}, nullptr},
        {{'h', 'e', 'l', 'l', 'o'}, nullptr},
    };
    ASSERT_NE(bare[3], 0xE0);  // no JFIF segment after SOI
    for (const Case& c : cases) {
        const char* got = DfSniffFormat(c.head.data(), c.head.size());
        EXPECT_STREQ(got, c.type);
    }
}

TEST(DocBudget, ServerOptionsAndTheRecordOfAJob) {
    struct Case {
        const char *time, *memory;
        bool ok;
        unsigned seconds, megabytes;
    } cases[] = {
        {nullptr, nullptr, true, 60, 512}, {"5", "64", true, 5, 64},     {"0", nullptr, false, 0, 0},
        {"-1", nullptr, false, 0, 0},      {"6x", nullptr, false, 0, 0}, {nullptr, "16", false, 0, 0},
        {nullptr, "", false, 0, 0},
    };
    for (const Case& c : cases) {
        cups_option_t* options = nullptr;
        int n = 0;
        if (c.time) n = cupsAddOption("document-time-limit", c.time, n, &options);
        if (c.memory) n = cupsAddOption("document-memory-limit", c.memory, n, &options);
        std::string error;
        EXPECT_EQ(DfDocBudgetFromOptions(n, options, error), c.ok) << (c.time ? c.time : "-") << " " << error;
        if (c.ok) {
            EXPECT_EQ(DfDocBudgetCurrent().seconds, c.seconds);
            EXPECT_EQ(DfDocBudgetCurrent().megabytes, c.megabytes);
        }
        cupsFreeOptions(n, options);
    }
    // The time used survives a server that dies; an end over budget
    // survives the job; a job done with leaves no record.
    const std::string file = testing::TempDir() + "budget-job.pdf";
    for (DfBudgetEnd end : {DfBudgetEnd::None, DfBudgetEnd::Time, DfBudgetEnd::Memory}) {
        const pid_t pid = fork();
        if (pid == 0) {
            DfBudgetRecord dying;
            if (dying.Open(file)) dying.Note(1234, DfBudgetEnd::None);
            _exit(0);
        }
        ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
        {
            DfBudgetRecord record;
            ASSERT_TRUE(record.Open(file));
            EXPECT_EQ(record.UsedMs(), 1234);
            EXPECT_EQ(record.Ended(), DfBudgetEnd::None);
            record.Note(2500, end);
        }
        DfBudgetRecord after;
        ASSERT_TRUE(after.Open(file));
        EXPECT_EQ(after.Ended(), end);
        EXPECT_EQ(after.UsedMs(), end == DfBudgetEnd::None ? 0 : 2500);
        after.Note(0, DfBudgetEnd::None);  // removed with the object
    }
    remove((file + ".budget").c_str());
}

TEST(Picture, PlacementFollowsPrintScaling) {
    struct Case {
        unsigned w, h, pw, ph;
        DfScaling s;
        unsigned width, height;
        long x, y;
    } cases[] = {
        {400, 200, 800, 1200, DfScaling::Fit, 800, 400, 0, 400},      // enlarged to the width
        {400, 200, 800, 1200, DfScaling::Fill, 2400, 1200, -800, 0},  // cropped at the sides
        {400, 200, 800, 1200, DfScaling::Auto, 400, 200, 200, 500},   // fits: centred as it is
        {400, 200, 800, 1200, DfScaling::AutoFit, 400, 200, 200, 500},
        {1600, 1200, 800, 1200, DfScaling::Auto, 800, 600, 0, 300},  // too large: fitted, not filled
        {1000, 3000, 800, 1200, DfScaling::Fit, 400, 1200, 200, 0},
        {1000, 3000, 800, 1200, DfScaling::None, 1000, 3000, -100, -900},
        {1, 1, 384, 400, DfScaling::Fit, 384, 384, 0, 8},
    };
    for (const Case& c : cases) {
        const DfPlacement p = DfPlacePicture(c.w, c.h, c.pw, c.ph, c.s);
        EXPECT_EQ(p.width, c.width) << c.w << "x" << c.h << " scaling " << int(c.s);
        EXPECT_EQ(p.height, c.height) << c.w << "x" << c.h << " scaling " << int(c.s);
        EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h << " scaling " << int(c.s);
        EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h << " scaling " << int(c.s);
    }
}

TEST(Picture, FittedPageKeepsThePictureWholeAndCentred) {
    DfGreyImage pic;
    pic.width = 4;
    pic.height = 2;
    pic.pixels = {0, 0, 255, 255, 0, 0, 255, 255};  // left half black
    DfGreyImage page;
    ASSERT_TRUE(DfFitPicture(pic, 8, 8, DfScaling::Fit, page));
    ASSERT_EQ(page.pixels.size(), 64u);
    for (unsigned y = 0; y < 8; y++) {
        for (unsigned x = 0; x < 8; x++) {
            const bool inside = y >= 2 && y < 6;
            const unsigned char want = inside && x < 4 ? 0 : 255;
            EXPECT_EQ(page.pixels[y * 8 + x], want) << x << "," << y;
        }
    }
    // Reduced: still black at the left edge, white at the right.
    DfGreyImage wide;
    wide.width = 300;
    wide.height = 10;
    wide.pixels.assign(3000, 255);
    for (unsigned y = 0; y < 10; y++)
        for (unsigned x = 0; x < 150; x++) wide.pixels[y * 300 + x] = 0;
    ASSERT_TRUE(DfFitPicture(wide, 200, 100, DfScaling::Fit, page));
    const unsigned row = 50 * 200;
    EXPECT_EQ(page.pixels[row + 0], 0);
    EXPECT_EQ(page.pixels[row + 199], 255);
    EXPECT_EQ(page.pixels[0], 255);  // above the picture
    DfGreyImage empty;
    EXPECT_FALSE(DfFitPicture(empty, 8, 8, DfScaling::Fit, page));
}

// A one-page PDF of w x h points drawing content (by default a black
// rectangle over the left half); /F1 is Helvetica.
std::string MakePdf(double w, double h, std::string content = std::string()) {
    if (content.empty())
        content = "0 0 0 rg 0 0 " + std::to_string(w / 2) + " " + std::to_string(h) + " re f\n";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(w) + " " + std::to_string(h) +
            "] /Contents 4 0 R /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont "
            "/Helvetica "
            ">> >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); i++) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (size_t o : offsets) {
        char line[32];
        snprintf(line, sizeof(line), "%010zu 00000 n \n", o);
        pdf += line;
    }
    pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string WriteTemp(const std::string& bytes) {
    char path[] = "/tmp/df_pdfXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return std::string();
    FILE* f = fdopen(fd, "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return path;
}

TEST(Picture, PdfPagesRenderAtThePrinterResolution) {
    struct Case {
        const char* name;
        double w, h;      // page in points
        unsigned pw, ph;  // medium in dots at 203 dpi
        DfScaling s;
        unsigned blackFrom, blackTo;  // black columns on the middle row
    } cases[] = {
        {"made for the medium", 50 * 72 / 25.4, 30 * 72 / 25.4, 400, 240, DfScaling::Auto, 0, 200},
        {"A4 fitted to a 48 mm roll", 595, 842, 384, 1600, DfScaling::Auto, 0, 192},
        {"small page centred", 36, 36, 400, 240, DfScaling::AutoFit, 149, 200},
    };
    for (const Case& c : cases) {
        const std::string path = WriteTemp(MakePdf(c.w, c.h));
        DfPdfDocument doc;
        std::string error;
        ASSERT_TRUE(doc.Open(path, error)) << c.name << ": " << error;
        EXPECT_EQ(doc.Pages(), 1);
        DfGreyImage page;
        ASSERT_TRUE(doc.RenderPage(0, c.pw, c.ph, 203, 203, c.s, page, error)) << c.name << ": " << error;
        ASSERT_EQ(page.pixels.size(), size_t(c.pw) * c.ph) << c.name;
        const unsigned char* row = &page.pixels[size_t(c.ph / 2) * c.pw];
        for (unsigned x = 0; x < c.pw; x++) {
            if (x + 1 == c.blackFrom || x == c.blackTo || x == c.blackFrom) continue;  // edges may be grey
            const bool black = x > c.blackFrom && x < c.blackTo;
            EXPECT_EQ(row[x] < 128, black) << c.name << " column " << x << " = " << int(row[x]);
            if ((row[x] < 128) != black) break;
        }
        remove(path.c_str());
    }
    // Damaged or foreign files are refused with a reason.
    for (const std::string& bad : {std::string("%PDF-1.4\ngarbage"), std::string("not a pdf at all")}) {
        const std::string path = WriteTemp(bad);
        DfPdfDocument doc;
        std::string error;
        EXPECT_FALSE(doc.Open(path, error) && doc.Pages() > 0);
        remove(path.c_str());
    }
}

TEST(Picture, LandscapeTurnsOntoPortraitMedia) {
    struct Case {
        double w, h;
        unsigned pw, ph;
        bool turns;
    } cases[] = {
        {150, 100, 799, 1199, true}, {100, 150, 799, 1199, false}, {100, 100, 799, 1199, false},
        {100, 150, 1199, 799, true}, {150, 100, 800, 800, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DfTurnsToMedium(c.w, c.h, c.pw, c.ph), c.turns) << c.w << "x" << c.h;

    // 3 x 2, anticlockwise: the top row becomes the left column, bottom up.
    DfGreyImage pic;
    pic.width = 3;
    pic.height = 2;
    pic.pixels = {1, 2, 3, 4, 5, 6};
    DfTurnPicture(pic);
    EXPECT_EQ(pic.width, 2u);
    EXPECT_EQ(pic.height, 3u);
    EXPECT_EQ(pic.pixels, (std::vector<unsigned char>{3, 6, 2, 5, 1, 4}));

    // A landscape PDF page on a portrait medium: its left half ends at the bottom.
    const std::string path = WriteTemp(MakePdf(100, 50));
    DfPdfDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(path, error)) << error;
    DfGreyImage page;
    ASSERT_TRUE(doc.RenderPage(0, 141, 282, 203, 203, DfScaling::Auto, page, error)) << error;
    for (unsigned x = 2; x + 2 < 141; x++) {
        EXPECT_GT(page.pixels[70 * 141 + x], 200) << "top, column " << x;
        EXPECT_LT(page.pixels[210 * 141 + x], 60) << "bottom, column " << x;
    }
    remove(path.c_str());
}

// Text and hairlines shrunk onto a small label reach the reduction with hard
// edges, so the default filter keeps strokes whole instead of scattering
// them into dots (a black dot with no black neighbour); pictures in the PDF
// keep their greys.
TEST(Picture, PdfTextAndLinesKeepHardEdgesOnASmallLabel) {
    auto text = [](double size, double h) {
        std::string c = "BT /F1 " + std::to_string(size) + " Tf ";
        for (double y = h - 2 * size; y > size; y -= size * 1.3)
            c += "1 0 0 1 " + std::to_string(size) + " " + std::to_string(y) +
                 " Tm (Ship to: 42 Harbour Road, Quay 7, ABC-123 wxyz) Tj ";
        return c + "ET\n";
    };
    std::string hairlines = "0.3 w ";
    for (int i = 0; i < 12; i++)
        hairlines += std::to_string(6 + 11 * i) + " 4 m " + std::to_string(20 + 9 * i) + " 80 l S ";
    struct Case {
        const char* name;
        double w, h;  // page in points
        std::string content;
        unsigned pw, ph;  // medium at 203 dpi
        double maxLoose;  // black dots without a black neighbour, of all black dots
    } cases[] = {
        {"A4, 8 pt text, 40 x 30 mm", 595, 842, text(8, 842), 320, 240, 0.05},
        {"A4, 10 pt text, 40 x 30 mm", 595, 842, text(10, 842), 320, 240, 0.03},
        {"80 x 60 mm, 8 pt text, halved", 227, 170, text(8, 170), 320, 240, 0.008},
        {"0.3 pt hairlines as they are", 142, 85, hairlines, 400, 240, 0.002},
    };
    for (const Case& c : cases) {
        const std::string path = WriteTemp(MakePdf(c.w, c.h, c.content));
        DfPdfDocument doc;
        std::string error;
        ASSERT_TRUE(doc.Open(path, error)) << c.name << ": " << error;
        DfGreyImage page;
        ASSERT_TRUE(doc.RenderPage(0, c.pw, c.ph, 203, 203, DfScaling::Auto, page, error))
            << c.name << ": " << error;
        remove(path.c_str());
        const size_t stride = (c.pw + 7) / 8;
        std::vector<uint8_t> bits(stride * c.ph);
        ASSERT_TRUE(ximaedge::Reduce(page.pixels.data(), c.pw, bits.data(), stride, c.pw, c.ph));
        auto black = [&](long x, long y) {
            return x >= 0 && y >= 0 && x < long(c.pw) && y < long(c.ph) &&
                   !(bits[y * stride + x / 8] & (0x80 >> (x % 8)));
        };
        size_t dots = 0, loose = 0;
        for (long y = 0; y < long(c.ph); y++)
            for (long x = 0; x < long(c.pw); x++) {
                if (!black(x, y)) continue;
                dots++;
                bool alone = true;
                for (int dy = -1; dy <= 1 && alone; dy++)
                    for (int dx = -1; dx <= 1 && alone; dx++) alone = (!dx && !dy) || !black(x + dx, y + dy);
                loose += alone;
            }
        ASSERT_GT(dots, 500u) << c.name << ": nothing drawn";
        EXPECT_LE(double(loose) / dots, c.maxLoose)
            << c.name << ": " << loose << " of " << dots << " dots alone";
    }

    // A grey picture in the PDF: its levels reach the reduction as they are.
    const std::string path = WriteTemp(MakePdf(
        142, 85, "q 120 0 0 60 10 10 cm BI /W 8 /H 1 /BPC 8 /CS /G /F /AHx ID 3048607890A8C0D0> EI Q\n"));
    DfPdfDocument doc;
    std::string error;
    DfGreyImage page;
    ASSERT_TRUE(doc.Open(path, error) && doc.RenderPage(0, 400, 240, 203, 203, DfScaling::Auto, page, error))
        << error;
    remove(path.c_str());
    for (unsigned x = 40; x < 340; x++) {
        const int v = page.pixels[150 * 400 + x];
        EXPECT_TRUE(v > 40 && v < 215) << "picture column " << x << " = " << v;
        if (!(v > 40 && v < 215)) break;
    }
}

TEST(MediaFit, PagesLargerThanTheMediumAreNamed) {
    struct Case {
        unsigned w, h;
        int mediaW, mediaL;
        bool labels;
        const char* why;  // nullptr: fits
    } cases[] = {
        {799, 1199, 10000, 15000, true, nullptr},  // 100 x 150 mm label at 203 dpi
        {812, 1218, 10160, 15240, true, nullptr},  // 4 x 6 in on 4 x 6 in
        {805, 1205, 10000, 15000, true, nullptr},  // within a millimetre
        {400, 240, 10000, 15000, true, nullptr},   // smaller: padded, not refused
        {1726, 2233, 10000, 15000, true,
         "the 216.0 x 279.4 mm page is larger than the 100.0 x 150.0 mm label"},
        {799, 1300, 10000, 15000, true,
         "the 100.0 x 162.7 mm page is larger than the 100.0 x 150.0 mm label"},
        {384, 5000, 4800, 20000, false, nullptr},  // rolls take any length
        {464, 800, 4800, 20000, false, nullptr},   // the paper's width: its edges are cut
        {1678, 2374, 4800, 20000, false, "the 210.0 mm wide page is wider than the 48.0 mm roll"},
    };
    for (const Case& c : cases) {
        const std::string why = DfPageTooLarge(c.w, c.h, 203, 203, c.mediaW, c.mediaL, c.labels);
        EXPECT_EQ(why, c.why ? c.why : "") << c.w << "x" << c.h;
    }
}

// Pages for another size onto the loaded label at 203 dpi: 4x6 in is
// 812x1218 dots, 50x30 mm 400x240, 100x150 mm 799x1199, a 58 mm roll 384.
TEST(LabelFit, PlansTurnScaleAndCentre) {
    struct Case {
        const char* what;
        unsigned w, h, mw, ml;
        bool roll, crisp;
        bool turn;
        unsigned pageH, width, height;
        long x, y;
    } cases[] = {
        {"4x6 on 50x30: turned", 812, 1218, 400, 240, false, false, true, 240, 360, 240, 20, 0},
        {"4x6 on 100x150: reduced", 812, 1218, 799, 1199, false, false, false, 1199, 799, 1199, 0, 0},
        {"54x86 on 100x150: enlarged", 431, 687, 799, 1199, false, false, false, 1199, 752, 1199, 23, 0},
        {"Letter on a 58 roll", 1726, 2233, 384, 0, true, false, false, 497, 384, 497, 0, 0},
        {"landscape 4x6 on a roll: turned", 1218, 812, 384, 0, true, false, true, 576, 384, 576, 0, 0},
        {"square on 50x30: never turned", 500, 500, 400, 240, false, false, false, 240, 240, 240, 80, 0},
        {"codes: whole factor 2", 190, 114, 400, 240, false, true, false, 240, 380, 228, 10, 6},
        {"codes: a quarter", 1500, 900, 400, 240, false, true, false, 240, 375, 225, 12, 7},
        {"codes: no whole factor near", 812, 1218, 400, 240, false, true, true, 240, 360, 240, 20, 0},
        {"codes on a roll: length follows", 190, 300, 384, 0, true, true, false, 600, 380, 600, 2, 0},
    };
    for (const Case& c : cases) {
        const DfLabelFit f = DfPlanLabelFit(c.w, c.h, c.mw, c.ml, c.roll, c.crisp);
        EXPECT_EQ(f.turn, c.turn) << c.what;
        EXPECT_EQ(f.pageWidth, c.mw) << c.what;
        EXPECT_EQ(f.pageHeight, c.pageH) << c.what;
        EXPECT_EQ(f.place.width, c.width) << c.what;
        EXPECT_EQ(f.place.height, c.height) << c.what;
        EXPECT_EQ(f.place.x, c.x) << c.what;
        EXPECT_EQ(f.place.y, c.y) << c.what;
    }
    EXPECT_EQ(DfPlanLabelFit(0, 10, 400, 240, false, false).place.width, 0u);
    EXPECT_EQ(DfPlanLabelFit(10, 10, 400, 0, false, false).place.width, 0u);
}

TEST(LabelFit, LoadedSizeAllowsAMillimetre) {
    EXPECT_TRUE(DfIsLoadedSize(400, 240, 400, 240, false, 203));
    EXPECT_TRUE(DfIsLoadedSize(406, 234, 400, 240, false, 203));
    EXPECT_FALSE(DfIsLoadedSize(400, 250, 400, 240, false, 203));
    EXPECT_FALSE(DfIsLoadedSize(240, 400, 400, 240, false, 203));  // the label turned is another page
    EXPECT_TRUE(DfIsLoadedSize(384, 5000, 384, 0, true, 203));     // a roll takes any length
    EXPECT_FALSE(DfIsLoadedSize(1726, 2233, 384, 0, true, 203));
}

// A white page with a black frame `border` dots wide.
DfGreyImage Frame(unsigned w, unsigned h, unsigned border, unsigned char grey = 0) {
    DfGreyImage f;
    f.width = w;
    f.height = h;
    f.pixels.assign(static_cast<size_t>(w) * h, 255);
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x++)
            if (x < border || y < border || x >= w - border || y >= h - border) f.pixels[y * w + x] = grey;
    return f;
}

// The frame lands whole inside its placement: every edge of the placement
// is dark, everything outside it white, and a crisp page keeps its levels.
TEST(LabelFit, FittedFrameIsWholeOnOneLabel) {
    struct Case {
        const char* what;
        unsigned w, h, border, mw, ml;
        bool roll;
        unsigned char grey;  // 0: black and white, crisp; else a photo-like level
        bool twoLevels;      // nothing but black and white comes out
    } cases[] = {
        {"4x6 on 50x30", 812, 1218, 12, 400, 240, false, 0, true},
        {"4x6 on 100x150", 812, 1218, 8, 799, 1199, false, 0, true},
        {"Letter on a 58 roll: fifths, averaged", 1726, 2233, 16, 384, 0, true, 0, false},
        {"small page enlarged", 100, 60, 2, 400, 240, false, 0, true},
        {"a quarter, whole factor", 1500, 900, 8, 400, 240, false, 0, true},
        {"grey frame, averaged", 812, 1218, 12, 400, 240, false, 77, false},
    };
    for (const Case& c : cases) {
        DfGreyImage src = Frame(c.w, c.h, c.border, c.grey);
        if (c.grey) src.pixels[src.width * (src.height / 2) + src.width / 2] = 200;  // more levels
        for (unsigned i = 0; c.grey && i < 20; i++) src.pixels[src.width * 40 + 40 + i] = 100 + i;
        const DfLabelFit f = DfPlanLabelFit(c.w, c.h, c.mw, c.ml, c.roll, DfFewGreyLevels(src));
        EXPECT_EQ(f.crisp, c.grey == 0) << c.what;
        DfGreyImage out;
        ASSERT_TRUE(DfApplyLabelFit(src, f, out)) << c.what;
        ASSERT_EQ(out.width, f.pageWidth) << c.what;
        ASSERT_EQ(out.height, f.pageHeight) << c.what;
        const DfPlacement& p = f.place;
        const unsigned char dark = c.grey ? 160 : 0;
        for (unsigned y = 0; y < out.height; y++) {
            for (unsigned x = 0; x < out.width; x++) {
                const unsigned char v = out.pixels[y * out.width + x];
                const bool inside = long(x) >= p.x && long(x) < p.x + long(p.width) && long(y) >= p.y &&
                                    long(y) < p.y + long(p.height);
                const bool edge = inside && (long(x) == p.x || long(x) == p.x + long(p.width) - 1 ||
                                             long(y) == p.y || long(y) == p.y + long(p.height) - 1);
                if (!inside) {
                    ASSERT_EQ(v, 255) << c.what << " outside at " << x << "," << y;
                }
                if (edge) {
                    ASSERT_LE(v, dark) << c.what << " frame edge at " << x << "," << y;
                }
                if (c.twoLevels) {
                    ASSERT_TRUE(v == 0 || v == 255) << c.what << " grey " << int(v);
                }
            }
        }
    }
    DfGreyImage empty, out;
    EXPECT_FALSE(DfApplyLabelFit(empty, DfPlanLabelFit(10, 10, 400, 240, false, true), out));
}

TEST(SubmitArgs, CopiesBecomeTheCopiesOption) {
    struct Case {
        std::vector<const char*> in;
        std::vector<std::string> out;
    } cases[] = {
        {{"app", "submit", "-n", "2", "f.png"}, {"app", "submit", "-o", "copies=2", "f.png"}},
        {{"app", "submit", "-c", "3", "-d", "x", "f.png"},
         {"app", "submit", "-o", "copies=3", "-d", "x", "f.png"}},
        {{"app", "submit", "-n4", "f.png"}, {"app", "submit", "-o", "copies=4", "f.png"}},
        // A printer named -n is a value, not an option.
        {{"app", "submit", "-d", "-n", "f.png"}, {"app", "submit", "-d", "-n", "f.png"}},
        {{"app", "submit", "--", "-n"}, {"app", "submit", "--", "-n"}},
        {{"app", "submit", "-a", "-n", "2", "f"}, {"app", "submit", "-a", "-o", "copies=2", "f"}},
        {{"app", "jobs", "-n", "2"}, {"app", "jobs", "-n", "2"}},
        {{"app"}, {"app"}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> got = DfAppFixArgs(static_cast<int>(c.in.size()), c.in.data());
        EXPECT_EQ(got, c.out) << c.in.size() << " arguments, " << (c.in.size() > 2 ? c.in[2] : "");
    }
}

TEST(SubmitArgs, MediaNoDriverTakesIsRefused) {
    struct Case {
        std::vector<std::string> args;
        const char* problem;  // the start of it; nullptr: none
    } cases[] = {
        {{"app", "submit", "-o", "media=iso_a4_210x297mm", "f.pdf"},
         "No printer here takes media 'iso_a4_210x297mm'"},
        {{"app", "submit", "-o", "copies=2 media=na_letter_8.5x11in", "f.pdf"},
         "No printer here takes media"},
        {{"app", "submit", "-o", "media=no_such_thing", "f.pdf"}, "Unknown media 'no_such_thing'"},
        {{"app", "submit", "-o", "media=om_label-50x30_50x30mm", "f.pdf"}, nullptr},
        {{"app", "submit", "-o", "media=custom_label_60x200mm", "f.pdf"}, nullptr},
        {{"app", "submit", "-o", "media=na_index-4x6_4x6in", "f.pdf"}, nullptr},
        {{"app", "modify", "-o", "media=iso_a4_210x297mm"}, nullptr},
    };
    for (const Case& c : cases) {
        const std::string got = DfAppSubmitMediaProblem(c.args);
        if (c.problem)
            EXPECT_EQ(got.rfind(c.problem, 0), 0u) << c.args[3] << ": " << got;
        else
            EXPECT_EQ(got, "") << c.args[3];
    }
}

// A device that keeps what it gets and fails from its n-th write on.
class MemorySink : public DfSink {
public:
    explicit MemorySink(int failAt = -1) : m_failAt(failAt) {}
    bool Write(const void* data, size_t len) override {
        if (m_writes++ == m_failAt) return false;
        bytes.append(static_cast<const char*>(data), len);
        return true;
    }
    std::string bytes;

private:
    int m_failAt, m_writes = 0;
};

TEST(CopySink, FurtherCopiesRepeatThePagesOnly) {
    struct Case {
        int copies, failAt;
        bool ok;
        const char* device;
    } cases[] = {
        {1, -1, true, "<doc>p1p2</doc>"},
        {2, -1, true, "<doc>p1p2p1p2</doc>"},
        {3, -1, true, "<doc>p1p2p1p2p1p2</doc>"},
        {0, -1, true, "<doc>p1p2</doc>"},
        {2, 3, false, "<doc>p1p2"},  // the device fails on the copy
    };
    for (const Case& c : cases) {
        MemorySink device(c.failAt);
        DfCopySink sink(&device, c.copies);
        sink.Write("<doc>", 5);
        sink.StartPages();
        sink.Write("p1", 2);
        sink.Write("p2", 2);
        std::string why;
        EXPECT_EQ(sink.SendCopies(why), c.ok) << c.copies;
        EXPECT_TRUE(why.empty());
        if (c.ok) sink.Write("</doc>", 6);
        EXPECT_EQ(device.bytes, c.device) << c.copies;
    }
}

}  // namespace
