// The virtual Niimbot and cat printers: replies to the conversation and the
// cat printers' flow control.
#include "tools/preview/vprinter_talk.h"

#include <cstring>

#include "printers/cat_packet.h"
#include "printers/niimbot_packet.h"

namespace {

std::vector<uint8_t> Frame(uint8_t cmd, std::initializer_list<uint8_t> data) {
    return DfNiimbotFrame(cmd, std::vector<uint8_t>(data));
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

class NiimbotPrinter : public VirtualTalk {
public:
    explicit NiimbotPrinter(int headDots) : m_d110(headDots > 0 && headDots < 384) {}

    std::vector<uint8_t> Take(const uint8_t* data, size_t len, const VirtualStatus& st) override {
        std::vector<uint8_t> out;
        m_in.Feed(data, len);
        DfNiimbotPacket p;
        while (m_in.Next(&p))
            if (!st.silent) Append(out, Answer(p, st));
        return out;
    }
    std::vector<uint8_t> Tick(long long) override { return {}; }
    bool Printing() const override { return m_printing; }

private:
    std::vector<uint8_t> Heartbeat(const VirtualStatus& st) const {
        const uint8_t level = static_cast<uint8_t>(st.battery >= 0 ? (st.battery + 12) / 25 : 4);
        if (m_d110) {
            // 10 bytes: [8] lid (this model reports 0 for open), [9] battery.
            std::vector<uint8_t> d(10, 0);
            d[8] = st.coverOpen ? 0 : 1;
            d[9] = level;
            return DfNiimbotFrame(0xDD, d);
        }
        // 13 bytes: [9] lid, [10] battery, [11] paper, [12] tag read.
        std::vector<uint8_t> d(13, 0);
        d[9] = st.coverOpen ? 1 : 0;
        d[10] = level;
        d[11] = st.paperOut ? 1 : 0;
        d[12] = st.rfid ? 1 : 0;
        return DfNiimbotFrame(0xDD, d);
    }
    static std::vector<uint8_t> Tag(const VirtualStatus& st) {
        if (!st.rfid) return Frame(0x1B, {0x00});
        std::vector<uint8_t> d = {0x88, 0x1D, 0x3A, 0x52, 0x00, 0x00, 0x00, 0x01};
        for (const char* s : {"10262260", "PZ1GB06310002501"}) {
            d.push_back(static_cast<uint8_t>(strlen(s)));
            d.insert(d.end(), s, s + strlen(s));
        }
        d.insert(d.end(), {0x00, 0xB4, 0x00, 0x14, 0x01});  // 180 labels, 20 used, gap labels
        return DfNiimbotFrame(0x1B, d);
    }
    std::vector<uint8_t> Answer(const DfNiimbotPacket& p, const VirtualStatus& st) {
        const uint8_t first = p.data.empty() ? 0 : p.data[0];
        switch (p.cmd) {
            case niim::kRowBitmap:
            case niim::kRowEmpty:
            case niim::kRowIndexed:
                m_printing = true;
                return {};
            case niim::kConnect:
                return Frame(niim::kConnectReply, {0x01});
            case niim::kPrinterInfo:
                if (first == niim::kInfoModel)
                    return m_d110 ? Frame(0x48, {0x09, 0x00}) : Frame(0x48, {0x10, 0x00});
                if (first == niim::kInfoBattery)
                    return Frame(0x4A, {static_cast<uint8_t>(st.battery >= 0 ? (st.battery + 12) / 25 : 4)});
                return Frame(static_cast<uint8_t>(0x40 + first), {0x01});
            case niim::kHeartbeat:
                return Heartbeat(st);
            case niim::kRfidInfo:
                return Tag(st);
            case niim::kPrintStart:
                m_printing = true;
                m_pages = 0;
                return Frame(0x02, {0x01});
            case niim::kPageStart:
                // A printer with its lid open or no paper says so here.
                if (st.coverOpen) return Frame(niim::kPrintError, {0x01});
                if (st.paperOut) return Frame(niim::kPrintError, {0x02});
                return Frame(0x04, {0x01});
            case niim::kPageEnd:
                m_pages++;
                return Frame(0xE4, {0x01});
            case niim::kPrintStatus:
                return Frame(0xB3,
                             {static_cast<uint8_t>(m_pages >> 8), static_cast<uint8_t>(m_pages), 100, 100});
            default: {
                const int id = DfNiimbotReplyId(p.cmd);
                return id < 0 ? Frame(niim::kNotSupported, {0x01}) : Frame(static_cast<uint8_t>(id), {0x01});
            }
        }
    }

    const bool m_d110;
    DfNiimbotParser m_in;
    int m_pages = 0;
    bool m_printing = false;
};

class CatPrinter : public VirtualTalk {
public:
    std::vector<uint8_t> Take(const uint8_t* data, size_t len, const VirtualStatus& st) override {
        std::vector<uint8_t> out;
        m_in.Feed(data, len);
        bool pausedNow = false;
        DfCatPacket p;
        while (m_in.Next(&p)) {
            if (st.silent) continue;
            if (p.cmd == cat::kState) {
                uint8_t bits = 0;
                if (st.paperOut) bits |= cat::kStNoPaper;
                if (st.coverOpen) bits |= cat::kStCoverOpen;
                if (st.overheat) bits |= cat::kStOverheat;
                if (st.battery >= 0 && st.battery < 20) bits |= cat::kStLowBattery;
                Append(out, DfCatFrame(cat::kState, {bits, 0x00}, 1));
            } else if (p.cmd == cat::kRow || p.cmd == cat::kRowRle) {
                m_printing = true;
                // Rows in the same read as the pause were on their way.
                if (m_resumeAt && !pausedNow) m_rowsWhilePaused++;
                if (st.flowPause && ++m_rows % 40 == 0 && !m_resumeAt) {
                    Append(out, DfCatFrame(cat::kFlow, {cat::kPause}, 1));
                    m_pauses++;
                    pausedNow = true;
                    m_resumeAt = -1;  // set by the next Tick
                }
            }
        }
        return out;
    }
    std::vector<uint8_t> Tick(long long nowMs) override {
        if (m_resumeAt < 0) m_resumeAt = nowMs + 200;
        if (!m_resumeAt || nowMs < m_resumeAt) return {};
        m_resumeAt = 0;
        return DfCatFrame(cat::kFlow, {cat::kResume}, 1);
    }
    bool Printing() const override { return m_printing; }
    int Pauses() const override { return m_pauses; }
    int RowsWhilePaused() const override { return m_rowsWhilePaused; }

private:
    DfCatParser m_in;
    int m_pauses = 0;
    int m_rowsWhilePaused = 0;
    int m_rows = 0;
    long long m_resumeAt = 0;
    bool m_printing = false;
};

}  // namespace

PreviewFamily VirtualTalkFamily(const uint8_t* data, size_t len, bool* partial) {
    *partial = false;
    static const uint8_t kNiimbot[] = {0x55, 0x55}, kConnect[] = {0x03, 0x55, 0x55}, kCat[] = {0x51, 0x78};
    struct Start {
        const uint8_t* bytes;
        size_t n;
        int model;
    };
    const Start starts[] = {{kNiimbot, 2, 25}, {kConnect, 3, 25}, {kCat, 2, 26}};
    for (const Start& s : starts) {
        const size_t n = len < s.n ? len : s.n;
        if (!n || memcmp(data, s.bytes, n)) continue;
        if (n < s.n) {
            *partial = true;
            continue;
        }
        return static_cast<PreviewFamily>(s.model);
    }
    return PreviewFamily::Unknown;
}

std::unique_ptr<VirtualTalk> MakeVirtualTalk(PreviewFamily family, int headDots) {
    if (static_cast<int>(family) == 25) return std::unique_ptr<VirtualTalk>(new NiimbotPrinter(headDots));
    if (static_cast<int>(family) == 26) return std::unique_ptr<VirtualTalk>(new CatPrinter());
    return nullptr;
}
