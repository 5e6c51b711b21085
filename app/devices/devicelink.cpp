// The two-way link over an app device: paced, flushed writes and reads with
// a deadline, both polled in tenths of a second so that a cancel is seen.
#include "app/devices/devicelink.h"

#include <unistd.h>

#include <chrono>
#include <cstring>

#include "app/devices/bledevice.h"
#include "app/devices/devicewrite.h"

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool IsBle(const char* uri) {
    return uri && !strncmp(uri, "ble://", 6);
}

}  // namespace

DfLinkPacing DfAppLinkPacing(const char* uri, size_t bleChunk) {
    DfLinkPacing p;
    if (IsBle(uri)) {
        p.chunk = bleChunk;
        p.gapMs = 20;
        p.reads = true;
    } else if (uri && (!strncmp(uri, "serial:", 7) || !strncmp(uri, "socket://", 9))) {
        p.gapMs = 10;
        p.reads = true;
    }
    return p;
}

DfAppDeviceLink::DfAppDeviceLink(pappl_job_t* job, pappl_device_t* device) : m_job(job), m_device(device) {
    const char* uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job));
    m_ble = IsBle(uri);
    m_pacing = DfAppLinkPacing(uri, m_ble ? DfBleWriteSize(device) : 0);
}

bool DfAppDeviceLink::Canceled() {
    if (!papplJobIsCanceled(m_job)) return false;
    m_why = "the job was cancelled";
    return true;
}

bool DfAppDeviceLink::Send(const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    DfAppWritingJob writing(m_job);
    while (len > 0) {
        if (Canceled()) return false;
        for (long long wait = m_lastWrite + m_pacing.gapMs - NowMs(); wait > 0;
             wait = m_lastWrite + m_pacing.gapMs - NowMs())
            usleep(static_cast<useconds_t>(wait) * 1000);
        const size_t n = m_pacing.chunk && m_pacing.chunk < len ? m_pacing.chunk : len;
        // Each piece leaves at once: a reply is waited for only after it.
        const bool ok = papplDeviceWrite(m_device, p, n) >= 0 && DfAppFlushJob(m_job, m_device);
        m_lastWrite = NowMs();
        if (!ok) {
            if (Canceled()) return false;
            m_why = DfAppWriteFailure();
            if (m_why.empty() && m_ble) m_why = DfBleDeviceReason(m_job, m_device);
            while (!m_why.empty() && m_why.back() == '.') m_why.pop_back();
            if (m_why.empty()) m_why = "unable to write to the printer";
            return false;
        }
        p += n;
        len -= n;
    }
    return true;
}

int DfAppDeviceLink::Receive(void* buf, size_t size, int timeoutMs) {
    if (!buf || size == 0) return 0;
    const long long end = NowMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        if (Canceled()) return -1;
        const long long left = end - NowMs();
        long n = 0;
        if (m_ble) {
            n = DfBleReadWithin(m_device, buf, size,
                                left <= 0    ? 0
                                : left < 100 ? static_cast<int>(left)
                                             : 100);
        } else if (m_pacing.reads) {
            n = papplDeviceRead(m_device, buf, size);  // waits up to 100 ms
        } else if (left > 0) {
            usleep(static_cast<useconds_t>(left < 100 ? left : 100) * 1000);  // no reads here
        }
        if (n < 0) {
            m_why = "connection to the printer lost";
            return -1;
        }
        if (n > 0) return static_cast<int>(n);
        if (NowMs() >= end) return 0;
    }
}
