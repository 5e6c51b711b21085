// The `status` sub-command: the printer's state as a line of text.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// "Running, idle since Tue, 08 Dec 2026 08:22:24 GMT; cover-open-error,
// media-empty-error." The reasons are IPP keywords ("none" is left out);
// since <= 0 (the server did not say) leaves out the "since" part.
std::string DfAppStatusLine(const std::string& state, time_t since, const std::vector<std::string>& reasons);

// Runs `dotforge-app status [-d PRINTER]` against the running server;
// returns an exit status, or -1 to leave the sub-command to PAPPL (other
// arguments, or no server).
int DfAppStatusCommand(int argc, char* argv[]);
