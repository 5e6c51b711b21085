// The server's spool directory, where PAPPL keeps each job's document until
// it is printed: one that only the server's user can write.
#pragma once

#include <string>

// The spool for a server whose state file is STATE: OPTION
// (-o spool-directory) when given, else STATE with ".spool" in place of
// ".state" (it keeps the queued jobs' documents for the next start, as the
// state keeps the jobs). Made with mode 0700 when missing. False with ERROR
// when it is a symbolic link, not a directory, another user's, or writable
// by others: PAPPL 1.3.1 spooled into a /tmp/pappl<PID>.d that any user
// could make first.
bool DfAppSpoolDirectory(const char* option, const std::string& state, std::string& spool,
                         std::string& error);
