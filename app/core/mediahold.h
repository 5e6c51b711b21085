// The "hold" rule of loadedmedium.h: a job whose medium is not the loaded one
// is held (pending-held, job-hold-until indefinite) from the moment it is
// created (a PWG or Apple raster job PAPPL 1.3.1 streams straight to the
// print callbacks, holding or not, waits there instead), with media-needed in its job-state-reasons and in
// the printer's printer-state-reasons. It is released as soon as its medium is loaded; a user may release it
// earlier (Release-Job), and it is then fitted onto the loaded label. PAPPL 1.3.1 has no job-state-reasons
// keyword for media-needed, so the app adds it to the job's attributes as they go out.
#pragma once

#include <pappl/pappl.h>

// Before PAPPL handles a request: Print-Job and Create-Job for a medium that
// is not loaded, on a printer (or with a job) whose rule is hold, get
// job-hold-until indefinite.
void DfAppMediaHoldRequest(pappl_client_t* client);
// After: notes the new held job, and adds media-needed to the
// job-state-reasons of held jobs in Get-Job-Attributes and Get-Jobs.
void DfAppMediaHoldResponse(pappl_client_t* client);
// A streamed raster job under the hold rule whose medium is not loaded waits
// here until it is (true) or the job is cancelled or the server stops
// (false). Jobs that were held when they came do not wait again.
bool DfAppWaitForMedium(pappl_job_t* job, const pappl_pr_options_t& options);
