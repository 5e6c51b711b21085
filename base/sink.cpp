// DfFdSink: delivery of printer bytes to a file descriptor.
#include "base/sink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

bool DfFdSink::Write(const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = write(m_fd, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A non-blocking descriptor: wait until it takes data again.
                struct pollfd out = {m_fd, POLLOUT, 0};
                poll(&out, 1, -1);
                continue;
            }
            fprintf(stderr, "ERROR: Unable to write print data: %s\n", strerror(errno));
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    if (m_fd == 1) fflush(stdout);
    return true;
}

DfSink* DfStdoutSink() {
    static DfFdSink sink(1);
    return &sink;
}
