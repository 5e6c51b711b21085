// Printer status read back: the queries each command family understands and
// parsers from the printer's reply bytes to one set of conditions. Pure
// functions: the caller writes the queries and collects the replies (the
// filter on CUPS's back channel, the printer application on its device).
//
// A status check is a list of steps. For each step the caller clears stale
// input, writes the step's query, and passes every byte read since then to
// the step's parser until it says Done, or until its wait is over (then once
// more with final set). A required step left unanswered means "status
// unknown": the printer is not asked again for a while and printing goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Conditions a printer can report, as bits.
enum : unsigned {
    kDfStMediaEmpty = 1u << 0,
    kDfStMediaLow = 1u << 1,
    kDfStMediaJam = 1u << 2,
    kDfStCoverOpen = 1u << 3,
    kDfStRibbonEmpty = 1u << 4,
    kDfStOffline = 1u << 5,
    kDfStOverheat = 1u << 6,
    kDfStPaused = 1u << 7,
    kDfStBusy = 1u << 8,
    kDfStError = 1u << 9,  // another fault (mechanical, cutter, memory)
    kDfStBatteryLow = 1u << 10,
};

// The conditions under which a job must not start: it would be lost.
constexpr unsigned kDfStBlocking = kDfStMediaEmpty | kDfStCoverOpen | kDfStMediaJam;

struct DfPrinterStatus {
    unsigned conditions = 0;
    int battery = -1;  // percent, -1 when the printer does not tell
    std::string model;
    std::string firmware;
    // The label roll's tag, where the printer reads one (Niimbot RFID): its
    // kind ("gap labels"; empty when no tag was read) and its count of
    // labels, -1 when not told. The tag carries no size.
    std::string labelType;
    int labelsTotal = -1;
    int labelsUsed = -1;
    // The printer's own model id where it tells one (Niimbot), else -1.
    int modelId = -1;
};

enum class DfReply {
    Incomplete,  // more bytes may complete it
    Done,        // understood; the status was updated
    Invalid,     // (final only) nothing in it answers the query
};

struct DfStatusStep {
    const char* name;  // for logs: "DLE EOT 1", "ESC ! ?", ...
    std::vector<uint8_t> query;
    // A query only some firmware knows: no answer is no fault, and the caller
    // may stop asking it of this printer.
    bool optional;
    // Asks model or firmware: once per printer is enough.
    bool identity;
    // Reads the bytes that came back since the query was written. Bytes that
    // cannot belong to the reply (flow control, unasked messages) are
    // skipped. Updates *status only when it returns Done.
    DfReply (*parse)(const uint8_t* reply, size_t len, bool final, DfPrinterStatus* status);
};

// The steps of a status check for a model number, as its family descriptor
// gives them; empty for an unknown model or a family without a status query.
std::vector<DfStatusStep> DfStatusSteps(int model);
// The steps of each family (the descriptors' statusSteps).
std::vector<DfStatusStep> DfTsplStatusSteps();
std::vector<DfStatusStep> DfEscPosStatusSteps();
std::vector<DfStatusStep> DfCpclStatusSteps();
std::vector<DfStatusStep> DfPaperangStatusSteps();
std::vector<DfStatusStep> DfPeriPageStatusSteps();
std::vector<DfStatusStep> DfNiimbotStatusSteps();
std::vector<DfStatusStep> DfCatStatusSteps();

// TSPL's extended status (ESC ! S, newer firmware only), parsed as a step's
// reply is; not among the model's steps since most printers never answer it.
DfReply DfParseTsplExtended(const uint8_t* reply, size_t len, bool final, DfPrinterStatus* status);

// A keyword per condition, with the severity suffix CUPS's STATE: lines and
// IPP printer-state-reasons use ("media-empty-error", ...).
struct DfStatusReason {
    unsigned condition;
    const char* keyword;
};
const DfStatusReason* DfStatusReasons(size_t* count);

// Short words for a message, "paper out, cover open"; empty for none.
std::string DfStatusDescribe(unsigned conditions);

// The Paperang frame of a query: 02, command, 00, length, payload, CRC-32
// of the payload (the job frames' seed), 03; numbers little-endian.
std::vector<uint8_t> DfPaperangFrame(uint8_t command, const std::vector<uint8_t>& payload);
uint32_t DfPaperangCrc(const uint8_t* data, size_t len);

// The query bytes, for the virtual printer and the tests.
namespace dfq {
constexpr uint8_t kEscPosRealtime[] = {0x10, 0x04};  // + n (1-4)
constexpr uint8_t kEscPosInfo[] = {0x1D, 0x49};      // + n
constexpr uint8_t kTsplStatus[] = {0x1B, 0x21, 0x3F};
constexpr uint8_t kTsplExtended[] = {0x1B, 0x21, 0x53};
constexpr uint8_t kCpclStatus[] = {0x1B, 0x68};
constexpr uint8_t kCpclExtended[] = {0x1B, 0x69};
constexpr uint8_t kPeriPageState[] = {0x10, 0xFF, 0x40};
constexpr uint8_t kPeriPageBattery[] = {0x10, 0xFF, 0x50, 0xF1};
constexpr uint8_t kPeriPageModel[] = {0x10, 0xFF, 0x20, 0xF0};
constexpr uint8_t kPeriPageFirmware[] = {0x10, 0xFF, 0x20, 0xF1};
constexpr uint8_t kPeriPageSerial[] = {0x10, 0xFF, 0x20, 0xF2};
constexpr uint8_t kEscPosModelId = 1, kEscPosTypeId = 2, kEscPosRomId = 3;  // GS I n
constexpr uint8_t kEscPosFirmware = 65, kEscPosMaker = 66, kEscPosModel = 67, kEscPosSerial = 68;
// Paperang commands; the reply's command is one higher.
constexpr uint8_t kPaperangVersion = 0x04;
constexpr uint8_t kPaperangSerial = 0x0A;
constexpr uint8_t kPaperangState = 0x0C;
constexpr uint8_t kPaperangVoltage = 0x0E;
constexpr uint8_t kPaperangBattery = 0x10;
constexpr uint8_t kPaperangTemperature = 0x12;
}  // namespace dfq

// Tells whether b can be a reply to a real-time status query (DLE EOT n):
// bits 0 and 7 clear, bits 1 and 4 set.
inline bool DfEscPosRealtimeByte(uint8_t b) {
    return (b & 0x93) == 0x12;
}
