// Label mode on the "Printing Defaults" web page (app/pappl/weblabelmode.cpp).
#pragma once

#include <pappl/pappl.h>

#include <string>

// The page's label mode row (a select of the printer's label modes in the
// PPD's words, the current one selected) while this thread writes the
// Printing Defaults page of a printer that has label modes; "" otherwise.
std::string DfAppLabelModeRow();

// The IPP keyword of a label mode, or null for another mode.
const char* DfAppLabelModeKeyword(pappl_label_mode_t mode);
