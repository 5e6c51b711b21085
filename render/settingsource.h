// DfSettingsSource: what a renderer asks when it reads the job's settings.
// The CUPS filter answers from the marked PPD (filter/ppdsettings.h), the
// printer application from IPP attributes; both answer in the PPD's choice
// names, so one reader (CBaseRender::GetPrinterParameters) serves both.
#pragma once

#include <string>

class DfSettingsSource {
public:
    virtual ~DfSettingsSource() {}
    // The chosen value of an option by its PPD keyword. False when the
    // option does not exist for this printer.
    virtual bool Choice(const char* keyword, std::string& value) = 0;
    // A model attribute such as "DensityCommand". False when absent.
    virtual bool Attribute(const char* name, std::string& value) = 0;
};
