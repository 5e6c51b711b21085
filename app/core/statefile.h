// The state file: printers and their settings, kept across restarts. It is
// written whole to a temporary file, synced and renamed over the old one, so
// a crash or a full disk never leaves it cut short; a file that cannot be
// read is set aside rather than overwritten. (Its PAPPL glue, the requeueing
// of interrupted jobs and the gate that holds saves back:
// app/pappl/statefile.h.)
#pragma once

#include <pappl/pappl.h>

#include <string>

// Loads PATH into SYSTEM when it is there and registers the save callback.
// A file that is empty, not a state file, or refused by PAPPL is renamed to
// PATH.bad-TIME and logged; it is never overwritten. Returns false then.
bool DfAppStateLoad(pappl_system_t* system, const std::string& path);

// Writes the state now; false with ERROR when it could not be written whole
// (the previous file is then left as it was).
bool DfAppStateSave(pappl_system_t* system, std::string& error);

// Asks for a save by the saver thread, which takes all the changes asked
// for meanwhile in one save, and waits for it WAITSECONDS at most (0: does
// not wait, true). True when the state with this change is on the disk; a
// failed save is logged.
bool DfAppStateSaveSoon(pappl_system_t* system, int waitSeconds);

// Ends saving for good before the system goes: waits for a save under way
// (2 seconds at most), and later saves do nothing. Also run at exit.
void DfAppStateStopSaving();

// Removes job attribute files (.ipp) in the spool that belong to no job
// PAPPL knows: those of Create-Job jobs that never got their document.
void DfAppStateCleanSpool(pappl_system_t* system, const char* spool);
