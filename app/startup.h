// What main() settles before PAPPL's main loop runs a sub-command.
#pragma once

// Returns an exit status when the sub-command is done with (or refused), or
// -1 to go on with PAPPL's main loop. May replace argv[0].
int DfAppBeforeMainloop(int argc, char* argv[]);

// The control socket PAPPL 1.3.1 uses for this user: /run/dotforge-app.sock
// (root), $SNAP_COMMON/dotforge-app.sock (root with SNAP_COMMON), or
// TMPDIR/dotforge-app<uid>.sock.
const char* DfAppControlSocket();

// True when a server answers on that socket.
bool DfAppServerRunning();
