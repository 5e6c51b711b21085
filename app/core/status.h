// Printer status in the printer application: the driver's status callback
// asks an idle printer on a connection of its own, and a job asks before its
// first byte and waits while the printer reports paper out, cover open or a
// jam. What the printer says shows as printer-state-reasons and supplies
// (the pocket printers' battery).
#pragma once

#include <pappl/pappl.h>

// The printer's device for a status query or a maintenance command, or
// null while a job prints or jobs are queued: PAPPL 1.3.1 keeps the last
// job's device open between queued jobs with its bytes not all sent, and a
// device opened then takes its place (a raw job's bytes were lost so).
// A network printer is connected to outside the printer's lock, within
// kDfAppStatusConnectMs. Close it with papplPrinterCloseDevice.
pappl_device_t* DfAppOpenIdleDevice(pappl_printer_t* printer);

// The driver's status callback.
bool DfAppStatus(pappl_printer_t* printer);

// Before a job's first byte: asks the printer on the job's device and holds
// the job, with the reason shown, until nothing stops it from printing.
// False when the job was cancelled while it waited.
// Not for raw jobs: PAPPL 1.3.1 holds the printer's read lock around the
// raw-file callback, and a job waiting there would hold up everything that
// takes its write lock. Nor before PAPPL starts one: while jobs are queued
// it keeps the last job's device open with its bytes unsent, and a status
// connection opened then takes its place (the bytes were lost).
// A job that waits when the server is told to stop stays queued: it keeps
// its state until the process ends and prints after the next start.
bool DfAppWaitForPrinter(pappl_job_t* job, pappl_device_t* device);

// How many jobs are kept so (the server need not wait for them to end).
int DfAppJobsKeptQueued();

// PAPPL 1.3.1 names printer-state-reasons without their severity, which IPP
// clients then take for errors (a printer low on paper would be stopped):
// the reasons the status sets get theirs in RESPONSE ("media-empty-error",
// "media-low-report", "other-warning" for overheating, ...).
void DfAppSuffixStateReasons(ipp_t* response);

// Seconds a printer that left a status query unanswered is not asked again.
constexpr int kDfStatusRetrySeconds = 300;
