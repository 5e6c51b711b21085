// The IPP label mode, cut and number attributes land on the PPD choices the
// renderers read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/ippsettings.h"
#include "app/models.h"

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
                // Whole numbers in range are taken as the filter takes them.
                {"dotforge-threshold", "140", "Threshold", "140"},
                {"dotforge-feed-offset", "33", "FeedOffset", "33"},
                {"dotforge-threshold", "226", "Threshold", "175"}};
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

}  // namespace
