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
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/devices/bleuri.h"
#include "app/devices/devicewrite.h"
#include "app/devices/ownedfd.h"

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

// Owners of sd-bus objects: each lets go of its own on every path.
struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;

// A D-Bus error freed when it goes; Clear() before a reuse.
struct BusError : sd_bus_error {
    BusError() : sd_bus_error(SD_BUS_ERROR_NULL) {}
    ~BusError() { Clear(); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    void Clear() { sd_bus_error_free(this); }
};

// A connection to the system bus, or none.
BusPtr OpenSystemBus() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return nullptr;
    return BusPtr(bus);
}

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

// One method call to BlueZ; the reply, if asked for, goes to `reply`.
int Call(sd_bus* bus, const std::string& path, const char* iface, const char* member, uint64_t usec,
         sd_bus_error* error, MessagePtr* reply = nullptr,
         const std::function<int(sd_bus_message*)>& args = nullptr) {
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus, &raw, kBluez, path.c_str(), iface, member);
    MessagePtr m(raw);
    if (r >= 0 && args) r = args(m.get());
    sd_bus_message* answer = nullptr;
    if (r >= 0) r = sd_bus_call(bus, m.get(), usec, error, reply ? &answer : nullptr);
    if (reply) reply->reset(answer);
    if (r < 0 && !sd_bus_error_is_set(error)) sd_bus_error_set_errno(error, r);
    return r;
}

// All of BlueZ's objects; false with the D-Bus error in `error`.
bool GetObjects(sd_bus* bus, uint64_t usec, std::vector<BluezObject>& out, sd_bus_error* error) {
    out.clear();
    MessagePtr reply;
    int r = Call(bus, "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", usec, error, &reply);
    if (r < 0) {
        if (!sd_bus_error_is_set(error)) sd_bus_error_set_errno(error, r);
        return false;
    }
    sd_bus_message* m = reply.get();
    r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        BluezObject o;
        const char* path = nullptr;
        if ((r = sd_bus_message_read(m, "o", &path)) < 0) break;
        o.path = path;
        if ((r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}")) < 0) break;
        while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
            const char* iface = nullptr;
            if ((r = sd_bus_message_read(m, "s", &iface)) < 0) break;
            const std::string i = iface;
            o.adapter |= i == "org.bluez.Adapter1";
            o.device |= i == kDeviceIface;
            o.service |= i == "org.bluez.GattService1";
            o.characteristic |= i == kCharIface;
            if ((r = sd_bus_message_enter_container(m, 'a', "{sv}")) < 0) break;
            while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
                const char* prop = nullptr;
                if ((r = sd_bus_message_read(m, "s", &prop)) < 0) break;
                if ((r = ReadVariant(m, iface, prop, o)) < 0) break;
                if ((r = sd_bus_message_exit_container(m)) < 0) break;
            }
            if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) break;
            if ((r = sd_bus_message_exit_container(m)) < 0) break;
        }
        if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) break;
        if ((r = sd_bus_message_exit_container(m)) < 0) break;
        out.push_back(std::move(o));
    }
    if (r < 0) {
        sd_bus_error_set_errno(error, r);
        return false;
    }
    return true;
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

// One open device. Its destructor undoes whatever the open got as far as,
// so a failed open and a close let go of the same things.
struct BleLink {
    BleLink() = default;
    BleLink(const BleLink&) = delete;
    BleLink& operator=(const BleLink&) = delete;
    ~BleLink();

    DfBleSettings settings;
    BusPtr bus;
    std::vector<SlotPtr> slots;  // signal matches whose userdata is this link
    std::string devicePath, writePath, notifyPath, flowPath;
    bool weConnected = false, paired = false;
    OwnedFd writeFd;      // AcquireWrite's socket, or none for WriteValue
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
        while ((r = sd_bus_process(link.bus.get(), nullptr)) > 0) {
        }
        if (r < 0) return false;
        if (done && done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now()).count();
        if (left <= 0) return true;
        if (sd_bus_wait(link.bus.get(), static_cast<uint64_t>(left)) < 0) return false;
    }
}

// The socket and the signal matches go first, so no callback sees the link
// after this; a connection this link made is ended; the bus closes last
// (a member, after this body).
BleLink::~BleLink() {
    writeFd.Reset();
    slots.clear();
    if (bus && weConnected && !lost) {
        BusError error;
        Call(bus.get(), devicePath, kDeviceIface, "Disconnect", 5 * kUsec, &error);
    }
}

// Reports why the open fails; always false (the caller's link undoes the rest).
bool Refuse(pappl_device_t* device, const BleLink& link, const std::string& reason) {
    papplDeviceError(device, "Bluetooth printer %s: %s", link.settings.address.c_str(), reason.c_str());
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
bool Locate(pappl_device_t* device, BleLink& link, unsigned seconds, std::vector<BluezObject>& objects,
            const BluezObject*& dev) {
    BusError error;
    if (!GetObjects(link.bus.get(), seconds * kUsec, objects, &error)) {
        const DfBleFailure f = DfBleClassifyError(error.name, error.message, false);
        // Anything but a switched-off adapter means BlueZ is not there to ask.
        return Refuse(device, link,
                      Describe(f == DfBleFailure::AdapterOff ? f : DfBleFailure::NoBluez, error));
    }
    dev = FindDevice(objects, link.settings.address);
    const BluezObject* adapter = FindAdapter(objects, dev ? dev->adapterPath : "");
    if (!adapter) return Refuse(device, link, "no Bluetooth adapter");
    if (!adapter->powered) return Refuse(device, link, DfBleFailureText(DfBleFailure::AdapterOff));
    if (dev) return true;
    const std::string adapterPath = adapter->path;
    const bool scanning = Call(link.bus.get(), adapterPath, "org.bluez.Adapter1", "StartDiscovery",
                               seconds * kUsec, &error) >= 0;
    error.Clear();
    const auto end = Clock::now() + std::chrono::seconds(seconds < 10 ? seconds : 10);
    while (!dev && Clock::now() < end) {
        Pump(link, 500, nullptr);
        if (GetObjects(link.bus.get(), seconds * kUsec, objects, &error))
            dev = FindDevice(objects, link.settings.address);
        error.Clear();
    }
    if (scanning) {
        Call(link.bus.get(), adapterPath, "org.bluez.Adapter1", "StopDiscovery", 2 * kUsec, &error);
        error.Clear();
    }
    if (!dev) return Refuse(device, link, DfBleFailureText(DfBleFailure::NotFound));
    return true;
}

bool Subscribe(BleLink& link) {
    for (const std::string* path : {&link.devicePath, &link.notifyPath, &link.flowPath}) {
        if (path->empty()) continue;
        sd_bus_slot* slot = nullptr;
        if (sd_bus_match_signal(link.bus.get(), &slot, nullptr, path->c_str(),
                                "org.freedesktop.DBus.Properties", "PropertiesChanged", OnPropertiesChanged,
                                &link) < 0)
            return false;
        link.slots.emplace_back(slot);
    }
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(link.bus.get(), &slot, nullptr, "/", "org.freedesktop.DBus.ObjectManager",
                            "InterfacesRemoved", OnInterfacesRemoved, &link) < 0)
        return false;
    link.slots.emplace_back(slot);
    return true;
}

// Every return before the last leaves `link` to its destructor, which undoes
// as much of the open as was done.
bool Open(pappl_device_t* device, const char* uri, BleLink& link) {
    std::string error;
    if (!DfParseBleUri(uri, link.settings, error)) {
        papplDeviceError(device, "Bad Bluetooth device URI: %s", error.c_str());
        return false;
    }
    DfBleSettings& s = link.settings;
    {
        std::lock_guard<std::mutex> lock(g_notesLock);
        auto it = Notes().find(uri);
        if (it != Notes().end()) {
            const DfBleProfile* noted = DfBleProfileFor(it->second);
            DfBleApplyProfile(s, noted);
            link.talk = noted && noted->talk;
        }
    }
    const unsigned seconds = s.timeout ? s.timeout : kDfBleConnectSeconds;
    link.bus = OpenSystemBus();
    if (!link.bus) return Refuse(device, link, DfBleFailureText(DfBleFailure::NoBus));
    sd_bus* bus = link.bus.get();
    std::vector<BluezObject> objects;
    const BluezObject* dev = nullptr;
    if (!Locate(device, link, seconds, objects, dev)) return false;
    link.devicePath = dev->path;
    link.paired = dev->paired;
    BusError berr;
    if (!dev->connected) {
        if (Call(bus, link.devicePath, kDeviceIface, "Connect", seconds * kUsec, &berr) < 0) {
            const DfBleFailure f = DfBleClassifyError(berr.name, berr.message, link.paired);
            const std::string why = Describe(f, berr);
            berr.Clear();
            // BlueZ would go on trying: call the attempt off.
            Call(bus, link.devicePath, kDeviceIface, "Disconnect", 2 * kUsec, &berr);
            return Refuse(device, link, why);
        }
        link.weConnected = true;
    }
    // The GATT objects appear once BlueZ has resolved the services.
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (!GetObjects(bus, seconds * kUsec, objects, &berr))
            return Refuse(device, link, DfBleFailureText(DfBleFailure::Lost));
        dev = FindDevice(objects, s.address);
        if (!dev || (!dev->connected && link.weConnected)) {
            link.lost = true;
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
                link.talk = DfBleProfileForService(uuid)->talk;
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
    link.writePath = FindCharacteristic(objects, servicePath, s.write, &writeChar);
    if (!writeChar)
        return Refuse(device, link, "the printer has no characteristic " + s.write + " to write to");
    link.notifyPath = FindCharacteristic(objects, servicePath, s.notify);
    link.flowPath = s.noFlow ? "" : FindCharacteristic(objects, servicePath, s.flow);
    if (!s.flow.empty() && link.flowPath.empty())
        papplDeviceError(device,
                         "Bluetooth printer %s has no flow-control characteristic %s: writing without.",
                         s.address.c_str(), s.flow.c_str());
    if (link.flowPath == link.notifyPath) link.flowPath.clear();  // one subscription, not two
    if (writeChar->mtu >= 23) link.mtu = writeChar->mtu;
    bool noResponse = false;
    for (const std::string& f : writeChar->flags) noResponse |= f == "write-without-response";
    link.command = noResponse || writeChar->flags.empty();
    if (!Subscribe(link)) return Refuse(device, link, "unable to watch the printer's notifications");
    for (const std::string* path : {&link.notifyPath, &link.flowPath}) {
        if (path->empty()) continue;
        berr.Clear();
        if (Call(bus, *path, kCharIface, "StartNotify", seconds * kUsec, &berr) < 0) {
            const std::string why = Describe(DfBleClassifyError(berr.name, berr.message, link.paired), berr);
            // Without grants the flow cannot be honoured; without status the
            // job still prints.
            if (*path == link.flowPath) return Refuse(device, link, "no flow control: " + why);
            papplDeviceError(device, "Bluetooth printer %s: no notifications (%s).", s.address.c_str(),
                             why.c_str());
            link.notifyPath.clear();
        }
    }
    // A socket from AcquireWrite spares a D-Bus round trip per chunk.
    if (link.command) {
        berr.Clear();
        MessagePtr reply;
        if (Call(bus, link.writePath, kCharIface, "AcquireWrite", seconds * kUsec, &berr, &reply,
                 AppendEmptyOptions) >= 0) {
            int fd = -1;  // the reply's own, closed with it
            uint16_t mtu = 0;
            if (sd_bus_message_read(reply.get(), "hq", &fd, &mtu) >= 0 && fd >= 0) {
                link.writeFd.Reset(fcntl(fd, F_DUPFD_CLOEXEC, 3));
                if (mtu >= 23) link.mtu = mtu;
            }
        }
    }
    return true;
}

bool OpenCb(pappl_device_t* device, const char* uri, const char*) {
    auto link = std::make_unique<BleLink>();
    if (!Open(device, uri, *link)) return false;
    // PAPPL holds the open link as the device's data until CloseCb takes it
    // back; nothing else frees it.
    papplDeviceSetData(device, link.release());
    return true;
}

void CloseCb(pappl_device_t* device) {
    std::unique_ptr<BleLink> link(static_cast<BleLink*>(papplDeviceGetData(device)));
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
    if (link.writeFd.Valid()) {
        for (;;) {
            const ssize_t n = send(link.writeFd.Get(), data, size, MSG_NOSIGNAL);
            if (n == static_cast<ssize_t>(size)) return true;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                struct pollfd p = {link.writeFd.Get(), POLLOUT, 0};
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
    BusError error;
    const char* type = link.command ? "command" : "request";
    const int r = Call(link.bus.get(), link.writePath, kCharIface, "WriteValue", kDfBleStallSeconds * kUsec,
                       &error, nullptr, [&](sd_bus_message* m) {
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
    BusPtr bus = OpenSystemBus();
    if (!bus) {
        if (err_cb)
            (*err_cb)("Bluetooth LE printers are not listed: no system bus (D-Bus is not running).",
                      err_data);
        return false;
    }
    std::vector<BluezObject> objects;
    BusError error;
    const bool ok = GetObjects(bus.get(), 3 * kUsec, objects, &error);
    bus.reset();
    if (!ok) {
        const std::string why = std::string("Bluetooth LE printers are not listed: ") +
                                DfBleFailureText(DfBleFailure::NoBluez) + " (" +
                                (error.message ? error.message : "") + ").";
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
