// DfPpdSettings: the filter's settings source, answering from the PPD's
// marked choices and attributes, and from the job's options for a whole
// number that the PPD offers no named choice for.
#pragma once

#include <cups/ppd.h>

#include <string>
#include <vector>

#include "render/settingsource.h"

class DfPpdSettings : public DfSettingsSource {
public:
    explicit DfPpdSettings(ppd_file_t* ppd, int numOptions = 0, cups_option_t* options = nullptr)
        : m_ppd(ppd), m_numOptions(numOptions), m_options(options) {}
    bool Choice(const char* keyword, std::string& value) override;
    bool Attribute(const char* name, std::string& value) override;

    // The whole number the job gives for a numeric option when it lies
    // between the option's smallest and largest numeric choice in the PPD.
    // (The check itself is DfAcceptValue's, shared with the app.)
    static bool NumericValue(ppd_option_t* option, const char* given, int& value);
    // The option's choice names in PPD order.
    static std::vector<std::string> ChoiceNames(ppd_option_t* option);

private:
    ppd_file_t* m_ppd;  // not owned
    int m_numOptions;
    cups_option_t* m_options;  // the job's options; not owned
};
