// `dotforge-app devices` and the Add Printer page's list: the printers PAPPL
// and our schemes can reach, and which device URIs a printer may have.
#pragma once

// Lists device URIs on standard output (with their description and device
// ID when verbose); returns the exit status.
int DfAppListDevices(bool verbose);

#include <string>

// True when URI's scheme is one a thermal printer can be reached by; else
// ERROR says why. PAPPL's own file: scheme, and any other, is refused.
bool DfAppDeviceSchemeAllowed(const char* uri, std::string& error);

// Device lists are shown to people on the web interface's Add Printer page
// (set when the web interface is set up) rather than printed by `devices`.
void DfAppSetDeviceListsForWeb(bool web);
bool DfAppDeviceListsForWeb();

// The sentence shown where network printers would be listed when DNS-SD
// cannot be asked (app/pappl/dnssd.cpp).
const char* DfAppDnssdOffReason();

// Device URI of the line that stands for "network search is off" in device
// lists shown to people; nothing can be added with it.
extern const char* const kDfDnssdOffUri;

// False with the reason for a device URI our own scheme cannot use, so that
// a printer is refused when it is added rather than when it first prints.
bool DfAppCheckDeviceUri(const char* uri, std::string& error);

// The check of a printer being added: the above and, for a serial port that
// is there, the node itself (see serialpath.h).
bool DfAppCheckDeviceUriForAdd(const char* uri, std::string& error);
