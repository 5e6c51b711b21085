// The web interface's test label gets the ready media's size. (Its words
// come from the family descriptors, where a keyword cannot lack them.)
#include <gtest/gtest.h>

#include "app/core/testlabel.h"

namespace {

TEST(WebUi, TestLabelSizeFollowsTheReadyMedia) {
    // Sizes rounded as the document filter rounds the page (399.6 -> 400),
    // so the label fills it; the text on the label says the same size.
    struct Case {
        int wHmm, lHmm, dpi;
        bool roll;
        int w, h;
    } cases[] = {
        {5000, 3000, 203, false, 400, 240},     // a 50 x 30 mm label
        {5000, 3000, 300, false, 591, 354},     // the same at 300 dpi
        {10000, 15000, 203, false, 799, 1199},  // 100 x 150 mm, printed 799 x 1199
        {4800, 10000, 203, true, 384, 799},     // a 100 mm roll page
        {4800, 20000, 203, true, 384, 799},     // the 58 mm receipt's 200 mm page: 100 mm
        {7200, 300000, 203, false, 575, 799},   // a 3 m page: 100 mm are enough
        {4800, 0, 203, false, 384, 799},        // no length known
        {10400, 30000, 203, false, 831, 2398},  // the longest label kept whole
    };
    for (const Case& c : cases) {
        int w = 0, h = 0;
        DfAppTestPageSize(c.wHmm, c.lHmm, c.dpi, c.roll, &w, &h);
        EXPECT_EQ(w, c.w) << c.wHmm << "x" << c.lHmm;
        EXPECT_EQ(h, c.h) << c.wHmm << "x" << c.lHmm;
    }
}

}  // namespace
