// The virtual printer's side of the status queries: which bytes are a query
// (the families' status steps and the protocol's other queries, from
// printers/status.h), and the reply a printer in a given state sends.
#include <algorithm>
#include <cstring>
#include <sstream>

#include "printers/family.h"
#include "printers/status.h"
#include "tools/preview/vprinter.h"

bool ParseVirtualStatus(const std::string& text, VirtualStatus* status, std::string* error) {
    VirtualStatus s;
    std::string spaced = text;
    for (char& c : spaced)
        if (c == ',' || c == '\n' || c == '\r' || c == '\t') c = ' ';
    std::istringstream in(spaced);
    std::string w;
    while (in >> w) {
        if (w == "ready") {
            const int battery = s.battery;
            s = VirtualStatus();
            s.battery = battery;
        } else if (w == "silent") {
            s.silent = true;
        } else if (w == "paper-out") {
            s.paperOut = true;
        } else if (w == "paper-low") {
            s.paperLow = true;
        } else if (w == "cover-open") {
            s.coverOpen = true;
        } else if (w == "jam") {
            s.jam = true;
        } else if (w == "ribbon-out") {
            s.ribbonOut = true;
        } else if (w == "overheat") {
            s.overheat = true;
        } else if (w == "rfid") {
            s.rfid = true;
        } else if (w == "flow-pause") {
            s.flowPause = true;
        } else if (w.compare(0, 8, "battery=") == 0 && w.size() > 8 && w.size() <= 11 &&
                   w.find_first_not_of("0123456789", 8) == std::string::npos &&
                   std::stoi(w.substr(8)) <= 100) {
            s.battery = std::stoi(w.substr(8));
        } else {
            if (error) *error = w;
            return false;
        }
    }
    *status = s;
    return true;
}

namespace {

template <size_t N>
std::vector<uint8_t> Bytes(const uint8_t (&a)[N], std::initializer_list<uint8_t> more = {}) {
    std::vector<uint8_t> v(a, a + N);
    v.insert(v.end(), more);
    return v;
}

template <size_t N>
bool Starts(const uint8_t* q, size_t n, const uint8_t (&prefix)[N]) {
    return n >= N && !memcmp(q, prefix, N);
}

// The queries of every family's status check (its descriptor's steps), and
// the others these printers answer: TSPL's extended status, the ESC/POS
// printer information and the PeriPage serial number.
const std::vector<std::vector<uint8_t>>& FixedQueries() {
    static const std::vector<std::vector<uint8_t>> q = [] {
        std::vector<std::vector<uint8_t>> list;
        auto add = [&list](const std::vector<uint8_t>& query) {
            if (!query.empty() && std::find(list.begin(), list.end(), query) == list.end())
                list.push_back(query);
        };
        for (const DfFamily* f : DfFamilies())
            if (f->statusSteps)
                for (const DfStatusStep& step : f->statusSteps()) add(step.query);
        add(Bytes(dfq::kTsplExtended));
        for (uint8_t n : {dfq::kEscPosModelId, dfq::kEscPosTypeId, dfq::kEscPosRomId, dfq::kEscPosFirmware,
                          dfq::kEscPosMaker, dfq::kEscPosModel, dfq::kEscPosSerial})
            add(Bytes(dfq::kEscPosInfo, {n}));
        add(Bytes(dfq::kPeriPageSerial));
        return list;
    }();
    return q;
}

std::vector<uint8_t> Text(const char* s, bool escpos) {
    std::vector<uint8_t> v;
    if (escpos) v.push_back(0x5F);
    v.insert(v.end(), s, s + strlen(s));
    if (escpos) v.push_back(0x00);
    return v;
}

}  // namespace

QueryMatch MatchStatusQuery(const uint8_t* data, size_t len, size_t* queryLen) {
    if (!len) return QueryMatch::Partial;
    // Paperang: a whole frame with a good checksum and end byte.
    if (data[0] == 0x02) {
        if (len < 5) return QueryMatch::Partial;
        const size_t n = data[3] | (data[4] << 8);
        if (n > 64) return QueryMatch::None;
        if (len < 10 + n) return QueryMatch::Partial;
        const uint8_t* c = data + 5 + n;
        const uint32_t crc = c[0] | (c[1] << 8) | (c[2] << 16) | (static_cast<uint32_t>(c[3]) << 24);
        if (c[4] != 0x03 || crc != DfPaperangCrc(data + 5, n)) return QueryMatch::None;
        *queryLen = 10 + n;
        return QueryMatch::Query;
    }
    bool partial = false;
    for (const auto& q : FixedQueries()) {
        const size_t m = len < q.size() ? len : q.size();
        if (memcmp(data, q.data(), m)) continue;
        if (len >= q.size()) {
            *queryLen = q.size();
            return QueryMatch::Query;
        }
        partial = true;
    }
    return partial ? QueryMatch::Partial : QueryMatch::None;
}

std::vector<uint8_t> AnswerStatusQuery(const uint8_t* q, size_t n, const VirtualStatus& s) {
    if (s.silent || !n) return {};
    if (q[0] == 0x02 && n >= 10) {  // Paperang: the reply's command is one higher
        const uint8_t cmd = q[1];
        switch (cmd) {
            case dfq::kPaperangVersion:
                return DfPaperangFrame(cmd + 1, {1, 0, 0});
            case dfq::kPaperangSerial:
                return DfPaperangFrame(cmd + 1, Text("DF000001", false));
            case dfq::kPaperangState:
                return DfPaperangFrame(cmd + 1, {0});
            case dfq::kPaperangVoltage:
                return DfPaperangFrame(cmd + 1, {0x68, 0x10});  // 4200 mV
            case dfq::kPaperangBattery:
                return DfPaperangFrame(cmd + 1, {static_cast<uint8_t>(s.battery)});
            case dfq::kPaperangTemperature:
                return DfPaperangFrame(cmd + 1, {static_cast<uint8_t>(s.overheat ? 80 : 30)});
            default:
                return {};
        }
    }
    if (Starts(q, n, dfq::kEscPosRealtime) && n > 2) {
        uint8_t b = 0x12;
        switch (q[2]) {
            case 2:
                b |= (s.coverOpen ? 0x04 : 0) | (s.paperOut ? 0x20 : 0);
                break;
            case 3:
                b |= (s.jam ? 0x08 : 0) | (s.overheat ? 0x40 : 0);
                break;
            case 4:
                b |= (s.paperLow ? 0x0C : 0) | (s.paperOut ? 0x60 : 0);
                break;
            default:
                break;
        }
        return {b};
    }
    if (Starts(q, n, dfq::kEscPosInfo) && n > 2) {
        switch (q[2]) {
            case dfq::kEscPosFirmware:
                return Text("1.0", true);
            case dfq::kEscPosMaker:
                return Text("dotforge", true);
            case dfq::kEscPosModel:
                return Text("virtual printer", true);
            case dfq::kEscPosSerial:
                return Text("DF000001", true);
            case dfq::kEscPosModelId:
                return {0x20};
            case dfq::kEscPosTypeId:
                return {0x02};  // with a cutter
            case dfq::kEscPosRomId:
                return {0x10};
            default:
                return {};
        }
    }
    if (Starts(q, n, dfq::kTsplStatus)) {
        return {static_cast<uint8_t>((s.coverOpen ? 0x01 : 0) | (s.jam ? 0x02 : 0) | (s.paperOut ? 0x04 : 0) |
                                     (s.ribbonOut ? 0x08 : 0) | (s.overheat ? 0x80 : 0))};
    }
    if (Starts(q, n, dfq::kTsplExtended)) {
        const bool error = s.coverOpen || s.jam || s.paperOut || s.ribbonOut || s.overheat;
        return {0x02,
                static_cast<uint8_t>(error ? 0x45 : 0x40),
                0x40,
                static_cast<uint8_t>(0x40 | (s.overheat ? 0x01 : 0)),
                static_cast<uint8_t>(0x40 | (s.paperOut ? 0x01 : 0) | (s.jam ? 0x02 : 0) |
                                     (s.ribbonOut ? 0x04 : 0) | (s.coverOpen ? 0x20 : 0)),
                0x03,
                0x0D,
                0x0A};
    }
    if (Starts(q, n, dfq::kCpclStatus))
        return {static_cast<uint8_t>((s.paperOut ? 0x02 : 0) | (s.coverOpen ? 0x04 : 0) |
                                     (s.battery < 20 ? 0x08 : 0))};
    if (Starts(q, n, dfq::kCpclExtended))
        return {
            static_cast<uint8_t>((s.ribbonOut ? 0x80 : 0) | (s.paperLow ? 0x40 : 0) | (s.jam ? 0x10 : 0))};
    if (Starts(q, n, dfq::kPeriPageState))
        return {static_cast<uint8_t>((s.paperOut ? 0x04 : 0) | (s.battery < 20 ? 0x08 : 0) |
                                     (s.overheat ? 0x10 : 0))};
    if (Starts(q, n, dfq::kPeriPageBattery)) return {0x00, static_cast<uint8_t>(s.battery)};
    if (Starts(q, n, dfq::kPeriPageModel)) return Text("virtual printer", false);
    if (Starts(q, n, dfq::kPeriPageFirmware)) return Text("V1.0", false);
    if (Starts(q, n, dfq::kPeriPageSerial)) return Text("DF000001", false);
    return {};
}
