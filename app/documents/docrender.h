// Documents (PDF, PNG, JPEG) rendered in a child process within the
// document budget. The server runs its own program again in a hidden
// helper mode (exec, so nothing but system calls runs between fork and
// exec in the threaded server); the helper reads the print file on its
// standard input and sends the pages back over a pipe. The server kills it
// when the job is canceled, when it has taken its time or when its resident
// memory passes the budget; the kernel's limits (CPU time, address space
// outside sanitizer builds) stand behind that, and it dies with the server.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "app/documents/docbudget.h"
#include "app/documents/picture.h"

// argv[1] of the helper mode.
constexpr char kDfRenderCommand[] = "__render-document";
// The helper mode: main() hands over to it when argv[1] is kDfRenderCommand.
int DfRenderChildMain(int argc, char* argv[]);

// The pages wanted: FIRST to LAST (from 1), COPIES times, each on a white
// page of WIDTH x HEIGHT dots.
struct DfRenderRequest {
    unsigned width = 0, height = 0;
    int xdpi = 0, ydpi = 0;
    DfScaling scaling = DfScaling::Auto;
    unsigned first = 1, last = 1, copies = 1;
};

enum class DfRenderStatus {
    Ok,
    Failed,      // the document cannot be read (Error() says why)
    OverBudget,  // time, memory or a dead renderer (End() says which)
    Stopped,     // the stop function said so (a cancel)
};

class DfRenderProcess {
public:
    // STOP is asked every few tens of milliseconds while the renderer works;
    // USEDMS is what earlier runs of the job used of the budget.
    DfRenderProcess(const DfDocBudget& budget, long usedMs, std::function<bool()> stop);
    ~DfRenderProcess();  // kills a renderer still running
    // Called about once a second while the renderer works, with the time used.
    void OnProgress(std::function<void(long)> note) { m_note = std::move(note); }

    // Starts the renderer on the document open as DOCUMENT (of MIME type FORMAT).
    bool Start(int document, const char* format, std::string& error);
    DfRenderStatus Pages(unsigned& pages);
    bool Request(const DfRenderRequest& request);
    // The next page of the request.
    DfRenderStatus NextPage(DfGreyImage& page);
    // After the last page: waits for the renderer to end.
    DfRenderStatus Finish();

    long UsedMs() const { return m_usedMs; }
    DfBudgetEnd End() const { return m_end; }
    const std::string& Error() const { return m_error; }

private:
    DfRenderStatus Read(void* data, size_t len);
    DfRenderStatus Message(char& tag);
    DfRenderStatus Died();
    DfRenderStatus Over(DfBudgetEnd end);
    DfRenderStatus Garbled();
    void Kill();

    DfDocBudget m_budget;
    long m_usedMs;
    std::function<bool()> m_stop;
    std::function<void(long)> m_note;
    pid_t m_pid = -1;
    int m_from = -1, m_to = -1;  // the renderer's output, its requests
    DfBudgetEnd m_end = DfBudgetEnd::None;
    std::string m_error;
    bool m_finishing = false;  // the renderer may end now
};
