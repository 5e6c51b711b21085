// DfRunStatusCheck: runs a family's status steps (printers/status.h) over a
// transport the caller provides, with a bounded wait for every reply. The
// filter's back channel and the printer application's device both use it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "printers/status.h"

class DfStatusTransport {
public:
    virtual ~DfStatusTransport() {}
    virtual bool Write(const uint8_t* data, size_t len) = 0;
    // Reads what arrives within timeoutMs (0: only what is there already).
    // Returns the bytes read, 0 when nothing came, -1 when the link failed.
    virtual long Read(uint8_t* buffer, size_t size, int timeoutMs) = 0;
};

enum class DfStatusResult {
    Answered,  // the required steps were answered; *status holds them
    Unknown,   // a required step had no answer in time
    Garbled,   // bytes came that are no reply (noise, another kind of printer)
    Failed,    // the link failed
};

struct DfStatusOptions {
    int waitMs = 300;  // for the first byte of each reply
    int quietMs = 60;  // after the last byte, for a reply with no end mark
    // The whole check: a printer that trickles bytes which never make a
    // reply holds nobody longer than this.
    int totalMs = 2000;
    bool identity = false;  // also ask model and firmware
    // In and out: optional steps (bit per step index) this printer left
    // unanswered before; they are not asked again.
    unsigned* skip = nullptr;
};

DfStatusResult DfRunStatusCheck(int model, DfStatusTransport& transport, const DfStatusOptions& options,
                                DfPrinterStatus* status);
