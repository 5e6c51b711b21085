// The Niimbot family's descriptor: Niimbot label printers (model number 25),
// B1/B21 with a 384-dot head and D11/D110 with a 96-dot head that prints
// sideways, 203 dpi, over Bluetooth LE or serial (USB, rfcomm) at 115200.
#include "printers/family.h"
#include "printers/niimbot.h"
#include "printers/niimbot_talk.h"
#include "printers/status.h"

namespace {

std::unique_ptr<CBaseRender> Create() {
    return std::make_unique<CPrinterNiimbot>();
}

DfFamily Make() {
    DfFamily f;
    f.modelNumber = 25;
    f.name = "Niimbot";
    f.comment = "Niimbot label printers (model number 25), 203 dpi; each page is a print task of its own.";
    f.create = Create;
    f.format = "application/vnd.dotforge-niimbot";
    f.kind = DfKind::Label;
    f.options = {{"zeMediaTracking",
                  "Labels",
                  kDfPrinterSettings,
                  20,
                  "Gap",
                  {{"Gap", "Labels with gaps", "gap"},
                   {"BLine", "Labels with black marks", "mark"},
                   {"Continuous", "Continuous tape", "continuous"}}},
                 {"Darkness",
                  "Darkness",
                  kDfPrinterSettings,
                  21,
                  "Default",
                  {{"Default", "Printer default (3, on D11 and D110 2)"},
                   {"1", "1 (lightest)"},
                   {"2", "2"},
                   {"3", "3 (darkest on D11 and D110)"},
                   {"4", "4"},
                   {"5", "5 (darkest)"}},
                  nullptr,
                  true}};
    f.drivers = {{"niimbot-b1",
                  "Niimbot B1 Label Printer",
                  "Niimbot B1",
                  "dotforge Niimbot B1/B21 Label Printer",
                  203,
                  384,
                  {"w142h85", "w113h85", "w142h43"},
                  "w142h85",
                  {"10mm", "5mm"},
                  {"50mm", "200mm"}},
                 {"niimbot-d11",
                  "Niimbot D11 Label Printer",
                  "Niimbot D11",
                  "dotforge Niimbot D11/D110 Label Printer",
                  203,
                  96,
                  {"w113h34", "w85h43", "w142h40", "w213h34", "w309h35"},
                  "w113h34",
                  {"10mm", "5mm"},
                  {"200mm", "15mm"}}};
    // Facts the public sources disagree on (README, "Niimbot and cat
    // printers"): the print sequence (Auto: by the head's width; B1; D110)
    // and the dot counts of a row (Split, Total, Zero).
    f.attributes = {{"NiimbotTask", "Auto"}, {"NiimbotDotCounts", "Split"}};
    f.statusSteps = DfNiimbotStatusSteps;
    // One characteristic both ways: written without response, notifying.
    f.ble = {"e7810a71-73ae-499d-8c15-faa9aef0c3f2", "bef8d6c9-9c21-4c9e-b632-bd58c1009f9f",
             "bef8d6c9-9c21-4c9e-b632-bd58c1009f9f", nullptr};
    f.talk = DfNiimbotTalk;
    return f;
}

}  // namespace

extern const DfFamily kDfNiimbot = Make();
