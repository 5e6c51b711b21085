// CxImage container (placeholder).
#include "image/ximage.h"
