// Label mode on the "Printing Defaults" web page (app/pappl/weblabelmode.cpp).
#pragma once

#include <pappl/pappl.h>

#include <string>

// The page's label mode row (DfFenceHooks::labelModeRow) while this thread
// writes the Printing Defaults page of a printer; "" otherwise.
std::string DfAppLabelModeRow();

// The label modes the row offers, in its order, and their IPP keywords
// (null for another mode).
const pappl_label_mode_t* DfAppLabelModes(size_t* count);
const char* DfAppLabelModeKeyword(pappl_label_mode_t mode);
