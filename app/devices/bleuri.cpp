// ble: URIs, the pocket printers' GATT profiles, flow-control grants and
// failure reasons: no bus access, so all of it is unit-tested.
#include "app/devices/bleuri.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "printers/family.h"

#include "app/devices/uriquery.h"

namespace {

const char kBaseUuidTail[] = "-0000-1000-8000-00805f9b34fb";

// The families' layouts, from their descriptors; made once.
const std::vector<DfBleProfile>& Profiles() {
    static const std::vector<DfBleProfile> profiles = [] {
        std::vector<DfBleProfile> list;
        for (const DfFamily* f : DfFamilies())
            if (f->ble.service)
                list.push_back({f->modelNumber, f->name, f->ble.service, f->ble.write, f->ble.notify,
                                f->ble.flow, f->talk != nullptr});
        return list;
    }();
    return profiles;
}

bool IsHex(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ParseUnsigned(const std::string& text, unsigned max, unsigned& value) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = static_cast<unsigned>(strtoul(text.c_str(), nullptr, 10));
    return value >= 1 && value <= max;
}

// Six hex pairs, all separated by ':' or all by '-'.
bool ValidAddress(const std::string& a) {
    if (a.size() != 17 || (a[2] != ':' && a[2] != '-')) return false;
    for (size_t i = 0; i < 17; i++) {
        const bool separator = i % 3 == 2;
        if (separator ? a[i] != a[2] : !isxdigit(static_cast<unsigned char>(a[i]))) return false;
    }
    return true;
}

bool SetOption(DfBleSettings& s, const std::string& name, const std::string& value, std::string& error) {
    std::string* uuid = name == "service"  ? &s.service
                        : name == "write"  ? &s.write
                        : name == "notify" ? &s.notify
                        : name == "flow"   ? &s.flow
                                           : nullptr;
    if (uuid) {
        if (name == "flow" && value == "none") {
            s.noFlow = true;
            s.flow.clear();
            return true;
        }
        if (!DfBleNormalizeUuid(value, *uuid)) {
            error = name + " must be a 16-bit or 128-bit UUID, not \"" + value + "\"";
            return false;
        }
        return true;
    }
    if (name == "chunk") {
        if (!ParseUnsigned(value, 512, s.chunk)) {
            error = "chunk must be 1 to 512 bytes, not \"" + value + "\"";
            return false;
        }
        return true;
    }
    if (name == "timeout") {
        if (!ParseUnsigned(value, 120, s.timeout)) {
            error = "timeout must be 1 to 120 seconds, not \"" + value + "\"";
            return false;
        }
        return true;
    }
    error = "unknown setting \"" + name + "\"";
    return false;
}

}  // namespace

bool DfBleNormalizeUuid(const std::string& text, std::string& uuid) {
    if ((text.size() == 4 || text.size() == 8) && IsHex(text)) {
        uuid = Lower(std::string(8 - text.size(), '0') + text) + kBaseUuidTail;
        return true;
    }
    if (text.size() != 36) return false;
    for (size_t i = 0; i < 36; i++) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    uuid = Lower(text);
    return true;
}

bool DfParseBleUri(const char* uri, DfBleSettings& s, std::string& error) {
    s = DfBleSettings();
    const std::string text = uri ? uri : "";
    if (text.compare(0, 6, "ble://") != 0) {
        error = "not a ble:// URI";
        return false;
    }
    const size_t q = text.find('?');
    std::string address = text.substr(6, q == std::string::npos ? std::string::npos : q - 6);
    if (!address.empty() && address.back() == '/') address.pop_back();
    if (!ValidAddress(address)) {
        error = "the address must look like AA:BB:CC:DD:EE:FF, not \"" + address + "\"";
        return false;
    }
    for (char& c : address) c = c == '-' ? ':' : static_cast<char>(toupper(static_cast<unsigned char>(c)));
    s.address = address;
    return DfForEachUriSetting(text, q, error,
                               [&s](const std::string& name, const std::string& value, std::string& why) {
                                   return SetOption(s, name, value, why);
                               });
}

std::string DfBleCanonicalUri(const char* uri) {
    std::string text = uri ? uri : "";
    if (text.compare(0, 6, "ble://") == 0 && ValidAddress(text.substr(6, 17)) &&
        (text.size() == 23 || text[23] == '?' || text[23] == '/'))
        for (size_t i = 8; i < 23; i += 3) text[i] = '-';
    return text;
}

std::string DfBleUriFor(const std::string& address) {
    std::string text = address;
    for (char& c : text) c = c == ':' ? '-' : static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return "ble://" + text;
}

const std::vector<DfBleProfile>& DfBleProfiles() {
    return Profiles();
}

const DfBleProfile* DfBleProfileFor(int modelNumber) {
    for (const DfBleProfile& p : Profiles())
        if (p.modelNumber == modelNumber) return &p;
    return nullptr;
}

const DfBleProfile* DfBleProfileForService(const std::string& uuid) {
    for (const DfBleProfile& p : Profiles())
        if (uuid == p.service) return &p;
    return nullptr;
}

void DfBleApplyProfile(DfBleSettings& s, const DfBleProfile* p) {
    if (!p) return;
    // Another service means other characteristics: the profile's only fit
    // its own service.
    if (!s.service.empty() && s.service != p->service) return;
    s.service = p->service;
    if (s.write.empty()) s.write = p->write;
    if (s.notify.empty()) s.notify = p->notify;
    if (s.flow.empty() && !s.noFlow && p->flow) s.flow = p->flow;
}

bool DfBleParseGrant(const uint8_t* data, size_t size, unsigned& writes, unsigned& chunk) {
    if (!data || size == 0 || size == 2 || size > 3) return false;
    writes = data[0];
    chunk = size == 3 ? static_cast<unsigned>(data[1] | data[2] << 8) : 0;
    return true;
}

size_t DfBleChunkSize(unsigned mtu, unsigned uriChunk, unsigned grantChunk) {
    // An ATT write without response carries the MTU less its 3-byte header;
    // 23 is the MTU every link starts with.
    size_t size = (mtu >= 23 ? mtu : 23) - 3;
    if (uriChunk && uriChunk < size) size = uriChunk;
    if (grantChunk && grantChunk < size) size = grantChunk;
    return size;
}

DfBleFailure DfBleClassifyError(const char* dbusError, const char* message, bool paired) {
    const std::string name = dbusError ? dbusError : "";
    const std::string text = Lower(message ? message : "");
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        name == "org.freedesktop.DBus.Error.NameHasNoOwner")
        return DfBleFailure::NoBluez;
    if (name == "org.bluez.Error.NotReady") return DfBleFailure::AdapterOff;
    if (name == "org.freedesktop.DBus.Error.UnknownObject" ||
        name == "org.freedesktop.DBus.Error.UnknownMethod" || name == "org.bluez.Error.DoesNotExist")
        return DfBleFailure::NotFound;
    if (!paired &&
        (name == "org.bluez.Error.AuthenticationFailed" || name == "org.bluez.Error.AuthenticationRejected" ||
         name == "org.bluez.Error.AuthenticationCanceled" || name == "org.bluez.Error.NotAuthorized" ||
         name == "org.bluez.Error.NotPermitted" ||
         text.find("insufficient authentication") != std::string::npos ||
         text.find("insufficient encryption") != std::string::npos))
        return DfBleFailure::NotPaired;
    if (name == "org.freedesktop.DBus.Error.NoReply" || name == "org.freedesktop.DBus.Error.Timeout" ||
        name == "org.freedesktop.DBus.Error.TimedOut" || name == "org.bluez.Error.Failed" ||
        name == "org.bluez.Error.InProgress" || name == "org.bluez.Error.NotConnected" ||
        name == "org.bluez.Error.AlreadyConnected")
        return DfBleFailure::NoConnect;
    return DfBleFailure::Other;
}

const char* DfBleFailureText(DfBleFailure failure) {
    switch (failure) {
        case DfBleFailure::None:
            return "";
        case DfBleFailure::NoBus:
            return "no system bus (D-Bus is not running)";
        case DfBleFailure::NoBluez:
            return "Bluetooth is not running (no BlueZ on the system bus)";
        case DfBleFailure::AdapterOff:
            return "Bluetooth adapter off";
        case DfBleFailure::NotFound:
            return "printer not found (off, out of range, or not yet seen by a scan)";
        case DfBleFailure::NotPaired:
            return "not paired (pair the printer with bluetoothctl)";
        case DfBleFailure::NoConnect:
            return "printer did not connect (off, out of range, or busy with another host)";
        case DfBleFailure::Lost:
            return "connection to the printer lost";
        case DfBleFailure::Other:
            break;
    }
    return "Bluetooth error";
}
