// Test helper: byte comparisons that show a hex dump on mismatch.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The one byte-vector type of the tests.
using ByteVec = std::vector<unsigned char>;

std::string HexDump(const void* data, size_t len, size_t maxBytes = 512);
std::vector<unsigned char> Bytes(std::initializer_list<int> values);
std::vector<unsigned char> Bytes(const std::string& text);

// EXPECT_TRUE(SameBytes(expected, actual)) prints both dumps and the first
// differing offset when they differ.
::testing::AssertionResult SameBytes(const std::vector<unsigned char>& expected,
                                     const std::vector<unsigned char>& actual);
