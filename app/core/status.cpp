// Status queries over PAPPL's devices and what their answers change: the
// printer's state reasons, its supplies, and jobs held before their first
// byte. A printer that does not answer within a few hundred milliseconds is
// "status unknown": nothing is set, jobs print as before, and it is not
// asked again for kDfStatusRetrySeconds.
#include "app/core/status.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

#include "app/pappl/deviceopen.h"
#include "app/pappl/devicestate.h"
#include "app/core/models.h"
#include "app/devices/bledevice.h"
#include "printers/family.h"
#include "printers/statusrun.h"

namespace {

// The reasons this file owns; others (PAPPL's own) are left alone.
constexpr pappl_preason_t kOwnReasons = static_cast<pappl_preason_t>(
    PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW | PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_COVER_OPEN |
    PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_OTHER);

struct PrinterMemo {
    time_t unknownUntil = 0;  // not asked before this time
    unsigned skip = 0;        // optional steps this printer does not answer
    bool identityAsked = false;
    // What was last set on the printer (nothing at first): unchanged state
    // is not set again.
    unsigned appliedReasons = 0;
    int appliedBattery = -1;
    std::string appliedLabels;  // the label supply's description and level
};

std::mutex g_lock;
std::map<int, PrinterMemo> g_memo;  // by printer id

PrinterMemo Memo(pappl_printer_t* printer) {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_memo[papplPrinterGetID(printer)];
}

void SetMemo(pappl_printer_t* printer, const PrinterMemo& memo) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_memo[papplPrinterGetID(printer)] = memo;
}

// PAPPL 1.3.1 bug: a server told to stop (SIGTERM, SIGINT) waits for its
// processing jobs and gives them no sign of it (papplSystemIsShutdown stays
// false), so a job waiting for paper would hold the server for good. The
// first job that waits puts a handler in front of PAPPL's own that notes
// the request and passes it on.
std::atomic<bool> g_stopping{false};
struct sigaction g_previous[2];

void OnStopSignal(int sig) {
    g_stopping = true;
    const struct sigaction& prev = g_previous[sig == SIGINT ? 1 : 0];
    if (prev.sa_flags & SA_SIGINFO) {
        if (prev.sa_sigaction) prev.sa_sigaction(sig, nullptr, nullptr);
    } else if (prev.sa_handler == SIG_DFL) {
        signal(sig, SIG_DFL);
        raise(sig);
    } else if (prev.sa_handler != SIG_IGN && prev.sa_handler) {
        prev.sa_handler(sig);
    }
}

void WatchStopSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa;
        memset(&sa, 0, sizeof(sa));
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, &g_previous[0]);
        sigaction(SIGINT, &sa, &g_previous[1]);
    });
}

// A job waiting for its printer when the server stops is a queued job: it
// is left as it is, nothing sent, until the shutdown watch
// (app/hardening.cpp) has saved the state and ended the process, and the
// next start queues it again (app/pappl/statefile.cpp). A job whose document was
// not spooled (a raster streamed by its client) cannot come back and ends
// as before. A cancel meanwhile still ends the job.
std::atomic<int> g_kept{0};

void KeepQueued(pappl_job_t* job, const std::string& why) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                "The server stops while the job waits for the printer (%s): it stays queued for the next "
                "start.",
                why.c_str());
    papplJobSetMessage(job, "Queued for the next start: the server stops.");
    g_kept++;
    while (!papplJobIsCanceled(job)) usleep(100000);
    g_kept--;
}

const DfAppModel* ModelOf(pappl_printer_t* printer) {
    pappl_pr_driver_data_t data;
    if (!papplPrinterGetDriverData(printer, &data) || !data.extension) return nullptr;
    return static_cast<const DfAppModel*>(data.extension);
}

// The socket under a socket: device. PAPPL 1.3.1's socket read waits up to
// ten seconds for data, far too long for a status query to a printer that
// may never answer; its device data starts with the connection's
// descriptor, which is polled with our own bound first. The descriptor is
// only trusted when it is a connected socket to the URI's port.
int SocketOf(pappl_device_t* device, const char* uri) {
    if (strncmp(uri, "socket://", 9)) return -1;
    const int* data = static_cast<const int*>(papplDeviceGetData(device));
    if (!data) return -1;
    const int fd = *data;
    struct stat st;
    if (fd < 0 || fstat(fd, &st) || !S_ISSOCK(st.st_mode)) return -1;
    sockaddr_storage peer;
    socklen_t len = sizeof(peer);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len)) return -1;
    int port = 0;
    if (peer.ss_family == AF_INET) port = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
    if (peer.ss_family == AF_INET6) port = ntohs(reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port);
    const char* colon = strrchr(uri + 9, ':');
    const char* bracket = strrchr(uri + 9, ']');
    const int want = colon && (!bracket || colon > bracket) ? atoi(colon + 1) : 9100;
    return port == want ? fd : -1;
}

// Queries over a PAPPL device: the socket scheme through its descriptor's
// poll, the serial scheme through its own short reads, the ble: scheme
// through its notifications.
class DeviceLink : public DfStatusTransport {
public:
    DeviceLink(pappl_device_t* device, int fd, bool serial, bool ble)
        : m_device(device), m_fd(fd), m_serial(serial), m_ble(ble) {}
    bool Write(const uint8_t* data, size_t len) override {
        if (papplDeviceWrite(m_device, data, len) < 0) return false;
        papplDeviceFlush(m_device);
        return true;
    }
    long Read(uint8_t* buffer, size_t size, int timeoutMs) override {
        if (m_fd >= 0) {
            pollfd p = {m_fd, POLLIN, 0};
            const int r = poll(&p, 1, timeoutMs);
            if (r < 0) return -1;
            if (r == 0) return 0;
            const ssize_t n = papplDeviceRead(m_device, buffer, size);
            return n > 0 ? static_cast<long>(n) : -1;  // readable but empty: closed
        }
        if (m_ble) return DfBleReadWithin(m_device, buffer, size, timeoutMs);
        if (!m_serial) return 0;
        // The serial scheme's read waits at most 100 ms and returns 0 then.
        int waited = 0;
        do {
            const ssize_t n = papplDeviceRead(m_device, buffer, size);
            if (n != 0) return static_cast<long>(n);
            waited += 100;
        } while (waited < timeoutMs);
        return 0;
    }

private:
    pappl_device_t* m_device;
    int m_fd;
    bool m_serial;
    bool m_ble;
};

// Garbled: bytes came back that are no status reply (noise, a printer of
// another kind, a wrong line speed); what was known stays shown.
enum class Asked { Answered, Unknown, Garbled, NotAsked };

// One status check on an open device.
Asked Check(pappl_printer_t* printer, pappl_device_t* device, DfPrinterStatus* status) {
    const DfAppModel* model = ModelOf(printer);
    char uri[1024] = "";
    if (const char* u = papplPrinterGetDeviceURI(printer)) strncpy(uri, u, sizeof(uri) - 1);
    if (!model) return Asked::NotAsked;
    const bool serial = !strncmp(uri, "serial:", 7);
    const int fd = SocketOf(device, uri);
    // Over Bluetooth LE only the families that talk are asked: the others'
    // printers were never seen to answer there.
    const bool ble = !strncmp(uri, "ble://", 6) && model->family && model->family->talk;
    if (fd < 0 && !serial && !ble) return Asked::NotAsked;  // no bounded read on this scheme
    PrinterMemo memo = Memo(printer);
    if (time(nullptr) < memo.unknownUntil) return Asked::NotAsked;
    DeviceLink link(device, fd, serial, ble);
    DfStatusOptions options;
    options.waitMs = 300;
    options.identity = !memo.identityAsked;
    options.skip = &memo.skip;
    const DfStatusResult r = DfRunStatusCheck(model->modelNumber, link, options, status);
    if (r == DfStatusResult::Answered) {
        memo.identityAsked = true;
        if (!status->model.empty() || !status->firmware.empty())
            papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "The printer says it is \"%s\", firmware \"%s\".",
                            status->model.c_str(), status->firmware.c_str());
    } else if (r == DfStatusResult::Garbled) {
        memo.unknownUntil = time(nullptr) + kDfStatusRetrySeconds;
        papplLogPrinter(
            printer, PAPPL_LOGLEVEL_WARN,
            "The printer's answer to a status query was no status reply: the last known status is "
            "kept, not asked again for %d seconds.",
            kDfStatusRetrySeconds);
    } else {
        memo.unknownUntil = time(nullptr) + kDfStatusRetrySeconds;
        papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                        "The printer did not answer a status query: status unknown, not asked again for %d "
                        "seconds.",
                        kDfStatusRetrySeconds);
    }
    SetMemo(printer, memo);
    return r == DfStatusResult::Answered  ? Asked::Answered
           : r == DfStatusResult::Garbled ? Asked::Garbled
                                          : Asked::Unknown;
}

pappl_preason_t Reasons(unsigned c) {
    unsigned r = 0;
    if (c & kDfStMediaEmpty) r |= PAPPL_PREASON_MEDIA_EMPTY;
    if (c & kDfStMediaLow) r |= PAPPL_PREASON_MEDIA_LOW;
    if (c & kDfStMediaJam) r |= PAPPL_PREASON_MEDIA_JAM;
    if (c & kDfStCoverOpen) r |= PAPPL_PREASON_COVER_OPEN;
    if (c & kDfStRibbonEmpty) r |= PAPPL_PREASON_MARKER_SUPPLY_EMPTY;
    if (c & kDfStOffline) r |= PAPPL_PREASON_OFFLINE;
    // A low battery is a warning as overheating is ("other-warning").
    if (c & (kDfStOverheat | kDfStError | kDfStBatteryLow)) r |= PAPPL_PREASON_OTHER;
    return static_cast<pappl_preason_t>(r);
}

void Copy(char* dst, size_t size, const char* src) {
    strncpy(dst, src, size - 1);
    dst[size - 1] = '\0';
}

// The paper supply of a label roll whose tag the printer read: "Gap
// labels, 20 of 80 left" and the share left as its level, or "" when there
// is no tag count. Labels the tag says were used beyond its total count as
// none left.
std::string LabelSupply(const DfPrinterStatus* status, int* level) {
    if (!status || status->labelsTotal <= 0 || status->labelsUsed < 0) return "";
    const int left = status->labelsUsed < status->labelsTotal ? status->labelsTotal - status->labelsUsed : 0;
    *level = static_cast<int>((left * 100LL + status->labelsTotal / 2) / status->labelsTotal);
    std::string kind = status->labelType.empty() ? "Labels" : status->labelType;
    kind[0] = static_cast<char>(toupper(static_cast<unsigned char>(kind[0])));
    return kind + ", " + std::to_string(left) + " of " + std::to_string(status->labelsTotal) + " left";
}

// Paper of unknown level (0 when the printer says it is out: no level is
// made up; a label roll's tag tells its count), and the battery when the
// printer tells it.
void SetSupplies(pappl_printer_t* printer, const DfPrinterStatus* status) {
    pappl_supply_t s[2];
    memset(s, 0, sizeof(s));
    s[0].color = PAPPL_SUPPLY_COLOR_NO_COLOR;
    int labels = -1;
    const std::string roll = LabelSupply(status, &labels);
    Copy(s[0].description, sizeof(s[0].description), roll.empty() ? "Thermal paper" : roll.c_str());
    s[0].is_consumed = true;
    s[0].level = status && (status->conditions & kDfStMediaEmpty) ? 0 : labels;
    s[0].type = PAPPL_SUPPLY_TYPE_OTHER;
    int n = 1;
    if (status && status->battery >= 0) {
        s[1].color = PAPPL_SUPPLY_COLOR_NO_COLOR;
        Copy(s[1].description, sizeof(s[1].description), "Battery");
        s[1].level = status->battery;
        s[1].type = PAPPL_SUPPLY_TYPE_OTHER;
        n = 2;
    }
    papplPrinterSetSupplies(printer, n, s);
}

// Only a change is set: every set takes the printer's write lock, which
// holds up the printer's clients and jobs, and marks the state changed.
void Apply(pappl_printer_t* printer, Asked asked, const DfPrinterStatus& status) {
    if (asked == Asked::NotAsked || asked == Asked::Garbled) return;
    const unsigned conditions = asked == Asked::Answered ? status.conditions : 0;
    const int battery = asked == Asked::Answered ? status.battery : -1;
    int level = -1;
    const std::string labels = asked == Asked::Answered ? LabelSupply(&status, &level) : "";
    {
        std::lock_guard<std::mutex> hold(g_lock);
        PrinterMemo& memo = g_memo[papplPrinterGetID(printer)];
        if (memo.appliedReasons == conditions && memo.appliedBattery == battery &&
            memo.appliedLabels == labels)
            return;
        memo.appliedReasons = conditions;
        memo.appliedBattery = battery;
        memo.appliedLabels = labels;
    }
    const pappl_preason_t add = asked == Asked::Answered ? Reasons(status.conditions) : Reasons(0);
    papplPrinterSetReasons(printer, add, static_cast<pappl_preason_t>(kOwnReasons & ~add));
    SetSupplies(printer, asked == Asked::Answered ? &status : nullptr);
}

}  // namespace

bool DfAppStatus(pappl_printer_t* printer) {
    // The first call only sets the supplies: a printer that is never asked
    // (a file: or usb: device) still shows its paper.
    pappl_supply_t current[2];
    if (papplPrinterGetSupplies(printer, 2, current) == 0) SetSupplies(printer, nullptr);
    const PrinterMemo memo = Memo(printer);
    if (time(nullptr) < memo.unknownUntil) return true;
    // Not while the state is loading: closing the device makes PAPPL 1.3.1
    // look for jobs, and it would start a loaded job before its document
    // is known (aborted at once). Queued jobs start once the server runs.
    if (!papplSystemIsRunning(papplPrinterGetSystem(printer))) return true;
    // Busy (a job holds the device, or jobs are queued): the job asks for
    // itself.
    pappl_device_t* device = DfAppOpenIdleDevice(printer);
    if (!device) {
        // Not reached within the connect limit (not busy): it is not asked
        // again for a while either.
        if (papplPrinterGetNumberOfActiveJobs(printer) == 0 &&
            !DfAppDeviceError(papplPrinterGetDeviceURI(printer)).empty()) {
            PrinterMemo unreachable = Memo(printer);
            unreachable.unknownUntil = time(nullptr) + kDfStatusRetrySeconds;
            SetMemo(printer, unreachable);
        }
        return true;
    }
    DfPrinterStatus status;
    const Asked asked = Check(printer, device, &status);
    papplPrinterCloseDevice(printer);
    Apply(printer, asked, status);
    return true;
}

pappl_device_t* DfAppOpenIdleDevice(pappl_printer_t* printer) {
    if (papplPrinterGetNumberOfActiveJobs(printer) > 0) return nullptr;
    return DfAppOpenPrinterDevice(printer);
}

bool DfAppWaitForPrinter(pappl_job_t* job, pappl_device_t* device) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    bool waited = false;
    for (;;) {
        DfPrinterStatus status;
        const Asked asked = Check(printer, device, &status);
        Apply(printer, asked, status);
        const unsigned blocking = asked == Asked::Answered ? status.conditions & kDfStBlocking : 0;
        if (!blocking) {
            if (waited) {
                papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
                papplJobSetMessage(job, "Printing.");
                papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The printer is ready again.");
            }
            return true;
        }
        const std::string why = DfStatusDescribe(blocking);
        if (!waited) {
            papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Waiting for the printer: %s.", why.c_str());
            WatchStopSignals();
            papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
            waited = true;
        }
        papplJobSetMessage(job, "Waiting for the printer: %s.", why.c_str());
        // Asked again every second; a cancel, the printer's deletion or the
        // server's shutdown (which waits for the job) is seen within a tenth.
        for (int i = 0; i < 10; i++) {
            if (papplJobIsCanceled(job)) {
                papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
                return false;
            }
            pappl_system_t* system = papplPrinterGetSystem(printer);
            const bool stopping = g_stopping || papplSystemIsShutdown(system);
            if (stopping && !papplPrinterIsDeleted(printer) && papplJobGetFilename(job)) {
                KeepQueued(job, why);  // returns only when the job is cancelled
                papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
                return false;
            }
            if (stopping || papplPrinterIsDeleted(printer)) {
                papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Stopped while waiting for the printer: %s.",
                            why.c_str());
                papplJobSetMessage(job, "Stopped while waiting for the printer: %s.", why.c_str());
                papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_PRINTER_STOPPED);
                return false;
            }
            usleep(100000);
        }
    }
}

int DfAppJobsKeptQueued() {
    return g_kept;
}

void DfAppSuffixStateReasons(ipp_t* response) {
    if (!response) return;
    // The library's keywords with their suffix; PAPPL's is the part before
    // it (overheating comes first of the two "other-" ones, as Reasons()
    // sets "other" for it).
    size_t count = 0;
    const DfStatusReason* reasons = DfStatusReasons(&count);
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
        const char* name = ippGetName(attr);
        if (!name || strcmp(name, "printer-state-reasons") != 0) continue;
        for (int i = 0; i < ippGetCount(attr); i++) {
            const char* value = ippGetString(attr, i, nullptr);
            if (!value) continue;
            for (size_t k = 0; k < count; k++) {
                const char* full = reasons[k].keyword;
                const size_t bare = static_cast<size_t>(strrchr(full, '-') - full);
                if (strlen(value) == bare && !strncmp(value, full, bare)) {
                    ippSetString(response, &attr, i, full);
                    break;
                }
            }
        }
    }
}
