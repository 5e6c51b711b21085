// CUPS's localized filter-message calls. libcups exports them without a
// public header, so they are declared here.
#pragma once

#include <cstdio>

extern "C" {
int _cupsLangPrintFilter(FILE* fp, const char* prefix, const char* message, ...);
void _cupsLangPrintError(const char* prefix, const char* message);
}
