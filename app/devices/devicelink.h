// DfAppDeviceLink: the two-way link (base/link.h) a job of a family that
// talks (DfFamily::talk) has over the printer application's device. Sends
// go through the device's write path (the ble: scheme's MTU chunks, the
// serial and socket schemes' bounded waits), one write per chunk with a
// pause between writes; receives read the printer's replies (Bluetooth LE
// notifications, serial and socket reads) until a deadline. A cancel of the
// job ends either at once.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "base/link.h"

// How a device scheme is used by the link.
struct DfLinkPacing {
    size_t chunk = 0;    // largest write (0: as the sender gives it)
    int gapMs = 0;       // at least this long between two writes
    bool reads = false;  // the scheme reads with a bounded wait
};

// The pacing of the scheme of DEVICE_URI: ble: in writes of one ATT payload
// (CHUNK, from the link's MTU) 20 ms apart, as the pocket printers' own
// apps write; serial: and socket: 10 ms apart, whole; others without reads
// (a job there is the one-way stream).
DfLinkPacing DfAppLinkPacing(const char* deviceUri, size_t bleChunk);

class DfAppDeviceLink : public DfLink {
public:
    DfAppDeviceLink(pappl_job_t* job, pappl_device_t* device);
    bool Send(const void* data, size_t len) override;
    int Receive(void* buf, size_t size, int timeoutMs) override;
    std::string Why() const override { return m_why; }

private:
    bool Canceled();
    pappl_job_t* m_job;
    pappl_device_t* m_device;
    bool m_ble;
    DfLinkPacing m_pacing;
    long long m_lastWrite = 0;  // ms, steady clock
    std::string m_why;
};
