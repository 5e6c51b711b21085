// Limits on what a client can hold on the server. PAPPL 1.3.1 advertises a
// multiple-operation-time-out of 60 s with the action abort-job but never
// applies it: a Create-Job job waits for its document for ever, and anyone
// who can reach the server could create them without end (each one held in
// memory and in the state file). And it reads a document as slowly as the
// client sends it, holding the printer the while: a raster header, then a
// byte every few seconds, kept a printer from every other job. Here:
//   - a job still without its document after multiple-operation-time-out
//     is aborted, with the reason in its job-state-message;
//   - a client (address and user) may have only so many such jobs at a
//     time, and is told so;
//   - a client that keeps the server waiting for its document's bytes
//     (fewer than kDfAppIdleMinBytes within client-idle-time-out seconds
//     of waiting) is cut off and its job aborted with the reason; the time
//     the server itself takes (a slow printer) does not count.
#include "app/pappl/joblimits.h"

#include <dlfcn.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/pappl/fencehooks.h"

extern "C" void _papplJobSetState(pappl_job_t* job, ipp_jstate_t state);  // PAPPL 1.3.1, private

namespace {

int gMultipleOperationTimeOut = kDfAppMultipleOperationTimeOut;
int gClientIdleTimeOut = kDfAppClientIdleTimeOut;

using JobKey = std::pair<int, int>;  // printer id, job id

struct Pending {
    std::string address, user;
};

std::mutex gMutex;
std::map<JobKey, Pending> gPending;  // jobs created without a document, by whom
std::set<JobKey> gUploading;         // jobs whose document is being read

JobKey KeyOf(pappl_job_t* job) {
    return {papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)};
}

std::string Address(pappl_client_t* client) {
    char text[256] = "";
    http_addr_t* addr = httpGetAddress(papplClientGetHTTP(client));
    if (!addr) return "";
    if (httpAddrFamily(addr) == AF_LOCAL) return "local";
    httpAddrString(addr, text, sizeof(text));
    return text;
}

// The user the job is created for, as PAPPL names it.
std::string User(pappl_client_t* client) {
    const char* user = papplClientGetUsername(client);
    if (user && *user) return user;
    ipp_attribute_t* attr =
        ippFindAttribute(papplClientGetRequest(client), "requesting-user-name", IPP_TAG_NAME);
    user = attr ? ippGetString(attr, 0, nullptr) : nullptr;
    return user ? user : "";
}

// A job still waiting for its document (null when it is gone).
pappl_job_t* WaitingJob(pappl_system_t* system, const JobKey& key) {
    pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, key.first, nullptr);
    pappl_job_t* job = printer ? papplPrinterFindJob(printer, key.second) : nullptr;
    if (!job || papplJobGetFilename(job)) return nullptr;
    const ipp_jstate_t state = papplJobGetState(job);
    return state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD ? job : nullptr;
}

// Ends JOB as aborted by the system, with MESSAGE as its job-state-message.
void Abort(pappl_job_t* job, const char* message) {
    if (papplJobGetState(job) < IPP_JSTATE_CANCELED) papplJobCancel(job);
    _papplJobSetState(job, IPP_JSTATE_ABORTED);
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_JOB_CANCELED_BY_USER);
    papplJobSetMessage(job, "%s", message);
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", message);
}

struct Expired {
    time_t before;
    std::vector<JobKey> jobs;
};

void FindExpired(pappl_job_t* job, void* data) {
    Expired* e = static_cast<Expired*>(data);
    if (papplJobGetFilename(job) || papplJobGetTimeCreated(job) > e->before) return;
    const ipp_jstate_t state = papplJobGetState(job);
    if (state != IPP_JSTATE_PENDING && state != IPP_JSTATE_HELD) return;
    e->jobs.push_back(KeyOf(job));
}

void FindExpiredOn(pappl_printer_t* printer, void* data) {
    papplPrinterIterateActiveJobs(printer, FindExpired, data, 1, 0);
}

// Once a second: jobs whose document did not come in time. (The jobs are
// collected first: PAPPL holds the printer's lock while it iterates, and a
// cancel takes it.)
bool ExpireJobs(pappl_system_t* system, void*) {
    Expired expired{time(nullptr) - gMultipleOperationTimeOut, {}};
    papplSystemIteratePrinters(system, FindExpiredOn, &expired);
    bool any = false;
    for (const JobKey& key : expired.jobs) {
        {
            std::lock_guard<std::mutex> lock(gMutex);
            if (gUploading.count(key)) continue;
            gPending.erase(key);
        }
        pappl_job_t* job = WaitingJob(system, key);
        if (!job) continue;
        char message[200];
        snprintf(message, sizeof(message),
                 "No document came within the multiple-operation-time-out of %d seconds; the job is aborted.",
                 gMultipleOperationTimeOut);
        Abort(job, message);
        any = true;
    }
    if (any) DfAppFenceHooks().stateSaveSoon(system, 0);
    return true;
}

// The jobs still waiting for their document of a client: for its address,
// and for its address and user.
void Count(pappl_client_t* client, int& byAddress, int& byUser) {
    const std::string address = Address(client), user = User(client);
    std::map<JobKey, Pending> pending;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        pending = gPending;
    }
    byAddress = byUser = 0;
    std::vector<JobKey> gone;
    for (const auto& p : pending) {
        if (!WaitingJob(papplClientGetSystem(client), p.first)) {
            gone.push_back(p.first);
            continue;
        }
        if (p.second.address != address) continue;
        byAddress++;
        if (p.second.user == user) byUser++;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    for (const JobKey& key : gone) gPending.erase(key);
}

int Option(int num_options, cups_option_t* options, const char* name, int fallback) {
    const char* value = cupsGetOption(name, num_options, options);
    if (!value) return fallback;
    char* end = nullptr;
    const long n = strtol(value, &end, 10);
    return end != value && !*end && n >= 1 && n <= 86400 ? static_cast<int>(n) : fallback;
}

// The document read in this thread.
struct Reading {
    http_t* http = nullptr;
    int waitedMs = 0;  // waiting for the client since its last kDfAppIdleMinBytes
    size_t bytes = 0;
    bool cutOff = false;
};
thread_local Reading* tReading = nullptr;

}  // namespace

void DfAppJobLimitsSetup(pappl_system_t* system, int num_options, cups_option_t* options) {
    gMultipleOperationTimeOut =
        Option(num_options, options, "multiple-operation-time-out", kDfAppMultipleOperationTimeOut);
    gClientIdleTimeOut = Option(num_options, options, "client-idle-time-out", kDfAppClientIdleTimeOut);
    papplSystemAddTimerCallback(system, time(nullptr) + 1, 1, ExpireJobs, nullptr);
}

bool DfAppJobLimitsAdmit(pappl_client_t* client) {
    if (papplClientGetOperation(client) != IPP_OP_CREATE_JOB) return true;
    int byAddress, byUser;
    Count(client, byAddress, byUser);
    if (byUser < kDfAppMaxPendingPerUser && byAddress < kDfAppMaxPendingPerAddress) return true;
    papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_POSSIBLE,
                          "Too many jobs without a document from this client (%d); send their documents or "
                          "wait until they time out.",
                          byUser >= kDfAppMaxPendingPerUser ? byUser : byAddress);
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Create-Job refused: %d jobs without a document from %s.",
                   byAddress, Address(client).c_str());
    return false;
}

void DfAppJobLimitsAnswered(pappl_client_t* client) {
    ipp_t* response = papplClientGetResponse(client);
    if (!response) return;
    const ipp_op_t op = papplClientGetOperation(client);
    if (op == IPP_OP_CREATE_JOB && ippGetStatusCode(response) < IPP_STATUS_REDIRECTION_OTHER_SITE) {
        if (pappl_job_t* job = DfAppResponseJob(client)) {
            std::lock_guard<std::mutex> lock(gMutex);
            gPending[KeyOf(job)] = Pending{Address(client), User(client)};
        }
    }
    if (op == IPP_OP_GET_PRINTER_ATTRIBUTES || op == IPP_OP_GET_PRINTERS) {
        for (ipp_attribute_t* attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
            const char* name = ippGetName(attr);
            if (name && !strcmp(name, "multiple-operation-time-out") &&
                ippGetValueTag(attr) == IPP_TAG_INTEGER)
                ippSetInteger(response, &attr, 0, gMultipleOperationTimeOut);
        }
    }
}

pappl_job_t* DfAppResponseJob(pappl_client_t* client) {
    if (pappl_job_t* job = papplClientGetJob(client)) return job;
    ipp_attribute_t* attr = ippFindAttribute(papplClientGetResponse(client), "job-id", IPP_TAG_INTEGER);
    pappl_printer_t* printer = papplClientGetPrinter(client);
    return attr && printer ? papplPrinterFindJob(printer, ippGetInteger(attr, 0)) : nullptr;
}

DfAppDocumentRead::DfAppDocumentRead(pappl_client_t* client, pappl_job_t* job)
    : m_outer(!tReading), m_job(job) {
    if (!m_outer) return;  // the flush inside a copy: the copy's
    tReading = new Reading;
    tReading->http = papplClientGetHTTP(client);
    if (m_job) {
        std::lock_guard<std::mutex> lock(gMutex);
        gUploading.insert(KeyOf(m_job));
    }
}

DfAppDocumentRead::~DfAppDocumentRead() {
    if (!m_outer) return;
    const bool cutOff = tReading->cutOff;
    delete tReading;
    tReading = nullptr;
    if (!m_job) return;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gUploading.erase(KeyOf(m_job));
    }
    if (!cutOff) return;
    char message[200];
    snprintf(
        message, sizeof(message),
        "The client stopped sending the document (less than %zu bytes in %d seconds); the job is aborted.",
        kDfAppIdleMinBytes, gClientIdleTimeOut);
    Abort(m_job, message);
    // Not the document's fault: PAPPL blamed its format for the cut.
    papplJobSetReasons(m_job, PAPPL_JREASON_NONE, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
}

extern "C" {

// PAPPL reads documents with httpRead2 (the copy of a document, the raster
// stream through cupsRasterOpenIO, the flush of a refused one). While one is
// read here, the wait for the client's bytes is bounded.
ssize_t httpRead2(http_t* http, char* buffer, size_t length) {
    using Real = ssize_t (*)(http_t*, char*, size_t);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "httpRead2"));
    if (!real) return -1;
    Reading* r = tReading;
    if (!r || r->http != http) return real(http, buffer, length);
    if (r->cutOff) return -1;
    // Once the whole body is in (the request's state has moved on), the
    // read returns at once: no wait.
    const http_state_t state = httpGetState(http);
    if (state != HTTP_STATE_POST_RECV && state != HTTP_STATE_PUT_RECV) return real(http, buffer, length);
    // The read itself counts too: a chunked body can dribble in inside it.
    const auto start = std::chrono::steady_clock::now();
    const int left = gClientIdleTimeOut * 1000 - r->waitedMs;
    if (left <= 0 || !httpWait(http, left)) {
        // Nothing more is read from this client: its connection ends.
        r->cutOff = true;
        shutdown(httpGetFd(http), SHUT_RD);
        return -1;
    }
    const ssize_t n = real(http, buffer, length);
    r->waitedMs += static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
    if (n > 0) {
        r->bytes += static_cast<size_t>(n);
        if (r->bytes >= kDfAppIdleMinBytes) {
            r->bytes = 0;
            r->waitedMs = 0;
        }
    }
    return n;
}

}  // extern "C"
