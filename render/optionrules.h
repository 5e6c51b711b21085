// The option keywords the renderers read, which of them take any whole
// number in their range, and how near a misspelt name is to one of them.
// Front ends use these to answer numeric values and to warn about values
// and names the printer does not know.
#pragma once

#include <string>
#include <vector>

// Every option keyword GetPrinterParameters reads.
const std::vector<std::string>& DfOptionKeywords();

// True for the options whose value is a number that any whole number
// between the printer's smallest and largest numeric choice may take
// (brightness, contrast, threshold, darkness, speed, shifts, crop limits,
// feed), with the same meaning as a named choice of that number.
bool DfIsNumericOption(const std::string& keyword);

// The one check of a job's value for one of our options, whichever front
// end it came through: a named choice among choices (the printer's, in
// order) is taken as it is; for a numeric option any whole number between
// the smallest and largest numeric choice is taken as that number. Sets
// choice to the choice to use; false when the value is neither.
bool DfAcceptValue(const std::string& keyword, const std::vector<std::string>& choices, const std::string& value,
                   std::string& choice);

// The values DfAcceptValue takes, as the warnings list them: "0, 1, 2, 3",
// "Default or a whole number from 0 to 15".
std::string DfAcceptedValues(const std::string& keyword, const std::vector<std::string>& choices);

// "a whole number from LO to HI", as DfAcceptedValues says it.
std::string DfNumberRange(int lo, int hi);

// The words both front ends refuse a value with: "NAME=VALUE is not a value
// this printer accepts (ACCEPTED)". NAME is what the user wrote (the PPD
// keyword, or the app's IPP attribute), accepted a DfAcceptedValues or
// DfNumberRange text.
std::string DfNotAccepted(const std::string& name, const std::string& value, const std::string& accepted);

// The filter's warning for a refused value: "KEY=VALUE is not a value this
// printer accepts (ACCEPTED); USED is used."
std::string DfRefusedValue(const std::string& keyword, const std::string& value,
                           const std::vector<std::string>& choices, const std::string& used);

// The number DfAcceptValue takes that is nearest to number: for a numeric
// option, number brought into the range of its numeric choices. False for
// other options.
bool DfNearestValue(const std::string& keyword, const std::vector<std::string>& choices, int number,
                    int& value);

// Parses an optional sign and decimal digits, nothing else, into value
// (within int). False for anything else.
bool DfWholeNumber(const std::string& text, int& value);

// The keyword among candidates that name is most likely a misspelling of
// (letter case, a small edit distance, or a common other name such as
// "Dither"), or an empty string. Never name itself.
std::string DfNearOption(const std::string& name, const std::vector<std::string>& candidates);
