// Status queries and reply parsers of the five command families.
#include "printers/status.h"

#include <cstring>

#include "printers/family.h"

namespace {

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n, std::initializer_list<uint8_t> more = {}) {
    std::vector<uint8_t> v(p, p + n);
    v.insert(v.end(), more);
    return v;
}

template <size_t N>
std::vector<uint8_t> Bytes(const uint8_t (&a)[N], std::initializer_list<uint8_t> more = {}) {
    return Bytes(a, N, more);
}

// ---- ESC/POS: DLE EOT n, one byte each. XON, XOFF and bytes that can be
// automatic status back (first byte 0xx1xx00, the others 0xx0xxxx) may come
// around it and are skipped; any other byte, or a second reply byte, means
// the bytes are no reply (a printer of another kind, a wrong line speed).

DfReply EscPosRealtime(const uint8_t* r, size_t n, bool final, int which, DfPrinterStatus* st) {
    int reply = -1;
    bool garbled = false;
    for (size_t i = 0; i < n && !garbled; i++) {
        const uint8_t b = r[i];
        if (DfEscPosRealtimeByte(b)) {
            garbled = reply >= 0;
            reply = b;
        } else if (b != 0x11 && b != 0x13 && (b & 0x93) != 0x10 && (b & 0x90) != 0x00) {
            garbled = true;
        }
    }
    if (garbled || reply < 0) return final ? DfReply::Invalid : DfReply::Incomplete;
    const uint8_t b = static_cast<uint8_t>(reply);
    unsigned c = 0;
    switch (which) {
        case 1:
            if (b & 0x08) c |= kDfStOffline;
            break;
        case 2:
            if (b & 0x04) c |= kDfStCoverOpen;
            if (b & 0x08) c |= kDfStBusy;  // paper fed by the feed button
            if (b & 0x20) c |= kDfStMediaEmpty;
            if (b & 0x40) c |= kDfStError;
            break;
        case 3:
            if (b & 0x04) c |= kDfStError;     // mechanical
            if (b & 0x08) c |= kDfStMediaJam;  // paper caught in the cutter
            if (b & 0x20) c |= kDfStError;     // unrecoverable
            if (b & 0x40) c |= kDfStOverheat;  // recovers by itself: the head cools
            break;
        case 4:
            if (b & 0x0C) c |= kDfStMediaLow;
            if (b & 0x60) c |= kDfStMediaEmpty;
            break;
    }
    st->conditions |= c;
    return DfReply::Done;
}

DfReply EscPos1(const uint8_t* r, size_t n, bool f, DfPrinterStatus* s) {
    return EscPosRealtime(r, n, f, 1, s);
}
DfReply EscPos2(const uint8_t* r, size_t n, bool f, DfPrinterStatus* s) {
    return EscPosRealtime(r, n, f, 2, s);
}
DfReply EscPos3(const uint8_t* r, size_t n, bool f, DfPrinterStatus* s) {
    return EscPosRealtime(r, n, f, 3, s);
}
DfReply EscPos4(const uint8_t* r, size_t n, bool f, DfPrinterStatus* s) {
    return EscPosRealtime(r, n, f, 4, s);
}

// GS I 65..69: 5F, text, 00.
DfReply EscPosText(const uint8_t* r, size_t n, bool final, std::string* out) {
    for (size_t i = 0; i < n; i++) {
        if (r[i] != 0x5F) continue;
        size_t end = i + 1;
        while (end < n && r[end] >= 0x20 && r[end] <= 0x7E) end++;
        if (end < n && r[end] == 0x00) {
            out->assign(reinterpret_cast<const char*>(r + i + 1), end - i - 1);
            return DfReply::Done;
        }
    }
    return final ? DfReply::Invalid : DfReply::Incomplete;
}

DfReply EscPosModel(const uint8_t* r, size_t n, bool f, DfPrinterStatus* s) {
    return EscPosText(r, n, f, &s->model);
}
DfReply EscPosFirmware(const uint8_t* r, size_t n, bool f, DfPrinterStatus* s) {
    return EscPosText(r, n, f, &s->firmware);
}

// ---- TSPL

// A reply of exactly one byte (TSPL ESC ! ?, CPCL ESC h and ESC i): every
// value means something, so only the length tells a reply from noise.
bool OneByte(size_t n, bool final, DfReply* r) {
    if (n == 1) return true;
    *r = final ? DfReply::Invalid : DfReply::Incomplete;
    return false;
}

// ESC ! ?: one byte, 00 ready.
DfReply TsplStatus(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    DfReply bad;
    if (!OneByte(n, final, &bad)) return bad;
    const uint8_t b = r[0];
    unsigned c = 0;
    if (b & 0x01) c |= kDfStCoverOpen;  // head open
    if (b & 0x02) c |= kDfStMediaJam;
    if (b & 0x04) c |= kDfStMediaEmpty;
    if (b & 0x08) c |= kDfStRibbonEmpty;
    if (b & 0x10) c |= kDfStPaused;
    if (b & 0x20) c |= kDfStBusy;
    if (b & 0x40) c |= kDfStCoverOpen;
    if (b & 0x80) c |= kDfStOverheat;  // temperature out of range (or another error)
    st->conditions |= c;
    return DfReply::Done;
}

// ESC ! S: 02, four bytes each with bit 6 set, 03 (then CR LF).
DfReply TsplExtended(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    for (size_t i = 0; i < n; i++) {
        if (r[i] != 0x02) continue;
        if (n - i < 6) break;
        const uint8_t* b = r + i + 1;
        if ((b[0] & b[1] & b[2] & b[3] & 0x40) != 0x40 || b[4] != 0x03) continue;
        unsigned c = 0;
        switch (b[0]) {
            case 0x60:
                c |= kDfStPaused;
                break;
            case 0x45:
                c |= kDfStError;
                break;
            case 0x42:
            case 0x43:
            case 0x46:
            case 0x50:
            case 0x57:
                c |= kDfStBusy;
                break;
            default:
                break;
        }
        if (b[1] & 0x08) c |= kDfStBusy;      // receive buffer full
        if (b[2] & 0x03) c |= kDfStOverheat;  // head, motor
        if (b[2] & 0x14) c |= kDfStError;     // head error, out of memory
        if (b[2] & 0x08) c |= kDfStMediaJam;  // cutter jam
        if (b[3] & 0x01) c |= kDfStMediaEmpty;
        if (b[3] & 0x0A) c |= kDfStMediaJam;  // paper jam, ribbon jam
        if (b[3] & 0x04) c |= kDfStRibbonEmpty;
        if (b[3] & 0x20) c |= kDfStCoverOpen;
        st->conditions |= c;
        return DfReply::Done;
    }
    return final ? DfReply::Invalid : DfReply::Incomplete;
}

// ---- CPCL

DfReply CpclStatus(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    DfReply bad;
    if (!OneByte(n, final, &bad)) return bad;
    unsigned c = 0;
    if (r[0] & 0x01) c |= kDfStBusy;
    if (r[0] & 0x02) c |= kDfStMediaEmpty;
    if (r[0] & 0x04) c |= kDfStCoverOpen;  // latch open
    if (r[0] & 0x08) c |= kDfStBatteryLow;
    st->conditions |= c;
    return DfReply::Done;
}

DfReply CpclExtended(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    DfReply bad;
    if (!OneByte(n, final, &bad)) return bad;
    unsigned c = 0;
    if (r[0] & 0x80) c |= kDfStRibbonEmpty;
    if (r[0] & 0x40) c |= kDfStMediaLow;
    if (r[0] & 0x10) c |= kDfStMediaJam;
    st->conditions |= c;
    return DfReply::Done;
}

// ---- Paperang: framed replies, the command one above the query's; echo
// and acknowledgement frames are skipped, so is a frame whose checksum or
// end byte is wrong.

bool PaperangFind(const uint8_t* r, size_t n, uint8_t command, std::vector<uint8_t>* payload, bool* partial) {
    *partial = false;
    for (size_t i = 0; i < n; i++) {
        if (r[i] != 0x02) continue;
        if (n - i < 5) {
            *partial = true;
            return false;
        }
        const size_t len = r[i + 3] | (r[i + 4] << 8);
        if (r[i + 1] != command || len > 64) continue;
        if (n - i < 10 + len) {
            *partial = true;
            return false;
        }
        const uint8_t* p = r + i + 5;
        const uint8_t* crc = p + len;
        const uint32_t want = crc[0] | (crc[1] << 8) | (crc[2] << 16) | (static_cast<uint32_t>(crc[3]) << 24);
        if (crc[4] != 0x03 || DfPaperangCrc(p, len) != want) continue;
        payload->assign(p, p + len);
        return true;
    }
    return false;
}

DfReply PaperangBattery(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    std::vector<uint8_t> p;
    bool partial;
    if (PaperangFind(r, n, dfq::kPaperangBattery + 1, &p, &partial) && !p.empty() && p[0] <= 100) {
        st->battery = p[0];
        return DfReply::Done;
    }
    return final ? DfReply::Invalid : DfReply::Incomplete;
}

DfReply PaperangVersion(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    std::vector<uint8_t> p;
    bool partial;
    if (PaperangFind(r, n, dfq::kPaperangVersion + 1, &p, &partial) && p.size() >= 3) {
        st->firmware = std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]);
        return DfReply::Done;
    }
    return final ? DfReply::Invalid : DfReply::Incomplete;
}

// ---- PeriPage: replies carry no command id. Unasked messages (FF n) and
// the end-of-job acknowledgement (AA) may come between them.

// Applies an unasked message; false when the byte pair is none.
bool PeriPageUnasked(uint8_t code, unsigned* c) {
    switch (code) {
        case 0x01:
            *c |= kDfStMediaEmpty;
            return true;
        case 0x02:
            *c |= kDfStCoverOpen;
            return true;
        case 0x03:
            *c |= kDfStOverheat;
            return true;
        case 0x04:
            *c |= kDfStBatteryLow;
            return true;
        case 0x05:
            *c &= ~kDfStCoverOpen;
            return true;
        default:
            return false;
    }
}

// One state byte (bits 0xE2 clear), with unasked messages and the job's AA
// around it; any other byte, or a second state byte, is no reply.
DfReply PeriPageState(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    unsigned c = 0;
    int state = -1;
    bool garbled = false;
    for (size_t i = 0; i < n && !garbled; i++) {
        if (r[i] == 0xFF && i + 1 < n && PeriPageUnasked(r[i + 1], &c)) {
            i++;
        } else if (r[i] == 0xAA) {
            continue;
        } else if ((r[i] & 0xE2) == 0 && state < 0) {
            state = r[i];
        } else {
            garbled = true;
        }
    }
    if (garbled || state < 0) return final ? DfReply::Invalid : DfReply::Incomplete;
    if (state & 0x01) c |= kDfStBusy;
    if (state & 0x04) c |= kDfStMediaEmpty;
    if (state & 0x08) c |= kDfStBatteryLow;
    if (state & 0x10) c |= kDfStOverheat;
    st->conditions |= c;
    return DfReply::Done;
}

// 00 and the percentage, with unasked messages around it.
DfReply PeriPageBattery(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    unsigned ignored = 0;
    int level = -1;
    bool garbled = false;
    for (size_t i = 0; i < n && !garbled; i++) {
        if (r[i] == 0xFF && i + 1 < n && PeriPageUnasked(r[i + 1], &ignored)) {
            i++;
        } else if (r[i] == 0xAA) {
            continue;
        } else if (r[i] == 0x00 && i + 1 < n && r[i + 1] <= 100 && level < 0) {
            level = r[++i];
        } else {
            garbled = true;
        }
    }
    if (garbled || level < 0) return final ? DfReply::Invalid : DfReply::Incomplete;
    st->battery = level;
    return DfReply::Done;
}

// ASCII with no end mark: complete when the printer has gone quiet.
DfReply PeriPageText(const uint8_t* r, size_t n, bool final, std::string* out) {
    if (!final) return DfReply::Incomplete;
    std::string text;
    for (size_t i = 0; i < n; i++) {
        if (r[i] == 0x00 || r[i] == '\r' || r[i] == '\n') break;
        if (r[i] < 0x20 || r[i] > 0x7E) return DfReply::Invalid;
        text += static_cast<char>(r[i]);
    }
    if (text.empty()) return DfReply::Invalid;
    *out = text;
    return DfReply::Done;
}

DfReply PeriPageModel(const uint8_t* r, size_t n, bool f, DfPrinterStatus* s) {
    return PeriPageText(r, n, f, &s->model);
}
DfReply PeriPageFirmware(const uint8_t* r, size_t n, bool f, DfPrinterStatus* s) {
    return PeriPageText(r, n, f, &s->firmware);
}

}  // namespace

uint32_t DfPaperangCrc(const uint8_t* data, size_t len) {
    uint32_t reg = ~0x35769521u;
    for (size_t i = 0; i < len; i++) {
        reg ^= data[i];
        for (int k = 0; k < 8; k++) reg = (reg & 1) ? 0xEDB88320u ^ (reg >> 1) : reg >> 1;
    }
    return ~reg;
}

std::vector<uint8_t> DfPaperangFrame(uint8_t command, const std::vector<uint8_t>& payload) {
    const size_t len = payload.size() & 0xFFFF;
    std::vector<uint8_t> f = {0x02, command, 0x00, static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8)};
    f.insert(f.end(), payload.begin(), payload.begin() + static_cast<long>(len));
    const uint32_t crc = DfPaperangCrc(payload.data(), len);
    for (int k = 0; k < 4; k++) f.push_back(static_cast<uint8_t>(crc >> (8 * k)));
    f.push_back(0x03);
    return f;
}

std::vector<DfStatusStep> DfTsplStatusSteps() {
    return {{"ESC ! ?", Bytes(dfq::kTsplStatus), false, false, TsplStatus}};
}

std::vector<DfStatusStep> DfEscPosStatusSteps() {
    using dfq::kEscPosInfo;
    using dfq::kEscPosRealtime;
    return {
        {"DLE EOT 1", Bytes(kEscPosRealtime, {1}), false, false, EscPos1},
        {"DLE EOT 2", Bytes(kEscPosRealtime, {2}), false, false, EscPos2},
        {"DLE EOT 3", Bytes(kEscPosRealtime, {3}), false, false, EscPos3},
        {"DLE EOT 4", Bytes(kEscPosRealtime, {4}), false, false, EscPos4},
        {"GS I 67", Bytes(kEscPosInfo, {dfq::kEscPosModel}), true, true, EscPosModel},
        {"GS I 65", Bytes(kEscPosInfo, {dfq::kEscPosFirmware}), true, true, EscPosFirmware},
    };
}

std::vector<DfStatusStep> DfCpclStatusSteps() {
    return {{"ESC h", Bytes(dfq::kCpclStatus), false, false, CpclStatus},
            {"ESC i", Bytes(dfq::kCpclExtended), true, false, CpclExtended}};
}

std::vector<DfStatusStep> DfPaperangStatusSteps() {
    return {{"battery", DfPaperangFrame(dfq::kPaperangBattery, {1}), false, false, PaperangBattery},
            {"version", DfPaperangFrame(dfq::kPaperangVersion, {1}), true, true, PaperangVersion}};
}

std::vector<DfStatusStep> DfPeriPageStatusSteps() {
    return {{"state", Bytes(dfq::kPeriPageState), false, false, PeriPageState},
            {"battery", Bytes(dfq::kPeriPageBattery), true, false, PeriPageBattery},
            {"model", Bytes(dfq::kPeriPageModel), true, true, PeriPageModel},
            {"firmware", Bytes(dfq::kPeriPageFirmware), true, true, PeriPageFirmware}};
}

// The family descriptor says which steps its printers answer.
std::vector<DfStatusStep> DfStatusSteps(int model) {
    const DfFamily* family = DfFindFamily(model);
    return family && family->statusSteps ? family->statusSteps() : std::vector<DfStatusStep>();
}

DfReply DfParseTsplExtended(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    return TsplExtended(r, n, final, st);
}

const DfStatusReason* DfStatusReasons(size_t* count) {
    static const DfStatusReason kReasons[] = {
        {kDfStMediaEmpty, "media-empty-error"},
        {kDfStMediaLow, "media-low-report"},
        {kDfStMediaJam, "media-jam-error"},
        {kDfStCoverOpen, "cover-open-error"},
        {kDfStRibbonEmpty, "marker-supply-empty-error"},
        {kDfStOffline, "offline-report"},
        {kDfStOverheat, "other-warning"},
        {kDfStError, "other-error"},
    };
    *count = sizeof(kReasons) / sizeof(kReasons[0]);
    return kReasons;
}

std::string DfStatusDescribe(unsigned conditions) {
    static const struct {
        unsigned bit;
        const char* text;
    } kWords[] = {
        {kDfStMediaEmpty, "paper out"}, {kDfStMediaLow, "paper low"},     {kDfStMediaJam, "paper jam"},
        {kDfStCoverOpen, "cover open"}, {kDfStRibbonEmpty, "ribbon out"}, {kDfStOffline, "offline"},
        {kDfStOverheat, "overheated"},  {kDfStPaused, "paused"},          {kDfStBusy, "busy"},
        {kDfStError, "printer error"},  {kDfStBatteryLow, "battery low"}};
    std::string s;
    for (const auto& w : kWords) {
        if (!(conditions & w.bit)) continue;
        if (!s.empty()) s += ", ";
        s += w.text;
    }
    return s;
}
