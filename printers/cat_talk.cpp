// The cat printers' flow-control sink: chunks of frames, pause and resume,
// the state reply checked before a page's rows.
#include "printers/cat_talk.h"

#include <chrono>

#include "base/link.h"
#include "base/log.h"
#include "base/sink.h"
#include "printers/cat_packet.h"
#include "printers/status.h"

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class CatTalk : public DfSink {
public:
    CatTalk(DfLink& link, std::string* why, const DfCatTimings& t) : m_link(link), m_why(why), m_t(t) {}

    bool Write(const void* data, size_t len) override {
        if (m_failed) return false;
        m_out.Feed(static_cast<const uint8_t*>(data), len);
        DfCatPacket p;
        while (m_out.Next(&p)) {
            const std::vector<uint8_t> f = DfCatFrame(p.cmd, p.data, p.dir);
            m_chunk.insert(m_chunk.end(), f.begin(), f.end());
            const bool state = p.cmd == cat::kState;
            if ((state || m_chunk.size() >= static_cast<size_t>(m_t.chunkBytes)) && !Flush(state)) {
                m_failed = true;
                return false;
            }
        }
        // The rest of this write goes now: the renderer writes whole pages.
        if (!Flush(false)) {
            m_failed = true;
            return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& why) {
        if (m_why) *m_why = why;
        DfLog(LOG_DEBUG, "cat printer: %s", why.c_str());
        return false;
    }
    // Takes in the notifications that came (waiting up to ms for the first
    // bytes); the state reply, when one comes, sets *stated.
    bool Read(int ms, bool* stated) {
        uint8_t buf[256];
        const int n = m_link.Receive(buf, sizeof(buf), ms);
        if (n < 0) return Fail(m_link.Why());
        m_in.Feed(buf, static_cast<size_t>(n));
        DfCatPacket p;
        while (m_in.Next(&p)) {
            if (p.cmd == cat::kFlow && p.data.size() == 1) {
                if (p.data[0] == cat::kPause && !m_paused) m_pausedAt = NowMs();
                m_paused = p.data[0] == cat::kPause;
            } else if (p.cmd == cat::kState && p.dir == 1 && !p.data.empty()) {
                if (stated) *stated = true;
                const unsigned c = DfCatStateConditions(p.data[0]) & kDfStBlocking;
                if (c) return Fail("printer reports " + DfStatusDescribe(c));
            }
        }
        return true;
    }
    // Sends the chunk once the printer lets it; after a state query, waits
    // for the reply.
    bool Flush(bool awaitState) {
        if (!Read(0, nullptr)) return false;
        while (m_paused) {
            const long long left = m_pausedAt + m_t.pauseMs - NowMs();
            if (left <= 0)
                return Fail("paused by the printer for " + std::to_string(m_t.pauseMs / 1000) + " s");
            if (!Read(static_cast<int>(left < 200 ? left : 200), nullptr)) return false;
        }
        if (!m_chunk.empty() && !m_link.Send(m_chunk.data(), m_chunk.size())) return Fail(m_link.Why());
        m_chunk.clear();
        if (!awaitState) return true;
        bool stated = false;
        const long long deadline = NowMs() + m_t.stateMs;
        while (!stated) {
            const long long left = deadline - NowMs();
            if (left <= 0) break;  // a printer that does not answer still prints
            if (!Read(static_cast<int>(left), &stated)) return false;
        }
        return true;
    }

    DfLink& m_link;
    std::string* m_why;
    DfCatTimings m_t;
    DfCatParser m_out, m_in;
    std::vector<uint8_t> m_chunk;
    bool m_paused = false;
    long long m_pausedAt = 0;
    bool m_failed = false;
};

}  // namespace

std::unique_ptr<DfSink> DfCatTalkWith(DfLink& link, std::string* why, const DfCatTimings& timings) {
    return std::unique_ptr<DfSink>(new CatTalk(link, why, timings));
}

std::unique_ptr<DfSink> DfCatTalk(DfLink& link, std::string* why) {
    return DfCatTalkWith(link, why, DfCatTimings());
}
