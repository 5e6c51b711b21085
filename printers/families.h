// The list of printer families, one line each: a family is its own files
// (renderer, descriptor printers/<family>_family.cpp defining kDf<Family>,
// the preview's tools/preview/decode_<family>.cpp defining kDf<Family>Decoder)
// plus its line here. printers/family.cpp makes DfFamilies() of it and the
// preview its decoder list, so a family without a decoder does not link.
#pragma once

#include "printers/family.h"

#define DF_FAMILY_LIST(X) \
    X(kDfTspl) X(kDfEscpos) X(kDfCpcl) X(kDfPaperang) X(kDfPeripage) X(kDfNiimbot) X(kDfCat)

// The descriptors by name, for code that means one family (tests).
#define DF_DECLARE_FAMILY(name) extern const DfFamily name;
DF_FAMILY_LIST(DF_DECLARE_FAMILY)
#undef DF_DECLARE_FAMILY
