// The resolution of a client's raster page. A page is printed dot for dot,
// so one made for another resolution would come out at the wrong size (300
// dpi on a 203 dpi head is half as large again; 1 dpi asks for metres of
// paper). Such a page is refused rather than resampled: the printer
// advertises its resolutions, every driverless client renders at one of
// them, and resampling 1-bit-bound pictures would blur what the client drew.
#pragma once

#include <cups/raster.h>
#include <pappl/pappl.h>

#include <string>

// True when HEADER's resolution is one PRINTER advertises; else WHY says so.
bool DfAppResolutionSupported(pappl_printer_t* printer, const cups_page_header2_t& header, std::string& why);
