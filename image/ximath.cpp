// Geometry helpers of the image toolkit (see ximath.h).
#include "image/ximath.h"

CxRect2 DfBoundingBox(const CxPoint2* points, int n) {
    CxRect2 r;
    if (!points || n < 1) return r;
    r.min = r.max = points[0];
    for (int i = 1; i < n; ++i) {
        if (points[i].x < r.min.x) r.min.x = points[i].x;
        if (points[i].x > r.max.x) r.max.x = points[i].x;
        if (points[i].y < r.min.y) r.min.y = points[i].y;
        if (points[i].y > r.max.y) r.max.y = points[i].y;
    }
    return r;
}
