// Test helper: fork/exec of the built filter with CUPS's arguments and PPD
// variable, feeding standard input and collecting both output streams.
#include "helpers/runfilter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::string TestPpd(const std::string& name) { return std::string(DF_TEST_DATA) + "/" + name; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

FilterRun RunFilter(const FilterArgs& a) {
    FilterRun run;
    std::vector<std::string> args;
    args.push_back(DF_FILTER_PATH);
    if (!a.argv.empty()) {
        args.insert(args.end(), a.argv.begin(), a.argv.end());
    } else {
        args.insert(args.end(), {"1", "user", "title", "1", a.options});
        if (!a.rasterFile.empty()) args.push_back(a.rasterFile);
    }

    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) return run;
    signal(SIGPIPE, SIG_IGN);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        if (a.closeStdout) close(1);
        if (a.setPpd)
            setenv("PPD", a.ppd.c_str(), 1);
        else
            unsetenv("PPD");
        std::vector<char*> argv;
        for (auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);

    size_t written = 0;
    bool inOpen = true, termSent = false;
    if (a.stdinBytes.empty()) {
        close(in[1]);
        inOpen = false;
    }
    bool outOpen = true, errOpen = true;
    if (a.closeOutputReader) {
        close(out[0]);
        outOpen = false;
    }
    char buf[65536];
    while (outOpen || errOpen) {
        struct pollfd fds[3];
        int n = 0;
        int iOut = -1, iErr = -1, iIn = -1;
        if (outOpen) { fds[n] = {out[0], POLLIN, 0}; iOut = n++; }
        if (errOpen) { fds[n] = {err[0], POLLIN, 0}; iErr = n++; }
        if (inOpen) { fds[n] = {in[1], POLLOUT, 0}; iIn = n++; }
        if (poll(fds, n, 30000) <= 0) {
            kill(pid, SIGKILL);  // a filter silent for 30 s is hung: end it, don't wait forever
            break;
        }
        if (iOut >= 0 && (fds[iOut].revents & (POLLIN | POLLHUP))) {
            ssize_t r = read(out[0], buf, sizeof(buf));
            if (r <= 0) { outOpen = false; close(out[0]); }
            else run.out.insert(run.out.end(), buf, buf + r);
        }
        if (iErr >= 0 && (fds[iErr].revents & (POLLIN | POLLHUP))) {
            ssize_t r = read(err[0], buf, sizeof(buf));
            if (r <= 0) { errOpen = false; close(err[0]); }
            else run.err.append(buf, static_cast<size_t>(r));
        }
        if (iIn >= 0 && (fds[iIn].revents & (POLLOUT | POLLERR | POLLHUP))) {
            size_t chunk = a.stdinBytes.size() - written;
            if (a.sigtermAfterStdinBytes >= 0 && !termSent) {
                size_t limit = static_cast<size_t>(a.sigtermAfterStdinBytes);
                if (written >= limit) {
                    if (limit == 0) usleep(300000);  // let the filter reach its first read
                    kill(pid, SIGTERM);
                    termSent = true;
                    usleep(100000);
                } else if (chunk > limit - written) {
                    chunk = limit - written;
                }
            }
            if (chunk > 4096) chunk = 4096;
            ssize_t w = chunk ? write(in[1], a.stdinBytes.data() + written, chunk) : 0;
            if (w < 0 && errno != EINTR && errno != EAGAIN) { inOpen = false; close(in[1]); }
            else if (w > 0) written += static_cast<size_t>(w);
            if (inOpen && written >= a.stdinBytes.size()) {
                if (a.sigtermAfterStdinBytes >= 0 && !termSent) {
                    kill(pid, SIGTERM);
                    termSent = true;
                }
                inOpen = false;
                close(in[1]);
            }
        }
    }
    if (inOpen) close(in[1]);
    if (outOpen) close(out[0]);
    if (errOpen) close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}
