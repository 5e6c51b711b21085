// Tests of the Paperang renderer: frames, checksum, page output and the
// guards on the protocol's 16-bit length fields.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/logcapture.h"
#include "helpers/pages.h"
#include "helpers/paperang_decode.h"
#include "helpers/raster.h"
#include "helpers/runfilter.h"
#include "printers/paperang.h"

namespace {

const ByteVec kStart = Bytes({0xA5, 0x01, 0x05, 0x00, 0x05, 0x19, 0x03, 0x00, 0x00, 0x57, 0x1F, 0xE7, 0xA5, 0x5A});
const ByteVec kEnd = Bytes({0xA5, 0x01, 0x05, 0x00, 0x05, 0x1A, 0x03, 0x00, 0x00, 0xB9, 0xB0, 0x52, 0xB7, 0x5A});
const ByteVec kFeed0 =
    Bytes({0xA5, 0x01, 0x07, 0x00, 0x05, 0x16, 0x03, 0x02, 0x00, 0x00, 0x00, 0x20, 0x0B, 0x74, 0x62, 0x5A});
const ByteVec kLocate100 = Bytes({0xA5, 0x01, 0x09, 0x00, 0x05, 0x21, 0x03, 0x04, 0x00, 0x64, 0x00, 0x00, 0x00,
                                  0x8C, 0x54, 0x9A, 0xAE, 0x5A});
// The one-row, 64-dot page whose row is 00 00 00 FF 0F 00 00 00 once inverted.
const ByteVec kTree64 = Bytes({0xA5, 0x01, 0x19, 0x00, 0x05, 0x1C, 0x03, 0x14, 0x00, 0x01, 0x01, 0x00,
                               0x01, 0x0F, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x01, 0xFF,
                               0x00, 0x01, 0x01, 0x00, 0x00, 0x6A, 0x81, 0x8F, 0x30, 0x5A});
const ByteVec kBitmap64 = Bytes({0xA5, 0x01, 0x14, 0x00, 0x05, 0x1B, 0x03, 0x0F, 0x00, 0x00, 0x00, 0x0B,
                                 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00, 0x06, 0xE9, 0xC0,
                                 0x2D, 0x10, 0xDD, 0xDA, 0x5A});

ByteVec Complement(ByteVec v) {
    for (auto& b : v) b = static_cast<unsigned char>(~b);
    return v;
}

// The renderer with its spool output captured and its command buffer in
// reach.
class SpyPaperang : public Captured<CPrinterPaperang> {
public:
    ByteVec Queued() {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(m_cmdBuffer.GetBuffer());
        return ByteVec(p, p + m_cmdBuffer.GetBufferLength());
    }
    void ClearQueue() { m_cmdBuffer.InitBuffer(0); }
    void SetBufferLimit(int n) { m_cmdBuffer.SetMaxBufferSize(n); }

    // Installs a 1-bit page of rows x rowBytes bytes (rowBytes a multiple of 4).
    void SetPage(unsigned rowBytes, unsigned rows, const ByteVec& bytes) {
        ASSERT_NE(m_image.Create(rowBytes * 8, rows, 1, 0), nullptr) << m_image.GetLastError();
        ASSERT_EQ(m_image.GetEffWidth(), rowBytes);
        ASSERT_EQ(bytes.size(), static_cast<size_t>(rowBytes) * rows);
        for (unsigned r = 0; r < rows; ++r)
            std::copy(bytes.begin() + r * rowBytes, bytes.begin() + (r + 1) * rowBytes, m_image.GetBits(r));
    }
};

ByteVec RandomBytes(std::mt19937& rng, size_t n, int distinct) {
    std::geometric_distribution<int> pick(0.3);
    ByteVec v(n);
    for (auto& b : v) b = static_cast<unsigned char>(0x5A ^ std::min(pick(rng), distinct - 1));
    return v;
}

std::vector<PaperangPage> Decode(const ByteVec& stream) {
    std::vector<PaperangPage> pages;
    std::string error;
    EXPECT_TRUE(DecodePaperangStream(stream, &pages, &error)) << error << "\n" << HexDump(stream.data(), stream.size());
    return pages;
}

}  // namespace

TEST(Paperang, FixedFrames) {
    SpyPaperang r;
    struct Case {
        const char* name;
        void (*send)(SpyPaperang&);
        const ByteVec& expect;
    } cases[] = {
        {"start printing", [](SpyPaperang& p) { p.cmdBeginPrinting(); }, kStart},
        {"end printing", [](SpyPaperang& p) { p.cmdEndPrinting(); }, kEnd},
        {"feed 0", [](SpyPaperang& p) { p.cmdFeed(0); }, kFeed0},
        {"locate 100", [](SpyPaperang& p) { p.cmdPaperLocate(100); }, kLocate100},
    };
    for (const Case& c : cases) {
        r.ClearQueue();
        c.send(r);
        EXPECT_TRUE(SameBytes(c.expect, r.Queued())) << c.name;
    }
    EXPECT_EQ(r.writes.size(), 0u);  // builders only queue
}

TEST(Paperang, Checksum) {
    SpyPaperang r;
    const unsigned char abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(r.MakeCrc32(abc, 3), 0xB9FBC776u);
    EXPECT_EQ(r.MakeCrc32(abc, 0), 0x35769521u);
}

TEST(Paperang, SixtyFourDotPageFrames) {
    SpyPaperang r;
    r.SetPage(8, 1, Bytes({0x00, 0x00, 0x00, 0xFF, 0x0F, 0x00, 0x00, 0x00}));
    r.SendBitmap_withHFM();
    EXPECT_TRUE(SameBytes(Cat({kTree64, kBitmap64}), r.Queued()));
}

// The whole page as it leaves OnPaintBmp: the page arrives with 0 = black
// and goes out inverted, in one write.
TEST(Paperang, PageOnTheWire) {
    SpyPaperang r;
    LogCapture log;
    r.SetPage(8, 1, Bytes({0xFF, 0xFF, 0xFF, 0x00, 0xF0, 0xFF, 0xFF, 0xFF}));
    r.OnPaintBmp();
    EXPECT_TRUE(SameBytes(Cat({kStart, kTree64, kBitmap64, kEnd, kFeed0}), r.out));
    EXPECT_EQ(r.writes.size(), 1u);
    EXPECT_TRUE(r.Queued().empty());
    EXPECT_TRUE(log.Contains("OnPaintBmp"));
    EXPECT_EQ(log.Count("MM_TP_CTRL_PRINT_START"), 1);
    EXPECT_EQ(log.Count("MM_TP_CTRL_PRINT_END"), 1);
}

TEST(Paperang, PositioningByMediaType) {
    for (int media = -1; media <= 8; ++media) {
        SCOPED_TRACE(media);
        SpyPaperang r;
        r.m_reg.iMediaType = static_cast<DfMediaTracking>(media);
        r.SetPage(4, 2, ByteVec(8, 0xFF));
        r.OnPaintBmp();
        auto pages = Decode(r.out);
        ASSERT_EQ(pages.size(), 1u);
        std::vector<int> expect = {0x19, 0x1C, 0x1B, 0x1A};
        if (media == 1 || media == 2) expect.push_back(0x21);
        if (media == 0 || media == 4) expect.push_back(0x16);
        EXPECT_EQ(pages[0].commands, expect);
        const ByteVec tail(r.out.end() - std::min<size_t>(r.out.size(), 18), r.out.end());
        if (media == 1 || media == 2) {
            EXPECT_TRUE(SameBytes(kLocate100, tail));
        }
    }
}

// A blank page: three-node tree (12 tree bytes), one bit per image byte.
TEST(Paperang, BlankPage) {
    SpyPaperang r;
    r.SetPage(48, 100, ByteVec(4800, 0xFF));
    r.OnPaintBmp();
    std::vector<PaperangFrame> frames;
    std::string error;
    ASSERT_TRUE(ParsePaperangStream(r.out, &frames, &error)) << error;
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[1].command, 0x1C);
    EXPECT_EQ(frames[1].payload.size(), 12u);
    size_t bits = 0;
    for (const PaperangFrame& f : frames)
        if (f.command == 0x1B) bits += 8 * (f.payload.size() - 13) - f.payload[12];
    EXPECT_EQ(bits, 4800u);
    auto pages = Decode(r.out);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].bits, ByteVec(4800, 0x00));
}

// Random pages through the whole renderer and back through the decoder; the
// decoder also checks chunk indexes and every length field of every frame.
TEST(Paperang, RoundTrip) {
    std::mt19937 rng(42);
    struct Case {
        unsigned rowBytes, rows;
        int distinct;
    } cases[] = {{48, 1000, 256}, {48, 1000, 4}, {72, 300, 30}, {4, 1, 1}, {8, 3000, 2}, {200, 50, 256}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rowBytes << "x" << c.rows);
        SpyPaperang r;
        ByteVec page = RandomBytes(rng, static_cast<size_t>(c.rowBytes) * c.rows, c.distinct);
        r.SetPage(c.rowBytes, c.rows, page);
        r.OnPaintBmp();
        auto pages = Decode(r.out);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].rowBytes, static_cast<int>(c.rowBytes));
        EXPECT_GE(pages[0].chunks, 1);
        EXPECT_TRUE(pages[0].bits == Complement(page));
    }
}

// Each page stands alone: the chunk index restarts at 0 on the next page.
TEST(Paperang, TwoPages) {
    std::mt19937 rng(7);
    SpyPaperang r;
    ByteVec a = RandomBytes(rng, 48 * 400, 200), b = RandomBytes(rng, 48 * 200, 3);
    r.SetPage(48, 400, a);
    r.OnPaintBmp();
    r.SetPage(48, 200, b);
    r.OnPaintBmp();
    EXPECT_EQ(r.writes.size(), 2u);
    auto pages = Decode(r.out);  // checks indexes from 0 on each page
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_GT(pages[0].chunks, 1);
    EXPECT_TRUE(pages[0].bits == Complement(a));
    EXPECT_TRUE(pages[1].bits == Complement(b));
}

TEST(Paperang, EmptyImageSendsOnlyControlFrames) {
    SpyPaperang r;
    r.OnPaintBmp();
    EXPECT_EQ(r.PageError(), "");
    EXPECT_TRUE(SameBytes(Cat({kStart, kEnd, kFeed0}), r.out));
}

// The frame and bitmap header lengths, the chunk index and the row width are
// 16-bit fields: builders refuse values that would wrap and queue nothing.
TEST(Paperang, BuildersRefuseWrappingLengths) {
    SpyPaperang r;
    r.SetPage(8, 1, ByteVec(8, 0));
    ByteVec data(70000, 0x11);
    const int maxD = 0xFFFF - 17;
    EXPECT_FALSE(r.cmdBitmap(0x10000, true, data.data(), 10));
    EXPECT_FALSE(r.cmdBitmap(-1, true, data.data(), 10));
    EXPECT_FALSE(r.cmdBitmap(0, true, data.data(), maxD + 1));
    EXPECT_FALSE(r.cmdHfmTree(data.data(), 0xFFFF - 4));
    EXPECT_FALSE(r.cmdChildClassPackage(data.data(), 0x10000));
    EXPECT_TRUE(r.Queued().empty());

    ASSERT_TRUE(r.cmdBitmap(0xFFFF, true, data.data(), maxD));
    std::vector<PaperangFrame> frames;
    std::string error;
    ASSERT_TRUE(ParsePaperangStream(r.Queued(), &frames, &error)) << error;
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload.size(), static_cast<size_t>(maxD) + 12);
    EXPECT_EQ(frames[0].payload[0], 0xFF);
    EXPECT_EQ(frames[0].payload[1], 0xFF);
}

// Pages whose frames cannot be described by the 16-bit fields, or that do
// not fit the send buffer, are reported and their tree and bitmap frames
// left out; the control frames still go, and nothing malformed is sent.
TEST(Paperang, OversizedPagesAreReportedNotSent) {
    struct Case {
        const char* what;
        unsigned rowBytes, rows;
        int bufferLimit;  // 0: the default
    } cases[] = {
        {"row wider than the width field", 65536, 1, 0},
        {"a row that codes beyond the frame length", 65532, 2, 0},
        {"page beyond the send buffer", 48, 200, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SpyPaperang r;
        if (c.bufferLimit) r.SetBufferLimit(c.bufferLimit);
        ByteVec page(static_cast<size_t>(c.rowBytes) * c.rows, 0xFF);
        if (c.rows == 2) {
            // Row 1 uses 255 rare values, each with a 9-bit code.
            for (unsigned i = 0; i < c.rowBytes; ++i) page[c.rowBytes + i] = static_cast<unsigned char>(i % 255);
        } else {
            std::mt19937 rng(3);
            for (auto& b : page) b = static_cast<unsigned char>(rng());
        }
        r.SetPage(c.rowBytes, c.rows, page);
        r.OnPaintBmp();
        EXPECT_NE(r.PageError(), "");
        EXPECT_TRUE(SameBytes(Cat({kStart, kEnd, kFeed0}), r.out));
    }
}

// When even a control frame cannot be queued, the page is dropped whole
// rather than sent with frames missing.
TEST(Paperang, NoHalfPages) {
    SpyPaperang r;
    r.SetBufferLimit(20);  // room for the start frame only
    r.SetPage(4, 1, ByteVec(4, 0xFF));
    r.OnPaintBmp();
    EXPECT_EQ(r.PageError(), "its 54 bytes of printer data exceed the 20 byte send buffer");
    EXPECT_TRUE(r.out.empty()) << HexDump(r.out.data(), r.out.size());
    EXPECT_TRUE(r.Queued().empty());
}

// The built filter for model number 23: each 1-bit page comes back, inverted,
// from its own frames, followed by the positioning frame of the medium.
TEST(PaperangFilter, EndToEnd) {
    std::mt19937 rng(11);
    std::vector<TestPage> pages;
    for (unsigned rows : {120u, 40u}) {
        TestPage p = MakePage(384, rows, 1, 0xFF);
        for (size_t i = 0; i < p.data.size(); ++i)
            if (i % 7 == 0) p.data[i] = static_cast<unsigned char>(rng());
        pages.push_back(p);
    }
    struct Case {
        const char* options;
        int trailer;  // command of the last frame of a page, -1: none
    } cases[] = {{"", 0x16}, {"zeMediaTracking=Gap", 0x21}, {"zeMediaTracking=Perforated", -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        FilterArgs a;
        a.ppd = TestPpd("paperang.ppd");
        a.options = c.options;
        a.stdinBytes = RasterBytes(pages);
        FilterRun run = RunFilter(a);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err.find("ERROR"), std::string::npos) << run.err;
        auto got = Decode(run.out);
        ASSERT_EQ(got.size(), pages.size());
        for (size_t i = 0; i < pages.size(); ++i) {
            EXPECT_EQ(got[i].rowBytes, 48);
            EXPECT_TRUE(got[i].bits == Complement(pages[i].data)) << "page " << i;
            std::vector<int> tail(got[i].commands.end() - 2, got[i].commands.end());
            if (c.trailer < 0) {
                EXPECT_EQ(got[i].commands.back(), 0x1A);
            } else {
                EXPECT_EQ(tail, (std::vector<int>{0x1A, c.trailer}));
            }
        }
    }
}
