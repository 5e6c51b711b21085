// Guards around faults of PAPPL 1.3.1 that clients can trigger. PAPPL's
// internal functions are exported from libpappl and called through its PLT,
// so the program defines functions of the same names (they take precedence
// for the dynamic linker), checks what PAPPL does not, and calls PAPPL's own
// (found with dlsym(RTLD_NEXT)). Each guard names the fault it keeps away.
// The signatures are those of PAPPL 1.3.1's private headers.
#include "app/pappl/hardening.h"

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>
#include <sys/statvfs.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <set>
#include <utility>
#include <vector>

#include "app/devices/devicelist.h"
#include "app/pappl/deviceopen.h"
#include "app/pappl/fencehooks.h"
#include "app/pappl/jobaccess.h"
#include "app/pappl/joblimits.h"
#include "app/pappl/pappl_fence.h"
#include "app/pappl/statefile.h"

extern "C" {
void* _papplJobProcess(pappl_job_t* job);
void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client);
void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job);
void _papplJobReleaseNoLock(pappl_job_t* job, const char* username);
void _papplClientFlushDocumentData(pappl_client_t* client);
void _papplPrinterProcessIPP(pappl_client_t* client);
void _papplSystemProcessIPP(pappl_client_t* client);
void _papplJobProcessIPP(pappl_client_t* client);
void _papplPrinterWebHome(pappl_client_t* client, pappl_printer_t* printer);
void* _papplClientRun(pappl_client_t* client);
void _papplClientDelete(pappl_client_t* client);
http_status_t _papplClientIsAuthorizedForGroup(pappl_client_t* client, bool allow_remote, const char* group,
                                               gid_t gid);
void _papplSystemConfigChanged(pappl_system_t* system);
void _papplPrinterCheckJobs(pappl_printer_t* printer);
}

namespace {

// Checked at start (app/pappl_fence.h): never null.
template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(DfFenceNext(name));
}

std::mutex gRunningMutex;
std::condition_variable gPrinterFree;
std::set<std::pair<pappl_printer_t*, int>> gRunning;  // jobs started (ids are per printer)
std::set<pappl_printer_t*> gBusy;                     // printers printing a job
std::atomic<int> gClients{0};
std::string gSpool;
thread_local bool tConfigChanged = false;
// Set (under the mutex) when PAPPL deletes the system: the shutdown watch
// must not save or log through it after that.
std::mutex gSystemLife;
bool gSystemDeleted = false;

// Operations on a printer that change it or other people's jobs. PAPPL
// 1.3.1 asks for authorization on some (Pause-Printer, Set-Printer-
// Attributes) but not on Disable-Printer, Enable-Printer, Hold-New-Jobs and
// Release-Held-New-Jobs, which any client on the network could send.
bool NeedsAdmin(ipp_op_t op) {
    switch (op) {
        case IPP_OP_PAUSE_PRINTER:
        case IPP_OP_RESUME_PRINTER:
        case IPP_OP_PURGE_JOBS:
        case IPP_OP_SET_PRINTER_ATTRIBUTES:
        case IPP_OP_ENABLE_PRINTER:
        case IPP_OP_DISABLE_PRINTER:
        case IPP_OP_PAUSE_PRINTER_AFTER_CURRENT_JOB:
        case IPP_OP_HOLD_NEW_JOBS:
        case IPP_OP_RELEASE_HELD_NEW_JOBS:
        case IPP_OP_DEACTIVATE_PRINTER:
        case IPP_OP_ACTIVATE_PRINTER:
        case IPP_OP_RESTART_PRINTER:
        case IPP_OP_SHUTDOWN_PRINTER:
        case IPP_OP_STARTUP_PRINTER:
        case IPP_OP_CANCEL_JOBS:
        case IPP_OP_CREATE_PRINTER:
        case IPP_OP_DELETE_PRINTER:
        case IPP_OP_SET_SYSTEM_ATTRIBUTES:
        case IPP_OP_DISABLE_ALL_PRINTERS:
        case IPP_OP_ENABLE_ALL_PRINTERS:
        case IPP_OP_PAUSE_ALL_PRINTERS:
        case IPP_OP_PAUSE_ALL_PRINTERS_AFTER_CURRENT_JOB:
        case IPP_OP_RESUME_ALL_PRINTERS:
        case IPP_OP_SHUTDOWN_ALL_PRINTERS:
        case IPP_OP_STARTUP_ALL_PRINTERS:
        case IPP_OP_RESTART_SYSTEM:
        case IPP_OP_SHUTDOWN_ONE_PRINTER:
        case IPP_OP_STARTUP_ONE_PRINTER:
            return true;
        default:
            return false;
    }
}

// Operations on jobs: a job the client was told is accepted must survive a
// crash, so their changes are on the disk before the answer. Nothing holds
// a save up for long (no lock it needs is held across a connect, see
// deviceopen.cpp); should it still not be made within kJobSaveWaitSeconds,
// or fail, the answer says so instead of success.
const int kJobSaveWaitSeconds = 10;

bool JobOperation(ipp_op_t op) {
    switch (op) {
        case IPP_OP_PRINT_JOB:
        case IPP_OP_PRINT_URI:
        case IPP_OP_VALIDATE_JOB:
        case IPP_OP_CREATE_JOB:
        case IPP_OP_SEND_DOCUMENT:
        case IPP_OP_SEND_URI:
        case IPP_OP_CANCEL_JOB:
        case IPP_OP_CANCEL_JOBS:
        case IPP_OP_CANCEL_MY_JOBS:
        case IPP_OP_CANCEL_CURRENT_JOB:
        case IPP_OP_CLOSE_JOB:
        case IPP_OP_HOLD_JOB:
        case IPP_OP_RELEASE_JOB:
        case IPP_OP_RESTART_JOB:
        case IPP_OP_SET_JOB_ATTRIBUTES:
            return true;
        default:
            return false;
    }
}

// A job operation that succeeded but whose change is not on the disk: a job
// it created or gave its document is cancelled (the client, told so, sends
// it again), and the answer is an error.
void JobNotSaved(pappl_client_t* client) {
    ipp_t* response = papplClientGetResponse(client);
    if (!response || ippGetStatusCode(response) >= IPP_STATUS_REDIRECTION_OTHER_SITE) return;
    const ipp_op_t op = papplClientGetOperation(client);
    pappl_job_t* job = DfAppResponseJob(client);
    const bool created = op == IPP_OP_PRINT_JOB || op == IPP_OP_PRINT_URI || op == IPP_OP_CREATE_JOB ||
                         op == IPP_OP_SEND_DOCUMENT || op == IPP_OP_SEND_URI;
    // PAPPL 1.3.1's papplClientRespondIPP keeps the answer's groups and adds
    // the message after them (a second operation group clients refuse):
    // only the operation group stays.
    std::vector<ipp_attribute_t*> drop;
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response))
        if (ippGetGroupTag(attr) != IPP_TAG_OPERATION) drop.push_back(attr);
    for (ipp_attribute_t* attr : drop) ippDeleteAttribute(response, attr);
    if (created && job) {
        papplJobCancel(job);
        papplClientRespondIPP(client, IPP_STATUS_ERROR_INTERNAL,
                              "The job could not be saved to the state file; it is canceled, send it again.");
    } else {
        papplClientRespondIPP(client, IPP_STATUS_ERROR_INTERNAL,
                              "The change is made but could not be saved to the state file.");
    }
    papplLogClient(client, PAPPL_LOGLEVEL_ERROR, "The state was not saved in time for %s.", ippOpString(op));
}

// A configuration change must be on the disk before the client hears it
// succeeded: PAPPL 1.3.1 saves later, from its main loop, and ignores the
// result, so `add` and `modify` reported success on a full disk.
void SaveChanges(pappl_client_t* client) {
    if (!tConfigChanged) return;
    tConfigChanged = false;
    if (JobOperation(papplClientGetOperation(client))) {
        if (!DfAppFenceHooks().stateSaveSoon(papplClientGetSystem(client), kJobSaveWaitSeconds))
            JobNotSaved(client);
        return;
    }
    ipp_t* response = papplClientGetResponse(client);
    if (!response || ippGetStatusCode(response) >= IPP_STATUS_REDIRECTION_OTHER_SITE) return;
    std::string error;
    if (!DfAppFenceHooks().stateSave(papplClientGetSystem(client), error)) {
        papplLogClient(client, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
        papplClientRespondIPP(client, IPP_STATUS_ERROR_INTERNAL, "%s", error.c_str());
    }
}

// The device URI of a Create-Printer request, checked before PAPPL creates
// the printer: PAPPL 1.3.1 answers any refusal of the driver callback with
// "Driver '...' cannot be used with this printer", hiding the reason.
bool DeviceUriRefused(pappl_client_t* client) {
    ipp_t* request = papplClientGetRequest(client);
    ipp_attribute_t* attr = ippFindAttribute(request, "smi55357-device-uri", IPP_TAG_URI);
    const char* uri = attr ? ippGetString(attr, 0, nullptr) : nullptr;
    if (!uri) return false;
    std::string error;
    if (DfAppCheckDeviceUriForAdd(uri, error)) return false;
    papplLogClient(client, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s", error.c_str());
    return true;
}

// As PAPPL's own operations do: the HTTP status of a refusal (401 makes the
// client ask for a login).
bool Authorized(pappl_client_t* client) {
    const http_status_t code = papplClientIsAuthorized(client);
    if (code == HTTP_STATUS_CONTINUE) return true;
    papplClientRespond(client, code, nullptr, nullptr, 0, 0);
    return false;
}

// An IPP request to a printer or to the system, through PAPPL's own
// handler REAL: the login the operation needs, the device URI a new printer
// may have, the change saved before the answer, the reasons' severities.
void ProcessIPP(pappl_client_t* client, void (*real)(pappl_client_t*)) {
    const ipp_op_t op = papplClientGetOperation(client);
    if (NeedsAdmin(op) && !Authorized(client)) return;
    if (op == IPP_OP_CREATE_PRINTER && DeviceUriRefused(client)) return;
    if (!DfAppJobLimitsAdmit(client)) return;
    tConfigChanged = false;
    DfAppFenceHooks().mediaHoldRequest(client);
    real(client);
    DfAppNoteJobCreator(client);
    DfAppFenceHooks().mediaHoldResponse(client);
    DfAppJobLimitsAnswered(client);
    SaveChanges(client);
    if (op == IPP_OP_GET_PRINTER_ATTRIBUTES || op == IPP_OP_GET_PRINTERS)
        DfAppFenceHooks().suffixStateReasons(papplClientGetResponse(client));
}

void CheckJobs(pappl_printer_t* printer, void*) {
    _papplPrinterCheckJobs(printer);
}

// PAPPL 1.3.1 waits up to a minute after SIGTERM while any printer has a
// job, printing or only queued, and a job waiting for a printer that is off
// keeps it waiting the whole minute. Queued jobs (and jobs waiting for
// their printer) are in the state and start again after a restart, so only
// a job being printed is waited for, and not
// for more than kStopGraceSeconds; then the state is saved and the server
// ends. (Its main loop even blocks on the printer's lock while the job
// thread retries the device, holding it.)
const int kStopGraceSeconds = 3;

volatile sig_atomic_t gTermSignal = 0;
struct sigaction gPapplTerm;

// Notes the signal for the watch below, then lets PAPPL's handler have it.
void OnTerm(int sig) {
    gTermSignal = 1;
    if (gPapplTerm.sa_handler != SIG_DFL && gPapplTerm.sa_handler != SIG_IGN) gPapplTerm.sa_handler(sig);
}

void WatchShutdown(pappl_system_t* system) {
    // PAPPL installs its handler when it starts running, a little after it
    // says it runs; ours goes in front, and again whenever PAPPL's has
    // replaced it (a busy machine can put PAPPL's second).
    while (!papplSystemIsRunning(system)) usleep(100000);
    struct sigaction ours {};
    ours.sa_handler = OnTerm;
    sigemptyset(&ours.sa_mask);
    // Once PAPPL's is behind ours, a later handler in front (the status
    // wait's) chains to ours and is left alone.
    bool chained = false;
    while (!gTermSignal && !papplSystemIsShutdown(system)) {
        if (!chained) {
            struct sigaction current {};
            sigaction(SIGTERM, nullptr, &current);
            if (current.sa_handler != OnTerm) sigaction(SIGTERM, &ours, &gPapplTerm);
            chained = gPapplTerm.sa_handler != SIG_DFL && gPapplTerm.sa_handler != SIG_IGN;
        }
        usleep(200000);
    }
    for (int i = 0; i < kStopGraceSeconds * 10; i++) {
        {
            std::lock_guard<std::mutex> lock(gRunningMutex);
            // A job waiting for its printer stays queued (app/status.cpp).
            if (gBusy.size() <= static_cast<size_t>(DfAppFenceHooks().jobsKeptQueued())) break;
        }
        usleep(100000);
    }
    // Without jobs PAPPL ends by itself within a second, and this thread
    // with it.
    sleep(2);
    // The state is saved after every change already; a last save is tried,
    // but a job thread stuck on its printer may hold the printer's lock.
    // PAPPL may have ended meanwhile and deleted the system: then there is
    // nothing left to save or to log to.
    std::atomic<bool> saved{false};
    std::thread([system, &saved] {
        std::lock_guard<std::mutex> life(gSystemLife);
        if (!gSystemDeleted) {
            std::string error;
            if (!DfAppFenceHooks().stateSave(system, error))
                papplLog(system, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
        }
        saved = true;
    }).detach();
    for (int i = 0; i < 20 && !saved; i++) usleep(100000);
    if (gSystemLife.try_lock()) {
        if (!gSystemDeleted)
            papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopping now; queued jobs are kept for the next start.");
        gSystemLife.unlock();
    }
    _exit(0);
}

// PAPPL 1.3.1 loads the queued jobs of the state but starts none until a
// new job arrives on their printer. Runs once, when the server has started.
bool ResumeJobs(pappl_system_t* system, void*) {
    papplSystemIteratePrinters(system, CheckJobs, nullptr);
    return true;
}

// PAPPL 1.3.1 keeps a printer's active jobs newest first and starts the
// first pending one it finds: jobs queued together (after a restart, or
// behind a job waiting for its printer) printed newest first. The job to
// print is the oldest pending one.
void NoteOldest(pappl_job_t* job, void* data) {
    pappl_job_t** oldest = static_cast<pappl_job_t**>(data);
    if (papplJobGetState(job) == IPP_JSTATE_PENDING && papplJobGetFilename(job) &&
        (!*oldest || papplJobGetID(job) < papplJobGetID(*oldest)))
        *oldest = job;
}

pappl_job_t* OldestPending(pappl_printer_t* printer) {
    pappl_job_t* oldest = nullptr;
    papplPrinterIterateActiveJobs(printer, NoteOldest, &oldest, 1, 0);
    return oldest;
}

// Waits until PRINTER prints nothing, then takes it.
void TakePrinter(pappl_printer_t* printer) {
    std::unique_lock<std::mutex> lock(gRunningMutex);
    gPrinterFree.wait(lock, [printer] { return !gBusy.count(printer); });
    gBusy.insert(printer);
}

// Gives PRINTER back and starts its next job: a start PAPPL tried while the
// printer was taken may have been the only one.
void GivePrinter(pappl_printer_t* printer) {
    {
        std::lock_guard<std::mutex> lock(gRunningMutex);
        gBusy.erase(printer);
    }
    gPrinterFree.notify_all();
    _papplPrinterCheckJobs(printer);
}

}  // namespace

extern "C" {

// PAPPL 1.3.1 bug: _papplPrinterCheckJobs starts a thread for the first
// pending job but the job becomes the printer's current one only once that
// thread runs. Two clients finishing their jobs at the same moment start the
// same job in two threads ("Starting job N" twice), and a raster job that a
// client streams meanwhile is printed alongside it: pages go out twice or
// mixed, and two threads share, then free, one job's data. So a job is
// started once, and a printer prints one job at a time, whichever way PAPPL
// started it, oldest first.
void* _papplJobProcess(pappl_job_t* job) {
    static const auto real = Real<void* (*)(pappl_job_t*)>("_papplJobProcess");
    int id = papplJobGetID(job);
    pappl_printer_t* printer = papplJobGetPrinter(job);
    bool again;
    {
        std::lock_guard<std::mutex> lock(gRunningMutex);
        again = !gRunning.insert({printer, id}).second;
        if (!again && papplJobGetState(job) != IPP_JSTATE_PENDING) {
            gRunning.erase({printer, id});
            again = true;
        }
    }
    if (again) {
        papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Job %d was started twice; the second start is ignored.", id);
        return nullptr;
    }
    TakePrinter(printer);
    // An older pending job goes first; this one stays pending and is started
    // again when the printer is given back.
    pappl_job_t* oldest = OldestPending(printer);
    if (oldest && oldest != job) {
        std::lock_guard<std::mutex> lock(gRunningMutex);
        if (gRunning.insert({printer, papplJobGetID(oldest)}).second) {
            gRunning.erase({printer, id});
            job = oldest;
            id = papplJobGetID(oldest);
        }
    }
    void* result = nullptr;
    if (papplJobGetState(job) != IPP_JSTATE_PENDING) {
        // canceled while it waited
    } else if (papplJobGetFilename(job)) {
        DfAppJobConnect connect(job);
        // Cancelled while the connect went on: PAPPL has removed its file.
        if (papplJobGetState(job) == IPP_JSTATE_PENDING && papplJobGetFilename(job)) result = real(job);
    } else {
        // No document: PAPPL would compare its missing format (a crash).
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Job %d has no document; it is canceled.", id);
        papplJobCancel(job);
    }
    {
        std::lock_guard<std::mutex> lock(gRunningMutex);
        gRunning.erase({printer, id});
    }
    GivePrinter(printer);
    return result;
}

// A raster job printed while its client sends it (see above). PAPPL 1.3.1
// also counts each page in job-impressions-completed as it starts, so the
// page that failed (cut short, unprintable) is taken off again.
void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client) {
    static const auto real = Real<void (*)(pappl_job_t*, pappl_client_t*)>("_papplJobProcessRaster");
    pappl_printer_t* printer = papplJobGetPrinter(job);
    TakePrinter(printer);
    {
        DfAppJobConnect connect(job);
        DfAppDocumentRead reading(client, job);
        real(job, client);
    }
    const pappl_jreason_t failed = PAPPL_JREASON_DOCUMENT_FORMAT_ERROR |
                                   PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR | PAPPL_JREASON_ABORTED_BY_SYSTEM;
    if ((papplJobGetReasons(job) & failed) && papplJobGetImpressionsCompleted(job) > 0)
        papplJobSetImpressionsCompleted(job, -1);
    GivePrinter(printer);
}

// PAPPL 1.3.1 bug: releasing held jobs (Release-Held-New-Jobs, the printer
// page's release action) also releases a Create-Job job that is still
// waiting for its document, and _papplJobProcess then dereferences its
// missing document format. Such a job stays held until its document comes.
void _papplJobReleaseNoLock(pappl_job_t* job, const char* username) {
    static const auto real = Real<void (*)(pappl_job_t*, const char*)>("_papplJobReleaseNoLock");
    if (!papplJobGetFilename(job)) return;
    real(job, username);
}

void _papplPrinterProcessIPP(pappl_client_t* client) {
    static const auto real = Real<void (*)(pappl_client_t*)>("_papplPrinterProcessIPP");
    ProcessIPP(client, real);
}

// Job operations (Get-Job-Attributes, Release-Job, ...) come here.
void _papplJobProcessIPP(pappl_client_t* client) {
    static const auto real = Real<void (*)(pappl_client_t*)>("_papplJobProcessIPP");
    real(client);
    DfAppFenceHooks().mediaHoldResponse(client);
}

void _papplSystemProcessIPP(pappl_client_t* client) {
    static const auto real = Real<void (*)(pappl_client_t*)>("_papplSystemProcessIPP");
    ProcessIPP(client, real);
}

// PAPPL 1.3.1's main loop deletes the system when the server ends, while
// the shutdown watch or the job saver may still be saving its state on
// threads of their own: such a save read the freed system (a crash at stop,
// seen when PAPPL took two seconds to end). Saving ends first, and the
// connects still going on (app/deviceopen.cpp) end before the system goes.
void papplSystemDelete(pappl_system_t* system) {
    static const auto real = Real<void (*)(pappl_system_t*)>("papplSystemDelete");
    {
        std::lock_guard<std::mutex> life(gSystemLife);
        gSystemDeleted = true;
    }
    DfAppFenceHooks().stateStopSaving();
    DfAppStopConnecting();
    real(system);
}

void _papplSystemConfigChanged(pappl_system_t* system) {
    static const auto real = Real<void (*)(pappl_system_t*)>("_papplSystemConfigChanged");
    real(system);
    tConfigChanged = true;
}

// PAPPL 1.3.1 bug: the printer page takes its forms (hold and release new
// jobs, print a test page, identify, ...) from anyone, without a login and
// over plain HTTP from other machines. They now need what the other
// configuration pages need.
void _papplPrinterWebHome(pappl_client_t* client, pappl_printer_t* printer) {
    static const auto real = Real<void (*)(pappl_client_t*, pappl_printer_t*)>("_papplPrinterWebHome");
    if (papplClientGetMethod(client) == HTTP_STATE_POST && !papplClientHTMLAuthorize(client)) return;
    real(client, printer);
}

// PAPPL 1.3.1 runs a thread for every connection with no limit: connections
// that send nothing each hold one for a minute. Beyond kDfAppMaxClients at
// a time a new network connection is closed at once.
void* _papplClientRun(pappl_client_t* client) {
    static const auto real = Real<void* (*)(pappl_client_t*)>("_papplClientRun");
    // The control socket is exempt: an administrator can still get in.
    const bool local = httpAddrFamily(httpGetAddress(papplClientGetHTTP(client))) == AF_LOCAL;
    if (gClients.fetch_add(1) >= kDfAppMaxClients && !local) {
        gClients.fetch_sub(1);
        _papplClientDelete(client);
        return nullptr;
    }
    void* result = real(client);
    gClients.fetch_sub(1);
    return result;
}

// PAPPL 1.3.1 trusts every client of its control socket before asking the
// auth callback, so any local user could add a printer through `add`. The
// socket tells who is at the other end: only administrators configure.
http_status_t _papplClientIsAuthorizedForGroup(pappl_client_t* client, bool allow_remote, const char* group,
                                               gid_t gid) {
    static const auto real = Real<http_status_t (*)(pappl_client_t*, bool, const char*, gid_t)>(
        "_papplClientIsAuthorizedForGroup");
    uid_t uid = 0;
    if (httpAddrFamily(httpGetAddress(papplClientGetHTTP(client))) == AF_LOCAL &&
        DfAppFenceHooks().authIsAdminGroup(group) && !DfAppFenceHooks().jobOperation(client) &&
        (!DfAppFenceHooks().localPeerUid(client, uid) || !DfAppFenceHooks().authLocalAdmin(uid))) {
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Local user %u is not an administrator.",
                       static_cast<unsigned>(uid));
        return HTTP_STATUS_FORBIDDEN;
    }
    return real(client, allow_remote, group, gid);
}

// PAPPL 1.3.1 bug: when _papplJobCopyDocumentData gives up on a job (a
// raster refused as busy, a bad document) it flushes the client's data and
// then takes the printer's lock and, inside it, the system's; a state save
// takes them the other way round, and the two stopped the server for good
// (seen under six clients). From that flush to the end of the copy, saves
// wait.
thread_local bool tCopying = false, tHoldingSaves = false;

void _papplClientFlushDocumentData(pappl_client_t* client) {
    static const auto real = Real<void (*)(pappl_client_t*)>("_papplClientFlushDocumentData");
    {
        DfAppDocumentRead reading(client, nullptr);
        real(client);
    }
    if (tCopying && !tHoldingSaves) {
        DfAppStateHoldSaves();
        tHoldingSaves = true;
    }
}

// PAPPL 1.3.1 bug: a print file cut short by a full spool is reported as
// "Unable to write print file: Success" (a short write sets no errno).
void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
    static const auto real = Real<void (*)(pappl_client_t*, pappl_job_t*)>("_papplJobCopyDocumentData");
    tCopying = true;
    {
        DfAppDocumentRead reading(client, job);
        real(client, job);
    }
    tCopying = false;
    if (tHoldingSaves) {
        tHoldingSaves = false;
        DfAppStateReleaseSaves();
    }
    ipp_t* response = papplClientGetResponse(client);
    ipp_attribute_t* attr = response ? ippFindAttribute(response, "status-message", IPP_TAG_TEXT) : nullptr;
    const char* text = attr ? ippGetString(attr, 0, nullptr) : nullptr;
    if (!text || strcmp(text, "Unable to write print file: Success") != 0) return;
    struct statvfs fs;
    const bool full =
        !gSpool.empty() && statvfs(gSpool.c_str(), &fs) == 0 && fs.f_bavail * fs.f_frsize < 65536;
    const char* why = full ? "Unable to write print file: No space left on device (the spool is full)."
                           : "Unable to write print file: the spool took only part of it.";
    papplLogClient(client, PAPPL_LOGLEVEL_ERROR, "%s", why);
    ippSetString(response, &attr, 0, why);
}

}  // extern "C"

void DfAppInstallGuards(pappl_system_t* system, const char* spool) {
    gSpool = spool ? spool : "";
    papplSystemAddTimerCallback(system, time(nullptr), 0, ResumeJobs, nullptr);
    // Its own thread: PAPPL's main loop itself waits on the printer's lock
    // while a job thread retries a printer that is off.
    std::thread(WatchShutdown, system).detach();
}
