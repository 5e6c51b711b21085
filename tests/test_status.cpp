// Status read-back: every reply bit of every family, the patterns that tell
// a reply from stray bytes, short and garbled replies, and the check loop
// against a scripted printer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "printers/family.h"
#include "printers/status.h"
#include "printers/statusrun.h"
#include "tools/preview/vprinter.h"
#include "tools/preview/vprinter_talk.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The step of a model by its log name.
DfStatusStep Step(int model, const std::string& name) {
    for (const DfStatusStep& s : DfStatusSteps(model))
        if (name == s.name) return s;
    ADD_FAILURE() << "no step " << name << " for model " << model;
    return DfStatusStep{"", {}, false, false, nullptr};
}

struct ParseCase {
    int model;
    const char* step;
    Bytes reply;
    DfReply want;  // with final set
    unsigned conditions;
    int battery;
};

DfReply Parse(const DfStatusStep& s, const Bytes& r, bool final, DfPrinterStatus* st) {
    return s.parse(r.data(), r.size(), final, st);
}

TEST(StatusParse, EveryBitOfEveryFamily) {
    const DfReply D = DfReply::Done, I = DfReply::Invalid;
    const ParseCase cases[] = {
        // ESC/POS real-time status: 0xx1xx10 is a reply, anything else is not.
        {21, "DLE EOT 1", {0x12}, D, 0, -1},
        {21, "DLE EOT 1", {0x16}, D, 0, -1},  // drawer pin: not a condition
        {21, "DLE EOT 1", {0x1A}, D, kDfStOffline, -1},
        {21, "DLE EOT 2", {0x16}, D, kDfStCoverOpen, -1},
        {21, "DLE EOT 2", {0x1A}, D, kDfStBusy, -1},
        {21, "DLE EOT 2", {0x32}, D, kDfStMediaEmpty, -1},
        {21, "DLE EOT 2", {0x52}, D, kDfStError, -1},
        {21, "DLE EOT 3", {0x16}, D, kDfStError, -1},
        {21, "DLE EOT 3", {0x1A}, D, kDfStMediaJam, -1},
        {21, "DLE EOT 3", {0x32}, D, kDfStError, -1},
        {21, "DLE EOT 3", {0x52}, D, kDfStOverheat, -1},
        {21, "DLE EOT 4", {0x12}, D, 0, -1},
        {21, "DLE EOT 4", {0x1E}, D, kDfStMediaLow, -1},
        {21, "DLE EOT 4", {0x72}, D, kDfStMediaEmpty, -1},
        {21, "DLE EOT 4", {0x7E}, D, kDfStMediaEmpty | kDfStMediaLow, -1},
        // XON, XOFF and automatic status bytes before the reply are skipped.
        {21, "DLE EOT 4", {0x11, 0x13, 0x10, 0x72}, D, kDfStMediaEmpty, -1},
        {21, "DLE EOT 4", {0x11, 0x13, 0x00, 0x93, 0x03}, I, 0, -1},
        // Noise is no reply though a byte of it fits the pattern: a byte no
        // reply or status back can be, or a second reply byte.
        {21, "DLE EOT 4", {0x72, 0xC5}, I, 0, -1},
        {21, "DLE EOT 4", {0x9D, 0x72}, I, 0, -1},
        {21, "DLE EOT 2", {0x32, 0x12}, I, 0, -1},
        {21, "DLE EOT 2", {0x32, 0x11}, D, kDfStMediaEmpty, -1},
        {21, "DLE EOT 2", {}, I, 0, -1},
        {21, "GS I 67", {0x5F, 'T', 'M', '-', '1', 0x00}, D, 0, -1},
        {21, "GS I 67", {0x5F, 'T', 'M'}, I, 0, -1},  // cut short
        {21, "GS I 67", {0x5F, 0x01, 0x00}, I, 0, -1},
        // TSPL ESC ! ?: every byte is a reply, one bit per condition.
        {20, "ESC ! ?", {0x00}, D, 0, -1},
        {20, "ESC ! ?", {0x01}, D, kDfStCoverOpen, -1},
        {20, "ESC ! ?", {0x02}, D, kDfStMediaJam, -1},
        {20, "ESC ! ?", {0x04}, D, kDfStMediaEmpty, -1},
        {20, "ESC ! ?", {0x08}, D, kDfStRibbonEmpty, -1},
        {20, "ESC ! ?", {0x10}, D, kDfStPaused, -1},
        {20, "ESC ! ?", {0x20}, D, kDfStBusy, -1},
        {20, "ESC ! ?", {0x40}, D, kDfStCoverOpen, -1},
        {20, "ESC ! ?", {0x80}, D, kDfStOverheat, -1},
        {20, "ESC ! ?", {0x0C}, D, kDfStMediaEmpty | kDfStRibbonEmpty, -1},
        {20, "ESC ! ?", {}, I, 0, -1},
        {20, "ESC ! ?", {0x04, 0x00}, I, 0, -1},  // one byte, not two
        // CPCL ESC h and ESC i.
        {22, "ESC h", {0x00}, D, 0, -1},
        {22, "ESC h", {0x01}, D, kDfStBusy, -1},
        {22, "ESC h", {0x02}, D, kDfStMediaEmpty, -1},
        {22, "ESC h", {0x04}, D, kDfStCoverOpen, -1},
        {22, "ESC h", {0x08}, D, kDfStBatteryLow, -1},
        {22, "ESC h", {0x10}, D, 0, -1},  // printer was reset
        {22, "ESC i", {0x80}, D, kDfStRibbonEmpty, -1},
        {22, "ESC i", {0x40}, D, kDfStMediaLow, -1},
        {22, "ESC i", {0x10}, D, kDfStMediaJam, -1},
        {22, "ESC i", {0x20}, D, 0, -1},  // label not taken yet
        {22, "ESC h", {0x02, 0x7F}, I, 0, -1},
        {22, "ESC i", {0x40, 0x40}, I, 0, -1},
        // PeriPage state, with unasked messages and the job's AA around it.
        {24, "state", {0x00}, D, 0, -1},
        {24, "state", {0x01}, D, kDfStBusy, -1},
        {24, "state", {0x04}, D, kDfStMediaEmpty, -1},
        {24, "state", {0x08}, D, kDfStBatteryLow, -1},
        {24, "state", {0x10}, D, kDfStOverheat, -1},
        {24, "state", {0xAA, 0x00}, D, 0, -1},
        {24, "state", {0xFF, 0x02, 0x00}, D, kDfStCoverOpen, -1},
        {24, "state", {0xFF, 0x01, 0xFF, 0x03, 0x00}, D, kDfStMediaEmpty | kDfStOverheat, -1},
        {24, "state", {0xFF, 0x02, 0xFF, 0x05, 0x00}, D, 0, -1},  // opened, then closed
        {24, "state", {0xFF}, I, 0, -1},
        {24, "state", {0x42, 0x80}, I, 0, -1},
        {24, "state", {0x04, 0x00}, I, 0, -1},
        {24, "state", {0x04, 0x37}, I, 0, -1},
        {24, "state", {0xFF, 0x09, 0x00}, I, 0, -1},  // no such message
        {24, "battery", {0x00, 0x37, 0x52}, I, 0, -1},
        {24, "battery", {0x00, 0x37}, D, 0, 55},
        {24, "battery", {0xFF, 0x04, 0x00, 0x64}, D, 0, 100},
        {24, "battery", {0x00, 0x65}, I, 0, -1},  // 101 %
        {24, "battery", {0x00}, I, 0, -1},
        {24, "model", {'A', '6', '\r', '\n'}, D, 0, -1},
        {24, "model", {'A', 0x07}, I, 0, -1},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " reply of " + std::to_string(c.reply.size()) + " bytes, first " +
                     (c.reply.empty() ? "-" : std::to_string(c.reply[0])));
        const DfStatusStep s = Step(c.model, c.step);
        ASSERT_NE(s.parse, nullptr);
        DfPrinterStatus st;
        EXPECT_EQ(Parse(s, c.reply, true, &st), c.want);
        EXPECT_EQ(st.conditions, c.conditions);
        EXPECT_EQ(st.battery, c.battery);
        // Without final, a reply that is not yet understood is only pending.
        DfPrinterStatus pending;
        const DfReply early = Parse(s, c.reply, false, &pending);
        if (c.want == DfReply::Invalid) {
            EXPECT_EQ(early, DfReply::Incomplete);
        }
    }
}

TEST(StatusParse, TextReplies) {
    DfPrinterStatus st;
    EXPECT_EQ(Parse(Step(21, "GS I 65"), {0x12, 0x5F, '1', '.', '0', 0x00}, false, &st), DfReply::Done);
    EXPECT_EQ(st.firmware, "1.0");
    EXPECT_EQ(Parse(Step(24, "firmware"), {'V', '2'}, false, &st), DfReply::Incomplete);
    EXPECT_EQ(Parse(Step(24, "firmware"), {'V', '2'}, true, &st), DfReply::Done);
    EXPECT_EQ(st.firmware, "V2");
    EXPECT_EQ(Parse(Step(24, "model"), {'P', '2', 0x00}, true, &st), DfReply::Done);
    EXPECT_EQ(st.model, "P2");
}

TEST(StatusParse, TsplExtended) {
    const struct {
        Bytes reply;
        DfReply want;
        unsigned conditions;
    } cases[] = {
        {{0x02, 0x40, 0x40, 0x40, 0x40, 0x03, 0x0D, 0x0A}, DfReply::Done, 0},
        {{0x02, 0x60, 0x40, 0x40, 0x40, 0x03}, DfReply::Done, kDfStPaused},
        {{0x02, 0x50, 0x48, 0x40, 0x40, 0x03}, DfReply::Done, kDfStBusy},
        {{0x02, 0x45, 0x40, 0x41, 0x40, 0x03}, DfReply::Done, kDfStError | kDfStOverheat},
        {{0x02, 0x45, 0x40, 0x42, 0x40, 0x03}, DfReply::Done, kDfStError | kDfStOverheat},
        {{0x02, 0x45, 0x40, 0x44, 0x40, 0x03}, DfReply::Done, kDfStError},
        {{0x02, 0x45, 0x40, 0x48, 0x40, 0x03}, DfReply::Done, kDfStError | kDfStMediaJam},
        {{0x02, 0x40, 0x40, 0x50, 0x40, 0x03}, DfReply::Done, kDfStError},
        {{0x02, 0x40, 0x40, 0x40, 0x41, 0x03}, DfReply::Done, kDfStMediaEmpty},
        {{0x02, 0x40, 0x40, 0x40, 0x42, 0x03}, DfReply::Done, kDfStMediaJam},
        {{0x02, 0x40, 0x40, 0x40, 0x44, 0x03}, DfReply::Done, kDfStRibbonEmpty},
        {{0x02, 0x40, 0x40, 0x40, 0x48, 0x03}, DfReply::Done, kDfStMediaJam},
        {{0x02, 0x40, 0x40, 0x40, 0x60, 0x03}, DfReply::Done, kDfStCoverOpen},
        // Bit 6 missing or no end byte: not a reply; a later one is found.
        {{0x02, 0x00, 0x40, 0x40, 0x40, 0x03}, DfReply::Invalid, 0},
        {{0x02, 0x40, 0x40, 0x40, 0x40, 0x0D, 0x02, 0x40, 0x40, 0x40, 0x41, 0x03},
         DfReply::Done,
         kDfStMediaEmpty},
        {{0x02, 0x40, 0x40, 0x40}, DfReply::Invalid, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.reply));
        DfPrinterStatus st;
        EXPECT_EQ(DfParseTsplExtended(c.reply.data(), c.reply.size(), true, &st), c.want);
        EXPECT_EQ(st.conditions, c.conditions);
    }
}

TEST(StatusParse, PaperangFrames) {
    // The query frame, byte by byte; its checksum is CRC-32 started from the seed.
    const Bytes query = DfPaperangFrame(0x10, {0x01});
    const uint8_t one = 0x01;
    const uint32_t crc = static_cast<uint32_t>(crc32(0x35769521u, &one, 1));
    const Bytes want = {0x02,
                        0x10,
                        0x00,
                        0x01,
                        0x00,
                        0x01,
                        static_cast<uint8_t>(crc),
                        static_cast<uint8_t>(crc >> 8),
                        static_cast<uint8_t>(crc >> 16),
                        static_cast<uint8_t>(crc >> 24),
                        0x03};
    EXPECT_EQ(query, want);
    EXPECT_EQ(Step(23, "battery").query, want);

    const Bytes reply = DfPaperangFrame(0x11, {0x4B});
    Bytes badCrc = reply;
    badCrc[6] ^= 0x01;
    Bytes badEnd = reply;
    badEnd.back() = 0x00;
    Bytes echoThenReply = query;
    echoThenReply.insert(echoThenReply.end(), reply.begin(), reply.end());
    Bytes over = DfPaperangFrame(0x11, {0x65});
    const struct {
        const char* name;
        Bytes bytes;
        DfReply want;
        int battery;
    } cases[] = {
        {"reply", reply, DfReply::Done, 75},
        {"echo, then reply", echoThenReply, DfReply::Done, 75},
        {"bad checksum", badCrc, DfReply::Invalid, -1},
        {"bad end byte", badEnd, DfReply::Invalid, -1},
        {"cut short", Bytes(reply.begin(), reply.end() - 2), DfReply::Invalid, -1},
        {"over 100 %", over, DfReply::Invalid, -1},
        {"garbage", {0x02, 0x11, 0x00, 0xFF, 0xFF, 0x00}, DfReply::Invalid, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DfPrinterStatus st;
        EXPECT_EQ(Parse(Step(23, "battery"), c.bytes, true, &st), c.want);
        EXPECT_EQ(st.battery, c.battery);
    }
    DfPrinterStatus st;
    EXPECT_EQ(Parse(Step(23, "version"), DfPaperangFrame(0x05, {1, 6, 2}), false, &st), DfReply::Done);
    EXPECT_EQ(st.firmware, "1.6.2");
}

TEST(StatusParse, FirstQueries) {
    const struct {
        int model;
        Bytes first;
    } cases[] = {
        {20, {0x1B, 0x21, 0x3F}}, {21, {0x10, 0x04, 0x01}}, {22, {0x1B, 0x68}}, {24, {0x10, 0xFF, 0x40}}};
    for (const auto& c : cases) {
        const auto steps = DfStatusSteps(c.model);
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps[0].query, c.first) << c.model;
        EXPECT_FALSE(steps[0].optional);
    }
}

// A printer that answers each query from a script (nothing: silent).
class ScriptedPrinter : public DfStatusTransport {
public:
    std::vector<Bytes> answers;  // one per query, in order
    Bytes stale;                 // waiting before the first query
    size_t perRead = 0;          // bytes a read returns at most (0: all there are)
    int trickleMs = 0;           // each read waits this long for its bytes
    std::vector<Bytes> written;
    bool Write(const uint8_t* d, size_t n) override {
        written.emplace_back(d, d + n);
        if (written.size() <= answers.size()) {
            const Bytes& a = answers[written.size() - 1];
            pending.insert(pending.end(), a.begin(), a.end());
        }
        return true;
    }
    long Read(uint8_t* buf, size_t size, int) override {
        Bytes& from = stale.empty() ? pending : stale;
        if (perRead && size > perRead) size = perRead;
        if (trickleMs && !from.empty()) usleep(static_cast<useconds_t>(trickleMs) * 1000);
        const size_t n = from.size() < size ? from.size() : size;
        std::copy(from.begin(), from.begin() + static_cast<long>(n), buf);
        from.erase(from.begin(), from.begin() + static_cast<long>(n));
        return static_cast<long>(n);
    }
    Bytes pending;
};

TEST(StatusRun, ScriptedPrinters) {
    const struct {
        const char* name;
        int model;
        Bytes stale;
        std::vector<Bytes> answers;
        bool identity;
        DfStatusResult want;
        unsigned conditions;
        size_t queries;
        unsigned skip;
    } cases[] = {
        // clang-format off
        {"ESC/POS ready", 21, {}, {{0x16}, {0x12}, {0x12}, {0x12}}, false, DfStatusResult::Answered, 0, 4, 0},
        // A late paper-out answer waiting in the input is not taken for the new query's.
        {"ESC/POS stale", 21, {0x72}, {{0x16}, {0x12}, {0x12}, {0x12}}, false, DfStatusResult::Answered, 0, 4, 0},
        {"ESC/POS paper out", 21, {}, {{0x16}, {0x32}, {0x12}, {0x72}}, false, DfStatusResult::Answered,
         kDfStMediaEmpty, 4, 0},
        {"ESC/POS silent", 21, {}, {}, false, DfStatusResult::Unknown, 0, 1, 0},
        // The identity queries are optional: no answer skips them next time.
        {"ESC/POS no GS I", 21, {}, {{0x16}, {0x12}, {0x12}, {0x12}}, true, DfStatusResult::Answered, 0, 6, 0x30},
        {"TSPL jam", 20, {}, {{0x02}}, false, DfStatusResult::Answered, kDfStMediaJam, 1, 0},
        {"CPCL old firmware", 22, {}, {{0x04}}, false, DfStatusResult::Answered, kDfStCoverOpen, 2, 0x2},
        {"PeriPage", 24, {}, {{0x04}, {0x00, 0x50}}, false, DfStatusResult::Answered, kDfStMediaEmpty, 2, 0},
        // Noise: nothing of it is taken, the check ends at the first garbled reply.
        {"ESC/POS noise", 21, {}, {{0x9D, 0x72, 0x05, 0xE1}}, false, DfStatusResult::Garbled, 0, 1, 0},
        {"TSPL noise", 20, {}, {{0x04, 0x9A, 0x31}}, false, DfStatusResult::Garbled, 0, 1, 0},

        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPrinter p;
        p.stale = c.stale;
        p.answers = c.answers;
        unsigned skip = 0;
        DfStatusOptions o;
        o.waitMs = 5;
        o.quietMs = 1;
        o.identity = c.identity;
        o.skip = &skip;
        DfPrinterStatus st;
        EXPECT_EQ(DfRunStatusCheck(c.model, p, o, &st), c.want);
        EXPECT_EQ(st.conditions, c.conditions);
        EXPECT_EQ(p.written.size(), c.queries);
        EXPECT_EQ(skip, c.skip);
        // Asked again, the skipped steps stay away.
        if (c.skip) {
            ScriptedPrinter again;
            again.answers = c.answers;
            DfRunStatusCheck(c.model, again, o, &st);
            EXPECT_EQ(again.written.size(), c.queries - static_cast<size_t>(__builtin_popcount(c.skip)));
        }
    }
}

// Bytes that come one at a time: a reply of the right size followed by
// more is no reply; a printer that trickles bytes that never make a reply
// holds the check no longer than its total bound.
TEST(StatusRun, TrickledBytes) {
    const struct {
        const char* name;
        int model;
        std::vector<Bytes> answers;
        int trickleMs;
        DfStatusResult want;
        unsigned conditions;
    } cases[] = {
        {"TSPL reply", 20, {{0x04}}, 0, DfStatusResult::Answered, kDfStMediaEmpty},
        {"TSPL trailing byte", 20, {{0x04, 0x66}}, 0, DfStatusResult::Garbled, 0},
        {"ESC/POS trailing byte", 21, {{0x16}, {0x32, 0x12}}, 0, DfStatusResult::Garbled, 0},
        {"PeriPage unasked message after", 24, {{0x00, 0xFF, 0x02}}, 0, DfStatusResult::Answered, 0},
        {"ESC/POS a byte every 5 ms", 21, {Bytes(4000, 0x00)}, 5, DfStatusResult::Garbled, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPrinter p;
        p.answers = c.answers;
        p.perRead = 1;
        p.trickleMs = c.trickleMs;
        DfStatusOptions o;
        o.waitMs = 50;
        o.quietMs = 20;
        o.totalMs = 300;
        DfPrinterStatus st;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(DfRunStatusCheck(c.model, p, o, &st), c.want);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        EXPECT_LT(ms, 1000);
        if (c.want == DfStatusResult::Answered) {
            EXPECT_EQ(st.conditions, c.conditions);
        }
    }
}

// The virtual printer, asked as the app and the filter ask: each status
// word comes back as the condition it names, in every family that reports it.
class VirtualLink : public DfStatusTransport {
public:
    VirtualStatus status;
    Bytes in;
    bool Write(const uint8_t* d, size_t n) override {
        size_t len = 0;
        if (MatchStatusQuery(d, n, &len) != QueryMatch::Query || len != n) {
            ADD_FAILURE() << "not taken for a query: " << testing::PrintToString(Bytes(d, d + n));
            return true;
        }
        const Bytes a = AnswerStatusQuery(d, n, status);
        in.insert(in.end(), a.begin(), a.end());
        return true;
    }
    long Read(uint8_t* buf, size_t size, int) override {
        const size_t n = in.size() < size ? in.size() : size;
        std::copy(in.begin(), in.begin() + static_cast<long>(n), buf);
        in.erase(in.begin(), in.begin() + static_cast<long>(n));
        return static_cast<long>(n);
    }
};

TEST(StatusRun, VirtualPrinterRoundTrip) {
    const struct {
        const char* words;
        unsigned tspl, escpos, cpcl, peripage;
    } cases[] = {
        {"ready", 0, 0, 0, 0},
        {"paper-out", kDfStMediaEmpty, kDfStMediaEmpty, kDfStMediaEmpty, kDfStMediaEmpty},
        {"paper-low", 0, kDfStMediaLow, kDfStMediaLow, 0},
        {"cover-open", kDfStCoverOpen, kDfStCoverOpen, kDfStCoverOpen, 0},
        {"jam", kDfStMediaJam, kDfStMediaJam, kDfStMediaJam, 0},
        {"ribbon-out", kDfStRibbonEmpty, 0, kDfStRibbonEmpty, 0},
        {"overheat", kDfStOverheat, kDfStOverheat, 0, kDfStOverheat},
        {"battery=10", 0, 0, kDfStBatteryLow, kDfStBatteryLow},
        {"paper-out, cover-open\nready paper-low", 0, kDfStMediaLow, kDfStMediaLow, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        VirtualLink link;
        std::string bad;
        ASSERT_TRUE(ParseVirtualStatus(c.words, &link.status, &bad)) << bad;
        const int models[] = {20, 21, 22, 24};
        const unsigned want[] = {c.tspl, c.escpos, c.cpcl, c.peripage};
        for (int i = 0; i < 4; i++) {
            DfStatusOptions o;
            o.waitMs = 5;
            o.quietMs = 1;
            o.identity = true;
            DfPrinterStatus st;
            EXPECT_EQ(DfRunStatusCheck(models[i], link, o, &st), DfStatusResult::Answered) << models[i];
            EXPECT_EQ(st.conditions, want[i]) << models[i];
        }
        DfStatusOptions o;
        o.identity = true;
        DfPrinterStatus st;
        EXPECT_EQ(DfRunStatusCheck(23, link, o, &st), DfStatusResult::Answered);
        EXPECT_EQ(st.battery, link.status.battery);
        EXPECT_EQ(st.firmware, "1.0.0");
    }
    VirtualStatus s;
    std::string bad;
    EXPECT_FALSE(ParseVirtualStatus("ready battery=101", &s, &bad));
    EXPECT_EQ(bad, "battery=101");
    EXPECT_FALSE(ParseVirtualStatus("paperout", &s, &bad));
    ASSERT_TRUE(ParseVirtualStatus("silent", &s, &bad));
    const uint8_t q[] = {0x1B, 0x21, 0x3F};
    EXPECT_TRUE(AnswerStatusQuery(q, 3, s).empty());
}

// Every query of every family's status check (its descriptor's steps) is
// one whole query to the virtual printer, and a ready printer answers it
// with a reply the step understands.
TEST(StatusRun, VirtualPrinterAnswersEveryStep) {
    const VirtualStatus ready;
    for (const DfFamily* f : DfFamilies()) {
        if (!f->statusSteps) continue;
        for (const DfStatusStep& step : f->statusSteps()) {
            SCOPED_TRACE(std::string(f->name) + " " + step.name);
            Bytes reply;
            if (f->talk) {
                // Printers that answer back take their queries in the conversation.
                const auto talk = MakeVirtualTalk(PreviewFamilyOf(*f), f->drivers[0].headDots);
                ASSERT_TRUE(talk);
                reply = talk->Take(step.query.data(), step.query.size(), ready);
            } else {
                size_t len = 0;
                ASSERT_EQ(MatchStatusQuery(step.query.data(), step.query.size(), &len), QueryMatch::Query);
                EXPECT_EQ(len, step.query.size());
                reply = AnswerStatusQuery(step.query.data(), len, ready);
            }
            DfPrinterStatus st;
            EXPECT_EQ(step.parse(reply.data(), reply.size(), true, &st), DfReply::Done);
            EXPECT_EQ(st.conditions, 0u);
        }
    }
}

TEST(StatusRun, QueryOrJobBytes) {
    const struct {
        Bytes bytes;
        QueryMatch want;
        size_t len;
    } cases[] = {
        {{0x10, 0x04, 0x02, 0x1B, 0x40}, QueryMatch::Query, 3},
        {{0x10, 0x04}, QueryMatch::Partial, 0},
        {{0x10, 0xFF, 0x20}, QueryMatch::Partial, 0},
        {{0x10, 0xFF, 0xFE, 0x01}, QueryMatch::None, 0},  // a PeriPage job's start
        {{0x1B, 0x40, 0x1D}, QueryMatch::None, 0},        // an ESC/POS job's start
        {{'S', 'I', 'Z', 'E'}, QueryMatch::None, 0},      // TSPL
        {{'!', ' ', '0'}, QueryMatch::None, 0},           // CPCL
        {{0xA5, 0x01}, QueryMatch::None, 0},              // Paperang job frame
        {DfPaperangFrame(0x10, {1}), QueryMatch::Query, 11},
        {{0x02, 0x10, 0x00, 0x01}, QueryMatch::Partial, 0},
        {{0x02, 0x10, 0x00, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0x03}, QueryMatch::None, 0},  // bad checksum
        {{}, QueryMatch::Partial, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        size_t len = 0;
        EXPECT_EQ(MatchStatusQuery(c.bytes.data(), c.bytes.size(), &len), c.want);
        if (c.want == QueryMatch::Query) {
            EXPECT_EQ(len, c.len);
        }
    }
}

}  // namespace
