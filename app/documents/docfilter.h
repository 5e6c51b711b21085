// The printer application's own document formats: PNG, JPEG and PDF are
// decoded here and their pages go through the same raster callbacks as PWG
// raster, so PAPPL's image filters are never used.
#pragma once

#include <pappl/pappl.h>

// Registers the filters for every driver's format and the content typing.
void DfAppAddDocumentFilters(pappl_system_t* system);

// The filter: prints the job's document. False when the job failed (its
// message and reasons say why).
bool DfAppFilterDocument(pappl_job_t* job, pappl_device_t* device, void* data);
