// The "ble:" device scheme of the printer application: pocket printers that
// speak only Bluetooth Low Energy, reached through BlueZ on the system bus
// (see app/devices/bleuri.h for the URI). Each job connects, writes in chunks the
// link and the printer's flow control allow, reads the printer's
// notifications, and disconnects.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Registers the scheme with PAPPL; call once before the system starts.
void DfRegisterBleScheme();

// Remembers which command family a printer on this URI speaks, so that a
// URI without UUIDs gets that family's GATT layout.
void DfBleNotePrinter(const char* deviceUri, int modelNumber);

// Why the last write to a ble: device failed ("" for other devices or no
// failure), for the job's message.
std::string DfBleDeviceReason(pappl_job_t* job, pappl_device_t* device);

// The most one write to a ble: device carries (its MTU's payload, capped by
// the URI's chunk=).
size_t DfBleWriteSize(pappl_device_t* device);
// Reads a ble: device's notifications (the flow characteristic's too when
// the family talks) that come within MS milliseconds: the bytes read, 0
// when none came, -1 when the link is lost.
long DfBleReadWithin(pappl_device_t* device, void* buffer, size_t bytes, int ms);

// Seconds each connecting step may take unless the URI says otherwise, and
// seconds a write may wait for the printer's flow control.
constexpr unsigned kDfBleConnectSeconds = 15;
constexpr unsigned kDfBleStallSeconds = 30;
