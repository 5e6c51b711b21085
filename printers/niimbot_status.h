// Readers of the Niimbot replies that tell the printer's state: the
// heartbeat (its layout depends on its length; some models report the lid
// inverted), the RFID tag of the label roll and the print error codes.
// Shared by the status check, the talk sink and the virtual printer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DfNiimbotHeartbeat {
    bool lidOpen = false;
    bool paperOut = false;
    bool tagRead = false;
    int battery = -1;  // 0-4, -1 when not in this form
};
// False when the length is none of the known forms.
bool DfNiimbotReadHeartbeat(const std::vector<uint8_t>& data, int modelId, DfNiimbotHeartbeat* hb);

struct DfNiimbotTag {
    bool present = false;
    std::string barcode, serial;
    int total = -1, used = -1, type = 0;
};
// The RFID reply (1 byte 00: no tag); false when it is cut short.
bool DfNiimbotReadTag(const std::vector<uint8_t>& data, DfNiimbotTag* tag);
std::string DfNiimbotLabelTypeText(int type);
// The status conditions (printers/status.h) of a print error code.
unsigned DfNiimbotErrorConditions(uint8_t code);
