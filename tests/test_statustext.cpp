// The `status` line: a separator between the date and the reasons, one full
// stop at the end, no time when none was told. (The web page's reason words
// are checked on the page, in tests/app/app_status.sh.)
#include <gtest/gtest.h>

#include "app/core/statuscmd.h"

namespace {

TEST(StatusText, Line) {
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
}

}  // namespace
