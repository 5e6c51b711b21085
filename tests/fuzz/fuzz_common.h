// Shared by the fuzz targets: the property check that stops a run with the
// failed condition, and a log sink that formats every line and drops it.
#pragma once

#include <cups/ppd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/sink.h"

#define FUZZ_CHECK(cond)                                                                \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                    \
        }                                                                               \
    } while (0)

// The renderers log through DfLog; the fuzz targets keep the formatting (it
// reads the settings) but not the syslog traffic.
void FuzzQuietLog();

// Opens len bytes of PPD text through libcups's file layer. libcups reads
// PPDs through a file descriptor (a memory stream has none), so the text
// goes into an anonymous memory file; nothing touches the file system.
ppd_file_t* FuzzOpenPpd(const char* text, size_t len);

// Keeps every printer byte a target's job sends.
class FuzzMemorySink : public DfSink {
public:
    std::vector<uint8_t> bytes;
    bool Write(const void* data, size_t len) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + len);
        return true;
    }
};
