// Which device nodes a serial: printer may be on. Serial printers appear as
// USB serial adapters (ttyUSB, ttyACM), Bluetooth serial links (rfcomm) and
// on-board UARTs (ttyS, ttyAMA) that are not the kernel's console, or as a
// pseudo-terminal (tests, network serial bridges); the udev links under
// /dev/serial/ name them too. Nothing else is opened: not the console, the
// controlling terminal, /dev/ptmx, /dev/null or a link elsewhere.
#pragma once

#include <string>

// The path as the URI writes it. False with a reason for anything else.
bool DfSerialPathAllowed(const std::string& path, std::string& error);

// The node itself: resolves links, checks the real path by the rules above,
// that it is not the console and that it is a terminal, all without opening
// it for writing. RESOLVED gets the real path.
bool DfSerialCheckNode(const std::string& path, std::string& resolved, std::string& error);

// True when NAME (such as "ttyS0") is a console of this machine's kernel
// (CONSOLES: /sys/class/tty/console/active's text, CMDLINE: /proc/cmdline's).
bool DfSerialIsConsole(const std::string& name, const std::string& consoles, const std::string& cmdline);
