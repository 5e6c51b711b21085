// Copies of a printer's driver attributes (its vendor defaults and media
// lists) for the app's own reading.
#pragma once

#include <pappl/pappl.h>

// PAPPL 1.3.1's papplPrinterGetDriverAttributes copies under the printer's
// read lock, so several client threads copy at once; libcups shares a
// collection value between the copies with a use count it does not guard,
// and two threads deleting their copies freed the same media-col twice (seen
// under 6 clients' Print-Jobs). Every copy the app makes, and its deletion,
// go through these two under one mutex.
ipp_t* DfAppCopyDriverAttributes(pappl_printer_t* printer);
void DfAppFreeDriverAttributes(ipp_t* attrs);
