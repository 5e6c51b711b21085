// Whether DNS-SD (avahi-daemon) can be asked, and the guards that keep
// PAPPL's network browsing from aborting or wedging the server without it.
#pragma once

// True when avahi-daemon answers on its socket. A socket file left behind by
// a daemon that died does not count.
bool DfAppDnssdReachable();
