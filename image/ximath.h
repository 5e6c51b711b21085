// Small geometry types of the image toolkit: the rectangle handed to Crop,
// the single-precision point Rotate turns its corners into, and the helpers
// that clamp and bound them.
#pragma once

#include <cstdint>

// Rectangle in the toolkit's convention: left/right are columns, top/bottom
// are counted from the last row (bottom-up, as in the BMP format).
struct tagRECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct CxPoint2 {
    float x;
    float y;

    CxPoint2() : x(0.0f), y(0.0f) {}
    CxPoint2(float const x_, float const y_) : x(x_), y(y_) {}
};

// Axis-aligned box around a set of points (single precision, like the points).
struct CxRect2 {
    CxPoint2 min;
    CxPoint2 max;
};

// Bounding box of n >= 1 points; n < 1 gives an all-zero box.
CxRect2 DfBoundingBox(const CxPoint2* points, int n);

// v limited to [lo, hi]; lo <= hi is the caller's business.
inline long DfClampLong(long v, long lo, long hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}
