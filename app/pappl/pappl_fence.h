// The PAPPL fence: every private or internal symbol of PAPPL (and every
// public PAPPL, libcups or avahi function) that the app replaces, wraps or
// calls, in one table, with the PAPPL bug each works around; and the check
// at start that the loaded PAPPL still calls through them. The table is the
// list to go through when porting to another PAPPL (README, "The PAPPL
// fence"); docs/pappl-bugs.md has the bugs still open upstream.
#pragma once

#include <string>
#include <vector>

// The PAPPL the fence was written for (app/CMakeLists.txt accepts 1.3.x).
constexpr char kDfFencePapplVersion[] = "1.3.1";

enum class DfFenceUse {
    kReplaced,    // a PAPPL internal defined here, calling PAPPL's own (dlsym RTLD_NEXT)
    kSupplanted,  // a PAPPL internal or library function defined here, PAPPL's own never called
    kWrapped,     // a public PAPPL, libcups or avahi function defined here, calling the real one
    kCalled,      // a PAPPL internal the app calls
};

struct DfFenceSymbol {
    const char* name;
    DfFenceUse use;
    const char* file;     // where in app/
    const char* matches;  // the PAPPL whose signature and behaviour it was written for
    const char* guard;    // what the app does there (skipped if PAPPL does not call through it)
    const char* bug;      // the PAPPL bug worked around, or "" (a feature, not a bug)
    const char*
        fixedIn;  // the PAPPL that fixed it; "open in 1.4.11"; "unchecked" (not in the change log read)
};

// Workarounds that need no symbol of PAPPL's (arguments, signals, filters).
struct DfFenceWorkaround {
    const char* what;
    const char* file;
    const char* bug;
    const char* fixedIn;
};

extern const DfFenceSymbol kDfFenceSymbols[];
extern const size_t kDfFenceSymbolCount;
extern const DfFenceWorkaround kDfFenceWorkarounds[];
extern const size_t kDfFenceWorkaroundCount;

// The names among NAMES that the ELF shared library at PATH has no dynamic
// relocation for (in any SHT_REL/SHT_RELA section: JUMP_SLOT, GLOB_DAT, ...):
// the library calls those directly, a definition in the program never runs.
// False with ERROR when the file cannot be read or is no ELF object.
bool DfFenceUnrelocated(const char* path, const std::vector<std::string>& names,
                        std::vector<std::string>& direct, std::string& error);

// The check at start: every symbol of the table the app forwards to or
// calls resolves, and the loaded libpappl calls each one the app defines
// through a dynamic relocation. False with one line per fault in ERROR.
// LIBRARY, when given, is read instead of the loaded libpappl (tests).
bool DfFenceCheck(std::string& error, const char* library = nullptr);

// DfFenceCheck() for main(): prints the faults and why the app stops.
bool DfFenceCheckAtStart();

// PAPPL's (or libcups's, avahi's) NAME, the definition after the program's;
// one the start check did not find ends the program with a message instead
// of being called.
void* DfFenceNext(const char* name);
