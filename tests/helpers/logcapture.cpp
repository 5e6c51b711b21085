// Test helper: log capture through DfSetLogSink.
#include "helpers/logcapture.h"

#include "base/log.h"

static std::vector<LogLine> g_lines;

static void Sink(int priority, const char* message) { g_lines.push_back({priority, message}); }

LogCapture::LogCapture() {
    g_lines.clear();
    DfSetLogSink(Sink);
}
LogCapture::~LogCapture() { DfSetLogSink(nullptr); }
const std::vector<LogLine>& LogCapture::Lines() const { return g_lines; }
std::vector<std::string> LogCapture::Texts() const {
    std::vector<std::string> t;
    for (auto& l : g_lines) t.push_back(l.text);
    return t;
}
bool LogCapture::Contains(const std::string& text) const {
    for (auto& l : g_lines)
        if (l.text == text) return true;
    return false;
}
int LogCapture::Count(const std::string& prefix) const {
    int n = 0;
    for (auto& l : g_lines)
        if (l.text.compare(0, prefix.size(), prefix) == 0) n++;
    return n;
}
void LogCapture::Clear() { g_lines.clear(); }
