// The printer's state as text: `status` puts a separator between the date and
// the reasons and one full stop at the end, leaves out a time it was not
// told; the web page's reason words lose their own full stop.
#include <gtest/gtest.h>

#include "app/statustext.h"

namespace {

TEST(StatusText, LineAndReasonWords) {
    struct Case {
        const char* state;
        time_t since;
        std::vector<std::string> reasons;
        const char* line;
    } cases[] = {
        {"idle", 1765182144, {"none"}, "Running, idle since Mon, 08 Dec 2025 08:22:24 GMT."},
        {"idle",
         1765182144,
         {"media-empty-error"},
         "Running, idle since Mon, 08 Dec 2025 08:22:24 GMT; media-empty-error."},
        {"stopped",
         1765182144,
         {"cover-open-error", "media-empty-error"},
         "Running, stopped since Mon, 08 Dec 2025 08:22:24 GMT; cover-open-error, media-empty-error."},
        {"processing", 0, {"none"}, "Running, processing."},  // no time told: no "since 1970"
        {"idle", 0, {"media-low-report"}, "Running, idle; media-low-report."},
    };
    for (const Case& c : cases) EXPECT_EQ(DfAppStatusLine(c.state, c.since, c.reasons), c.line);

    const struct {
        const char *key, *words, *want;
    } words[] = {
        {"printer-state-reasons.cover-open", "Cover open.", "Cover open"},
        {"printer-state-reasons.media-empty", "Out of paper", "Out of paper"},
        {"printer-state.3", "Idle.", "Idle."},  // only the reasons' words change
        {"printer-state-reasons.other", "", ""},
    };
    for (const auto& w : words) EXPECT_EQ(DfAppReasonWords(w.key, w.words), w.want) << w.key;
}

}  // namespace
