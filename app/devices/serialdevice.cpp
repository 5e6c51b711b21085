// serial: devices: URI parsing, line set-up, blocking-aware writes, listing.
#include "app/devices/serialdevice.h"

#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <pappl/pappl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/devices/devicewrite.h"
#include "app/devices/ownedfd.h"
#include "app/devices/uriquery.h"

#include "app/devices/serialpath.h"
#include "app/devices/devicelist.h"

namespace {

struct BaudEntry {
    unsigned baud;
    speed_t code;
};

const BaudEntry kBauds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool BaudCode(unsigned baud, speed_t& code) {
    for (const BaudEntry& e : kBauds)
        if (e.baud == baud) {
            code = e.code;
            return true;
        }
    return false;
}

bool ParseUnsigned(const std::string& text, unsigned& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = static_cast<unsigned>(strtoul(text.c_str(), nullptr, 10));
    return true;
}

bool SetOption(DfSerialSettings& s, const std::string& name, const std::string& value, std::string& error) {
    unsigned n = 0;
    if (name == "baud") {
        speed_t code;
        if (!ParseUnsigned(value, n) || !BaudCode(n, code)) {
            error = "unsupported baud rate \"" + value + "\"";
            return false;
        }
        s.baud = n;
    } else if (name == "bits") {
        if (!ParseUnsigned(value, n) || n < 5 || n > 8) {
            error = "data bits must be 5 to 8, not \"" + value + "\"";
            return false;
        }
        s.bits = static_cast<int>(n);
    } else if (name == "parity") {
        if (value == "none")
            s.parity = 'n';
        else if (value == "even")
            s.parity = 'e';
        else if (value == "odd")
            s.parity = 'o';
        else {
            error = "parity must be none, even or odd, not \"" + value + "\"";
            return false;
        }
    } else if (name == "stop") {
        if (value != "1" && value != "2") {
            error = "stop bits must be 1 or 2, not \"" + value + "\"";
            return false;
        }
        s.stopBits = value[0] - '0';
    } else if (name == "flow") {
        s.rtscts = value == "rtscts";
        s.xonxoff = value == "xonxoff";
        if (value != "none" && !s.rtscts && !s.xonxoff) {
            error = "flow control must be none, rtscts or xonxoff, not \"" + value + "\"";
            return false;
        }
    } else {
        error = "unknown setting \"" + name + "\"";
        return false;
    }
    return true;
}

// One open port; it closes with its owner.
struct SerialDevice {
    explicit SerialDevice(OwnedFd port) : fd(std::move(port)) {}
    // Let the last bytes leave the port before it closes, but not forever.
    ~SerialDevice() {
        struct pollfd p = {fd.Get(), POLLOUT, 0};
        poll(&p, 1, 2000);
    }
    OwnedFd fd;
    pappl_job_t* deadJob = nullptr;  // the job a write gave up on
};

bool OpenCb(pappl_device_t* device, const char* uri, const char*) {
    DfSerialSettings s;
    std::string error;
    if (!DfParseSerialUri(uri, s, error)) {
        papplDeviceError(device, "Bad serial device URI: %s", error.c_str());
        return false;
    }
    // The node is checked before it is opened for writing; the open then
    // must reach the same node.
    std::string real;
    struct stat checked, opened;
    if (!DfSerialCheckNode(s.path, real, error) || stat(real.c_str(), &checked) != 0) {
        papplDeviceError(device, "Unable to use %s: %s.", s.path.c_str(), error.c_str());
        return false;
    }
    // Non-blocking open: a port whose carrier line is down would otherwise
    // hang here forever.
    OwnedFd port(open(real.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    const int fd = port.Get();
    if (fd < 0) {
        papplDeviceError(device, "Unable to open %s: %s", s.path.c_str(), strerror(errno));
        return false;
    }
    struct termios t;
    if (fstat(fd, &opened) != 0 || opened.st_rdev != checked.st_rdev || !isatty(fd) ||
        tcgetattr(fd, &t) != 0) {
        papplDeviceError(device, "%s is not a serial port.", s.path.c_str());
        return false;
    }
    speed_t code = B9600;
    BaudCode(s.baud, code);
    cfmakeraw(&t);  // printer bytes go out untranslated
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag |= s.bits == 5 ? CS5 : s.bits == 6 ? CS6 : s.bits == 7 ? CS7 : CS8;
    if (s.parity != 'n') t.c_cflag |= PARENB;
    if (s.parity == 'o') t.c_cflag |= PARODD;
    if (s.stopBits == 2) t.c_cflag |= CSTOPB;
    if (s.rtscts) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (s.xonxoff) t.c_iflag |= IXON | IXOFF;
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        papplDeviceError(device, "Unable to set up %s: %s", s.path.c_str(), strerror(errno));
        return false;
    }
    // PAPPL holds the open port as the device's data until CloseCb takes it
    // back; nothing else frees it.
    papplDeviceSetData(device, new SerialDevice(std::move(port)));
    return true;
}

void CloseCb(pappl_device_t* device) {
    std::unique_ptr<SerialDevice> d(static_cast<SerialDevice*>(papplDeviceGetData(device)));
    papplDeviceSetData(device, nullptr);
}

ssize_t ReadCb(pappl_device_t* device, void* buffer, size_t bytes) {
    SerialDevice* d = static_cast<SerialDevice*>(papplDeviceGetData(device));
    if (!d) return -1;
    struct pollfd p = {d->fd.Get(), POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) return 0;
    ssize_t n = read(d->fd.Get(), buffer, bytes);
    return n < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : n;
}

// Waits for the port whenever it takes nothing (flow control, a full
// Bluetooth buffer); a cancel, a stall of DfAppDeviceTimeout() seconds (a
// printer that is off, out of paper with flow control, or out of Bluetooth
// range) or a real error ends the job, so no page is dropped silently.
ssize_t WriteCb(pappl_device_t* device, const void* buffer, size_t bytes) {
    SerialDevice* d = static_cast<SerialDevice*>(papplDeviceGetData(device));
    if (!d) return -1;
    // The rest of a job a write gave up on goes nowhere (PAPPL 1.3.1 keeps
    // unsent bytes in its buffer and would send them with the next job's).
    pappl_job_t* job = DfAppWritingJobNow();
    if (d->deadJob && (!job || job == d->deadJob)) {
        DfAppNoteWriteFailed();
        return -1;
    }
    d->deadJob = nullptr;
    std::string why;
    if (!DfAppWriteAll(d->fd.Get(), buffer, bytes, false, &why)) {
        DfAppNoteWriteFailed(why);
        papplDeviceError(device, "%s", why.c_str());
        tcflush(d->fd.Get(), TCOFLUSH);  // what the port still holds is dropped
        d->deadJob = job;
        return -1;
    }
    return static_cast<ssize_t>(bytes);
}

pappl_preason_t StatusCb(pappl_device_t*) {
    return PAPPL_PREASON_NONE;
}

// The paths matching a pattern (none if nothing matches), freed with the list.
struct GlobList {
    explicit GlobList(const char* pattern) { matched = glob(pattern, 0, nullptr, &g) == 0; }
    ~GlobList() { globfree(&g); }
    GlobList(const GlobList&) = delete;
    GlobList& operator=(const GlobList&) = delete;
    size_t Count() const { return matched ? g.gl_pathc : 0; }
    const char* operator[](size_t i) const { return g.gl_pathv[i]; }

    glob_t g{};
    bool matched = false;
};

bool ListCb(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t, void*) {
    static const char* const kPatterns[] = {"/dev/ttyUSB*", "/dev/ttyACM*", "/dev/rfcomm*", "/dev/ttyS*"};
    for (const char* pattern : kPatterns) {
        const GlobList paths(pattern);
        for (size_t i = 0; i < paths.Count(); ++i) {
            const char* path = paths[i];
            // Built-in UARTs are listed only when something answers on them:
            // most machines have /dev/ttyS0..31 whether wired or not.
            if (strncmp(path, "/dev/ttyS", 9) == 0) {
                const OwnedFd fd(open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
                struct termios t;
                if (!fd.Valid() || tcgetattr(fd.Get(), &t) != 0) continue;
            }
            std::string uri = std::string("serial:") + path;
            std::string info =
                std::string(strncmp(path, "/dev/rfcomm", 11) == 0 ? "Bluetooth serial " : "Serial port ") +
                (path + 5);
            // The web interface's Add Printer page has no field for line
            // settings: there a port is offered at each usual baud rate.
            const bool web = DfAppDeviceListsForWeb();
            const unsigned kWebBauds[] = {9600, 19200, 38400, 57600, 115200};
            bool stop = false;
            for (unsigned baud : kWebBauds) {
                const std::string u = web && baud != 9600 ? uri + "?baud=" + std::to_string(baud) : uri;
                const std::string text = web ? info + ", " + std::to_string(baud) + " baud" : info;
                stop = (*cb)(text.c_str(), u.c_str(), "", data);
                if (stop || !web) break;
            }
            if (stop) return true;
        }
    }
    return false;
}

}  // namespace

bool DfParseSerialUri(const char* uri, DfSerialSettings& s, std::string& error) {
    s = DfSerialSettings();
    const std::string text = uri ? uri : "";
    if (text.compare(0, 7, "serial:") != 0) {
        error = "not a serial: URI";
        return false;
    }
    const size_t q = text.find('?');
    s.path = text.substr(7, q == std::string::npos ? std::string::npos : q - 7);
    // Only serial device nodes: the URI must not reach arbitrary files.
    if (!DfSerialPathAllowed(s.path, error)) return false;
    return DfForEachUriSetting(text, q, error,
                               [&s](const std::string& name, const std::string& value, std::string& why) {
                                   return SetOption(s, name, value, why);
                               });
}

void DfRegisterSerialScheme() {
    papplDeviceAddScheme("serial", PAPPL_DEVTYPE_CUSTOM_LOCAL, ListCb, OpenCb, CloseCb, ReadCb, WriteCb,
                         StatusCb, nullptr);
}
