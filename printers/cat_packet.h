// "Cat" printer frames (the classic generation): 51 78 CMD DIR LEN_lo LEN_hi
// DATA CRC8 FF, DIR 00 host to printer and 01 back, numbers little-endian,
// the CRC-8 (polynomial 0x07, init 0, no reflection) over DATA only; the
// printer's flow-control frames (AE 10 pause, AE 00 resume) and a parser
// for the frames the printer sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cat {
enum : uint8_t {
    kFeed = 0xA1,
    kRow = 0xA2,
    kState = 0xA3,
    kQuality = 0xA4,
    kLattice = 0xA6,
    kApply = 0xA9,
    kFlow = 0xAE,
    kEnergy = 0xAF,
    kSpeed = 0xBD,
    kPrintType = 0xBE,
    kRowRle = 0xBF,
    kPause = 0x10,  // kFlow payloads
    kResume = 0x00,
};
// A3 reply bits.
enum : uint8_t {
    kStNoPaper = 0x01,
    kStCoverOpen = 0x02,
    kStOverheat = 0x04,
    kStLowBattery = 0x08,
};
}  // namespace cat

// The status conditions (printers/status.h) of the state reply's byte.
unsigned DfCatStateConditions(uint8_t bits);

uint8_t DfCatCrc8(const uint8_t* data, size_t len);
// One frame; dir 0 is host to printer. Data beyond 65535 bytes is cut.
std::vector<uint8_t> DfCatFrame(uint8_t cmd, const std::vector<uint8_t>& data, uint8_t dir = 0);
// The lattice control payloads that open and close the rows.
const std::vector<uint8_t>& DfCatLatticeStart();
const std::vector<uint8_t>& DfCatLatticeEnd();

struct DfCatPacket {
    uint8_t cmd = 0;
    uint8_t dir = 0;
    std::vector<uint8_t> data;
};

// Takes the printer's notifications as they come (split or run together)
// and hands out whole frames; anything else, and frames with a bad CRC or
// end mark, is dropped from its first byte on.
class DfCatParser {
public:
    void Feed(const uint8_t* data, size_t len);
    bool Next(DfCatPacket* packet);
    size_t Dropped() const { return m_dropped; }

private:
    std::vector<uint8_t> m_buf;
    size_t m_at = 0;
    size_t m_dropped = 0;
};
