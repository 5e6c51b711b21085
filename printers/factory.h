// The renderer for a printer model number, shared by every front end; the
// family descriptors (printers/family.h) know which.
#pragma once

#include "render/baserender.h"

// A new renderer the caller owns, or nullptr for an unknown model.
CBaseRender* DfCreateRender(int model);
