// The web interface's words: every vendor attribute, keyword value and
// named media size of every driver has an English string (a value added to
// the tables without one would show as a raw keyword on the printer page),
// the strings file parses, and test labels get the ready media's size.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <string>

#include "app/models.h"
#include "app/vendor.h"
#include "app/webui.h"

namespace {

std::map<std::string, std::string> Strings() {
    std::map<std::string, std::string> out;
    const std::string text = DfAppEnglishStrings();
    const std::regex line(R"re(^"([^"]+)" = "((?:[^"\\]|\\.)*)";$)re");
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string l = text.substr(pos, end - pos);
        pos = end + 1;
        if (l.empty()) continue;
        std::smatch m;
        EXPECT_TRUE(std::regex_match(l, m, line)) << "not a strings line: " << l;
        if (m.size() == 3) {
            EXPECT_TRUE(out.emplace(m[1], m[2]).second) << "twice: " << m[1];
        }
    }
    return out;
}

TEST(WebUi, EveryVendorAttributeAndKeywordHasWords) {
    const auto strings = Strings();
    for (int model = 20; model <= 24; model++) {
        const DfVendorAttr* list[32];
        const size_t n = DfVendorAttrs(model, list, 32);
        ASSERT_GT(n, 0u);
        for (size_t i = 0; i < n; i++) {
            const DfVendorAttr& a = *list[i];
            SCOPED_TRACE(std::to_string(model) + " " + a.name);
            auto name = strings.find(a.name);
            ASSERT_NE(name, strings.end());
            EXPECT_EQ(name->second.find("dotforge-"), std::string::npos) << name->second;
            if (a.integer) continue;  // PAPPL shows numbers as they are
            for (const DfVendorValue& v : a.values) {
                EXPECT_TRUE(strings.count(std::string(a.name) + "." + v.ipp)) << v.ipp;
            }
        }
    }
}

TEST(WebUi, EveryNamedMediaSizeHasWords) {
    const auto strings = Strings();
    size_t count;
    const DfAppModel* models = DfAppModels(&count);
    for (size_t i = 0; i < count; i++) {
        for (const std::string& media : models[i].media) {
            if (!media.compare(0, 7, "custom_")) continue;
            EXPECT_TRUE(strings.count(std::string("media.") + media)) << models[i].driver << " " << media;
        }
    }
}

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
