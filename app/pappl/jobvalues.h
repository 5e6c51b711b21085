// Job attributes that arrive as names or text, turned into the types the
// printer takes before PAPPL checks them.
#pragma once

#include <pappl/pappl.h>

// Retypes print-darkness, print-speed and the dotforge-* job attributes in
// the job group of `request` when they came as nameWithoutLanguage or
// textWithoutLanguage: integers when the attribute is an integer one and the
// value is a whole number, keywords otherwise. Returns how many changed.
int DfAppRetypeJobValues(ipp_t* request);

// False when PAPPL's request handling cannot be reached (then job values
// stay as they came). Called when the server is set up, which also links the
// retyping of Print-Job, Create-Job and Validate-Job requests in.
bool DfAppJobValuesReady();
