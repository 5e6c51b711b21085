// ble: devices through BlueZ's D-Bus interface with sd-bus: finding the
// printer among BlueZ's objects, connecting per job, chunked writes under the
// printer's flow control, notifications as the read side, listing.
//
// sd-bus because it ships in libsystemd0, which every Debian system already
// has; it makes plain blocking calls with a timeout each and passes file
// descriptors (AcquireWrite), with no main loop or helper thread to run
// beside PAPPL's own threads. Each open device has a bus connection of its
// own, so jobs on several printers never share one.
#include "app/devices/bledevice.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/devices/bleuri.h"
#include "app/devices/devicewrite.h"

namespace {

const char kBluez[] = "org.bluez";
const char kDeviceIface[] = "org.bluez.Device1";
const char kCharIface[] = "org.bluez.GattCharacteristic1";
const uint64_t kUsec = 1000000;

std::mutex g_notesLock;
std::map<std::string, int>& Notes() {
    static std::map<std::string, int> notes;  // device URI -> command family
    return notes;
}

// What GetManagedObjects says about one object (only what we use).
struct BluezObject {
    std::string path;
    bool adapter = false, device = false, service = false, characteristic = false;
    bool powered = false;                    // Adapter1
    std::string address, name, adapterPath;  // Device1
    bool paired = false, connected = false, resolved = false;
    std::vector<std::string> uuids;
    std::string uuid, owner;  // GattService1 (Device) / GattCharacteristic1 (Service)
    unsigned mtu = 0;
    std::vector<std::string> flags;
};

using Clock = std::chrono::steady_clock;

int ReadVariant(sd_bus_message* m, const char* iface, const char* prop, BluezObject& o) {
    char type;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    const std::string i = iface, p = prop, c = contents ? contents : "";
    std::string* text = nullptr;
    bool* flag = nullptr;
    std::vector<std::string>* list = nullptr;
    if (i == "org.bluez.Adapter1") {
        if (p == "Powered") flag = &o.powered;
    } else if (i == kDeviceIface) {
        if (p == "Address") text = &o.address;
        if (p == "Name" || (p == "Alias" && o.name.empty())) text = &o.name;
        if (p == "Adapter") text = &o.adapterPath;
        if (p == "Paired") flag = &o.paired;
        if (p == "Connected") flag = &o.connected;
        if (p == "ServicesResolved") flag = &o.resolved;
        if (p == "UUIDs") list = &o.uuids;
    } else if (i == "org.bluez.GattService1") {
        if (p == "UUID") text = &o.uuid;
        if (p == "Device") text = &o.owner;
    } else if (i == kCharIface) {
        if (p == "UUID") text = &o.uuid;
        if (p == "Service") text = &o.owner;
        if (p == "Flags") list = &o.flags;
        if (p == "MTU" && c == "q") {
            uint16_t mtu = 0;
            r = sd_bus_message_read(m, "v", "q", &mtu);
            o.mtu = mtu;
            return r;
        }
    }
    if (text && (c == "s" || c == "o")) {
        const char* value = nullptr;
        r = sd_bus_message_read(m, "v", c.c_str(), &value);
        if (r >= 0 && value) *text = value;
        return r;
    }
    if (flag && c == "b") {
        int value = 0;
        r = sd_bus_message_read(m, "v", "b", &value);
        *flag = value != 0;
        return r;
    }
    if (list && c == "as") {
        if ((r = sd_bus_message_enter_container(m, 'v', "as")) < 0) return r;
        char** strv = nullptr;
        r = sd_bus_message_read_strv(m, &strv);
        if (strv) {
            for (char** s = strv; *s; ++s) {
                list->push_back(*s);
                free(*s);
            }
            free(strv);
        }
        if (r < 0) return r;
        return sd_bus_message_exit_container(m);
    }
    return sd_bus_message_skip(m, "v");
}

// All of BlueZ's objects; false with the D-Bus error in `error`.
bool GetObjects(sd_bus* bus, uint64_t usec, std::vector<BluezObject>& out, sd_bus_error* error) {
    out.clear();
    sd_bus_message* m = nullptr;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_call(bus, &m, kBluez, "/", "org.freedesktop.DBus.ObjectManager",
                                           "GetManagedObjects");
    if (r >= 0) r = sd_bus_call(bus, m, usec, error, &reply);
    sd_bus_message_unref(m);
    if (r < 0) {
        if (!sd_bus_error_is_set(error)) sd_bus_error_set_errno(error, r);
        return false;
    }
    r = sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}")) > 0) {
        BluezObject o;
        const char* path = nullptr;
        if ((r = sd_bus_message_read(reply, "o", &path)) < 0) break;
        o.path = path;
        if ((r = sd_bus_message_enter_container(reply, 'a', "{sa{sv}}")) < 0) break;
        while ((r = sd_bus_message_enter_container(reply, 'e', "sa{sv}")) > 0) {
            const char* iface = nullptr;
            if ((r = sd_bus_message_read(reply, "s", &iface)) < 0) break;
            const std::string i = iface;
            o.adapter |= i == "org.bluez.Adapter1";
            o.device |= i == kDeviceIface;
            o.service |= i == "org.bluez.GattService1";
            o.characteristic |= i == kCharIface;
            if ((r = sd_bus_message_enter_container(reply, 'a', "{sv}")) < 0) break;
            while ((r = sd_bus_message_enter_container(reply, 'e', "sv")) > 0) {
                const char* prop = nullptr;
                if ((r = sd_bus_message_read(reply, "s", &prop)) < 0) break;
                if ((r = ReadVariant(reply, iface, prop, o)) < 0) break;
                if ((r = sd_bus_message_exit_container(reply)) < 0) break;
            }
            if (r < 0 || (r = sd_bus_message_exit_container(reply)) < 0) break;
            if ((r = sd_bus_message_exit_container(reply)) < 0) break;
        }
        if (r < 0 || (r = sd_bus_message_exit_container(reply)) < 0) break;
        if ((r = sd_bus_message_exit_container(reply)) < 0) break;
        out.push_back(std::move(o));
    }
    sd_bus_message_unref(reply);
    if (r < 0) {
        sd_bus_error_set_errno(error, r);
        return false;
    }
    return true;
}

int Call(sd_bus* bus, const std::string& path, const char* iface, const char* member, uint64_t usec,
         sd_bus_error* error, sd_bus_message** reply = nullptr,
         const std::function<int(sd_bus_message*)>& args = nullptr) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus, &m, kBluez, path.c_str(), iface, member);
    if (r >= 0 && args) r = args(m);
    if (r >= 0) r = sd_bus_call(bus, m, usec, error, reply);
    sd_bus_message_unref(m);
    if (r < 0 && !sd_bus_error_is_set(error)) sd_bus_error_set_errno(error, r);
    return r;
}

int AppendEmptyOptions(sd_bus_message* m) {
    int r = sd_bus_message_open_container(m, 'a', "{sv}");
    return r < 0 ? r : sd_bus_message_close_container(m);
}

const BluezObject* FindDevice(const std::vector<BluezObject>& objects, const std::string& address) {
    for (const BluezObject& o : objects)
        if (o.device && strcasecmp(o.address.c_str(), address.c_str()) == 0) return &o;
    return nullptr;
}

const BluezObject* FindAdapter(const std::vector<BluezObject>& objects, const std::string& path) {
    for (const BluezObject& o : objects)
        if (o.adapter && (path.empty() || o.path == path)) return &o;
    return nullptr;
}

// The object path of the characteristic with this UUID in the device's service.
std::string FindCharacteristic(const std::vector<BluezObject>& objects, const std::string& servicePath,
                               const std::string& uuid, const BluezObject** found = nullptr) {
    if (uuid.empty()) return "";
    for (const BluezObject& o : objects) {
        std::string normal;
        if (o.characteristic && o.owner == servicePath && DfBleNormalizeUuid(o.uuid, normal) &&
            normal == uuid) {
            if (found) *found = &o;
            return o.path;
        }
    }
    return "";
}

struct BleLink {
    DfBleSettings settings;
    std::string uri;
    sd_bus* bus = nullptr;
    std::vector<sd_bus_slot*> slots;
    std::string devicePath, writePath, notifyPath, flowPath;
    bool weConnected = false, paired = false;
    int writeFd = -1;     // AcquireWrite's socket, or -1 for WriteValue
    bool command = true;  // write without response
    unsigned mtu = 23;
    std::string inbox;              // notification bytes not yet read
    unsigned credits = 0;           // writes the printer still takes (flow control)
    unsigned grantChunk = 0;        // largest write it granted (0: not said)
    std::atomic<bool> lost{false};  // also read by the status callback
    // The family talks (DfFamily::talk): what the flow characteristic says
    // is read like any notification, not counted as grants.
    bool talk = false;
    std::string reason;  // the last failure, for the job
};

// A value or connection change from BlueZ: notifications go to the inbox,
// grants to the credits, a dropped link marks the device lost.
int OnPropertiesChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    BleLink& link = *static_cast<BleLink*>(userdata);
    const char* path = sd_bus_message_get_path(m);
    const char* iface = nullptr;
    if (!path || sd_bus_message_read(m, "s", &iface) < 0) return 0;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return 0;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* prop = nullptr;
        if (sd_bus_message_read(m, "s", &prop) < 0) return 0;
        char type;
        const char* contents = nullptr;
        if (sd_bus_message_peek_type(m, &type, &contents) < 0) return 0;
        if (!strcmp(iface, kCharIface) && !strcmp(prop, "Value") && contents && !strcmp(contents, "ay")) {
            const void* data = nullptr;
            size_t size = 0;
            if (sd_bus_message_enter_container(m, 'v', "ay") < 0 ||
                sd_bus_message_read_array(m, 'y', &data, &size) < 0 || sd_bus_message_exit_container(m) < 0)
                return 0;
            unsigned writes = 0, chunk = 0;
            if (link.flowPath == path && !link.talk &&
                DfBleParseGrant(static_cast<const uint8_t*>(data), size, writes, chunk)) {
                link.credits += writes;
                if (chunk) link.grantChunk = chunk;
            } else if ((link.notifyPath == path || link.flowPath == path) && size) {
                // A printer nobody reads from must not grow this without end.
                if (link.inbox.size() < 65536) link.inbox.append(static_cast<const char*>(data), size);
            }
        } else if (!strcmp(iface, kDeviceIface) && !strcmp(prop, "Connected") && contents &&
                   !strcmp(contents, "b") && link.devicePath == path) {
            int connected = 1;
            if (sd_bus_message_read(m, "v", "b", &connected) < 0) return 0;
            if (!connected) link.lost = true;
        } else if (sd_bus_message_skip(m, "v") < 0) {
            return 0;
        }
        if (sd_bus_message_exit_container(m) < 0) return 0;
    }
    return 0;
}

// The printer's object went away (switched off, out of range, removed).
int OnInterfacesRemoved(sd_bus_message* m, void* userdata, sd_bus_error*) {
    BleLink& link = *static_cast<BleLink*>(userdata);
    const char* path = nullptr;
    if (sd_bus_message_read(m, "o", &path) >= 0 && path && link.devicePath == path) link.lost = true;
    return 0;
}

// Handles what the bus has queued, then waits up to `ms` until `done` holds.
// False when the connection to the bus itself fails.
bool Pump(BleLink& link, int ms, const std::function<bool()>& done) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int r;
        while ((r = sd_bus_process(link.bus, nullptr)) > 0) {
        }
        if (r < 0) return false;
        if (done && done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now()).count();
        if (left <= 0) return true;
        if (sd_bus_wait(link.bus, static_cast<uint64_t>(left)) < 0) return false;
    }
}

void CloseLink(BleLink* link) {
    if (!link) return;
    if (link->writeFd >= 0) close(link->writeFd);
    for (sd_bus_slot* slot : link->slots) sd_bus_slot_unref(slot);
    if (link->bus && link->weConnected && !link->lost) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        Call(link->bus, link->devicePath, kDeviceIface, "Disconnect", 5 * kUsec, &error);
        sd_bus_error_free(&error);
    }
    if (link->bus) sd_bus_flush_close_unref(link->bus);
    delete link;
}

// Fails the open with a reason; always false.
bool Refuse(pappl_device_t* device, BleLink* link, const std::string& reason) {
    papplDeviceError(device, "Bluetooth printer %s: %s", link->settings.address.c_str(), reason.c_str());
    CloseLink(link);
    return false;
}

std::string Describe(DfBleFailure failure, const sd_bus_error& error) {
    std::string text = DfBleFailureText(failure);
    if (failure == DfBleFailure::Other || failure == DfBleFailure::NoConnect ||
        failure == DfBleFailure::NoBluez) {
        if (error.name)
            text += std::string(" [") + error.name +
                    (error.message ? std::string(": ") + error.message : "") + "]";
    }
    return text;
}

// Finds the printer (with a short scan if BlueZ has not seen it yet).
bool Locate(pappl_device_t* device, BleLink* link, unsigned seconds, std::vector<BluezObject>& objects,
            const BluezObject*& dev) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (!GetObjects(link->bus, seconds * kUsec, objects, &error)) {
        const DfBleFailure f = DfBleClassifyError(error.name, error.message, false);
        // Anything but a switched-off adapter means BlueZ is not there to ask.
        const std::string why = Describe(f == DfBleFailure::AdapterOff ? f : DfBleFailure::NoBluez, error);
        sd_bus_error_free(&error);
        return Refuse(device, link, why);
    }
    dev = FindDevice(objects, link->settings.address);
    const BluezObject* adapter = FindAdapter(objects, dev ? dev->adapterPath : "");
    if (!adapter) return Refuse(device, link, "no Bluetooth adapter");
    if (!adapter->powered) return Refuse(device, link, DfBleFailureText(DfBleFailure::AdapterOff));
    if (dev) return true;
    const std::string adapterPath = adapter->path;
    const bool scanning =
        Call(link->bus, adapterPath, "org.bluez.Adapter1", "StartDiscovery", seconds * kUsec, &error) >= 0;
    sd_bus_error_free(&error);
    const auto end = Clock::now() + std::chrono::seconds(seconds < 10 ? seconds : 10);
    while (!dev && Clock::now() < end) {
        Pump(*link, 500, nullptr);
        if (GetObjects(link->bus, seconds * kUsec, objects, &error))
            dev = FindDevice(objects, link->settings.address);
        sd_bus_error_free(&error);
    }
    if (scanning) {
        Call(link->bus, adapterPath, "org.bluez.Adapter1", "StopDiscovery", 2 * kUsec, &error);
        sd_bus_error_free(&error);
    }
    if (!dev) return Refuse(device, link, DfBleFailureText(DfBleFailure::NotFound));
    return true;
}

bool Subscribe(BleLink* link) {
    sd_bus_slot* slot = nullptr;
    for (const std::string* path : {&link->devicePath, &link->notifyPath, &link->flowPath}) {
        if (path->empty()) continue;
        if (sd_bus_match_signal(link->bus, &slot, nullptr, path->c_str(), "org.freedesktop.DBus.Properties",
                                "PropertiesChanged", OnPropertiesChanged, link) < 0)
            return false;
        link->slots.push_back(slot);
    }
    if (sd_bus_match_signal(link->bus, &slot, nullptr, "/", "org.freedesktop.DBus.ObjectManager",
                            "InterfacesRemoved", OnInterfacesRemoved, link) < 0)
        return false;
    link->slots.push_back(slot);
    return true;
}

bool OpenCb(pappl_device_t* device, const char* uri, const char*) {
    BleLink* link = new BleLink;
    std::string error;
    if (!DfParseBleUri(uri, link->settings, error)) {
        papplDeviceError(device, "Bad Bluetooth device URI: %s", error.c_str());
        delete link;
        return false;
    }
    link->uri = uri;
    DfBleSettings& s = link->settings;
    {
        std::lock_guard<std::mutex> lock(g_notesLock);
        auto it = Notes().find(uri);
        if (it != Notes().end()) {
            const DfBleProfile* noted = DfBleProfileFor(it->second);
            DfBleApplyProfile(s, noted);
            link->talk = noted && noted->talk;
        }
    }
    const unsigned seconds = s.timeout ? s.timeout : kDfBleConnectSeconds;
    if (sd_bus_open_system(&link->bus) < 0) {
        link->bus = nullptr;
        return Refuse(device, link, DfBleFailureText(DfBleFailure::NoBus));
    }
    std::vector<BluezObject> objects;
    const BluezObject* dev = nullptr;
    if (!Locate(device, link, seconds, objects, dev)) return false;
    link->devicePath = dev->path;
    link->paired = dev->paired;
    sd_bus_error berr = SD_BUS_ERROR_NULL;
    if (!dev->connected) {
        if (Call(link->bus, link->devicePath, kDeviceIface, "Connect", seconds * kUsec, &berr) < 0) {
            const DfBleFailure f = DfBleClassifyError(berr.name, berr.message, link->paired);
            const std::string why = Describe(f, berr);
            sd_bus_error_free(&berr);
            // BlueZ would go on trying: call the attempt off.
            Call(link->bus, link->devicePath, kDeviceIface, "Disconnect", 2 * kUsec, &berr);
            sd_bus_error_free(&berr);
            return Refuse(device, link, why);
        }
        link->weConnected = true;
    }
    // The GATT objects appear once BlueZ has resolved the services.
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (!GetObjects(link->bus, seconds * kUsec, objects, &berr)) {
            sd_bus_error_free(&berr);
            return Refuse(device, link, DfBleFailureText(DfBleFailure::Lost));
        }
        dev = FindDevice(objects, s.address);
        if (!dev || (!dev->connected && link->weConnected)) {
            link->lost = true;
            return Refuse(device, link, DfBleFailureText(DfBleFailure::Lost));
        }
        if (dev->resolved) break;
        if (Clock::now() >= end) return Refuse(device, link, "the printer's services did not appear in time");
        usleep(100000);
    }
    // A URI and a printer without a known family: the first known service
    // the printer offers decides.
    std::string servicePath;
    for (int pass = 0; pass < 2 && servicePath.empty(); pass++) {
        for (const BluezObject& o : objects) {
            std::string uuid;
            if (!o.service || o.owner != dev->path || !DfBleNormalizeUuid(o.uuid, uuid)) continue;
            if (pass == 0 && uuid == s.service) servicePath = o.path;
            if (pass == 1 && s.service.empty() && DfBleProfileForService(uuid)) {
                DfBleApplyProfile(s, DfBleProfileForService(uuid));
                link->talk = DfBleProfileForService(uuid)->talk;
                servicePath = o.path;
            }
            if (!servicePath.empty()) break;
        }
    }
    if (servicePath.empty())
        return Refuse(device, link,
                      s.service.empty()
                          ? "the printer offers no service this driver knows (give service= in the URI)"
                          : "the printer has no service " + s.service);
    const BluezObject* writeChar = nullptr;
    link->writePath = FindCharacteristic(objects, servicePath, s.write, &writeChar);
    if (!writeChar)
        return Refuse(device, link, "the printer has no characteristic " + s.write + " to write to");
    link->notifyPath = FindCharacteristic(objects, servicePath, s.notify);
    link->flowPath = s.noFlow ? "" : FindCharacteristic(objects, servicePath, s.flow);
    if (!s.flow.empty() && link->flowPath.empty())
        papplDeviceError(device,
                         "Bluetooth printer %s has no flow-control characteristic %s: writing without.",
                         s.address.c_str(), s.flow.c_str());
    if (link->flowPath == link->notifyPath) link->flowPath.clear();  // one subscription, not two
    if (writeChar->mtu >= 23) link->mtu = writeChar->mtu;
    bool noResponse = false;
    for (const std::string& f : writeChar->flags) noResponse |= f == "write-without-response";
    link->command = noResponse || writeChar->flags.empty();
    if (!Subscribe(link)) return Refuse(device, link, "unable to watch the printer's notifications");
    for (const std::string* path : {&link->notifyPath, &link->flowPath}) {
        if (path->empty()) continue;
        if (Call(link->bus, *path, kCharIface, "StartNotify", seconds * kUsec, &berr) < 0) {
            const std::string why = Describe(DfBleClassifyError(berr.name, berr.message, link->paired), berr);
            sd_bus_error_free(&berr);
            // Without grants the flow cannot be honoured; without status the
            // job still prints.
            if (*path == link->flowPath) return Refuse(device, link, "no flow control: " + why);
            papplDeviceError(device, "Bluetooth printer %s: no notifications (%s).", s.address.c_str(),
                             why.c_str());
            link->notifyPath.clear();
        }
    }
    // A socket from AcquireWrite spares a D-Bus round trip per chunk.
    if (link->command) {
        sd_bus_message* reply = nullptr;
        if (Call(link->bus, link->writePath, kCharIface, "AcquireWrite", seconds * kUsec, &berr, &reply,
                 AppendEmptyOptions) >= 0) {
            int fd = -1;
            uint16_t mtu = 0;
            if (sd_bus_message_read(reply, "hq", &fd, &mtu) >= 0 && fd >= 0) {
                link->writeFd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
                if (mtu >= 23) link->mtu = mtu;
            }
            sd_bus_message_unref(reply);
        }
        sd_bus_error_free(&berr);
    }
    papplDeviceSetData(device, link);
    return true;
}

void CloseCb(pappl_device_t* device) {
    CloseLink(static_cast<BleLink*>(papplDeviceGetData(device)));
    papplDeviceSetData(device, nullptr);
}

// Notification bytes that came within `ms`: 0 when none, -1 when the link
// is lost (and nothing is left to read).
ssize_t ReadWithin(BleLink* link, void* buffer, size_t bytes, int ms) {
    if (!link) return -1;
    if (!Pump(*link, ms, [link] { return !link->inbox.empty() || link->lost; }) ||
        (link->inbox.empty() && link->lost))
        return -1;
    const size_t n = bytes < link->inbox.size() ? bytes : link->inbox.size();
    memcpy(buffer, link->inbox.data(), n);
    link->inbox.erase(0, n);
    return static_cast<ssize_t>(n);
}

ssize_t ReadCb(pappl_device_t* device, void* buffer, size_t bytes) {
    return ReadWithin(static_cast<BleLink*>(papplDeviceGetData(device)), buffer, bytes, 100);
}

bool WriteChunk(pappl_device_t* device, BleLink& link, const uint8_t* data, size_t size) {
    if (link.writeFd >= 0) {
        for (;;) {
            const ssize_t n = send(link.writeFd, data, size, MSG_NOSIGNAL);
            if (n == static_cast<ssize_t>(size)) return true;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                struct pollfd p = {link.writeFd, POLLOUT, 0};
                if (poll(&p, 1, static_cast<int>(kDfBleStallSeconds) * 1000) > 0 &&
                    !(p.revents & (POLLERR | POLLHUP)))
                    continue;
            }
            link.lost = true;
            link.reason = DfBleFailureText(DfBleFailure::Lost);
            DfAppNoteWriteFailed(link.reason);  // for the job, through a flush too
            papplDeviceError(device, "Bluetooth printer %s: %s.", link.settings.address.c_str(),
                             link.reason.c_str());
            return false;
        }
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const char* type = link.command ? "command" : "request";
    const int r = Call(link.bus, link.writePath, kCharIface, "WriteValue", kDfBleStallSeconds * kUsec, &error,
                       nullptr, [&](sd_bus_message* m) {
                           int r = sd_bus_message_append_array(m, 'y', data, size);
                           if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
                           if (r >= 0) r = sd_bus_message_append(m, "{sv}", "type", "s", type);
                           return r < 0 ? r : sd_bus_message_close_container(m);
                       });
    if (r >= 0) return true;
    DfBleFailure f = DfBleClassifyError(error.name, error.message, link.paired);
    if (f != DfBleFailure::NotPaired) f = DfBleFailure::Lost;
    link.lost = f == DfBleFailure::Lost;
    link.reason = DfBleFailureText(f);
    DfAppNoteWriteFailed(link.reason);  // for the job, through a flush too
    papplDeviceError(device, "Bluetooth printer %s: %s (%s).", link.settings.address.c_str(),
                     link.reason.c_str(), error.message ? error.message : strerror(-r));
    sd_bus_error_free(&error);
    return false;
}

// Chunks no larger than the link and the printer allow; with flow control,
// one chunk per granted write and none ahead of a grant.
ssize_t WriteCb(pappl_device_t* device, const void* buffer, size_t bytes) {
    BleLink* link = static_cast<BleLink*>(papplDeviceGetData(device));
    if (!link) return -1;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    size_t left = bytes;
    const bool flow = !link->flowPath.empty() && !link->talk;
    while (left > 0) {
        const bool ready = Pump(*link, flow ? static_cast<int>(kDfBleStallSeconds) * 1000 : 0,
                                [link, flow] { return link->lost || !flow || link->credits > 0; });
        if (!ready || link->lost) {
            link->reason = DfBleFailureText(DfBleFailure::Lost);
            DfAppNoteWriteFailed(link->reason);  // for the job, through a flush too
            papplDeviceError(device, "Bluetooth printer %s: %s.", link->settings.address.c_str(),
                             link->reason.c_str());
            return -1;
        }
        if (flow && link->credits == 0) {
            link->reason =
                "the printer granted no data for " + std::to_string(kDfBleStallSeconds) + " seconds";
            DfAppNoteWriteFailed(link->reason);  // for the job, through a flush too
            papplDeviceError(device, "Bluetooth printer %s: %s.", link->settings.address.c_str(),
                             link->reason.c_str());
            return -1;
        }
        size_t n = DfBleChunkSize(link->mtu, link->settings.chunk, link->grantChunk);
        if (n > left) n = left;
        if (!WriteChunk(device, *link, p, n)) return -1;
        if (flow) link->credits--;
        p += n;
        left -= n;
    }
    return static_cast<ssize_t>(bytes);
}

pappl_preason_t StatusCb(pappl_device_t* device) {
    BleLink* link = static_cast<BleLink*>(papplDeviceGetData(device));
    return link && link->lost ? PAPPL_PREASON_OFFLINE : PAPPL_PREASON_NONE;
}

// The family a device advertises a service of, else the one its name
// starts with; nullptr for anything else.
const DfBleProfile* PrinterProfile(const BluezObject& o) {
    for (const std::string& u : o.uuids) {
        std::string uuid;
        if (DfBleNormalizeUuid(u, uuid) && DfBleProfileForService(uuid)) return DfBleProfileForService(uuid);
    }
    for (const DfBleProfile& p : DfBleProfiles())
        if (strncasecmp(o.name.c_str(), p.name, strlen(p.name)) == 0) return &p;
    return nullptr;
}

// The printers BlueZ knows of (paired, connected or seen in a scan).
bool ListCb(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t err_cb, void* err_data) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        if (err_cb)
            (*err_cb)("Bluetooth LE printers are not listed: no system bus (D-Bus is not running).",
                      err_data);
        return false;
    }
    std::vector<BluezObject> objects;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const bool ok = GetObjects(bus, 3 * kUsec, objects, &error);
    sd_bus_flush_close_unref(bus);
    if (!ok) {
        const std::string why = std::string("Bluetooth LE printers are not listed: ") +
                                DfBleFailureText(DfBleFailure::NoBluez) + " (" +
                                (error.message ? error.message : "") + ").";
        sd_bus_error_free(&error);
        if (err_cb) (*err_cb)(why.c_str(), err_data);
        return false;
    }
    for (const BluezObject& o : objects) {
        const DfBleProfile* profile = o.device && !o.address.empty() ? PrinterProfile(o) : nullptr;
        if (!profile) continue;
        const std::string uri = DfBleUriFor(o.address);
        const std::string name = o.name.empty() ? o.address : o.name;
        const std::string info = name + " (Bluetooth LE " + o.address + ")";
        const std::string id = std::string("MFG:") + profile->name + ";MDL:" + name + ";";
        if ((*cb)(info.c_str(), uri.c_str(), id.c_str(), data)) return true;
    }
    return false;
}

}  // namespace

void DfBleNotePrinter(const char* deviceUri, int modelNumber) {
    if (!deviceUri || strncmp(deviceUri, "ble://", 6)) return;
    std::lock_guard<std::mutex> lock(g_notesLock);
    Notes()[deviceUri] = modelNumber;
}

std::string DfBleDeviceReason(pappl_job_t* job, pappl_device_t* device) {
    const char* uri = job ? papplPrinterGetDeviceURI(papplJobGetPrinter(job)) : nullptr;
    if (!device || !uri || strncmp(uri, "ble://", 6)) return "";
    const BleLink* link = static_cast<const BleLink*>(papplDeviceGetData(device));
    return link ? link->reason : "";
}

size_t DfBleWriteSize(pappl_device_t* device) {
    const BleLink* link = static_cast<const BleLink*>(papplDeviceGetData(device));
    return link ? DfBleChunkSize(link->mtu, link->settings.chunk, link->grantChunk) : 0;
}

long DfBleReadWithin(pappl_device_t* device, void* buffer, size_t bytes, int ms) {
    return ReadWithin(static_cast<BleLink*>(papplDeviceGetData(device)), buffer, bytes, ms < 0 ? 0 : ms);
}

void DfRegisterBleScheme() {
    papplDeviceAddScheme("ble", PAPPL_DEVTYPE_CUSTOM_LOCAL, ListCb, OpenCb, CloseCb, ReadCb, WriteCb,
                         StatusCb, nullptr);
}
