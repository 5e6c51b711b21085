// Test helper: whole-image comparison for fast-path versus plain-version
// tests, and random images for them.
#pragma once

#include <gtest/gtest.h>

#include <random>

#include "image/ximage.h"

// Layout, palette and every row byte (tails included); with compareInfo also
// resolution and transparent index, with compareAlpha the alpha plane's
// content (its presence is always compared).
::testing::AssertionResult SameImage(const CxImage& a, const CxImage& b, bool compareInfo = true,
                                     bool compareAlpha = true);

// What RandomImage puts in the rows (every byte of each row, tails included).
enum class RandomTones {
    Bytes,   // random bytes
    Varied,  // per image: random bytes, near black or white, around mid grey, or
             // text-like (black and white with grey specks, every other row grey)
};
struct RandomImageOptions {
    RandomTones tones = RandomTones::Bytes;
    bool alphaExtremes = false;  // 32 bits: alpha bytes from 0, 255 and anything between
    bool randomPalette = false;  // paletted depths: a random palette
    unsigned rowPadding = 0;     // extra source bytes per row
};
// An image of w x h at bpp bits drawn from rng, at 203 dpi horizontally.
CxImage RandomImage(unsigned w, unsigned h, unsigned bpp, std::mt19937& rng,
                    const RandomImageOptions& o = {});
