// Document budget: server options, job-state-message texts and the record
// of a job's use beside its print file (see docbudget.h).
#include "app/documents/docbudget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

DfDocBudget gBudget;
const char kSuffix[] = ".budget";

// A whole number from LOW to HIGH.
bool ParseLimit(const char* text, unsigned low, unsigned high, unsigned& value) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long v = strtoul(text, &end, 10);
    if (errno || *end || *text == '-' || v < low || v > high) return false;
    value = static_cast<unsigned>(v);
    return true;
}

void AddActive(pappl_job_t* job, void* data) {
    const char* f = papplJobGetFilename(job);
    const char* slash = f ? strrchr(f, '/') : nullptr;
    if (f) static_cast<std::set<std::string>*>(data)->insert(std::string(slash ? slash + 1 : f) + kSuffix);
}

void AddPrinter(pappl_printer_t* printer, void* data) {
    papplPrinterIterateActiveJobs(printer, AddActive, data, 1, 0);
}

}  // namespace

bool DfDocBudgetFromOptions(int numOptions, cups_option_t* options, std::string& error) {
    DfDocBudget b;
    const char* time = cupsGetOption("document-time-limit", numOptions, options);
    const char* memory = cupsGetOption("document-memory-limit", numOptions, options);
    if (time && !ParseLimit(time, 1, 86400, b.seconds)) {
        error = "Bad 'document-time-limit' value (seconds, 1 to 86400).";
        return false;
    }
    if (memory && !ParseLimit(memory, 32, 1048576, b.megabytes)) {
        error = "Bad 'document-memory-limit' value (megabytes, 32 to 1048576).";
        return false;
    }
    gBudget = b;
    return true;
}

const DfDocBudget& DfDocBudgetCurrent() {
    return gBudget;
}

std::string DfBudgetText(DfBudgetEnd end, const DfDocBudget& b, const std::string& detail) {
    switch (end) {
        case DfBudgetEnd::Time:
            return "The document was not printed: rendering it takes longer than the " +
                   std::to_string(b.seconds) + " s allowed for a document.";
        case DfBudgetEnd::Memory:
            return "The document was not printed: rendering it needs more than the " +
                   std::to_string(b.megabytes) + " MB of memory allowed for a document.";
        case DfBudgetEnd::Failed:
            return "The document was not printed: its renderer failed" +
                   (detail.empty() ? "" : " (" + detail + ")") + ".";
        case DfBudgetEnd::None:
            break;
    }
    return std::string();
}

DfBudgetRecord::~DfBudgetRecord() {
    if (m_fd < 0) return;
    close(m_fd);
    if (m_end == DfBudgetEnd::None) unlink(m_path.c_str());
}

bool DfBudgetRecord::Open(const std::string& printFile) {
    m_path = printFile + kSuffix;
    // Never through a link: the spool is the server's alone, a link there is planted.
    m_fd = open(m_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_fd < 0) return false;
    char text[64] = {0};
    const ssize_t n = pread(m_fd, text, sizeof(text) - 1, 0);
    long used = 0;
    int end = 0;
    if (n > 0 && sscanf(text, "%ld %d", &used, &end) == 2 && used >= 0 && end >= 0 && end <= 3) {
        m_usedMs = used;
        m_end = static_cast<DfBudgetEnd>(end);
    }
    return true;
}

void DfBudgetRecord::Note(long usedMs, DfBudgetEnd end) {
    m_usedMs = usedMs;
    m_end = end;
    if (m_fd < 0) return;
    // Fixed width: each note overwrites the last whole.
    char text[32];
    const int n = snprintf(text, sizeof(text), "%012ld %d\n", usedMs, static_cast<int>(end));
    if (pwrite(m_fd, text, static_cast<size_t>(n), 0) == n && end != DfBudgetEnd::None) fdatasync(m_fd);
}

void DfDocBudgetCleanSpool(pappl_system_t* system, const char* spool) {
    if (!spool || !*spool) return;
    std::set<std::string> keep;
    papplSystemIteratePrinters(system, AddPrinter, &keep);
    DIR* dir = opendir(spool);
    if (!dir) return;
    const size_t suffix = strlen(kSuffix);
    while (dirent* e = readdir(dir)) {
        const size_t len = strlen(e->d_name);
        if (len <= suffix || strcmp(e->d_name + len - suffix, kSuffix) != 0) continue;
        if (!keep.count(e->d_name)) unlinkat(dirfd(dir), e->d_name, 0);
    }
    closedir(dir);
}
