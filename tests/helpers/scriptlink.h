// Test helper: a DfLink played by a script instead of a printer. Each Send
// is recorded and handed to the script, whose answer (any number of chunks,
// so replies can arrive split or run together) is queued for Receive. An
// empty queue makes Receive wait out its timeout (keep the talk sinks'
// timings short in tests) and return 0.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/link.h"
#include "helpers/hexdump.h"

class ScriptLink : public DfLink {
public:
    using Script = std::function<std::vector<ByteVec>(const ByteVec& sent)>;
    explicit ScriptLink(Script script) : m_script(std::move(script)) {}

    bool Send(const void* data, size_t len) override;
    int Receive(void* buf, size_t size, int timeoutMs) override;
    std::string Why() const override { return "link failed"; }

    // Queues bytes as if the printer had sent them unasked.
    void Push(const ByteVec& bytes) { m_queue.push_back(bytes); }

    // Called when Receive finds nothing queued, before it waits: a printer
    // that speaks up after a while (Push from here).
    std::function<void(ScriptLink&)> onIdle;

    std::vector<ByteVec> sent;  // every Send, in order
    int failSendAfter = -1;     // Send fails from this many sends on (-1: never)

private:
    Script m_script;
    std::deque<ByteVec> m_queue;
};

// A DfLink over a file descriptor (a socket to the virtual printer, a pty);
// not owned.
class FdLink : public DfLink {
public:
    explicit FdLink(int fd) : m_fd(fd) {}
    bool Send(const void* data, size_t len) override;
    int Receive(void* buf, size_t size, int timeoutMs) override;
    std::string Why() const override { return "connection lost"; }

private:
    int m_fd;
};
