// The printer application's copy of the PPDs: every driver offers the same
// options with the same defaults and the same model attributes as the PPD
// built from the .drv (a default changed in one place only would make the
// app print other bytes than the filter), and the IPP label mode and cut
// attributes land on the PPD choices the renderers read.
#include <gtest/gtest.h>

#include <cups/ppd.h>

#include <cstring>
#include <set>
#include <string>

#include "app/ippsettings.h"
#include "app/models.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

// Options CUPS itself answers from the page header; the app takes them from
// media-col and the driver's resolution instead.
const std::set<std::string> kPageOptions = {"PageSize",   "PageRegion", "Resolution",
                                            "ColorModel", "InputSlot",  "MediaType"};
// Options the app does not take from a job: it always asks its printers for
// their status (app/status.cpp), where the filter's PrinterStatus is Off
// unless chosen.
const std::set<std::string> kAppOwnOptions = {"PrinterStatus"};

TEST(AppModels, MatchTheirPpds) {
    size_t count = 0;
    const DfAppModel* models = DfAppModels(&count);
    ASSERT_EQ(count, 7u);
    for (size_t i = 0; i < count; i++) {
        const DfAppModel& m = models[i];
        SCOPED_TRACE(m.driver);
        const std::string path = std::string(DF_BUILD_DIR) + "/ppd/dotforge-" + m.driver + ".ppd";
        ppd_file_t* ppd = ppdOpenFile(path.c_str());
        ASSERT_NE(ppd, nullptr) << path;
        EXPECT_EQ(ppd->model_number, m.modelNumber);

        std::set<std::string> inPpd;
        for (ppd_option_t* o = ppdFirstOption(ppd); o; o = ppdNextOption(ppd)) {
            if (kPageOptions.count(o->keyword) || kAppOwnOptions.count(o->keyword)) continue;
            inPpd.insert(o->keyword);
            const char* app = DfAppDefaultChoice(m, o->keyword);
            EXPECT_NE(app, nullptr) << o->keyword << " is not offered by the app";
            if (app) {
                EXPECT_STREQ(app, o->defchoice) << o->keyword;
            }
        }
        for (const DfAppOption& o : m.options) {
            if (!o.keyword) break;
            EXPECT_TRUE(inPpd.count(o.keyword)) << o.keyword << " is not in the PPD";
        }

        pappl_pr_options_t options;
        memset(&options, 0, sizeof(options));
        DfIppSettings settings(m, options, 0, nullptr);
        for (const char* name : {"DensityCommand", "ImageMaxLength", "dotforgeHeadDots"}) {
            ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr);
            std::string value;
            EXPECT_EQ(settings.Attribute(name, value), attr != nullptr) << name;
            if (attr) {
                EXPECT_EQ(value, attr->value ? attr->value : "") << name;
            }
        }
        ppdClose(ppd);
    }
}

TEST(AppModels, LabelModesAndCutsOntoPpdChoices) {
    pappl_pr_options_t options;
    memset(&options, 0, sizeof(options));
    const DfAppModel* tspl = DfAppFindModel("tspl-203");
    ASSERT_NE(tspl, nullptr);
    struct {
        pappl_label_mode_t mode;
        const char* choice;
    } modes[] = {{PAPPL_LABEL_MODE_TEAR_OFF, "PrinterDefault"},
                 {PAPPL_LABEL_MODE_PEEL_OFF, "PeelOff"},
                 {PAPPL_LABEL_MODE_CUTTER, "CutEveryLabel"},
                 {PAPPL_LABEL_MODE_CUTTER_DELAYED, "CutEndOfJob"}};
    for (const auto& c : modes) {
        DfIppSettings s(*tspl, options, 0, nullptr);
        s.SetLabelMode(c.mode);
        std::string value;
        ASSERT_TRUE(s.Choice("LabelMode", value));
        EXPECT_EQ(value, c.choice);
    }

    const DfAppModel* escpos = DfAppFindModel("escpos-80");
    ASSERT_NE(escpos, nullptr);
    struct {
        const char* name;
        const char* value;
        const char* keyword;
        const char* choice;
    } cuts[] = {{"dotforge-cut-media", "every-page", "CutMedia", "EveryPage"},
                {"dotforge-cut-media", "end-of-job", "CutMedia", "EndOfJob"},
                {"dotforge-cut-media", "none", "CutMedia", "None"},
                {"dotforge-cut-type", "full", "CutType", "Full"},
                {"dotforge-cut-type", "partial", "CutType", "Partial"}};
    for (const auto& c : cuts) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        pappl_pr_options_t job = options;
        cups_option_t vendor = {const_cast<char*>(c.name), const_cast<char*>(c.value)};
        job.num_vendor = 1;
        job.vendor = &vendor;
        DfIppSettings s(*escpos, job, 0, nullptr);
        std::string value;
        ASSERT_TRUE(s.Choice(c.keyword, value));
        EXPECT_EQ(value, c.choice);
    }
    // Models without a cutter do not offer the options at all.
    std::string value;
    DfIppSettings paperang(*DfAppFindModel("paperang-57"), options, 0, nullptr);
    EXPECT_FALSE(paperang.Choice("CutMedia", value));
}


TEST(AppModels, ContentAndColourModeChooseTheReduction) {
    // Edge-keeping by default, Burkes for photos that name no method (unless
    // the printer's default is another method), threshold for text and bi-level.
    const DfAppModel* tspl = DfAppFindModel("tspl-203");
    ASSERT_NE(tspl, nullptr);
    struct {
        pappl_color_mode_t colour;
        pappl_content_t content;
        const char* job;      // dotforge-dither-method of the job, or null
        const char* printer;  // dotforge-dither-method-default, or null
        const char* choice;
    } cases[] = {
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_AUTO, nullptr, nullptr, "11"},
        {PAPPL_COLOR_MODE_AUTO, PAPPL_CONTENT_GRAPHIC, nullptr, "edge-keeping", "11"},
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_PHOTO, nullptr, nullptr, "3"},
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_PHOTO, nullptr, "edge-keeping", "3"},
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_PHOTO, nullptr, "screen-16x16", "10"},
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_PHOTO, "bayer-8x8", nullptr, "9"},
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_PHOTO, "edge-keeping", nullptr, "11"},
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_AUTO, "burkes", "edge-keeping", "3"},
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_AUTO, nullptr, "floyd-steinberg", "1"},
        {PAPPL_COLOR_MODE_MONOCHROME, PAPPL_CONTENT_TEXT, "burkes", nullptr, "0"},
        {PAPPL_COLOR_MODE_BI_LEVEL, PAPPL_CONTENT_PHOTO, nullptr, nullptr, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.job ? c.job : "-") + " / " + (c.printer ? c.printer : "-") + " content " +
                     std::to_string(c.content) + " colour " + std::to_string(c.colour));
        pappl_pr_options_t job;
        memset(&job, 0, sizeof(job));
        job.print_color_mode = c.colour;
        job.print_content_optimize = c.content;
        cups_option_t vendor = {const_cast<char*>("dotforge-dither-method"), const_cast<char*>(c.job)};
        if (c.job) {
            job.num_vendor = 1;
            job.vendor = &vendor;
        }
        ipp_t* attrs = ippNew();
        if (c.printer)
            ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "dotforge-dither-method-default", nullptr, c.printer);
        DfIppSettings s(*tspl, job, 0, attrs);
        std::string value;
        EXPECT_TRUE(s.Choice("ImageFilter", value));
        EXPECT_EQ(value, c.choice);
        ippDelete(attrs);
    }
}

}  // namespace
