// The print callbacks of every dotforge driver: PAPPL's raster lines go
// through the filter's page intake, preparation and renderer; raw jobs in a
// family's own language are copied to the device.
#pragma once

#include <pappl/pappl.h>

bool DfAppStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool DfAppStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool DfAppWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
                    const unsigned char* line);
bool DfAppEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool DfAppEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool DfAppPrintRaw(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
