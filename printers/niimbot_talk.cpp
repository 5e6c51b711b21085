// The Niimbot conversation sink: the renderer's packets played one by one
// over a DfLink, each waiting (bounded) for its reply.
#include "printers/niimbot_talk.h"

#include <chrono>
#include <cstdio>

#include "base/link.h"
#include "base/log.h"
#include "base/sink.h"
#include "printers/niimbot_packet.h"

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class NiimbotTalk : public DfSink {
public:
    NiimbotTalk(DfLink& link, std::string* why, const DfNiimbotTimings& t)
        : m_link(link), m_why(why), m_t(t) {}

    bool Write(const void* data, size_t len) override {
        if (m_failed) return false;
        m_out.Feed(static_cast<const uint8_t*>(data), len);
        DfNiimbotPacket p;
        while (m_out.Next(&p))
            if (!Play(p)) {
                m_failed = true;
                return false;
            }
        return true;
    }

private:
    bool Fail(const std::string& why) {
        if (m_why) *m_why = why;
        DfLog(LOG_DEBUG, "Niimbot: %s", why.c_str());
        return false;
    }
    bool Send(uint8_t cmd, const std::vector<uint8_t>& data) {
        const std::vector<uint8_t> f = DfNiimbotFrame(cmd, data);
        if (m_link.Send(f.data(), f.size())) return true;
        return Fail(m_link.Why());
    }
    // Reads replies until one with id comes (into *reply), up to ms. A
    // print error among them ends the job; unasked packets are skipped.
    // *answered is false (and the result true) when the time ran out.
    bool Await(int id, int ms, DfNiimbotPacket* reply, bool* answered) {
        *answered = false;
        const long long deadline = NowMs() + ms;
        for (;;) {
            DfNiimbotPacket p;
            while (m_in.Next(&p)) {
                if (p.cmd == niim::kPrintError && !p.data.empty())
                    return Fail("printer reported a print error: " + DfNiimbotErrorText(p.data[0]));
                if (id >= 0 && (p.cmd == id || p.cmd == niim::kNotSupported)) {
                    *reply = std::move(p);
                    *answered = true;
                    return true;
                }
            }
            const long long left = deadline - NowMs();
            if (left <= 0) return true;
            uint8_t buf[512];
            const int n = m_link.Receive(buf, sizeof(buf), static_cast<int>(left));
            if (n < 0) return Fail(m_link.Why());
            m_in.Feed(buf, static_cast<size_t>(n));
        }
    }
    // Sends a command and waits for its reply; false (with the reason) when
    // none came.
    bool Ask(uint8_t cmd, const std::vector<uint8_t>& data, int id, int ms, DfNiimbotPacket* reply,
             const char* what) {
        bool answered = false;
        if (!Send(cmd, data) || !Await(id, ms, reply, &answered)) return false;
        if (!answered) return Fail(std::string("printer did not answer ") + what);
        if (reply->cmd == niim::kNotSupported) return Fail(std::string("printer does not support ") + what);
        return true;
    }
    // Waits ms, taking in what arrives (print errors end the job).
    bool Pause(int ms) {
        DfNiimbotPacket none;
        bool answered = false;
        return Await(-1, ms, &none, &answered);
    }
    // Asks again while the reply's first byte says "not yet" (0).
    bool AskUntilReady(const DfNiimbotPacket& p, int ms, int tries, const char* what) {
        for (int i = 0;; i++) {
            DfNiimbotPacket reply;
            if (!Ask(p.cmd, p.data, DfNiimbotReplyId(p.cmd), ms, &reply, what)) return false;
            if (reply.data.empty() || reply.data[0] != 0) return true;
            if (i + 1 >= tries)
                return Fail(std::string("printer refused ") + what + " " + std::to_string(tries) + " times");
            if (!Pause(m_t.pollMs)) return false;
        }
    }
    // Polls the print status until the pages of this task are printed.
    bool AwaitPrinted() {
        const long long deadline = NowMs() + m_t.printMs;
        for (;;) {
            DfNiimbotPacket reply;
            if (!Ask(niim::kPrintStatus, {0x01}, DfNiimbotReplyId(niim::kPrintStatus), m_t.replyMs, &reply,
                     "print status"))
                return false;
            const std::vector<uint8_t>& d = reply.data;
            if (d.size() >= 10 && d[6] != 0)
                return Fail("printer reported a print error: " + DfNiimbotErrorText(d[6]));
            if (d.size() >= 2 && (d[0] << 8 | d[1]) >= m_pages) return true;
            if (NowMs() >= deadline)
                return Fail("printer did not finish the page in " + std::to_string(m_t.printMs / 1000) +
                            " s");
            if (!Pause(m_t.pollMs)) return false;
        }
    }

    bool Play(const DfNiimbotPacket& p) {
        const char* name = DfNiimbotCommandName(p.cmd);
        DfNiimbotPacket reply;
        switch (p.cmd) {
            case niim::kRowBitmap:
            case niim::kRowEmpty:
            case niim::kRowIndexed:
                return Send(p.cmd, p.data);
            case niim::kConnect: {
                if (!Ask(p.cmd, p.data, niim::kConnectReply, m_t.replyMs, &reply, name)) return false;
                // The model id, for the log; a printer that does not tell it
                // still prints.
                bool answered = false;
                if (!Send(niim::kPrinterInfo, {niim::kInfoModel}) ||
                    !Await(niim::kPrinterInfo + niim::kInfoModel, m_t.replyMs, &reply, &answered))
                    return false;
                if (answered && reply.data.size() == 2)
                    DfLog(LOG_DEBUG, "Niimbot: model id %d", reply.data[0] << 8 | reply.data[1]);
                return true;
            }
            case niim::kPrintStart:
                m_pages = 0;
                return Ask(p.cmd, p.data, DfNiimbotReplyId(p.cmd), m_t.replyMs, &reply, name);
            case niim::kPageStart:
                return AskUntilReady(p, m_t.replyMs, m_t.pageStartTries, name);
            case niim::kPageEnd:
                if (!AskUntilReady(p, m_t.pageEndMs, m_t.pageEndTries, name)) return false;
                m_pages++;
                return true;
            case niim::kPrintEnd: {
                if (m_pages > 0 && !AwaitPrinted()) return false;
                // Some models answer 0 while still printing: asked again.
                const long long deadline = NowMs() + m_t.printMs;
                for (;;) {
                    if (!Ask(p.cmd, p.data, DfNiimbotReplyId(p.cmd), m_t.replyMs, &reply, name)) return false;
                    if (reply.data.empty() || reply.data[0] != 0) return true;
                    if (NowMs() >= deadline) return Fail("printer did not end the print");
                    if (!Pause(m_t.pollMs)) return false;
                }
            }
            default: {
                const int id = DfNiimbotReplyId(p.cmd);
                if (id < 0) return Send(p.cmd, p.data);
                char what[32];
                if (!name) snprintf(what, sizeof(what), "command 0x%02X", p.cmd);
                return Ask(p.cmd, p.data, id, m_t.replyMs, &reply, name ? name : what);
            }
        }
    }

    DfLink& m_link;
    std::string* m_why;
    DfNiimbotTimings m_t;
    DfNiimbotParser m_out, m_in;
    int m_pages = 0;
    bool m_failed = false;
};

}  // namespace

std::unique_ptr<DfSink> DfNiimbotTalkWith(DfLink& link, std::string* why, const DfNiimbotTimings& timings) {
    return std::unique_ptr<DfSink>(new NiimbotTalk(link, why, timings));
}

std::unique_ptr<DfSink> DfNiimbotTalk(DfLink& link, std::string* why) {
    return DfNiimbotTalkWith(link, why, DfNiimbotTimings());
}
