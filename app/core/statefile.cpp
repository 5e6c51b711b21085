// Loading and saving the state file safely: see statefile.h.
#include "app/core/statefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>

#include "app/pappl/statefile.h"

namespace {

// Saves run on threads of their own (the shutdown watch, the job saver)
// that may still run while the program exits: the path outlives the static
// destructors, and once exit has begun nothing more is saved.
std::string& gPath = *new std::string;
std::timed_mutex gSaveMutex;
std::atomic<bool> gExiting{false};

std::string Errno(const char* what) {
    return std::string(what) + ": " + strerror(errno);
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// PAPPL writes the state through a buffered file and does not check the
// writes (PAPPL 1.3.1: on a full disk papplSystemSaveState returns true with
// the file cut at 4096 bytes). It therefore writes into a FIFO read here,
// and the bytes reach the disk through checked writes. (libcups refuses to
// open /proc/self/fd links, so a memory file cannot stand in.)
bool Render(pappl_system_t* system, std::string& text, std::string& error) {
    std::string dir = gPath.substr(0, gPath.rfind('/') + 1) + ".dotforge-state-XXXXXX";
    if (!mkdtemp(&dir[0])) {
        const char* tmp = getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/dotforge-state-XXXXXX";
        if (!mkdtemp(&dir[0])) {
            error = Errno("mkdtemp");
            return false;
        }
    }
    const std::string fifo = dir + "/state";
    int rfd = -1, wfd = -1;
    bool ok = mkfifo(fifo.c_str(), 0600) == 0 &&
              (rfd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) >= 0 &&
              (wfd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC)) >= 0;
    if (!ok) {
        error = Errno(fifo.c_str());
    } else {
        // Our own writer keeps the reader from seeing the end before PAPPL
        // has opened the FIFO.
        std::thread reader([rfd, &text] {
            char buf[16384];
            for (;;) {
                struct pollfd p = {rfd, POLLIN, 0};
                if (poll(&p, 1, -1) < 0 && errno != EINTR) break;
                const ssize_t n = read(rfd, buf, sizeof(buf));
                if (n > 0) text.append(buf, static_cast<size_t>(n));
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
            }
        });
        ok = papplSystemSaveState(system, fifo.c_str());
        close(wfd);
        reader.join();
        if (!ok) error = "PAPPL could not write the state";
    }
    if (rfd >= 0) close(rfd);
    unlink(fifo.c_str());
    rmdir(dir.c_str());
    return ok;
}

// A state file names at least the next printer id; an empty or foreign file
// does not.
bool LooksLikeState(const std::string& text, std::string& why) {
    if (text.empty()) {
        why = "it is empty";
        return false;
    }
    if (text.find("\nNextPrinterID ") == std::string::npos && text.compare(0, 14, "NextPrinterID ") != 0) {
        why = "it is not a state file";
        return false;
    }
    if (text.back() != '\n') {
        why = "it is cut short";
        return false;
    }
    return true;
}

bool ReadFile(const std::string& path, std::string& text) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// Saves for job operations go through one thread, which takes all the
// changes asked for meanwhile in one save.
std::mutex gSaverMutex;
std::condition_variable gSaverWake, gSaverDone;
unsigned long gSaveAsked = 0, gSaveDone = 0;
unsigned long gSavedThrough = 0;  // every change asked for up to this one is on the disk
bool gSaverStarted = false;

void Saver(pappl_system_t* system) {
    std::unique_lock<std::mutex> lock(gSaverMutex);
    for (;;) {
        gSaverWake.wait(lock, [] { return gSaveAsked != gSaveDone; });
        const unsigned long asked = gSaveAsked;
        lock.unlock();
        std::string error;
        const bool ok = DfAppStateSave(system, error);
        if (!ok) papplLog(system, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
        lock.lock();
        gSaveDone = asked;
        if (ok) gSavedThrough = asked;
        gSaverDone.notify_all();
    }
}

// PAPPL's main loop, which accepts every connection, asks for its saves
// here: it never waits for one (the saver logs a failure).
bool SaveCallback(pappl_system_t* system, void*) {
    DfAppStateSaveSoon(system, 0);
    return true;
}

}  // namespace

bool DfAppStateSave(pappl_system_t* system, std::string& error) {
    std::lock_guard<std::timed_mutex> lock(gSaveMutex);
    if (gPath.empty() || gExiting) return true;
    std::unique_lock<std::shared_mutex> gate(DfAppStateSaveGate());
    std::string text;
    std::string why;
    if (!Render(system, text, error)) {
        error = "Unable to save the state file '" + gPath + "': " + error + ".";
        return false;
    }
    const std::string tmp = gPath + ".XXXXXX";
    std::string name = tmp;
    const int fd = mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0) {
        error = "Unable to save the state file '" + gPath + "': " + Errno(tmp.c_str()) + ".";
        return false;
    }
    struct stat old;
    if (stat(gPath.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    if (!ok) why = strerror(errno);
    if (close(fd) != 0 && ok) {
        ok = false;
        why = strerror(errno);
    }
    if (ok && rename(name.c_str(), gPath.c_str()) != 0) {
        ok = false;
        why = strerror(errno);
    }
    if (!ok) {
        unlink(name.c_str());
        error = "Unable to save the state file '" + gPath + "': " + why + "; the previous one is kept.";
        return false;
    }
    // The rename itself is on the disk only once the directory is.
    const size_t slash = gPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : gPath.substr(0, slash);
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

bool DfAppStateLoad(pappl_system_t* system, const std::string& path) {
    gPath = path;
    static const bool stopAtExit = atexit(DfAppStateStopSaving) == 0;
    (void)stopAtExit;
    papplSystemSetSaveCallback(system, SaveCallback, nullptr);
    std::string text;
    if (access(path.c_str(), F_OK) != 0) return true;
    std::string why;
    bool ok = ReadFile(path, text);
    if (!ok) why = strerror(errno);
    if (ok) ok = LooksLikeState(text, why);
    if (ok && !papplSystemLoadState(system, path.c_str())) {
        ok = false;
        why = "PAPPL refused it";
    }
    if (ok) {
        DfAppRequeueInterruptedJobs(system);
        return true;
    }
    char stamp[32];
    const time_t now = time(nullptr);
    struct tm tm;
    strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", localtime_r(&now, &tm));
    const std::string aside = path + ".bad-" + stamp;
    if (rename(path.c_str(), aside.c_str()) == 0)
        papplLog(system, PAPPL_LOGLEVEL_ERROR,
                 "Unable to load the state file '%s' (%s): it was kept as '%s' and a new one is started.",
                 path.c_str(), why.c_str(), aside.c_str());
    else {
        papplLog(system, PAPPL_LOGLEVEL_ERROR,
                 "Unable to load the state file '%s' (%s) nor to set it aside (%s): it will not be saved.",
                 path.c_str(), why.c_str(), strerror(errno));
        gPath.clear();
    }
    return false;
}

namespace {

struct Known {
    std::set<std::pair<int, int>> jobs;  // (printer id, job id)
    int printer = 0;
};

void AddJob(pappl_job_t* job, void* data) {
    Known* k = static_cast<Known*>(data);
    k->jobs.insert({k->printer, papplJobGetID(job)});
}

void AddPrinter(pappl_printer_t* printer, void* data) {
    Known* k = static_cast<Known*>(data);
    k->printer = papplPrinterGetID(printer);
    papplPrinterIterateAllJobs(printer, AddJob, k, 1, 0);
}

}  // namespace

void DfAppStateCleanSpool(pappl_system_t* system, const char* spool) {
    if (!spool || !*spool) return;
    Known known;
    papplSystemIteratePrinters(system, AddPrinter, &known);
    DIR* dir = opendir(spool);
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
        // PAPPL names a job's files pPPPPPjJJJJJJJJJ-NAME.EXT.
        int printer = 0, job = 0, end = 0;
        const size_t len = strlen(e->d_name);
        if (len < 5 || strcmp(e->d_name + len - 4, ".ipp") != 0) continue;
        if (sscanf(e->d_name, "p%5dj%9d-%n", &printer, &job, &end) != 2 || end == 0) continue;
        if (known.jobs.count({printer, job})) continue;
        const std::string file = std::string(spool) + "/" + e->d_name;
        if (unlink(file.c_str()) == 0)
            papplLog(system, PAPPL_LOGLEVEL_INFO, "Removed '%s': its job has no document.", file.c_str());
    }
    closedir(dir);
}

void DfAppStateStopSaving() {
    const bool locked = gSaveMutex.try_lock_for(std::chrono::seconds(5));
    gExiting = true;
    if (locked) gSaveMutex.unlock();
}

bool DfAppStateSaveSoon(pappl_system_t* system, int waitSeconds) {
    std::unique_lock<std::mutex> lock(gSaverMutex);
    if (!gSaverStarted) {
        gSaverStarted = true;
        std::thread(Saver, system).detach();
    }
    const unsigned long mine = ++gSaveAsked;
    gSaverWake.notify_one();
    if (waitSeconds <= 0) return true;
    gSaverDone.wait_for(lock, std::chrono::seconds(waitSeconds), [mine] { return gSaveDone >= mine; });
    return gSavedThrough >= mine;
}
