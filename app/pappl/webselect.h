// The "Printing Defaults" page's darkness and speed selects: the options web
// adds when PAPPL's own steps do not include the printer's value
// (DfFenceHooks::darknessExtraOptions and speedExtraOptions) go in here.
#pragma once

// False when PAPPL's HTML output cannot be reached (then the selects stay as
// PAPPL writes them). Called when the web interface is set up, which also
// links these definitions in.
bool DfAppWebSelectsReady();
