// ESC/POS renderer: golden bytes of the seven builders, the paper feed split,
// the mode byte, drawer positions, whole pages, and pages taller than the
// raster command's 16-bit row count.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "printers/escpos.h"

namespace {

class TestESCPOS : public Captured<CPrinterESCPOS> {
public:
    ByteVec Cmd() {
        return ByteVec(m_cmdBuffer.GetBuffer(), m_cmdBuffer.GetBuffer() + m_cmdBuffer.GetBufferLength());
    }
};

// A prepared page in img; returns what the printer gets: the first
// (w + 7) / 8 bytes of each row, inverted.
ByteVec PreparedPage(CxImage& img, unsigned w, unsigned h, unsigned seed = 1) {
    FillPreparedPage(img, w, h, seed);
    return InvertedRows(img, (w + 7) / 8);
}

TEST(EscposBuilders, GoldenBytes) {
    struct Case {
        const char* name;
        int dpi;
        std::function<void(CPrinterESCPOS&)> call;
        ByteVec expected;
    };
    const unsigned char data[] = {1, 2, 3, 4, 5, 6};
    const Case cases[] = {
        {"init", 203, [](CPrinterESCPOS& p) { p.cmdInit(); }, Bytes({0x1B, 0x40, 0x00})},
        {"centre", 203, [](CPrinterESCPOS& p) { p.cmdAlignCenter(); }, Bytes({0x1B, 0x61, 0x01})},
        {"full cut", 203, [](CPrinterESCPOS& p) { p.cmdCutPaper(0); }, Bytes({0x1D, 0x56, 0x30})},
        {"partial cut", 203, [](CPrinterESCPOS& p) { p.cmdCutPaper(1); }, Bytes({0x1D, 0x56, 0x31})},
        {"partial cut, any n", 203, [](CPrinterESCPOS& p) { p.cmdCutPaper(-5); }, Bytes({0x1D, 0x56, 0x31})},
        {"end print", 203, [](CPrinterESCPOS& p) { p.cmdEndPrint(); }, ByteVec()},
        {"drawer", 203, [](CPrinterESCPOS& p) { p.cmdOpenMoneyBox(); },
         Bytes({0x1B, 0x70, 0x00, 0x80, 0x80})},
        {"feed 10 mm = 79 dots", 203, [](CPrinterESCPOS& p) { p.PrintAndFeedPaper(10); },
         Bytes({0x1B, 0x4A, 79})},
        {"feed 40 mm = 319 dots", 203, [](CPrinterESCPOS& p) { p.PrintAndFeedPaper(40); },
         Bytes({0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x40})},
        {"feed of exactly 255 dots", 127, [](CPrinterESCPOS& p) { p.PrintAndFeedPaper(51); },
         Bytes({0x1B, 0x4A, 0xFF})},
        {"feed of exactly 510 dots", 127, [](CPrinterESCPOS& p) { p.PrintAndFeedPaper(102); },
         Bytes({0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0xFF})},
        {"feed 0 dots", 1, [](CPrinterESCPOS& p) { p.PrintAndFeedPaper(1); }, Bytes({0x1B, 0x4A, 0x00})},
        {"feed wrapping below zero", 203, [](CPrinterESCPOS& p) { p.PrintAndFeedPaper(20000000); },
         ByteVec()},
        {"raster, little-endian sizes", 203,
         [&](CPrinterESCPOS& p) { p.PrintBMP(203, 203, 0x0102, 3, data, 6); },
         Cat({RasterHeader(0, 0x0102, 3), ByteVec(data, data + 6)})},
        {"raster, data length need not match", 203,
         [&](CPrinterESCPOS& p) { p.PrintBMP(100, 100, 2, 0x0201, data, 5); },
         Cat({RasterHeader(3, 2, 0x0201), ByteVec(data, data + 5)})},
        {"raster, rows too wide for the header", 203,
         [&](CPrinterESCPOS& p) { p.PrintBMP(203, 203, 0x10000, 1, data, 6); }, ByteVec()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestESCPOS p;
        p.m_iDpi = c.dpi;
        c.call(p);
        EXPECT_TRUE(SameBytes(c.expected, p.Cmd()));
        EXPECT_TRUE(p.writes.empty());
    }
}

TEST(EscposBuilders, ModeByte) {
    struct Case {
        int x, y;
        unsigned char mode;
    } const cases[] = {{203, 203, 0}, {300, 300, 0}, {203, 100, 1}, {100, 203, 2}, {100, 100, 3},
                       {200, 200, 0}, {150, 150, 0}, {202, 202, 0}, {100, 150, 0}, {203, 150, 0}};
    for (const Case& c : cases) EXPECT_EQ(CPrinterESCPOS::RasterMode(c.x, c.y), c.mode) << c.x << "x" << c.y;
}

// Whole pages: drawer before the reset or after the feed, feed only when
// positive, mode byte from the page's resolution, rows cut to whole bytes.
TEST(EscposPage, Streams) {
    struct Case {
        const char* name;
        int dpi, moneyBox, feed;
        unsigned width;
        ByteVec before, after;  // around init + centre + raster
    };
    const ByteVec drawer = Bytes({0x1B, 0x70, 0x00, 0x80, 0x80});
    const ByteVec feed319 = Bytes({0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x40});
    const Case cases[] = {
        {"defaults", 203, -1, 0, 384, {}, {}},
        {"drawer none, negative feed", 203, 0, -3, 384, {}, {}},
        {"drawer before", 203, 1, 0, 384, drawer, {}},
        {"drawer after the feed", 203, 2, 40, 384, {}, Cat({feed319, drawer})},
        {"drawer before, feed after", 203, 1, 40, 384, drawer, feed319},
        {"drawer code 3 is ignored", 203, 3, 0, 384, {}, {}},
        {"61 dots wide: 8 bytes per row", 203, -1, 0, 61, {}, {}},
        {"100 dpi: mode 3", 100, -1, 0, 384, {}, {}},
        {"150 dpi: mode 0", 150, -1, 0, 384, {}, {}},
        {"200 dpi: mode 0", 200, -1, 0, 384, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestESCPOS p;
        p.m_iDpi = c.dpi;
        p.m_reg.iMoneyBox = static_cast<DfMoneyBox>(c.moneyBox);
        p.m_reg.iFeedOffset = c.feed;
        const ByteVec wire = PreparedPage(p.m_image, c.width, 30);
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        const ByteVec expected =
            Cat({c.before, Bytes({0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01}),
                 RasterHeader(c.dpi == 100 ? 3 : 0, static_cast<int>((c.width + 7) / 8), 30), wire, c.after});
        EXPECT_TRUE(SameBytes(expected, p.writes[0]));
        EXPECT_TRUE(p.Cmd().empty());
    }
}

// The row count is 16 bits on the wire: a taller page is several raster
// commands of at most 65535 rows, rows in order; up to 65535 rows nothing
// changes. A page 8 dots wide keeps this small (one byte per row).
TEST(EscposPage, TallPagesSplitAt65535Rows) {
    struct Case {
        unsigned height;
        std::vector<int> commands;
    } const cases[] = {
        {65535, {65535}},
        {65536, {65535, 1}},
        {2 * 65535 + 10, {65535, 65535, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        TestESCPOS p;
        p.m_iDpi = 203;
        const ByteVec wire = PreparedPage(p.m_image, 8, c.height);
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        ByteVec expected = Bytes({0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01});
        size_t row = 0;
        for (int n : c.commands) {
            expected = Cat({expected, RasterHeader(0, 1, n), ByteVec(wire.begin() + row, wire.begin() + row + n)});
            row += n;
        }
        EXPECT_TRUE(SameBytes(expected, p.writes[0]));
    }
}

TEST(EscposPage, DocumentHooksSendNothing) {
    TestESCPOS p;
    p.m_iDpi = 203;
    p.m_reg.iMoneyBox = DfMoneyBox::AfterPrint;
    p.OnStartDoc(0);
    p.OnEndDoc();
    EXPECT_TRUE(p.writes.empty());
}

}  // namespace
