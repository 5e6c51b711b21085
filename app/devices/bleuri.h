// The "ble:" device scheme's pure parts: the URI, the pocket printers' GATT
// profiles, the flow-control grants some of them send, chunk sizes and the
// words a user sees when the link fails. Nothing here touches the bus.
//   ble://AA-BB-CC-DD-EE-FF
//   ble://AA-BB-CC-DD-EE-FF?service=ff00&write=ff02&notify=ff01&flow=ff03
//   ble://AA-BB-CC-DD-EE-FF?chunk=100&timeout=10
// The address is written with dashes: colons after "//" would read as a host
// and port, and libcups (so PAPPL and every IPP client) refuses such a URI.
// The colon form is understood where a user types it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DfBleSettings {
    std::string address;  // "AA:BB:CC:DD:EE:FF", upper case
    // Full 128-bit UUIDs in lower case; empty: the printer's profile decides.
    std::string service, write, notify, flow;
    bool noFlow = false;   // flow=none: ignore a flow-control characteristic
    unsigned chunk = 0;    // largest write the URI allows (0: the link decides)
    unsigned timeout = 0;  // seconds for each step of connecting (0: default)
};

// Reads a ble: URI. False with a readable reason for anything it does not
// understand.
bool DfParseBleUri(const char* uri, DfBleSettings& settings, std::string& error);

// The URI with the address's colons turned into dashes (anything else as is).
std::string DfBleCanonicalUri(const char* uri);
// "ble://AA-BB-CC-DD-EE-FF" for an address as BlueZ writes it.
std::string DfBleUriFor(const std::string& address);

// "ff00", "0000FF00", or a full UUID in any case, as a lower-case 128-bit
// UUID; false for anything else.
bool DfBleNormalizeUuid(const std::string& text, std::string& uuid);

// A family's GATT layout (its descriptor's ble): service, write, notify and
// flow-control characteristics (flow may be null).
struct DfBleProfile {
    int modelNumber;  // the command family, as in the model table
    const char* name;
    const char* service;
    const char* write;
    const char* notify;
    const char* flow;
    bool talk;  // the family's printers answer back (DfFamily::talk)
};

// The profiles of the families with Bluetooth LE printers, in model order.
const std::vector<DfBleProfile>& DfBleProfiles();
// The profile of a command family, or nullptr when it has none.
const DfBleProfile* DfBleProfileFor(int modelNumber);
// The profile whose service is this (normalised) UUID, or nullptr.
const DfBleProfile* DfBleProfileForService(const std::string& uuid);
// Fills what the URI left open from a profile (which may be null).
void DfBleApplyProfile(DfBleSettings& settings, const DfBleProfile* profile);

// A flow-control notification: byte 0 is the number of further writes the
// printer takes, bytes 1-2 (little endian, optional) the largest write it
// takes. False for a message that is no grant.
bool DfBleParseGrant(const uint8_t* data, size_t size, unsigned& writes, unsigned& chunk);

// Bytes one write may carry: the ATT payload of the link's MTU, capped by the
// URI and by what the printer granted (0: no cap).
size_t DfBleChunkSize(unsigned mtu, unsigned uriChunk, unsigned grantChunk);

// Reasons for the printer and the job. The error is a D-Bus error name.
enum class DfBleFailure { None, NoBus, NoBluez, AdapterOff, NotFound, NotPaired, NoConnect, Lost, Other };
DfBleFailure DfBleClassifyError(const char* dbusError, const char* message, bool paired);
const char* DfBleFailureText(DfBleFailure failure);
