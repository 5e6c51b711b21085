// The loaded medium rules of the printer application. Phones and Windows
// offer only their own sizes (4x6, A4, Letter), so a job's page is often not
// the label in the printer. What happens then is the printer's
// dotforge-media-mismatch-default, or the job's dotforge-media-mismatch:
// "fit" (the page is fitted onto the loaded label, see labelfit.h), "hold"
// (the job waits with media-needed until that size is loaded or the job is
// released) or "as-sent" (the page is printed at its own size, as before).
// A job on the loaded medium prints as it always did.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

#include "app/core/models.h"

enum class DfMismatch { Fit, Hold, AsSent };

constexpr const char* kDfMismatchAttr = "dotforge-media-mismatch";

// The vendor attribute (job, -default, -supported) for a driver.
void DfAppAddMismatchAttr(pappl_pr_driver_data_t* d, ipp_t* attrs);
// True when name is the mismatch attribute and value one of its keywords.
bool DfAppMismatchOption(const char* name, const char* value);
// The job's choice, else the printer's default, else fit.
DfMismatch DfAppJobMismatch(pappl_job_t* job, const pappl_pr_options_t& options);

// The printer's loaded medium; roll: a receipt printer's paper or a roll
// medium (om_roll-...), where only the width counts. False when the printer has none.
bool DfAppLoadedMedium(pappl_printer_t* printer, pappl_media_col_t& ready, bool& roll);
// Whether the medium a job asks for is the loaded one (within a millimetre).
bool DfAppIsLoadedMedium(const pappl_media_col_t& media, const pappl_media_col_t& ready, bool roll);

// PNG, JPEG and PDF jobs: when the job's medium is not the loaded one and the
// rule is fit, the options are pointed at the loaded medium (on a roll, as
// long as the job's page is for the roll's width) and the document is fitted.
void DfAppFitDocumentMedia(pappl_job_t* job, pappl_pr_options_t* options);

// Raster jobs: what the job start decides for its pages.
struct DfAppFitState {
    bool enabled = false;       // pages not of the loaded size may be fitted
    bool mediaDiffers = false;  // the job named another medium than the loaded one
    bool roll = false;
};
// Points the options at the loaded medium when the job's differs and the
// rule fits.
DfAppFitState DfAppFitRasterJob(pappl_job_t* job, pappl_pr_options_t* options);
// Whether a page with this header is fitted onto media (the loaded medium).
bool DfAppFitsPage(const DfAppFitState& state, const cups_page_header2_t& header,
                   const pappl_media_col_t& media);
// The header of an 8-bit grey page of width x height dots at the header's
// resolution.
void DfAppGreyHeader(cups_page_header2_t& header, unsigned width, unsigned height);

// Sizes Android's print service, Mopria and Windows' class driver know that
// are close to one of the model's media: photo and card sizes (no longer
// than 160 mm), on labels only those of nearly a label's shape (within 8%). Listed beside the real media,
// they let a phone user pick a size of the label's shape; a job for one is fitted onto the loaded label.
const std::vector<std::string>& DfAppClientSizes(const DfAppModel& model);
