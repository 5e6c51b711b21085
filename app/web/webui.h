// The printer application's web interface: the English words for our IPP
// attributes and values, and the rows and options web adds to PAPPL's
// Printing Defaults page. (The test label behind "Print Test Page":
// app/core/testlabel.h.)
#pragma once

#include <pappl/pappl.h>

#include <string>

// The en.strings text (strings.cpp).
const char* DfAppEnglishStrings();

// Adds the strings to the system, has device lists shown as web pages and
// fills in the fence's hooks for the Printing Defaults page.
void DfAppWebSetup(pappl_system_t* system);

// The label mode row of PRINTER's Printing Defaults page: a select of its
// label modes in the PPD's words, the current one selected; "" for a
// printer without label modes.
std::string DfAppLabelModeRowOf(pappl_printer_t* printer);

// HTML options for printer-darkness-configured `configured` on a head with
// `levels` levels: the value itself (selected) when it is not one of PAPPL's
// percent steps, and "Printer's own setting" unless that is a step.
std::string DfAppDarknessExtraOptions(int configured, int levels);

// An HTML option, selected, for print-speed-default `speed` (hundredths of a
// millimetre per second) when it is not a whole number of inches per second.
std::string DfAppSpeedExtraOptions(int speed);
