// The debug log: everything goes to syslog(3) unless a test has installed a
// sink of its own.
#pragma once

#include <cstdarg>
#include <syslog.h>

using DfLogSink = void (*)(int priority, const char* message);

// Installs a sink that receives every formatted log line instead of syslog;
// nullptr restores syslog.
void DfSetLogSink(DfLogSink sink);

void DfVLog(int priority, const char* format, va_list ap);
void DfLog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
