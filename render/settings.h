// The job's settings records, filled once per job from the marked PPD by
// CBaseRender::GetPrinterParameters and read-only afterwards.
#pragma once

struct tagREGSTRUCT {
    int iSpeed = 14;           // "zePrintRate"; -1: send no speed command
    int iDensity = 8;          // "Darkness"; -1: send no density command
    int iDensityCommand = 0;   // attribute "DensityCommand"
    int iReference[2] = {0, 0};  // "AdjustHoriaontal"/"AdjustVertical", times 8
    int iRotate = 0;           // 1: 180, 2: 90, 3: 270 degrees
    bool iDottedline = false;  // "AutoDotted"; stored and logged only
    int iMediaType = 0;        // "zeMediaTracking"
    int iGapHeight = 3;
    int iGapOffset = 0;
    int iOffset = 0;           // "FeedOffset", TSPL OFFSET
    int iPrinttype = 0;        // "MediaMethod": 0 direct thermal, 1 ribbon
    int iFeedOffset = 0;       // "FeedOffset", paper feed after the page
    int iMoneyBox = -1;        // "MoneyBox": 0 none, 1 before, 2 after
    int iImageMaxLength = 0;   // attribute "ImageMaxLength"
    int BeginPrintSound = -1;  // 0 none, 1 every page, 2 every document
    int EndPrintSound = -1;
    int iHeadDots = 0;         // attribute "dotforgeHeadDots"; 0: no width limit
    int iCutMedia = 0;         // "CutMedia": 0 none, 1 every page, 2 end of job
    int iCutType = 0;          // "CutType": 0 partial, 1 full
    int iLabelMode = 0;        // "LabelMode": 0 printer default, 1 tear-off,
                               // 2 peel-off, 3 cut every label, 4 cut at job end
};

struct tagREGSTRUCTWITHALFTONE {
    int iGrayMethod = 3;   // "ImageFilter": <1 threshold, n: dither method n-1
    int iThreValue = 175;  // "Threshold"
    int iLiangdu = 0;      // "Brightness"
    int iDuibidu = 0;      // "Contrast"
    int iCropTopEdge = 0;  // "CropEdge*": mm; 0 keep, negative no limit
    int iCropBottomEdge = 0;
    int iCropLeftEdge = 0;
    int iCropRightEdge = 0;
    bool ImageCompress = false;  // "ImageCompress"
};

// Carried for completeness; nothing draws a watermark.
struct tagWaterMarkConfig {
    bool bEnable = false;
    char szText[4096] = {0};
    int iFontSize = 40;
    int iColor = 0xFFFFFF;
    int iValue3 = 3;
    int iValue4 = 0;
    int iValue5 = 0;
    bool bFlag = false;
    int iValue7 = 9;
    int iValue8 = 10;
    int iValue9 = 10;
    int iValue10 = 100;
    int iValue11 = 100;
};
