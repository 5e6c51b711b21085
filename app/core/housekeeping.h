// The server's periodic housekeeping: a main loop that notices shutdown
// requests at once, and a log file rotated without PAPPL's deadlock.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <string>

// Call with the -o log-file value just before papplSystemCreate; returns the
// log file to give it ("-" when the file is due for rotation but cannot be).
const char* DfAppLogBeforeCreate(const char* logFile);

// Call with the log file given to papplSystemCreate as soon as it returns
// (also when it failed): installs the once-a-second timer. Null, "-" and
// "syslog" are not rotated.
void DfAppHousekeeping(pappl_system_t* system, const char* logFile);

// Moves the file to FILE.O when it has reached maxSize bytes and empties it
// in place. False, with the reason, when it is due but cannot be rotated.
bool DfAppRotateLog(const std::string& path, size_t maxSize, std::string& error);
