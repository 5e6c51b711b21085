// The `jobs` sub-command, with the reason a job waits or did not print.
#pragma once

// Runs `dotforge-app jobs [-d PRINTER]` against the running server; returns
// an exit status, or -1 to leave the sub-command to PAPPL (other arguments,
// or no server yet).
int DfAppJobsCommand(int argc, char* argv[]);
