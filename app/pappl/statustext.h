// The printer's state as text: the `status` sub-command's line and the
// reason words of the web pages' state line.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// "Running, idle since Tue, 08 Dec 2026 08:22:24 GMT; cover-open-error,
// media-empty-error." The reasons are IPP keywords ("none" is left out);
// since <= 0 (the server did not say) leaves out the "since" part.
std::string DfAppStatusLine(const std::string& state, time_t since, const std::vector<std::string>& reasons);

// The words a web page shows for a printer-state-reasons keyword, without
// the full stop PAPPL's own words end with (the page puts them in a list
// that it ends with one). Other keys' words come back as they are.
std::string DfAppReasonWords(const char* key, const char* words);

// Runs `dotforge-app status [-d PRINTER]` against the running server;
// returns an exit status, or -1 to leave the sub-command to PAPPL (other
// arguments, or no server).
int DfAppStatusCommand(int argc, char* argv[]);
