// PAPPL's test page callback ("Print Test Page" on the web interface): the
// test label (testpage.h) for the printer's ready medium and resolution,
// written as a PNG into the spool directory.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>

// Test labels are written to SPOOL (or the temporary directory when it is
// null or empty).
void DfAppSetTestPageDir(const char* spool);

// The callback: writes the label and returns its path in BUFFER, or null.
const char* DfAppTestPage(pappl_printer_t* printer, char* buffer, size_t bufsize);

// The label size in dots for a media size in hundredths of millimetres, as
// the page it is printed on has them; on a roll (and for a length of 0, or
// longer than a label needs) it is 100 mm long.
void DfAppTestPageSize(int widthHmm, int lengthHmm, int dpi, bool roll, int* width, int* height);
