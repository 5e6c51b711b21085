// The cat printers' flow control (DfFamily::talk): the renderer's frames
// are streamed over a DfLink in chunks, and the printer's notifications are
// read between them. A pause frame (AE 10) stops the sender until the
// resume frame (AE 00) comes, for at most a bounded time ("paused by the
// printer for 30 s"); the state reply to the page's first frame (A3) ends
// the job before any row is sent when the paper is out or the cover open.
#pragma once

#include <memory>
#include <string>

class DfLink;
class DfSink;

struct DfCatTimings {
    int chunkBytes = 200;  // sent between two looks at the notifications
    int pauseMs = 30000;   // longest pause the printer may ask for
    int stateMs = 1000;    // wait for the state reply (no reply: printing goes on)
};

std::unique_ptr<DfSink> DfCatTalk(DfLink& link, std::string* why);
std::unique_ptr<DfSink> DfCatTalkWith(DfLink& link, std::string* why, const DfCatTimings& timings);
