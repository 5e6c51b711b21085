// Who may cancel, hold, release or otherwise change a job: its owner or an
// administrator, on this machine as from another (a print server's default
// policy). PAPPL 1.3.1 let any local user do so.
#pragma once

#include <pappl/pappl.h>
#include <sys/types.h>

// True when OP changes one job: cancel, hold, release, restart, new
// attributes, another document.
bool DfAppOwnerOperation(ipp_op_t op);

// Notes the local user whose request (Print-Job, Print-URI, Create-Job) on
// CLIENT just made a job: that user owns it as well as the user it names (a
// print server's backend sends jobs under its users' names and cancels them
// again).
void DfAppNoteJobCreator(pappl_client_t* client);

// True when local user UID owns job JOB_ID of printer PRINTER_ID, whose
// owner's name is JOB_USER: its creator, or the user of that name.
bool DfAppLocalJobOwner(int printerId, int jobId, const char* jobUser, uid_t uid);
