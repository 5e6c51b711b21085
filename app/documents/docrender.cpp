// The document renderer in its own process (see docrender.h). Messages from
// the renderer: 'N' + page count, 'P' + width + height + the grey pixels,
// 'E' + length + the reason the document cannot be read (numbers as 32-bit
// host order: both ends are the same program). The server's request is one
// text line on the renderer's descriptor 3.
#include "app/documents/docrender.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "app/documents/pdfdoc.h"

namespace {

const int kExitNoMemory = 3;
const int kTickMs = 50;  // how often the server looks at the renderer
const uint32_t kMaxErrorText = 4096;
const rlim_t kAddressSlack = 256 << 20;  // the program and its libraries, over the memory budget

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers reserve terabytes of address space: no RLIMIT_AS there,
// the resident memory the server measures is the limit. So that it is the
// document's memory, the renderer keeps little freed memory in quarantine
// (256 MB by default) and records allocations with the fast unwinder (the
// tests ask for the slow one): it never exits through the leak check.
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif
const char kRendererAsanOptions[] = "quarantine_size_mb=16:fast_unwind_on_malloc=1";

long NowMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000l + t.tv_nsec / 1000000;
}

// Resident memory of PID in bytes (0 when unknown).
unsigned long long Resident(pid_t pid) {
    char path[64];
    snprintf(path, sizeof(path), "/proc/%d/statm", static_cast<int>(pid));
    FILE* f = fopen(path, "re");
    if (!f) return 0;
    unsigned long long size = 0, pages = 0;
    const bool ok = fscanf(f, "%llu %llu", &size, &pages) == 2;
    fclose(f);
    return ok ? pages * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)) : 0;
}

// ---- the renderer's side ----

bool WriteAll(int fd, const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len) {
        const ssize_t n = write(fd, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool Send(char tag, const void* data, size_t len) {
    return WriteAll(1, &tag, 1) && (!len || WriteAll(1, data, len));
}

[[noreturn]] void SendError(const std::string& text) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(text.size(), kMaxErrorText));
    std::string message(reinterpret_cast<const char*>(&n), 4);
    message.append(text, 0, n);
    Send('E', message.data(), message.size());
    _exit(0);
}

bool SendPage(const DfGreyImage& page) {
    const uint32_t size[2] = {page.width, page.height};
    return Send('P', size, sizeof(size)) &&
           WriteAll(1, page.pixels.data(), static_cast<size_t>(page.width) * page.height);
}

void NoMemory() {
    _exit(kExitNoMemory);
}

bool ReadRequest(DfRenderRequest& r) {
    char line[160];
    size_t n = 0;
    while (n + 1 < sizeof(line)) {
        const ssize_t got = read(3, line + n, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        if (line[n] == '\n') break;
        n++;
    }
    line[n] = 0;
    int scaling = 0;
    return sscanf(line, "%u %u %d %d %d %u %u %u", &r.width, &r.height, &r.xdpi, &r.ydpi, &scaling, &r.first,
                  &r.last, &r.copies) == 8 &&
           scaling >= 0 && scaling <= static_cast<int>(DfScaling::None) && r.width && r.height &&
           r.first >= 1 && r.first <= r.last && r.copies >= 1 &&
           (r.scaling = static_cast<DfScaling>(scaling), true);
}

}  // namespace

int DfRenderChildMain(int argc, char* argv[]) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXCPU, SIG_DFL);  // the CPU limit ends it even if the server ignored the signal
    std::set_new_handler(NoMemory);
    if (argc < 3) _exit(2);
    const bool pdf = !strcmp(argv[2], "application/pdf");
    const bool png = !strcmp(argv[2], "image/png");
    if (!pdf && !png && strcmp(argv[2], "image/jpeg")) _exit(2);

    DfPdfDocument doc;
    std::string error;
    uint32_t pages = 1;
    if (pdf) {
        // poppler wants a file name; the print file stays the one the server opened.
        if (!doc.Open("/proc/self/fd/0", error)) SendError(error + ".");
        pages = static_cast<uint32_t>(doc.Pages());
    }
    if (!Send('N', &pages, sizeof(pages))) _exit(1);
    DfRenderRequest r;
    if (!ReadRequest(r) || r.last > pages) _exit(2);

    // A picture is decoded and placed once; every copy is the same page.
    DfGreyImage page;
    if (!pdf) {
        FILE* file = fdopen(0, "rb");
        DfGreyImage decoded;
        const bool ok = file && (png ? DfDecodePng(file, r.width, r.height, decoded, error)
                                     : DfDecodeJpeg(file, r.width, r.height, decoded, error));
        if (ok && DfTurnsToMedium(decoded.width, decoded.height, r.width, r.height)) DfTurnPicture(decoded);
        if (!ok || !DfFitPicture(decoded, r.width, r.height, r.scaling, page))
            SendError((error.empty() ? std::string("The picture has no pixels") : error) + ".");
    }
    for (unsigned c = 0; c < r.copies; c++) {
        for (unsigned p = r.first; p <= r.last; p++) {
            // A single page is rendered once for all its copies.
            const bool again = c > 0 && r.first == r.last;
            if (pdf && !again &&
                !doc.RenderPage(static_cast<int>(p - 1), r.width, r.height, r.xdpi, r.ydpi, r.scaling, page,
                                error))
                SendError(error + ".");
            if (!SendPage(page)) _exit(1);
        }
    }
    // No exit handlers: the server has what it needs.
    _exit(0);
}

DfRenderProcess::DfRenderProcess(const DfDocBudget& budget, long usedMs, std::function<bool()> stop)
    : m_budget(budget), m_usedMs(usedMs), m_stop(std::move(stop)) {}

DfRenderProcess::~DfRenderProcess() {
    Kill();
}

bool DfRenderProcess::Start(int document, const char* format, std::string& error) {
    int out[2] = {-1, -1}, req[2] = {-1, -1};
    // Requests go over a socket: sent with MSG_NOSIGNAL, a renderer that
    // died cannot take the server with it through SIGPIPE.
    if (pipe2(out, O_CLOEXEC) != 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, req) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        for (int fd : {out[0], out[1]})
            if (fd >= 0) close(fd);
        return false;
    }
    // The child's descriptors 0, 1 and 3 come from these: none of them may
    // be one of those numbers, or a dup2 would replace another.
    int doc = fcntl(document, F_DUPFD_CLOEXEC, 10);
    int childOut = fcntl(out[1], F_DUPFD_CLOEXEC, 10), childReq = fcntl(req[0], F_DUPFD_CLOEXEC, 10);
    close(out[1]);
    close(req[0]);
    const long leftMs = static_cast<long>(m_budget.seconds) * 1000 - m_usedMs;
    // The CPU limit stands behind the server's clock (a renderer it cannot
    // see working); SIGXCPU at the soft limit ends it.
    const rlim_t cpu = static_cast<rlim_t>(std::max(1l, (leftMs + 999) / 1000) + 2);
    const rlimit cpuLimit = {cpu, cpu + 1};
    const rlim_t as = (static_cast<rlim_t>(m_budget.megabytes) << 20) + kAddressSlack;
    const rlimit asLimit = {as, as};
    const rlimit noCore = {0, 0};
    std::string fmt = format;
    char exe[] = "/proc/self/exe";
    char command[sizeof(kDfRenderCommand)];
    memcpy(command, kDfRenderCommand, sizeof(command));
    char* args[] = {exe, command, &fmt[0], nullptr};
    std::vector<std::string> env;
    std::vector<char*> envp;
    if (kSanitized) {
        const char* asan = getenv("ASAN_OPTIONS");
        env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + (asan && *asan ? ":" : "") +
                      kRendererAsanOptions);
        for (char** e = environ; *e; e++)
            if (strncmp(*e, "ASAN_OPTIONS=", 13)) env.push_back(*e);
        for (std::string& e : env) envp.push_back(&e[0]);
        envp.push_back(nullptr);
    }
    rlimit files{};
    const int maxFd = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 65536
                          ? static_cast<int>(files.rlim_cur)
                          : 65536;
    const pid_t parent = getpid();
    const pid_t pid = doc >= 0 && childOut >= 0 && childReq >= 0 ? fork() : -1;
    if (pid == 0) {
        // Only system calls from here to exec: other threads of the server
        // may have held locks at the fork.
        if (dup2(doc, 0) < 0 || dup2(childOut, 1) < 0 || dup2(childReq, 3) < 0) _exit(127);
        // The server's sockets and files stay with the server (a system call
        // filter may refuse close_range).
        if (close_range(4, ~0u, 0) != 0)
            for (int fd = 4; fd < maxFd; fd++) close(fd);
        setrlimit(RLIMIT_CPU, &cpuLimit);
        setrlimit(RLIMIT_CORE, &noCore);
        if (!kSanitized) setrlimit(RLIMIT_AS, &asLimit);
        // Dies with the thread that started it (the job's), so with the server.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        if (kSanitized)
            execve(exe, args, envp.data());
        else
            execv(exe, args);
        _exit(127);
    }
    const int forkErrno = errno;
    for (int fd : {doc, childOut, childReq})
        if (fd >= 0) close(fd);
    if (pid < 0) {
        error = std::string("fork: ") + strerror(forkErrno);
        close(out[0]);
        close(req[1]);
        return false;
    }
    m_pid = pid;
    m_from = out[0];
    m_to = req[1];
    return true;
}

void DfRenderProcess::Kill() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_from >= 0) close(m_from);
    if (m_to >= 0) close(m_to);
    m_from = m_to = -1;
}

DfRenderStatus DfRenderProcess::Over(DfBudgetEnd end) {
    Kill();
    m_end = end;
    return DfRenderStatus::OverBudget;
}

DfRenderStatus DfRenderProcess::Garbled() {
    m_error = "it sent what was not asked for";
    return Over(DfBudgetEnd::Failed);
}

// The renderer closed its output early: how it ended.
DfRenderStatus DfRenderProcess::Died() {
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 40 && (done = waitpid(m_pid, &status, WNOHANG)) == 0; i++) usleep(kTickMs * 1000);
    if (done != m_pid) {
        m_error = done < 0 ? std::string("waitpid: ") + strerror(errno) : "it did not end";
        return Over(DfBudgetEnd::Failed);
    }
    m_pid = -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && m_finishing) {
        Kill();
        return DfRenderStatus::Ok;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kExitNoMemory) return Over(DfBudgetEnd::Memory);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) return Over(DfBudgetEnd::Time);
    // The kernel's out-of-memory killer sends SIGKILL.
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return Over(DfBudgetEnd::Memory);
    if (WIFSIGNALED(status))
        m_error =
            std::string("signal ") + std::to_string(WTERMSIG(status)) + ", " + strsignal(WTERMSIG(status));
    else
        m_error = "exit status " + std::to_string(WEXITSTATUS(status));
    return Over(DfBudgetEnd::Failed);
}

DfRenderStatus DfRenderProcess::Read(void* data, size_t len) {
    if (m_from < 0) return DfRenderStatus::Failed;
    char* p = static_cast<char*>(data);
    const long budgetMs = static_cast<long>(m_budget.seconds) * 1000;
    const unsigned long long memory = static_cast<unsigned long long>(m_budget.megabytes) << 20;
    long last = NowMs(), noted = m_usedMs;
    while (len) {
        if (m_stop && m_stop()) {
            Kill();
            return DfRenderStatus::Stopped;
        }
        if (m_usedMs >= budgetMs) return Over(DfBudgetEnd::Time);
        if (Resident(m_pid) > memory) return Over(DfBudgetEnd::Memory);
        pollfd fd = {m_from, POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(std::min<long>(kTickMs, budgetMs - m_usedMs)));
        const long now = NowMs();
        m_usedMs += now - last;
        last = now;
        if (m_note && m_usedMs - noted >= 1000) {
            m_note(m_usedMs);
            noted = m_usedMs;
        }
        if (ready <= 0) continue;
        const ssize_t n = read(m_from, p, len);
        if (n > 0) {
            p += n;
            len -= static_cast<size_t>(n);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            return Died();
        }
    }
    return DfRenderStatus::Ok;
}

// The next message's tag; an error message is read whole.
DfRenderStatus DfRenderProcess::Message(char& tag) {
    DfRenderStatus s = Read(&tag, 1);
    if (s != DfRenderStatus::Ok || tag != 'E') return s;
    uint32_t n = 0;
    if ((s = Read(&n, sizeof(n))) != DfRenderStatus::Ok) return s;
    if (n > kMaxErrorText) return Garbled();
    m_error.assign(n, ' ');
    if (n && (s = Read(&m_error[0], n)) != DfRenderStatus::Ok) return s;
    Kill();
    return DfRenderStatus::Failed;
}

DfRenderStatus DfRenderProcess::Pages(unsigned& pages) {
    char tag = 0;
    DfRenderStatus s = Message(tag);
    if (s != DfRenderStatus::Ok) return s;
    uint32_t n = 0;
    if (tag != 'N') return Garbled();
    if ((s = Read(&n, sizeof(n))) != DfRenderStatus::Ok) return s;
    if (n < 1) return Garbled();
    pages = n;
    return DfRenderStatus::Ok;
}

bool DfRenderProcess::Request(const DfRenderRequest& r) {
    char line[160];
    const int n = snprintf(line, sizeof(line), "%u %u %d %d %d %u %u %u\n", r.width, r.height, r.xdpi, r.ydpi,
                           static_cast<int>(r.scaling), r.first, r.last, r.copies);
    // One short line: the socket takes it whole without blocking.
    return m_to >= 0 && send(m_to, line, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
}

DfRenderStatus DfRenderProcess::NextPage(DfGreyImage& page) {
    char tag = 0;
    DfRenderStatus s = Message(tag);
    if (s != DfRenderStatus::Ok) return s;
    uint32_t size[2] = {0, 0};
    if (tag != 'P') return Garbled();
    if ((s = Read(size, sizeof(size))) != DfRenderStatus::Ok) return s;
    // Pages are at most the medium's size, which the server chose.
    if (!size[0] || !size[1] || static_cast<unsigned long long>(size[0]) * size[1] > kDfPictureMaxPixels)
        return Garbled();
    page.width = size[0];
    page.height = size[1];
    page.pixels.resize(static_cast<size_t>(size[0]) * size[1]);
    return Read(page.pixels.data(), page.pixels.size());
}

DfRenderStatus DfRenderProcess::Finish() {
    if (m_to >= 0) close(m_to);
    m_to = -1;
    // Nothing more comes: the end of its output, then its exit status.
    m_finishing = true;
    char extra;
    const DfRenderStatus s = Read(&extra, 1);
    // Ok: it ended well (see Died) unless it sent one more byte.
    return s == DfRenderStatus::Ok && m_pid > 0 ? Garbled() : s;
}
