// OwnedFd: a file descriptor closed when its owner goes, so that every exit
// path of a device's open, list or close lets go of it.
#pragma once

#include <unistd.h>

class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : m_fd(fd) {}
    ~OwnedFd() { Reset(); }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    OwnedFd(OwnedFd&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    OwnedFd& operator=(OwnedFd&& o) noexcept {
        if (this != &o) {
            Reset();
            m_fd = o.m_fd;
            o.m_fd = -1;
        }
        return *this;
    }

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd = -1) {
        if (m_fd >= 0) close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};
