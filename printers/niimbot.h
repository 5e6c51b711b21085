// CPrinterNiimbot: the renderer for Niimbot label printers. Each page is a
// print task of its own, written as the packets of the conversation in the
// order the printer takes them: connect (first page only), density, label
// type, print start, page start, page size, the rows, page end, print end.
// The talk sink (printers/niimbot_talk.h) plays them one by one, each
// waiting for its reply; written straight to a device they are the one-way
// form of the same job.
//
// Two sequences: the "B1" one (B1, B21: 7-byte print start, 6-byte page
// size with copies) and the "D110" one (D11, D110: 1-byte print start,
// print clear, 4-byte page size, print quantity). Heads narrower than 384
// dots print sideways: the page is turned a quarter turn clockwise so that
// the label's height runs across the head. Rows always cover the whole
// head, the page centred on it.
#pragma once

#include <cstdint>
#include <vector>

#include "base/mybuffer.h"
#include "render/baserender.h"

class CPrinterNiimbot : public CBaseRender {
public:
    enum class Task { B1, D110 };
    // How the three dot-count bytes of a bitmap row are filled (sources
    // disagree on what the printer needs): per third of the head, the
    // total (00, low, high), or zeros.
    enum class Counts { Split, Total, Zero };

    CPrinterNiimbot();

    void GetPrinterParameters() override;
    void OnStartDoc(unsigned long flags) override;
    void OnPaintBmp() override;

    // The head and what follows from it (GetPrinterParameters sets them from
    // the driver's head width and the model attributes NiimbotTask and
    // NiimbotDotCounts).
    void SetHead(int dots);
    int Head() const { return m_head; }
    bool Sideways() const { return m_sideways; }
    Task m_task = Task::B1;
    Counts m_counts = Counts::Split;

    // Packet builders (append to the page's command buffer).
    void cmdConnect();
    void cmdDensity(int level);  // -1: the model's default
    void cmdLabelType(DfMediaTracking mediaType);
    void cmdPrintStart();
    void cmdPrintClear();
    void cmdPageStart();
    void cmdPageSize(int rows, int cols);
    void cmdQuantity(int copies);
    void cmdPageEnd();
    void cmdPrintEnd();
    // Row packets for rows head-wide rows (bytesPerRow bytes each, 1 =
    // black, first dot in the high bit): runs of equal rows go as one packet,
    // blank ones as empty-row packets.
    void AddRows(const uint8_t* rows, int bytesPerRow, int count);

    const CMyBuffer& Commands() const { return m_cmdBuffer; }

protected:
    void Packet(uint8_t cmd, std::initializer_list<uint8_t> data);
    void Packet(uint8_t cmd, const std::vector<uint8_t>& data);

    CMyBuffer m_cmdBuffer;
    int m_head = 384;
    bool m_sideways = false;
    bool m_connected = false;
};
