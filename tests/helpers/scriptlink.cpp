// Test helper: the scripted DfLink.
#include "helpers/scriptlink.h"

#include <poll.h>
#include <unistd.h>

#include <cstring>

bool ScriptLink::Send(const void* data, size_t len) {
    if (failSendAfter >= 0 && static_cast<int>(sent.size()) >= failSendAfter) return false;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    sent.emplace_back(p, p + len);
    if (m_script)
        for (ByteVec& chunk : m_script(sent.back()))
            if (!chunk.empty()) m_queue.push_back(std::move(chunk));
    return true;
}

int ScriptLink::Receive(void* buf, size_t size, int timeoutMs) {
    if (m_queue.empty() && onIdle) onIdle(*this);
    if (m_queue.empty()) {
        if (timeoutMs > 0) usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return 0;
    }
    ByteVec& front = m_queue.front();
    const size_t n = front.size() < size ? front.size() : size;
    memcpy(buf, front.data(), n);
    front.erase(front.begin(), front.begin() + static_cast<long>(n));
    if (front.empty()) m_queue.pop_front();
    return static_cast<int>(n);
}

bool FdLink::Send(const void* data, size_t len) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (len) {
        const ssize_t n = write(m_fd, p, len);
        if (n <= 0) return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

int FdLink::Receive(void* buf, size_t size, int timeoutMs) {
    pollfd p = {m_fd, POLLIN, 0};
    const int r = poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (r < 0) return -1;
    if (r == 0) return 0;
    const ssize_t n = read(m_fd, buf, size);
    return n > 0 ? static_cast<int>(n) : -1;
}
