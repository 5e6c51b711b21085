// The talk sinks of the two families that answer back, against scripted
// printers: the Niimbot conversation (replies split and run together,
// refusals retried, status polled, a printer that stops answering, print
// errors) and the cat printers' flow control (pause and resume, a pause that
// never ends, the state reply stopping a page before its rows).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/sink.h"
#include "helpers/hexdump.h"
#include "helpers/pages.h"
#include "helpers/scriptlink.h"
#include "printers/cat_packet.h"
#include "printers/cat_talk.h"
#include "printers/catprinter.h"
#include "printers/niimbot.h"
#include "printers/niimbot_packet.h"
#include "printers/niimbot_talk.h"

namespace {

// One page of a B1 job as the renderer writes it: two rows, one blank.
ByteVec NiimbotPage() {
    Captured<CPrinterNiimbot> r;
    r.SetHead(384);
    r.cmdConnect();
    r.cmdDensity(3);
    r.cmdLabelType(DfMediaTracking::Gap);
    r.cmdPrintStart();
    r.cmdPageStart();
    r.cmdPageSize(2, 384);
    ByteVec rows(96, 0);
    rows[0] = 0x80;
    r.AddRows(rows.data(), 48, 2);
    r.cmdPageEnd();
    r.cmdPrintEnd();
    const CMyBuffer& b = r.Commands();
    return ByteVec(b.GetBuffer(), b.GetBuffer() + b.GetBufferLength());
}

ByteVec Reply(uint8_t cmd, std::initializer_list<int> data) {
    std::vector<uint8_t> d;
    for (int v : data) d.push_back(static_cast<uint8_t>(v));
    return DfNiimbotFrame(cmd, d);
}

// A scripted Niimbot printer: what it does differently from a good one.
struct Niimbot {
    size_t chunk = 0;           // replies cut into pieces of this size (0: whole)
    bool together = false;      // unasked packets run into the connect reply
    int silentFrom = -1;        // answers nothing from this command on (its index)
    int silentCmd = -1;         // answers nothing to this command
    int refusePageStart = 0;    // times page start is answered 0
    int busyPolls = 0;          // print status polls answered with page 0
    int errorAtPageEnd = -1;    // sends 0xDB with this code instead of page end's reply
    int statusError = 0;        // PrintStatus's error byte (10-byte form)
    std::vector<int> commands;  // what it was sent, in order

    ScriptLink::Script Script() {
        return [this](const ByteVec& sent) {
            std::vector<ByteVec> out;
            DfNiimbotParser p;
            p.Feed(sent.data(), sent.size());
            DfNiimbotPacket pk;
            while (p.Next(&pk)) {
                commands.push_back(pk.cmd);
                ByteVec r = Answer(pk);
                if (r.empty()) continue;
                if (!chunk) {
                    out.push_back(r);
                    continue;
                }
                for (size_t at = 0; at < r.size(); at += chunk)
                    out.emplace_back(r.begin() + at, r.begin() + std::min(r.size(), at + chunk));
            }
            return out;
        };
    }
    ByteVec Answer(const DfNiimbotPacket& pk) {
        if (silentFrom >= 0 && static_cast<int>(commands.size()) > silentFrom) return {};
        if (pk.cmd == silentCmd) return {};
        switch (pk.cmd) {
            case 0xC1:
                return together ? Cat({Reply(0xE0, {0, 0}), Reply(0xC2, {1}),
                                       Reply(0xDD, {0, 0, 0, 0, 0, 0, 0, 0, 0, 4})})
                                : Reply(0xC2, {1});
            case 0x40:
                return Reply(0x48, {0x10, 0x00});
            case 0x03:
                return Reply(0x04, {refusePageStart-- > 0 ? 0 : 1});
            case 0xE3:
                return errorAtPageEnd >= 0 ? Reply(0xDB, {errorAtPageEnd}) : Reply(0xE4, {1});
            case 0xA3:
                if (statusError) return Reply(0xB3, {0, 0, 50, 0, 0, 0, statusError, 0, 0, 0});
                return Reply(0xB3, {0, busyPolls-- > 0 ? 0 : 1, 100, 100});
            case 0x84:
            case 0x85:
                return {};
            default: {
                const int id = DfNiimbotReplyId(pk.cmd);
                return id < 0 ? ByteVec() : Reply(static_cast<uint8_t>(id), {1});
            }
        }
    }
};

TEST(NiimbotTalk, Conversations) {
    const std::vector<int> whole = {0xC1, 0x40, 0x21, 0x23, 0x01, 0x03, 0x13, 0x85, 0x84, 0xE3, 0xA3, 0xF3};
    struct Case {
        const char* name;
        Niimbot printer;
        size_t writeChunk;  // the renderer's stream written in pieces of this size
        const char* why;    // nullptr: the page prints
        int pageStarts = 1, polls = 1;
    };
    auto make = [](std::function<void(Niimbot&)> f) {
        Niimbot n;
        f(n);
        return n;
    };
    const Case cases[] = {
        {"good printer", Niimbot(), 10000, nullptr},
        {"replies split in threes", make([](Niimbot& n) { n.chunk = 3; }), 10000, nullptr},
        {"replies run together with unasked packets", make([](Niimbot& n) { n.together = true; }), 7,
         nullptr},
        {"page start refused twice", make([](Niimbot& n) { n.refusePageStart = 2; }), 10000, nullptr, 3},
        {"still printing for two polls", make([](Niimbot& n) { n.busyPolls = 2; }), 10000, nullptr, 1, 3},
        {"no model id: prints all the same", make([](Niimbot& n) { n.silentCmd = 0x40; }), 10000, nullptr},
        {"no answer to connect", make([](Niimbot& n) { n.silentFrom = 0; }), 10000,
         "printer did not answer connect"},
        {"stops answering mid-page", make([](Niimbot& n) { n.silentFrom = 7; }), 10000,
         "printer did not answer page end"},
        {"page start refused for good", make([](Niimbot& n) { n.refusePageStart = 99; }), 10000,
         "printer refused page start 5 times"},
        {"print error at page end", make([](Niimbot& n) { n.errorAtPageEnd = 1; }), 10000,
         "printer reported a print error: cover open"},
        {"error byte in the print status", make([](Niimbot& n) { n.statusError = 2; }), 10000,
         "printer reported a print error: no paper"},
    };
    DfNiimbotTimings t;
    t.replyMs = 40;
    t.pageEndMs = 40;
    t.pollMs = 1;
    t.printMs = 2000;
    const ByteVec page = NiimbotPage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Niimbot printer = c.printer;
        ScriptLink link(printer.Script());
        std::string why;
        std::unique_ptr<DfSink> sink = DfNiimbotTalkWith(link, &why, t);
        bool ok = true;
        for (size_t at = 0; ok && at < page.size(); at += c.writeChunk)
            ok = sink->Write(page.data() + at, std::min(c.writeChunk, page.size() - at));
        if (c.why) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(why, c.why);
            EXPECT_FALSE(sink->Write(page.data(), page.size())) << "a failed sink takes nothing more";
            continue;
        }
        EXPECT_TRUE(ok) << why;
        std::vector<int> want;
        for (int cmd : whole) {
            const int n = cmd == 0x03 ? c.pageStarts : cmd == 0xA3 ? c.polls : 1;
            for (int i = 0; i < n; i++) want.push_back(cmd);
        }
        EXPECT_EQ(printer.commands, want);
    }
}

// A cat page: the state query, the setup, 30 rows and the feed.
ByteVec CatPage() {
    Captured<CPrinterCat> r;
    r.Frame(cat::kState, {0x00});
    r.cmdQuality(3);
    r.cmdEnergy(3);
    r.cmdLatticeStart();
    ByteVec row(48, 0x0F);
    for (int i = 0; i < 30; i++) r.AddRow(row.data());
    r.cmdLatticeEnd();
    r.cmdFeed(40);
    const CMyBuffer& b = r.Commands();
    return ByteVec(b.GetBuffer(), b.GetBuffer() + b.GetBufferLength());
}

TEST(CatTalk, FlowControl) {
    const ByteVec page = CatPage();
    const ByteVec pause = DfCatFrame(cat::kFlow, {cat::kPause}, 1),
                  resume = DfCatFrame(cat::kFlow, {cat::kResume}, 1);
    struct Case {
        const char* name;
        int state;        // the state reply's bits, -1: none
        int pauseAt;      // after this many sends the printer pauses (-1: never)
        int resumeAfter;  // idle looks until it resumes (-1: never)
        const char* why;
        size_t sentBytes;  // what reached the printer
    };
    const Case cases[] = {
        {"ready", 0, -1, -1, nullptr, page.size()},
        {"no state reply: prints", -1, -1, -1, nullptr, page.size()},
        {"pause and resume", 0, 2, 3, nullptr, page.size()},
        {"paused for good", 0, 2, -1, "paused by the printer for 1 s", 0},
        {"paper out", 0x01, -1, -1, "printer reports paper out", 9},
        {"cover open", 0x02, -1, -1, "printer reports cover open", 9},
        {"low battery only: prints", 0x08, -1, -1, nullptr, page.size()},
    };
    DfCatTimings t;
    t.pauseMs = 1000;
    t.stateMs = 30;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int sends = 0, idle = 0, sendsAtResume = -1;
        bool paused = false;
        ScriptLink link([&](const ByteVec& sent) {
            std::vector<ByteVec> out;
            ++sends;
            if (sent.size() >= 3 && sent[2] == cat::kState && c.state >= 0)
                out.push_back(DfCatFrame(cat::kState, {static_cast<uint8_t>(c.state)}, 1));
            if (sends == c.pauseAt) {
                out.push_back(pause);
                paused = true;
            }
            return out;
        });
        link.onIdle = [&](ScriptLink& l) {
            if (paused && c.resumeAfter >= 0 && ++idle >= c.resumeAfter) {
                paused = false;
                sendsAtResume = sends;
                l.Push(resume);
            }
        };
        std::string why;
        std::unique_ptr<DfSink> sink = DfCatTalkWith(link, &why, t);
        const bool ok = sink->Write(page.data(), page.size());
        size_t bytes = 0;
        ByteVec all;
        for (const ByteVec& s : link.sent) all.insert(all.end(), s.begin(), s.end());
        bytes = all.size();
        if (c.why) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(why, c.why);
            if (c.sentBytes) {
                EXPECT_EQ(bytes, c.sentBytes) << "nothing after the state query";
            }
            continue;
        }
        EXPECT_TRUE(ok) << why;
        EXPECT_TRUE(SameBytes(page, all));
        EXPECT_EQ(bytes, c.sentBytes);
        if (c.pauseAt > 0) {
            EXPECT_EQ(sendsAtResume, c.pauseAt) << "nothing was sent while paused";
        }
    }
}

}  // namespace
