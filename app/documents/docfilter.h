// The printer application's own document formats: PNG, JPEG and PDF are
// decoded here and their pages go through the same raster callbacks as PWG
// raster, so PAPPL's image filters are never used.
#pragma once

#include <pappl/pappl.h>

#include <vector>

// Where the pages go: the driver's raster callbacks, and the fit of the job's
// medium to the loaded one before the page size is taken from it. The core
// hands its own in (app/core/job.h, app/core/loadedmedium.h).
struct DfAppDocumentSink {
    bool (*startJob)(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
    bool (*startPage)(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
    bool (*writeLine)(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
                      const unsigned char* line);
    bool (*endPage)(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
    bool (*endJob)(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
    void (*fitMedia)(pappl_job_t* job, pappl_pr_options_t* options);
};

// Registers the filters for each of the drivers' FORMATS and the content
// typing. PAPPL keeps the format strings and SINK, not copies: they must
// live as long as the system.
void DfAppAddDocumentFilters(pappl_system_t* system, const std::vector<const char*>& formats,
                             const DfAppDocumentSink* sink);

// The filter (DATA: the sink): prints the job's document. False when the job
// failed (its message and reasons say why).
bool DfAppFilterDocument(pappl_job_t* job, pappl_device_t* device, void* data);
