// Page preparation: placeholder until the image toolkit lands.
#include "render/baserender.h"

void CBaseRender::AdjustImage() {}
void CBaseRender::CropWhiteEdge(int, int, int, int) {}
void CBaseRender::Negative() {}
void CBaseRender::AdjustEffWidthBits() {}
int CBaseRender::mm_2_dots(int mm) { return static_cast<int>(mm * (m_iDpi / 25.4) + 0.9999); }
