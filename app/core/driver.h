// The driver callback: a printer's capabilities and defaults from the model
// table, and the vendor attributes for the rest of its PPD options.
#pragma once

#include <pappl/pappl.h>

bool DfAppDriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                         const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);
// The driver list for the main loop (names and make-and-model).
pappl_pr_driver_t* DfAppDriverList(int* count);
