// Why a printer is stopped. When PAPPL 1.3.1 cannot open a printer's device
// it pauses the printer and reports only "Stopped." (the web page shows a
// red "Stopped"); the reason ("Unable to connect to '192.168.1.50:9100':
// Connection refused") goes to the log alone. The definitions below come
// before libpappl's and libcups's in symbol lookup: papplDeviceOpen() keeps
// the last error per device URI, and the printer-state-message PAPPL adds for
// a printer with such an error carries it. The web page's status line gets
// it in app/webselect.cpp.
#include "app/pappl/devicestate.h"

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "app/pappl/deviceopen.h"
#include "app/devices/socketdevice.h"

namespace {

std::mutex gMutex;
std::map<std::string, std::string> gErrors;  // device URI -> last error
// The device URI of the printer whose request this thread answers.
thread_local std::string tDevice;

// PAPPL keeps a device's error callback and its data for the device's whole
// life (errors while printing go there too), so what papplDeviceOpen() is
// given instead must outlive the device: one forwarder per callback and data
// pair (PAPPL uses one per system), kept until exit.
struct Forward {
    pappl_deverror_cb_t cb;
    void* data;
};
std::vector<std::unique_ptr<Forward>> gForwards;
// Where the error of the papplDeviceOpen() this thread is in goes.
thread_local std::string* tOpenError = nullptr;

Forward* ForwardFor(pappl_deverror_cb_t cb, void* data) {
    std::lock_guard<std::mutex> lock(gMutex);
    for (const auto& f : gForwards)
        if (f->cb == cb && f->data == data) return f.get();
    gForwards.push_back(std::unique_ptr<Forward>(new Forward{cb, data}));
    return gForwards.back().get();
}

void Record(const char* message, void* data) {
    if (tOpenError && message) *tOpenError = message;
    const Forward* f = static_cast<const Forward*>(data);
    if (f && f->cb) f->cb(message, f->data);
}

}  // namespace

std::string DfAppDeviceError(const char* deviceUri) {
    if (!deviceUri) return "";
    std::lock_guard<std::mutex> lock(gMutex);
    const auto it = gErrors.find(deviceUri);
    return it == gErrors.end() ? "" : it->second;
}

void DfAppNoteDeviceError(const char* deviceUri, const char* message) {
    if (!deviceUri || !message) return;
    std::lock_guard<std::mutex> lock(gMutex);
    gErrors.emplace(deviceUri, message);
}

pappl_printer_t* DfAppPrinterForUri(pappl_system_t* system, const char* uri) {
    if (!system || !uri) return nullptr;
    // ipp://host:port/ipp/print/NAME[/...] or /NAME[/...]
    const char* path = strstr(uri, "://") ? strchr(strstr(uri, "://") + 3, '/') : uri;
    if (!path) return nullptr;
    if (!strncmp(path, "/ipp/print/", 11)) path += 10;
    if (*path != '/') return nullptr;
    const char* end = strchr(path + 1, '/');
    const std::string name(path + 1, end ? static_cast<size_t>(end - path - 1) : strlen(path + 1));
    return name.empty() ? nullptr
                        : papplSystemFindPrinter(system, ("/ipp/print/" + name).c_str(), 0, nullptr);
}

std::string DfAppStateMessage(const char* pappl, const std::string& deviceError) {
    if (!pappl) return "";
    if (deviceError.empty() || strcmp(pappl, "Stopped.") != 0) return pappl;
    std::string reason = deviceError;
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) reason.pop_back();
    return "Stopped: " + reason + ".";
}

void DfAppSetRequestPrinter(pappl_printer_t* printer) {
    const char* uri = printer ? papplPrinterGetDeviceURI(printer) : nullptr;
    tDevice = uri ? uri : "";
}

extern "C" {

pappl_device_t* papplDeviceOpen(const char* device_uri, const char* name, pappl_deverror_cb_t err_cb,
                                void* err_data) {
    using Real = pappl_device_t* (*)(const char*, const char*, pappl_deverror_cb_t, void*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "papplDeviceOpen"));
    if (!real) return nullptr;
    pappl_device_t* device = nullptr;
    if (DfAppOpenPrepared(device_uri, &device)) return device;
    // socket:// printers open through the app's own transport: PAPPL
    // 1.3.1's socket writes block for good on a printer that stops reading
    // (app/socketdevice.h).
    const std::string own = DfSocketOpenUri(device_uri);
    const char* open = own.empty() ? device_uri : own.c_str();
    if (!err_cb) {
        device = real(open, name, err_cb, err_data);
        DfAppNoteOpened(device, device_uri);
        return device;
    }
    std::string message;
    tOpenError = &message;
    device = real(open, name, Record, ForwardFor(err_cb, err_data));
    tOpenError = nullptr;
    DfAppNoteOpened(device, device_uri);
    if (device_uri) {
        std::lock_guard<std::mutex> lock(gMutex);
        if (device)
            gErrors.erase(device_uri);
        else
            gErrors[device_uri] = message.empty() ? "the printer cannot be reached" : message;
    }
    return device;
}

ipp_attribute_t* ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t value_tag, const char* name,
                              const char* language, const char* value) {
    using Real = ipp_attribute_t* (*)(ipp_t*, ipp_tag_t, ipp_tag_t, const char*, const char*, const char*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "ippAddString"));
    if (!real) return nullptr;
    if (!tDevice.empty() && name && value && !strcmp(name, "printer-state-message")) {
        const std::string message = DfAppStateMessage(value, DfAppDeviceError(tDevice.c_str()));
        if (message != value) {
            // Our text does not outlive this call: libcups must copy it.
            const ipp_tag_t copied = static_cast<ipp_tag_t>(value_tag & ~IPP_TAG_CUPS_CONST);
            return real(ipp, group, copied, name, language, message.c_str());
        }
    }
    return real(ipp, group, value_tag, name, language, value);
}

}  // extern "C"
