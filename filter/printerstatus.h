// DfFilterStatus: the filter's PrinterStatus option. With it On, the printer
// is asked for its status through the job's own output before the job and
// after each page, its answers read on CUPS's back channel (file descriptor
// 3, which the socket, usb and serial back ends feed), each within a
// bounded wait; what changed goes to CUPS as "STATE: +media-empty-error" /
// "STATE: -media-empty-error" lines. Off (the default) asks nothing and
// writes nothing.
#pragma once

#include <cstdio>

#include <cups/ppd.h>

#include "base/sink.h"
#include "printers/status.h"

class DfFilterStatus {
public:
    // Reads the PrinterStatus choice marked in the PPD (absent: Off).
    DfFilterStatus(int model, ppd_file_t* ppd, DfSink* out, int backChannel = 3, FILE* report = stderr);

    bool Enabled() const { return m_enabled; }
    // One status check; reports what changed since the last. A printer that
    // leaves a query unanswered is not asked again during this job.
    void Check();

    int waitMs = 300;        // for each reply
    int firstWaitMs = 1000;  // for the job's first

private:
    int m_model;
    DfSink* m_out;
    int m_back;
    FILE* m_report;
    bool m_enabled = false;
    bool m_identityAsked = false;
    unsigned m_skip = 0;
    unsigned m_reported = 0;  // conditions announced with STATE: +
    bool m_first = true;      // no answer yet in this job
};
