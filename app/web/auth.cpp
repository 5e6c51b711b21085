// Authentication of remote configuration changes. PAPPL 1.3.1 runs PAM
// itself but then misreads getgrouplist()'s result on Linux (a positive
// count is taken for failure), so with an admin group set it refuses every
// user. The check is therefore ours: HTTP Basic credentials through PAM
// (authenticate and account), then group membership.
#include "app/web/auth.h"

#include "app/pappl/fencehooks.h"
#include "app/pappl/jobaccess.h"
#include "app/web/access.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char* const kDefaultService = "dotforge-app";
const char* const kDefaultGroup = "lpadmin";

struct Credentials {
    const char* user;
    const char* password;
};

// Answers PAM's prompts from the request's credentials; never a terminal.
int Converse(int count, const struct pam_message** msg, struct pam_response** resp, void* data) {
    const Credentials* c = static_cast<const Credentials*>(data);
    pam_response* replies =
        static_cast<pam_response*>(calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (!replies) return PAM_BUF_ERR;
    for (int i = 0; i < count; i++) {
        switch (msg[i]->msg_style) {
            case PAM_PROMPT_ECHO_ON:
                replies[i].resp = strdup(c->user);
                break;
            case PAM_PROMPT_ECHO_OFF:
                replies[i].resp = strdup(c->password);
                break;
            default:
                break;
        }
    }
    *resp = replies;
    return PAM_SUCCESS;
}

bool PamCheck(const char* service, const char* user, const char* password) {
    Credentials c{user, password};
    pam_conv conv{Converse, &c};
    pam_handle_t* pamh = nullptr;
    int err = pam_start(service, user, &conv, &pamh);
    if (err == PAM_SUCCESS) err = pam_authenticate(pamh, PAM_SILENT);
    if (err == PAM_SUCCESS) err = pam_acct_mgmt(pamh, PAM_SILENT);
    if (pamh) pam_end(pamh, err);
    return err == PAM_SUCCESS;
}

// Status queries: PAPPL asks for the admin group when the asker is not known
// to own the job, and a client that sent a job without logging in is not,
// yet it must be able to follow its job.
bool StatusQuery(pappl_client_t* client) {
    if (papplClientGetMethod(client) != HTTP_STATE_POST) return false;
    switch (papplClientGetOperation(client)) {
        case IPP_OP_GET_JOB_ATTRIBUTES:
        case IPP_OP_GET_JOBS:
        case IPP_OP_GET_PRINTER_ATTRIBUTES:
        case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
        case IPP_OP_GET_PRINTERS:
        case IPP_OP_GET_SYSTEM_ATTRIBUTES:
        case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
        case IPP_OP_GET_SUBSCRIPTIONS:
        case IPP_OP_GET_NOTIFICATIONS:
        case IPP_OP_VALIDATE_JOB:
            return true;
        default:
            return false;
    }
}

// PAPPL asks with the admin group for configuration and with the printer's
// print group for jobs; without a print group anyone may print.
http_status_t Authorize(pappl_client_t* client, const char* group, gid_t gid, void* data) {
    const DfAppAuth& auth = *static_cast<const DfAppAuth*>(data);
    if (!group || !*group) return HTTP_STATUS_CONTINUE;
    const bool admin = group == auth.installedGroup;
    // PAPPL 1.3.1 asks the callback before its own loopback test, which
    // would let every local user (127.x, ::1, the domain socket) configure
    // printers, and so write wherever a device URI points. Printing stays
    // open to them; configuring needs an administrator's uid or a login.
    uid_t uid = 0;
    const bool local = httpAddrLocalhost(httpGetAddress(papplClientGetHTTP(client)));
    if (local &&
        (!admin || DfAppJobOperation(client) ||
         (DfAppLocalPeerUid(client, uid) && DfAppLocalAdmin(uid, auth.haveLocalGroup, auth.localGid))))
        return HTTP_STATUS_CONTINUE;
    if (StatusQuery(client)) return HTTP_STATUS_CONTINUE;
    if (auth.service.empty()) {
        if (local)
            papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Local user %u is not an administrator.",
                           static_cast<unsigned>(uid));
        else
            papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Configuration from other machines is off.");
        return HTTP_STATUS_FORBIDDEN;
    }
    const gid_t wanted = admin ? auth.gid : gid;
    const char* field = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
    if (!field || strncmp(field, "Basic ", 6)) return HTTP_STATUS_UNAUTHORIZED;
    char decoded[512];
    int len = sizeof(decoded);
    field += 6;
    while (*field == ' ') field++;
    httpDecode64_2(decoded, &len, field);
    char* colon = strchr(decoded, ':');
    if (!colon || colon == decoded) return HTTP_STATUS_UNAUTHORIZED;
    *colon = '\0';
    const char* user = decoded;
    const bool ok = PamCheck(auth.service.c_str(), user, colon + 1);
    memset(colon + 1, 0, strlen(colon + 1));
    if (!ok) {
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Login of '%s' refused.", user);
        return HTTP_STATUS_UNAUTHORIZED;
    }
    if (!DfAppUserInGroup(user, wanted)) {
        // A job's owner, logged in, may change that job (jobaccess.h).
        pappl_job_t* job = papplClientGetJob(client);
        const char* owner = job ? papplJobGetUsername(job) : nullptr;
        if (admin && owner && !strcmp(owner, user) && DfAppOwnerOperation(papplClientGetOperation(client))) {
            papplLogClient(client, PAPPL_LOGLEVEL_INFO, "'%s' logged in (owner of job %d).", user,
                           papplJobGetID(job));
            return HTTP_STATUS_CONTINUE;
        }
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "'%s' is not in group '%s'.", user, group);
        return HTTP_STATUS_FORBIDDEN;
    }
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "'%s' logged in (group '%s').", user, group);
    return HTTP_STATUS_CONTINUE;
}

}  // namespace

DfAppAuth DfAppAuthFromOptions(int num_options, cups_option_t* options) {
    DfAppAuth auth;
    const char* service = cupsGetOption("auth-service", num_options, options);
    const char* group = cupsGetOption("admin-group", num_options, options);
    if (!service) service = kDefaultService;
    if (!group) group = kDefaultGroup;
    if (const struct group* local = *group ? getgrnam(group) : nullptr) {
        auth.haveLocalGroup = true;
        auth.localGid = local->gr_gid;
    }
    if (!*service || !strcmp(service, "none")) {
        auth.warning = "auth-service=none: configuration only from this machine.";
        return auth;
    }
    const struct group* g = *group ? getgrnam(group) : nullptr;
    if (!g) {
        auth.warning = std::string("No group '") + group + "': configuration only from this machine.";
        return auth;
    }
    auth.service = service;
    auth.group = group;
    auth.gid = g->gr_gid;
    return auth;
}

// Installed even when remote configuration is off: without an auth service
// or callback PAPPL 1.3.1 lets any client post its web forms. The admin group
// then only marks configuration requests (root exists everywhere).
const DfAppAuth* gInstalled = nullptr;

void DfAppAuthInstall(pappl_system_t* system, DfAppAuth& auth) {
    gInstalled = &auth;
    auth.installedGroup = auth.service.empty() ? "root" : auth.group;
    papplSystemSetAdminGroup(system, auth.installedGroup.c_str());
    papplSystemSetAuthCallback(system, "Basic", Authorize, &auth);
    // The fence's guards ask the same questions.
    DfFenceHooks& hooks = DfAppFenceHooks();
    hooks.localPeerUid = DfAppLocalPeerUid;
    hooks.jobOperation = DfAppJobOperation;
    hooks.authLocalAdmin = DfAppAuthLocalAdmin;
    hooks.authIsAdminGroup = DfAppAuthIsAdminGroup;
}

bool DfAppUserInGroup(const char* user, gid_t gid) {
    struct passwd pwd;
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (getpwnam_r(user, &pwd, buf.data(), buf.size(), &found) != 0 || !found) return false;
    if (found->pw_gid == gid) return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(user, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));  // count now holds the size needed
        if (getgrouplist(user, found->pw_gid, groups.data(), &count) < 0) return false;
    }
    for (int i = 0; i < count; i++)
        if (groups[static_cast<size_t>(i)] == gid) return true;
    return false;
}

bool DfAppAuthIsAdminGroup(const char* group) {
    return gInstalled && group && gInstalled->installedGroup == group;
}

bool DfAppAuthLocalAdmin(uid_t uid) {
    return DfAppLocalAdmin(uid, gInstalled && gInstalled->haveLocalGroup,
                           gInstalled ? gInstalled->localGid : 0);
}
