// The core's fence hooks: see fencehooks.h.
#include "app/core/fencehooks.h"

#include "app/core/mediahold.h"
#include "app/core/optionslist.h"
#include "app/core/statefile.h"
#include "app/core/status.h"
#include "app/core/vendor.h"
#include "app/pappl/fencehooks.h"

void DfAppSetFenceHooks() {
    DfFenceHooks& hooks = DfAppFenceHooks();
    hooks.mediaHoldRequest = DfAppMediaHoldRequest;
    hooks.mediaHoldResponse = DfAppMediaHoldResponse;
    hooks.jobsKeptQueued = DfAppJobsKeptQueued;
    hooks.suffixStateReasons = DfAppSuffixStateReasons;
    hooks.stateSave = DfAppStateSave;
    hooks.stateSaveSoon = DfAppStateSaveSoon;
    hooks.stateStopSaving = DfAppStateStopSaving;
    hooks.jobValueKind = DfAppJobValueKind;
    hooks.printOwnOptions = DfAppPrintOwnOptions;
}
