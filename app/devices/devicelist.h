// `dotforge-app devices`: the printers PAPPL and our serial scheme can reach.
#pragma once

// Lists device URIs on standard output (with their description and device
// ID when verbose); returns the exit status.
int DfAppListDevices(bool verbose);

#include <string>

// False with the reason for a device URI our own scheme cannot use, so that
// a printer is refused when it is added rather than when it first prints.
bool DfAppCheckDeviceUri(const char* uri, std::string& error);

// The check of a printer being added: the above and, for a serial port that
// is there, the node itself (see serialpath.h).
bool DfAppCheckDeviceUriForAdd(const char* uri, std::string& error);
