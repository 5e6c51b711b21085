// The options added to the "Printing Defaults" page's darkness and speed
// selects when PAPPL's own steps do not include the printer's value.
#pragma once

#include <string>

// HTML options for printer-darkness-configured `configured` on a head with
// `levels` levels: the value itself (selected) when it is not one of PAPPL's
// percent steps, and "Printer's own setting" unless that is a step.
std::string DfAppDarknessExtraOptions(int configured, int levels);

// An HTML option, selected, for print-speed-default `speed` (hundredths of a
// millimetre per second) when it is not a whole number of inches per second.
std::string DfAppSpeedExtraOptions(int speed);

// False when PAPPL's HTML output cannot be reached (then the selects stay as
// PAPPL writes them). Called when the web interface is set up, which also
// links these definitions in.
bool DfAppWebSelectsReady();
