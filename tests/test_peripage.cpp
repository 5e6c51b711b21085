// PeriPage renderer: golden bytes of its builders, document and page beeps,
// whole page streams, the three raster forms (compressed frames inflated
// back to the rows, bands, one command) and the 16-bit row count splits.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/inflate.h"
#include "helpers/pages.h"
#include "printers/peripage.h"

namespace {

class TestPeriPage : public Captured<CPrinterPeriPage> {
public:
    // As read from a PPD that gives no speed or density.
    TestPeriPage() {
        m_iDpi = 203;
        m_reg.iSpeed = -1;
        m_reg.iDensity = -1;
    }
    ByteVec Cmd() {
        return ByteVec(m_cmdBuffer.GetBuffer(), m_cmdBuffer.GetBuffer() + m_cmdBuffer.GetBufferLength());
    }
    bool failDeflate = false;  // a zlib failure to simulate
    std::vector<unsigned char> Deflate(const unsigned char* d, int len) override {
        return failDeflate ? std::vector<unsigned char>() : CPrinterPeriPage::Deflate(d, len);
    }
    void Limit(int n) { m_cmdBuffer.SetMaxBufferSize(n); }
};

// A prepared page in img; returns the first bytesPerRow bytes of every row,
// inverted: what the printer gets. whiteRow makes rows all white.
ByteVec PreparedPage(CxImage& img, unsigned w, unsigned h, unsigned bytesPerRow, unsigned seed = 1,
                     std::function<bool(unsigned)> whiteRow = nullptr) {
    FillPreparedPage(img, w, h, seed, whiteRow);
    return InvertedRows(img, bytesPerRow, whiteRow);
}

ByteVec Slice(const ByteVec& v, size_t from, size_t n) {
    return ByteVec(v.begin() + from, v.begin() + from + n);
}

const ByteVec kInitContinuous =
    Bytes({0x10, 0xFF, 0xFE, 0x01, 0x10, 0xFF, 0x10, 0x03, 0x01, 0x1B, 0x40, 0x00});
const ByteVec kCentre = Bytes({0x1B, 0x61, 0x01});
const ByteVec kEnd = Bytes({0x10, 0xFF, 0xFE, 0x45});
const ByteVec kBeginBeep = Bytes({0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0, 0x22});
const ByteVec kEndBeep = Bytes({0x1F, 0x1B, 0x1F, 0x56, 0x08, 0x09, 0xA0, 0x99});
const ByteVec kDrawer = Bytes({0x1B, 0x70, 0x00, 0x80, 0x80});

// One compressed frame taken apart: its header fields and its payload
// inflated (the zlib header is not sent; the Adler-32 trailer is, and must
// match the inflated rows).
struct Frame {
    int bytesPerRow = -1, rows = -1;
    ByteVec data;
    bool ok = false;
};

Frame ReadFrame(const ByteVec& s, size_t& at) {
    Frame f;
    if (at + 10 > s.size() || s[at] != 0x1F || s[at + 1] != 0x00) return f;
    f.bytesPerRow = s[at + 2] << 8 | s[at + 3];
    f.rows = s[at + 4] << 8 | s[at + 5];
    const size_t n = static_cast<size_t>(s[at + 6]) << 24 | s[at + 7] << 16 | s[at + 8] << 8 | s[at + 9];
    at += 10;
    if (n < 4 || at + n > s.size()) return f;
    z_stream z = {};
    if (inflateInit2(&z, -10) != Z_OK) return f;
    f.data.resize(static_cast<size_t>(f.bytesPerRow) * f.rows + 64);
    z.next_in = const_cast<unsigned char*>(s.data() + at);
    z.avail_in = static_cast<uInt>(n - 4);
    z.next_out = f.data.data();
    z.avail_out = static_cast<uInt>(f.data.size());
    const int rc = inflate(&z, Z_FINISH);
    f.data.resize(z.total_out);
    inflateEnd(&z);
    const unsigned char* t = s.data() + at + n - 4;
    const uLong trailer = static_cast<uLong>(t[0]) << 24 | t[1] << 16 | t[2] << 8 | t[3];
    f.ok = rc == Z_STREAM_END && z.avail_in == 0 &&
           trailer == adler32(1, f.data.data(), static_cast<uInt>(f.data.size()));
    at += n;
    return f;
}

TEST(PeriPageBuilders, GoldenBytes) {
    struct Case {
        const char* name;
        std::function<void(CPrinterPeriPage&)> call;
        ByteVec expected;
    };
    auto density = [](int command, int d) {
        return [=](CPrinterPeriPage& p) {
            p.m_reg.iDensityCommand = command;
            p.cmdDENSITY(d);
        };
    };
    auto init = [](int media) {
        return [=](CPrinterPeriPage& p) {
            p.m_reg.iMediaType = static_cast<DfMediaTracking>(media);
            p.cmdInit();
        };
    };
    auto initWith = [](int k) {
        return Bytes({0x10, 0xFF, 0xFE, 0x01, 0x10, 0xFF, 0x10, 0x03, k, 0x1B, 0x40, 0x00});
    };
    const ByteVec initWithout = Bytes({0x10, 0xFF, 0xFE, 0x01, 0x1B, 0x40, 0x00});
    const Case cases[] = {
        {"speed not given", [](CPrinterPeriPage& p) { p.cmdSpead(-1); }, ByteVec()},
        {"speed 0", [](CPrinterPeriPage& p) { p.cmdSpead(0); }, Bytes({0x1F, 0x1E, 0x1C, 0x03, 0})},
        {"speed 8", [](CPrinterPeriPage& p) { p.cmdSpead(8); }, Bytes({0x1F, 0x1E, 0x1C, 0x03, 8})},
        {"speed 12 sends 8", [](CPrinterPeriPage& p) { p.cmdSpead(12); }, Bytes({0x1F, 0x1E, 0x1C, 0x03, 8})},
        {"density not given", density(1, -1), ByteVec()},
        {"short density 3", density(0, 3), Bytes({0x10, 0xFF, 0x10, 0x00, 3})},
        {"short density 9 sends 5", density(0, 9), Bytes({0x10, 0xFF, 0x10, 0x00, 5})},
        {"extended density 9", density(1, 9), Bytes({0x1F, 0x1E, 0x1C, 0x02, 9})},
        {"extended density 15", density(7, 15), Bytes({0x1F, 0x1E, 0x1C, 0x02, 15})},
        {"extended density 20 sends 8", density(1, 20), Bytes({0x1F, 0x1E, 0x1C, 0x02, 8})},
        {"init, black line", init(2), initWith(0x00)},
        {"init, continuous", init(0), initWith(0x01)},
        {"init, gap", init(1), initWith(0x02)},
        {"init, perforated", init(3), initWith(0x03)},
        {"init, roll", init(4), initWith(0x01)},
        {"init, recording", init(5), initWith(0x01)},
        {"init, tattoo", init(6), initWithout},
        {"init, tattoo variants", init(7), initWithout},
        {"init, unknown", init(-1), initWithout},
        {"begin beep", [](CPrinterPeriPage& p) { p.cmdBeginPrintSound(); }, kBeginBeep},
        {"end beep", [](CPrinterPeriPage& p) { p.cmdEndPrintSound(); }, kEndBeep},
        {"end print", [](CPrinterPeriPage& p) { p.cmdEndPrint(); }, kEnd},
        {"inherited feed", [](CPrinterPeriPage& p) { p.PrintAndFeedPaper(40); },
         Bytes({0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x40})},
        {"inherited drawer", [](CPrinterPeriPage& p) { p.cmdOpenMoneyBox(); }, kDrawer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPeriPage p;
        c.call(p);
        EXPECT_TRUE(SameBytes(c.expected, p.Cmd()));
        EXPECT_TRUE(p.writes.empty());
    }
}

// Two pages between the document hooks: EveryDoc beeps once per job,
// EveryPage on each page, None and "not given" never.
TEST(PeriPageDocument, BeepsPerPageAndPerDocument) {
    struct Case {
        int begin, end;
        ByteVec startDoc, pageHead, pageTail, endDoc;
    };
    const Case cases[] = {
        {-1, -1, {}, {}, {}, {}},
        {0, 0, {}, {}, {}, {}},
        {1, 1, {}, kBeginBeep, kEndBeep, {}},
        {2, 2, kBeginBeep, {}, {}, kEndBeep},
        {2, 1, kBeginBeep, {}, kEndBeep, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.begin) + "/" + std::to_string(c.end));
        TestPeriPage p;
        p.m_reg.BeginPrintSound = static_cast<DfSound>(c.begin);
        p.m_reg.EndPrintSound = static_cast<DfSound>(c.end);
        p.OnStartDoc(0);
        ByteVec wire[2];
        for (ByteVec& w : wire) {
            w = PreparedPage(p.m_image, 16, 2, 2);
            p.OnPaintBmp();
        }
        p.OnEndDoc();
        std::vector<ByteVec> expected;
        if (!c.startDoc.empty()) expected.push_back(c.startDoc);
        for (const ByteVec& w : wire)
            expected.push_back(
                Cat({kInitContinuous, kCentre, c.pageHead, RasterHeader(0, 2, 2), w, c.pageTail, kEnd}));
        if (!c.endDoc.empty()) expected.push_back(c.endDoc);
        ASSERT_EQ(p.writes.size(), expected.size());
        for (size_t i = 0; i < expected.size(); i++)
            EXPECT_TRUE(SameBytes(expected[i], p.writes[i])) << "write " << i;
        EXPECT_TRUE(p.Cmd().empty());
    }
}

TEST(PeriPagePage, Streams) {
    struct Case {
        const char* name;
        std::function<void(CBaseRender&)> set;
        ByteVec head, tail;  // around the raster command of 61 x 3 dots at 203 dpi
    };
    const Case cases[] = {
        {"defaults", [](CBaseRender&) {}, Cat({kInitContinuous, kCentre}), kEnd},
        {"everything",
         [](CBaseRender& r) {
             r.m_reg.iMoneyBox = DfMoneyBox::BeforePrint;
             r.m_reg.iSpeed = 3;
             r.m_reg.iDensity = 9;
             r.m_reg.iDensityCommand = 1;
             r.m_reg.BeginPrintSound = DfSound::EveryPage;
             r.m_reg.EndPrintSound = DfSound::EveryPage;
             r.m_reg.iMediaType = DfMediaTracking::Gap;
             r.m_reg.iFeedOffset = 10;
         },
         Cat({kDrawer, Bytes({0x10, 0xFF, 0xFE, 0x01, 0x10, 0xFF, 0x10, 0x03, 0x02, 0x1B, 0x40, 0x00}),
              Bytes({0x1F, 0x1E, 0x1C, 0x03, 3, 0x1F, 0x1E, 0x1C, 0x02, 9}), kCentre, kBeginBeep}),
         Cat({Bytes({0x1D, 0x0C, 0x1B, 0x4A, 79}), kEndBeep, kEnd})},
        {"drawer after, black line, short density",
         [](CBaseRender& r) {
             r.m_reg.iMoneyBox = DfMoneyBox::AfterPrint;
             r.m_reg.iMediaType = DfMediaTracking::BLine;
             r.m_reg.iDensity = 4;
         },
         Cat({Bytes({0x10, 0xFF, 0xFE, 0x01, 0x10, 0xFF, 0x10, 0x03, 0x00, 0x1B, 0x40, 0x00}),
              Bytes({0x10, 0xFF, 0x10, 0x00, 4}), kCentre}),
         Cat({Bytes({0x1D, 0x0C}), kEnd, kDrawer})},
        {"perforated feeds to the mark; roll does not",
         [](CBaseRender& r) { r.m_reg.iMediaType = DfMediaTracking::Perforated; },
         Cat({Bytes({0x10, 0xFF, 0xFE, 0x01, 0x10, 0xFF, 0x10, 0x03, 0x03, 0x1B, 0x40, 0x00}), kCentre}),
         Cat({Bytes({0x1D, 0x0C}), kEnd})},
        {"tattoo", [](CBaseRender& r) { r.m_reg.iMediaType = DfMediaTracking::Tattoo; },
         Cat({Bytes({0x10, 0xFF, 0xFE, 0x01, 0x1B, 0x40, 0x00}), kCentre}), kEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPeriPage p;
        c.set(p);
        const ByteVec wire = PreparedPage(p.m_image, 61, 3, 8);
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        EXPECT_TRUE(SameBytes(Cat({c.head, RasterHeader(0, 8, 3), wire, c.tail}), p.writes[0]));
    }
}

// The part of the page stream between the page head and the end command.
ByteVec Bitmap(const ByteVec& page) {
    const size_t head = kInitContinuous.size() + kCentre.size();
    return ByteVec(page.begin() + head, page.end() - kEnd.size());
}

TEST(PeriPageRaster, BandsOfImageMaxLengthRows) {
    struct Case {
        int band;
        unsigned height;
        std::vector<int> commands;
    } const cases[] = {
        {100, 250, {100, 100, 50}},
        {100, 100, {100}},
        {1, 3, {1, 1, 1}},
        {0, 250, {250}},
        {70000, 140001, {65535, 4465, 65535, 4465, 1}},  // a band above 16 bits is split too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.band);
        TestPeriPage p;
        p.m_iDpi = 100;
        p.m_reg.iImageMaxLength = c.band;
        const ByteVec wire = PreparedPage(p.m_image, 16, c.height, 2);
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        ByteVec expected;
        size_t row = 0;
        for (int n : c.commands) {
            expected = Cat({expected, RasterHeader(3, 2, n), Slice(wire, row * 2, n * 2u)});
            row += n;
        }
        EXPECT_TRUE(SameBytes(expected, Bitmap(p.writes[0])));
    }
}

TEST(PeriPageRaster, TallPageWithoutBandsSplitsAt65535Rows) {
    TestPeriPage p;
    const ByteVec wire = PreparedPage(p.m_image, 8, 65536, 1);
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_TRUE(
        SameBytes(Cat({RasterHeader(0, 1, 65535), Slice(wire, 0, 65535), RasterHeader(0, 1, 1), Slice(wire, 65535, 1)}),
                  Bitmap(p.writes[0])));
}

// Compression: one frame per at most 65535 rows, each a stream of its own;
// rows capped at 208 bytes up to 203 dpi and 312 above; bands ignored.
TEST(PeriPageRaster, CompressedFrames) {
    struct Case {
        const char* name;
        int dpi;
        unsigned width, height;
        int band;
        int bytesPerRow;
        std::vector<int> frames;
    } const cases[] = {
        {"2000 dots at 203 dpi: capped at 208", 203, 2000, 20, 0, 208, {20}},
        {"2400 dots at 300 dpi: 300, under the cap", 300, 2400, 20, 0, 300, {20}},
        {"4000 dots at 300 dpi: capped at 312", 300, 4000, 5, 0, 312, {5}},
        {"61 dots: 8 bytes per row", 203, 61, 250, 0, 8, {250}},
        {"compression wins over bands", 203, 384, 250, 100, 48, {250}},
        {"taller than 16 bits", 203, 8, 2 * 65535 + 10, 0, 1, {65535, 65535, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPeriPage p;
        p.m_iDpi = c.dpi;
        p.m_halftone.ImageCompress = true;
        p.m_reg.iImageMaxLength = c.band;
        const ByteVec wire = PreparedPage(p.m_image, c.width, c.height, c.bytesPerRow, 9);
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        const ByteVec bitmap = Bitmap(p.writes[0]);
        size_t at = 0, row = 0;
        for (int n : c.frames) {
            const Frame f = ReadFrame(bitmap, at);
            ASSERT_TRUE(f.ok);
            EXPECT_EQ(f.bytesPerRow, c.bytesPerRow);
            EXPECT_EQ(f.rows, n);
            EXPECT_TRUE(
                SameBytes(Slice(wire, row * c.bytesPerRow, n * static_cast<size_t>(c.bytesPerRow)), f.data));
            row += n;
        }
        EXPECT_EQ(at, bitmap.size());
    }
}

// The frame bytes themselves: header fields big-endian, then the zlib
// stream of the rows without its two-byte header (InflatedPeriPage checks
// the length, the inflation and the Adler-32).
TEST(PeriPageRaster, FrameIsTheZlibStreamWithoutItsHeader) {
    TestPeriPage p;
    p.m_halftone.ImageCompress = true;
    const unsigned char rows[6] = {0x00, 0xFF, 0x81, 0x42, 0x24, 0x18};
    p.PrintBMP(203, 203, 3, 2, rows, 6);
    const ByteVec cmd = p.Cmd();
    ASSERT_GE(cmd.size(), 10u);
    EXPECT_EQ(cmd.size(), 10u + ((cmd[6] << 24) | (cmd[7] << 16) | (cmd[8] << 8) | cmd[9]));
    EXPECT_TRUE(SameBytes(Cat({Bytes({0x1F, 0x00, 0x00, 0x03, 0x00, 0x02}), ByteVec(rows, rows + 6)}),
                          InflatedPeriPage(cmd)));
}

// Recording paper loses its white leader and trailer before it is sent.
TEST(PeriPagePage, RecordingPaperCropsWhiteRows) {
    TestPeriPage p;
    p.m_reg.iMediaType = DfMediaTracking::Recording;
    const ByteVec wire = PreparedPage(p.m_image, 16, 10, 2, 4, [](unsigned y) { return y < 3 || y > 7; });
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_TRUE(SameBytes(Cat({RasterHeader(0, 2, 5), wire}), Bitmap(p.writes[0])));
}

// Lost bytes are a page error: commands past the buffer's limit (standing in
// for memory running out, checked once 1024 bytes are full) send nothing; a
// failed deflate sends the page without its bitmap, as before, but says so.
TEST(PeriPagePage, LostBytesAreAPageError) {
    for (int limit : {40, 0}) {
        TestPeriPage p;
        p.m_halftone.ImageCompress = true;
        p.failDeflate = !limit;
        if (limit) p.Limit(limit);
        PreparedPage(p.m_image, 384, 100, 48);
        p.OnPaintBmp();
        EXPECT_EQ(p.writes.size(), limit ? 0u : 1u);
        EXPECT_FALSE(p.PageError().empty());
    }
}

}  // namespace
