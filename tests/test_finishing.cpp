// Cutting and label modes: golden bytes of two-page jobs for every choice of
// the ESC/POS cut options and the TSPL label mode, and how the choices are
// read (unknown words fall back to sending nothing).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "helpers/hexdump.h"
#include "helpers/logcapture.h"
#include "helpers/pages.h"
#include "printers/escpos.h"
#include "printers/tspl.h"

namespace {

// Answers the given choices; every other option is absent.
struct Choices : DfSettingsSource {
    std::map<std::string, std::string> values;
    bool Choice(const char* keyword, std::string& value) override {
        auto it = values.find(keyword);
        if (it == values.end()) return false;
        value = it->second;
        return true;
    }
    bool Attribute(const char*, std::string&) override { return false; }
};

// Paints two prepared pages (16 x 3 and 8 x 2 dots) and ends the job;
// returns every byte written and, in pages, what each page's paint wrote.
template <class Render>
ByteVec TwoPages(Captured<Render>& r, std::vector<ByteVec>* wires) {
    r.OnStartDoc(0);
    const unsigned sizes[][2] = {{16, 3}, {8, 2}};
    unsigned seed = 1;
    for (const auto& s : sizes) {
        FillPreparedPage(r.m_image, s[0], s[1], seed++);
        wires->push_back(InvertedRows(r.m_image, (s[0] + 7) / 8));
        r.OnPaintBmp();
        r.OnEndPage();
    }
    r.OnEndDoc();
    return r.All();
}

TEST(Finishing, EscposCuts) {
    const ByteVec partial = Bytes({0x1D, 0x56, 0x31}), full = Bytes({0x1D, 0x56, 0x30});
    const ByteVec feed = Bytes({0x1B, 0x4A, 0x4F});  // 10 mm at 203 dpi
    const ByteVec drawer = Bytes({0x1B, 0x70, 0x00, 0x80, 0x80});
    struct Case {
        int cutMedia, cutType, moneyBox;
        ByteVec pageEnd, jobEnd;  // after each page's feed; after the last page
    };
    const Case cases[] = {
        {0, 0, 0, {}, {}},
        {0, 1, 0, {}, {}},
        {1, 0, 0, partial, {}},
        {1, 1, 0, full, {}},
        {2, 0, 0, {}, partial},
        {2, 1, 0, {}, full},
        // The cut comes before the after-print drawer pulse.
        {1, 0, 2, Cat({partial, drawer}), {}},
        {2, 1, 2, drawer, full},
        // Codes no choice gives send nothing.
        {3, 0, 0, {}, {}},
        {-1, 0, 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("CutMedia " + std::to_string(c.cutMedia) + ", CutType " + std::to_string(c.cutType) +
                     ", MoneyBox " + std::to_string(c.moneyBox));
        Captured<CPrinterESCPOS> r;
        r.m_iDpi = 203;
        r.m_reg.iFeedOffset = 10;
        r.m_reg.iMoneyBox = static_cast<DfMoneyBox>(c.moneyBox);
        r.m_reg.iCutMedia = static_cast<DfCutMedia>(c.cutMedia);
        r.m_reg.iCutType = static_cast<DfCutType>(c.cutType);
        std::vector<ByteVec> wires;
        const ByteVec out = TwoPages(r, &wires);
        const ByteVec start = Bytes({0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01});
        const ByteVec expected = Cat({start, RasterHeader(0, 2, 3), wires[0], feed, c.pageEnd, start,
                                      RasterHeader(0, 1, 2), wires[1], feed, c.pageEnd, c.jobEnd});
        EXPECT_TRUE(SameBytes(expected, out));
        // One write per page, and the job's cut as one more.
        EXPECT_EQ(r.writes.size(), c.jobEnd.empty() ? 2u : 3u);
    }
}

TEST(Finishing, EscposEndOfJobCutNeedsAPage) {
    Captured<CPrinterESCPOS> r;
    r.m_iDpi = 203;
    r.m_reg.iCutMedia = DfCutMedia::EndOfJob;
    r.OnStartDoc(0);
    r.OnEndDoc();
    EXPECT_TRUE(r.writes.empty());
}

TEST(Finishing, TsplLabelModes) {
    struct Case {
        int mode;
        std::string lines;
    };
    const Case cases[] = {
        {0, ""},
        {1, "SET TEAR ON\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\n"},
        {2, "SET PEEL ON\r\nSET CUTTER OFF\r\n"},
        {3, "SET PEEL OFF\r\nSET CUTTER 1\r\n"},
        {4, "SET PEEL OFF\r\nSET CUTTER BATCH\r\n"},
        {5, ""},
        {-1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("LabelMode " + std::to_string(c.mode));
        Captured<CPrinterTSPL> r;
        r.m_iDpi = 203;
        r.m_reg.iDensity = -1;
        r.m_reg.iSpeed = -1;
        r.m_reg.iLabelMode = static_cast<DfLabelMode>(c.mode);
        std::vector<ByteVec> wires;
        const ByteVec out = TwoPages(r, &wires);
        // Stored rows, 4 bytes each, as TSPL's raw BITMAP carries them.
        ByteVec expected;
        const char* sizes[] = {"SIZE 2.00 mm,0.38 mm\r\n", "SIZE 1.00 mm,0.25 mm\r\n"};
        const unsigned rows[] = {3, 2};
        for (int page = 0; page < 2; page++) {
            ByteVec stored;
            for (unsigned y = 0; y < rows[page]; y++) {
                const size_t bpr = wires[page].size() / rows[page];
                for (size_t i = 0; i < 4; i++)
                    stored.push_back(i < bpr ? static_cast<unsigned char>(~wires[page][y * bpr + i]) : 0xFF);
            }
            expected = Cat({expected,
                            Bytes(std::string(sizes[page]) + "SET RIBBON OFF\r\n" + c.lines +
                                  "GAP 0 mm,0 mm\r\nOFFSET 0 mm\r\nCLS\r\nBITMAP 0,0,4," +
                                  std::to_string(rows[page]) + ",1,"),
                            stored, Bytes("\r\nPRINT 1,1\r\n")});
        }
        EXPECT_TRUE(SameBytes(expected, out));
    }
}

TEST(Finishing, ChoicesAreRead) {
    struct Case {
        std::map<std::string, std::string> choices;
        int cutMedia, cutType, labelMode;
        std::vector<std::string> logs;
    };
    const Case cases[] = {
        {{}, 0, 0, 0, {}},
        {{{"CutMedia", "None"}, {"CutType", "Partial"}, {"LabelMode", "PrinterDefault"}},
         0,
         0,
         0,
         {"iCutMedia = 0", "iCutType = 0", "iLabelMode = 0"}},
        {{{"CutMedia", "EveryPage"}, {"CutType", "Full"}}, 1, 1, 0, {"iCutMedia = 1", "iCutType = 1"}},
        {{{"CutMedia", "EndOfJob"}, {"LabelMode", "CutEndOfJob"}},
         2,
         0,
         4,
         {"iCutMedia = 2", "iLabelMode = 4"}},
        {{{"LabelMode", "TearOff"}}, 0, 0, 1, {"iLabelMode = 1"}},
        {{{"LabelMode", "PeelOff"}}, 0, 0, 2, {}},
        {{{"LabelMode", "CutEveryLabel"}}, 0, 0, 3, {}},
        {{{"CutMedia", "Sometimes"}, {"CutType", "full"}, {"LabelMode", "Peel"}},
         0,
         0,
         0,
         {"CutMedia: unknown choice Sometimes, None used", "CutType: unknown choice full, Partial used",
          "LabelMode: unknown choice Peel, PrinterDefault used", "iCutMedia = 0"}},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Choices settings;
        settings.values = c.choices;
        CBaseRender r;
        r.SetSettings(&settings);
        r.GetPrinterParameters();
        EXPECT_EQ(static_cast<int>(r.m_reg.iCutMedia), c.cutMedia);
        EXPECT_EQ(static_cast<int>(r.m_reg.iCutType), c.cutType);
        EXPECT_EQ(static_cast<int>(r.m_reg.iLabelMode), c.labelMode);
        for (const std::string& line : c.logs) EXPECT_TRUE(log.Contains(line)) << line;
        r.SetSettings(nullptr);
    }
}

}  // namespace
