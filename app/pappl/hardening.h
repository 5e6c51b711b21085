// Guards around PAPPL 1.3.1 faults that a client can trigger: see
// hardening.cpp for each fault and how it is kept away.
#pragma once

#include <pappl/pappl.h>

// Turns the guards on for SYSTEM (call from the system callback, after the
// state was loaded) with its spool directory: queued jobs restart at once.
void DfAppInstallGuards(pappl_system_t* system, const char* spool);

// Most connections served at once; further ones are closed at once.
constexpr int kDfAppMaxClients = 64;
