// Who may change the printer application's configuration. A client on this
// machine is trusted when its user is root, the server's own or in the
// admin group (its socket tells, see access.h); any other client, on this
// machine or another, must log in with HTTP Basic over TLS as a PAM user in the admin
// group. Jobs need no login, as IPP Everywhere clients expect; a job is
// changed only by its owner or an administrator (jobaccess.h).
#pragma once

#include <pappl/pappl.h>
#include <sys/types.h>

#include <string>

struct DfAppAuth {
    std::string service;  // PAM service, empty: remote configuration refused
    std::string group;    // admin group (empty with it)
    gid_t gid = 0;
    std::string warning;  // why remote configuration is off, when it is
    // Local configuration: root, the server's own user and this group's
    // members (admin-group, whether or not remote configuration is on).
    bool haveLocalGroup = false;
    gid_t localGid = 0;
    std::string installedGroup;  // the admin group PAPPL asks with
};

// Reads auth-service (default "dotforge-app"; "none" turns remote
// configuration off) and admin-group (default "lpadmin"). A group that does
// not exist turns it off too, rather than admitting any PAM user.
DfAppAuth DfAppAuthFromOptions(int num_options, cups_option_t* options);

// Installs the check on a system created with AUTH's service, and the
// fence's access hooks (app/pappl/fencehooks.h); AUTH must outlive the system.
void DfAppAuthInstall(pappl_system_t* system, DfAppAuth& auth);

// True when USER's primary or supplementary groups include GID.
bool DfAppUserInGroup(const char* user, gid_t gid);

// For the installed check: whether GROUP is the admin group PAPPL asks
// with, and whether local user UID may configure printers.
bool DfAppAuthIsAdminGroup(const char* group);
bool DfAppAuthLocalAdmin(uid_t uid);
