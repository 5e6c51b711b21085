// Limits on what a client can hold on the server: jobs created without
// their document, and document uploads that stop coming. See joblimits.cpp.
#pragma once

#include <pappl/pappl.h>

// Server options (-o NAME=VALUE) read by DfAppJobLimitsSetup:
//   multiple-operation-time-out  seconds a Create-Job job waits for its
//                                document before it is aborted (default 60);
//   client-idle-time-out         seconds of waiting for a document's bytes
//                                after which its client counts as gone
//                                (default 20).
constexpr int kDfAppMultipleOperationTimeOut = 60;
constexpr int kDfAppClientIdleTimeOut = 20;
// Jobs without their document one client may have at a time: per address
// and user, and per address whatever user it names.
constexpr int kDfAppMaxPendingPerUser = 10;
constexpr int kDfAppMaxPendingPerAddress = 30;
// A client that sends fewer bytes than this in its idle time-out is idle
// (a byte now and then does not keep a printer).
constexpr size_t kDfAppIdleMinBytes = 256;

// Reads the options and starts the check of jobs waiting for a document.
void DfAppJobLimitsSetup(pappl_system_t* system, int num_options, cups_option_t* options);

// Before PAPPL answers an IPP request: false when the request was refused
// (too many jobs without a document; the answer is set).
bool DfAppJobLimitsAdmit(pappl_client_t* client);

// After PAPPL answered it: notes a new job without a document, and sets the
// advertised multiple-operation-time-out.
void DfAppJobLimitsAnswered(pappl_client_t* client);

// The job a request is about, or the one its answer created (null: none).
pappl_job_t* DfAppResponseJob(pappl_client_t* client);

// While a client's document is read (for JOB, null when there is none yet):
// a client that keeps the server waiting for its bytes longer than the idle
// time-out is cut off, and its job aborted with the reason.
class DfAppDocumentRead {
public:
    DfAppDocumentRead(pappl_client_t* client, pappl_job_t* job);
    ~DfAppDocumentRead();
    DfAppDocumentRead(const DfAppDocumentRead&) = delete;
    DfAppDocumentRead& operator=(const DfAppDocumentRead&) = delete;

private:
    bool m_outer;
    pappl_job_t* m_job;
};
