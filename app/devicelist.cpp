// Device listing for the `devices` sub-command. PAPPL 1.3.1's own listing
// aborts inside the avahi client when avahi-daemon is not running (a
// container, a minimal board), which would also hide the serial ports, so
// DNS-SD is asked only when the daemon's socket is there.
#include "app/devicelist.h"

#include <pappl/pappl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/access.h"
#include "app/serialdevice.h"
#include "app/serialpath.h"

namespace {

const char* const kAvahiSocket = "/run/avahi-daemon/socket";

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

int DfAppListDevices(bool verbose) {
    pappl_devtype_t types = PAPPL_DEVTYPE_ALL;
    if (access(kAvahiSocket, F_OK) != 0) {
        types = static_cast<pappl_devtype_t>(types & ~PAPPL_DEVTYPE_DNS_SD);
        fprintf(
            stderr,
            "dotforge-app: avahi-daemon is not running, network printers are not searched with DNS-SD.\n");
    }
    papplDeviceList(types, Print, &verbose, Error, nullptr);
    return 0;
}

bool DfAppCheckDeviceUri(const char* uri, std::string& error) {
    if (!DfAppDeviceSchemeAllowed(uri, error)) return false;
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
