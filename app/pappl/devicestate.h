// Why a printer is stopped: the last error of opening its device, shown on
// its web page and in its printer-state-message.
#pragma once

#include <pappl/pappl.h>

#include <string>

// The last error of opening this device URI, empty once it opened.
std::string DfAppDeviceError(const char* deviceUri);

// Notes MESSAGE as the device's error unless one is known already (a connect
// still being tried has none yet).
void DfAppNoteDeviceError(const char* deviceUri, const char* message);

// The printer a printer-uri (or web path) names, or null.
pappl_printer_t* DfAppPrinterForUri(pappl_system_t* system, const char* uri);

// printer-state-message for a printer: PAPPL's own text, or for a stopped
// printer whose device failed, "Stopped: REASON.".
std::string DfAppStateMessage(const char* pappl, const std::string& deviceError);

// While the current thread answers a request for this printer (null: none);
// call before PAPPL takes the printer's lock.
void DfAppSetRequestPrinter(pappl_printer_t* printer);
