// The filter's PrinterStatus option: what it asks through the job's output,
// what it reads on the back channel and the STATE: lines it reports, against
// the virtual printer's answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <cups/ppd.h>

#include "filter/printerstatus.h"
#include "tools/preview/vprinter.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

// The job's output: every query is answered on the back channel's pipe at
// once, from the status of the moment.
class AnsweringSink : public DfSink {
public:
    explicit AnsweringSink(int backWrite) : m_back(backWrite) {}
    bool Write(const void* data, size_t len) override {
        const uint8_t* d = static_cast<const uint8_t*>(data);
        written.insert(written.end(), d, d + len);
        queries++;
        const std::vector<uint8_t> a = AnswerStatusQuery(d, len, status);
        if (!a.empty() && write(m_back, a.data(), a.size()) != static_cast<ssize_t>(a.size())) return false;
        return true;
    }
    VirtualStatus status;
    std::vector<uint8_t> written;
    int queries = 0;

private:
    int m_back;
};

ppd_file_t* OpenPpd(const char* driver, const char* choice) {
    const std::string path = std::string(DF_BUILD_DIR) + "/ppd/dotforge-" + driver + ".ppd";
    ppd_file_t* ppd = ppdOpenFile(path.c_str());
    if (!ppd) return nullptr;
    ppdMarkDefaults(ppd);
    if (choice) ppdMarkOption(ppd, "PrinterStatus", choice);
    return ppd;
}

// The first answer of a job clears every reason the printer does not
// report: the STATE: line for all eight but those named.
std::string ClearedBut(const std::vector<std::string>& set) {
    static const char* const kAll[] = {
        "media-empty-error",         "media-low-report", "media-jam-error", "cover-open-error",
        "marker-supply-empty-error", "offline-report",   "other-warning",   "other-error"};
    std::string line;
    for (const char* k : kAll) {
        bool skip = false;
        for (const std::string& s : set) skip = skip || s == k;
        if (skip) continue;
        line += (line.empty() ? "STATE: -" : ",") + std::string(k);
    }
    return line + "\n";
}

TEST(FilterPrinterStatus, StateLines) {
    const std::string escposId = "DEBUG: PrinterStatus: model \"virtual printer\", firmware \"1.0\".\n";
    const struct {
        const char* name;
        const char* driver;
        int model;
        const char* choice;               // nullptr: the PPD's default
        std::vector<std::string> checks;  // the printer's status at each check
        std::string report;               // what the filter says, in order
        int queries;
    } cases[] = {
        // clang-format off
        {"default is Off", "escpos-58", 21, nullptr, {"paper-out", "paper-out"}, "", 0},
        {"Off", "escpos-58", 21, "Off", {"paper-out"}, "", 0},
        {"paper out, then back", "escpos-58", 21, "On", {"paper-out", "paper-out", "ready"},
         escposId + ClearedBut({"media-empty-error"}) + "STATE: +media-empty-error\nSTATE: -media-empty-error\n",
         6 + 4 + 4},
        {"label printer", "tspl-203", 20, "On", {"cover-open ribbon-out", "ribbon-out jam"},
         ClearedBut({"cover-open-error", "marker-supply-empty-error"}) +
         "STATE: +cover-open-error,marker-supply-empty-error\nSTATE: -cover-open-error\nSTATE: +media-jam-error\n", 2},
        {"CPCL", "cpcl-203", 22, "On", {"paper-low", "ready"},
         ClearedBut({"media-low-report"}) + "STATE: +media-low-report\nSTATE: -media-low-report\n", 4},
        {"overheat", "peripage-57", 24, "On", {"overheat battery=80"},
         "DEBUG: PrinterStatus: model \"virtual printer\", firmware \"V1.0\".\n" + ClearedBut({"other-warning"}) +
         "STATE: +other-warning\nDEBUG: PrinterStatus: battery 80 %.\n", 4},
        {"battery", "paperang-57", 23, "On", {"battery=55"},
         "DEBUG: PrinterStatus: model \"\", firmware \"1.0.0\".\n" + ClearedBut({}) +
         "DEBUG: PrinterStatus: battery 55 %.\n", 2},
        {"silent: asked once", "escpos-58", 21, "On", {"silent", "paper-out"},
         "DEBUG: PrinterStatus: no answer; the printer's status is unknown and not asked again.\n", 1},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ppd_file_t* ppd = OpenPpd(c.driver, c.choice);
        ASSERT_NE(ppd, nullptr);
        int back[2];
        ASSERT_EQ(pipe(back), 0);
        AnsweringSink sink(back[1]);
        char* text = nullptr;
        size_t size = 0;
        FILE* report = open_memstream(&text, &size);
        {
            DfFilterStatus status(c.model, ppd, &sink, back[0], report);
            status.waitMs = status.firstWaitMs = 50;
            for (const std::string& s : c.checks) {
                std::string bad;
                ASSERT_TRUE(ParseVirtualStatus(s, &sink.status, &bad)) << bad;
                status.Check();
            }
        }
        fclose(report);
        EXPECT_EQ(std::string(text, size), c.report);
        EXPECT_EQ(sink.queries, c.queries);
        free(text);
        close(back[0]);
        close(back[1]);
        ppdClose(ppd);
    }
}

TEST(FilterPrinterStatus, NoBackChannel) {
    ppd_file_t* ppd = OpenPpd("escpos-58", "On");
    ASSERT_NE(ppd, nullptr);
    AnsweringSink sink(-1);
    char* text = nullptr;
    size_t size = 0;
    FILE* report = open_memstream(&text, &size);
    DfFilterStatus status(21, ppd, &sink, 1000, report);
    status.Check();
    fclose(report);
    EXPECT_FALSE(status.Enabled());
    EXPECT_EQ(sink.queries, 0);
    EXPECT_NE(std::string(text, size).find("no back channel"), std::string::npos);
    free(text);
    ppdClose(ppd);
}

}  // namespace
