// GetMarkedOption and GetPrinterParameters: the job's settings from the
// settings source's choices and model attributes, and the choice names of
// the settings' enums.
#include <cstring>

#include "base/intmath.h"
#include "render/baserender.h"

std::string CBaseRender::GetMarkedOption(const char* keyword) {
    std::string value;
    if (!m_settings || !m_settings->Choice(keyword, value)) {
        AddLog("GetMarkedOption: %s is error", keyword);
        return std::string();
    }
    return value;
}

namespace {

// A choice name and its value; the first name of a value is its own.
template <class E>
struct Word {
    const char* name;
    E value;
};

const Word<DfMediaTracking> kMediaTracking[] = {
    {"Continuous", DfMediaTracking::Continuous},
    {"A4Stock", DfMediaTracking::Continuous},
    {"Stock", DfMediaTracking::Continuous},
    {"Gap", DfMediaTracking::Gap},
    {"BLine", DfMediaTracking::BLine},
    {"BLine_Fold", DfMediaTracking::BLine},
    {"Perforated", DfMediaTracking::Perforated},
    {"Roll", DfMediaTracking::Roll},
    {"Recording", DfMediaTracking::Recording},
    {"Tattoo", DfMediaTracking::Tattoo},
    {"TattooWrinkle", DfMediaTracking::TattooWrinkle},
    {"TattooGuidelines", DfMediaTracking::TattooWrinkle},
};
const Word<DfPrintMethod> kPrintMethod[] = {
    {"Direct", DfPrintMethod::Direct}, {"Normal", DfPrintMethod::Direct}, {"Ribbon", DfPrintMethod::Ribbon}};
const Word<DfLabelMode> kLabelMode[] = {{"PrinterDefault", DfLabelMode::PrinterDefault},
                                        {"TearOff", DfLabelMode::TearOff},
                                        {"PeelOff", DfLabelMode::PeelOff},
                                        {"CutEveryLabel", DfLabelMode::CutEveryLabel},
                                        {"CutEndOfJob", DfLabelMode::CutEndOfJob}};
const Word<DfSound> kSound[] = {
    {"None", DfSound::None}, {"EveryPage", DfSound::EveryPage}, {"EveryDoc", DfSound::EveryDoc}};
const Word<DfMoneyBox> kMoneyBox[] = {{"None", DfMoneyBox::None},
                                      {"BeforePrint", DfMoneyBox::BeforePrint},
                                      {"AfterPrint", DfMoneyBox::AfterPrint}};
const Word<DfCutMedia> kCutMedia[] = {
    {"None", DfCutMedia::None}, {"EveryPage", DfCutMedia::EveryPage}, {"EndOfJob", DfCutMedia::EndOfJob}};
const Word<DfCutType> kCutType[] = {{"Partial", DfCutType::Partial}, {"Full", DfCutType::Full}};
const Word<DfRotation> kRotation[] = {{"0", DfRotation::None},
                                      {"1", DfRotation::HalfTurn},
                                      {"2", DfRotation::QuarterTurnCcw},
                                      {"3", DfRotation::QuarterTurnCw}};
const Word<DfReduction> kReduction[] = {
    {"0", DfReduction::Threshold}, {"1", DfReduction::FloydSteinberg}, {"2", DfReduction::Bayer4x4},
    {"3", DfReduction::Burkes},    {"4", DfReduction::Stucki},         {"5", DfReduction::JarvisJudiceNinke},
    {"6", DfReduction::Sierra},    {"7", DfReduction::StevensonArce},  {"8", DfReduction::Ordered4x4},
    {"9", DfReduction::Bayer8x8},  {"10", DfReduction::Screen16x16},   {"11", DfReduction::EdgeKeeping}};

template <class E, size_t N>
const char* NameOf(const Word<E> (&words)[N], E v) {
    for (const Word<E>& w : words)
        if (w.value == v) return w.name;
    return nullptr;
}

template <class E, size_t N>
bool ValueOf(const Word<E> (&words)[N], const std::string& name, E& v) {
    for (const Word<E>& w : words) {
        if (name == w.name) {
            v = w.value;
            return true;
        }
    }
    return false;
}

}  // namespace

#define DF_CHOICE_WORDS(E, table)                       \
    const char* DfChoiceName(E v) {                     \
        return NameOf(table, v);                        \
    }                                                   \
    bool DfChoiceValue(const std::string& name, E& v) { \
        return ValueOf(table, name, v);                 \
    }
DF_CHOICE_WORDS(DfMediaTracking, kMediaTracking)
DF_CHOICE_WORDS(DfPrintMethod, kPrintMethod)
DF_CHOICE_WORDS(DfLabelMode, kLabelMode)
DF_CHOICE_WORDS(DfSound, kSound)
DF_CHOICE_WORDS(DfMoneyBox, kMoneyBox)
DF_CHOICE_WORDS(DfCutMedia, kCutMedia)
DF_CHOICE_WORDS(DfCutType, kCutType)
DF_CHOICE_WORDS(DfReduction, kReduction)
DF_CHOICE_WORDS(DfRotation, kRotation)
#undef DF_CHOICE_WORDS

namespace {

// A choice option's value: its choice's, or fallback (logged) for a choice
// name it does not have. False, value untouched, when the source lacks the
// option.
template <class E>
bool ReadChoice(CBaseRender& r, const char* keyword, E& value, E fallback) {
    const std::string c = r.GetMarkedOption(keyword);
    if (c.empty()) return false;
    if (!DfChoiceValue(c, value)) {
        const char* name = DfChoiceName(fallback);
        r.AddLog("%s: unknown choice %s, %s used", keyword, c.c_str(), name ? name : "none");
        value = fallback;
    }
    return true;
}

}  // namespace

void CBaseRender::GetPrinterParameters() {
    tagREGSTRUCT& r = m_reg;
    tagREGSTRUCTWITHALFTONE& h = m_halftone;
    std::string c;

    AddLog("CCupsRender::GetPrinterParameters");

    if (ReadChoice(*this, "MediaMethod", r.iPrinttype, DfPrintMethod::Ribbon))
        AddLog("iPrinttype = %d", static_cast<int>(r.iPrinttype));
    c = GetMarkedOption("AdjustHoriaontal");
    if (!c.empty()) {
        r.iReference[0] = DfWrapShl(DfAtoi(c.c_str()), 3);
        AddLog("iReference[0] = %d", r.iReference[0]);
    }
    c = GetMarkedOption("AdjustVertical");
    if (!c.empty()) {
        r.iReference[1] = DfWrapShl(DfAtoi(c.c_str()), 3);
        AddLog("iReference[1] = %d", r.iReference[1]);
    }
    c = GetMarkedOption("zeMediaTracking");
    if (!c.empty()) {
        // An unknown medium keeps the values it had.
        if (DfChoiceValue(c, r.iMediaType)) {
            r.iGapHeight = r.iMediaType == DfMediaTracking::Gap ? 3 : 0;
            r.iGapOffset = 0;
        }
        AddLog("Gap = %d, %d, %d", static_cast<int>(r.iMediaType), r.iGapHeight, r.iGapOffset);
    }
    c = GetMarkedOption("FeedOffset");
    if (!c.empty()) {
        r.iOffset = DfAtoi(c.c_str());
        r.iFeedOffset = r.iOffset;
        AddLog("iOffset = %d", r.iOffset);
    }
    c = GetMarkedOption("Rotate");
    if (!c.empty()) {
        if (!DfChoiceValue(c, r.iRotate)) r.iRotate = DfRotation::None;  // "Default" and the like
        AddLog("iRotate = %d", static_cast<int>(r.iRotate));
    }
    c = GetMarkedOption("Darkness");
    if (!c.empty() && c != "Default") {
        r.iDensity = DfAtoi(c.c_str());
        AddLog("iDensity = %d", r.iDensity);
    } else {
        r.iDensity = -1;
    }

    r.iDensityCommand = 0;
    if (m_settings && m_settings->Attribute("DensityCommand", c)) r.iDensityCommand = DfAtoi(c.c_str());
    r.iImageMaxLength = 0;
    if (m_settings && m_settings->Attribute("ImageMaxLength", c)) r.iImageMaxLength = DfAtoi(c.c_str());
    r.iHeadDots = 0;
    if (m_settings && m_settings->Attribute("dotforgeHeadDots", c)) {
        r.iHeadDots = DfAtoi(c.c_str());
        if (r.iHeadDots < 0) r.iHeadDots = 0;
        AddLog("iHeadDots = %d", r.iHeadDots);
    }

    // Absent or unknown: no sound and no drawer command at all.
    r.BeginPrintSound = r.EndPrintSound = DfSound::Unset;
    ReadChoice(*this, "BeginPrintSound", r.BeginPrintSound, DfSound::Unset);
    AddLog("BeginPrintSound = %d", static_cast<int>(r.BeginPrintSound));
    ReadChoice(*this, "EndPrintSound", r.EndPrintSound, DfSound::Unset);
    AddLog("EndPrintSound = %d", static_cast<int>(r.EndPrintSound));
    r.iMoneyBox = DfMoneyBox::Unset;
    ReadChoice(*this, "MoneyBox", r.iMoneyBox, DfMoneyBox::Unset);
    AddLog("MoneyBox = %d", static_cast<int>(r.iMoneyBox));

    if (ReadChoice(*this, "CutMedia", r.iCutMedia, DfCutMedia::None))
        AddLog("iCutMedia = %d", static_cast<int>(r.iCutMedia));
    if (ReadChoice(*this, "CutType", r.iCutType, DfCutType::Partial))
        AddLog("iCutType = %d", static_cast<int>(r.iCutType));
    if (ReadChoice(*this, "LabelMode", r.iLabelMode, DfLabelMode::PrinterDefault))
        AddLog("iLabelMode = %d", static_cast<int>(r.iLabelMode));

    c = GetMarkedOption("zePrintRate");
    if (!c.empty() && c != "Default") {
        r.iSpeed = DfAtoi(c.c_str());
        AddLog("iSpeed = %d", r.iSpeed);
    } else {
        r.iSpeed = -1;
    }
    c = GetMarkedOption("AutoDotted");
    if (!c.empty()) {
        r.iDottedline = DfAtoi(c.c_str()) != 0;
        AddLog("iDottedline = %d", r.iDottedline ? 1 : 0);
    }
    c = GetMarkedOption("Brightness");
    h.iLiangdu = DfAtoi(c.c_str());
    AddLog("iLiangdu = %d", h.iLiangdu);
    c = GetMarkedOption("Contrast");
    if (!c.empty()) {
        h.iDuibidu = DfAtoi(c.c_str());
        AddLog("iDuibidu = %d", h.iDuibidu);
    }
    if (ReadChoice(*this, "ImageFilter", h.iGrayMethod, h.iGrayMethod))
        AddLog("iGrayMethod = %d", static_cast<int>(h.iGrayMethod));
    c = GetMarkedOption("Threshold");
    if (!c.empty()) {
        h.iThreValue = DfAtoi(c.c_str());
        AddLog("iThreValue = %d", h.iThreValue);
    }
    c = GetMarkedOption("ImageCompress");
    if (!c.empty()) {
        h.ImageCompress = DfAtoi(c.c_str()) != 0;
        AddLog("ImageCompress = %d", h.ImageCompress ? 1 : 0);
    }
    struct {
        const char* keyword;
        int* field;
        const char* log;
    } crops[] = {
        {"CropEdgeTop", &h.iCropTopEdge, "iCropTopEdge = %d"},
        {"CropEdgeBottom", &h.iCropBottomEdge, "iCropBottomEdge = %d"},
        {"CropEdgeLeft", &h.iCropLeftEdge, "iCropLeftEdge = %d"},
        {"CropEdgeRight", &h.iCropRightEdge, "iCropRightEdge = %d"},
    };
    for (auto& e : crops) {
        c = GetMarkedOption(e.keyword);
        if (!c.empty()) {
            *e.field = DfAtoi(c.c_str());
            AddLog(e.log, *e.field);
        }
    }
}
