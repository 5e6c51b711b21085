// GetMarkedOption and GetPrinterParameters: the job's settings from the
// settings source's choices and two model attributes.
#include <cstring>
#include <initializer_list>

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

int SoundCode(const std::string& c) {
    if (c == "None") return 0;
    if (c == "EveryPage") return 1;
    if (c == "EveryDoc") return 2;
    return -1;
}

// Choice words of the finishing options, in the order of their codes; code 0
// is the default (nothing sent), which an unknown word also gets.
int WordCode(const std::string& c, std::initializer_list<const char*> words) {
    int code = 0;
    for (const char* w : words) {
        if (c == w) return code;
        code++;
    }
    return -1;
}

int MoneyBoxCode(const std::string& c) {
    if (c == "None") return 0;
    if (c == "BeforePrint") return 1;
    if (c == "AfterPrint") return 2;
    return -1;
}

struct MediaEntry {
    const char* choice;
    int type, gapHeight, gapOffset;
};

const MediaEntry kMedia[] = {
    {"Continuous", 0, 0, 0}, {"A4Stock", 0, 0, 0},       {"Stock", 0, 0, 0},
    {"Gap", 1, 3, 0},        {"BLine", 2, 0, 0},         {"BLine_Fold", 2, 0, 0},
    {"Perforated", 3, 0, 0}, {"Roll", 4, 0, 0},          {"Recording", 5, 0, 0},
    {"Tattoo", 6, 0, 0},     {"TattooWrinkle", 7, 0, 0}, {"TattooGuidelines", 7, 0, 0},
};

}  // namespace

void CBaseRender::GetPrinterParameters() {
    tagREGSTRUCT& r = m_reg;
    tagREGSTRUCTWITHALFTONE& h = m_halftone;
    std::string c;

    AddLog("CCupsRender::GetPrinterParameters");

    c = GetMarkedOption("MediaMethod");
    if (!c.empty()) {
        r.iPrinttype = (c == "Normal" || c == "Direct") ? 0 : 1;
        AddLog("iPrinttype = %d", r.iPrinttype);
    }
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
        for (const MediaEntry& m : kMedia) {
            if (c == m.choice) {
                r.iMediaType = m.type;
                r.iGapHeight = m.gapHeight;
                r.iGapOffset = m.gapOffset;
                break;
            }
        }
        AddLog("Gap = %d, %d, %d", r.iMediaType, r.iGapHeight, r.iGapOffset);
    }
    c = GetMarkedOption("FeedOffset");
    if (!c.empty()) {
        r.iOffset = DfAtoi(c.c_str());
        r.iFeedOffset = r.iOffset;
        AddLog("iOffset = %d", r.iOffset);
    }
    c = GetMarkedOption("Rotate");
    if (!c.empty()) {
        r.iRotate = DfAtoi(c.c_str());
        AddLog("iRotate = %d", r.iRotate);
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

    r.BeginPrintSound = SoundCode(GetMarkedOption("BeginPrintSound"));
    AddLog("BeginPrintSound = %d", r.BeginPrintSound);
    r.EndPrintSound = SoundCode(GetMarkedOption("EndPrintSound"));
    AddLog("EndPrintSound = %d", r.EndPrintSound);
    r.iMoneyBox = MoneyBoxCode(GetMarkedOption("MoneyBox"));
    AddLog("MoneyBox = %d", r.iMoneyBox);

    struct {
        const char* keyword;
        std::initializer_list<const char*> words;
        int* field;
        const char* log;
    } finishing[] = {
        {"CutMedia", {"None", "EveryPage", "EndOfJob"}, &r.iCutMedia, "iCutMedia = %d"},
        {"CutType", {"Partial", "Full"}, &r.iCutType, "iCutType = %d"},
        {"LabelMode",
         {"PrinterDefault", "TearOff", "PeelOff", "CutEveryLabel", "CutEndOfJob"},
         &r.iLabelMode,
         "iLabelMode = %d"},
    };
    for (auto& f : finishing) {
        c = GetMarkedOption(f.keyword);
        if (c.empty()) continue;
        int code = WordCode(c, f.words);
        if (code < 0) {
            AddLog("%s: unknown choice %s, %s used", f.keyword, c.c_str(), *f.words.begin());
            code = 0;
        }
        *f.field = code;
        AddLog(f.log, code);
    }

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
    c = GetMarkedOption("ImageFilter");
    if (!c.empty()) {
        h.iGrayMethod = DfAtoi(c.c_str());
        AddLog("iGrayMethod = %d", h.iGrayMethod);
    }
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
