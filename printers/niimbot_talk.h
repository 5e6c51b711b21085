// The Niimbot conversation (DfFamily::talk): takes the renderer's packets
// and plays them over a DfLink, each command waiting for its reply: connect
// (then the model id is asked), density, label type, print start, page
// start (retried while the printer refuses it), page size, the rows (no
// replies), page end (retried while not ready), then the print status is
// polled until the page is printed, and print end. A print error (0xDB, or
// PrintStatus's error byte) or a printer that stops answering ends the job
// with the reason ("printer did not answer page end").
#pragma once

#include <memory>
#include <string>

class DfLink;
class DfSink;

struct DfNiimbotTimings {
    int replyMs = 1000;     // a command's reply
    int pageEndMs = 10000;  // page end's, while the rows are still printing
    int pollMs = 300;       // between print status polls and retries
    int printMs = 60000;    // a page from page end to printed
    int pageStartTries = 5;
    int pageEndTries = 20;
};

std::unique_ptr<DfSink> DfNiimbotTalk(DfLink& link, std::string* why);
std::unique_ptr<DfSink> DfNiimbotTalkWith(DfLink& link, std::string* why, const DfNiimbotTimings& timings);
