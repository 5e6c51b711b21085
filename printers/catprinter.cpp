// CPrinterCat: settings, rows and the frame builders.
#include "printers/catprinter.h"

#include <string>

#include "printers/cat_packet.h"
#include "printers/headrow.h"

namespace {

// Darkness 1-5: the quality byte 31-35 and the heating energy. 3 gives the
// values most senders use (33, 0x4000).
const uint16_t kEnergy[] = {0x2000, 0x3000, 0x4000, 0x6000, 0x8000};

int Level(int darkness) {
    if (darkness < 0) return 3;
    return darkness < 1 ? 1 : darkness > 5 ? 5 : darkness;
}

}  // namespace

CPrinterCat::CPrinterCat() {
    m_cmdBuffer.SetMaxBufferSize(0);
}

void CPrinterCat::GetPrinterParameters() {
    CBaseRender::GetPrinterParameters();
    if (m_reg.iHeadDots > 0) m_head = m_reg.iHeadDots;
    m_reg.iHeadDots = 0;  // rows are centred on the head, not cut at the right
    std::string c;
    if (m_settings && m_settings->Attribute("CatEnergyOrder", c)) m_energyBigEndian = c == "BE";
    if (m_settings && m_settings->Attribute("CatCompress", c)) m_compress = c == "1";
    if (m_settings && m_settings->Attribute("CatFeedCommand", c)) m_feedCommand = c != "0";
}

void CPrinterCat::Frame(uint8_t cmd, const std::vector<uint8_t>& data) {
    const std::vector<uint8_t> f = DfCatFrame(cmd, data);
    m_cmdBuffer.AddBuffer(f.data(), static_cast<int>(f.size()));
}

void CPrinterCat::cmdQuality(int darkness) {
    Frame(cat::kQuality, {static_cast<uint8_t>(0x30 + Level(darkness))});
}

void CPrinterCat::cmdEnergy(int darkness) {
    const uint16_t e = kEnergy[Level(darkness) - 1];
    if (m_energyBigEndian)
        Frame(cat::kEnergy, {static_cast<uint8_t>(e >> 8), static_cast<uint8_t>(e)});
    else
        Frame(cat::kEnergy, {static_cast<uint8_t>(e), static_cast<uint8_t>(e >> 8)});
}

void CPrinterCat::cmdPrintType() {
    Frame(cat::kPrintType, {0x01});
}

void CPrinterCat::cmdApply() {
    Frame(cat::kApply, {0x00});
}

void CPrinterCat::cmdLatticeStart() {
    Frame(cat::kLattice, DfCatLatticeStart());
}

void CPrinterCat::cmdLatticeEnd() {
    Frame(cat::kLattice, DfCatLatticeEnd());
}

void CPrinterCat::cmdSpeed(int speed) {
    Frame(cat::kSpeed, {static_cast<uint8_t>(speed)});
}

// The feed's 16-bit line count is sent in frames of at most 255 lines (the
// high byte is always 0 in what printers are known to take).
void CPrinterCat::cmdFeed(int lines) {
    while (lines > 0) {
        const int n = lines < 255 ? lines : 255;
        if (m_feedCommand) {
            Frame(cat::kFeed, {static_cast<uint8_t>(n), 0x00});
        } else {
            const std::vector<uint8_t> blank((m_head + 7) / 8, 0);
            for (int i = 0; i < n; i++) Frame(cat::kRow, blank);
        }
        lines -= n;
    }
}

std::vector<uint8_t> CPrinterCat::RunLengths(const uint8_t* row, int dots) {
    std::vector<uint8_t> out;
    int x = 0;
    while (x < dots) {
        const int colour = (row[x >> 3] >> (7 - (x & 7))) & 1;
        int run = 1;
        while (x + run < dots && run < 127 && ((row[(x + run) >> 3] >> (7 - ((x + run) & 7))) & 1) == colour)
            run++;
        out.push_back(static_cast<uint8_t>(colour << 7 | run));
        x += run;
    }
    return out;
}

void CPrinterCat::AddRow(const uint8_t* row) {
    const int bytes = (m_head + 7) / 8;
    if (m_compress) {
        std::vector<uint8_t> rle = RunLengths(row, m_head);
        if (static_cast<int>(rle.size()) < bytes) {
            Frame(cat::kRowRle, rle);
            return;
        }
    }
    std::vector<uint8_t> lsb(bytes);
    for (int i = 0; i < bytes; i++) lsb[i] = DfReverseBits(row[i]);
    Frame(cat::kRow, lsb);
}

void CPrinterCat::OnPaintBmp() {
    m_cmdBuffer.InitBuffer(0);
    const long w = static_cast<long>(m_image.GetWidth());
    if (w > m_head)
        SetPageWarning("is %ld dots wide, wider than the print head's %d: centred, both edges cut", w,
                       m_head);
    Frame(cat::kState, {0x00});  // the talk sink reads the reply: paper, cover
    cmdQuality(m_reg.iDensity);
    cmdEnergy(m_reg.iDensity);
    cmdPrintType();
    cmdApply();
    cmdLatticeStart();
    std::vector<uint8_t> row((m_head + 7) / 8);
    for (unsigned y = 0; y < m_image.GetHeight(); y++) {
        DfHeadRow(m_image, y, m_head, row.data());
        AddRow(row.data());
    }
    cmdLatticeEnd();
    cmdSpeed(8);  // slow for feeding, as every sender does
    cmdFeed(m_reg.iFeedOffset > 0 ? mm_2_dots(m_reg.iFeedOffset) : 0);
    SpoolCommands(m_cmdBuffer);
}
