// The PPD compiler source of every driver, from the family descriptors.
#pragma once

#include <cstdio>

// Writes the source (ppdc's driver information format) to out.
void DfWritePpdSource(FILE* out);
