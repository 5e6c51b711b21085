// Local administrators: see access.h.
#include "app/web/access.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/web/auth.h"

namespace {

// "0100007F:1F90": how /proc/net/tcp writes 127.0.0.1:8080 (the address as
// the host's 32-bit words, the port in hex).
std::string TableAddress(const sockaddr_storage& a) {
    char text[64] = "";
    if (a.ss_family == AF_INET) {
        const sockaddr_in& in = reinterpret_cast<const sockaddr_in&>(a);
        snprintf(text, sizeof(text), "%08X:%04X", in.sin_addr.s_addr, ntohs(in.sin_port));
    } else if (a.ss_family == AF_INET6) {
        const sockaddr_in6& in6 = reinterpret_cast<const sockaddr_in6&>(a);
        uint32_t words[4];
        memcpy(words, &in6.sin6_addr, sizeof(words));
        snprintf(text, sizeof(text), "%08X%08X%08X%08X:%04X", words[0], words[1], words[2], words[3],
                 ntohs(in6.sin6_port));
    }
    return text;
}

std::string ReadAll(const char* path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

bool DfAppUidFromTcpTable(const std::string& table, const std::string& peer, const std::string& local,
                          uid_t& uid) {
    std::istringstream lines(table);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string slot, own, far, state, queues, timer, retr;
        long owner = -1;
        if (!(f >> slot >> own >> far >> state >> queues >> timer >> retr >> owner)) continue;
        if (own == peer && far == local && owner >= 0) {
            uid = static_cast<uid_t>(owner);
            return true;
        }
    }
    return false;
}

bool DfAppLocalPeerUid(pappl_client_t* client, uid_t& uid) {
    http_t* http = papplClientGetHTTP(client);
    const int fd = httpGetFd(http);
    sockaddr_storage local{}, peer{};
    socklen_t len = sizeof(peer);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
    if (peer.ss_family == AF_UNIX) {
        ucred cred{};
        socklen_t clen = sizeof(cred);
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &clen) != 0) return false;
        uid = cred.uid;
        return true;
    }
    len = sizeof(local);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) return false;
    // The client's socket is listed with its own address first.
    const char* table = peer.ss_family == AF_INET6 ? "/proc/net/tcp6" : "/proc/net/tcp";
    return DfAppUidFromTcpTable(ReadAll(table), TableAddress(peer), TableAddress(local), uid);
}

bool DfAppJobOperation(pappl_client_t* client) {
    if (papplClientGetMethod(client) != HTTP_STATE_POST) return false;
    switch (papplClientGetOperation(client)) {
        case IPP_OP_PRINT_JOB:
        case IPP_OP_PRINT_URI:
        case IPP_OP_CREATE_JOB:
        case IPP_OP_SEND_DOCUMENT:
        case IPP_OP_SEND_URI:
        case IPP_OP_CLOSE_JOB:
        case IPP_OP_CANCEL_JOB:
        case IPP_OP_CANCEL_CURRENT_JOB:
        case IPP_OP_HOLD_JOB:
        case IPP_OP_RELEASE_JOB:
        case IPP_OP_RESTART_JOB:
        case IPP_OP_SET_JOB_ATTRIBUTES:
        case IPP_OP_VALIDATE_JOB:
        case IPP_OP_VALIDATE_DOCUMENT:
        case IPP_OP_IDENTIFY_PRINTER:
            return true;
        default:
            return false;
    }
}

bool DfAppLocalAdmin(uid_t uid, bool haveGroup, gid_t gid) {
    if (uid == 0 || uid == geteuid()) return true;
    if (!haveGroup) return false;
    struct passwd pwd;
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(uid, &pwd, buf, sizeof(buf), &found) != 0 || !found) return false;
    return DfAppUserInGroup(found->pw_name, gid);
}
