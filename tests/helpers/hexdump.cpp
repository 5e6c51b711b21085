// Test helper: hex dumps and byte-vector comparison.
#include "helpers/hexdump.h"

#include <cstdio>

std::string HexDump(const void* data, size_t len, size_t maxBytes) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::string s;
    char line[128];
    size_t n = len < maxBytes ? len : maxBytes;
    for (size_t off = 0; off < n; off += 16) {
        int k = snprintf(line, sizeof(line), "%06zx ", off);
        for (size_t i = off; i < off + 16 && i < n; i++) k += snprintf(line + k, sizeof(line) - k, " %02X", p[i]);
        s += line;
        s += '\n';
    }
    if (n < len) s += "... (" + std::to_string(len) + " bytes)\n";
    return s;
}

std::vector<unsigned char> Bytes(std::initializer_list<int> values) {
    std::vector<unsigned char> v;
    for (int x : values) v.push_back(static_cast<unsigned char>(x));
    return v;
}

std::vector<unsigned char> Bytes(const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); }

::testing::AssertionResult SameBytes(const std::vector<unsigned char>& expected,
                                     const std::vector<unsigned char>& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) i++;
    size_t from = i >= 32 ? (i - 32) & ~size_t(15) : 0;
    auto tail = [&](const std::vector<unsigned char>& v) {
        return from < v.size() ? HexDump(v.data() + from, v.size() - from) : std::string("(nothing)\n");
    };
    return ::testing::AssertionFailure() << "bytes differ at offset " << i << " (expected " << expected.size()
                                         << " bytes, got " << actual.size() << ")\nexpected from offset " << from
                                         << ":\n"
                                         << tail(expected) << "actual from offset " << from << ":\n"
                                         << tail(actual);
}
