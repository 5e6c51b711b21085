// The state file's PAPPL glue: see statefile.h.
#include "app/pappl/statefile.h"

extern "C" void _papplJobSetState(pappl_job_t* job, ipp_jstate_t state);  // PAPPL 1.3.1, private

namespace {

std::shared_mutex gSaveGate;

// A job that was printing when the server stopped is loaded as printing by
// PAPPL 1.3.1 and then never printed: it is queued again (as a print
// server does, from its first page).
void RequeueJob(pappl_job_t* job, void*) {
    const ipp_jstate_t state = papplJobGetState(job);
    if (state != IPP_JSTATE_PROCESSING && state != IPP_JSTATE_STOPPED) return;
    if (!papplJobGetFilename(job)) return;
    _papplJobSetState(job, IPP_JSTATE_PENDING);
    papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);  // it waited for its printer
    papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                "The job was printing when the server stopped; it is printed again.");
}

void RequeuePrinter(pappl_printer_t* printer, void*) {
    papplPrinterIterateActiveJobs(printer, RequeueJob, nullptr, 1, 0);
}

}  // namespace

void DfAppStateHoldSaves() {
    gSaveGate.lock_shared();
}

void DfAppStateReleaseSaves() {
    gSaveGate.unlock_shared();
}

std::shared_mutex& DfAppStateSaveGate() {
    return gSaveGate;
}

void DfAppRequeueInterruptedJobs(pappl_system_t* system) {
    papplSystemIteratePrinters(system, RequeuePrinter, nullptr);
}
