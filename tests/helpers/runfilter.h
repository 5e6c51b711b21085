// Test helper: runs the built dotforge binary the way CUPS runs a filter.
#pragma once

#include <string>
#include <vector>

struct FilterRun {
    std::vector<unsigned char> out;  // standard output (printer bytes)
    std::string err;                 // standard error (status lines)
    int status = -1;                 // exit status, or 128 + signal
    std::string Out() const { return std::string(out.begin(), out.end()); }
};

struct FilterArgs {
    std::vector<std::string> argv;  // argv[1..]; empty means "1 user title 1 <options>"
    std::string options;            // argv[5] when argv is empty
    std::string rasterFile;         // argv[6] when not empty and argv is empty
    bool setPpd = true;
    std::string ppd;                // value of PPD
    std::vector<unsigned char> stdinBytes;
    // Sends SIGTERM once this many bytes of stdin were written (-1: never).
    long sigtermAfterStdinBytes = -1;
    // Runs the filter with standard output closed.
    bool closeStdout = false;
    // Closes the reading end of the filter's standard output at once, as a
    // printer connection that went away.
    bool closeOutputReader = false;
};

FilterRun RunFilter(const FilterArgs& args);

// Standard error lines, in order.
std::vector<std::string> Lines(const std::string& text);

// Path of a PPD fixture in tests/data.
std::string TestPpd(const std::string& name);
