// The printer application's own transport for socket:// printers (raw TCP,
// port 9100 unless the URI names one). PAPPL 1.3.1's socket device writes
// with a blocking write() that never ends while the printer accepts the
// connection but reads nothing: the job stayed "processing" after a
// cancel and every job behind it waited. Here each write waits in slices:
// a cancel ends it at once, a printer that takes nothing for
// DfAppDeviceTimeout() seconds ends the job with that reason, and a
// refused connection says "Connection refused" (PAPPL said "Host is down").
// PAPPL keeps its own "socket" scheme for listing and checking URIs; the
// device open (app/pappl/devicestate.cpp) hands socket:// URIs to this one.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Registers the scheme with PAPPL; call once before the system starts.
void DfRegisterSocketScheme();

// The URI PAPPL opens for DEVICE_URI: this scheme's for socket://, else
// empty (opened as given).
std::string DfSocketOpenUri(const char* deviceUri);

// Seconds a connection to a printer may take.
constexpr int kDfSocketConnectSeconds = 5;
