// CxImage selection test. No selection mask is ever made, so "selected"
// reduces to "inside the image".
#include "image/ximage.h"

bool CxImage::IsInside(long x, long y) const {
    return x >= 0 && y >= 0 && x < static_cast<long>(GetWidth()) && y < static_cast<long>(GetHeight());
}
