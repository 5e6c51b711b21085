// The PPD compiler source of every driver, from the family descriptors.
#pragma once

#include <string>

// The source, in ppdc's driver information format.
std::string DfPpdSource();
