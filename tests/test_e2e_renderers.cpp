// End to end: the built filter on multi-page 1-bit rasters for the TSPL,
// ESC/POS, CPCL and PeriPage model numbers, with the PPD defaults and with
// job options over them; the whole standard output is checked byte for byte.
// A 1-bit page passes the pipeline unchanged with these PPDs (no crop,
// rotation or shift), except that the bits after each row's last dot turn
// white, so the expected bitmaps are derived from the raster lines here.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/inflate.h"
#include "helpers/raster.h"
#include "helpers/runfilter.h"

namespace {


// A 1-bit W page (1 = white) whose raster lines carry black bits beyond the
// width too, which the pipeline must whiten.
TestPage PatternPage(unsigned w, unsigned h, int dpi, unsigned seed) {
    TestPage p = MakePage(w, h, 1, 0, dpi);
    unsigned x = seed;
    for (unsigned char& b : p.data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<unsigned char>(x >> 16);
    }
    if (w % 8)
        for (unsigned y = 0; y < h; y++)
            p.data[y * p.BytesPerLine() + w / 8] &= static_cast<unsigned char>(0xFF << (8 - w % 8));
    return p;
}

const std::vector<TestPage>& Pages() {
    static const std::vector<TestPage> pages = {PatternPage(61, 12, 203, 1), PatternPage(384, 20, 203, 2),
                                                PatternPage(100, 7, 100, 3)};
    return pages;
}

unsigned EffWidth(const TestPage& p) {
    return (p.width + 31) / 32 * 4;
}

// The prepared image's rows: the raster lines with white tails, 4-byte rows.
ByteVec StoredRows(const TestPage& p) {
    const unsigned eff = EffWidth(p), bpl = p.BytesPerLine();
    ByteVec rows;
    for (unsigned y = 0; y < p.height; y++) {
        ByteVec row(p.data.begin() + y * bpl, p.data.begin() + (y + 1) * bpl);
        if (p.width % 8) row.back() |= static_cast<unsigned char>(0xFF >> (p.width % 8));
        row.resize(eff, 0xFF);
        rows.insert(rows.end(), row.begin(), row.end());
    }
    return rows;
}

ByteVec Inverted(ByteVec v) {
    for (unsigned char& b : v) b = static_cast<unsigned char>(~b);
    return v;
}

// The inverted rows cut to bytesPerRow bytes each.
ByteVec WireRows(const TestPage& p, unsigned bytesPerRow) {
    const ByteVec rows = Inverted(StoredRows(p));
    ByteVec out;
    for (unsigned y = 0; y < p.height; y++)
        out.insert(out.end(), rows.begin() + y * EffWidth(p), rows.begin() + y * EffWidth(p) + bytesPerRow);
    return out;
}

void Add(ByteVec& to, const ByteVec& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}
void Add(ByteVec& to, const std::string& text) {
    to.insert(to.end(), text.begin(), text.end());
}

ByteVec RunJob(const std::string& ppd, const std::string& options) {
    const std::string path = TempPath("e2e_renderers");
    EXPECT_TRUE(WriteRasterFile(path, Pages()));
    FilterArgs a;
    a.ppd = TestPpd(ppd);
    a.options = options;
    a.rasterFile = path;
    FilterRun run = RunFilter(a);
    remove(path.c_str());
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

std::string Size(const TestPage& p) {
    char text[128];
    snprintf(text, sizeof(text), "SIZE %.2f mm,%.2f mm\r\n", p.width / (p.xdpi / 25.4),
             p.height / (p.xdpi / 25.4));
    return text;
}

TEST(EndToEnd, Tspl) {
    struct Case {
        const char* options;
        std::string lines;
        bool compress;
    } const cases[] = {
        {"", "SET RIBBON OFF\r\nGAP 3 mm,0 mm\r\nOFFSET 0 mm\r\nDENSITY 8\r\nSPEED 4\r\n", false},
        {"ImageCompress=1 MediaMethod=Ribbon zeMediaTracking=BLine FeedOffset=2 Darkness=Default "
         "zePrintRate=13",
         "SET RIBBON ON\r\nBLINE 0 mm,0 mm\r\nOFFSET 2 mm\r\nSPEED 4\r\n", true},
        {"zeMediaTracking=Roll Darkness=20 zePrintRate=Default",
         "SET RIBBON OFF\r\nOFFSET 0 mm\r\nDENSITY 20\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        ByteVec expected;
        for (const TestPage& p : Pages()) {
            const ByteVec rows = StoredRows(p);
            Add(expected, Size(p) + c.lines + "CLS\r\nBITMAP 0,0," + std::to_string(EffWidth(p)) + "," +
                              std::to_string(p.height) + ",");
            if (c.compress) {
                // Compared inflated: see InflatedTspl.
                Add(expected, std::string("3,"));
                Add(expected, Inverted(rows));
            } else {
                Add(expected, std::string("1,"));
                Add(expected, rows);
            }
            Add(expected, std::string("\r\nPRINT 1,1\r\n"));
        }
        EXPECT_TRUE(SameBytes(expected, InflatedTspl(RunJob("tspl.ppd", c.options))));
    }
}

ByteVec EscRaster(int mode, unsigned bytesPerRow, unsigned rows) {
    return Bytes({0x1D, 0x76, 0x30, mode, static_cast<int>(bytesPerRow & 0xFF),
                  static_cast<int>(bytesPerRow >> 8), static_cast<int>(rows & 0xFF),
                  static_cast<int>(rows >> 8)});
}

int Mode(const TestPage& p) {
    return p.xdpi == 100 ? 3 : 0;
}

TEST(EndToEnd, Escpos) {
    const ByteVec drawer = Bytes({0x1B, 0x70, 0x00, 0x80, 0x80});
    struct Case {
        const char* options;
        bool drawerBefore, drawerAfter;
        int feedMm;
    } const cases[] = {
        {"", false, false, 0},
        {"MoneyBox=BeforePrint FeedOffset=40", true, false, 40},
        {"MoneyBox=AfterPrint FeedOffset=10", false, true, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        ByteVec expected;
        for (const TestPage& p : Pages()) {
            if (c.drawerBefore) Add(expected, drawer);
            Add(expected, Bytes({0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01}));
            Add(expected, EscRaster(Mode(p), (p.width + 7) / 8, p.height));
            Add(expected, WireRows(p, (p.width + 7) / 8));
            if (c.feedMm > 0) {
                int dots = static_cast<int>(p.xdpi * c.feedMm / 25.4);
                for (; dots > 255; dots -= 255) Add(expected, Bytes({0x1B, 0x4A, 0xFF}));
                if (dots > 0) Add(expected, Bytes({0x1B, 0x4A, dots}));
            }
            if (c.drawerAfter) Add(expected, drawer);
        }
        EXPECT_TRUE(SameBytes(expected, RunJob("escpos.ppd", c.options)));
    }
}

TEST(EndToEnd, Cpcl) {
    for (bool gap : {true, false}) {
        SCOPED_TRACE(gap);
        ByteVec expected;
        for (const TestPage& p : Pages()) {
            Add(expected, "! 0 200 200 " + std::to_string(p.height) + " 1\r\nPAGE-WIDTH " +
                              std::to_string(p.width) + "\r\nCG " + std::to_string(EffWidth(p)) + " " +
                              std::to_string(p.height) + " 0 0\r\n");
            Add(expected, Inverted(StoredRows(p)));
            Add(expected, std::string(gap ? "FORM\r\nPRINT\r\n" : "PRINT\r\n"));
        }
        EXPECT_TRUE(SameBytes(expected, RunJob("cpcl.ppd", gap ? "" : "zeMediaTracking=Continuous")));
    }
}

TEST(EndToEnd, PeriPage) {
    const ByteVec beginBeep = Bytes({0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0, 0x22});
    const ByteVec endBeep = Bytes({0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0, 0x99});
    const ByteVec endPrint = Bytes({0x10, 0xFF, 0xFE, 0x45});
    const ByteVec centre = Bytes({0x1B, 0x61, 0x01});

    // PPD defaults: gap labels, speed 12 (sent as 8), extended density 9,
    // bands of 5 rows, a beep at the start of the job and after every page.
    {
        ByteVec expected = beginBeep;
        for (const TestPage& p : Pages()) {
            Add(expected, Bytes({0x10, 0xFF, 0xFE, 0x01, 0x10, 0xFF, 0x10, 0x03, 0x02, 0x1B, 0x40, 0x00}));
            Add(expected, Bytes({0x1F, 0x1E, 0x1C, 0x03, 8, 0x1F, 0x1E, 0x1C, 0x02, 9}));
            Add(expected, centre);
            const unsigned bpr = (p.width + 7) / 8;
            const ByteVec wire = WireRows(p, bpr);
            for (unsigned row = 0; row < p.height; row += 5) {
                const unsigned n = p.height - row < 5 ? p.height - row : 5;
                Add(expected, EscRaster(Mode(p), bpr, n));
                Add(expected, ByteVec(wire.begin() + row * bpr, wire.begin() + (row + n) * bpr));
            }
            Add(expected, Bytes({0x1D, 0x0C}));
            Add(expected, endBeep);
            Add(expected, endPrint);
        }
        EXPECT_TRUE(SameBytes(expected, RunJob("peripage.ppd", "")));
    }

    // Compressed (bands ignored), tattoo paper, page beeps, end-of-job beep,
    // drawer after the feed, no speed command, density 3 on the extended one.
    {
        ByteVec expected;
        for (const TestPage& p : Pages()) {
            Add(expected, Bytes({0x10, 0xFF, 0xFE, 0x01, 0x1B, 0x40, 0x00}));
            Add(expected, Bytes({0x1F, 0x1E, 0x1C, 0x02, 3}));
            Add(expected, centre);
            Add(expected, beginBeep);
            const unsigned bpr = (p.width + 7) / 8;
            // The frame as InflatedPeriPage leaves it: its head, then the rows.
            Add(expected, Bytes({0x1F, 0x00, static_cast<int>(bpr >> 8), static_cast<int>(bpr & 0xFF),
                                 static_cast<int>(p.height >> 8), static_cast<int>(p.height & 0xFF)}));
            Add(expected, WireRows(p, bpr));
            const int dots = static_cast<int>(p.xdpi * 10 / 25.4);
            Add(expected, Bytes({0x1B, 0x4A, dots}));
            Add(expected, endPrint);
            Add(expected, Bytes({0x1B, 0x70, 0x00, 0x80, 0x80}));
        }
        Add(expected, endBeep);
        EXPECT_TRUE(SameBytes(expected, InflatedPeriPage(RunJob("peripage.ppd",
                                                                "ImageCompress=1 zeMediaTracking=Tattoo "
                                                                "BeginPrintSound=EveryPage EndPrintSound=EveryDoc "
                                                                "MoneyBox=AfterPrint FeedOffset=10 "
                                                                "zePrintRate=Default Darkness=3"))));
    }
}

}  // namespace
