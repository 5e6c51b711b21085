// The `options` sub-command's second part (after PAPPL's list of the
// standard options, app/pappl/optionscmd.cpp): the printer's own dotforge-*
// options with their default and values.
#pragma once

#include <cups/cups.h>

// Prints them from the printer's Get-Printer-Attributes answer; nothing for
// a printer without them.
void DfAppPrintOwnOptions(ipp_t* response);
