// DfCreateRender: model number to renderer, through the family descriptors.
#include "printers/factory.h"

#include "printers/family.h"

std::unique_ptr<CBaseRender> DfCreateRender(int model) {
    const DfFamily* family = DfFindFamily(model);
    return family ? family->create() : nullptr;
}
