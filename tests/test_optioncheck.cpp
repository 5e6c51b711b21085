// Job options against the shipped PPDs: whole numbers between the named
// choices act like a named choice of that number, values the PPD does not
// take and near-miss option names get one warning each, and CUPS's and IPP's
// own options never do.
#include <gtest/gtest.h>

#include <cups/ppd.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "filter/optioncheck.h"
#include "filter/ppdsettings.h"
#include "render/baserender.h"
#include "render/optionrules.h"
#ifdef DF_WITH_APP
#include "app/core/fencehooks.h"
#include "app/core/vendor.h"
#include "app/pappl/jobvalues.h"
#endif

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// libcups's cupsMarkOptions loses 16 bytes building its PPD cache for some
// PPDs (the CUPS tests suppress the same); the frame is only seen with the
// full unwinder.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:_ppdCacheCreateWithPPD\n";
}
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}

namespace {

std::string BuiltPpd(const std::string& name) {
    return std::string(DF_BUILD_DIR) + "/ppd/dotforge-" + name + ".ppd";
}

// A PPD marked as the filter marks it, with the job's options kept.
struct Job {
    ppd_file_t* ppd = nullptr;
    cups_option_t* options = nullptr;
    int numOptions = 0;
    ~Job() {
        if (ppd) ppdClose(ppd);
        cupsFreeOptions(numOptions, options);
    }
    bool Open(const std::string& ppdName, const char* text) {
        ppd = ppdOpenFile(BuiltPpd(ppdName).c_str());
        if (!ppd) return false;
        ppdMarkDefaults(ppd);
        numOptions = cupsParseOptions(text, 0, &options);
        cupsMarkOptions(ppd, numOptions, options);
        return true;
    }
    std::vector<std::string> Warnings() {
        std::vector<std::string> w;
        DfCheckJobOptions(ppd, numOptions, options, [&](const std::string& t) { w.push_back(t); });
        return w;
    }
};

#define OPEN_OR_SKIP(job, ppd, text)                                                       \
    if (access(BuiltPpd(ppd).c_str(), R_OK) != 0) GTEST_SKIP() << "PPDs not built (ppdc)"; \
    ASSERT_TRUE((job).Open(ppd, text))

TEST(JobOptions, WarningsForValuesAndNames) {
    struct Case {
        const char* ppd;
        const char* options;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"tspl-203",
         "Brightness=50 Threshold=130 Darkness=7 zePrintRate=7 FeedOffset=7 AdjustVertical=+2",
         {}},
        {"tspl-203", "Darkness=Default ImageFilter=0 zeMediaTracking=BLine Rotate=3", {}},
        {"tspl-203",
         "Threshold=abc",
         {"Threshold=abc is not a value this printer accepts (a whole number from 50 to 225); 175 is used."}},
        {"tspl-203",
         "Darkness=20",
         {"Darkness=20 is not a value this printer accepts (Default or a whole number from 0 to 15); Default "
          "is "
          "used."}},
        {"tspl-203", "Darkness=20 Darkness=3", {}},  // the last one given counts
        {"tspl-203",
         "Brightness=101 Contrast=-51",
         {"Brightness=101 is not a value this printer accepts (a whole number from -100 to 100); 0 is used.",
          "Contrast=-51 is not a value this printer accepts (a whole number from -50 to 100); 0 is used."}},
        {"tspl-203",
         "ImageFilter=12",
         {"ImageFilter=12 is not a value this printer accepts (0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11); 11 is "
          "used."}},
        {"tspl-203", "Rotate=5", {"Rotate=5 is not a value this printer accepts (0, 1, 2, 3); 0 is used."}},
        {"tspl-203",
         "zeMediaTracking=Foo",
         {"zeMediaTracking=Foo is not a value this printer accepts (Continuous, Gap, BLine); Gap is used."}},
        {"tspl-203",
         "Threshold=1e2 Brightness=5.5",
         {"Brightness=5.5 is not a value this printer accepts (a whole number from -100 to 100); 0 is used.",
          "Threshold=1e2 is not a value this printer accepts (a whole number from 50 to 225); 175 is used."}},
        {"tspl-203",
         "AdjustHorizontal=1",
         {"Option AdjustHorizontal=1 is not one of this printer's; did you mean AdjustHoriaontal?"}},
        {"tspl-203",
         "brightness=50",
         {"Option brightness=50 is not one of this printer's; did you mean Brightness?"}},
        {"tspl-203", "Dither=1", {"Option Dither=1 is not one of this printer's; did you mean ImageFilter?"}},
        {"tspl-203",
         "Darknes=3 zePrintRat=2",
         {"Option Darknes=3 is not one of this printer's; did you mean Darkness?",
          "Option zePrintRat=2 is not one of this printer's; did you mean zePrintRate?"}},
        // CUPS marks a valid choice under another letter case itself.
        {"tspl-203", "zemediatracking=bline", {}},
        // A receipt PPD has no darkness: a near name is only matched to its own options.
        {"escpos-58", "Darknes=3 CropEdgeTop=15 FeedOffset=45", {}},
        {"escpos-58",
         "CropEdgeLeft=15",
         {"CropEdgeLeft=15 is not a value this printer accepts (a whole number from -1 to 10); 0 is used."}},
        // What cupsd and the CUPS filters add to argv[5], and their common options.
        {"tspl-203",
         "finishings=3 number-up=1 print-color-mode=monochrome job-uuid=urn:uuid:1 "
         "job-originating-host-name=localhost date-time-at-creation= date-time-at-processing= "
         "time-at-creation=1 "
         "time-at-processing=1 document-name-supplied=a.pdf ColorModel=Gray PageSize=Custom.80x100mm "
         "Resolution=203dpi media=w142h85 landscape copies=2 collate=true fit-to-page cpi=12 lpi=8 "
         "page-left=10 "
         "page-top=10 wrap=true scaling=100 ppi=300 natural-scaling=100 sides=one-sided "
         "orientation-requested=4 "
         "mirror position=center gamma=1000 hue=0 saturation=100 penwidth=1000 prettyprint columns=2 "
         "outputorder=reverse number-up-layout=lrtb page-border=none job-sheets=none,none print-quality=4",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Job job;
        OPEN_OR_SKIP(job, c.ppd, c.options);
        EXPECT_EQ(job.Warnings(), c.warnings);
    }
}

using Getter = int (*)(const CBaseRender&);
#define FIELD(expr) [](const CBaseRender& r) { return static_cast<int>(r.expr); }

// A number between the named choices reads exactly as a named one would;
// anything else leaves the marked choice.
TEST(JobOptions, WholeNumbersInRangeAreUsed) {
    struct Case {
        const char* ppd;
        const char* options;
        Getter get;
        int expected;
    };
    const Case cases[] = {
        {"tspl-203", "Brightness=50", FIELD(m_halftone.iLiangdu), 50},
        {"tspl-203", "Brightness=+50", FIELD(m_halftone.iLiangdu), 50},
        {"tspl-203", "Brightness=-100", FIELD(m_halftone.iLiangdu), -100},
        {"tspl-203", "Brightness=101", FIELD(m_halftone.iLiangdu), 0},
        {"tspl-203", "brightness=50", FIELD(m_halftone.iLiangdu), 0},
        {"tspl-203", "Contrast=10", FIELD(m_halftone.iDuibidu), 10},
        {"tspl-203", "Threshold=130", FIELD(m_halftone.iThreValue), 130},
        {"tspl-203", "Threshold=49", FIELD(m_halftone.iThreValue), 175},
        {"tspl-203", "Threshold=abc", FIELD(m_halftone.iThreValue), 175},
        {"tspl-203", "Darkness=7", FIELD(m_reg.iDensity), 7},
        {"tspl-203", "Darkness=20", FIELD(m_reg.iDensity), -1},
        {"tspl-203", "zePrintRate=7", FIELD(m_reg.iSpeed), 7},
        {"tspl-203", "FeedOffset=7", FIELD(m_reg.iOffset), 7},
        {"tspl-203", "AdjustVertical=+2", FIELD(m_reg.iReference[1]), 16},
        {"tspl-203", "AdjustHoriaontal=-2", FIELD(m_reg.iReference[0]), -16},
        {"tspl-203", "AdjustHoriaontal=4", FIELD(m_reg.iReference[0]), 0},
        // Enumerations take named choices only.
        {"tspl-203", "ImageFilter=12", FIELD(m_halftone.iGrayMethod), 11},
        {"tspl-203", "ImageFilter=11", FIELD(m_halftone.iGrayMethod), 11},
        {"tspl-203", "Rotate=5", FIELD(m_reg.iRotate), 0},
        {"peripage-57", "Darkness=4", FIELD(m_reg.iDensity), 4},
        {"peripage-57", "Darkness=6", FIELD(m_reg.iDensity), -1},
        {"escpos-58", "CropEdgeTop=15", FIELD(m_halftone.iCropTopEdge), 15},
        {"escpos-58", "CropEdgeBottom=0", FIELD(m_halftone.iCropBottomEdge), 0},
        {"escpos-58", "FeedOffset=12", FIELD(m_reg.iFeedOffset), 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ppd) + " " + c.options);
        Job job;
        OPEN_OR_SKIP(job, c.ppd, c.options);
        DfPpdSettings settings(job.ppd, job.numOptions, job.options);
        CBaseRender render;
        render.SetSettings(&settings);
        render.GetPrinterParameters();
        EXPECT_EQ(c.get(render), c.expected);
        render.SetSettings(nullptr);
    }
}

#ifdef DF_WITH_APP
// What the app makes of a job value of a vendor attribute sent as a name
// (as CUPS's IPP backend sends -o values): retyped to an integer, then
// checked. Empty when it is taken, else its refusal; "not a number" when it
// is left for PAPPL to refuse.
std::string AppRefusal(const DfVendorAttr& attr, const std::string& value) {
    ipp_t* request = ippNew();
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_NAME, attr.name, nullptr, value.c_str());
    DfAppRetypeJobValues(request);
    ipp_attribute_t* a = ippFindAttribute(request, attr.name, IPP_TAG_INTEGER);
    const std::string number = a ? std::to_string(ippGetInteger(a, 0)) : "";
    ippDelete(request);
    std::string choice;
    if (!a) return "not a number";
    return DfVendorAccept(attr, number.c_str(), choice) ? "" : DfVendorRefusal(attr, value.c_str());
}

// The filter and the app take the same values of the numeric options and
// refuse the others with the same words after "NAME=VALUE".
TEST(JobOptions, AppAndFilterTakeTheSameValues) {
    DfAppSetFenceHooks();  // the retyping asks the core which values are numbers
    struct Case {
        const char* ppd;
        int model;
        const char* keyword;
        std::string value;
        bool taken;
    };
    const Case cases[] = {
        {"tspl-203", 20, "Threshold", "130", true},
        {"tspl-203", 20, "Threshold", "+130", true},
        {"tspl-203", 20, "Threshold", "225", true},
        {"tspl-203", 20, "Threshold", "226", false},
        {"tspl-203", 20, "Threshold", "49", false},
        {"tspl-203", 20, "Threshold", " 130", false},  // strtol took leading spaces
        {"tspl-203", 20, "Threshold", "130 ", false},
        {"tspl-203", 20, "Threshold", "0x80", false},
        {"tspl-203", 20, "Threshold", "1e2", false},
        {"tspl-203", 20, "Threshold", "99999999999", false},
        {"tspl-203", 20, "Brightness", "-0", true},
        {"tspl-203", 20, "Brightness", "-101", false},
        {"tspl-203", 20, "AdjustVertical", "-3", true},
        {"tspl-203", 20, "AdjustVertical", "4", false},
        {"tspl-203", 20, "FeedOffset", "7", true},
        {"tspl-203", 20, "FeedOffset", "31", false},
        {"escpos-58", 21, "CropEdgeTop", "-1", true},
        {"escpos-58", 21, "CropEdgeTop", "-2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ppd) + " " + c.keyword + "='" + c.value + "'");
        Job job;
        OPEN_OR_SKIP(job, c.ppd, (std::string(c.keyword) + "='" + c.value + "'").c_str());
        const std::vector<std::string> warnings = job.Warnings();
        EXPECT_EQ(warnings.empty(), c.taken);

        const DfVendorAttr* attrs[32];
        const DfVendorAttr* attr = nullptr;
        for (size_t i = 0, n = DfVendorAttrs(c.model, attrs, 32); i < n; i++)
            if (!strcmp(attrs[i]->keyword, c.keyword)) attr = attrs[i];
        ASSERT_NE(attr, nullptr);
        const std::string app = AppRefusal(*attr, c.value);
        EXPECT_EQ(app.empty(), c.taken) << app;
        if (c.taken || warnings.size() != 1 || app == "not a number") continue;
        const std::string appWords = app.substr(strlen(attr->name));
        EXPECT_EQ(warnings[0].compare(strlen(c.keyword), appWords.size(), appWords), 0)
            << warnings[0] << " | " << app;
    }
}
#endif

TEST(JobOptions, NearNames) {
    const std::vector<std::string> ours = {"Brightness", "Darkness", "ImageFilter", "AdjustHoriaontal",
                                           "Rotate"};
    EXPECT_EQ(DfNearOption("AdjustHorizontal", ours), "AdjustHoriaontal");
    EXPECT_EQ(DfNearOption("BRIGHTNESS", ours), "Brightness");
    EXPECT_EQ(DfNearOption("Brigthness", ours), "Brightness");  // two letters swapped
    EXPECT_EQ(DfNearOption("halftone", ours), "ImageFilter");
    EXPECT_EQ(DfNearOption("Rotate", ours), "");
    EXPECT_EQ(DfNearOption("Rotat", ours), "Rotate");
    EXPECT_EQ(DfNearOption("Route", ours), "");  // short names allow one edit
    EXPECT_EQ(DfNearOption("Speed", ours), "");  // an alias of an option this PPD lacks
    EXPECT_EQ(DfNearOption("Contrast", ours), "");
}

}  // namespace
