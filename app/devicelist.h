// `dotforge-app devices`: the printers PAPPL and our serial scheme can reach.
#pragma once

// Lists device URIs on standard output (with their description and device
// ID when verbose); returns the exit status.
int DfAppListDevices(bool verbose);
