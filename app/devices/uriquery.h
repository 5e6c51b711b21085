// The settings after a device URI's '?': NAME=VALUE pairs joined by '&',
// each handed to the scheme's own setter (serial: and ble: share this).
#pragma once

#include <string>

// Calls set(name, value, error) for every pair of the query that starts
// after position q of text (npos: no query). False, with error set, on a
// pair without '=' or when set refuses one.
template <class Setter>
bool DfForEachUriSetting(const std::string& text, size_t q, std::string& error, Setter set) {
    if (q == std::string::npos) return true;
    size_t at = q + 1;
    while (at <= text.size()) {
        size_t end = text.find('&', at);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(at, end - at);
        const size_t eq = pair.find('=');
        if (eq == std::string::npos) {
            error = "setting \"" + pair + "\" has no value";
            return false;
        }
        if (!set(pair.substr(0, eq), pair.substr(eq + 1), error)) return false;
        at = end + 1;
    }
    return true;
}
