// DfLink: a two-way connection to a printer, for the families whose printers
// answer back: a conversation where each packet waits for its reply, or a
// stream the printer pauses and resumes with flow-control messages. The
// printer application gives one over its device (Bluetooth LE or serial);
// tests give scripted ones. One-way front ends (the CUPS filter) have none
// and write the renderer's stream as it is.
#pragma once

#include <cstddef>
#include <string>

class DfLink {
public:
    virtual ~DfLink() {}
    // Sends all len bytes (the link splits them to its packet size and keeps
    // its own pacing). False when the link failed or the job was cancelled;
    // Why() then says why.
    virtual bool Send(const void* data, size_t len) = 0;
    // Waits up to timeoutMs for bytes from the printer (replies and
    // notifications, in arrival order, possibly split or run together).
    // Returns the count read into buf, 0 when none came in time, -1 when the
    // link failed or the job was cancelled (Why() says why).
    virtual int Receive(void* buf, size_t size, int timeoutMs) = 0;
    virtual std::string Why() const = 0;
};
