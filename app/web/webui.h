// The printer application's web interface: the English words for our IPP
// attributes and values, and the test label behind "Print Test Page".
#pragma once

#include <pappl/pappl.h>

#include <cstddef>

// The en.strings text (strings.cpp).
const char* DfAppEnglishStrings();

// Adds the strings to the system; test labels are written to SPOOL (or the
// temporary directory when it is null).
void DfAppWebSetup(pappl_system_t* system, const char* spool);

// True in a server whose web interface is set up (device lists then become
// web pages).
bool DfAppWebServing();

// PAPPL's test page callback: writes the label for the printer's ready media
// and resolution as a PNG and returns its path in BUFFER, or null.
const char* DfAppTestPage(pappl_printer_t* printer, char* buffer, size_t bufsize);

// The label size in dots for a media size in hundredths of millimetres, as
// the page it is printed on has them; on a roll (and for a length of 0, or
// longer than a label needs) it is 100 mm long.
void DfAppTestPageSize(int widthHmm, int lengthHmm, int dpi, bool roll, int* width, int* height);
