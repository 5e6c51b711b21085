// The cat printers' descriptor: the classic "cat" mini printers (model
// number 26; GB01-GB03, GT01, MX05-MX11 and their other names), 384 dots
// at 203 dpi on 57 mm paper, over Bluetooth LE.
#include "printers/catprinter.h"
#include "printers/cat_talk.h"
#include "printers/family.h"
#include "printers/status.h"

namespace {

std::unique_ptr<CBaseRender> Create() {
    return std::make_unique<CPrinterCat>();
}

DfFamily Make() {
    DfFamily f;
    f.modelNumber = 26;
    f.name = "Cat";
    f.comment = "Cat mini printers (model number 26), 57 mm paper, 203 dpi.";
    f.create = Create;
    f.format = "application/vnd.dotforge-cat";
    f.kind = DfKind::Receipt;
    f.options = {{"Darkness",
                  "Darkness",
                  kDfPrinterSettings,
                  21,
                  "Default",
                  {{"Default", "Normal (3)"},
                   {"1", "1 (lightest)"},
                   {"2", "2"},
                   {"3", "3"},
                   {"4", "4"},
                   {"5", "5 (darkest, slowest)"}},
                  nullptr,
                  true},
                 {"FeedOffset",
                  "Feed after each page",
                  kDfPrinterSettings,
                  23,
                  "15",
                  {{"0", "None", nullptr, kDfAsText},
                   {"5", "5 mm"},
                   {"10", "10 mm"},
                   {"15", "15 mm"},
                   {"20", "20 mm"},
                   {"30", "30 mm"}},
                  "dotforge-feed-offset",
                  true,
                  "Feed after each page (mm)"},
                 DfSharedOption("CropEdgeTop"),
                 DfSharedOption("CropEdgeBottom")};
    f.drivers = {{"cat-57",
                  "Cat Mini Printer 57mm",
                  "Cat Mini 57mm",
                  "dotforge Cat 57 mm Mini Printer",
                  203,
                  384,
                  DfMiniRollMedia(),
                  kDfMiniRollDefault,
                  {"48mm", "10mm"},
                  {"48mm", "2000mm"}}};
    // Facts the public sources disagree on (README): the energy's byte
    // order, run-length rows, and the feed command (0: blank rows instead,
    // for models that ignore it).
    f.attributes = {{"CatEnergyOrder", "LE"}, {"CatCompress", "0"}, {"CatFeedCommand", "1"}};
    f.statusSteps = DfCatStatusSteps;
    // Flow control comes as frames on the notify characteristic.
    f.ble = {"0000ae30-0000-1000-8000-00805f9b34fb", "0000ae01-0000-1000-8000-00805f9b34fb",
             "0000ae02-0000-1000-8000-00805f9b34fb", nullptr};
    f.talk = DfCatTalk;
    return f;
}

}  // namespace

extern const DfFamily kDfCat = Make();
