// Settings read from real PPD files: defaults, job options over them, the
// "Default" choices, atoi-style numbers and the debug log lines.
#include <gtest/gtest.h>

#include <cups/ppd.h>
#include <syslog.h>

#include <memory>

#include "helpers/logcapture.h"
#include "helpers/runfilter.h"
#include "filter/ppdsettings.h"
#include "printers/family.h"
#include "render/baserender.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

struct Loaded {
    ppd_file_t* ppd = nullptr;
    std::unique_ptr<CBaseRender> render;
    DfPpdSettings settings{nullptr};
    ~Loaded() {
        render.reset();
        if (ppd) ppdClose(ppd);
    }
};

// Opens the PPD, marks defaults and the job options as the driver does, and
// reads the settings into a fresh renderer.
void Load(Loaded& l, const std::string& ppdName, const char* options) {
    l.ppd = ppdOpenFile(TestPpd(ppdName).c_str());
    ASSERT_NE(l.ppd, nullptr);
    ppdMarkDefaults(l.ppd);
    cups_option_t* opts = nullptr;
    int n = cupsParseOptions(options, 0, &opts);
    cupsMarkOptions(l.ppd, n, opts);
    cupsFreeOptions(n, opts);
    l.render = std::make_unique<CBaseRender>();
    l.settings = DfPpdSettings(l.ppd);
    l.render->SetSettings(&l.settings);
    l.render->GetPrinterParameters();
}

TEST(Settings, PpdWithoutOptionsKeepsDefaults) {
    LogCapture log;
    Loaded l;
    Load(l, "settings_none.ppd", "");
    const tagREGSTRUCT& r = l.render->m_reg;
    const tagREGSTRUCTWITHALFTONE& h = l.render->m_halftone;
    EXPECT_EQ(r.iSpeed, -1);
    EXPECT_EQ(r.iDensity, -1);
    EXPECT_EQ(h.iLiangdu, 0);
    EXPECT_EQ(r.iMoneyBox, DfMoneyBox::Unset);
    EXPECT_EQ(r.BeginPrintSound, DfSound::Unset);
    EXPECT_EQ(r.EndPrintSound, DfSound::Unset);
    EXPECT_EQ(r.iDensityCommand, 0);
    EXPECT_EQ(r.iImageMaxLength, 0);
    EXPECT_EQ(h.iGrayMethod, DfReduction::Burkes);
    EXPECT_EQ(h.iThreValue, 175);
    EXPECT_EQ(r.iMediaType, DfMediaTracking::Continuous);
    EXPECT_EQ(r.iGapHeight, 3);
    EXPECT_EQ(r.iGapOffset, 0);
    EXPECT_EQ(r.iPrinttype, DfPrintMethod::Direct);
    EXPECT_EQ(r.iRotate, DfRotation::None);
    EXPECT_FALSE(h.ImageCompress);

    EXPECT_EQ(log.Count("GetMarkedOption: "), 24);
    EXPECT_TRUE(log.Contains("GetMarkedOption: Darkness is error"));
    EXPECT_TRUE(log.Contains("iLiangdu = 0"));
    EXPECT_TRUE(log.Contains("BeginPrintSound = -1"));
    EXPECT_TRUE(log.Contains("EndPrintSound = -1"));
    EXPECT_TRUE(log.Contains("MoneyBox = -1"));
    EXPECT_EQ(log.Count("iSpeed"), 0);
    EXPECT_EQ(log.Count("iDensity"), 0);
    EXPECT_EQ(log.Count("Gap ="), 0);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines()[0].text, "CCupsRender::GetPrinterParameters");
    for (const LogLine& line : log.Lines()) EXPECT_EQ(line.priority, LOG_DEBUG);
}

TEST(Settings, PpdDefaultsAreRead) {
    LogCapture log;
    Loaded l;
    Load(l, "settings_all.ppd", "");
    const tagREGSTRUCT& r = l.render->m_reg;
    const tagREGSTRUCTWITHALFTONE& h = l.render->m_halftone;
    EXPECT_EQ(r.iPrinttype, DfPrintMethod::Ribbon);
    EXPECT_EQ(r.iReference[0], 16);
    EXPECT_EQ(r.iReference[1], -8);
    EXPECT_EQ(r.iMediaType, DfMediaTracking::Gap);
    EXPECT_EQ(r.iGapHeight, 3);
    EXPECT_EQ(r.iGapOffset, 0);
    EXPECT_EQ(r.iOffset, 12);
    EXPECT_EQ(r.iFeedOffset, 12);
    EXPECT_EQ(r.iRotate, DfRotation::QuarterTurnCcw);
    EXPECT_EQ(r.iDensity, 12);
    EXPECT_EQ(r.iDensityCommand, 1);
    EXPECT_EQ(r.iImageMaxLength, 100);
    EXPECT_EQ(r.BeginPrintSound, DfSound::EveryPage);
    EXPECT_EQ(r.EndPrintSound, DfSound::EveryDoc);
    EXPECT_EQ(r.iMoneyBox, DfMoneyBox::AfterPrint);
    EXPECT_EQ(r.iSpeed, 4);
    EXPECT_TRUE(r.iDottedline);
    EXPECT_EQ(h.iLiangdu, -20);
    EXPECT_EQ(h.iDuibidu, 30);
    EXPECT_EQ(h.iGrayMethod, DfReduction::Threshold);
    EXPECT_EQ(h.iThreValue, 128);
    EXPECT_TRUE(h.ImageCompress);
    EXPECT_EQ(h.iCropTopEdge, 3);
    EXPECT_EQ(h.iCropBottomEdge, -1);
    EXPECT_EQ(h.iCropLeftEdge, 4);
    EXPECT_EQ(h.iCropRightEdge, 5);

    // Only the cut and label mode options are absent from this PPD.
    EXPECT_EQ(log.Count("GetMarkedOption: "), 3);
    for (const char* line : {"GetMarkedOption: CutMedia is error", "GetMarkedOption: CutType is error",
                             "GetMarkedOption: LabelMode is error"})
        EXPECT_TRUE(log.Contains(line)) << line;
    for (const char* line : {"iPrinttype = 1", "iReference[0] = 16", "iReference[1] = -8", "Gap = 1, 3, 0",
                             "iOffset = 12", "iRotate = 2", "iDensity = 12", "BeginPrintSound = 1",
                             "EndPrintSound = 2", "MoneyBox = 2", "iSpeed = 4", "iDottedline = 1", "iLiangdu = -20",
                             "iDuibidu = 30", "iGrayMethod = 0", "iThreValue = 128", "ImageCompress = 1",
                             "iCropTopEdge = 3", "iCropBottomEdge = -1", "iCropLeftEdge = 4", "iCropRightEdge = 5"})
        EXPECT_TRUE(log.Contains(line)) << line;
    EXPECT_TRUE(log.Contains(
        "Darkness: marked=1, choice: 12, text: 12, code: , \t\t\tconflicted=0, keyword: Darkness, defchoice: 12, "
        "option->text: Darkness, option->num_choices: 3"));
}

using Getter = int (*)(const CBaseRender&);

struct OverrideCase {
    const char* options;
    Getter get;
    int expected;
};

#define FIELD(expr) [](const CBaseRender& r) { return static_cast<int>(r.expr); }

TEST(Settings, JobOptionsOverridePpdDefaults) {
    const OverrideCase cases[] = {
        {"Darkness=Default", FIELD(m_reg.iDensity), -1},
        {"zePrintRate=Default", FIELD(m_reg.iSpeed), -1},
        {"zePrintRate=13", FIELD(m_reg.iSpeed), 13},
        {"Darkness=abc", FIELD(m_reg.iDensity), 0},
        {"Rotate=Default", FIELD(m_reg.iRotate), 0},
        {"Contrast=Default", FIELD(m_halftone.iDuibidu), 0},
        {"Threshold=Default", FIELD(m_halftone.iThreValue), 0},
        {"MediaMethod=Normal", FIELD(m_reg.iPrinttype), 0},
        {"MediaMethod=Direct", FIELD(m_reg.iPrinttype), 0},
        {"BeginPrintSound=Loud", FIELD(m_reg.BeginPrintSound), -1},
        {"BeginPrintSound=None", FIELD(m_reg.BeginPrintSound), 0},
        {"MoneyBox=BeforePrint", FIELD(m_reg.iMoneyBox), 1},
        {"zeMediaTracking=BLine", FIELD(m_reg.iMediaType), 2},
        {"zeMediaTracking=BLine", FIELD(m_reg.iGapHeight), 0},
        {"zeMediaTracking=Recording", FIELD(m_reg.iMediaType), 5},
        {"zeMediaTracking=TattooGuidelines", FIELD(m_reg.iMediaType), 7},
        // An unknown medium keeps the constructor's values, not the PPD's Gap.
        {"zeMediaTracking=Mystery", FIELD(m_reg.iMediaType), 0},
        {"zeMediaTracking=Mystery", FIELD(m_reg.iGapHeight), 3},
        {"FeedOffset=0", FIELD(m_reg.iFeedOffset), 0},
        {"ImageFilter=3", FIELD(m_halftone.iGrayMethod), 3},
        {"AutoDotted=0", FIELD(m_reg.iDottedline), 0},
        // Unvalidated numbers wrap in 32 bits instead of overflowing.
        {"AdjustHoriaontal=999999999", FIELD(m_reg.iReference[0]), -589934600},
        {"AdjustHoriaontal=-1", FIELD(m_reg.iReference[0]), -8},
    };
    for (const OverrideCase& c : cases) {
        SCOPED_TRACE(c.options);
        LogCapture log;
        Loaded l;
        Load(l, "settings_all.ppd", c.options);
        EXPECT_EQ(c.get(*l.render), c.expected);
    }
}

TEST(Settings, UnknownMediumStillLogsGapLine) {
    LogCapture log;
    Loaded l;
    Load(l, "settings_all.ppd", "zeMediaTracking=Mystery");
    EXPECT_TRUE(log.Contains("Gap = 0, 3, 0"));
}

TEST(Settings, OptionNotInPpdIsIgnored) {
    Loaded l;
    Load(l, "settings_none.ppd", "Darkness=12 zePrintRate=3 Brightness=40");
    EXPECT_EQ(l.render->m_reg.iDensity, -1);
    EXPECT_EQ(l.render->m_reg.iSpeed, -1);
    EXPECT_EQ(l.render->m_halftone.iLiangdu, 0);
}

// A choice name has a value whose own name reads back to that value.
template <class E>
bool Typed(const std::string& name) {
    E v, back;
    const char* own = DfChoiceValue(name, v) ? DfChoiceName(v) : nullptr;
    return own && DfChoiceValue(own, back) && back == v;
}

// Every choice the descriptors offer for a typed option reads as a value of
// its enum, so no PPD or app choice falls back to a default unseen.
TEST(Settings, EveryDescriptorChoiceIsTyped) {
    const struct {
        const char* keyword;
        bool (*typed)(const std::string&);
    } options[] = {
        {"zeMediaTracking", Typed<DfMediaTracking>}, {"MediaMethod", Typed<DfPrintMethod>},
        {"LabelMode", Typed<DfLabelMode>},           {"BeginPrintSound", Typed<DfSound>},
        {"EndPrintSound", Typed<DfSound>},           {"MoneyBox", Typed<DfMoneyBox>},
        {"CutMedia", Typed<DfCutMedia>},             {"CutType", Typed<DfCutType>},
        {"ImageFilter", Typed<DfReduction>},         {"Rotate", Typed<DfRotation>},
    };
    for (const auto& o : options) {
        int seen = 0;
        for (const DfFamily* family : DfFamilies()) {
            const DfOption* option = DfFindOption(*family, o.keyword);
            for (size_t i = 0; option && i < option->choices.size(); i++, seen++)
                EXPECT_TRUE(o.typed(option->choices[i].name))
                    << family->name << " " << o.keyword << "=" << option->choices[i].name;
        }
        EXPECT_GT(seen, 0) << o.keyword;  // some family offers it
    }
    EXPECT_FALSE(Typed<DfMediaTracking>("Mystery"));
    EXPECT_FALSE(Typed<DfSound>("none"));  // choice names keep their letter case
}

}  // namespace
