// The edge-keeping reduction to 1 bit: its parameters, shared with the tests
// that hold the fast version to a plain one, and its entry point for
// CxImage::Dither.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ximaedge {

// A pixel at most kNear from full black (0) or full white (255) is "solid".
constexpr int kNear = 8;
// A pixel with a solid black and a solid white pixel both within kReach
// dots of it (a square of 2 kReach + 1 on a side) lies on an edge between
// such areas.
constexpr int kReach = 2;
// Scalers smear such an edge into a ramp many dots wide (an image filter
// that enlarges a small code with interpolation: about as many dots as it
// enlarges by). A pixel that is not solid lies on a ramp when the run of
// pixels that are not solid through it, along its row or its column, is at
// most kRamp long, has solid black just before one end and solid white just
// past the other, and climbs from its black end to its white end, never
// falling more than kSlack below the highest level before it nor rising by
// more than kStep from one pixel to the next (ends included). Grey areas
// (photos, tints, gradients) make longer runs, runs that turn back, or (a
// tint between black and white) a jump onto a plateau.
constexpr int kRamp = 32;
constexpr int kSlack = 12;
constexpr int kStep = 96;
// Solid and edge pixels are white above this level; so are diffused
// pixels, after their share of error.
constexpr int kMid = 128;
// Burkes's kernel for the rest: offset right (dx) and down (dy), and the
// weight in 32nds; a diffused pixel's error goes to the neighbours that are
// diffused too, each its weight's part of their weights' sum.
struct Tap {
    int dx, dy, w;
};
constexpr int kDiv = 32;
constexpr Tap kTaps[] = {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}};
// A neighbour's share of error e: e w / total rounded to the nearest,
// halves away from zero (black and white alike). Truncated shares drop most
// of the small errors of light and dark tints (of an error of 13 they pass
// on 9), which strings their dots into worms; rounded ones pass on about all
// of it.
constexpr int Share(int e, int w, int total) {
    return (2 * e * w + (e >= 0 ? total : -total)) / (2 * total);
}

// Reduces the w x h grey rows (stride gStride) to 1-bit rows in out (stride
// oStride, 1 = white, first pixel in the top bit). False when its working
// rows cannot be had (no memory); out is then unfinished.
bool Reduce(const uint8_t* grey, size_t gStride, uint8_t* out, size_t oStride, long w, long h);

}  // namespace ximaedge
