// The `options` sub-command: PAPPL's list of a printer's options, followed
// by the printer's own dotforge-* options with their values.
#pragma once

// Does nothing; a call links the sub-command's definitions in (they replace
// PAPPL's, which the static library would otherwise leave out).
void DfAppOptionsCommandReady();
