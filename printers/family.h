// DfFamily: everything the system knows about one printer family, in one
// place next to its renderer. The renderer factory, the printer
// application's drivers, vendor attributes and web page words, the
// preview's head widths and the PPDs (generated from these at build time)
// all read the descriptors; DF_FAMILY_LIST in printers/families.h lists them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CBaseRender;
class DfLink;
class DfSink;
struct DfStatusStep;

// A web page text that is the PPD's words.
extern const char kDfAsText[];

// PPD groups.
#define kDfImageGroup "ImageSettings/Image"
#define kDfPosition "Position/Position"
#define kDfPrinterSettings "PrinterSettings/Printer Settings"
#define kDfTrim "Trim/Blank space"
#define kDfSounds "Sound/Sounds"
#define kDfStatusGroup "Status/Printer status"

// One choice of an option.
struct DfChoice {
    const char* name;           // PPD choice name, read by the renderers
    const char* text;           // the PPD's words for it
    // IPP keyword: of the vendor attribute, or of the standard attribute
    // the option stands behind (media-tracking, label-mode-configured);
    // nullptr: the name, as a number, or no IPP value.
    const char* ipp = nullptr;
    const char* web = nullptr;  // the web page's words for it, or nullptr for the plain value
};

// One option the printers of a family offer. Options with a vendor
// attribute appear in the app as NAME, NAME-default and NAME-supported;
// the others stand behind a standard IPP attribute (or none).
struct DfOption {
    const char* keyword;  // PPD keyword
    const char* text;     // PPD option text
    const char* group;    // PPD group, "Name/Text"
    int order;            // PPD order dependency
    const char* deflt;    // default choice
    std::vector<DfChoice> choices;
    const char* ipp = nullptr;  // vendor attribute name, or nullptr
    // Its values are whole numbers (else keywords): a front end takes any
    // whole number between the smallest and largest numeric choice.
    bool integer = false;
    const char* web = nullptr;  // the web page's words for the attribute
    // Only the filter reads it: the app does the same its own way and does
    // not offer it.
    bool filterOnly = false;
};

// A page size: the PPD's name and words, the size, the PWG name the app
// offers it under and the words the web page shows.
struct DfMedium {
    const char* ppd;  // "w113h85"
    const char* text;
    const char* width;  // with unit, as the PPD compiler takes it: "40mm", "4in"
    const char* length;
    const char* pwg;
    const char* web;
};

// One driver (a PPD, and a driver of the app).
struct DfDriver {
    const char* name;       // "tspl-203": PPD dotforge-NAME.ppd and the app's driver
    const char* modelName;  // PPD ModelName
    const char* shortName;  // PPD ShortNickName
    const char* makeModel;  // PPD NickName and printer-make-and-model
    int dpi;
    int headDots;                    // print head width in dots
    std::vector<const char*> media;  // DfMedium::ppd names, in order
    const char* mediaDefault;        // one of them
    const char* minSize[2];          // custom sizes: width and length, with unit
    const char* maxSize[2];
};

enum class DfKind { Label, Receipt };

// An IPP media-type that stands for a media tracking choice of its own.
struct DfMediaType {
    const char* ipp;     // "recording"
    const char* choice;  // zeMediaTracking choice, "Recording"
};

// The GATT layout of a family's Bluetooth LE printers: service, write,
// notify and flow-control characteristics (UUIDs; flow may be null).
struct DfGatt {
    const char* service = nullptr;
    const char* write = nullptr;
    const char* notify = nullptr;
    const char* flow = nullptr;
};

struct DfFamily {
    int modelNumber;  // the PPD's ModelNumber, which picks the renderer
    const char* name;
    const char* comment;  // what the PPD source says about the family
    std::unique_ptr<CBaseRender> (*create)();
    const char* format;             // the app's raw pass-through document format
    DfKind kind;                    // labels and mini printers: gap and mark media too
    std::vector<DfOption> options;  // beyond the image options every family has
    std::vector<DfDriver> drivers;
    std::vector<DfMediaType> mediaTypes = {};  // beyond "labels" and "continuous"
    // Label modes beyond tear-off (peel-off and cutters) and a tear-off
    // offset (label-tear-offset) that stands for FeedOffset.
    bool labelModes = false;
    // Model attributes every driver's PPD carries: name and value pairs.
    std::vector<std::pair<const char*, const char*>> attributes = {};
    const char* identify = nullptr;  // bytes that make the printer signal, or nullptr
    // The queries of a status check and their reply parsers (printers/status.h),
    // or nullptr when the printers cannot tell their status.
    std::vector<DfStatusStep> (*statusSteps)() = nullptr;
    DfGatt ble;  // no service: no Bluetooth LE printers
    // Printers that answer back (base/link.h): a sink that takes the
    // renderer's bytes (the stream the filter writes) and plays them over
    // LINK, each packet waiting for its reply or for the printer's flow
    // control. Its Write fails, with *why set ("printer did not answer
    // connect"), when the printer stops answering; *why must outlive the
    // sink. nullptr: the stream goes to the device as it is.
    std::unique_ptr<DfSink> (*talk)(DfLink& link, std::string* why) = nullptr;
};

// The options every family has: image preparation (ImageFilter ...
// AdjustVertical) and PrinterStatus.
const std::vector<DfOption>& DfImageOptions();

// An option several families offer alike (CropEdgeTop, CropEdgeBottom,
// CropEdgeLeft, CropEdgeRight; zeMediaTracking of the 4-inch label printers).
const DfOption& DfSharedOption(const char* keyword);

// Every page size a driver may name.
const std::vector<DfMedium>& DfMedia();
const DfMedium* DfFindMedium(const char* ppd);

// Sizes that several drivers offer: 4-inch labels, and the 57/58 mm roll of
// the mini printers.
const std::vector<const char*>& DfLabelMedia();
#define kDfLabelDefault "w283h425"
#define kDfLabelMinSize \
    { "10mm", "5mm" }
#define kDfLabelMaxSize \
    { "104mm", "1000mm" }
const std::vector<const char*>& DfMiniRollMedia();
#define kDfMiniRollDefault "w136h283"

// The families, in model number order.
const std::vector<const DfFamily*>& DfFamilies();
const DfFamily* DfFindFamily(int modelNumber);
// An option of a family, image options included; nullptr when it has none.
const DfOption* DfFindOption(const DfFamily& family, const char* keyword);
// Adds a family to the list (the test build's fake family); false when its
// model number is taken.
bool DfRegisterFamily(const DfFamily* family);
