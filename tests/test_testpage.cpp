// The printer application's test label: drawn at every driver's size, a
// frame at the head's edges, 16 grey steps, and a PNG that reads back.
#include <gtest/gtest.h>

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <string>

#include "app/core/testpage.h"

namespace {

TEST(TestPage, DrawsAtEverySize) {
    struct Case {
        int w, h, dpi;
    } cases[] = {{400, 240, 203}, {591, 354, 300},  {384, 400, 203},
                 {576, 800, 203}, {812, 1218, 203}, {40, 40, 203}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        DfTestPage p;
        ASSERT_TRUE(DfDrawTestPage(p, c.w, c.h, c.dpi, "office-labels", "TSPL 203 dpi"));
        ASSERT_EQ(p.pixels.size(), static_cast<size_t>(c.w) * c.h);
        auto at = [&](int x, int y) { return p.pixels[static_cast<size_t>(y) * c.w + x]; };
        for (auto [x, y] : {std::make_pair(0, 0), std::make_pair(c.w - 1, 0), std::make_pair(0, c.h - 1),
                            std::make_pair(c.w - 1, c.h - 1)})
            EXPECT_EQ(at(x, y), 0) << x << "," << y;
        bool seen[256] = {};
        for (uint8_t v : p.pixels) seen[v] = true;
        if (c.h >= 200) {
            EXPECT_EQ(std::count(seen, seen + 256, true), 16);  // the ramp: 255, 238 ... 0
        }
    }
    DfTestPage p;
    EXPECT_FALSE(DfDrawTestPage(p, 0, 100, 203, "x", "y"));
    EXPECT_FALSE(DfDrawTestPage(p, 100, 100, 0, "x", "y"));
    EXPECT_FALSE(DfDrawTestPage(p, 100000, 100000, 203, "x", "y"));
}

TEST(TestPage, PngReadsBack) {
    DfTestPage p;
    ASSERT_TRUE(DfDrawTestPage(p, 400, 240, 203, "name", "driver"));
    char path[] = "/tmp/dftestpageXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(DfWriteTestPagePng(p, 203, path));
    png_image img;
    memset(&img, 0, sizeof(img));
    img.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&img, path));
    img.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> back(PNG_IMAGE_SIZE(img));
    ASSERT_TRUE(png_image_finish_read(&img, nullptr, back.data(), 0, nullptr));
    unlink(path);
    EXPECT_EQ(img.width, 400u);
    EXPECT_EQ(img.height, 240u);
    EXPECT_EQ(back, p.pixels);
    EXPECT_FALSE(DfWriteTestPagePng(p, 203, "/nonexistent-dir/page.png"));
}

}  // namespace
