// Printer status in the printer application: the driver's status callback
// asks an idle printer on a connection of its own, and a job asks before its
// first byte and waits while the printer reports paper out, cover open or a
// jam. What the printer says shows as printer-state-reasons and supplies
// (the pocket printers' battery).
#pragma once

#include <pappl/pappl.h>

// The driver's status callback.
bool DfAppStatus(pappl_printer_t* printer);

// Before a job's first byte: asks the printer on the job's device and holds
// the job, with the reason shown, until nothing stops it from printing.
// False when the job was cancelled while it waited.
// Not for raw jobs: PAPPL 1.3.1 holds the printer's read lock around the
// raw-file callback, and every printer call made there (driver data, device
// URI, reasons) locks it again; with a writer queued in between (glibc
// queues readers behind it) the job thread and the server stop for good.
bool DfAppWaitForPrinter(pappl_job_t* job, pappl_device_t* device);

// Seconds a printer that left a status query unanswered is not asked again.
constexpr int kDfStatusRetrySeconds = 300;
