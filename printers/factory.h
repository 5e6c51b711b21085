// The renderer for a printer model number (20 TSPL, 21 ESC/POS, 22 CPCL,
// 23 Paperang, 24 PeriPage), shared by every front end.
#pragma once

#include "render/baserender.h"

// A new renderer the caller owns, or nullptr for an unknown model.
CBaseRender* DfCreateRender(int model);
