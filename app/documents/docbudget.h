// The budget a document gets for its rendering (wall-clock time and memory,
// set by server options) and the record kept beside a job's print file of
// what its rendering has used so far: a job that ran out of its budget, or
// was part-way through it when the server stopped, never gets a fresh one
// after a restart.
#pragma once

#include <cups/cups.h>
#include <pappl/pappl.h>

#include <string>

struct DfDocBudget {
    unsigned seconds = 60;     // of rendering, the printer's own time not counted
    unsigned megabytes = 512;  // resident memory of the renderer
};

// Reads -o document-time-limit=SECONDS and -o document-memory-limit=MB;
// false with the reason on a value that is no whole number in range.
bool DfDocBudgetFromOptions(int numOptions, cups_option_t* options, std::string& error);
// The budget the server was started with.
const DfDocBudget& DfDocBudgetCurrent();

// How a rendering ended when it did not end well.
enum class DfBudgetEnd { None = 0, Time = 1, Memory = 2, Failed = 3 };

// The job-state-message for a rendering that ended so; DETAIL says more for
// a failed renderer.
std::string DfBudgetText(DfBudgetEnd end, const DfDocBudget& budget, const std::string& detail = "");

// The record of one print file: PRINTFILE.budget, one line "MS END". It
// goes when the job is done with (the object is destroyed) unless the
// rendering ended over its budget; a server that stops meanwhile leaves it.
class DfBudgetRecord {
public:
    ~DfBudgetRecord();
    // Reads what an earlier run of the job used (nothing when there is no
    // record) and keeps the record open for Note. False when it cannot be
    // written; the job is then rendered without one.
    bool Open(const std::string& printFile);
    long UsedMs() const { return m_usedMs; }
    DfBudgetEnd Ended() const { return m_end; }
    // Writes the time used; an end is synced to the disk at once.
    void Note(long usedMs, DfBudgetEnd end);

private:
    std::string m_path;
    int m_fd = -1;
    long m_usedMs = 0;
    DfBudgetEnd m_end = DfBudgetEnd::None;
};

// Removes the records of jobs that are no longer queued (run after the
// state is loaded).
void DfDocBudgetCleanSpool(pappl_system_t* system, const char* spool);
