// DfPpdSettings: marked PPD choices, each logged with its choice record, and
// job values between the named choices of numeric options.
#include "filter/ppdsettings.h"

#include <cstring>

#include "base/log.h"
#include "render/optionrules.h"

std::vector<std::string> DfPpdSettings::ChoiceNames(ppd_option_t* option) {
    std::vector<std::string> names;
    for (int i = 0; option && i < option->num_choices; i++) names.push_back(option->choices[i].choice);
    return names;
}

bool DfPpdSettings::NumericValue(ppd_option_t* option, const char* given, int& value) {
    std::string choice;
    return option && given && DfAcceptValue(option->keyword, ChoiceNames(option), given, choice) &&
           DfWholeNumber(choice, value);
}

bool DfPpdSettings::Choice(const char* keyword, std::string& value) {
    ppd_choice_t* choice = m_ppd ? ppdFindMarkedChoice(m_ppd, keyword) : nullptr;
    if (!choice) return false;
    ppd_option_t* option = choice->option;
    DfLog(LOG_DEBUG,
          "%s: marked=%d, choice: %s, text: %s, code: %s, \t\t\tconflicted=%d, keyword: %s, defchoice: %s, "
          "option->text: %s, option->num_choices: %d",
          keyword, choice->marked, choice->choice, choice->text, choice->code ? choice->code : "(null)",
          option ? option->conflicted : 0, option ? option->keyword : "(null)",
          option ? option->defchoice : "(null)", option ? option->text : "(null)",
          option ? option->num_choices : 0);
    value = choice->choice;
    // A named choice the job gave is already marked; a number between the
    // named ones is taken from the job's options as if it were one.
    // Only the exact keyword: CUPS's own image option "brightness" is a
    // percentage, not ours.
    const char* given = nullptr;
    for (int i = 0; i < m_numOptions; i++)
        if (m_options[i].name && strcmp(m_options[i].name, keyword) == 0) given = m_options[i].value;
    int number;
    if (given && !ppdFindChoice(option, given) && NumericValue(option, given, number)) {
        value = std::to_string(number);
        DfLog(LOG_DEBUG, "%s: job value %s used as %d", keyword, given, number);
    }
    return true;
}

bool DfPpdSettings::Attribute(const char* name, std::string& value) {
    ppd_attr_t* attr = m_ppd ? ppdFindAttr(m_ppd, name, nullptr) : nullptr;
    if (!attr) return false;
    value = attr->value ? attr->value : "";
    return true;
}
