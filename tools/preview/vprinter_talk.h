// The virtual printer's side of the families that answer back. A Niimbot
// printer answers every command as the protocol notes describe (connect,
// model id, heartbeat with lid, paper, battery and tag, RFID info, print
// status, print errors when the lid is open or the paper out); a cat
// printer answers the state query and, when told to (status word
// flow-pause), pauses the sender every 40 rows and resumes it 200 ms later.
// The bytes of the job are kept by the caller and decoded at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/preview/vprinter.h"

class VirtualTalk {
public:
    virtual ~VirtualTalk() {}
    // Takes bytes from the sender; returns what the printer answers.
    virtual std::vector<uint8_t> Take(const uint8_t* data, size_t len, const VirtualStatus& status) = 0;
    // What the printer says unasked by now (a resume after a pause).
    virtual std::vector<uint8_t> Tick(long long nowMs) = 0;
    // True once something was sent that prints (not only status questions).
    virtual bool Printing() const = 0;
    // How often it paused the sender (flow control).
    virtual int Pauses() const { return 0; }
    // Rows that came while the sender was told to pause.
    virtual int RowsWhilePaused() const { return 0; }
};

// The family of a connection's first bytes when it answers back
// (Unknown: not one of them, or not enough bytes to tell yet: *partial).
PreviewFamily VirtualTalkFamily(const uint8_t* data, size_t len, bool* partial);
// headDots tells the Niimbot model it plays: under 384 a D110, else a B1.
std::unique_ptr<VirtualTalk> MakeVirtualTalk(PreviewFamily family, int headDots);
