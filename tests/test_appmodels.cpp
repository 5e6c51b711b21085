// The IPP label mode, cut and number attributes land on the PPD choices the
// renderers read; the phones' sizes a driver lists beside its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <string>

#include "app/core/ippsettings.h"
#include "app/core/loadedmedium.h"
#include "app/core/models.h"
#include "render/settings.h"

namespace {

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
                {"dotforge-cut-type", "partial", "CutType", "Partial"},
                {"dotforge-threshold", "226", "Threshold", "175"}};  // out of range
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

// Darkness levels from printer-darkness-configured plus print-darkness, at
// the ends of the range the lightest and darkest level; media sensing from
// media-col's tracking and type.
TEST(AppModels, DarknessAndMediaOntoPpdChoices) {
    struct {
        const char* driver;
        int configured, job;
        pappl_media_tracking_t tracking;
        const char* type;
        const char* darkness;
        const char* media;
    } cases[] = {
        {"tspl-203", 50, 0, PAPPL_MEDIA_TRACKING_GAP, "labels", "Default", "Gap"},
        {"tspl-203", 50, 100, PAPPL_MEDIA_TRACKING_MARK, "labels", "15", "BLine"},
        {"tspl-203", 0, -100, PAPPL_MEDIA_TRACKING_CONTINUOUS, "continuous", "0", "Continuous"},
        {"tspl-203", 80, 0, PAPPL_MEDIA_TRACKING_WEB, "labels", "12", "Gap"},  // no web choice: the default
        {"peripage-57", 100, 100, PAPPL_MEDIA_TRACKING_CONTINUOUS, "recording", "5", "Recording"},
        {"peripage-57", 30, 0, PAPPL_MEDIA_TRACKING_GAP, "labels", "2", "Gap"},
        {"paperang-57", 30, 0, PAPPL_MEDIA_TRACKING_MARK, "labels", nullptr, "BLine"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.driver) + " " + std::to_string(c.configured) + "+" +
                     std::to_string(c.job));
        pappl_pr_options_t job;
        memset(&job, 0, sizeof(job));
        job.darkness_configured = c.configured;
        job.print_darkness = c.job;
        job.media.tracking = c.tracking;
        strcpy(job.media.type, c.type);
        DfIppSettings s(*DfAppFindModel(c.driver), job, 0, nullptr);
        std::string value;
        EXPECT_EQ(s.Choice("Darkness", value), c.darkness != nullptr);
        if (c.darkness) {
            EXPECT_EQ(value, c.darkness);
        }
        ASSERT_TRUE(s.Choice("zeMediaTracking", value));
        EXPECT_EQ(value, c.media);
    }
}

// Every family's media sensing choices carry the IPP keyword the app finds
// them by: a job's tracking reaches the renderer as the same kind of medium.
TEST(AppModels, EveryTrackingReachesItsMedium) {
    const struct {
        pappl_media_tracking_t tracking;
        DfMediaTracking medium;
    } kinds[] = {{PAPPL_MEDIA_TRACKING_GAP, DfMediaTracking::Gap},
                 {PAPPL_MEDIA_TRACKING_MARK, DfMediaTracking::BLine},
                 {PAPPL_MEDIA_TRACKING_CONTINUOUS, DfMediaTracking::Continuous}};
    size_t count;
    const DfAppModel* models = DfAppModels(&count);
    for (size_t i = 0; i < count; i++) {
        const DfOption* option = DfFindOption(*models[i].family, "zeMediaTracking");
        for (size_t k = 0; option && k < sizeof(kinds) / sizeof(kinds[0]); k++) {
            bool offered = false;
            DfMediaTracking m;
            for (const DfChoice& c : option->choices)
                offered |= DfChoiceValue(c.name, m) && m == kinds[k].medium;
            if (!offered) continue;
            SCOPED_TRACE(std::string(models[i].driver) + " " + DfChoiceName(kinds[k].medium));
            pappl_pr_options_t job;
            memset(&job, 0, sizeof(job));
            job.media.tracking = kinds[k].tracking;
            DfIppSettings s(models[i], job, 0, nullptr);
            std::string value;
            ASSERT_TRUE(s.Choice("zeMediaTracking", value));
            EXPECT_TRUE(DfChoiceValue(value, m) && m == kinds[k].medium) << value;
        }
    }
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
            ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "dotforge-dither-method-default", nullptr,
                         c.printer);
        DfIppSettings s(*tspl, job, 0, attrs);
        std::string value;
        EXPECT_TRUE(s.Choice("ImageFilter", value));
        EXPECT_EQ(value, c.choice);
        ippDelete(attrs);
    }
}

// Every listed phone size is a photo or card size, none is the model's own,
// and a label printer lists only sizes of its labels' shapes.
TEST(AppModels, ClientSizesAreCloseToTheMedia) {
    struct Case {
        const char* driver;
        std::vector<std::string> listed, left;
    } cases[] = {
        {"tspl-203",
         {"om_card_54x86mm", "na_index-3x5_3x5in", "jpn_hagaki_100x148mm", "oe_square-photo_4x4in"},
         {"na_index-4x6_4x6in", "na_letter_8.5x11in", "iso_a4_210x297mm", "na_5x7_5x7in",
          "iso_dl_110x220mm"}},
        {"escpos-58",
         {"na_index-4x6_4x6in", "om_card_54x86mm", "iso_a6_105x148mm", "iso_a8_52x74mm"},
         {"na_letter_8.5x11in", "iso_a4_210x297mm", "iso_a5_148x210mm"}},
        {"paperang-57", {"na_index-4x6_4x6in", "om_card_54x86mm"}, {"iso_a4_210x297mm"}},
    };
    for (const Case& c : cases) {
        const DfAppModel* model = DfAppFindModel(c.driver);
        ASSERT_NE(model, nullptr) << c.driver;
        const std::vector<std::string>& sizes = DfAppClientSizes(*model);
        auto has = [&sizes](const std::string& n) {
            return std::find(sizes.begin(), sizes.end(), n) != sizes.end();
        };
        for (const std::string& n : c.listed) EXPECT_TRUE(has(n)) << c.driver << " lacks " << n;
        for (const std::string& n : c.left) EXPECT_FALSE(has(n)) << c.driver << " lists " << n;
        EXPECT_EQ(&sizes, &DfAppClientSizes(*model)) << "made once: PAPPL keeps the names";
    }
}

}  // namespace
