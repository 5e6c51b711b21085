// TSPL renderer: golden lines of every builder, whole page streams for the
// settings that shape them, raw and zlib-compressed bitmaps, and the raw
// fallback when compression cannot be done.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "printers/tspl.h"

namespace {

class TestTSPL : public Captured<CPrinterTSPL> {
public:
    int failCompress = Z_OK;  // a zlib error code to simulate, Z_OK for none
    ByteVec Cmd() {
        return ByteVec(m_cmdBuffer.GetBuffer(), m_cmdBuffer.GetBuffer() + m_cmdBuffer.GetBufferLength());
    }

protected:
    int Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* src,
                 unsigned long srcLen) override {
        if (failCompress != Z_OK) return failCompress;
        return CPrinterTSPL::Compress(dest, destLen, src, srcLen);
    }
};

// A prepared page in img; returns its stored rows.
ByteVec PreparedPage(CxImage& img, unsigned w, unsigned h, unsigned seed = 1) {
    FillPreparedPage(img, w, h, seed);
    return ByteVec(img.GetBits(0), img.GetBits(0) + static_cast<size_t>(img.GetEffWidth()) * h);
}

// Settings as the worked example has them.
void ExampleSettings(CBaseRender& r) {
    r.m_iDpi = 203;
    r.m_reg.iPrinttype = DfPrintMethod::Direct;
    r.m_reg.iMediaType = DfMediaTracking::Continuous;
    r.m_reg.iOffset = 0;
    r.m_reg.iDensity = 8;
    r.m_reg.iSpeed = 4;
    r.m_halftone.ImageCompress = false;
}

ByteVec Inflate(const unsigned char* data, size_t len, size_t expectedLen) {
    ByteVec out(expectedLen + 16);
    uLongf outLen = out.size();
    if (uncompress(out.data(), &outLen, data, len) != Z_OK) return {};
    out.resize(outLen);
    return out;
}

TEST(TsplBuilders, GoldenLines) {
    struct Case {
        std::function<void(CPrinterTSPL&)> call;
        std::string expected;
    };
    const Case cases[] = {
        {[](CPrinterTSPL& p) { p.cmdSIZE(48.0472906, 30.0295566, 1); }, "SIZE 48.05 mm,30.03 mm\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSIZE(2.5, 0.004, 2); }, "SIZE 2.50 dot,0.00 dot\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSIZE(-1.0, 1e6, 0); }, "SIZE -1.00,1000000.00\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSetRibbon(false); }, "SET RIBBON OFF\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSetRibbon(true); }, "SET RIBBON ON\r\n"},
        {[](CPrinterTSPL& p) { p.cmdGAP(3, 0, 1); }, "GAP 3 mm,0 mm\r\n"},
        {[](CPrinterTSPL& p) { p.cmdGAP(-2, 5, 2); }, "GAP -2 dot,5 dot\r\n"},
        {[](CPrinterTSPL& p) { p.cmdBLINE(0, 0, 1); }, "BLINE 0 mm,0 mm\r\n"},
        {[](CPrinterTSPL& p) { p.cmdBLINE(4, 1, 9); }, "BLINE 4,1\r\n"},
        {[](CPrinterTSPL& p) { p.cmdOFFSET(0, 1); }, "OFFSET 0 mm\r\n"},
        {[](CPrinterTSPL& p) { p.cmdOFFSET(-3, 2); }, "OFFSET -3 dot\r\n"},
        {[](CPrinterTSPL& p) { p.cmdDENSITY(-1); }, ""},
        {[](CPrinterTSPL& p) { p.cmdDENSITY(0); }, "DENSITY 0\r\n"},
        {[](CPrinterTSPL& p) { p.cmdDENSITY(20); }, "DENSITY 20\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSPEED(-1); }, ""},
        {[](CPrinterTSPL& p) { p.cmdSPEED(0); }, "SPEED 4\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSPEED(1); }, "SPEED 1\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSPEED(12); }, "SPEED 12\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSPEED(13); }, "SPEED 4\r\n"},
        {[](CPrinterTSPL& p) { p.cmdSPEED(INT_MAX); }, "SPEED 4\r\n"},
        {[](CPrinterTSPL& p) { p.cmdCLS(); }, "CLS\r\n"},
        {[](CPrinterTSPL& p) { p.cmdPRINT(1, 1); }, "PRINT 1,1\r\n"},
        {[](CPrinterTSPL& p) { p.cmdPRINT(2, 3); }, "PRINT 2,3\r\n"},
        {[](CPrinterTSPL& p) { p.cmdBITMAP(1, 2, 3, 2, "abcdef", 6); }, "BITMAP 1,2,3,2,1,abcdef\r\n"},
        {[](CPrinterTSPL& p) { p.cmdBITMAP(0, 0, 0, 0, nullptr, 0); }, "BITMAP 0,0,0,0,1,\r\n"},
    };
    for (const Case& c : cases) {
        TestTSPL p;
        c.call(p);
        EXPECT_TRUE(SameBytes(Bytes(c.expected), p.Cmd())) << c.expected;
        EXPECT_TRUE(p.writes.empty());  // builders never write
    }
}

TEST(TsplPage, WorkedExample384x240At203Dpi) {
    TestTSPL p;
    ExampleSettings(p);
    const ByteVec rows = PreparedPage(p.m_image, 384, 240);
    ASSERT_EQ(rows.size(), 11520u);
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);  // one write for the whole page
    const ByteVec expected =
        Cat({Bytes("SIZE 48.05 mm,30.03 mm\r\nSET RIBBON OFF\r\nGAP 0 mm,0 mm\r\nOFFSET 0 mm\r\n"
                   "DENSITY 8\r\nSPEED 4\r\nCLS\r\nBITMAP 0,0,48,240,1,"),
             rows, Bytes("\r\nPRINT 1,1\r\n")});
    EXPECT_TRUE(SameBytes(expected, p.writes[0]));
    EXPECT_EQ(p.m_cmdBuffer.GetBufferLength(), 0);
    // Raw mode sends the rows as stored and leaves the image alone.
    EXPECT_TRUE(SameBytes(rows, ByteVec(p.m_image.GetBits(0), p.m_image.GetBits(0) + rows.size())));
}

// Everything before CLS, for settings that change only those lines.
TEST(TsplPage, SettingsShapeTheHeaderLines) {
    struct Case {
        const char* name;
        int dpi, printtype, media, gapHeight, offset, density, speed;
        unsigned width;
        std::string head;
    };
    const std::string size = "SIZE 48.05 mm,30.03 mm\r\n", off = "SET RIBBON OFF\r\n";
    const Case cases[] = {
        {"400 dots wide: width field is the stored row", 203, 0, 0, 3, 0, 8, 4, 400,
         "SIZE 50.05 mm,30.03 mm\r\n" + off + "GAP 0 mm,0 mm\r\nOFFSET 0 mm\r\nDENSITY 8\r\nSPEED 4\r\n"},
        {"ribbon, gap labels, offset", 203, 1, 1, 3, 2, 8, 4, 384,
         size + "SET RIBBON ON\r\nGAP 3 mm,0 mm\r\nOFFSET 2 mm\r\nDENSITY 8\r\nSPEED 4\r\n"},
        {"black line, unknown ribbon", 203, 7, 2, 0, 0, 8, 4, 384,
         size + "BLINE 0 mm,0 mm\r\nOFFSET 0 mm\r\nDENSITY 8\r\nSPEED 4\r\n"},
        {"roll: no sensing line; speed and density unset", 203, 0, 4, 3, 0, -1, -1, 384,
         size + off + "OFFSET 0 mm\r\n"},
        {"speed 0, density 20", 203, 0, 0, 3, 0, 20, 0, 384,
         size + off + "GAP 0 mm,0 mm\r\nOFFSET 0 mm\r\nDENSITY 20\r\nSPEED 4\r\n"},
        {"speed 13", 203, 0, 0, 3, 0, 8, 13, 384,
         size + off + "GAP 0 mm,0 mm\r\nOFFSET 0 mm\r\nDENSITY 8\r\nSPEED 4\r\n"},
        {"speed 12", 203, 0, 0, 3, 0, 8, 12, 384,
         size + off + "GAP 0 mm,0 mm\r\nOFFSET 0 mm\r\nDENSITY 8\r\nSPEED 12\r\n"},
        {"no resolution: no SIZE line", 0, 0, 0, 3, 0, 8, 4, 384,
         off + "GAP 0 mm,0 mm\r\nOFFSET 0 mm\r\nDENSITY 8\r\nSPEED 4\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestTSPL p;
        p.m_iDpi = c.dpi;
        p.m_reg.iPrinttype = static_cast<DfPrintMethod>(c.printtype);
        p.m_reg.iMediaType = static_cast<DfMediaTracking>(c.media);
        p.m_reg.iGapHeight = c.gapHeight;
        p.m_reg.iGapOffset = 0;
        p.m_reg.iOffset = c.offset;
        p.m_reg.iDensity = c.density;
        p.m_reg.iSpeed = c.speed;
        const ByteVec rows = PreparedPage(p.m_image, c.width, 240);
        const unsigned eff = p.m_image.GetEffWidth();
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        const ByteVec expected = Cat({Bytes(c.head + "CLS\r\nBITMAP 0,0," + std::to_string(eff) + ",240,1,"),
                                      rows, Bytes("\r\nPRINT 1,1\r\n")});
        EXPECT_TRUE(SameBytes(expected, p.writes[0]));
    }
}

// Mode 3: the header carries the exact zlib length, the stream inflates to
// the complement of the raw rows (padding 0), and PRINT follows.
TEST(TsplPage, CompressedBitmapInflatesToInvertedRows) {
    for (unsigned width : {384u, 61u}) {
        SCOPED_TRACE(width);
        TestTSPL p;
        ExampleSettings(p);
        p.m_halftone.ImageCompress = true;
        const ByteVec rows = PreparedPage(p.m_image, width, 240, 7);
        const unsigned eff = p.m_image.GetEffWidth();
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        const std::string out(p.writes[0].begin(), p.writes[0].end());
        const std::string head = "CLS\r\nBITMAP 0,0," + std::to_string(eff) + ",240,3,";
        size_t at = out.find(head);
        ASSERT_NE(at, std::string::npos);
        at += head.size();
        const size_t comma = out.find(',', at);
        const size_t n = std::stoul(out.substr(at, comma - at));
        const size_t data = comma + 1;
        ASSERT_EQ(out.size(), data + n + std::string("\r\nPRINT 1,1\r\n").size());
        EXPECT_EQ(out.substr(data + n), "\r\nPRINT 1,1\r\n");
        ByteVec inverted(rows);
        for (unsigned char& b : inverted) b = static_cast<unsigned char>(~b);
        EXPECT_TRUE(SameBytes(inverted, Inflate(p.writes[0].data() + data, n, rows.size())));
    }
}

// A failed compression must not announce a length that does not follow: the
// page goes out exactly as with compression off, with the rows as stored.
TEST(TsplPage, FailedCompressionFallsBackToRawRows) {
    TestTSPL raw;
    ExampleSettings(raw);
    const ByteVec rows = PreparedPage(raw.m_image, 384, 240, 3);
    raw.OnPaintBmp();
    for (int rc : {Z_MEM_ERROR, Z_BUF_ERROR, Z_STREAM_ERROR}) {
        SCOPED_TRACE(rc);
        TestTSPL p;
        ExampleSettings(p);
        p.m_halftone.ImageCompress = true;
        p.failCompress = rc;
        PreparedPage(p.m_image, 384, 240, 3);
        p.OnPaintBmp();
        EXPECT_TRUE(SameBytes(raw.All(), p.All()));
        EXPECT_TRUE(SameBytes(rows, ByteVec(p.m_image.GetBits(0), p.m_image.GetBits(0) + rows.size())));
    }
}

TEST(TsplPage, EveryPageRepeatsTheWholeStream) {
    TestTSPL p;
    ExampleSettings(p);
    PreparedPage(p.m_image, 384, 240, 5);
    p.OnPaintBmp();
    PreparedPage(p.m_image, 384, 240, 5);
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 2u);
    EXPECT_TRUE(SameBytes(p.writes[0], p.writes[1]));
    EXPECT_EQ(p.m_cmdBuffer.GetBufferLength(), 0);
}

// No image at all (nothing the driver lets through, but it must not crash).
TEST(TsplPage, EmptyImageSendsAnEmptyLabel) {
    TestTSPL p;
    ExampleSettings(p);
    p.m_halftone.ImageCompress = true;
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    const std::string out(p.writes[0].begin(), p.writes[0].end());
    EXPECT_EQ(out.rfind("SIZE 0.00 mm,0.00 mm\r\n", 0), 0u);
    EXPECT_NE(out.find("CLS\r\nBITMAP 0,0,0,0,3,"), std::string::npos);
}

}  // namespace
