// Fitting pages to the medium through the library's page path: a label page
// smaller than its PageSize is centred on a white page of that size (TSPL and
// CPCL, gap and mark media only), a page that fills its size is untouched,
// and a page wider than the print head is cut to it with a warning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "helpers/raster.h"
#include "printers/cpcl.h"
#include "printers/escpos.h"
#include "printers/tspl.h"
#include "render/pageintake.h"

namespace {

struct NoChoices : DfSettingsSource {
    bool Choice(const char*, std::string&) override { return false; }
    bool Attribute(const char*, std::string&) override { return false; }
};

struct Report {
    DfReport level;
    std::string text;
};

// Runs one 8-bit page, black inside, through DfRenderPage with the given
// page size in points (0: as large as the raster) and returns the bytes.
template <class Render>
ByteVec RunPage(unsigned w, unsigned h, int dpi, int mediaType, unsigned ptW, unsigned ptH,
                std::vector<Report>* reports = nullptr, int headDots = 0, float exactW = 0,
                float exactH = 0) {
    Captured<Render> r;
    NoChoices settings;
    r.SetSettings(&settings);
    r.m_reg.iMediaType = static_cast<DfMediaTracking>(mediaType);
    r.m_reg.iHeadDots = headDots;
    r.m_halftone.iGrayMethod = DfReduction::Threshold;  // threshold: black and white stay exact
    TestPage page = MakePage(w, h, 8, 0x00, dpi);
    cups_page_header2_t header;
    FillHeader(page, &header);
    if (ptW) header.PageSize[0] = ptW;
    if (ptH) header.PageSize[1] = ptH;
    header.cupsPageSize[0] = exactW;
    header.cupsPageSize[1] = exactH;
    CMyBuffer buffer;
    buffer.SetMaxBufferSize(0);
    buffer.AddBuffer(page.data.data(), static_cast<int>(page.data.size()));
    DfRenderPage(&r, &header, buffer, 1, [&](DfReport level, const std::string& text) {
        if (reports) reports->push_back({level, text});
    });
    r.SetSettings(nullptr);
    return r.All();
}

// Stored 1-bit rows (0 = black) of a white w x h page with a black block of
// bw x bh dots at (x, y); rows are 4-byte aligned, tails white.
ByteVec Rows(unsigned w, unsigned h, unsigned x, unsigned y, unsigned bw, unsigned bh,
             bool inverted = false) {
    const unsigned eff = (w + 31) / 32 * 4;
    ByteVec rows(static_cast<size_t>(eff) * h, 0xFF);
    for (unsigned r = y; r < y + bh; r++)
        for (unsigned c = x; c < x + bw; c++)
            rows[r * eff + c / 8] &= static_cast<unsigned char>(~(0x80 >> (c % 8)));
    if (inverted)
        for (unsigned char& b : rows) b = static_cast<unsigned char>(~b);
    return rows;
}

ByteVec Tspl(const std::string& size, unsigned w, unsigned h, const ByteVec& rows,
             const char* media = "GAP 3 mm,0 mm") {
    const unsigned eff = (w + 31) / 32 * 4;
    return Cat({Bytes("SIZE " + size + "\r\nSET RIBBON OFF\r\n" + media +
                      "\r\nOFFSET 0 mm\r\nDENSITY 8\r\nSPEED 4\r\n"
                      "CLS\r\nBITMAP 0,0," +
                      std::to_string(eff) + "," + std::to_string(h) + ",1,"),
                rows, Bytes("\r\nPRINT 1,1\r\n")});
}

// At 72 dpi a point is a dot, so a 16 x 8 picture on a 40 x 20 pt label
// lands at (12, 6).
TEST(PageFit, ImageSizedLabelPageIsCentredOnItsPageSize) {
    std::vector<Report> reports;
    EXPECT_TRUE(SameBytes(Tspl("14.11 mm,7.06 mm", 40, 20, Rows(40, 20, 12, 6, 16, 8)),
                          RunPage<CPrinterTSPL>(16, 8, 72, 1, 40, 20, &reports)));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].level, DfReport::Debug);
    EXPECT_EQ(reports[0].text,
              "Page 1: the 16x8 dot page is centred on a white page of its size, 40.0x20.0 pt (40x20 dots)");

    // Black marks are label media too; CPCL takes its width from the page.
    EXPECT_TRUE(SameBytes(Tspl("14.11 mm,7.06 mm", 40, 20, Rows(40, 20, 12, 6, 16, 8), "BLINE 3 mm,0 mm"),
                          RunPage<CPrinterTSPL>(16, 8, 72, 2, 40, 20)));
    EXPECT_TRUE(SameBytes(Cat({Bytes("! 0 200 200 20 1\r\nPAGE-WIDTH 40\r\nCG 8 20 0 0\r\n"),
                               Rows(40, 20, 12, 6, 16, 8, true), Bytes("FORM\r\nPRINT\r\n")}),
                          RunPage<CPrinterCPCL>(16, 8, 72, 1, 40, 20)));
    // Only one direction short: the page grows in that direction alone.
    EXPECT_TRUE(SameBytes(Tspl("14.11 mm,2.82 mm", 40, 8, Rows(40, 8, 12, 0, 16, 8)),
                          RunPage<CPrinterTSPL>(16, 8, 72, 1, 40, 8)));
}

TEST(PageFit, TruncatedPageSizeUsesTheExactSize) {
    // imagetoraster's header for a 30 mm square PNG on a 50 x 30 mm label at
    // 203 dpi: PageSize 141 x 85, cupsPageSize 141.73 x 85.04.
    const ByteVec out = RunPage<CPrinterTSPL>(239, 239, 203, 1, 141, 85, nullptr, 0, 141.732285f, 85.039375f);
    const std::string text(out.begin(), out.begin() + 120);
    EXPECT_EQ(text.substr(0, 24), "SIZE 50.05 mm,30.03 mm\r\n");
    EXPECT_NE(text.find("BITMAP 0,0,52,240,1,"), std::string::npos) << text;
}

TEST(PageFit, PagesThatNeedNoPaddingAreUntouched) {
    struct Case {
        const char* name;
        unsigned w, h, ptW, ptH;
        int media;
    };
    const Case cases[] = {
        {"fills its size", 40, 20, 40, 20, 1},
        {"within 2 points", 38, 18, 40, 20, 1},
        {"continuous media", 16, 8, 40, 20, 0},
        {"larger than its size", 50, 30, 40, 20, 1},
    };
    for (const Case& c : cases) {
        std::vector<Report> reports;
        const unsigned size[] = {c.w, c.h};
        char sz[64];
        snprintf(sz, sizeof(sz), "%.2f mm,%.2f mm", size[0] / (72 / 25.4), size[1] / (72 / 25.4));
        EXPECT_TRUE(SameBytes(Tspl(sz, c.w, c.h, Rows(c.w, c.h, 0, 0, c.w, c.h),
                                   c.media == 1 ? "GAP 3 mm,0 mm" : "GAP 0 mm,0 mm"),
                              RunPage<CPrinterTSPL>(c.w, c.h, 72, c.media, c.ptW, c.ptH, &reports)))
            << c.name;
        EXPECT_TRUE(reports.empty()) << c.name;
    }
    // Receipts are never padded: their length is the content's.
    const ByteVec escpos = RunPage<CPrinterESCPOS>(16, 8, 72, 1, 40, 20);
    EXPECT_TRUE(SameBytes(
        Cat({Bytes({0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01}), RasterHeader(0, 2, 8), ByteVec(16, 0xFF)}),
        escpos));
}

TEST(PageFit, PageWiderThanTheHeadIsCutWithAWarning) {
    // 640 dots on a 384-dot head: 48 bytes per row go out, not 80.
    std::vector<Report> reports;
    const ByteVec cut = RunPage<CPrinterESCPOS>(640, 4, 203, 0, 0, 0, &reports, 384);
    EXPECT_TRUE(SameBytes(
        Cat({Bytes({0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01}), RasterHeader(0, 48, 4), ByteVec(48 * 4, 0xFF)}),
        cut));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].level, DfReport::Warning);
    EXPECT_EQ(reports[0].text, "Page 1 is 640 dots wide, wider than the print head's 384: cut at the right.");

    // A cut that leaves part of a byte: the bits past the head print white.
    reports.clear();
    const ByteVec tspl = RunPage<CPrinterTSPL>(100, 2, 72, 0, 0, 0, &reports, 45);
    EXPECT_TRUE(SameBytes(Tspl("15.87 mm,0.71 mm", 45, 2, Rows(45, 2, 0, 0, 45, 2), "GAP 0 mm,0 mm"), tspl));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "Page 1 is 100 dots wide, wider than the print head's 45: cut at the right.");

    // At or under the head width, or without a head width: nothing changes.
    for (int head : {0, 100, 384}) {
        reports.clear();
        const ByteVec whole = RunPage<CPrinterTSPL>(100, 2, 72, 0, 0, 0, &reports, head);
        EXPECT_TRUE(
            SameBytes(Tspl("35.28 mm,0.71 mm", 100, 2, Rows(100, 2, 0, 0, 100, 2), "GAP 0 mm,0 mm"), whole))
            << head;
        EXPECT_TRUE(reports.empty()) << head;
    }
}

}  // namespace
