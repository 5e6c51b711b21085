// Connecting to a network printer without holding PAPPL's printer lock: see
// deviceopen.cpp.
#pragma once

#include <pappl/pappl.h>

#include <memory>

struct DfAppConnector;

// While a job thread runs PAPPL's job start (the job's printing, or a raster
// job streamed by its client): the connection to a network printer is made
// on a thread of its own, and PAPPL's open, under the printer's lock, only
// takes what that thread got. Construct it right before PAPPL's job code,
// in the thread that runs it.
class DfAppJobConnect {
public:
    explicit DfAppJobConnect(pappl_job_t* job);
    ~DfAppJobConnect();
    DfAppJobConnect(const DfAppJobConnect&) = delete;
    DfAppJobConnect& operator=(const DfAppJobConnect&) = delete;

private:
    std::shared_ptr<DfAppConnector> m_connector;
};

// papplPrinterOpenDevice for a status query or a maintenance command: the
// connection is made first, outside the printer's lock, within
// kDfAppStatusConnectMs. Null when the printer is busy or cannot be reached
// (its device error then says why).
pappl_device_t* DfAppOpenPrinterDevice(pappl_printer_t* printer);

// Called by the papplDeviceOpen() the program defines, first: true when this
// open is answered without connecting (*DEVICE is then the connection made
// beforehand, or null while it is still being made).
bool DfAppOpenPrepared(const char* uri, pappl_device_t** device);

// Called by it after each open that connected: the device is open until
// papplDeviceClose().
void DfAppNoteOpened(pappl_device_t* device, const char* uri);

// Before the system is deleted: the connects still going on are ended (they
// log to the system).
void DfAppStopConnecting();

// Longest connect for a status query or a maintenance command.
constexpr int kDfAppStatusConnectMs = 2000;
