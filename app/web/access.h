// Who on this machine may change the configuration. Remote clients log in
// (app/web/auth.cpp); a local client is known by the user id of its socket.
// (Which device URIs a printer may have: app/devices/devicelist.h.)
#pragma once

#include <pappl/pappl.h>
#include <sys/types.h>

#include <string>

// The user id of the process at the other end of CLIENT's connection when it
// runs on this machine: the control socket's peer credentials, or for a
// loopback TCP connection the owner of the client's socket as the kernel
// lists it in /proc/net/tcp and /proc/net/tcp6. False when it cannot tell.
bool DfAppLocalPeerUid(pappl_client_t* client, uid_t& uid);

// Finds the owner of the loopback TCP socket whose own end is PEER and whose
// far end is LOCAL in a /proc/net/tcp* table (TABLE's text); the addresses
// in the table's notation ("0100007F:1F90").
bool DfAppUidFromTcpTable(const std::string& table, const std::string& peer, const std::string& local,
                          uid_t& uid);

// True when CLIENT's request is an IPP operation on a job (sending its
// document, cancelling, holding it): on this machine these pass the admin
// check; whose job it is, is checked in jobaccess.cpp. Not Cancel-My-Jobs:
// PAPPL 1.3.1 cancels every job of the printer for it.
bool DfAppJobOperation(pappl_client_t* client);

// True when UID may configure printers from this machine: root, the
// server's own user, or a member of GID when HAVE_GROUP.
bool DfAppLocalAdmin(uid_t uid, bool haveGroup, gid_t gid);
