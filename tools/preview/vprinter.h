// The virtual printer of dotforge-preview: takes jobs of every family on a
// loopback socket (AppSocket) or a pseudo-terminal, writes their pages as
// PNG and answers the families' status queries from a status that a test
// may change while it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <string>
#include <vector>

#include "tools/preview/preview.h"

// What the virtual printer reports: the words of --status / --status-file.
struct VirtualStatus {
    bool silent = false;  // never answers
    bool paperOut = false, paperLow = false, coverOpen = false, jam = false, ribbonOut = false,
         overheat = false;
    int battery = 100;
    bool rfid = false;       // the label roll carries a tag (Niimbot)
    bool flowPause = false;  // pauses the sender now and then (cat printers)
};

// Reads words such as "paper-out cover-open battery=20" (spaces, commas or
// new lines between them; "ready" clears all). False with the bad word in
// *error.
bool ParseVirtualStatus(const std::string& text, VirtualStatus* status, std::string* error);

// How the bytes at the start of a connection's input look.
enum class QueryMatch { None, Partial, Query };

// Whether data starts with a status query of any family; *len: its length.
QueryMatch MatchStatusQuery(const uint8_t* data, size_t len, size_t* queryLen);

// The answer to the query of queryLen bytes at data (empty: none).
std::vector<uint8_t> AnswerStatusQuery(const uint8_t* data, size_t queryLen, const VirtualStatus& status);

// The largest job the virtual printer (and the decoder reading a file)
// takes unless --max-job says otherwise.
constexpr size_t kPreviewDefaultMaxJobBytes = 32u << 20;

struct VirtualPrinterOptions {
    std::string listen;  // [HOST:]PORT, empty: no socket
    bool pty = false;
    std::string prefix = "page";
    std::string status = "ready";
    std::string statusFile;
    int jobs = 0;  // stop after this many jobs (0: run until SIGTERM)
    PreviewFamily family = PreviewFamily::Unknown;
    int headDots = 0;
    // Limits, so that no sender can exhaust the machine: a larger job is
    // refused and its connection closed; connections beyond maxConnections
    // are closed at once; one silent for idleSeconds is closed (its job,
    // if one began, is decoded as far as it came).
    size_t maxJobBytes = kPreviewDefaultMaxJobBytes;
    int maxConnections = 8;
    int idleSeconds = 30;
    // USER or USER:GROUP: the pty's owner (mode 0660), so that a service
    // running as that user can open it; empty: left as the system made it.
    std::string ptyOwner;
};

// Reads --pty-owner's USER[:GROUP]; false with the reason in *why. Without
// a group *gid is (gid_t)-1 (chown leaves the group).
bool ParsePtyOwner(const std::string& owner, uid_t* uid, gid_t* gid, std::string* why);

// Runs until SIGTERM or SIGINT, or until options.jobs jobs were taken.
// Returns the exit status.
int RunVirtualPrinter(const VirtualPrinterOptions& options);
