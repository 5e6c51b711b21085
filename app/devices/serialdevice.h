// The "serial:" device scheme of the printer application: printers on serial
// ports, USB serial adapters and Bluetooth serial links (rfcomm), which
// neither PAPPL nor IPP discovery reaches. The URI carries the line settings:
//   serial:/dev/rfcomm0
//   serial:/dev/ttyUSB0?baud=19200&bits=8&parity=none&stop=1&flow=rtscts
#pragma once

#include <string>

struct DfSerialSettings {
    std::string path;
    unsigned baud = 9600;
    int bits = 8;          // 5 to 8
    char parity = 'n';     // 'n' none, 'e' even, 'o' odd
    int stopBits = 1;      // 1 or 2
    bool rtscts = false;   // hardware flow control
    bool xonxoff = false;  // software flow control
};

// Reads a serial: URI. False with a readable reason for anything it does not
// understand; a typo in a line setting must not print at the wrong speed.
bool DfParseSerialUri(const char* uri, DfSerialSettings& settings, std::string& error);

// Registers the scheme with PAPPL; call once before the system starts.
void DfRegisterSerialScheme();
