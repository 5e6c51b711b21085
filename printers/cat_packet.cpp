// "Cat" printer frames: CRC-8, framing and the frame parser.
#include "printers/cat_packet.h"

uint8_t DfCatCrc8(const uint8_t* data, size_t len) {
    uint8_t crc = 0;
    for (size_t i = 0; i < len; i++) {
        crc ^= data[i];
        for (int k = 0; k < 8; k++) crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

std::vector<uint8_t> DfCatFrame(uint8_t cmd, const std::vector<uint8_t>& data, uint8_t dir) {
    const size_t n = data.size() < 0xFFFF ? data.size() : 0xFFFF;
    std::vector<uint8_t> f = {
        0x51, 0x78, cmd, dir, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
    f.insert(f.end(), data.begin(), data.begin() + static_cast<long>(n));
    f.push_back(DfCatCrc8(data.data(), n));
    f.push_back(0xFF);
    return f;
}

const std::vector<uint8_t>& DfCatLatticeStart() {
    static const std::vector<uint8_t> v = {0xAA, 0x55, 0x17, 0x38, 0x44, 0x5F, 0x5F, 0x5F, 0x44, 0x38, 0x2C};
    return v;
}

const std::vector<uint8_t>& DfCatLatticeEnd() {
    static const std::vector<uint8_t> v = {0xAA, 0x55, 0x17, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17};
    return v;
}

void DfCatParser::Feed(const uint8_t* data, size_t len) {
    if (!data || !len) return;
    if (m_at > 4096 && m_at * 2 > m_buf.size()) {
        m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<long>(m_at));
        m_at = 0;
    }
    m_buf.insert(m_buf.end(), data, data + len);
}

bool DfCatParser::Next(DfCatPacket* packet) {
    while (m_at < m_buf.size()) {
        const uint8_t* p = m_buf.data() + m_at;
        const size_t left = m_buf.size() - m_at;
        if (p[0] != 0x51 || (left >= 2 && p[1] != 0x78)) {
            m_at++;
            m_dropped++;
            continue;
        }
        if (left < 6) return false;
        const size_t n = static_cast<size_t>(p[4] | p[5] << 8);
        // A printer's notifications are short; a longer length is noise,
        // and waiting for it would hide the frames behind it.
        if (n > 1024) {
            m_at++;
            m_dropped++;
            continue;
        }
        if (left < n + 8) return false;
        if (DfCatCrc8(p + 6, n) != p[6 + n] || p[7 + n] != 0xFF) {
            m_at++;
            m_dropped++;
            continue;
        }
        packet->cmd = p[2];
        packet->dir = p[3];
        packet->data.assign(p + 6, p + 6 + n);
        m_at += n + 8;
        return true;
    }
    return false;
}
