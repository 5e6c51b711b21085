// Niimbot packets: framing, the request/reply table, error words and the
// reassembling parser.
#include "printers/niimbot_packet.h"

#include <cstdio>

std::vector<uint8_t> DfNiimbotFrame(uint8_t cmd, const std::vector<uint8_t>& data) {
    const size_t n = data.size() < 255 ? data.size() : 255;
    std::vector<uint8_t> f;
    f.reserve(n + 8);
    if (cmd == niim::kConnect) f.push_back(0x03);
    f.push_back(0x55);
    f.push_back(0x55);
    f.push_back(cmd);
    f.push_back(static_cast<uint8_t>(n));
    uint8_t x = cmd ^ static_cast<uint8_t>(n);
    for (size_t i = 0; i < n; i++) {
        f.push_back(data[i]);
        x ^= data[i];
    }
    f.push_back(x);
    f.push_back(0xAA);
    f.push_back(0xAA);
    return f;
}

int DfNiimbotReplyId(uint8_t cmd) {
    switch (cmd) {
        case niim::kConnect:
            return niim::kConnectReply;
        case niim::kPrinterStatusData:
            return 0xB5;
        case niim::kRfidInfo:
            return 0x1B;
        case 0x1C:
            return 0x1D;
        case niim::kHeartbeat:
            return 0xDD;  // type 1, the one sent here
        case niim::kSetDensity:
            return 0x31;
        case niim::kSetLabelType:
            return 0x33;
        case niim::kPrintStart:
            return 0x02;
        case niim::kPageStart:
            return 0x04;
        case niim::kSetPageSize:
            return 0x14;
        case niim::kPrintQuantity:
            return 0x16;
        case niim::kPrintClear:
            return 0x30;
        case niim::kPageEnd:
            return 0xE4;
        case niim::kPrintStatus:
            return 0xB3;
        case niim::kPrintEnd:
            return 0xF4;
        case 0xDA:
            return 0xD0;
        case 0x28:
            return 0x38;
        case 0x86:
            return 0xD3;
        default:
            return -1;  // rows, and PrinterInfo (its reply id depends on the key)
    }
}

std::string DfNiimbotErrorText(uint8_t code) {
    static const char* const kWords[] = {nullptr,
                                         "cover open",
                                         "no paper",
                                         "low battery",
                                         "battery fault",
                                         "cancelled",
                                         "data error",
                                         "overheated",
                                         "paper-out",
                                         "busy",
                                         "no print head",
                                         "too cold",
                                         "print head loose",
                                         "no ribbon",
                                         "wrong ribbon",
                                         "used ribbon",
                                         "wrong paper",
                                         "set paper failed",
                                         "set mode failed",
                                         "set density failed",
                                         "RFID write failed",
                                         "set margin failed",
                                         "communication error",
                                         "disconnected",
                                         "bad canvas",
                                         "bad rotation"};
    if (code < sizeof(kWords) / sizeof(kWords[0]) && kWords[code]) return kWords[code];
    if (code == 0x32) return "illegal page";
    if (code == 0x34) return "timed out receiving data";
    char text[24];
    snprintf(text, sizeof(text), "error 0x%02X", code);
    return text;
}

void DfNiimbotParser::Feed(const uint8_t* data, size_t len) {
    if (!data || !len) return;
    // Keep the buffer from growing without end on a long conversation.
    if (m_at > 4096 && m_at * 2 > m_buf.size()) {
        m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<long>(m_at));
        m_at = 0;
    }
    m_buf.insert(m_buf.end(), data, data + len);
}

bool DfNiimbotParser::Next(DfNiimbotPacket* packet) {
    while (m_at < m_buf.size()) {
        const uint8_t* p = m_buf.data() + m_at;
        const size_t left = m_buf.size() - m_at;
        if (p[0] != 0x55 || (left >= 2 && p[1] != 0x55)) {
            m_at++;
            m_dropped++;
            continue;
        }
        if (left < 4) return false;
        const size_t n = p[3];
        if (left < n + 7) return false;
        uint8_t x = p[2] ^ p[3];
        for (size_t i = 0; i < n; i++) x ^= p[4 + i];
        if (x != p[4 + n] || p[5 + n] != 0xAA || p[6 + n] != 0xAA) {
            // Not a frame after all: look for the next head from the next byte.
            m_at++;
            m_dropped++;
            continue;
        }
        packet->cmd = p[2];
        packet->data.assign(p + 4, p + 4 + n);
        m_at += n + 7;
        return true;
    }
    return false;
}

bool DfNiimbotFind(const uint8_t* data, size_t len, uint8_t cmd, DfNiimbotPacket* packet) {
    DfNiimbotParser parser;
    parser.Feed(data, len);
    DfNiimbotPacket p;
    while (parser.Next(&p)) {
        if (p.cmd == cmd) {
            *packet = std::move(p);
            return true;
        }
    }
    return false;
}

const char* DfNiimbotCommandName(uint8_t cmd) {
    switch (cmd) {
        case niim::kConnect:
            return "connect";
        case niim::kPrinterInfo:
            return "printer info";
        case niim::kRfidInfo:
            return "RFID info";
        case niim::kHeartbeat:
            return "heartbeat";
        case niim::kSetDensity:
            return "density";
        case niim::kSetLabelType:
            return "label type";
        case niim::kPrintStart:
            return "print start";
        case niim::kPageStart:
            return "page start";
        case niim::kSetPageSize:
            return "page size";
        case niim::kPrintQuantity:
            return "print quantity";
        case niim::kPrintClear:
            return "print clear";
        case niim::kPageEnd:
            return "page end";
        case niim::kPrintStatus:
            return "print status";
        case niim::kPrintEnd:
            return "print end";
        case niim::kPrinterStatusData:
            return "printer status data";
        default:
            return nullptr;
    }
}
