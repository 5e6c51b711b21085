// The printer application's log lines carry their numbers as printf writes
// them (app/pappl/logformat.cpp): PAPPL 1.3.1's own formatter cuts %lld to 32 bits,
// knows no %zu and, as Debian 13 builds it, drops every number's last digit.
#include <gtest/gtest.h>
#include <pappl/pappl.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(AppLog, NumbersAreWrittenAsPrintfWritesThem) {
    char dir[] = "/tmp/dotforge-applog.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/log";
    pappl_system_t* system = papplSystemCreate(PAPPL_SOPTIONS_NONE, "applog", 0, nullptr, nullptr,
                                               path.c_str(), PAPPL_LOGLEVEL_INFO, nullptr, false);
    ASSERT_NE(system, nullptr);

    std::vector<std::string> want;
    char line[512];
    papplLog(system, PAPPL_LOGLEVEL_INFO, "cases follow");
    // Each case is logged and written with snprintf; strings without quotes
    // or control characters, which PAPPL escapes.
#define DF_LOG_CASE(...)                                    \
    do {                                                    \
        snprintf(line, sizeof(line), __VA_ARGS__);          \
        want.emplace_back(line);                            \
        papplLog(system, PAPPL_LOGLEVEL_INFO, __VA_ARGS__); \
    } while (0)
    DF_LOG_CASE("Test page %dx%d dots at %d dpi for %s.", 799, 1198, 203, "om_label-100x150_100x150mm");
    DF_LOG_CASE("zero %d, negative %d, unsigned %u, long %ld", 0, -7, 4000000000u, -9012L);
    DF_LOG_CASE("long long %lld, size %zu, hex %x %X %#o", 123456789012LL, static_cast<size_t>(77), 255, 255,
                8);
    DF_LOG_CASE("width [%5d] [%-4d] [%04d] [%*d] [%.3d]", 42, 3, 9, 6, 12, 5);
    DF_LOG_CASE("floats %.2f %e %g", 3.14159, 1.5, 0.25);
    DF_LOG_CASE("percent %% and %c, a char %c, strings %s and %s", '%', 'Q', "a%db", "100%");
    DF_LOG_CASE("no conversion at all");
#undef DF_LOG_CASE
    papplSystemDelete(system);

    std::ifstream in(path);
    std::vector<std::string> got;
    for (std::string l; std::getline(in, l);) {
        // "I [2026-01-01T00:00:00.000Z] message"
        const size_t end = l.find("] ");
        if (l.compare(0, 3, "I [") == 0 && end != std::string::npos) got.push_back(l.substr(end + 2));
    }
    size_t first = 0;
    while (first < got.size() && got[first] != "cases follow") first++;
    ASSERT_LE(first + 1 + want.size(), got.size()) << "the log has too few lines";
    for (size_t i = 0; i < want.size(); i++) EXPECT_EQ(got[first + 1 + i], want[i]);
    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace
