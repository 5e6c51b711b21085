// Log output: vsyslog, or a replaceable sink for tests.
#include "base/log.h"

#include <cstdio>

static DfLogSink g_sink = nullptr;

void DfSetLogSink(DfLogSink sink) { g_sink = sink; }

void DfVLog(int priority, const char* format, va_list ap) {
    if (!g_sink) {
        vsyslog(priority, format, ap);
        return;
    }
    char line[8192];
    vsnprintf(line, sizeof(line), format, ap);
    g_sink(priority, line);
}

void DfLog(int priority, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    DfVLog(priority, format, ap);
    va_end(ap);
}
