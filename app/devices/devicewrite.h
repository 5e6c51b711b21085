// Writes to a printer that stops taking data: the job whose bytes the
// current thread sends, so that a device's write sees its cancel, and the
// time a printer may take nothing before its job ends. The socket: and
// serial: devices wait here whenever the printer takes no more.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Seconds a printer may take no data before its job ends (60 unless the
// server option device-timeout says otherwise).
int DfAppDeviceTimeout();
// From -o device-timeout=SECONDS; false for a value that is no 1 to 3600.
bool DfAppSetDeviceTimeout(const char* seconds);

// While it lives, the current thread writes JOB's bytes.
class DfAppWritingJob {
public:
    explicit DfAppWritingJob(pappl_job_t* job);
    ~DfAppWritingJob();
    DfAppWritingJob(const DfAppWritingJob&) = delete;
    DfAppWritingJob& operator=(const DfAppWritingJob&) = delete;

private:
    pappl_job_t* m_previous;
};

// The job whose bytes the current thread writes, or null.
pappl_job_t* DfAppWritingJobNow();
// A device's write callback tells that it failed and why (PAPPL's
// papplDeviceFlush returns nothing, and its error callback only logs).
void DfAppNoteWriteFailed(const std::string& why = "");
// Why the last failed write of this thread's current job failed, or "".
std::string DfAppWriteFailure();
// Sends what PAPPL still buffers for the job (within the job, so that a
// cancel or a stall ends it too); false when that failed.
bool DfAppFlushJob(pappl_job_t* job, pappl_device_t* device);

enum class DfWriteWait {
    Ready,     // the device takes data again
    Stalled,   // nothing taken for DfAppDeviceTimeout() seconds
    Canceled,  // the job being written was cancelled
    Failed,    // the connection failed or was closed
};

// Waits until fd takes data again. *why gets a sentence for the job's
// message when the wait ends otherwise.
DfWriteWait DfAppWaitWritable(int fd, std::string* why);

// Writes all BYTES to fd (send() without SIGPIPE for a socket, write()
// otherwise), waiting as above whenever the device takes nothing; on
// failure *why gets the sentence for the job's message and false comes back.
bool DfAppWriteAll(int fd, const void* buffer, size_t bytes, bool socket, std::string* why);
