// The renderer for a printer model number, shared by every front end; the
// family descriptors (printers/family.h) know which.
#pragma once

#include <memory>

#include "render/baserender.h"

// A new renderer for the caller to own, or nullptr for an unknown model.
std::unique_ptr<CBaseRender> DfCreateRender(int model);
