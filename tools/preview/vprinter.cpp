// The virtual printer's loop: one poll over the listening socket, the
// connections and the pseudo-terminal. At the start of a connection (or of
// a pty job) status queries are answered and dropped; the first other byte
// starts the job. Later, a read that ends in a whole query is taken for a
// query sent between pages (a sender waits for the answer, so the query is
// the last thing it wrote). A job ends when its connection closes, or on
// the pty after a second of silence. Jobs, connections and silence are
// bounded (VirtualPrinterOptions), and the decoder bounds each page.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/preview/decode_internal.h"
#include "tools/preview/vprinter.h"
#include "tools/preview/vprinter_talk.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Conn {
    int fd = -1;
    bool pty = false;
    bool jobStarted = false;
    std::vector<uint8_t> pending;  // not yet told query from job
    std::vector<uint8_t> job;
    long long lastData = 0;
    bool refused = false;   // the job passed the size limit: the rest is dropped
    bool closeNow = false;  // a socket to close after this read
    // A printer that answers back (Niimbot, cat): every byte goes to it
    // and to the job.
    std::shared_ptr<VirtualTalk> talk;
    PreviewFamily talkFamily = PreviewFamily::Unknown;
};

void WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t w = write(fd, bytes.data() + off, bytes.size() - off);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        off += static_cast<size_t>(w);
    }
}

class VirtualPrinter {
public:
    explicit VirtualPrinter(const VirtualPrinterOptions& o) : m_o(o) {}
    int Run();

private:
    VirtualStatus CurrentStatus();
    void Answer(Conn& c, const uint8_t* q, size_t n);
    void Feed(Conn& c, const uint8_t* data, size_t n);
    void EndJob(Conn& c);
    void RefuseJob(Conn& c);
    void Accept();
    bool OpenListener();
    bool OpenPty();

    VirtualPrinterOptions m_o;
    int m_listen = -1;
    int m_ptySlave = -1;
    std::vector<Conn> m_conns;
    int m_jobs = 0;
    bool m_failed = false;
    int m_refusedConns = 0;            // refused since the last message
    long long m_refusedSaid = -10000;  // when the last one was given
};

VirtualStatus VirtualPrinter::CurrentStatus() {
    VirtualStatus s;
    std::string text = m_o.status;
    if (!m_o.statusFile.empty()) {
        std::ifstream f(m_o.statusFile);
        if (f) {
            std::stringstream b;
            b << f.rdbuf();
            text = b.str();
        }
    }
    std::string bad;
    if (!ParseVirtualStatus(text, &s, &bad)) {
        fprintf(stderr, "dotforge-preview: unknown status word \"%s\"; answering as ready\n", bad.c_str());
        s = VirtualStatus();
    }
    return s;
}

void VirtualPrinter::Answer(Conn& c, const uint8_t* q, size_t n) {
    const VirtualStatus s = CurrentStatus();
    const std::vector<uint8_t> reply = AnswerStatusQuery(q, n, s);
    printf("query %s: %s\n", HexBytes(q, n).c_str(),
           reply.empty() ? "no answer" : HexBytes(reply.data(), reply.size()).c_str());
    fflush(stdout);
    WriteAll(c.fd, reply);
}

void VirtualPrinter::Feed(Conn& c, const uint8_t* data, size_t n) {
    c.lastData = NowMs();
    if (c.refused) return;
    if (c.job.size() + c.pending.size() + n > m_o.maxJobBytes) {
        RefuseJob(c);
        return;
    }
    if (!c.jobStarted && !c.talk) {
        std::vector<uint8_t> head(c.pending);
        head.insert(head.end(), data, data + (n < 3 ? n : 3));
        bool partial = false;
        const PreviewFamily f = VirtualTalkFamily(head.data(), head.size(), &partial);
        if (f != PreviewFamily::Unknown && (m_o.family == PreviewFamily::Unknown || m_o.family == f)) {
            c.talk = MakeVirtualTalk(f, m_o.headDots);
            c.talkFamily = f;
            c.jobStarted = true;
            c.job.swap(c.pending);
        } else if (partial && head.size() < 3) {
            c.pending.insert(c.pending.end(), data, data + n);
            return;
        }
    }
    if (c.talk) {
        c.job.insert(c.job.end(), data, data + n);
        WriteAll(c.fd, c.talk->Take(data, n, CurrentStatus()));
        return;
    }
    if (c.jobStarted) {
        // A whole query at the end of a read: asked between pages.
        for (size_t start = 0; start < n; start++) {
            size_t qlen = 0;
            if (MatchStatusQuery(data + start, n - start, &qlen) == QueryMatch::Query && start + qlen == n) {
                c.job.insert(c.job.end(), data, data + start);
                Answer(c, data + start, qlen);
                return;
            }
            if (n - start > 32) start = n - 33;  // no query is longer
        }
        c.job.insert(c.job.end(), data, data + n);
        return;
    }
    c.pending.insert(c.pending.end(), data, data + n);
    size_t pos = 0;
    while (pos < c.pending.size()) {
        size_t qlen = 0;
        const QueryMatch m = MatchStatusQuery(c.pending.data() + pos, c.pending.size() - pos, &qlen);
        if (m == QueryMatch::Partial) break;
        if (m == QueryMatch::None) {
            c.jobStarted = true;
            c.job.assign(c.pending.begin() + static_cast<long>(pos), c.pending.end());
            c.pending.clear();
            return;
        }
        Answer(c, c.pending.data() + pos, qlen);
        pos += qlen;
    }
    c.pending.erase(c.pending.begin(), c.pending.begin() + static_cast<long>(pos));
}

void VirtualPrinter::EndJob(Conn& c) {
    // Bytes left that were only the start of a query belong to the job.
    c.job.insert(c.job.end(), c.pending.begin(), c.pending.end());
    c.pending.clear();
    c.jobStarted = false;
    const std::shared_ptr<VirtualTalk> talk = c.talk;
    const PreviewFamily talkFamily = c.talkFamily;
    c.talk.reset();
    // A conversation of status questions only is no job.
    if (talk && !talk->Printing()) c.job.clear();
    if (c.job.empty()) return;
    const int number = ++m_jobs;
    const std::string base = m_o.prefix + "-" + std::to_string(number);
    if (FILE* f = fopen((base + ".prn").c_str(), "wb")) {
        fwrite(c.job.data(), 1, c.job.size(), f);
        fclose(f);
    }
    int head = m_o.headDots;
    PreviewFamily family = m_o.family != PreviewFamily::Unknown ? m_o.family
                           : talk                               ? talkFamily
                                                                : DetectFamily(c.job.data(), c.job.size());
    if (!head) head = FamilyHeadDots(family);
    PreviewResult result;
    const bool ok =
        DecodePrinterStream(c.job.data(), c.job.size(), talk ? talkFamily : m_o.family, &result, head);
    printf("job %d: %s, %zu bytes, %zu page%s -> %s.prn\n", number, FamilyName(result.family), c.job.size(),
           result.pages.size(), result.pages.size() == 1 ? "" : "s", base.c_str());
    if (talk && talk->Pauses())
        printf("job %d: paused the sender %d times, %d rows came while paused\n", number, talk->Pauses(),
               talk->RowsWhilePaused());
    for (size_t i = 0; i < result.pages.size(); i++) {
        const PreviewPage& page = result.pages[i];
        if (page.width <= 0 || page.height <= 0) continue;
        const std::string path = base + "-" + std::to_string(i + 1) + ".png";
        std::string why;
        if (WritePagePng(page, path, &why))
            printf("job %d page %zu: %d x %d dots -> %s\n", number, i + 1, page.width, page.height,
                   path.c_str());
        else
            fprintf(stderr, "dotforge-preview: job %d page %zu: %s\n", number, i + 1, why.c_str());
    }
    if (!ok) {
        fprintf(stderr, "dotforge-preview: job %d: offset %zu: %s\n", number, result.errorOffset,
                result.error.c_str());
        m_failed = true;
    }
    fflush(stdout);
    c.job.clear();
}

// A job larger than the limit is not kept: holding it would let one sender
// take all the memory. A socket is closed; on the pty the rest of the job is
// read and dropped until the line is silent.
void VirtualPrinter::RefuseJob(Conn& c) {
    const int number = ++m_jobs;
    printf("job %d: refused, larger than %zu bytes\n", number, m_o.maxJobBytes);
    fprintf(stderr, "dotforge-preview: job %d is larger than %zu MiB (--max-job raises the limit); %s\n",
            number, m_o.maxJobBytes >> 20, "refused, nothing of it is kept");
    fflush(stdout);
    m_failed = true;
    std::vector<uint8_t>().swap(c.job);
    std::vector<uint8_t>().swap(c.pending);
    c.jobStarted = false;
    if (c.pty)
        c.refused = true;
    else
        c.closeNow = true;
}

void VirtualPrinter::Accept() {
    const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    int open = 0;
    for (const Conn& c : m_conns) open += !c.pty;
    if (open >= m_o.maxConnections) {
        // Said once, then at most every ten seconds: a flood must not flood the log too.
        m_refusedConns++;
        if (NowMs() - m_refusedSaid >= 10000) {
            fprintf(stderr, "dotforge-preview: refused %d connection%s: %d are open already (%s %d s)\n",
                    m_refusedConns, m_refusedConns == 1 ? "" : "s", open, "a silent one is closed after",
                    m_o.idleSeconds);
            m_refusedConns = 0;
            m_refusedSaid = NowMs();
        }
        close(fd);
        return;
    }
    Conn c;
    c.fd = fd;
    c.lastData = NowMs();
    m_conns.push_back(c);
}

bool VirtualPrinter::OpenListener() {
    std::string host = "127.0.0.1", port = m_o.listen;
    const size_t colon = m_o.listen.rfind(':');
    if (colon != std::string::npos) {
        host = m_o.listen.substr(0, colon);
        port = m_o.listen.substr(colon + 1);
        if (host.size() > 1 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) || !res) {
        fprintf(stderr, "dotforge-preview: cannot listen on \"%s\"\n", m_o.listen.c_str());
        return false;
    }
    m_listen = socket(res->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (m_listen >= 0) setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (m_listen < 0 || bind(m_listen, res->ai_addr, res->ai_addrlen) || listen(m_listen, 8)) {
        fprintf(stderr, "dotforge-preview: cannot listen on %s: %s\n", m_o.listen.c_str(), strerror(errno));
        freeaddrinfo(res);
        return false;
    }
    freeaddrinfo(res);
    // The port the system gave, for a PORT of 0.
    sockaddr_storage bound;
    socklen_t len = sizeof(bound);
    if (!getsockname(m_listen, reinterpret_cast<sockaddr*>(&bound), &len)) {
        const int p = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                  : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        port = std::to_string(p);
    }
    printf("listening on %s port %s\n", host.c_str(), port.c_str());
    return true;
}

// Makes the pty the given user's (and group's), mode 0660, so that a
// printer application running as that user may open it.
bool GiveAway(const char* path, const std::string& owner) {
    uid_t uid;
    gid_t gid;
    std::string why;
    if (!ParsePtyOwner(owner, &uid, &gid, &why)) {
        fprintf(stderr, "dotforge-preview: --pty-owner: %s\n", why.c_str());
        return false;
    }
    if (chown(path, uid, gid) || chmod(path, 0660)) {
        fprintf(stderr,
                "dotforge-preview: cannot give %s to %s: %s (only root may; or run: sudo chown %s %s)\n",
                path, owner.c_str(), strerror(errno), owner.c_str(), path);
        return false;
    }
    return true;
}

bool VirtualPrinter::OpenPty() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) || unlockpt(master)) {
        fprintf(stderr, "dotforge-preview: no pseudo-terminal: %s\n", strerror(errno));
        return false;
    }
    const char* name = ptsname(master);
    if (name && !m_o.ptyOwner.empty() && !GiveAway(name, m_o.ptyOwner)) {
        close(master);
        return false;
    }
    struct stat st;
    if (name && m_o.ptyOwner.empty() && geteuid() == 0 && !stat(name, &st) && !(st.st_mode & 0066)) {
        const passwd* pw = getpwuid(st.st_uid);
        fprintf(stderr,
                "dotforge-preview: %s belongs to %s, mode %04o: a service running as another user cannot "
                "open it; "
                "start with --pty-owner USER (for the packaged service: --pty-owner dotforge-app)\n",
                name, pw ? pw->pw_name : "root", (unsigned)(st.st_mode & 07777));
    }
    // A descriptor of our own on the terminal keeps it open between the
    // sender's jobs; raw, so no byte of a job is translated.
    m_ptySlave = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (m_ptySlave < 0) {
        close(master);
        return false;
    }
    termios t;
    if (!tcgetattr(m_ptySlave, &t)) {
        cfmakeraw(&t);
        tcsetattr(m_ptySlave, TCSANOW, &t);
    }
    Conn c;
    c.fd = master;
    c.pty = true;
    m_conns.push_back(c);
    printf("pty %s\n", name);
    return true;
}

int VirtualPrinter::Run() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (!m_o.listen.empty() && !OpenListener()) return 1;
    if (m_o.pty && !OpenPty()) return 1;
    fflush(stdout);
    std::vector<uint8_t> buf(65536);
    while (!g_stop && (!m_o.jobs || m_jobs < m_o.jobs)) {
        std::vector<pollfd> fds;
        if (m_listen >= 0) fds.push_back({m_listen, POLLIN, 0});
        for (const Conn& c : m_conns) fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR) break;
        size_t k = 0;
        // Connections accepted now are polled from the next round on.
        const size_t polled = m_conns.size();
        if (m_listen >= 0 && (fds[k++].revents & POLLIN)) Accept();
        for (size_t i = 0; i < polled && k < fds.size(); i++, k++) {
            Conn& c = m_conns[i];
            if (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = read(c.fd, buf.data(), buf.size());
                if (n > 0) {
                    Feed(c, buf.data(), static_cast<size_t>(n));
                } else if (!c.pty && (n == 0 || errno != EINTR)) {
                    EndJob(c);
                    c.closeNow = true;
                }
            }
            if (c.talk) WriteAll(c.fd, c.talk->Tick(NowMs()));
            const long long silent = NowMs() - c.lastData;
            if (c.pty && silent > 1000) {
                if (c.jobStarted) EndJob(c);
                c.refused = false;
            }
            if (!c.pty && !c.closeNow && silent > m_o.idleSeconds * 1000LL) {
                fprintf(stderr, "dotforge-preview: a connection was silent for %d s; closed\n",
                        m_o.idleSeconds);
                EndJob(c);
                c.closeNow = true;
            }
            if (c.closeNow) {
                close(c.fd);
                c.fd = -1;
            }
        }
        for (size_t i = m_conns.size(); i-- > 0;)
            if (m_conns[i].fd < 0) m_conns.erase(m_conns.begin() + static_cast<long>(i));
    }
    for (Conn& c : m_conns) {
        if (c.jobStarted) EndJob(c);
        close(c.fd);
    }
    if (m_listen >= 0) close(m_listen);
    if (m_ptySlave >= 0) close(m_ptySlave);
    return m_failed ? 1 : 0;
}

}  // namespace

bool ParsePtyOwner(const std::string& owner, uid_t* uid, gid_t* gid, std::string* why) {
    const size_t colon = owner.find(':');
    const std::string user = owner.substr(0, colon);
    const passwd* pw = user.empty() ? nullptr : getpwnam(user.c_str());
    if (!pw) {
        *why = "unknown user \"" + user + "\"";
        return false;
    }
    *uid = pw->pw_uid;
    *gid = static_cast<gid_t>(-1);  // the group stays as it is
    if (colon != std::string::npos) {
        const std::string group = owner.substr(colon + 1);
        const struct group* gr = group.empty() ? nullptr : getgrnam(group.c_str());
        if (!gr) {
            *why = "unknown group \"" + group + "\"";
            return false;
        }
        *gid = gr->gr_gid;
    }
    return true;
}

int RunVirtualPrinter(const VirtualPrinterOptions& options) {
    VirtualPrinter p(options);
    return p.Run();
}
