// The preview decoder: every renderer's output on random pages decodes back
// to the page it was given, the protocol's worked examples decode as
// documented, damaged streams stop with the offset and the reason while
// keeping the pages before the fault, and arbitrary bytes never crash it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "printers/cpcl.h"
#include "printers/family.h"
#include "printers/status.h"
#include "printers/catprinter.h"
#include "printers/escpos.h"
#include "printers/niimbot.h"
#include "printers/paperang.h"
#include "printers/peripage.h"
#include "printers/tspl.h"
#include "printers/families.h"
#include "tools/preview/preview.h"

namespace {

// A page picture, one byte per dot, 1 = black.
struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> dots;
    bool Black(int x, int y) const { return dots[(size_t)y * w + x] != 0; }
};

// Fills img the way the pipeline leaves a page (1 bit per dot, 0 = black,
// row tails white) and returns the picture it holds. inkPercent: share of
// black dots (0 and 100 give blank and solid pages).
Picture PreparePage(CxImage& img, int w, int h, uint32_t seed, int inkPercent = 50) {
    Picture pic;
    pic.w = w;
    pic.h = h;
    pic.dots.assign((size_t)w * h, 0);
    EXPECT_NE(img.Create(w, h, 1, 0), nullptr);
    img.SetGrayPalette();
    std::mt19937 rng(seed);
    const unsigned eff = img.GetEffWidth();
    for (int y = 0; y < h; y++) {
        uint8_t* row = img.GetBits(y);
        memset(row, 0xFF, eff);
        for (int x = 0; x < w; x++) {
            bool black = (int)(rng() % 100) < inkPercent;
            pic.dots[(size_t)y * w + x] = black;
            if (black) row[x / 8] &= (uint8_t) ~(0x80 >> (x % 8));
        }
    }
    return pic;
}

// Every dot of the decoded page matches the picture; dots right of the
// picture (row padding that the wire format carries) are white.
::testing::AssertionResult SamePicture(const Picture& want, const PreviewPage& got) {
    if (got.height != want.h || got.width < want.w)
        return ::testing::AssertionFailure() << "decoded " << got.width << " x " << got.height
                                             << ", page was " << want.w << " x " << want.h;
    if (got.bits.size() != got.rowBytes * (size_t)got.height || got.rowBytes != ((size_t)got.width + 7) / 8)
        return ::testing::AssertionFailure() << "inconsistent page storage";
    for (int y = 0; y < got.height; y++)
        for (int x = 0; x < got.width; x++) {
            bool w = x < want.w && want.Black(x, y);
            if (got.Black(x, y) != w)
                return ::testing::AssertionFailure()
                       << "dot " << x << "," << y << " is " << (got.Black(x, y) ? "black" : "white")
                       << ", expected " << (w ? "black" : "white");
        }
    return ::testing::AssertionSuccess();
}

struct PageSpec {
    int w, h;
    int ink;
};

// Runs a whole job of pages through renderer r; returns the pictures given.
template <class R>
std::vector<Picture> RunJob(Captured<R>& r, const std::vector<PageSpec>& pages, uint32_t seed) {
    std::vector<Picture> pics;
    r.OnStartDoc(0);
    for (const PageSpec& p : pages) {
        pics.push_back(PreparePage(r.m_image, p.w, p.h, seed++, p.ink));
        r.OnPaintBmp();
    }
    r.OnEndDoc();
    return pics;
}

std::string Listing(const PreviewResult& res) {
    std::string s;
    for (const PreviewLine& l : res.listing) s += std::to_string(l.offset) + "  " + l.text + "\n";
    return s;
}

bool Listed(const PreviewResult& res, const std::string& text) {
    for (const PreviewLine& l : res.listing)
        if (l.text == text) return true;
    return false;
}

// Decodes the job's bytes (family detected) and compares every page.
// expectWidth(pic) gives the width the decoded page must have.
void ExpectRoundTrip(const ByteVec& bytes, PreviewFamily family, const std::vector<Picture>& pics,
                     const std::function<int(const Picture&)>& expectWidth) {
    EXPECT_EQ(DetectFamily(bytes.data(), bytes.size()), family) << HexDump(bytes.data(), bytes.size(), 32);
    PreviewResult res;
    ASSERT_TRUE(DecodePrinterStream(bytes.data(), bytes.size(), PreviewFamily::Unknown, &res))
        << "offset " << res.errorOffset << ": " << res.error << "\n"
        << Listing(res);
    EXPECT_EQ(res.family, family);
    ASSERT_EQ(res.pages.size(), pics.size()) << Listing(res);
    for (size_t i = 0; i < pics.size(); i++) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        EXPECT_TRUE(res.pages[i].complete);
        EXPECT_TRUE(SamePicture(pics[i], res.pages[i]));
        EXPECT_EQ(res.pages[i].width, expectWidth(pics[i]));
    }
}

int ByteWidth(const Picture& p) {
    return (p.w + 7) / 8 * 8;
}
int EffWidth(const Picture& p) {
    return (p.w + 31) / 32 * 32;
}
int ExactWidth(const Picture& p) {
    return p.w;
}

const std::vector<PageSpec> kPages = {{1, 1, 100},    {7, 3, 50},     {8, 5, 0},   {33, 17, 50},
                                      {384, 240, 50}, {401, 100, 30}, {64, 9, 100}};

// ---------------------------------------------------------------- round trips

TEST(PreviewRoundTrip, TsplRawAndZlibAtSeveralResolutions) {
    for (bool compress : {false, true})
        for (int dpi : {203, 300, 600}) {
            SCOPED_TRACE(std::string(compress ? "mode 3" : "mode 1") + " at " + std::to_string(dpi));
            Captured<CPrinterTSPL> r;
            r.m_iDpi = dpi;
            r.m_halftone.ImageCompress = compress;
            r.m_reg.iMediaType = dpi == 203   ? DfMediaTracking::Gap
                                 : dpi == 300 ? DfMediaTracking::BLine
                                              : DfMediaTracking::Roll;
            r.m_reg.iPrinttype = dpi == 300 ? DfPrintMethod::Ribbon : DfPrintMethod::Direct;
            r.m_reg.iSpeed = dpi == 600 ? -1 : 4;
            auto pics = RunJob(r, kPages, 11);
            // The label size in the SIZE line trims the byte padding away.
            ExpectRoundTrip(r.out, PreviewFamilyOf(kDfTspl), pics, ExactWidth);
        }
}

TEST(PreviewRoundTrip, EscPosSingleRasterCommand) {
    for (int variant = 0; variant < 3; variant++) {
        Captured<CPrinterESCPOS> r;
        r.m_iDpi = variant == 2 ? 100 : 203;  // 100 dpi: mode byte 3
        r.m_reg.iMoneyBox = static_cast<DfMoneyBox>(variant);  // none, before, after
        r.m_reg.iFeedOffset = variant == 1 ? 40 : 0;
        auto pics = RunJob(r, kPages, 21 + variant);
        ExpectRoundTrip(r.out, PreviewFamilyOf(kDfEscpos), pics, ByteWidth);
    }
}

TEST(PreviewRoundTrip, PeriPageRasterBandsAndCompressedFrames) {
    struct Case {
        const char* name;
        bool compress;
        int maxRows;
        int media, sounds, moneyBox, feed;
    } cases[] = {
        {"one raster command", false, 0, 0, -1, -1, 0},
        {"bands of 4 rows", false, 4, 1, 1, 1, 10},
        {"bands of 1 row", false, 1, 2, 2, 2, 0},
        {"bands taller than the page", false, 1000, 3, 0, 0, 0},
        {"compressed frame", true, 0, 4, 1, 2, 5},
        {"compression wins over bands", true, 3, 6, 2, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Captured<CPrinterPeriPage> r;
        r.m_iDpi = 203;
        r.m_halftone.ImageCompress = c.compress;
        r.m_reg.iImageMaxLength = c.maxRows;
        r.m_reg.iMediaType = static_cast<DfMediaTracking>(c.media);
        r.m_reg.BeginPrintSound = r.m_reg.EndPrintSound = static_cast<DfSound>(c.sounds);
        r.m_reg.iMoneyBox = static_cast<DfMoneyBox>(c.moneyBox);
        r.m_reg.iFeedOffset = c.feed;
        r.m_reg.iSpeed = 5;
        r.m_reg.iDensityCommand = c.compress ? 1 : 0;
        auto pics = RunJob(r, kPages, 31);
        ExpectRoundTrip(r.out, PreviewFamilyOf(kDfPeripage), pics, ByteWidth);
    }
}

TEST(PreviewRoundTrip, PeriPageCompressedRowsCappedAtTheHeadWidth) {
    // 1700 dots at 203 dpi: the frame carries 208 bytes a row, the rest of
    // each row never reaches the printer.
    Captured<CPrinterPeriPage> r;
    r.m_iDpi = 203;
    r.m_halftone.ImageCompress = true;
    auto pics = RunJob(r, {{1700, 6, 50}}, 41);
    PreviewResult res;
    ASSERT_TRUE(DecodePrinterStream(r.out.data(), r.out.size(), PreviewFamily::Unknown, &res)) << res.error;
    ASSERT_EQ(res.pages.size(), 1u);
    Picture left = pics[0];
    left.w = 208 * 8;
    left.dots.clear();
    for (int y = 0; y < left.h; y++)
        for (int x = 0; x < left.w; x++) left.dots.push_back(pics[0].Black(x, y));
    EXPECT_TRUE(SamePicture(left, res.pages[0]));
}

// The picture as a head of the given width prints it: centred, white on
// both sides or both edges cut (Niimbot and cat rows cover the whole head).
Picture Centred(const Picture& p, int head) {
    Picture c;
    c.w = head;
    c.h = p.h;
    c.dots.assign((size_t)head * p.h, 0);
    const int offset = (head - p.w) / 2;
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < head; x++)
            if (x - offset >= 0 && x - offset < p.w) c.dots[(size_t)y * head + x] = p.Black(x - offset, y);
    return c;
}

TEST(PreviewRoundTrip, NiimbotAndCatRowsOnTheHead) {
    struct Case {
        const char* name;
        int model, head;
        std::function<ByteVec(std::vector<Picture>*)> run;
    };
    const Case cases[] = {
        {"Niimbot B1, split counts", 25, 384,
         [](std::vector<Picture>* pics) {
             Captured<CPrinterNiimbot> r;
             r.SetHead(384);
             *pics = RunJob(r, kPages, 51);
             return r.out;
         }},
        {"Niimbot D11, zero counts", 25, 96,
         [](std::vector<Picture>* pics) {
             Captured<CPrinterNiimbot> r;
             r.SetHead(96);
             r.m_counts = CPrinterNiimbot::Counts::Zero;
             *pics = RunJob(r, kPages, 52);
             return r.out;
         }},
        {"cat", 26, 384,
         [](std::vector<Picture>* pics) {
             Captured<CPrinterCat> r;
             r.m_iDpi = 203;
             r.m_reg.iFeedOffset = 5;
             *pics = RunJob(r, kPages, 53);
             return r.out;
         }},
        {"cat, run-length rows, feed as blank rows", 26, 384,
         [](std::vector<Picture>* pics) {
             Captured<CPrinterCat> r;
             r.m_iDpi = 203;
             r.m_compress = true;
             r.m_feedCommand = false;
             r.m_reg.iFeedOffset = 2;
             *pics = RunJob(r, kPages, 54);
             return r.out;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Picture> pics;
        const ByteVec out = c.run(&pics);
        for (Picture& p : pics) p = Centred(p, c.head);
        ExpectRoundTrip(out, static_cast<PreviewFamily>(c.model), pics,
                        [&](const Picture&) { return c.head; });
    }
}

TEST(PreviewRoundTrip, Cpcl) {
    for (int media : {0, 1}) {
        Captured<CPrinterCPCL> r;
        r.m_iDpi = 203;
        r.m_reg.iMediaType = static_cast<DfMediaTracking>(media);
        r.m_reg.iReference[0] = media ? -16 : 0;
        auto pics = RunJob(r, kPages, 51);
        // PAGE-WIDTH names the page's width in dots.
        ExpectRoundTrip(r.out, PreviewFamilyOf(kDfCpcl), pics, ExactWidth);
    }
}

TEST(PreviewRoundTrip, PaperangHuffmanChunks) {
    for (int media : {0, 1, 3}) {
        Captured<CPrinterPaperang> r;
        r.m_iDpi = 203;
        r.m_reg.iMediaType = static_cast<DfMediaTracking>(media);
        std::vector<PageSpec> pages = kPages;
        pages.push_back({384, 1000, 50});  // dozens of chunks
        pages.push_back({384, 300, 3});    // sparse: long runs of 00
        auto pics = RunJob(r, pages, 61 + media);
        ExpectRoundTrip(r.out, PreviewFamilyOf(kDfPaperang), pics, EffWidth);
    }
}

// ---------------------------------------------------------- worked examples

TEST(PreviewExamples, TsplPageListsItsCommands) {
    Captured<CPrinterTSPL> r;
    r.m_iDpi = 203;
    r.m_reg.iPrinttype = DfPrintMethod::Direct;
    r.m_reg.iMediaType = DfMediaTracking::Gap;
    r.m_reg.iGapHeight = 3;
    r.m_reg.iGapOffset = 0;
    r.m_reg.iDensity = 8;
    r.m_reg.iSpeed = 4;
    RunJob(r, {{384, 240, 50}}, 1);
    PreviewResult res;
    ASSERT_TRUE(DecodePrinterStream(r.out.data(), r.out.size(), PreviewFamilyOf(kDfTspl), &res)) << res.error;
    for (const char* line :
         {"SIZE 48.05 mm,30.03 mm", "SET RIBBON OFF", "GAP 3 mm,0 mm", "OFFSET 0 mm", "DENSITY 8", "SPEED 4",
          "CLS (clear the image buffer)", "BITMAP 0,0,48,240 mode 1 (raw, 11520 bytes)", "PRINT 1,1",
          "-- page 1: 384 x 240 dots at 203 dpi"})
        EXPECT_TRUE(Listed(res, line)) << line << "\n" << Listing(res);
}

TEST(PreviewExamples, EscPosFeedsAndDrawer) {
    Captured<CPrinterESCPOS> r;
    r.m_iDpi = 203;
    r.m_reg.iMoneyBox = DfMoneyBox::AfterPrint;
    r.m_reg.iFeedOffset = 40;  // 319 dots: 255 + 64
    RunJob(r, {{16, 2, 50}}, 1);
    PreviewResult res;
    ASSERT_TRUE(DecodePrinterStream(r.out.data(), r.out.size(), PreviewFamily::Unknown, &res)) << res.error;
    for (const char* line : {"ESC @ 00 (initialise; page 1 begins)", "ESC a 1 (centre)",
                             "GS v 0 raster, mode 0 (normal), 2 bytes x 2 rows", "ESC J 255 (feed 255 dots)",
                             "ESC J 64 (feed 64 dots)", "drawer pulse pin 2 (on 256 ms, off 256 ms)"})
        EXPECT_TRUE(Listed(res, line)) << line << "\n" << Listing(res);
}

// The printer centres a bitmap narrower than its head (ESC a 1); with the
// head's width known the page is drawn that way.
TEST(PreviewExamples, NarrowReceiptIsCentredOnTheHead) {
    // ESC @ 00, ESC a n, GS v 0 of 2 bytes x 2 rows.
    const ByteVec stream = Bytes({0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01, 0x1D, 0x76, 0x30, 0x00, 0x02, 0x00,
                                  0x02, 0x00, 0xFF, 0x00, 0x80, 0x01});
    ByteVec left = stream;
    left[5] = 0x00;
    struct Case {
        const ByteVec* bytes;
        int head, width, x0;  // x0: where the page's first dot lands
    };
    const Case cases[] = {{&stream, 384, 384, 184}, {&stream, 0, 16, 0}, {&stream, 16, 16, 0},
                          {&stream, 8, 16, 0},      {&left, 384, 16, 0}, {&stream, 21, 21, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE("head " + std::to_string(c.head) + ", width " + std::to_string(c.width));
        PreviewResult res;
        ASSERT_TRUE(
            DecodePrinterStream(c.bytes->data(), c.bytes->size(), PreviewFamilyOf(kDfEscpos), &res, c.head));
        ASSERT_EQ(res.pages.size(), 1u);
        const PreviewPage& page = res.pages[0];
        EXPECT_EQ(page.width, c.width);
        EXPECT_EQ(page.height, 2);
        int black = 0;
        for (int y = 0; y < page.height; y++)
            for (int x = 0; x < page.width; x++) black += page.Black(x, y);
        EXPECT_EQ(black, 10);
        for (int x = 0; x < 8; x++) EXPECT_TRUE(page.Black(c.x0 + x, 0)) << x;
        EXPECT_TRUE(page.Black(c.x0, 1));
        EXPECT_TRUE(page.Black(c.x0 + 15, 1));
    }
}

// Cuts and label mode lines are listed by what they do.
TEST(PreviewExamples, CutsAndLabelModesAreNamed) {
    Captured<CPrinterTSPL> tspl;
    tspl.m_iDpi = 203;
    tspl.m_reg.iLabelMode = DfLabelMode::CutEveryLabel;
    RunJob(tspl, {{16, 2, 50}, {8, 2, 50}}, 1);
    PreviewResult res;
    ASSERT_TRUE(DecodePrinterStream(tspl.out.data(), tspl.out.size(), PreviewFamily::Unknown, &res))
        << res.error;
    for (const char* line : {"SET PEEL OFF (no peel-off)", "SET CUTTER 1 (cut after every label)"})
        EXPECT_TRUE(Listed(res, line)) << line << "\n" << Listing(res);
    EXPECT_EQ(res.pages.size(), 2u);

    for (int type : {0, 1}) {
        Captured<CPrinterESCPOS> escpos;
        escpos.m_iDpi = 203;
        escpos.m_reg.iCutMedia = DfCutMedia::EndOfJob;
        escpos.m_reg.iCutType = static_cast<DfCutType>(type);
        RunJob(escpos, {{16, 2, 50}, {8, 2, 50}}, 1);
        ASSERT_TRUE(DecodePrinterStream(escpos.out.data(), escpos.out.size(), PreviewFamily::Unknown, &res))
            << res.error;
        const std::string cut = type ? "GS V 48 (full cut)" : "GS V 49 (partial cut)";
        // One cut, after the last page's raster (only the page's end follows).
        ASSERT_GE(res.listing.size(), 2u);
        EXPECT_EQ(res.listing[res.listing.size() - 2].text, cut) << Listing(res);
        EXPECT_EQ(Listing(res).find("GS V"), Listing(res).rfind("GS V")) << Listing(res);
        EXPECT_EQ(res.pages.size(), 2u);
    }
}

TEST(PreviewExamples, PeriPageBeepsAndFrame) {
    Captured<CPrinterPeriPage> r;
    r.m_iDpi = 203;
    r.m_halftone.ImageCompress = true;
    r.m_reg.BeginPrintSound = DfSound::EveryPage;
    r.m_reg.EndPrintSound = DfSound::EveryPage;
    RunJob(r, {{16, 2, 100}}, 1);
    PreviewResult res;
    ASSERT_TRUE(DecodePrinterStream(r.out.data(), r.out.size(), PreviewFamily::Unknown, &res)) << res.error;
    EXPECT_TRUE(Listed(res, "beep (start)")) << Listing(res);
    EXPECT_TRUE(Listed(res, "beep (end)")) << Listing(res);
    bool frame = false;
    for (const PreviewLine& l : res.listing)
        frame |= l.text.rfind("1F 00 compressed bitmap, 2 bytes x 2 rows (deflate, ", 0) == 0 &&
                 l.text.find("-> 4, Adler-32 ok)") != std::string::npos;
    EXPECT_TRUE(frame) << Listing(res);
}

// The Paperang protocol's own example: a page of one row, 64 dots, bytes
// 00 00 00 FF 0F 00 00 00 after the inversion.
const ByteVec kPaperangExample = Bytes({
    0xA5, 0x01, 0x05, 0x00, 0x05, 0x19, 0x03, 0x00, 0x00, 0x57, 0x1F, 0xE7, 0xA5, 0x5A,  // start printing
    0xA5, 0x01, 0x19, 0x00, 0x05, 0x1C, 0x03, 0x14, 0x00, 0x01, 0x01, 0x00, 0x01, 0x0F, 0x00, 0xFF,
    0x00, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x01, 0x01, 0x00, 0x00, 0x6A, 0x81, 0x8F,
    0x30, 0x5A,  // tree
    0xA5, 0x01, 0x14, 0x00, 0x05, 0x1B, 0x03, 0x0F, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x01, 0x08, 0x00,
    0x00, 0x00, 0x01, 0x03, 0x00, 0x06, 0xE9, 0xC0, 0x2D, 0x10, 0xDD, 0xDA, 0x5A,        // chunk 0
    0xA5, 0x01, 0x05, 0x00, 0x05, 0x1A, 0x03, 0x00, 0x00, 0xB9, 0xB0, 0x52, 0xB7, 0x5A,  // end printing
    0xA5, 0x01, 0x07, 0x00, 0x05, 0x16, 0x03, 0x02, 0x00, 0x00, 0x00, 0x20, 0x0B, 0x74, 0x62, 0x5A,  // feed 0
});

TEST(PreviewExamples, PaperangWorkedExample) {
    PreviewResult res;
    ASSERT_TRUE(
        DecodePrinterStream(kPaperangExample.data(), kPaperangExample.size(), PreviewFamily::Unknown, &res))
        << res.error;
    EXPECT_EQ(res.family, PreviewFamilyOf(kDfPaperang));
    ASSERT_EQ(res.pages.size(), 1u);
    const PreviewPage& p = res.pages[0];
    EXPECT_EQ(p.width, 64);
    EXPECT_EQ(p.height, 1);
    EXPECT_TRUE(SameBytes(Bytes({0x00, 0x00, 0x00, 0xFF, 0x0F, 0x00, 0x00, 0x00}), p.bits));
    for (const char* line :
         {"frame 0x19 start printing, CRC ok (page 1 begins)", "frame 0x1C Huffman tree, 5 nodes, CRC ok",
          "frame 0x1B bitmap chunk 0, 3 bytes, CRC ok (Huffman, 1 row)", "frame 0x1A end printing, CRC ok",
          "frame 0x16 feed 0, CRC ok"})
        EXPECT_TRUE(Listed(res, line)) << line << "\n" << Listing(res);
}

TEST(PreviewExamples, DetectsTheFamilyFromTheFirstBytes) {
    struct Case {
        ByteVec bytes;
        PreviewFamily family;
    } cases[] = {
        {Bytes("SIZE 48.05 mm,30.03 mm\r\n"), PreviewFamilyOf(kDfTspl)},
        {Bytes("CLS\r\n"), PreviewFamilyOf(kDfTspl)},
        {Bytes("! 0 200 200 240 1\r\n"), PreviewFamilyOf(kDfCpcl)},
        {Bytes({0x1B, 0x40, 0x00}), PreviewFamilyOf(kDfEscpos)},
        {Bytes({0x1B, 0x70, 0x00, 0x80, 0x80, 0x1B, 0x40, 0x00}), PreviewFamilyOf(kDfEscpos)},
        {Bytes({0x10, 0xFF, 0xFE, 0x01}), PreviewFamilyOf(kDfPeripage)},
        {Bytes({0x1B, 0x70, 0x00, 0x80, 0x80, 0x10, 0xFF, 0xFE, 0x01}), PreviewFamilyOf(kDfPeripage)},
        {Bytes({0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0, 0x22}), PreviewFamilyOf(kDfPeripage)},
        {Bytes({0xA5, 0x01, 0x05, 0x00}), PreviewFamilyOf(kDfPaperang)},
        {Bytes({0x03, 0x55, 0x55, 0xC1}), PreviewFamilyOf(kDfNiimbot)},
        {Bytes({0x55, 0x55, 0x01}), PreviewFamilyOf(kDfNiimbot)},
        {Bytes({0x51, 0x78, 0xA3}), PreviewFamilyOf(kDfCat)},
        {Bytes({0x00, 0x01}), PreviewFamily::Unknown},
        {Bytes("hello"), PreviewFamily::Unknown},
        {ByteVec(), PreviewFamily::Unknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DetectFamily(c.bytes.data(), c.bytes.size()), c.family)
            << HexDump(c.bytes.data(), c.bytes.size());
        // Detection asks the families in list order: no bytes may be two
        // families' at once, or the order would decide.
        int claims = 0;
        for (const DfFamily* f : PreviewFamilies()) {
            const PreviewDecoder* d = FindPreviewDecoder(PreviewFamilyOf(*f));
            claims += d && d->detect && d->detect(c.bytes.data(), c.bytes.size());
        }
        EXPECT_EQ(claims, c.family == PreviewFamily::Unknown ? 0 : 1)
            << HexDump(c.bytes.data(), c.bytes.size());
    }
    const struct {
        const char* text;
        PreviewFamily family;
    } names[] = {
        {"24", PreviewFamilyOf(kDfPeripage)},
        {"TSPL", PreviewFamilyOf(kDfTspl)},
        {"esc/pos", PreviewFamilyOf(kDfEscpos)},
        {"EscPos", PreviewFamilyOf(kDfEscpos)},
        {"escpos-80", PreviewFamilyOf(kDfEscpos)},
        {"cpcl-203", PreviewFamilyOf(kDfCpcl)},
        {"25", PreviewFamilyOf(kDfNiimbot)},
        {"niimbot-d11", PreviewFamilyOf(kDfNiimbot)},
        {"127", PreviewFamily::Unknown},
        {"20x", PreviewFamily::Unknown},
        {"", PreviewFamily::Unknown},
        {"-58", PreviewFamily::Unknown},
    };
    for (const auto& n : names) EXPECT_EQ(ParseFamily(n.text), n.family) << n.text;
    EXPECT_EQ(ParseHeadDots("niimbot-d11"), 96);
}

// ------------------------------------------------------------ damaged streams

template <class R>
ByteVec TwoPageJob(std::function<void(Captured<R>&)> setup = nullptr) {
    Captured<R> r;
    r.m_iDpi = 203;
    if (setup) setup(r);
    RunJob(r, {{40, 6, 50}, {24, 5, 50}}, 5);
    return r.out;
}

size_t Find(const ByteVec& s, const ByteVec& what, size_t from = 0) {
    auto it = std::search(s.begin() + (ptrdiff_t)from, s.end(), what.begin(), what.end());
    return it == s.end() ? std::string::npos : (size_t)(it - s.begin());
}

// Offset of the n-th (0-based) Paperang frame with the given command code.
size_t PaperangFrame(const ByteVec& s, int code, int n = 0) {
    size_t pos = 0;
    while (pos + 9 <= s.size()) {
        size_t len = s[pos + 2] | (s[pos + 3] << 8);
        if (s[pos + 5] == code && n-- == 0) return pos;
        pos += len + 9;
    }
    return std::string::npos;
}

TEST(PreviewDamage, FaultsNameTheOffsetAndKeepEarlierPages) {
    const ByteVec paperang = TwoPageJob<CPrinterPaperang>();
    const ByteVec periZ = TwoPageJob<CPrinterPeriPage>(
        [](Captured<CPrinterPeriPage>& r) { r.m_halftone.ImageCompress = true; });
    const ByteVec tsplZ =
        TwoPageJob<CPrinterTSPL>([](Captured<CPrinterTSPL>& r) { r.m_halftone.ImageCompress = true; });
    const ByteVec tspl = TwoPageJob<CPrinterTSPL>();
    const ByteVec escpos = TwoPageJob<CPrinterESCPOS>();
    const ByteVec cpcl = TwoPageJob<CPrinterCPCL>();

    struct Case {
        const char* name;
        ByteVec bytes;
        size_t offset;
        const char* reason;
        size_t completePages;
    };
    std::vector<Case> cases;
    {  // a flipped CRC byte in the second page's first bitmap frame
        ByteVec s = paperang;
        size_t f = PaperangFrame(s, 0x1B, 1);
        size_t n = s[f + 2] | (s[f + 3] << 8);
        s[f + 4 + n + 1] ^= 0x01;
        cases.push_back({"Paperang flipped CRC byte", s, f + 4 + n, "bad CRC", 1});
    }
    {  // a flipped record byte: the CRC no longer matches
        ByteVec s = paperang;
        size_t f = PaperangFrame(s, 0x1C, 1);
        s[f + 10] ^= 0x40;
        size_t n = s[f + 2] | (s[f + 3] << 8);
        cases.push_back({"Paperang flipped record byte", s, f + 4 + n, "bad CRC", 1});
    }
    {  // the stream cut in the middle of the second page's tree frame
        size_t f = PaperangFrame(paperang, 0x1C, 1);
        ByteVec s(paperang.begin(), paperang.begin() + (ptrdiff_t)f + 12);
        cases.push_back({"Paperang truncated frame", s, f + 2, "runs past the end of the stream", 1});
    }
    {  // a length field that points past the end
        ByteVec s = paperang;
        size_t f = PaperangFrame(s, 0x1A, 1);
        s[f + 2] = 0xFF;
        s[f + 3] = 0x7F;
        cases.push_back(
            {"Paperang length past the end", s, f + 2, "frame length 32767 runs past the end", 1});
    }
    {  // stream ends between frames inside page 2
        size_t f = PaperangFrame(paperang, 0x1A, 1);
        ByteVec s(paperang.begin(), paperang.begin() + (ptrdiff_t)f);
        cases.push_back({"Paperang page without end", s, f, "expected the end printing frame (1A)", 1});
    }
    {  // PeriPage frame length field past the end
        ByteVec s = periZ;
        size_t f = Find(s, Bytes({0x1F, 0x00}), Find(s, Bytes({0x10, 0xFF, 0xFE, 0x45})));
        s[f + 6] = 0x01;
        cases.push_back({"PeriPage frame length past the end", s, f + 6, "the length field announces", 1});
    }
    {  // PeriPage Adler-32 damaged
        ByteVec s = periZ;
        size_t f = Find(s, Bytes({0x1F, 0x00}));
        size_t n = ((size_t)s[f + 6] << 24) | ((size_t)s[f + 7] << 16) | ((size_t)s[f + 8] << 8) | s[f + 9];
        s[f + 10 + n - 1] ^= 0x80;
        cases.push_back({"PeriPage bad Adler-32", s, f + 10 + n - 4, "bad Adler-32", 0});
    }
    {  // PeriPage truncated inside the second page's frame
        size_t f = Find(periZ, Bytes({0x1F, 0x00}), Find(periZ, Bytes({0x10, 0xFF, 0xFE, 0x45})));
        ByteVec s(periZ.begin(), periZ.begin() + (ptrdiff_t)f + 8);
        cases.push_back(
            {"PeriPage truncated frame header", s, f, "expected 10 bytes, the stream ends after 8", 1});
    }
    {  // TSPL mode 3 length past the end
        size_t b = Find(tsplZ, Bytes("BITMAP"), Find(tsplZ, Bytes("PRINT")));
        ByteVec s(tsplZ.begin(), tsplZ.begin() + (ptrdiff_t)b);
        std::string hdr = "BITMAP 0,0,4,5,3,99999,";
        s.insert(s.end(), hdr.begin(), hdr.end());
        s.insert(s.end(), 40, 0x55);
        cases.push_back({"TSPL compressed length past the end", s, b + hdr.size(),
                         "BITMAP mode 3 data: expected 99999 bytes, the stream ends after 40", 1});
    }
    {  // TSPL zlib data damaged
        ByteVec s = tsplZ;
        size_t b = Find(s, Bytes("BITMAP"));
        size_t data = Find(s, Bytes(","), Find(s, Bytes(",3,"), b) + 3) + 1;
        s[data + 3] ^= 0xFF;
        cases.push_back({"TSPL corrupt zlib data", s, data, "BITMAP mode 3 data:", 0});
    }
    {  // TSPL raw data cut short
        size_t p = Find(tspl, Bytes("PRINT"));
        size_t b = Find(tspl, Bytes("BITMAP"), p);
        ByteVec s(tspl.begin(), tspl.begin() + (ptrdiff_t)b + 30);
        cases.push_back({"TSPL truncated bitmap", s, b + 17,
                         "BITMAP data: expected 20 bytes, the stream ends after 13", 1});
    }
    {  // TSPL unknown command
        ByteVec s = tspl;
        size_t p = Find(s, Bytes("CLS"), Find(s, Bytes("PRINT")));
        memcpy(&s[p], "CLX", 3);
        cases.push_back({"TSPL unknown command", s, p, "unknown command \"CLX\"", 1});
    }
    {  // ESC/POS raster cut short
        ByteVec s(escpos.begin(), escpos.end() - 3);
        size_t g = Find(s, Bytes({0x1D, 0x76, 0x30}), Find(s, Bytes({0x1B, 0x40}), 1));
        cases.push_back({"ESC/POS truncated raster", s, g + 8, "GS v 0 raster data: expected 15 bytes", 1});
    }
    {  // ESC/POS unknown command byte
        ByteVec s = escpos;
        size_t e = Find(s, Bytes({0x1B, 0x40}), 1);
        s[e + 3] = 0x07;
        cases.push_back({"ESC/POS unknown command", s, e + 3, "unknown command byte 0x07", 1});
    }
    {  // CPCL graphics cut short
        size_t g = Find(cpcl, Bytes("CG 4 5 0 0\r\n"));
        ByteVec s(cpcl.begin(), cpcl.begin() + (ptrdiff_t)g + 12 + 7);
        cases.push_back(
            {"CPCL truncated CG", s, g + 12, "CG data: expected 20 bytes, the stream ends after 7", 1});
    }
    {  // CPCL label without PRINT
        size_t p = Find(cpcl, Bytes("PRINT"), Find(cpcl, Bytes("CG 4")));
        ByteVec s(cpcl.begin(), cpcl.begin() + (ptrdiff_t)p);
        cases.push_back({"CPCL missing PRINT", s, p, "expected PRINT", 1});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PreviewResult res;
        EXPECT_FALSE(DecodePrinterStream(c.bytes.data(), c.bytes.size(), PreviewFamily::Unknown, &res));
        EXPECT_FALSE(res.ok);
        EXPECT_EQ(res.errorOffset, c.offset) << res.error;
        EXPECT_NE(res.error.find(c.reason), std::string::npos) << res.error;
        size_t complete = 0;
        for (const PreviewPage& p : res.pages) complete += p.complete;
        EXPECT_EQ(complete, c.completePages) << Listing(res);
    }
}

TEST(PreviewDamage, UnfinishedPageIsKeptWithWhatArrived) {
    // Cut in the middle of the second page's Paperang chunks: the rows of
    // the chunks that arrived make an unfinished page 2.
    Captured<CPrinterPaperang> r;
    r.m_iDpi = 203;
    auto pics = RunJob(r, {{32, 4, 50}, {384, 400, 50}}, 9);
    size_t cut = PaperangFrame(r.out, 0x1B, 4) + 5;
    ByteVec s(r.out.begin(), r.out.begin() + (ptrdiff_t)cut);
    PreviewResult res;
    EXPECT_FALSE(DecodePrinterStream(s.data(), s.size(), PreviewFamily::Unknown, &res));
    ASSERT_EQ(res.pages.size(), 2u) << Listing(res);
    EXPECT_TRUE(res.pages[0].complete);
    EXPECT_FALSE(res.pages[1].complete);
    ASSERT_GT(res.pages[1].height, 0);
    Picture top = pics[1];
    top.h = res.pages[1].height;
    top.dots.resize((size_t)top.w * top.h);
    EXPECT_TRUE(SamePicture(top, res.pages[1]));
}

TEST(PreviewDamage, AbsurdSizesAreRefusedBeforeAnyAllocation) {
    struct Case {
        const char* name;
        ByteVec bytes;
        const char* reason;
    } cases[] = {
        {"TSPL huge bitmap", Bytes("BITMAP 0,0,9000,70000,1,\r\n"), "larger than a page may be"},
        {"TSPL deflate bomb", Bytes("BITMAP 0,0,1000,8000,3,10,0123456789\r\n"), "cannot hold"},
        {"ESC/POS huge raster", Bytes({0x1D, 0x76, 0x30, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}),
         "wider than the largest page"},
        {"PeriPage deflate bomb", Bytes({0x1F, 0x00, 0x08, 0x00, 0x08, 0x00, 0, 0, 0, 6, 1, 2, 3, 4, 5, 6}),
         "cannot hold"},
        {"CPCL huge graphics", Bytes("! 0 200 200 10 1\r\nCG 9000 70000 0 0\r\n"), "out of range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PreviewResult res;
        EXPECT_FALSE(DecodePrinterStream(c.bytes.data(), c.bytes.size(), PreviewFamily::Unknown, &res));
        EXPECT_NE(res.error.find(c.reason), std::string::npos) << res.error;
    }
}

TEST(PreviewDamage, HostileStreamsStopAtTheLimits) {
    auto repeat = [](const std::string& head, const std::string& unit, size_t n) {
        std::string s = head;
        for (size_t i = 0; i < n; i++) s += unit;
        return s;
    };
    // A one-byte bitmap far off the label once grew a 39008 x 39001 page per PRINT.
    const std::string far = std::string("BITMAP 39000,39000,1,1,1,") + '\0' + "\r\n";
    // A 7008 x 7001 page (6 MiB) printed 30 times passes the stream's 128 MiB.
    const std::string big = std::string("BITMAP 7000,7000,1,1,1,") + '\0' + "\r\n";
    // One row of a receipt; 300 feeds of 255 dots after it pass 65535 rows.
    const std::string band("\x1Dv0\0\1\0\1\0\xFF", 9);
    static_assert(sizeof("\x1Dv0\0\1\0\1\0\xFF") == 10, "GS v 0, 1 byte x 1 row");
    // Bitmaps each a little further right make every one copy the page.
    std::string widen = std::string("BITMAP 0,8000,1,1,1,") + '\0' + "\r\n";
    for (int k = 1; k < 2000; k++) widen += "BITMAP " + std::to_string(8 * k) + ",0,1,1,1," + '\0' + "\r\n";
    struct Case {
        const char* name;
        ByteVec bytes;
        const char* reason;  // empty: decodes
        size_t pages, listing;
    } cases[] = {
        {"TSPL bitmap far off", Bytes(repeat(far, "PRINT 1,1\r\n", 12)), "larger than a page may be", 0, 0},
        {"TSPL many big pages", Bytes(repeat(big, "PRINT 1,1\r\n", 30)), "more than 128 MiB", 21, 0},
        {"TSPL page widened again and again", Bytes(widen), "widened too often", 1, 0},
        {"TSPL too many pages", Bytes(repeat("", "PRINT 1,1\r\n", kPreviewMaxPages + 5)),
         "at most 10000 pages", kPreviewMaxPages, 0},
        {"ESC/POS receipt fed far down",
         Bytes(repeat("\x1B@" + band, std::string("\x1BJ\xFF", 3), 300) + band), "beyond the largest page", 1,
         0},
        {"ESC/POS one-byte commands", Bytes(repeat("\x1B@", "\n", kPreviewMaxListing + 10)), "", 0,
         kPreviewMaxListing + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PreviewResult res;
        EXPECT_EQ(DecodePrinterStream(c.bytes.data(), c.bytes.size(), PreviewFamily::Unknown, &res),
                  !*c.reason);
        EXPECT_NE(res.error.find(c.reason), std::string::npos) << res.error;
        EXPECT_EQ(res.pages.size(), c.pages);
        if (c.listing) {
            EXPECT_EQ(res.listing.size(), c.listing);
        }
    }
}

// Identify-Printer's signal and the status queries that the app and the
// filter write before a job and between jobs decode, printing nothing.
TEST(PreviewExamples, IdentifyAndStatusQueriesDecode) {
    for (const DfFamily* f : DfFamilies()) {
        if (!f->identify) continue;
        SCOPED_TRACE(f->name);
        const ByteVec b = Bytes(std::string(f->identify));
        PreviewResult res;
        EXPECT_TRUE(DecodePrinterStream(b.data(), b.size(), PreviewFamily::Unknown, &res)) << res.error;
        EXPECT_EQ(static_cast<int>(res.family), f->modelNumber);
        EXPECT_TRUE(res.pages.empty());
    }
    const struct {
        PreviewFamily family;
        ByteVec job;
    } jobs[] = {
        {PreviewFamilyOf(kDfTspl), TwoPageJob<CPrinterTSPL>()},
        {PreviewFamilyOf(kDfEscpos), TwoPageJob<CPrinterESCPOS>()},
        {PreviewFamilyOf(kDfCpcl), TwoPageJob<CPrinterCPCL>()},
        {PreviewFamilyOf(kDfPaperang), TwoPageJob<CPrinterPaperang>()},
        {PreviewFamilyOf(kDfPeripage), TwoPageJob<CPrinterPeriPage>()},
    };
    for (const auto& j : jobs) {
        SCOPED_TRACE(FamilyName(j.family));
        ByteVec queries;
        for (const DfStatusStep& step : DfStatusSteps(static_cast<int>(j.family)))
            queries.insert(queries.end(), step.query.begin(), step.query.end());
        ASSERT_FALSE(queries.empty());
        ByteVec s = queries;
        s.insert(s.end(), j.job.begin(), j.job.end());
        s.insert(s.end(), queries.begin(), queries.end());
        s.insert(s.end(), j.job.begin(), j.job.end());
        PreviewResult res;
        EXPECT_TRUE(DecodePrinterStream(s.data(), s.size(), PreviewFamily::Unknown, &res))
            << res.errorOffset << ": " << res.error << "\n"
            << Listing(res);
        EXPECT_EQ(res.family, j.family);
        EXPECT_EQ(res.pages.size(), 4u);
        EXPECT_NE(Listing(res).find("status query"), std::string::npos);
    }
}

// ------------------------------------------------------------------- fuzzing

// Recomputes the CRC of every Paperang frame that still parses, so that
// mutations reach the record decoding behind the checksum.
void FixPaperangCrcs(ByteVec& s) {
    size_t pos = 0;
    while (pos + 9 <= s.size() && s[pos] == 0xA5) {
        size_t n = s[pos + 2] | (s[pos + 3] << 8);
        if (pos + n + 9 > s.size()) break;
        uint32_t c = (uint32_t)crc32(0x35769521, &s[pos + 4], (uInt)n);
        for (int i = 0; i < 4; i++) s[pos + 4 + n + i] = (uint8_t)(c >> (8 * i));
        pos += n + 9;
    }
}

TEST(PreviewFuzz, ArbitraryAndMutatedBytesNeverCrash) {
    std::vector<std::pair<PreviewFamily, ByteVec>> seeds = {
        {PreviewFamilyOf(kDfTspl), TwoPageJob<CPrinterTSPL>()},
        {PreviewFamilyOf(kDfTspl),
         TwoPageJob<CPrinterTSPL>([](Captured<CPrinterTSPL>& r) { r.m_halftone.ImageCompress = true; })},
        {PreviewFamilyOf(kDfEscpos), TwoPageJob<CPrinterESCPOS>([](Captured<CPrinterESCPOS>& r) {
             r.m_reg.iMoneyBox = DfMoneyBox::BeforePrint;
             r.m_reg.iFeedOffset = 3;
         })},
        {PreviewFamilyOf(kDfPeripage), TwoPageJob<CPrinterPeriPage>([](Captured<CPrinterPeriPage>& r) {
             r.m_reg.iImageMaxLength = 2;
             r.m_reg.BeginPrintSound = DfSound::EveryDoc;
         })},
        {PreviewFamilyOf(kDfPeripage), TwoPageJob<CPrinterPeriPage>([](Captured<CPrinterPeriPage>& r) {
             r.m_halftone.ImageCompress = true;
         })},
        {PreviewFamilyOf(kDfCpcl), TwoPageJob<CPrinterCPCL>()},
        {PreviewFamilyOf(kDfPaperang), TwoPageJob<CPrinterPaperang>()},
        {PreviewFamilyOf(kDfPaperang), kPaperangExample},
        {PreviewFamilyOf(kDfNiimbot), TwoPageJob<CPrinterNiimbot>()},
        {PreviewFamilyOf(kDfCat), TwoPageJob<CPrinterCat>([](Captured<CPrinterCat>& r) { r.m_compress = true; })},
    };
    // A fixed number of cases from a fixed seed: the same inputs on every
    // machine, however slow. The libFuzzer targets in tests/fuzz go further.
    std::mt19937 rng(20240607);
    const PreviewFamily families[] = {PreviewFamily::Unknown,       PreviewFamilyOf(kDfTspl),
                                      PreviewFamilyOf(kDfEscpos),   PreviewFamilyOf(kDfCpcl),
                                      PreviewFamilyOf(kDfPaperang), PreviewFamilyOf(kDfPeripage)};
    for (int it = 0; it < 10000; it++) {
        ByteVec s;
        PreviewFamily family;
        if (it % 4 == 0) {  // arbitrary bytes, sometimes behind a valid start
            family = families[rng() % 6];
            s.resize(rng() % 200);
            for (auto& b : s) b = (uint8_t)rng();
            if (rng() % 2) {
                const ByteVec& seed = seeds[rng() % seeds.size()].second;
                s.insert(s.begin(), seed.begin(), seed.begin() + (ptrdiff_t)(rng() % seed.size()));
            }
        } else {
            const auto& seed = seeds[rng() % seeds.size()];
            family = rng() % 4 ? seed.first : families[rng() % 6];
            s = seed.second;
            int edits = 1 + (int)(rng() % 4);
            for (int e = 0; e < edits && !s.empty(); e++) {
                size_t at = rng() % s.size();
                switch (rng() % 6) {
                    case 0:
                        s[at] ^= (uint8_t)(1u << (rng() % 8));
                        break;
                    case 1:
                        s[at] = (uint8_t)rng();
                        break;
                    case 2:
                        s.resize(at);
                        break;
                    case 3:
                        s.insert(s.begin() + (ptrdiff_t)at, (uint8_t)rng());
                        break;
                    case 4:
                        s.erase(s.begin() + (ptrdiff_t)at);
                        break;
                    case 5:
                        s[at] = rng() % 2 ? 0xFF : 0x00;
                        break;
                }
            }
            if (seed.first == PreviewFamilyOf(kDfPaperang) && rng() % 2) FixPaperangCrcs(s);
        }
        PreviewResult res;
        bool ok = DecodePrinterStream(s.data(), s.size(), family, &res);
        EXPECT_EQ(ok, res.ok);
        if (!ok) {
            EXPECT_LE(res.errorOffset, s.size());
        }
        for (const PreviewPage& p : res.pages) {
            ASSERT_EQ(p.bits.size(), p.rowBytes * (size_t)p.height);
            ASSERT_EQ(p.rowBytes, ((size_t)p.width + 7) / 8);
        }
    }
}

}  // namespace
