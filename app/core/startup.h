// What main() settles before PAPPL's main loop runs a sub-command.
#pragma once

#include <string>

// Returns an exit status when the sub-command is done with (or refused), or
// -1 to go on with PAPPL's main loop. May replace argv[0].
int DfAppBeforeMainloop(int argc, char* argv[]);

// This user's control socket (see ctlsocket.h), or "" when its place is
// refused.
const char* DfAppControlSocket();

// True when a server of this user's answers on that socket.
bool DfAppServerRunning();

// The printer of a sub-command whose only arguments are `-d NAME` (or
// `-dNAME`), "" without one; false for any other argument (the sub-command
// is then PAPPL's to run).
bool DfAppPrinterArgument(int argc, char* argv[], std::string& printer);
