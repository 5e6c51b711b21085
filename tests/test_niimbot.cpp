// Niimbot: golden bytes of each packet kind (the worked examples of the
// protocol notes among them), the reassembling parser on split, run-together
// and damaged replies, the status readers, and whole jobs through the built
// filter with the generated PPDs (the D11's quarter turn included).
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "helpers/raster.h"
#include "helpers/runfilter.h"
#include "printers/niimbot.h"
#include "printers/niimbot_packet.h"
#include "printers/niimbot_status.h"
#include "printers/status.h"

namespace {

using Render = Captured<CPrinterNiimbot>;

ByteVec Cmds(Render& r) {
    const CMyBuffer& b = r.Commands();
    return ByteVec(b.GetBuffer(), b.GetBuffer() + b.GetBufferLength());
}

ByteVec Frame(uint8_t cmd, std::initializer_list<int> data) {
    std::vector<uint8_t> d;
    for (int v : data) d.push_back(static_cast<uint8_t>(v));
    return DfNiimbotFrame(cmd, d);
}

TEST(NiimbotPacket, FramesOfTheNotes) {
    const struct {
        const char* name;
        ByteVec got, want;
    } cases[] = {
        {"connect, 03 first", Frame(0xC1, {1}),
         Bytes({0x03, 0x55, 0x55, 0xC1, 0x01, 0x01, 0xC1, 0xAA, 0xAA})},
        {"model id", Frame(0x40, {8}), Bytes({0x55, 0x55, 0x40, 0x01, 0x08, 0x49, 0xAA, 0xAA})},
        {"heartbeat", Frame(0xDC, {1}), Bytes({0x55, 0x55, 0xDC, 0x01, 0x01, 0xDC, 0xAA, 0xAA})},
        {"ten empty rows", Frame(0x84, {0, 0, 10}),
         Bytes({0x55, 0x55, 0x84, 0x03, 0x00, 0x00, 0x0A, 0x8D, 0xAA, 0xAA})},
        {"connect reply", Frame(0xC2, {3}), Bytes({0x55, 0x55, 0xC2, 0x01, 0x03, 0xC0, 0xAA, 0xAA})},
        {"no data", Frame(0x30, {}), Bytes({0x55, 0x55, 0x30, 0x00, 0x30, 0xAA, 0xAA})},
    };
    for (const auto& c : cases) EXPECT_TRUE(SameBytes(c.want, c.got)) << c.name;
    EXPECT_EQ(DfNiimbotFrame(0x85, std::vector<uint8_t>(300, 1)).size(), 255u + 7);
}

TEST(NiimbotPacket, ParserReassembles) {
    // Two replies in one notification, as the notes show one.
    const ByteVec two = Bytes(
        {0x55, 0x55, 0x4A, 0x01, 0x04, 0x4F, 0xAA, 0xAA, 0x55, 0x55, 0xF6, 0x01, 0x01, 0xF6, 0xAA, 0xAA});
    const ByteVec noisy = Cat({Bytes({0x00, 0x55, 0x03}), two,
                               Bytes({0x55, 0x55, 0x4A, 0x01, 0x04, 0x00, 0xAA, 0xAA}),  // bad checksum
                               Frame(0xB3, {0, 1, 100, 100})});
    struct Case {
        const char* name;
        ByteVec bytes;
        size_t chunk;  // fed this many bytes at a time
        std::vector<int> cmds;
    };
    const Case cases[] = {
        {"run together", two, two.size(), {0x4A, 0xF6}},
        {"byte by byte", two, 1, {0x4A, 0xF6}},
        {"split in threes", two, 3, {0x4A, 0xF6}},
        {"noise and a bad checksum skipped", noisy, 5, {0x4A, 0xF6, 0xB3}},
        {"a head alone waits", Bytes({0x55, 0x55, 0x4A}), 1, {}},
    };
    for (const Case& c : cases) {
        DfNiimbotParser p;
        std::vector<int> got;
        DfNiimbotPacket pk;
        for (size_t at = 0; at < c.bytes.size(); at += c.chunk) {
            p.Feed(c.bytes.data() + at, std::min(c.chunk, c.bytes.size() - at));
            while (p.Next(&pk)) got.push_back(pk.cmd);
        }
        EXPECT_EQ(got, c.cmds) << c.name;
    }
    DfNiimbotPacket pk;
    ASSERT_TRUE(DfNiimbotFind(noisy.data(), noisy.size(), 0xB3, &pk));
    EXPECT_EQ(pk.data, Bytes({0, 1, 100, 100}));
}

TEST(NiimbotRender, Builders) {
    struct Case {
        const char* name;
        int head;
        std::function<void(Render&)> call;
        ByteVec want;
    };
    const Case cases[] = {
        {"connect", 384, [](Render& r) { r.cmdConnect(); }, Frame(0xC1, {1})},
        {"density default, B1", 384, [](Render& r) { r.cmdDensity(-1); }, Frame(0x21, {3})},
        {"density default, D11", 96, [](Render& r) { r.cmdDensity(-1); }, Frame(0x21, {2})},
        {"density 5 on a D11 is 3", 96, [](Render& r) { r.cmdDensity(5); }, Frame(0x21, {3})},
        {"density 9 on a B1 is 5", 384, [](Render& r) { r.cmdDensity(9); }, Frame(0x21, {5})},
        {"density 0 is 1", 384, [](Render& r) { r.cmdDensity(0); }, Frame(0x21, {1})},
        {"gap labels", 384, [](Render& r) { r.cmdLabelType(DfMediaTracking::Gap); }, Frame(0x23, {1})},
        {"black marks", 384, [](Render& r) { r.cmdLabelType(DfMediaTracking::BLine); }, Frame(0x23, {2})},
        {"continuous", 384, [](Render& r) { r.cmdLabelType(DfMediaTracking::Continuous); }, Frame(0x23, {3})},
        {"print start, B1: one page", 384, [](Render& r) { r.cmdPrintStart(); },
         Frame(0x01, {0, 1, 0, 0, 0, 0, 0})},
        {"print start, D110", 96, [](Render& r) { r.cmdPrintStart(); }, Frame(0x01, {1})},
        {"page size, B1: one copy", 384, [](Render& r) { r.cmdPageSize(240, 384); },
         Frame(0x13, {0x00, 0xF0, 0x01, 0x80, 0x00, 0x01})},
        {"page size, D110", 96, [](Render& r) { r.cmdPageSize(320, 96); },
         Frame(0x13, {0x01, 0x40, 0x00, 0x60})},
        {"quantity", 96, [](Render& r) { r.cmdQuantity(1); }, Frame(0x15, {0, 1})},
        {"print clear", 96, [](Render& r) { r.cmdPrintClear(); }, Frame(0x20, {1})},
        {"page start", 384, [](Render& r) { r.cmdPageStart(); }, Frame(0x03, {1})},
        {"page end", 384, [](Render& r) { r.cmdPageEnd(); }, Frame(0xE3, {1})},
        {"print end", 384, [](Render& r) { r.cmdPrintEnd(); }, Frame(0xF3, {1})},
    };
    for (const Case& c : cases) {
        Render r;
        r.SetHead(c.head);
        c.call(r);
        EXPECT_TRUE(SameBytes(c.want, Cmds(r))) << c.name;
    }
}

TEST(NiimbotRender, RowPackets) {
    // A 96-dot head: 12 bytes, thirds of 4 bytes.
    ByteVec row(12, 0);
    row[0] = 0xFF;   // 8 dots in the first third
    row[5] = 0x0F;   // 4 in the second
    row[11] = 0x01;  // 1 in the last
    ByteVec rows;
    for (int i = 0; i < 3; i++) rows.insert(rows.end(), row.begin(), row.end());
    rows.insert(rows.end(), 12, 0);  // one blank row
    auto bitmap = [&](int at, std::initializer_list<int> counts, int repeat) {
        ByteVec d = Bytes({at >> 8, at & 0xFF});
        for (int c : counts) d.push_back(static_cast<unsigned char>(c));
        d.push_back(static_cast<unsigned char>(repeat));
        d.insert(d.end(), row.begin(), row.end());
        return DfNiimbotFrame(0x85, d);
    };
    const struct {
        CPrinterNiimbot::Counts counts;
        ByteVec want;
    } cases[] = {
        {CPrinterNiimbot::Counts::Split, Cat({bitmap(0, {8, 4, 1}, 3), Frame(0x84, {0, 3, 1})})},
        {CPrinterNiimbot::Counts::Total, Cat({bitmap(0, {0, 13, 0}, 3), Frame(0x84, {0, 3, 1})})},
        {CPrinterNiimbot::Counts::Zero, Cat({bitmap(0, {0, 0, 0}, 3), Frame(0x84, {0, 3, 1})})},
    };
    for (const auto& c : cases) {
        Render r;
        r.SetHead(96);
        r.m_counts = c.counts;
        r.AddRows(rows.data(), 12, 4);
        EXPECT_TRUE(SameBytes(c.want, Cmds(r))) << static_cast<int>(c.counts);
    }
    // A run longer than a packet's 255 rows goes in two, the second
    // starting where the first ends.
    Render r;
    r.SetHead(96);
    ByteVec blank(12 * 300, 0);
    r.AddRows(blank.data(), 12, 300);
    EXPECT_TRUE(SameBytes(Cat({Frame(0x84, {0, 0, 255}), Frame(0x84, {0, 255, 45})}), Cmds(r)));
}

TEST(NiimbotStatus, Readers) {
    struct Case {
        const char* name;
        ByteVec data;
        int model;
        bool ok, lid, paper;
        int battery;
    };
    ByteVec b1(13, 0), d110(10, 0), open19(19, 0);
    b1[9] = 1;    // lid open
    b1[10] = 3;   // battery 3 of 4
    b1[11] = 1;   // no paper
    d110[8] = 0;  // inverted: 0 = open
    d110[9] = 4;
    open19[15] = 0;  // closed
    open19[17] = 0;
    const Case cases[] = {
        {"B1, 13 bytes", b1, 4096, true, true, true, 3},
        {"D110, 10 bytes, lid inverted", d110, 2304, true, true, false, 4},
        {"10 bytes of a model that does not invert", d110, 4096, true, false, false, 4},
        {"19 bytes, all fine", open19, 4096, true, false, false, 0},
        {"unknown length", ByteVec(7, 0), 4096, false, false, false, -1},
    };
    for (const Case& c : cases) {
        DfNiimbotHeartbeat hb;
        ASSERT_EQ(DfNiimbotReadHeartbeat(c.data, c.model, &hb), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(hb.lidOpen, c.lid) << c.name;
        EXPECT_EQ(hb.paperOut, c.paper) << c.name;
        EXPECT_EQ(hb.battery, c.battery) << c.name;
    }

    // The tag: uuid, barcode, serial, total, used, type.
    ByteVec tag(8, 0xAB);
    for (const char* s : {"10262260", "PZ1GB06310002501"}) {
        tag.push_back(static_cast<unsigned char>(strlen(s)));
        tag.insert(tag.end(), s, s + strlen(s));
    }
    tag.insert(tag.end(), {0x00, 0xD2, 0x00, 0x0C, 0x01});
    DfNiimbotTag t;
    ASSERT_TRUE(DfNiimbotReadTag(tag, &t));
    EXPECT_TRUE(t.present);
    EXPECT_EQ(t.barcode, "10262260");
    EXPECT_EQ(t.total, 210);
    EXPECT_EQ(t.used, 12);
    EXPECT_EQ(t.type, 1);
    EXPECT_TRUE(DfNiimbotReadTag(Bytes({0}), &t));
    EXPECT_FALSE(t.present);
    tag.resize(tag.size() - 3);
    EXPECT_FALSE(DfNiimbotReadTag(tag, &t)) << "cut short";

    // The status steps on replies as a printer sends them: the model (a
    // D110, lid inverted), the heartbeat with a print error run into it,
    // the battery, the tag.
    const std::vector<DfStatusStep> steps = DfNiimbotStatusSteps();
    ASSERT_EQ(steps.size(), 4u);
    DfPrinterStatus st;
    const ByteVec model = Frame(0x48, {0x09, 0x00});
    EXPECT_EQ(steps[0].parse(model.data(), 5, false, &st), DfReply::Incomplete);
    EXPECT_EQ(steps[0].parse(model.data(), model.size(), false, &st), DfReply::Done);
    EXPECT_EQ(st.modelId, 2304);
    EXPECT_EQ(st.model, "Niimbot D110");
    const ByteVec hb = Cat({Frame(0xDB, {0x02}), DfNiimbotFrame(0xDD, d110)});
    EXPECT_EQ(steps[1].parse(hb.data(), hb.size(), false, &st), DfReply::Done);
    EXPECT_EQ(st.conditions, unsigned(kDfStCoverOpen | kDfStMediaEmpty));
    EXPECT_EQ(st.battery, 100);
    const ByteVec battery = Frame(0x4A, {1});
    EXPECT_EQ(steps[2].parse(battery.data(), battery.size(), false, &st), DfReply::Done);
    EXPECT_EQ(st.battery, 25);
    const ByteVec rfid = DfNiimbotFrame(0x1B, Cat({tag, Bytes({0x00, 0x01})}));
    EXPECT_EQ(steps[3].parse(rfid.data(), rfid.size(), true, &st), DfReply::Invalid) << "cut short";
    EXPECT_EQ(steps[1].parse(battery.data(), battery.size(), true, &st), DfReply::Invalid);
}

// Whole jobs through the filter and the generated PPDs: the packets in the
// order of the conversation, one print task per page.
std::vector<DfNiimbotPacket> Packets(const ByteVec& out) {
    DfNiimbotParser p;
    p.Feed(out.data(), out.size());
    std::vector<DfNiimbotPacket> all;
    DfNiimbotPacket pk;
    while (p.Next(&pk)) all.push_back(pk);
    EXPECT_EQ(p.Dropped(), 1u) << "only connect's 03";
    return all;
}

FilterRun Job(const char* driver, const std::vector<TestPage>& pages, const std::string& options = "") {
    const std::string ppd = std::string(DF_BUILD_DIR) + "/ppd/dotforge-" + driver + ".ppd";
    const std::string path = TempPath("niimbot");
    EXPECT_TRUE(WriteRasterFile(path, pages));
    FilterArgs a;
    a.ppd = ppd;
    a.options = options;
    a.rasterFile = path;
    FilterRun run = RunFilter(a);
    remove(path.c_str());
    return run;
}

TEST(NiimbotRender, FilterJobs) {
    if (access((std::string(DF_BUILD_DIR) + "/ppd/dotforge-niimbot-b1.ppd").c_str(), R_OK))
        GTEST_SKIP() << "PPDs not built (ppdc)";
    // B1, 40 x 30 mm (320 x 240 dots): a black square at the top left.
    TestPage b1 = MakePage(320, 240, 1, 0xFF);
    for (unsigned y = 0; y < 16; y++) b1.data[y * b1.BytesPerLine()] = 0x00;  // 8 dots x 16 rows
    FilterRun run = Job("niimbot-b1", {b1, b1}, "Darkness=4 ImageFilter=0");
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<DfNiimbotPacket> ps = Packets(run.out);
    std::vector<int> cmds;
    for (const DfNiimbotPacket& p : ps) cmds.push_back(p.cmd);
    const std::vector<int> page = {0x21, 0x23, 0x01, 0x03, 0x13, 0x85, 0x84, 0xE3, 0xF3};
    std::vector<int> want = {0xC1};
    for (int i = 0; i < 2; i++) want.insert(want.end(), page.begin(), page.end());
    EXPECT_EQ(cmds, want);
    ASSERT_EQ(ps.size(), want.size());
    EXPECT_EQ(ps[1].data, Bytes({4}));
    EXPECT_EQ(ps[5].data, Bytes({0x00, 0xF0, 0x01, 0x80, 0x00, 0x01})) << "240 rows, 384 dots, 1 copy";
    // 32 white dots each side of the 320-dot page: its first 8 dots are
    // dots 32-39 of the head, in the row's 5th byte, first third.
    ByteVec row(48, 0);
    row[4] = 0xFF;
    EXPECT_TRUE(SameBytes(Cat({Bytes({0, 0, 8, 0, 0, 16}), row}), ps[6].data));
    EXPECT_EQ(ps[7].data, Bytes({0, 16, 224}));

    // D11, 40 x 12 mm (320 x 96 dots) turned a quarter clockwise: 320 rows
    // of the 96-dot head; the page's top left corner is the first row's
    // last dot.
    TestPage d11 = MakePage(320, 96, 1, 0xFF);
    d11.data[0] = 0x7F;  // dot (0, 0) black
    run = Job("niimbot-d11", {d11}, "ImageFilter=0");
    ASSERT_EQ(run.status, 0) << run.err;
    ps = Packets(run.out);
    cmds.clear();
    for (const DfNiimbotPacket& p : ps) cmds.push_back(p.cmd);
    EXPECT_EQ(cmds, (std::vector<int>{0xC1, 0x21, 0x23, 0x01, 0x20, 0x03, 0x13, 0x15, 0x85, 0x84, 0x84, 0xE3,
                                      0xF3}));
    ASSERT_EQ(ps.size(), 13u);
    EXPECT_EQ(ps[1].data, Bytes({2}));
    EXPECT_EQ(ps[6].data, Bytes({0x01, 0x40, 0x00, 0x60}));
    ByteVec last(12, 0);
    last[11] = 0x01;
    EXPECT_TRUE(SameBytes(Cat({Bytes({0, 0, 0, 0, 1, 1}), last}), ps[8].data));
    EXPECT_EQ(ps[9].data, Bytes({0, 1, 255}));
    EXPECT_EQ(ps[10].data, Bytes({1, 0, 64}));
}

}  // namespace
