// DfSink: where a renderer's printer bytes go. The CUPS filter writes to
// standard output; the printer application writes to its device. DfFdSink
// is the file-descriptor form the filter uses.
#pragma once

#include <cstddef>
#include <string>

class DfSink {
public:
    virtual ~DfSink() {}
    // Delivers all len bytes or fails. After a failure the sink has reported
    // the error in its front end's way, and the caller drops the rest.
    virtual bool Write(const void* data, size_t len) = 0;
};

class DfFdSink : public DfSink {
public:
    explicit DfFdSink(int fd) : m_fd(fd) {}
    // Retries partial writes, EINTR (a SIGTERM handler installed without
    // SA_RESTART) and EAGAIN. A real error prints one "ERROR:" line.
    bool Write(const void* data, size_t len) override;

private:
    int m_fd;
};

// The sink on standard output every renderer writes to unless given another.
DfSink* DfStdoutSink();
