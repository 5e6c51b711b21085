// The job being written by this thread and the bounded wait of a device
// write: polled in tenths of a second so that a cancel is seen at once.
#include "app/devices/devicewrite.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int> gTimeout{60};
thread_local pappl_job_t* tJob = nullptr;
thread_local bool tFailed = false;
thread_local std::string tWhy;

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int DfAppDeviceTimeout() {
    return gTimeout;
}

bool DfAppSetDeviceTimeout(const char* seconds) {
    char* end = nullptr;
    const long n = seconds ? strtol(seconds, &end, 10) : 0;
    if (!seconds || end == seconds || *end || n < 1 || n > 3600) return false;
    gTimeout = static_cast<int>(n);
    return true;
}

DfAppWritingJob::DfAppWritingJob(pappl_job_t* job) : m_previous(tJob) {
    tJob = job;
    tWhy.clear();
}

DfAppWritingJob::~DfAppWritingJob() {
    tJob = m_previous;
}

pappl_job_t* DfAppWritingJobNow() {
    return tJob;
}

void DfAppNoteWriteFailed(const std::string& why) {
    tFailed = true;
    if (!why.empty()) tWhy = why;
}

std::string DfAppWriteFailure() {
    return tWhy;
}

bool DfAppFlushJob(pappl_job_t* job, pappl_device_t* device) {
    DfAppWritingJob writing(job);
    tFailed = false;
    papplDeviceFlush(device);
    return !tFailed;
}

DfWriteWait DfAppWaitWritable(int fd, std::string* why) {
    const long long end = NowMs() + DfAppDeviceTimeout() * 1000LL;
    for (;;) {
        if (tJob && papplJobIsCanceled(tJob)) {
            *why = "The job was cancelled.";
            return DfWriteWait::Canceled;
        }
        const long long left = end - NowMs();
        if (left <= 0) {
            *why = "The printer took no data for " + std::to_string(DfAppDeviceTimeout()) + " seconds.";
            return DfWriteWait::Stalled;
        }
        pollfd p = {fd, POLLOUT, 0};
        const int r = poll(&p, 1, left < 100 ? static_cast<int>(left) : 100);
        if (r < 0 && errno != EINTR) {
            *why = std::string("Unable to write to the printer: ") + strerror(errno) + ".";
            return DfWriteWait::Failed;
        }
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            *why = "The printer's connection was lost.";
            return DfWriteWait::Failed;
        }
        if (r > 0) return DfWriteWait::Ready;
    }
}

bool DfAppWriteAll(int fd, const void* buffer, size_t bytes, bool socket, std::string* why) {
    const char* p = static_cast<const char*>(buffer);
    size_t left = bytes;
    while (left > 0) {
        const ssize_t n = socket ? send(fd, p, left, MSG_NOSIGNAL) : write(fd, p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            *why = std::string("Unable to write to the printer: ") + strerror(errno) + ".";
            return false;
        }
        if (DfAppWaitWritable(fd, why) != DfWriteWait::Ready) return false;
    }
    return true;
}
