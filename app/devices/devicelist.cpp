// Device listing for the `devices` sub-command. DNS-SD is asked only when
// avahi-daemon answers (app/pappl/dnssd.cpp), so the serial ports are listed on a
// machine without it.
#include "app/devices/devicelist.h"

#include <pappl/pappl.h>

#include <cstdio>
#include <cstring>

#include <atomic>

#include "app/devices/bleuri.h"
#include "app/devices/serialdevice.h"
#include "app/devices/serialpath.h"

const char* const kDfDnssdOffUri = "dnssd-off:";

namespace {

// The ways a thermal printer is reached. A scheme added to the application
// (for instance a Bluetooth LE one) joins this list to become usable.
const char* const kDeviceSchemes[] = {"socket", "usb", "dnssd", "snmp", "serial", "ble"};

std::atomic<bool> gForWeb{false};

bool Print(const char* info, const char* uri, const char* id, void* data) {
    if (*static_cast<bool*>(data))
        printf("%s\n    %s\n    %s\n", uri, info ? info : "", id ? id : "");
    else
        printf("%s\n", uri);
    return false;  // keep listing
}

void Error(const char* message, void*) {
    fprintf(stderr, "dotforge-app: %s\n", message);
}

}  // namespace

bool DfAppDeviceSchemeAllowed(const char* uri, std::string& error) {
    const char* colon = uri ? strchr(uri, ':') : nullptr;
    if (colon && colon > uri) {
        const std::string scheme(uri, static_cast<size_t>(colon - uri));
        for (const char* s : kDeviceSchemes)
            if (scheme == s) return true;
    }
    error =
        std::string("The device URI '") + (uri ? uri : "") +
        "' is not allowed: printers are reached by socket:, usb:, serial:, ble: or a discovered dnssd: or "
        "snmp: address.";
    return false;
}

void DfAppSetDeviceListsForWeb(bool web) {
    gForWeb = web;
}

bool DfAppDeviceListsForWeb() {
    return gForWeb;
}

const char* DfAppDnssdOffReason() {
    return "avahi-daemon is not running, network printers are not searched with DNS-SD.";
}

int DfAppListDevices(bool verbose) {
    papplDeviceList(PAPPL_DEVTYPE_ALL, Print, &verbose, Error, nullptr);
    return 0;
}

bool DfAppCheckDeviceUri(const char* uri, std::string& error) {
    if (uri && !strcmp(uri, kDfDnssdOffUri)) {
        error = std::string("No printer chosen: ") + DfAppDnssdOffReason();
        return false;
    }
    if (!DfAppDeviceSchemeAllowed(uri, error)) return false;
    if (!strncmp(uri, "ble:", 4)) {
        DfBleSettings settings;
        if (DfParseBleUri(uri, settings, error)) return true;
        error = std::string("Bad Bluetooth device URI '") + uri + "': " + error;
        return false;
    }
    if (strncmp(uri, "serial:", 7)) return true;
    DfSerialSettings settings;
    if (DfParseSerialUri(uri, settings, error)) return true;
    error = std::string("Bad serial device URI '") + uri + "': " + error;
    return false;
}

bool DfAppCheckDeviceUriForAdd(const char* uri, std::string& error) {
    if (!DfAppCheckDeviceUri(uri, error)) return false;
    DfSerialSettings settings;
    std::string real;
    // A port that is there must be a serial port now; one that is not (an
    // adapter unplugged) is checked again when a job opens it.
    if (strncmp(uri, "serial:", 7) || !DfParseSerialUri(uri, settings, error) ||
        access(settings.path.c_str(), F_OK) != 0 || DfSerialCheckNode(settings.path, real, error))
        return true;
    error = std::string("Bad serial device URI '") + uri + "': " + error;
    return false;
}
