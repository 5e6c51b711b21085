// The server's once-a-second housekeeping: waking PAPPL's main loop and
// rotating the log file.
//
// PAPPL 1.3.1 faults worked around here:
//  - its main loop notices a Shutdown-All-Printers request (`dotforge-app
//    shutdown`) only when poll() next returns, up to 30 s later with no other
//    traffic; a one-second timer bounds that wait;
//  - its log rotation deadlocks the server: rotating happens with the log
//    mutex held, and the first line written to the reopened file takes the
//    same mutex again when the file is still over the limit, which it is
//    whenever the old file could not be renamed (a directory the service user
//    cannot write, or log-file=- with stderr sent to a file). Its rotation is
//    therefore switched off as soon as the system exists and done here
//    instead: the full file is copied to FILE.O and cut to nothing in place
//    (PAPPL appends, so its descriptor stays good). Where FILE.O cannot be
//    written the file is not rotated. PAPPL writes its first line while the
//    system is created, with its rotation still on: a file over the limit is
//    rotated before that, and stderr over the limit is set aside meanwhile.
#include "app/core/housekeeping.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct LogRotation {
    std::string path;
    size_t maxSize = 0;
    bool warned = false;
};
LogRotation gLog;
int gSavedStderr = -1;

// PAPPL's limit until it can be changed, i.e. while the system is created.
const size_t kPapplDefaultLimit = 1048576;

bool OverLimit(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<size_t>(st.st_size) >= kPapplDefaultLimit;
}

bool IsFile(const char* logFile) {
    return logFile && *logFile && strcmp(logFile, "-") && strcmp(logFile, "syslog");
}

bool CopyFile(int in, int out) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof(buffer));
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

bool Tick(pappl_system_t* system, void*) {
    if (gLog.path.empty() || gLog.maxSize == 0) return true;
    std::string error;
    if (!DfAppRotateLog(gLog.path, gLog.maxSize, error) && !gLog.warned) {
        gLog.warned = true;
        papplLog(system, PAPPL_LOGLEVEL_WARN, "%s", error.c_str());
    }
    return true;
}

}  // namespace

bool DfAppRotateLog(const std::string& path, size_t maxSize, std::string& error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) < maxSize)
        return true;
    const std::string old = path + ".O";
    const int in = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const int out = open(old.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = in >= 0 && out >= 0 && CopyFile(in, out);
    const int saved = errno;
    if (in >= 0) close(in);
    if (out >= 0 && close(out) != 0) ok = false;
    if (!ok) {
        error =
            "The log file '" + path + "' is not rotated: unable to write '" + old + "': " + strerror(saved);
        return false;
    }
    if (truncate(path.c_str(), 0) != 0) {
        error = "The log file '" + path + "' is not rotated: " + strerror(errno);
        return false;
    }
    return true;
}

const char* DfAppLogBeforeCreate(const char* logFile) {
    if (IsFile(logFile)) {
        std::string error;
        if (DfAppRotateLog(logFile, kPapplDefaultLimit, error)) return logFile;
        fprintf(stderr, "dotforge-app: %s; logging to the standard error instead.\n", error.c_str());
        logFile = "-";
    }
    if (logFile && !strcmp(logFile, "-") && OverLimit(2)) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        gSavedStderr = null >= 0 ? fcntl(2, F_DUPFD_CLOEXEC, 3) : -1;
        if (gSavedStderr >= 0) dup2(null, 2);
        if (null >= 0) close(null);
    }
    return logFile;
}

void DfAppHousekeeping(pappl_system_t* system, const char* logFile) {
    if (system) {
        // Ours or none: PAPPL's own rotation can deadlock (see above).
        gLog.maxSize = papplSystemGetMaxLogSize(system);
        papplSystemSetMaxLogSize(system, 0);
        gLog.path = IsFile(logFile) ? logFile : "";
        papplSystemAddTimerCallback(system, 0, 1, Tick, nullptr);
    }
    if (gSavedStderr >= 0) {
        dup2(gSavedStderr, 2);
        close(gSavedStderr);
        gSavedStderr = -1;
    }
}
