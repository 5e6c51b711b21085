// Job owners: the local users who created jobs, and the check PAPPL 1.3.1
// makes before a job is changed, replaced (it is exported from libpappl and
// called through its PLT, as in hardening.cpp). PAPPL's
// _papplPrinterIsAuthorized asks for the admin group when the requesting
// user is not the job's, and a client on this machine passed that check
// whoever it was: `dotforge-app cancel` by another user, Hold-Job and
// Cancel-Job over loopback with any requesting-user-name. A local client is
// now known by its socket (access.h), never by the name it gives.
#include "app/pappl/jobaccess.h"

#include <dlfcn.h>
#include <pwd.h>
#include <sys/socket.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "app/pappl/fencehooks.h"

extern "C" bool _papplPrinterIsAuthorized(pappl_client_t* client);

namespace {

std::mutex gCreatorsMutex;
std::map<std::pair<int, int>, uid_t> gCreators;  // (printer id, job id): the local user who made it
const size_t kMaxCreators = 10000;               // the oldest are forgotten beyond

std::string UserName(uid_t uid) {
    struct passwd pwd;
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(uid, &pwd, buf, sizeof(buf), &found) != 0 || !found) return std::string();
    return found->pw_name;
}

bool LocalClient(pappl_client_t* client) {
    http_addr_t* addr = httpGetAddress(papplClientGetHTTP(client));
    return httpAddrFamily(addr) == AF_LOCAL || httpAddrLocalhost(addr);
}

void PrintingJob(pappl_job_t* job, void* data) {
    if (papplJobGetState(job) == IPP_JSTATE_PROCESSING) *static_cast<pappl_job_t**>(data) = job;
}

bool Refuse(pappl_client_t* client, const std::string& why) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_AUTHORIZED, "%s", why.c_str());
    return false;
}

}  // namespace

bool DfAppOwnerOperation(ipp_op_t op) {
    switch (op) {
        case IPP_OP_CANCEL_JOB:
        case IPP_OP_CANCEL_CURRENT_JOB:
        case IPP_OP_HOLD_JOB:
        case IPP_OP_RELEASE_JOB:
        case IPP_OP_RESTART_JOB:
        case IPP_OP_SET_JOB_ATTRIBUTES:
        case IPP_OP_SEND_DOCUMENT:
        case IPP_OP_SEND_URI:
        case IPP_OP_CLOSE_JOB:
            return true;
        default:
            return false;
    }
}

void DfAppNoteJobCreator(pappl_client_t* client) {
    const ipp_op_t op = papplClientGetOperation(client);
    if (op != IPP_OP_PRINT_JOB && op != IPP_OP_PRINT_URI && op != IPP_OP_CREATE_JOB) return;
    ipp_t* response = papplClientGetResponse(client);
    pappl_printer_t* printer = papplClientGetPrinter(client);
    if (!response || !printer || ippGetStatusCode(response) >= IPP_STATUS_REDIRECTION_OTHER_SITE) return;
    ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
    uid_t uid;
    if (!id || !LocalClient(client) || !DfAppFenceHooks().localPeerUid(client, uid)) return;
    std::lock_guard<std::mutex> lock(gCreatorsMutex);
    gCreators[{papplPrinterGetID(printer), ippGetInteger(id, 0)}] = uid;
    if (gCreators.size() > kMaxCreators) gCreators.erase(gCreators.begin());
}

bool DfAppLocalJobOwner(int printerId, int jobId, const char* jobUser, uid_t uid) {
    {
        std::lock_guard<std::mutex> lock(gCreatorsMutex);
        const auto found = gCreators.find({printerId, jobId});
        if (found != gCreators.end() && found->second == uid) return true;
    }
    const std::string name = UserName(uid);
    return !name.empty() && jobUser && name == jobUser;
}

extern "C" {

bool _papplPrinterIsAuthorized(pappl_client_t* client) {
    static const auto real =
        reinterpret_cast<bool (*)(pappl_client_t*)>(dlsym(RTLD_NEXT, "_papplPrinterIsAuthorized"));
    const ipp_op_t op = papplClientGetOperation(client);
    pappl_job_t* job = papplClientGetJob(client);
    // Cancel-Current-Job names no job: it is the one printing.
    if (!job && op == IPP_OP_CANCEL_CURRENT_JOB && papplClientGetPrinter(client))
        papplPrinterIterateActiveJobs(papplClientGetPrinter(client), PrintingJob, &job, 1, 0);
    if (!job || !DfAppOwnerOperation(op)) return real(client);
    if (!LocalClient(client)) {
        // PAPPL checks the owner of a job the request names, not of this one.
        if (!papplClientGetJob(client)) {
            const http_status_t code = papplClientIsAuthorized(client);
            if (code != HTTP_STATUS_CONTINUE) {
                papplClientRespond(client, code, nullptr, nullptr, 0, 0);
                return false;
            }
        }
        return real(client);
    }
    uid_t uid = 0;
    const bool known = DfAppFenceHooks().localPeerUid(client, uid);
    if (known && DfAppFenceHooks().authLocalAdmin(uid)) return real(client);
    const char* owner = papplJobGetUsername(job);
    const int id = papplJobGetID(job);
    if (known && DfAppLocalJobOwner(papplPrinterGetID(papplJobGetPrinter(job)), id, owner, uid))
        return real(client);
    if (known)
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Local user %u may not change job %d of '%s'.",
                       static_cast<unsigned>(uid), id, owner ? owner : "");
    return Refuse(client, "Job " + std::to_string(id) + " belongs to '" + (owner ? owner : "") +
                              "': only its owner or an administrator may change it.");
}

}  // extern "C"
