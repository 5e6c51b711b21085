// The state file's PAPPL glue (the file itself: app/core/statefile.h): the
// gate that holds saves back while PAPPL holds locks in the other order, and
// the requeueing of the jobs that were printing when the server stopped.
#pragma once

#include <pappl/pappl.h>

#include <shared_mutex>

// While held (by any number of threads at once), no save starts: code of
// PAPPL 1.3.1 that takes a printer's lock and then the system's holds it,
// as a save takes them the other way round.
void DfAppStateHoldSaves();
void DfAppStateReleaseSaves();

// The gate itself, which a save takes for its whole length.
std::shared_mutex& DfAppStateSaveGate();

// Queues again every job of SYSTEM that the state file loaded as printing
// (or stopped): PAPPL 1.3.1 would never print it.
void DfAppRequeueInterruptedJobs(pappl_system_t* system);
