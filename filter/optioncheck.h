// DfCheckJobOptions: one warning for each job option that the printer's
// PPD will not act on although the user clearly meant one of its options: a
// value that is no choice (and no whole number in range) of one of our
// options, or a name close to one of ours. CUPS's and IPP's own options are
// never reported.
#pragma once

#include <cups/ppd.h>

#include <functional>
#include <string>

void DfCheckJobOptions(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                       const std::function<void(const std::string&)>& warn);
