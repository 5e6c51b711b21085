// DNS-SD guards. PAPPL 1.3.1 browses the network with avahi from the web
// interface's Add Printer page, from autoadd and when it opens a dnssd://
// device, and two of its faults hit a machine without avahi-daemon (a
// container, a minimal board):
//  - with no daemon it hands avahi a null client, and avahi aborts the whole
//    server ("avahi_service_browser_new: Assertion 'client' failed");
//  - when the daemon has gone away since start-up, its device listing
//    returns from a failed avahi_service_browser_new() still holding the
//    avahi poll lock, and the next DNS-SD call (at the latest unregistering
//    at shutdown) waits for that lock for ever.
// A third is not about a missing daemon: papplSystemSetHostName() passes the
// name on to avahi_client_set_host_name(), which renames the whole machine on
// mDNS (to "localhost" for a server on the loopback address) and frees the
// client's host name from the calling thread while avahi's own thread may be
// using it (a double free seen under AddressSanitizer). The host name a
// printer application serves under is its own business: avahi is not told.
// The definitions below come before libpappl's and libavahi-client's in
// symbol lookup: device listings leave DNS-SD out unless the daemon answers
// and PAPPL's avahi client is running (it stays failed after a daemon
// restart), and avahi is never handed a null client.
#include "app/pappl/dnssd.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <dlfcn.h>
#include <pappl/pappl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "app/devices/devicelist.h"

// PAPPL's own avahi client (made on first use; null without a daemon).
extern "C" AvahiClient* _papplDNSSDInit(pappl_system_t* system);

namespace {

const char* const kAvahiSocket = "/run/avahi-daemon/socket";

bool ClientRunning() {
    AvahiClient* client = _papplDNSSDInit(nullptr);
    return client && avahi_client_get_state(client) == AVAHI_CLIENT_S_RUNNING;
}

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

bool DfAppDnssdReachable() {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr;
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, kAvahiSocket, sizeof(addr.sun_path) - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

extern "C" {

bool papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void* data, pappl_deverror_cb_t err_cb,
                     void* err_data) {
    using Real = bool (*)(pappl_devtype_t, pappl_device_cb_t, void*, pappl_deverror_cb_t, void*);
    static const Real real = Next<Real>("papplDeviceList");
    if (!real) return false;
    if ((types & PAPPL_DEVTYPE_DNS_SD) && !(DfAppDnssdReachable() && ClientRunning())) {
        types &= ~static_cast<pappl_devtype_t>(PAPPL_DEVTYPE_DNS_SD);
        if (err_cb) err_cb(DfAppDnssdOffReason(), err_data);
        // In the web interface's device list the reason is a line of its own.
        if (DfAppDeviceListsForWeb() && cb && cb(DfAppDnssdOffReason(), kDfDnssdOffUri, "", data))
            return true;
    }
    return real(types, cb, data, err_cb, err_data);
}

AvahiServiceBrowser* avahi_service_browser_new(AvahiClient* client, AvahiIfIndex interface,
                                               AvahiProtocol protocol, const char* type, const char* domain,
                                               AvahiLookupFlags flags, AvahiServiceBrowserCallback callback,
                                               void* userdata) {
    using Real = AvahiServiceBrowser* (*)(AvahiClient*, AvahiIfIndex, AvahiProtocol, const char*, const char*,
                                          AvahiLookupFlags, AvahiServiceBrowserCallback, void*);
    static const Real real = Next<Real>("avahi_service_browser_new");
    if (!client || !real) return nullptr;
    return real(client, interface, protocol, type, domain, flags, callback, userdata);
}

AvahiServiceResolver* avahi_service_resolver_new(AvahiClient* client, AvahiIfIndex interface,
                                                 AvahiProtocol protocol, const char* name, const char* type,
                                                 const char* domain, AvahiProtocol aprotocol,
                                                 AvahiLookupFlags flags,
                                                 AvahiServiceResolverCallback callback, void* userdata) {
    using Real = AvahiServiceResolver* (*)(AvahiClient*, AvahiIfIndex, AvahiProtocol, const char*,
                                           const char*, const char*, AvahiProtocol, AvahiLookupFlags,
                                           AvahiServiceResolverCallback, void*);
    static const Real real = Next<Real>("avahi_service_resolver_new");
    if (!client || !real) return nullptr;
    return real(client, interface, protocol, name, type, domain, aprotocol, flags, callback, userdata);
}

AvahiRecordBrowser* avahi_record_browser_new(AvahiClient* client, AvahiIfIndex interface,
                                             AvahiProtocol protocol, const char* name, uint16_t clazz,
                                             uint16_t type, AvahiLookupFlags flags,
                                             AvahiRecordBrowserCallback callback, void* userdata) {
    using Real = AvahiRecordBrowser* (*)(AvahiClient*, AvahiIfIndex, AvahiProtocol, const char*, uint16_t,
                                         uint16_t, AvahiLookupFlags, AvahiRecordBrowserCallback, void*);
    static const Real real = Next<Real>("avahi_record_browser_new");
    if (!client || !real) return nullptr;
    return real(client, interface, protocol, name, clazz, type, flags, callback, userdata);
}

int avahi_client_set_host_name(AvahiClient*, const char*) {
    return AVAHI_OK;
}

int avahi_client_errno(AvahiClient* client) {
    using Real = int (*)(AvahiClient*);
    static const Real real = Next<Real>("avahi_client_errno");
    if (!client || !real) return AVAHI_ERR_NO_DAEMON;
    return real(client);
}

}  // extern "C"
