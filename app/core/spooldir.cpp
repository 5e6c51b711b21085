// The spool directory: chosen next to the state file and checked (see
// spooldir.h).
#include "app/core/spooldir.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// Makes DIR and the directories above it that are missing, mode 0700.
bool MakeDirectories(const std::string& dir, std::string& error) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error =
                "Unable to create the spool directory '" + dir + "': " + part + ": " + strerror(errno) + ".";
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

bool DfAppSpoolDirectory(const char* option, const std::string& state, std::string& spool,
                         std::string& error) {
    if (option && *option) {
        spool = option;
    } else {
        const size_t cut = state.size() > 6 && !state.compare(state.size() - 6, 6, ".state")
                               ? state.size() - 6
                               : state.size();
        spool = state.substr(0, cut) + ".spool";
    }
    while (spool.size() > 1 && spool.back() == '/') spool.pop_back();
    struct stat st;
    if (lstat(spool.c_str(), &st) != 0 && errno == ENOENT && !MakeDirectories(spool, error)) return false;
    if (lstat(spool.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        error = "The spool directory '" + spool + "' is a symbolic link; give the directory itself.";
        return false;
    }
    const int fd = open(spool.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        const int err = errno;
        if (fd >= 0) close(fd);
        error = "The spool directory '" + spool + "' " +
                (err == ENOTDIR ? std::string("is not a directory.")
                                : std::string("cannot be opened: ") + strerror(err) + ".");
        return false;
    }
    close(fd);
    char mode[8];
    snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(st.st_mode & 07777));
    if (st.st_uid != geteuid()) {
        error = "The spool directory '" + spool + "' belongs to user " + std::to_string(st.st_uid) +
                ", not to the server's user " + std::to_string(geteuid()) +
                "; another user may have made it. Give a directory of the server's user's own.";
        return false;
    }
    if (st.st_mode & 022) {
        error = "The spool directory '" + spool + "' has mode " + mode +
                ": other users could replace the jobs' files in it. Make it writable by its owner alone "
                "(chmod 700).";
        return false;
    }
    return true;
}
