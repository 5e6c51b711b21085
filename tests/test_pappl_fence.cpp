// The PAPPL fence: the relocation check against a stand-in library built two
// ways (through the PLT, and -Bsymbolic as an LTO or -fno-semantic-
// interposition PAPPL would be), damaged files, the check against the
// libpappl this test runs with, and the table against the symbols the built
// dotforge-app defines or calls.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/pappl/pappl_fence.h"

namespace {

TEST(PapplFence, Relocations) {
    const std::vector<std::string> names = {"_dfStubCalled", "_dfStubTaken", "_dfStubUnused",
                                            "_dfStubMissing"};
    struct Case {
        const char* library;
        std::vector<std::string> direct;
    } cases[] = {
        {DF_FENCE_STUB_PLT, {"_dfStubUnused", "_dfStubMissing"}},
        {DF_FENCE_STUB_SYMBOLIC, names},  // every guard would be skipped
    };
    for (const Case& c : cases) {
        std::vector<std::string> direct;
        std::string error;
        EXPECT_TRUE(DfFenceUnrelocated(c.library, names, direct, error)) << error;
        EXPECT_EQ(direct, c.direct) << c.library;
    }
}

TEST(PapplFence, UnreadableLibraries) {
    // An ELF header whose section headers lie past the end of the file.
    std::ifstream in(DF_FENCE_STUB_PLT, std::ios::binary);
    std::string head(std::istreambuf_iterator<char>(in), {});
    head.resize(256);
    const std::string cut = testing::TempDir() + "fence_cut.so";
    std::ofstream(cut, std::ios::binary) << head;
    const std::string text = testing::TempDir() + "fence_text.so";
    std::ofstream(text) << "INPUT(libpappl.so.1)\n";
    for (const std::string& path :
         {std::string("/nonexistent/libpappl.so.1"), cut, text, std::string("/tmp")}) {
        std::vector<std::string> direct;
        std::string error;
        EXPECT_FALSE(DfFenceUnrelocated(path.c_str(), {"_papplJobProcess"}, direct, error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    std::remove(cut.c_str());
    std::remove(text.c_str());
}

// The libpappl this program runs with (Debian's 1.3.1) passes; one calling
// its internals directly is refused, each guard named.
TEST(PapplFence, StartCheck) {
    std::string error;
    EXPECT_TRUE(DfFenceCheck(error)) << error;
    EXPECT_FALSE(DfFenceCheck(error, DF_FENCE_STUB_SYMBOLIC));
    EXPECT_NE(error.find(
                  "libpappl calls _papplJobProcess directly (no dynamic relocation in " DF_FENCE_STUB_SYMBOLIC
                  "): the single start of a job"),
              std::string::npos)
        << error;
    EXPECT_NE(error.find("libpappl calls _papplClientIsAuthorizedForGroup directly"), std::string::npos);
    EXPECT_EQ(error.find("_papplPrinterCheckJobs"), std::string::npos)
        << "a function only called needs no relocation";
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// dotforge-app itself: it starts with the libpappl installed, and refuses
// to when the first library to define PAPPL's functions calls them directly.
TEST(PapplFence, AppRefusesToStart) {
    const std::string app = "'" DF_APP_PATH "' --help 2>&1; echo rc=$?";
    const std::string fine = Output(app);
    EXPECT_NE(fine.find("rc=0"), std::string::npos) << fine;
    const std::string refused = Output("LD_PRELOAD='" DF_FENCE_STUB_SYMBOLIC
                                       "' ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" " +
                                       app);
    EXPECT_NE(refused.find("dotforge-app: libpappl calls _papplClientRun directly"), std::string::npos)
        << refused;
    EXPECT_NE(refused.find("dotforge-app: not started"), std::string::npos) << refused;
    EXPECT_NE(refused.find("rc=1"), std::string::npos) << refused;
}

// Every PAPPL, libcups, avahi or HTTP function dotforge-app defines, and
// every private PAPPL or libcups function it calls, is in the table.
TEST(PapplFence, TableNamesEverySymbol) {
    std::set<std::string> table;
    for (size_t i = 0; i < kDfFenceSymbolCount; i++) table.insert(kDfFenceSymbols[i].name);
    const std::string defined = Output("nm -D --defined-only '" DF_APP_PATH "'");
    const std::string called = Output("nm -D --undefined-only '" DF_APP_PATH "'");
    ASSERT_NE(defined.find("papplSystemDelete"), std::string::npos) << "nm did not run";
    auto check = [&](const std::string& listing, bool privateOnly) {
        size_t at = 0;
        for (size_t end; (end = listing.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = listing.substr(at, end - at);
            const std::string name = line.substr(line.rfind(' ') + 1);
            const bool ours = privateOnly ? name.rfind("_pappl", 0) == 0 || name.rfind("_cups", 0) == 0
                                          : name.find("pappl") <= 1 || name.find("cups") <= 1 ||
                                                name.rfind("ipp", 0) == 0 || name.rfind("http", 0) == 0 ||
                                                name.rfind("avahi_", 0) == 0;
            if (ours && (privateOnly || line.find(" T ") != std::string::npos)) {
                EXPECT_TRUE(table.count(name)) << name;
            }
        }
    };
    check(defined, false);
    check(called, true);
}

}  // namespace
