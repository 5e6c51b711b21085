// The control socket: its place for each user, the ownership checks, and
// PAPPL 1.3.1's own socket functions replaced (they are exported from
// libpappl and called through its PLT, as in hardening.cpp):
//  - _papplMainloopGetServerPath puts a non-root user's socket at
//    TMPDIR/dotforge-app<UID>.sock, a name in /tmp that any other user can
//    take first and listen on, receiving what the user submits;
//  - _papplMainloopConnect connects to whatever listens there, then, as a
//    non-root user, falls back to root's socket (another user's server),
//    and with no server starts a hidden private one that keeps the caller's
//    output open (`dotforge-app printers | head` never returned).
// A sub-command now reaches only a server of its own user, through a socket
// that user owns in a directory only that user can write, or says that no
// server runs.
#include "app/pappl/ctlsocket.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kName = "dotforge-app";

std::string Mode(mode_t mode) {
    char text[16];
    snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// DIR is a real directory of this user's (not a link), writable by nobody
// else; with PRIVATE, readable by nobody else either.
bool OwnDirectory(const std::string& dir, bool isPrivate, std::string* why = nullptr) {
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0) {
        if (why) *why = "'" + dir + "': " + strerror(errno);
        return false;
    }
    const mode_t others = isPrivate ? 077 : 022;
    if (S_ISDIR(st.st_mode) && st.st_uid == geteuid() && !(st.st_mode & others)) return true;
    if (why) {
        if (!S_ISDIR(st.st_mode))
            *why = "'" + dir + "' is not a directory";
        else
            *why = "the directory '" + dir + "' belongs to user " + std::to_string(st.st_uid) +
                   " with mode " + Mode(st.st_mode) + ", not to user " + std::to_string(geteuid()) +
                   (isPrivate ? " alone (mode 0700)" : " alone");
    }
    return false;
}

std::string RootSocket() {
    const char* snap = getenv("SNAP_COMMON");
    return snap && *snap ? std::string(snap) + "/" + kName + ".sock" : std::string("/run/") + kName + ".sock";
}

}  // namespace

bool DfAppSocketPath(bool create, std::string& path, std::string& error) {
    const uid_t uid = geteuid();
    const std::string id = std::to_string(uid);
    if (uid == 0) {
        path = RootSocket();
        const std::string dir = path.substr(0, path.rfind('/'));
        struct stat st;
        // /run, or SNAP_COMMON: root's, written by no one else.
        if (stat(dir.empty() ? "/" : dir.c_str(), &st) == 0 && st.st_uid == 0 && !(st.st_mode & 022))
            return true;
        error = "The control socket's directory '" + dir + "' is not root's alone; refusing to use it.";
        return false;
    }
    const char* xdg = getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg == '/' && OwnDirectory(xdg, true)) {
        path = std::string(xdg) + "/" + kName + ".sock";
        return true;
    }
    if (OwnDirectory("/run/user/" + id, true)) {
        path = "/run/user/" + id + "/" + kName + ".sock";
        return true;
    }
    const char* tmp = getenv("TMPDIR");
    const std::string base = tmp && *tmp == '/' ? tmp : "/tmp";
    if (OwnDirectory(base, false)) {
        path = base + "/" + kName + id + ".sock";
        return true;
    }
    const std::string dir = base + "/" + kName + "-" + id;
    if (create && mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "Unable to create the control socket's directory '" + dir + "': " + strerror(errno) + ".";
        return false;
    }
    path = dir + "/" + kName + ".sock";
    // A directory nobody made is no server, for a sub-command.
    struct stat st;
    if (!create && lstat(dir.c_str(), &st) != 0 && errno == ENOENT) return true;
    std::string why;
    if (OwnDirectory(dir, true, &why)) return true;
    error = "Refusing the control socket " + path + ": " + why +
            ". Another user may have made it; remove it, or set XDG_RUNTIME_DIR to a directory of your own.";
    return false;
}

DfAppReach DfAppReachServer(http_t** http, std::string& message) {
    *http = nullptr;
    std::string path;
    if (!DfAppSocketPath(false, path, message)) return DfAppReach::kRefused;
    const std::string none = std::string("no ") + kName + " server is running (no control socket " + path +
                             "); start it with '" + kName + " server'.";
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        message = none;
        return DfAppReach::kNoServer;
    }
    if (!S_ISSOCK(st.st_mode) || st.st_uid != geteuid()) {
        message = "Refusing the control socket " + path + ": " +
                  (S_ISSOCK(st.st_mode) ? "it belongs to user " + std::to_string(st.st_uid) +
                                              ", not to you (user " + std::to_string(geteuid()) + ")."
                                        : std::string("it is not a socket."));
        return DfAppReach::kRefused;
    }
    http_t* h =
        httpConnect2(path.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
    if (!h) {
        message = none;
        return DfAppReach::kNoServer;
    }
    // The socket file is ours, yet it is the server at the other end that
    // answers: it must run as this user too.
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (getsockopt(httpGetFd(h), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) {
        httpClose(h);
        message = "Refusing the server on " + path + ": it runs as user " + std::to_string(cred.uid) +
                  ", not as you (user " + std::to_string(geteuid()) + ").";
        return DfAppReach::kRefused;
    }
    *http = h;
    return DfAppReach::kUp;
}

extern "C" {

char* _papplMainloopGetServerPath(const char*, uid_t, char* buffer, size_t bufsize) {
    std::string path, error;
    DfAppSocketPath(false, path, error);
    snprintf(buffer, bufsize, "%s", path.c_str());
    return buffer;
}

// PAPPL's sub-commands ask with AUTO_START; no server is started here.
http_t* _papplMainloopConnect(const char*, bool) {
    http_t* http = nullptr;
    std::string message;
    if (DfAppReachServer(&http, message) != DfAppReach::kUp)
        fprintf(stderr, "%s: %s\n", kName, message.c_str());
    return http;
}

}  // extern "C"
