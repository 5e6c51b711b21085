// The built filter run as CUPS runs it: arguments, the PPD variable, raster on
// standard input or named as the seventh argument; standard error lines and
// exit status for every failure path and the page loop.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>

#include "helpers/raster.h"
#include "helpers/runfilter.h"

namespace {

// A copy of the bare fixture PPD with another model number line.
std::string PpdWithModel(const std::string& modelLine) {
    std::ifstream in(TestPpd("settings_none.ppd"));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text = std::regex_replace(text, std::regex("\\*cupsModelNumber: 20\n"), modelLine);
    std::string path = TempPath("model") + ".ppd";
    std::ofstream(path) << text;
    return path;
}

std::vector<std::string> StatusLines(const FilterRun& run) {
    std::vector<std::string> keep;
    for (const std::string& l : Lines(run.err))
        if (l.rfind("DEBUG:", 0) != 0) keep.push_back(l);
    return keep;
}

bool HasLine(const FilterRun& run, const std::string& line) {
    for (const std::string& l : Lines(run.err))
        if (l == line) return true;
    return false;
}

FilterArgs Args(const std::vector<TestPage>& pages, const std::string& ppd = TestPpd("settings_none.ppd")) {
    FilterArgs a;
    a.ppd = ppd;
    a.stdinBytes = RasterBytes(pages);
    return a;
}

TEST(Driver, WrongArgumentCountIsAUsageError) {
    for (size_t n : {4u, 7u}) {  // argc 5 and 8
        FilterArgs a;
        a.ppd = TestPpd("settings_none.ppd");
        for (size_t i = 0; i < n; i++) a.argv.push_back("x");
        FilterRun run = RunFilter(a);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(StatusLines(run), std::vector<std::string>{"ERROR: dotforge job-id user title copies options [file]"});
    }
}

TEST(Driver, MissingRasterFile) {
    FilterArgs a;
    a.ppd = TestPpd("settings_none.ppd");
    a.rasterFile = "/nonexistent/page.ras";
    auto t0 = std::chrono::steady_clock::now();
    FilterRun run = RunFilter(a);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(StatusLines(run), std::vector<std::string>{"ERROR:Unable to open raster file: No such file or directory"});
    EXPECT_GE(ms, 900);
}

TEST(Driver, PpdProblems) {
    struct Case {
        const char* name;
        bool set;
        std::string path;
        const char* debugPrefix;
    };
    std::string bad = TempPath("bad") + ".ppd";
    std::ofstream(bad) << "this is not a PPD\n";
    const Case cases[] = {
        {"unset", false, "", "DEBUG: "},
        {"missing", true, "/nonexistent/x.ppd", "DEBUG: "},
        {"malformed", true, bad, "DEBUG: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FilterArgs a = Args({MakePage(8, 8, 8, 0xFF)});
        a.setPpd = c.set;
        a.ppd = c.path;
        FilterRun run = RunFilter(a);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty());
        std::vector<std::string> lines = Lines(run.err);
        ASSERT_EQ(lines.size(), 2u) << run.err;
        EXPECT_EQ(lines[0], "ERROR: The PPD file could not be opened.");
        EXPECT_TRUE(std::regex_match(lines[1], std::regex("DEBUG: .+ on line [0-9]+\\."))) << lines[1];
    }
}

TEST(Driver, UnknownModelNumbers) {
    for (const char* model : {"*cupsModelNumber: 19\n", "*cupsModelNumber: 127\n", ""}) {
        SCOPED_TRACE(model);
        FilterRun run = RunFilter(Args({MakePage(8, 8, 8, 0xFF)}, PpdWithModel(model)));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(StatusLines(run), std::vector<std::string>{"ERROR: Unknow ModelNumber."});
    }
}

TEST(Driver, EmptyStreamHasNoPages) {
    FilterArgs a;
    a.ppd = TestPpd("settings_none.ppd");
    FilterRun run = RunFilter(a);  // nothing on standard input
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(StatusLines(run), std::vector<std::string>{"ERROR: No pages were found."});
}

std::vector<std::string> PageLines(int from, int to) {
    std::vector<std::string> v;
    for (int p = from; p <= to; p++) {
        v.push_back("PAGE: " + std::to_string(p) + " 1");
        v.push_back("INFO: Starting page " + std::to_string(p) + ".");
        v.push_back("INFO: Finished page " + std::to_string(p) + ".");
    }
    return v;
}

TEST(Driver, ThreePagesFromStdinAndFromFile) {
    std::vector<TestPage> pages = {MakePage(16, 4, 8, 0xFF), MakePage(16, 4, 8, 0x00), MakePage(16, 4, 1, 0xFF)};
    FilterRun run = RunFilter(Args(pages));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(StatusLines(run), PageLines(1, 3));

    std::string file = TempPath("three") + ".ras";
    ASSERT_TRUE(WriteRasterFile(file, pages));
    FilterArgs a;
    a.ppd = TestPpd("settings_none.ppd");
    a.rasterFile = file;
    FilterRun fromFile = RunFilter(a);
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(StatusLines(fromFile), PageLines(1, 3));
    EXPECT_EQ(fromFile.out, run.out);
    unlink(file.c_str());
}

TEST(Driver, SigtermDuringSecondPageFinishesIt) {
    // Big enough pages that the filter blocks on the pipe mid-page.
    std::vector<TestPage> pages(3, MakePage(1000, 400, 8, 0xFF));
    FilterArgs a = Args(pages);
    std::vector<unsigned char> onePage = RasterBytes({pages[0]});
    a.sigtermAfterStdinBytes = static_cast<long>(onePage.size() + onePage.size() / 2);
    FilterRun run = RunFilter(a);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(StatusLines(run), PageLines(1, 2));
}

TEST(Driver, SigtermBeforeTheFirstHeaderEndsWithoutPages) {
    FilterArgs a = Args({MakePage(16, 4, 8, 0xFF), MakePage(16, 4, 8, 0xFF)});
    a.sigtermAfterStdinBytes = 0;
    FilterRun run = RunFilter(a);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(StatusLines(run), std::vector<std::string>{"ERROR: No pages were found."});
}

TEST(Driver, UnsupportedDepthSkipsOnlyThatPage) {
    TestPage twoBit = MakePage(16, 4, 2, 0xFF);
    FilterRun run = RunFilter(Args({twoBit, MakePage(16, 4, 8, 0xFF)}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(StatusLines(run), PageLines(1, 2));
}

TEST(Driver, TruncatedPageIsFinishedWithWhite) {
    TestPage page = MakePage(16, 10, 8, 0x00);
    page.linesToWrite = 4;
    FilterRun run = RunFilter(Args({page}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(StatusLines(run), PageLines(1, 1));
    EXPECT_TRUE(HasLine(run, "DEBUG: Page 1 ended early: 4 of 10 lines arrived.")) << run.err;
}

// Uncompressed lines are read many per call: a stream cut inside a line still
// keeps exactly the lines that arrived whole, for rows as long as the lines
// (read in place) and rows padded past them (read in chunks); compressed
// streams are read a line at a time. Either way the page prints as one whose
// missing lines are white.
TEST(Driver, PageCutInsideALineKeepsTheWholeLines) {
    for (cups_mode_t mode : {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED}) {
        for (unsigned w : {16u, 15u}) {
            TestPage page = MakePage(w, 10, 8, 0);
            for (size_t i = 0; i < page.data.size(); ++i)
                page.data[i] = static_cast<unsigned char>(i * 37 % 251);
            FilterArgs a = Args({page});
            a.stdinBytes = RasterBytes({page}, mode);
            const size_t header = 4 + 1796;  // sync word and one page header
            const size_t cut =
                mode == CUPS_RASTER_WRITE ? 6 * w - w / 2 : (a.stdinBytes.size() - header) * 2 / 5;
            a.stdinBytes.resize(a.stdinBytes.size() - cut);
            FilterRun run = RunFilter(a);
            EXPECT_EQ(run.status, 0) << run.err;
            std::smatch m;
            const std::regex early("DEBUG: Page 1 ended early: ([0-9]+) of 10 lines arrived.");
            ASSERT_TRUE(std::regex_search(run.err, m, early)) << run.err;
            const unsigned got = static_cast<unsigned>(std::stoul(m[1]));
            if (mode == CUPS_RASTER_WRITE) {
                EXPECT_EQ(got, 4u) << w;
            }
            TestPage white = page;
            std::fill(white.data.begin() + got * w, white.data.end(), 0xFF);
            EXPECT_EQ(run.out, RunFilter(Args({white})).out) << "width " << w << " mode " << mode;
        }
    }
}

TEST(Driver, OversizedPageIsRefusedAndTheNextOnePrints) {
    // 48000 x 48000 dots at one bit is 288 MB of pixels, beyond the image
    // limit; the compressed stream keeps the fixture small.
    TestPage huge;
    huge.width = 48000;
    huge.height = 48000;
    huge.bitsPerPixel = 1;
    huge.data.assign(static_cast<size_t>(huge.BytesPerLine()) * huge.height, 0xFF);
    std::vector<TestPage> pages = {huge, MakePage(16, 4, 8, 0xFF)};
    FilterArgs a;
    a.ppd = TestPpd("settings_none.ppd");
    a.stdinBytes = RasterBytes(pages, CUPS_RASTER_WRITE_COMPRESSED);
    huge.data.clear();
    ASSERT_FALSE(a.stdinBytes.empty());
    FilterRun run = RunFilter(a);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> expected = PageLines(1, 2);
    expected.insert(expected.begin() + 2,
                    "ERROR: Page 1 skipped: it is larger than the 256 MiB image limit (48000x48000 dots, 1 bits per "
                    "pixel, 203 dpi).");
    EXPECT_EQ(StatusLines(run), expected);
}

TEST(Driver, ZeroHorizontalResolutionIsRefused) {
    TestPage bad = MakePage(16, 4, 8, 0xFF);
    bad.xdpi = 0;
    FilterRun run = RunFilter(Args({bad, MakePage(16, 4, 8, 0xFF)}));
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> expected = PageLines(1, 2);
    expected.insert(expected.begin() + 2,
                    "ERROR: Page 1 skipped: its horizontal resolution is not positive (16x4 dots, 8 bits per pixel, "
                    "0 dpi).");
    EXPECT_EQ(StatusLines(run), expected);
}

TEST(Driver, RendererPageErrorIsReported) {
    // 524288 dots make rows of 65536 bytes, one more than the ESC/POS raster
    // command can announce.
    FilterRun run = RunFilter(Args({MakePage(524288, 1, 1, 0xFF)}, TestPpd("escpos.ppd")));
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> expected = PageLines(1, 1);
    expected.insert(expected.begin() + 2,
                    "ERROR: Page 1 was not printed: its rows of 65536 bytes do not fit the raster command");
    EXPECT_EQ(StatusLines(run), expected);
}

TEST(Driver, WriteErrorIsReportedOnceAndFailsTheJob) {
    // Standard output closed: every write fails with EBADF.
    FilterArgs a = Args({MakePage(64, 8, 8, 0x00), MakePage(64, 8, 8, 0x00)});
    a.closeStdout = true;
    FilterRun run = RunFilter(a);
    int errors = 0;
    for (const std::string& l : Lines(run.err))
        if (l.rfind("ERROR: Unable to write print data", 0) == 0) errors++;
    if (errors == 0) GTEST_SKIP() << "renderer wrote nothing for this page";
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(run.status, 1);
}

TEST(Driver, PrinterConnectionGoneIsAWriteError) {
    // The job ends at the first page that cannot be sent: one error, and
    // the later pages are not read in and prepared for nobody.
    FilterArgs a = Args({MakePage(64, 8, 8, 0x00), MakePage(64, 8, 8, 0x00), MakePage(64, 8, 8, 0x00)},
                        TestPpd("tspl.ppd"));
    a.closeOutputReader = true;
    FilterRun run = RunFilter(a);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(HasLine(run, "ERROR: Unable to write print data: Broken pipe")) << run.err;
    EXPECT_FALSE(HasLine(run, "PAGE: 2 1")) << run.err;
}

}  // namespace
