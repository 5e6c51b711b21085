// socket:// devices: connect with a bound, writes that a cancel or a stalled
// printer ends, reads for status queries. A connection a write gave up on
// is reset (its queued bytes never reach the printer) and the next job on
// the device PAPPL kept open connects afresh.
#include "app/devices/socketdevice.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "app/devices/devicewrite.h"

namespace {

const char kScheme[] = "dfsocket";

// Standard layout with the descriptor first: app/core/status.cpp polls it.
// The connection closes with the device (the kernel sends what is still
// queued) unless Drop reset it before.
struct SocketDevice {
    SocketDevice() = default;
    SocketDevice(const SocketDevice&) = delete;
    SocketDevice& operator=(const SocketDevice&) = delete;
    ~SocketDevice() {
        if (fd >= 0) close(fd);
    }
    int fd = -1;
    int port = 9100;
    char host[256] = "";
    bool dead = false;               // a write gave up on the connection
    pappl_job_t* deadJob = nullptr;  // whose write it was
};

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// host and port of socket://HOST[:PORT][/...]; false when there is none.
bool ParseUri(const char* uri, SocketDevice* d) {
    char scheme[32], user[256], resource[256];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), d->host,
                        sizeof(d->host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK ||
        !d->host[0])
        return false;
    d->port = port > 0 ? port : 9100;
    return true;
}

// A non-blocking connected socket, or -1 with *why set.
int Connect(const SocketDevice& d, std::string* why) {
    const std::string port = std::to_string(d.port);
    http_addrlist_t* list = httpAddrGetList(d.host, AF_UNSPEC, port.c_str());
    if (!list) {
        *why = std::string("Unable to look up '") + d.host + "': " + cupsLastErrorString();
        return -1;
    }
    const long long end = NowMs() + kDfSocketConnectSeconds * 1000LL;
    int error = ETIMEDOUT, fd = -1;
    for (http_addrlist_t* a = list; a && fd < 0 && NowMs() < end; a = a->next) {
        const int s = socket(httpAddrFamily(&a->addr), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0) {
            error = errno;
            continue;
        }
        int r = connect(s, &a->addr.addr, static_cast<socklen_t>(httpAddrLength(&a->addr)));
        if (r < 0 && errno == EINPROGRESS) {
            pollfd p = {s, POLLOUT, 0};
            do {
                r = poll(&p, 1, static_cast<int>(end - NowMs() > 0 ? end - NowMs() : 0));
            } while (r < 0 && errno == EINTR);
            int soerr = ETIMEDOUT;
            socklen_t len = sizeof(soerr);
            if (r > 0 && getsockopt(s, SOL_SOCKET, SO_ERROR, &soerr, &len) < 0) soerr = errno;
            r = soerr ? -1 : 0;
            errno = soerr;
        }
        if (r == 0) {
            fd = s;
        } else {
            error = errno;
            close(s);
        }
    }
    httpAddrFreeList(list);
    if (fd < 0) *why = std::string("Unable to connect to '") + d.host + ":" + port + "': " + strerror(error);
    return fd;
}

// Resets the connection: what it still queues never reaches the printer.
void Drop(SocketDevice* d) {
    if (d->fd < 0) return;
    const linger reset = {1, 0};
    setsockopt(d->fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    close(d->fd);
    d->fd = -1;
}

bool OpenCb(pappl_device_t* device, const char* uri, const char*) {
    auto d = std::make_unique<SocketDevice>();
    std::string why;
    if (!ParseUri(uri, d.get())) {
        papplDeviceError(device, "Bad socket device URI.");
        return false;
    }
    if ((d->fd = Connect(*d, &why)) < 0) {
        papplDeviceError(device, "%s", why.c_str());
        return false;
    }
    // PAPPL holds the connection as the device's data until CloseCb takes it
    // back; nothing else frees it.
    papplDeviceSetData(device, d.release());
    return true;
}

void CloseCb(pappl_device_t* device) {
    std::unique_ptr<SocketDevice> d(static_cast<SocketDevice*>(papplDeviceGetData(device)));
    papplDeviceSetData(device, nullptr);
    if (d && d->dead) Drop(d.get());
}

ssize_t ReadCb(pappl_device_t* device, void* buffer, size_t bytes) {
    SocketDevice* d = static_cast<SocketDevice*>(papplDeviceGetData(device));
    if (!d || d->fd < 0) return -1;
    pollfd p = {d->fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) return 0;
    const ssize_t n = recv(d->fd, buffer, bytes, 0);
    return n < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : n;
}

ssize_t WriteCb(pappl_device_t* device, const void* buffer, size_t bytes) {
    SocketDevice* d = static_cast<SocketDevice*>(papplDeviceGetData(device));
    if (!d) return -1;
    pappl_job_t* job = DfAppWritingJobNow();
    if (d->dead) {
        // The rest of the job it failed for goes nowhere (PAPPL 1.3.1 keeps
        // unsent bytes in the device's buffer after a failed write and
        // flushes them with the next); a later job connects again.
        if (!job || job == d->deadJob) {
            DfAppNoteWriteFailed();
            return -1;
        }
        std::string why;
        if ((d->fd = Connect(*d, &why)) < 0) {
            DfAppNoteWriteFailed(why);
            papplDeviceError(device, "%s", why.c_str());
            return -1;
        }
        d->dead = false;
        d->deadJob = nullptr;
    }
    std::string why;
    if (!DfAppWriteAll(d->fd, buffer, bytes, true, &why)) {
        DfAppNoteWriteFailed(why);
        papplDeviceError(device, "%s", why.c_str());
        d->dead = true;
        d->deadJob = job;
        Drop(d);
        return -1;
    }
    return static_cast<ssize_t>(bytes);
}

pappl_preason_t StatusCb(pappl_device_t*) {
    return PAPPL_PREASON_NONE;
}

}  // namespace

void DfRegisterSocketScheme() {
    // No list callback: PAPPL's own "socket" scheme stays the one listed.
    papplDeviceAddScheme(kScheme, PAPPL_DEVTYPE_SOCKET, nullptr, OpenCb, CloseCb, ReadCb, WriteCb, StatusCb,
                         nullptr);
}

std::string DfSocketOpenUri(const char* deviceUri) {
    if (!deviceUri || strncmp(deviceUri, "socket://", 9)) return "";
    return std::string(kScheme) + (deviceUri + 6);
}
