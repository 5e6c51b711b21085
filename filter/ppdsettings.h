// DfPpdSettings: the filter's settings source, answering from the PPD's
// marked choices and attributes.
#pragma once

#include <cups/ppd.h>

#include "render/settingsource.h"

class DfPpdSettings : public DfSettingsSource {
public:
    explicit DfPpdSettings(ppd_file_t* ppd) : m_ppd(ppd) {}
    bool Choice(const char* keyword, std::string& value) override;
    bool Attribute(const char* name, std::string& value) override;

private:
    ppd_file_t* m_ppd;  // not owned
};
