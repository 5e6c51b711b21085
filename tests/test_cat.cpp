// Cat printers: the CRC-8 and frames against the published vectors, golden
// bytes of each frame kind the renderer builds (energy byte orders, feed,
// rows LSB-first and run-length), the frame parser and the state reply, and
// a whole job through the built filter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "helpers/raster.h"
#include "helpers/runfilter.h"
#include "printers/cat_packet.h"
#include "printers/catprinter.h"
#include "printers/status.h"

namespace {

using Render = Captured<CPrinterCat>;

ByteVec Cmds(Render& r) {
    const CMyBuffer& b = r.Commands();
    return ByteVec(b.GetBuffer(), b.GetBuffer() + b.GetBufferLength());
}

ByteVec Frame(uint8_t cmd, const ByteVec& data, uint8_t dir = 0) {
    return DfCatFrame(cmd, std::vector<uint8_t>(data.begin(), data.end()), dir);
}

TEST(CatPacket, CrcAndFrames) {
    const std::string check = "123456789";
    EXPECT_EQ(DfCatCrc8(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xF4);
    const struct {
        const char* name;
        ByteVec data;
        int crc;
    } vectors[] = {
        {"A4 32", Bytes({0x32}), 0x9E},
        {"A1 30 00", Bytes({0x30, 0x00}), 0xF9},
        {"lattice start", ByteVec(DfCatLatticeStart().begin(), DfCatLatticeStart().end()), 0xA1},
        {"lattice end", ByteVec(DfCatLatticeEnd().begin(), DfCatLatticeEnd().end()), 0x11},
        {"BE 01", Bytes({0x01}), 0x07},
        {"AE 10", Bytes({0x10}), 0x70},
        {"BD 08", Bytes({0x08}), 0x38},
        {"00", Bytes({0x00}), 0x00},
    };
    for (const auto& v : vectors) EXPECT_EQ(DfCatCrc8(v.data.data(), v.data.size()), v.crc) << v.name;
    EXPECT_TRUE(SameBytes(Bytes({0x51, 0x78, 0xAE, 0x01, 0x01, 0x00, 0x10, 0x70, 0xFF}),
                          Frame(0xAE, Bytes({0x10}), 1)));
    EXPECT_TRUE(
        SameBytes(Bytes({0x51, 0x78, 0xA3, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF}), Frame(0xA3, Bytes({0}))));
}

TEST(CatRender, Builders) {
    struct Case {
        const char* name;
        std::function<void(Render&)> call;
        ByteVec want;
    };
    ByteVec row(48, 0);
    row[0] = 0x80;   // the first dot
    row[47] = 0x03;  // the last two
    ByteVec lsb(48, 0);
    lsb[0] = 0x01;
    lsb[47] = 0xC0;
    const ByteVec blank(48, 0);
    const Case cases[] = {
        {"quality, darkness default", [](Render& r) { r.cmdQuality(-1); }, Frame(0xA4, Bytes({0x33}))},
        {"quality, darkness 5", [](Render& r) { r.cmdQuality(5); }, Frame(0xA4, Bytes({0x35}))},
        {"energy little-endian", [](Render& r) { r.cmdEnergy(4); }, Frame(0xAF, Bytes({0x00, 0x60}))},
        {"energy big-endian",
         [](Render& r) {
             r.m_energyBigEndian = true;
             r.cmdEnergy(1);
         },
         Frame(0xAF, Bytes({0x20, 0x00}))},
        {"print type", [](Render& r) { r.cmdPrintType(); }, Frame(0xBE, Bytes({0x01}))},
        {"lattice start", [](Render& r) { r.cmdLatticeStart(); },
         Bytes({0x51, 0x78, 0xA6, 0x00, 0x0B, 0x00, 0xAA, 0x55, 0x17, 0x38, 0x44, 0x5F, 0x5F, 0x5F, 0x44,
                0x38, 0x2C, 0xA1, 0xFF})},
        {"feed 300 lines in two", [](Render& r) { r.cmdFeed(300); },
         Cat({Frame(0xA1, Bytes({255, 0})), Frame(0xA1, Bytes({45, 0}))})},
        {"feed as blank rows",
         [](Render& r) {
             r.m_feedCommand = false;
             r.cmdFeed(2);
         },
         Cat({Frame(0xA2, blank), Frame(0xA2, blank)})},
        {"row, first dot in the low bit", [&](Render& r) { r.AddRow(row.data()); }, Frame(0xA2, lsb)},
        {"row run-length where shorter",
         [&](Render& r) {
             r.m_compress = true;
             r.AddRow(row.data());
         },
         Frame(0xBF, Bytes({0x81, 127, 127, 127, 0x82}))},
    };
    for (const Case& c : cases) {
        Render r;
        c.call(r);
        EXPECT_TRUE(SameBytes(c.want, Cmds(r))) << c.name;
    }
    // A busy row costs more as runs: it goes as a plain row.
    ByteVec busy(48, 0xAA);
    Render r;
    r.m_compress = true;
    r.AddRow(busy.data());
    EXPECT_EQ(Cmds(r)[2], 0xA2);
}

TEST(CatPacket, ParserAndState) {
    const ByteVec pause = Frame(0xAE, Bytes({0x10}), 1), state = Frame(0xA3, Bytes({0x03, 0x00}), 1);
    const ByteVec stream = Cat({Bytes({0x00, 0x51}), pause, Frame(0xA3, Bytes({0x01}), 1), state});
    ByteVec damaged = stream;
    damaged[2 + 9 + 7] ^= 0x40;  // the CRC of the middle frame
    const struct {
        const char* name;
        ByteVec bytes;
        size_t chunk;
        std::vector<int> cmds;
    } cases[] = {
        {"together", stream, stream.size(), {0xAE, 0xA3, 0xA3}},
        {"byte by byte", stream, 1, {0xAE, 0xA3, 0xA3}},
        {"a bad CRC drops its frame", damaged, 4, {0xAE, 0xA3}},
    };
    for (const auto& c : cases) {
        DfCatParser p;
        std::vector<int> got;
        DfCatPacket pk;
        for (size_t at = 0; at < c.bytes.size(); at += c.chunk) {
            p.Feed(c.bytes.data() + at, std::min(c.chunk, c.bytes.size() - at));
            while (p.Next(&pk)) got.push_back(pk.cmd);
        }
        EXPECT_EQ(got, c.cmds) << c.name;
    }
    // The status step skips the pause frame; the state's bits.
    const std::vector<DfStatusStep> steps = DfCatStatusSteps();
    ASSERT_EQ(steps.size(), 1u);
    DfPrinterStatus st;
    const ByteVec reply = Cat({pause, state});
    EXPECT_EQ(steps[0].parse(reply.data(), reply.size() - 1, false, &st), DfReply::Incomplete);
    EXPECT_EQ(steps[0].parse(pause.data(), pause.size(), true, &st), DfReply::Invalid);
    EXPECT_EQ(steps[0].parse(reply.data(), reply.size(), false, &st), DfReply::Done);
    EXPECT_EQ(st.conditions, unsigned(kDfStMediaEmpty | kDfStCoverOpen));
    EXPECT_EQ(DfCatStateConditions(0x0C), unsigned(kDfStOverheat | kDfStBatteryLow));
}

TEST(CatRender, FilterJob) {
    const std::string ppd = std::string(DF_BUILD_DIR) + "/ppd/dotforge-cat-57.ppd";
    if (access(ppd.c_str(), R_OK)) GTEST_SKIP() << "PPDs not built (ppdc)";
    // 384 x 20 dots with one black row in the middle; crops trim the rest.
    TestPage page = MakePage(384, 20, 1, 0xFF);
    for (unsigned i = 0; i < page.BytesPerLine(); i++) page.data[10 * page.BytesPerLine() + i] = 0x00;
    const std::string path = TempPath("cat");
    ASSERT_TRUE(WriteRasterFile(path, {page}));
    FilterArgs a;
    a.ppd = ppd;
    a.options = "ImageFilter=0 FeedOffset=10";
    a.rasterFile = path;
    FilterRun run = RunFilter(a);
    remove(path.c_str());
    ASSERT_EQ(run.status, 0) << run.err;
    const ByteVec want =
        Cat({Frame(0xA3, Bytes({0})), Frame(0xA4, Bytes({0x33})), Frame(0xAF, Bytes({0x00, 0x40})),
             Frame(0xBE, Bytes({1})), Frame(0xA9, Bytes({0})),
             Frame(0xA6, ByteVec(DfCatLatticeStart().begin(), DfCatLatticeStart().end())),
             Frame(0xA2, ByteVec(48, 0xFF)),
             Frame(0xA6, ByteVec(DfCatLatticeEnd().begin(), DfCatLatticeEnd().end())),
             Frame(0xBD, Bytes({8})), Frame(0xA1, Bytes({80, 0}))});
    EXPECT_TRUE(SameBytes(want, run.out));
}

}  // namespace
