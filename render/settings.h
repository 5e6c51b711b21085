// The job's settings records, filled once per job from the settings source
// by CBaseRender::GetPrinterParameters and read-only afterwards. Choice
// options are enums named after the PPD's choices (printers/*_family.cpp
// lists them per family); render/settings.cpp turns choice names into them.
#pragma once

#include <string>

// "zeMediaTracking". Several choice names share a value (Stock and A4Stock
// are Continuous, BLine_Fold is BLine, TattooGuidelines is TattooWrinkle).
enum class DfMediaTracking {
    Continuous = 0,
    Gap = 1,
    BLine = 2,
    Perforated = 3,
    Roll = 4,
    Recording = 5,
    Tattoo = 6,
    TattooWrinkle = 7,
};

// "MediaMethod"; "Normal" is Direct.
enum class DfPrintMethod { Direct = 0, Ribbon = 1 };

// "LabelMode".
enum class DfLabelMode { PrinterDefault = 0, TearOff, PeelOff, CutEveryLabel, CutEndOfJob };

// "BeginPrintSound", "EndPrintSound"; Unset: no such option, or a word it
// does not have.
enum class DfSound { Unset = -1, None = 0, EveryPage, EveryDoc };

// "MoneyBox", the cash drawer; Unset as for the sounds.
enum class DfMoneyBox { Unset = -1, None = 0, BeforePrint, AfterPrint };

// "CutMedia" and "CutType".
enum class DfCutMedia { None = 0, EveryPage, EndOfJob };
enum class DfCutType { Partial = 0, Full };

// "Rotate": its choices "0" to "3".
enum class DfRotation { None = 0, HalfTurn, QuarterTurnCcw, QuarterTurnCw };

// "ImageFilter", the reduction to black and white: its choices "0" to "11".
// Threshold uses iThreValue; the others are CxImage::Dither's method
// value - 1.
enum class DfReduction {
    Threshold = 0,
    FloydSteinberg,
    Bayer4x4,
    Burkes,
    Stucki,
    JarvisJudiceNinke,
    Sierra,
    StevensonArce,
    Ordered4x4,
    Bayer8x8,
    Screen16x16,
    EdgeKeeping,
};

// The PPD choice name of a value (the first of several), or nullptr for
// Unset and values outside the enum.
const char* DfChoiceName(DfMediaTracking v);
const char* DfChoiceName(DfLabelMode v);
const char* DfChoiceName(DfSound v);
const char* DfChoiceName(DfMoneyBox v);
const char* DfChoiceName(DfCutMedia v);
const char* DfChoiceName(DfCutType v);
const char* DfChoiceName(DfPrintMethod v);
const char* DfChoiceName(DfReduction v);
const char* DfChoiceName(DfRotation v);

// The value of a PPD choice name; false (value untouched) for a name the
// option does not have.
bool DfChoiceValue(const std::string& name, DfMediaTracking& v);
bool DfChoiceValue(const std::string& name, DfLabelMode& v);
bool DfChoiceValue(const std::string& name, DfSound& v);
bool DfChoiceValue(const std::string& name, DfMoneyBox& v);
bool DfChoiceValue(const std::string& name, DfCutMedia& v);
bool DfChoiceValue(const std::string& name, DfCutType& v);
bool DfChoiceValue(const std::string& name, DfPrintMethod& v);
bool DfChoiceValue(const std::string& name, DfReduction& v);
bool DfChoiceValue(const std::string& name, DfRotation& v);

struct tagREGSTRUCT {
    int iSpeed = 14;             // "zePrintRate"; -1: send no speed command
    int iDensity = 8;            // "Darkness"; -1: send no density command
    int iDensityCommand = 0;     // attribute "DensityCommand"
    int iReference[2] = {0, 0};  // "AdjustHoriaontal"/"AdjustVertical", times 8
    DfRotation iRotate = DfRotation::None;
    bool iDottedline = false;  // "AutoDotted"; stored and logged only
    DfMediaTracking iMediaType = DfMediaTracking::Continuous;
    int iGapHeight = 3;
    int iGapOffset = 0;
    int iOffset = 0;  // "FeedOffset", TSPL OFFSET
    DfPrintMethod iPrinttype = DfPrintMethod::Direct;
    int iFeedOffset = 0;  // "FeedOffset", paper feed after the page
    DfMoneyBox iMoneyBox = DfMoneyBox::Unset;
    int iImageMaxLength = 0;  // attribute "ImageMaxLength"
    DfSound BeginPrintSound = DfSound::Unset;
    DfSound EndPrintSound = DfSound::Unset;
    int iHeadDots = 0;  // attribute "dotforgeHeadDots"; 0: no width limit
    DfCutMedia iCutMedia = DfCutMedia::None;
    DfCutType iCutType = DfCutType::Partial;
    DfLabelMode iLabelMode = DfLabelMode::PrinterDefault;
};

struct tagREGSTRUCTWITHALFTONE {
    DfReduction iGrayMethod = DfReduction::Burkes;
    int iThreValue = 175;  // "Threshold"
    int iLiangdu = 0;      // "Brightness"
    int iDuibidu = 0;      // "Contrast"
    int iCropTopEdge = 0;  // "CropEdge*": mm; 0 keep, negative no limit
    int iCropBottomEdge = 0;
    int iCropLeftEdge = 0;
    int iCropRightEdge = 0;
    bool ImageCompress = false;  // "ImageCompress"
};
