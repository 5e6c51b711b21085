// Log output: vsyslog, or a replaceable sink for tests.
#include "base/log.h"

#include <unistd.h>

#include <cstdio>

static DfLogSink g_sink = nullptr;

// Where no system logger listens, the C library spends a socket, a failed
// connect and a close on every line (some twenty a page) and drops it all
// the same; whether its socket exists is looked at once per process.
static bool LoggerListens() {
#ifdef _PATH_LOG
    static const bool listens = access(_PATH_LOG, F_OK) == 0;
    return listens;
#else
    return true;
#endif
}

void DfSetLogSink(DfLogSink sink) { g_sink = sink; }

void DfVLog(int priority, const char* format, va_list ap) {
    if (!g_sink) {
        if (LoggerListens()) vsyslog(priority, format, ap);
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
