// The reason words of the web pages' state line.
#pragma once

#include <string>

// The words a web page shows for a printer-state-reasons keyword, without
// the full stop PAPPL's own words end with (the page puts them in a list
// that it ends with one). Other keys' words come back as they are.
std::string DfAppReasonWords(const char* key, const char* words);

// Does nothing; a call links the words' definition in (it replaces PAPPL's,
// which the static library would otherwise leave out).
void DfAppReasonWordsReady();
