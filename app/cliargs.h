// Command-line fix-ups before PAPPL's main loop sees the arguments.
#pragma once

#include <string>
#include <vector>

// `submit -n N` (and `-c N`, which the options list shows) as `-o copies=N`:
// PAPPL 1.3.1's submit parses -n but never sends copies, and refuses -c.
// Other sub-commands and arguments pass unchanged.
std::vector<std::string> DfAppFixArgs(int argc, const char* const* argv);
