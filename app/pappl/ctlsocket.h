// The control socket through which the sub-commands reach the server: where
// it lives for each user and the checks that keep it that user's own, so
// that no other user can listen in its place or answer in a server's name.
#pragma once

#include <cups/cups.h>

#include <string>

// This user's control socket. Root: $SNAP_COMMON/dotforge-app.sock or
// /run/dotforge-app.sock. Another user: dotforge-app.sock in
// $XDG_RUNTIME_DIR (else /run/user/UID) when that is the user's own
// directory with mode 0700; else dotforge-app<UID>.sock in $TMPDIR when that
// is the user's own directory that no one else may write (the service's
// runtime directory); else dotforge-app.sock in dotforge-app-UID/ under
// $TMPDIR or /tmp, a 0700 directory of the user's that CREATE makes (the
// server) when it is missing. False with ERROR when that directory, or the
// directory of root's socket, is not the user's alone.
bool DfAppSocketPath(bool create, std::string& path, std::string& error);

enum class DfAppReach { kUp, kNoServer, kRefused };

// Connects to this user's own server. kUp: HTTP is the connection;
// kNoServer: no server listens on the socket; kRefused: the socket, its
// directory or the server at its other end is another user's. MESSAGE says
// so in words for the user.
DfAppReach DfAppReachServer(http_t** http, std::string& message);
