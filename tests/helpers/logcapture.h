// Test helper: collects syslog lines through the log seam while in scope.
#pragma once

#include <string>
#include <vector>

struct LogLine {
    int priority;
    std::string text;
};

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const std::vector<LogLine>& Lines() const;
    std::vector<std::string> Texts() const;
    bool Contains(const std::string& text) const;
    int Count(const std::string& prefix) const;
    void Clear();
};
