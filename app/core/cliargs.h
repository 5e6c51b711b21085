// Command-line fix-ups before PAPPL's main loop sees the arguments.
#pragma once

#include <string>
#include <vector>

// `submit -n N` (and `-c N`, which the options list shows) as `-o copies=N`:
// PAPPL 1.3.1's submit parses -n but never sends copies, and refuses -c.
// Other sub-commands and arguments pass unchanged.
std::vector<std::string> DfAppFixArgs(int argc, const char* const* argv);

// For `submit`: why a -o media=NAME can print on none of the drivers' media
// (an unknown name, or wider than the widest medium any driver takes), or "".
// PAPPL 1.3.1 substitutes the ready medium for an unsupported one and tells
// only the IPP response, which submit does not show.
std::string DfAppSubmitMediaProblem(const std::vector<std::string>& args);
