// Allowed serial device nodes: see serialpath.h.
#include "app/devices/serialpath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Device names (after /dev/) followed by a number.
const char* const kNumbered[] = {"ttyUSB", "ttyACM", "rfcomm", "ttyS", "ttyAMA", "pts/"};

bool Numbered(const std::string& name) {
    for (const char* prefix : kNumbered) {
        const size_t n = strlen(prefix);
        if (name.size() > n && name.size() <= n + 4 && name.compare(0, n, prefix) == 0 &&
            name.find_first_not_of("0123456789", n) == std::string::npos)
            return true;
    }
    return false;
}

std::string ReadText(const char* path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

bool DfSerialPathAllowed(const std::string& path, std::string& error) {
    const std::string name = path.compare(0, 5, "/dev/") == 0 ? path.substr(5) : std::string();
    bool ok = !name.empty() && path.find('%') == std::string::npos && path.find("..") == std::string::npos;
    if (ok && !Numbered(name)) {
        // udev's stable names for the same adapters: one file name, no more.
        const bool link =
            name.compare(0, 13, "serial/by-id/") == 0 || name.compare(0, 15, "serial/by-path/") == 0;
        const size_t slash = name.find('/', 7);
        ok = link && name.find('/', slash + 1) == std::string::npos && name.size() > slash + 1;
    }
    if (!ok)
        error =
            "the port must be a serial device (/dev/ttyUSB0, /dev/ttyACM0, /dev/rfcomm0, /dev/ttyS1, "
            "/dev/ttyAMA0, /dev/serial/by-id/...), not \"" +
            path + "\"";
    return ok;
}

bool DfSerialIsConsole(const std::string& name, const std::string& consoles, const std::string& cmdline) {
    std::istringstream active(consoles);
    std::string word;
    while (active >> word)
        if (word == name) return true;
    std::istringstream args(cmdline);
    while (args >> word) {
        if (word.compare(0, 8, "console=") != 0) continue;
        const std::string dev =
            word.substr(8, word.find(',') == std::string::npos ? std::string::npos : word.find(',') - 8);
        if (dev == name || dev == "/dev/" + name) return true;
    }
    return false;
}

bool DfSerialCheckNode(const std::string& path, std::string& resolved, std::string& error) {
    if (!DfSerialPathAllowed(path, error)) return false;
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real)) {
        error = path + ": " + strerror(errno);
        return false;
    }
    resolved = real;
    const std::string name = resolved.compare(0, 5, "/dev/") == 0 ? resolved.substr(5) : std::string();
    if (!Numbered(name)) {
        error = path + " leads to " + resolved + ", which is not a serial device";
        return false;
    }
    if (DfSerialIsConsole(name, ReadText("/sys/class/tty/console/active"), ReadText("/proc/cmdline"))) {
        error = resolved + " is the system console";
        return false;
    }
    struct stat st;
    if (stat(real, &st) != 0 || !S_ISCHR(st.st_mode)) {
        error = resolved + " is not a device";
        return false;
    }
    const int fd = open(real, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = resolved + ": " + strerror(errno);
        return false;
    }
    struct termios t;
    const bool tty = isatty(fd) && tcgetattr(fd, &t) == 0;
    close(fd);
    if (!tty) {
        error = resolved + " is not a serial port";
        return false;
    }
    return true;
}
