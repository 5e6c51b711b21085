// Connecting to a network printer without holding PAPPL's printer lock.
// PAPPL 1.3.1 opens a printer's device while it holds the printer's write
// lock (at a job's start, in papplPrinterOpenDevice), and a connect to a
// printer that is switched off waits 30 s. Everything that takes that lock
// meanwhile waited with it: the state save (which holds the system's lock
// while it reads each printer), behind it the main loop and every client,
// the web pages, adding a printer. So the connect is made first, outside
// the lock (a job's on a thread of its own, a status query's in its own
// thread), and PAPPL's open under the lock only takes the connection made.
// Only the network schemes are concerned: the others open at once.
#include "app/pappl/deviceopen.h"

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <thread>

#include "app/pappl/devicestate.h"

// A job's connect, made by its own thread until it succeeds or the job no
// longer wants it.
struct DfAppConnector {
    std::string uri, name;
    pappl_system_t* system = nullptr;
    std::mutex m;
    std::condition_variable cv;
    pappl_device_t* device = nullptr;  // made and not yet taken
    bool taken = false;                // PAPPL has it: further opens are PAPPL's own
    int attempts = 0;                  // connects that ended
    int cancel = 0;                    // set once: also libcups's connect watches it
};

namespace {

// How long a job's start waits for its first connect, outside any lock,
// before PAPPL is told the printer is not there (yet): PAPPL then shows the
// printer stopped and asks again every 5 s while the connect goes on.
const int kFirstConnectWaitMs = 3000;
// Between two connects to a printer that refused one.
const int kRetryMs = 2000;

std::mutex gOpenMutex;
std::map<pappl_device_t*, std::string> gOpen;  // devices open, by their URI
std::set<DfAppConnector*> gConnecting;         // connectors whose thread runs
bool gStopped = false;                         // the system goes: no more connectors
std::condition_variable gConnectorEnded;

thread_local std::shared_ptr<DfAppConnector> tConnector;  // the job start this thread runs
thread_local pappl_device_t* tPrepared = nullptr;         // a status connection made beforehand
thread_local std::string tPreparedUri;
thread_local int tConnectMs = 0;             // longest connect in this thread (0: libcups's caller's)
thread_local int* tConnectCancel = nullptr;  // cancels this thread's connects

bool Networked(const char* uri) {
    return uri &&
           (!strncmp(uri, "socket://", 9) || !strncmp(uri, "dnssd://", 8) || !strncmp(uri, "snmp://", 7));
}

bool OpenFor(const std::string& uri) {
    std::lock_guard<std::mutex> lock(gOpenMutex);
    for (const auto& d : gOpen)
        if (d.second == uri) return true;
    return false;
}

// Retries fail the same way: their messages go to the debug log only.
void QuietError(const char* message, void* data) {
    papplLog(static_cast<pappl_system_t*>(data), PAPPL_LOGLEVEL_DEBUG, "%s", message);
}

void Connect(std::shared_ptr<DfAppConnector> c) {
    tConnectCancel = &c->cancel;
    struct Ended {
        DfAppConnector* c;
        ~Ended() {
            std::lock_guard<std::mutex> lock(gOpenMutex);
            gConnecting.erase(c);
            gConnectorEnded.notify_all();
        }
    } ended{c.get()};
    for (bool first = true;; first = false) {
        pappl_device_t* device =
            papplDeviceOpen(c->uri.c_str(), c->name.c_str(), first ? papplLogDevice : QuietError, c->system);
        std::unique_lock<std::mutex> lock(c->m);
        c->attempts++;
        if (device && !c->cancel) {
            c->device = device;
            c->cv.notify_all();
            c->cv.wait(lock, [&c] { return c->taken || c->cancel; });
            if (c->taken) return;
            device = c->device;  // the job ended without it
            c->device = nullptr;
        }
        if (device || c->cancel) {
            lock.unlock();
            if (device) papplDeviceClose(device);
            return;
        }
        c->cv.notify_all();
        if (c->cv.wait_for(lock, std::chrono::milliseconds(kRetryMs), [&c] { return c->cancel != 0; }))
            return;
    }
}

}  // namespace

DfAppJobConnect::DfAppJobConnect(pappl_job_t* job) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    const char* uri = papplPrinterGetDeviceURI(printer);
    // PAPPL keeps the last job's device open while jobs are queued: no
    // connect is made then.
    if (!Networked(uri) || OpenFor(uri)) return;
    auto c = std::make_shared<DfAppConnector>();
    c->uri = uri;
    const char* name = papplJobGetName(job);
    c->name = name ? name : "job";
    c->system = papplPrinterGetSystem(printer);
    {
        std::lock_guard<std::mutex> lock(gOpenMutex);
        if (gStopped) return;
        gConnecting.insert(c.get());
    }
    std::thread(Connect, c).detach();
    std::unique_lock<std::mutex> lock(c->m);
    if (!c->cv.wait_for(lock, std::chrono::milliseconds(kFirstConnectWaitMs),
                        [&c] { return c->attempts > 0 || c->device; }))
        DfAppNoteDeviceError(c->uri.c_str(), "the printer does not answer (still trying to connect)");
    m_connector = c;
    tConnector = c;
}

DfAppJobConnect::~DfAppJobConnect() {
    if (!m_connector) return;
    tConnector.reset();
    std::lock_guard<std::mutex> lock(m_connector->m);
    m_connector->cancel = 1;
    m_connector->cv.notify_all();
}

void DfAppStopConnecting() {
    std::unique_lock<std::mutex> lock(gOpenMutex);
    gStopped = true;
    for (DfAppConnector* c : gConnecting) {
        std::lock_guard<std::mutex> hold(c->m);
        c->cancel = 1;
        c->cv.notify_all();
    }
    gConnectorEnded.wait_for(lock, std::chrono::seconds(2), [] { return gConnecting.empty(); });
}

pappl_device_t* DfAppOpenPrinterDevice(pappl_printer_t* printer) {
    const char* u = papplPrinterGetDeviceURI(printer);
    if (!Networked(u)) return papplPrinterOpenDevice(printer);
    const std::string uri = u;
    if (OpenFor(uri)) return nullptr;  // a job's
    tConnectMs = kDfAppStatusConnectMs;
    pappl_device_t* device =
        papplDeviceOpen(uri.c_str(), "status", QuietError, papplPrinterGetSystem(printer));
    tConnectMs = 0;
    if (!device) return nullptr;
    tPrepared = device;
    tPreparedUri = uri;
    pappl_device_t* opened = papplPrinterOpenDevice(printer);
    if (tPrepared) {
        // PAPPL did not open it: a job took the printer meanwhile.
        papplDeviceClose(tPrepared);
        tPrepared = nullptr;
    }
    return opened;
}

bool DfAppOpenPrepared(const char* uri, pappl_device_t** device) {
    *device = nullptr;
    if (!uri) return false;
    if (tPrepared && tPreparedUri == uri) {
        *device = tPrepared;
        tPrepared = nullptr;
        return true;
    }
    const std::shared_ptr<DfAppConnector> c = tConnector;
    if (!c || c->uri != uri) return false;
    std::lock_guard<std::mutex> lock(c->m);
    if (c->taken) return false;
    *device = c->device;
    c->taken = c->device != nullptr;
    c->device = nullptr;
    c->cv.notify_all();
    return true;
}

void DfAppNoteOpened(pappl_device_t* device, const char* uri) {
    if (!device || !uri) return;
    std::lock_guard<std::mutex> lock(gOpenMutex);
    gOpen[device] = uri;
}

extern "C" {

void papplDeviceClose(pappl_device_t* device) {
    static const auto real =
        reinterpret_cast<void (*)(pappl_device_t*)>(dlsym(RTLD_NEXT, "papplDeviceClose"));
    {
        std::lock_guard<std::mutex> lock(gOpenMutex);
        gOpen.erase(device);
    }
    if (real) real(device);
}

// PAPPL 1.3.1's socket scheme connects with a fixed 30 s limit and nothing
// that can stop it; the connects made here have a limit and a cancel of
// their own.
http_addrlist_t* httpAddrConnect2(http_addrlist_t* addrlist, int* sock, int msec, int* cancel) {
    using Real = http_addrlist_t* (*)(http_addrlist_t*, int*, int, int*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "httpAddrConnect2"));
    if (!real) return nullptr;
    if (tConnectMs > 0 && (msec <= 0 || msec > tConnectMs)) msec = tConnectMs;
    if (!cancel) cancel = tConnectCancel;
    return real(addrlist, sock, msec, cancel);
}

}  // extern "C"
