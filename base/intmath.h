// Integer helpers for settings that arrive unvalidated from the PPD: numbers
// are parsed like atoi but saturate instead of overflowing, and the shifts
// and products the wire formats ask for wrap in 32 bits as the printers'
// firmware would, without undefined behaviour.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

inline int DfAtoi(const char* s) {
    if (!s) return 0;
    errno = 0;
    long long v = strtoll(s, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

inline int DfWrapShl(int v, unsigned s) {
    return static_cast<int>(static_cast<uint32_t>(v) << s);
}

inline int DfWrapMul(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
