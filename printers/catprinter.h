// CPrinterCat: the renderer for the classic "cat" printers (GB01-GB03,
// GT01, MX05-MX11 and their many names): 384-dot rows on 57 mm paper, each
// command a frame of printers/cat_packet.h. A page goes out as quality and
// energy (both from Darkness), print type, apply, lattice start, one row
// frame per dot row (first dot in the least significant bit), lattice end,
// a slow speed and the feed after the page. The printer paces the sender
// with pause and resume frames; the talk sink (printers/cat_talk.h) honours
// them, written straight to a device the stream is the one-way form.
#pragma once

#include <cstdint>
#include <vector>

#include "base/mybuffer.h"
#include "render/baserender.h"

class CPrinterCat : public CBaseRender {
public:
    CPrinterCat();

    void GetPrinterParameters() override;
    void OnPaintBmp() override;

    // Model attributes (uncertain facts): the energy's byte order
    // (CatEnergyOrder "LE", or "BE" as some senders write it), run-length
    // rows where shorter (CatCompress 1; not every model takes them) and the
    // feed as blank rows for models that ignore the feed command
    // (CatFeedCommand 0).
    bool m_energyBigEndian = false;
    bool m_compress = false;
    bool m_feedCommand = true;
    int m_head = 384;

    void Frame(uint8_t cmd, const std::vector<uint8_t>& data);
    void cmdQuality(int darkness);  // Darkness 1-5 (-1: 3)
    void cmdEnergy(int darkness);
    void cmdPrintType();
    void cmdApply();
    void cmdLatticeStart();
    void cmdLatticeEnd();
    void cmdSpeed(int speed);
    void cmdFeed(int lines);
    // One dot row of m_head dots (1 = black, first dot in the high bit, as
    // DfHeadRow gives it).
    void AddRow(const uint8_t* row);
    // The run-length form of a row: bytes of (colour << 7 | run).
    static std::vector<uint8_t> RunLengths(const uint8_t* row, int dots);

    const CMyBuffer& Commands() const { return m_cmdBuffer; }

protected:
    CMyBuffer m_cmdBuffer;
};
