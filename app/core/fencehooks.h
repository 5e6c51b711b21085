// The core's answers to the fence's questions (app/pappl/fencehooks.h): the
// media holds, the printer status, the state file, the printers' own job
// values and options.
#pragma once

// Fills in the core's hooks; main() calls it before anything else runs.
void DfAppSetFenceHooks();
