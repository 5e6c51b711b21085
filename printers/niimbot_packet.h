// Niimbot packets: the frame 55 55 CMD LEN DATA XOR AA AA (XOR of CMD, LEN
// and the data; numbers big-endian; a single 03 before the connect packet
// only), the reply id each request waits for, and a parser that takes
// replies as the printer sends them: split over several reads or several
// run together, with noise between them skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace niim {
enum : uint8_t {
    kConnect = 0xC1,
    kConnectReply = 0xC2,
    kPrinterStatusData = 0xA5,
    kPrinterInfo = 0x40,
    kRfidInfo = 0x1A,
    kHeartbeat = 0xDC,
    kSetDensity = 0x21,
    kSetLabelType = 0x23,
    kPrintStart = 0x01,
    kPageStart = 0x03,
    kSetPageSize = 0x13,
    kPrintQuantity = 0x15,
    kPrintClear = 0x20,
    kRowBitmap = 0x85,
    kRowEmpty = 0x84,
    kRowIndexed = 0x83,
    kPageEnd = 0xE3,
    kPrintStatus = 0xA3,
    kPrintEnd = 0xF3,
    kPrintError = 0xDB,    // unasked: one byte, the error code
    kNotSupported = 0x00,  // reply to a command the printer does not know
    kPageIndex = 0xE0,     // unasked: u16 page index
    kInfoModel = 8,        // PrinterInfo keys
    kInfoBattery = 10,
};
}  // namespace niim

// A command's name for logs, listings and job messages ("page end"), or
// nullptr for a command without one.
const char* DfNiimbotCommandName(uint8_t cmd);

struct DfNiimbotPacket {
    uint8_t cmd = 0;
    std::vector<uint8_t> data;
};

// The frame of one packet (data longer than 255 bytes is cut to 255; the
// renderer never builds one). The connect packet gets its 03 prefix.
std::vector<uint8_t> DfNiimbotFrame(uint8_t cmd, const std::vector<uint8_t>& data);
// The id of the reply a request waits for; -1 for the one-way row packets
// and for ids the table does not know.
int DfNiimbotReplyId(uint8_t cmd);
// Words for a print error code (0xDB's byte, PrintStatus's error byte):
// "cover open", "no paper", ...; "error 0xNN" for unknown codes.
std::string DfNiimbotErrorText(uint8_t code);

// Collects bytes and hands out whole packets in arrival order. Bytes that
// cannot start a packet (a lone 03 prefix, noise) are dropped; so is a
// frame whose checksum or tail is wrong, from its first byte on.
class DfNiimbotParser {
public:
    void Feed(const uint8_t* data, size_t len);
    // The next whole packet; false when none is complete yet.
    bool Next(DfNiimbotPacket* packet);
    // Bytes dropped so far as not belonging to a valid packet.
    size_t Dropped() const { return m_dropped; }
    size_t Pending() const { return m_buf.size() - m_at; }

private:
    std::vector<uint8_t> m_buf;
    size_t m_at = 0;
    size_t m_dropped = 0;
};

// Finds the first packet with the given id in len bytes (replies of a
// status query); false when none is whole.
bool DfNiimbotFind(const uint8_t* data, size_t len, uint8_t cmd, DfNiimbotPacket* packet);
