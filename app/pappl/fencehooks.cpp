// The hooks the fence calls up through: see fencehooks.h.
#include "app/pappl/fencehooks.h"

DfFenceHooks& DfAppFenceHooks() {
    static DfFenceHooks hooks;
    return hooks;
}
