// CPrinterNiimbot: settings, page rows and the packet builders.
#include "printers/niimbot.h"

#include <cstring>
#include <string>

#include "base/intmath.h"
#include "printers/headrow.h"
#include "printers/niimbot_packet.h"

namespace {

// Heads of this width and wider run across the label (B1, B21, B1 Pro,
// B21 Pro); every narrower one (D11, D110, D101, B18) prints sideways.
constexpr int kWideHead = 384;
constexpr int kMaxRows = 0xFFFF;

// The rotation code (0 none, 1 half, 2 quarter counter-clockwise, 3 quarter
// clockwise) of the user's turn followed by a quarter turn clockwise.
DfRotation PlusQuarterClockwise(DfRotation rotate) {
    switch (rotate) {
        case DfRotation::HalfTurn:
            return DfRotation::QuarterTurnCcw;
        case DfRotation::QuarterTurnCcw:
            return DfRotation::None;
        case DfRotation::QuarterTurnCw:
            return DfRotation::HalfTurn;
        default:
            return DfRotation::QuarterTurnCw;
    }
}

}  // namespace

CPrinterNiimbot::CPrinterNiimbot() {
    m_bPadsToPageSize = true;  // a label's length is its rows: the page must be whole
    m_cmdBuffer.SetMaxBufferSize(0);
}

void CPrinterNiimbot::SetHead(int dots) {
    m_head = dots > 0 ? dots : kWideHead;
    m_sideways = m_head < kWideHead;
    m_task = m_sideways ? Task::D110 : Task::B1;
}

void CPrinterNiimbot::GetPrinterParameters() {
    CBaseRender::GetPrinterParameters();
    SetHead(m_reg.iHeadDots);
    // Rows are centred on the head here, not cut at the right.
    m_reg.iHeadDots = 0;
    if (m_sideways) m_reg.iRotate = PlusQuarterClockwise(m_reg.iRotate);
    std::string c;
    if (m_settings && m_settings->Attribute("NiimbotTask", c)) {
        if (c == "B1") m_task = Task::B1;
        if (c == "D110") m_task = Task::D110;
    }
    if (m_settings && m_settings->Attribute("NiimbotDotCounts", c)) {
        if (c == "Total") m_counts = Counts::Total;
        if (c == "Zero") m_counts = Counts::Zero;
    }
    AddLog("Niimbot: head %d dots%s, %s sequence", m_head, m_sideways ? " (sideways)" : "",
           m_task == Task::B1 ? "B1" : "D110");
}

void CPrinterNiimbot::OnStartDoc(unsigned long flags) {
    CBaseRender::OnStartDoc(flags);
    m_connected = false;
}

void CPrinterNiimbot::Packet(uint8_t cmd, std::initializer_list<uint8_t> data) {
    Packet(cmd, std::vector<uint8_t>(data));
}

void CPrinterNiimbot::Packet(uint8_t cmd, const std::vector<uint8_t>& data) {
    const std::vector<uint8_t> f = DfNiimbotFrame(cmd, data);
    m_cmdBuffer.AddBuffer(f.data(), static_cast<int>(f.size()));
}

void CPrinterNiimbot::cmdConnect() {
    Packet(niim::kConnect, {0x01});
}

void CPrinterNiimbot::cmdDensity(int level) {
    const int max = m_sideways ? 3 : 5;
    if (level < 0) level = m_sideways ? 2 : 3;
    if (level < 1) level = 1;
    if (level > max) level = max;
    Packet(niim::kSetDensity, {static_cast<uint8_t>(level)});
}

// zeMediaTracking's media to the printer's label types: 1 gaps, 2 black
// marks, 3 continuous, 4 perforated.
void CPrinterNiimbot::cmdLabelType(DfMediaTracking mediaType) {
    uint8_t type = 1;
    switch (mediaType) {
        case DfMediaTracking::BLine:
            type = 2;
            break;
        case DfMediaTracking::Perforated:
            type = 4;
            break;
        case DfMediaTracking::Continuous:
        case DfMediaTracking::Roll:
        case DfMediaTracking::Recording:
            type = 3;
            break;
        default:
            break;
    }
    Packet(niim::kSetLabelType, {type});
}

void CPrinterNiimbot::cmdPrintStart() {
    if (m_task == Task::B1)
        Packet(niim::kPrintStart, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00});  // one page, default colour
    else
        Packet(niim::kPrintStart, {0x01});
}

void CPrinterNiimbot::cmdPrintClear() {
    Packet(niim::kPrintClear, {0x01});
}

void CPrinterNiimbot::cmdPageStart() {
    Packet(niim::kPageStart, {0x01});
}

void CPrinterNiimbot::cmdPageSize(int rows, int cols) {
    std::vector<uint8_t> d = {static_cast<uint8_t>(rows >> 8), static_cast<uint8_t>(rows),
                              static_cast<uint8_t>(cols >> 8), static_cast<uint8_t>(cols)};
    if (m_task == Task::B1) d.insert(d.end(), {0x00, 0x01});  // one copy
    Packet(niim::kSetPageSize, d);
}

void CPrinterNiimbot::cmdQuantity(int copies) {
    Packet(niim::kPrintQuantity, {static_cast<uint8_t>(copies >> 8), static_cast<uint8_t>(copies)});
}

void CPrinterNiimbot::cmdPageEnd() {
    Packet(niim::kPageEnd, {0x01});
}

void CPrinterNiimbot::cmdPrintEnd() {
    Packet(niim::kPrintEnd, {0x01});
}

void CPrinterNiimbot::AddRows(const uint8_t* rows, int bytesPerRow, int count) {
    const int third = bytesPerRow / 3;
    for (int y = 0; y < count;) {
        const uint8_t* row = rows + static_cast<size_t>(y) * bytesPerRow;
        int repeat = 1;
        while (y + repeat < count && repeat < 255 &&
               !std::memcmp(row, rows + static_cast<size_t>(y + repeat) * bytesPerRow, bytesPerRow))
            repeat++;
        int dots[3] = {0, 0, 0};
        for (int i = 0; i < bytesPerRow; i++) {
            const int k = third > 0 ? (i / third < 3 ? i / third : 2) : 0;
            dots[k] += __builtin_popcount(row[i]);
        }
        const int total = dots[0] + dots[1] + dots[2];
        const uint8_t hi = static_cast<uint8_t>(y >> 8), lo = static_cast<uint8_t>(y);
        if (!total) {
            Packet(niim::kRowEmpty, {hi, lo, static_cast<uint8_t>(repeat)});
        } else {
            std::vector<uint8_t> d = {hi, lo};
            if (m_counts == Counts::Split)
                d.insert(d.end(), {static_cast<uint8_t>(dots[0]), static_cast<uint8_t>(dots[1]),
                                   static_cast<uint8_t>(dots[2])});
            else if (m_counts == Counts::Total)
                d.insert(d.end(), {0x00, static_cast<uint8_t>(total), static_cast<uint8_t>(total >> 8)});
            else
                d.insert(d.end(), {0x00, 0x00, 0x00});
            d.push_back(static_cast<uint8_t>(repeat));
            d.insert(d.end(), row, row + bytesPerRow);
            Packet(niim::kRowBitmap, d);
        }
        y += repeat;
    }
}

void CPrinterNiimbot::OnPaintBmp() {
    m_cmdBuffer.InitBuffer(0);
    const int rows = static_cast<int>(m_image.GetHeight());
    const int bytesPerRow = (m_head + 7) / 8;
    // A row packet carries at most 255 bytes: 6 of them are its header.
    if (bytesPerRow > 249) {
        SetPageError("a head of %d dots is wider than a row packet can carry", m_head);
        return;
    }
    if (rows <= 0 || rows > kMaxRows) {
        SetPageError("its %d rows are more than the printer's %d", rows, kMaxRows);
        return;
    }
    const long w = static_cast<long>(m_image.GetWidth());
    if (w > m_head)
        SetPageWarning("is %ld dots wide, wider than the print head's %d: centred, both edges cut", w,
                       m_head);

    std::vector<uint8_t> bits(static_cast<size_t>(bytesPerRow) * rows);
    for (int y = 0; y < rows; y++)
        DfHeadRow(m_image, static_cast<unsigned>(y), m_head, &bits[y * bytesPerRow]);

    if (!m_connected) cmdConnect();
    m_connected = true;
    cmdDensity(m_reg.iDensity);
    cmdLabelType(m_reg.iMediaType);
    cmdPrintStart();
    if (m_task == Task::D110) cmdPrintClear();
    cmdPageStart();
    cmdPageSize(rows, bytesPerRow * 8);
    if (m_task == Task::D110) cmdQuantity(1);
    AddRows(bits.data(), bytesPerRow, rows);
    cmdPageEnd();
    cmdPrintEnd();
    SpoolCommands(m_cmdBuffer);
}
