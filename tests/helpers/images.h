// Test helper: whole-image comparison for fast-path versus plain-version tests.
#pragma once

#include <gtest/gtest.h>

#include "image/ximage.h"

// Layout, palette and every row byte (tails included); with compareInfo also
// resolution and transparent index, with compareAlpha the alpha plane's
// content (its presence is always compared).
::testing::AssertionResult SameImage(const CxImage& a, const CxImage& b, bool compareInfo = true,
                                     bool compareAlpha = true);
