// DfPpdSettings: marked PPD choices, each logged with its choice record.
#include "filter/ppdsettings.h"

#include "base/log.h"

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
    return true;
}

bool DfPpdSettings::Attribute(const char* name, std::string& value) {
    ppd_attr_t* attr = m_ppd ? ppdFindAttr(m_ppd, name, nullptr) : nullptr;
    if (!attr) return false;
    value = attr->value ? attr->value : "";
    return true;
}
