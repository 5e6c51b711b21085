// The reason words of the web pages' state line. PAPPL 1.3.1's web state
// line puts its own reason words, which end in a full stop, into a list that
// it ends with another ("Cover open., Out of paper.."): the words are given
// to the web pages without their full stop. (The `status` sub-command's
// line: app/core/statuscmd.cpp.)
#include "app/pappl/statustext.h"

#include <dlfcn.h>
#include <pappl/pappl.h>

#include <cstring>
#include <map>
#include <mutex>

std::string DfAppReasonWords(const char* key, const char* words) {
    std::string w = words ? words : "";
    if (key && !strncmp(key, "printer-state-reasons.", 22) && !w.empty() && w.back() == '.') w.pop_back();
    return w;
}

void DfAppReasonWordsReady() {}

// PAPPL 1.3.1 bug (see the first comment): its web state line ends each
// reason's words with two full stops. PAPPL calls this through its PLT, so
// this definition takes its place; the words without the full stop are kept
// for the server's life (the caller does not free what it gets).
extern "C" const char* papplClientGetLocString(pappl_client_t* client, const char* key) {
    using Real = const char* (*)(pappl_client_t*, const char*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "papplClientGetLocString"));
    const char* words = real ? real(client, key) : key;
    if (!key || strncmp(key, "printer-state-reasons.", 22) || !words || !*words ||
        words[strlen(words) - 1] != '.')
        return words;
    static std::mutex mutex;
    static std::map<std::string, std::string> trimmed;  // words -> words without the full stop
    std::lock_guard<std::mutex> lock(mutex);
    auto it = trimmed.find(words);
    if (it == trimmed.end()) it = trimmed.emplace(words, DfAppReasonWords(key, words)).first;
    return it->second.c_str();
}
