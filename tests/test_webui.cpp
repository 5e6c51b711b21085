// The web interface's test label gets the ready media's size. (Its words
// come from the family descriptors, where a keyword cannot lack them.)
#include <gtest/gtest.h>

#include "app/webui.h"

namespace {

TEST(WebUi, TestLabelSizeFollowsTheReadyMedia) {
    struct Case {
        int wHmm, lHmm, dpi, w, h;
    } cases[] = {
        {5000, 3000, 203, 399, 239},     // a 50 x 30 mm label
        {5000, 3000, 300, 590, 354},     // the same at 300 dpi
        {4800, 10000, 203, 383, 799},    // a 100 mm roll page, as PAPPL's raster
        {7200, 300000, 203, 575, 799},   // a 3 m roll: 100 mm are enough
        {4800, 0, 203, 383, 799},        // no length known
        {10400, 30000, 203, 831, 2397},  // the longest label kept whole
    };
    for (const Case& c : cases) {
        int w = 0, h = 0;
        DfAppTestPageSize(c.wHmm, c.lHmm, c.dpi, &w, &h);
        EXPECT_EQ(w, c.w) << c.wHmm << "x" << c.lHmm;
        EXPECT_EQ(h, c.h) << c.wHmm << "x" << c.lHmm;
    }
}

}  // namespace
