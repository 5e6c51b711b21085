// The filter's status checks over the back channel.
#include "filter/printerstatus.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "printers/statusrun.h"

namespace {

// Queries go into the job's output, answers come on the back channel.
class BackChannelLink : public DfStatusTransport {
public:
    BackChannelLink(DfSink* out, int back) : m_out(out), m_back(back) {}
    bool Write(const uint8_t* data, size_t len) override { return m_out->Write(data, len); }
    long Read(uint8_t* buffer, size_t size, int timeoutMs) override {
        pollfd p = {m_back, POLLIN, 0};
        int r;
        while ((r = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
        }
        if (r < 0 || (p.revents & POLLNVAL)) return -1;
        if (r == 0) return 0;
        ssize_t n;
        while ((n = read(m_back, buffer, size)) < 0 && errno == EINTR) {
        }
        // A back channel whose writer has gone gives nothing more.
        return n > 0 ? static_cast<long>(n) : (n == 0 ? 0 : -1);
    }

private:
    DfSink* m_out;
    int m_back;
};

}  // namespace

DfFilterStatus::DfFilterStatus(int model, ppd_file_t* ppd, DfSink* out, int backChannel, FILE* report)
    : m_model(model), m_out(out), m_back(backChannel), m_report(report) {
    ppd_choice_t* choice = ppd ? ppdFindMarkedChoice(ppd, "PrinterStatus") : nullptr;
    if (!choice || strcmp(choice->choice, "On")) return;
    if (DfStatusSteps(model).empty() || !out) return;
    if (fcntl(backChannel, F_GETFD) < 0) {
        fprintf(m_report, "DEBUG: PrinterStatus: no back channel, the printer's status is not read.\n");
        return;
    }
    m_enabled = true;
}

void DfFilterStatus::Check() {
    if (!m_enabled) return;
    BackChannelLink link(m_out, m_back);
    DfStatusOptions options;
    // The back end may still be connecting to the printer when the job's
    // first query goes out: that one gets a longer wait.
    options.waitMs = m_first && firstWaitMs > waitMs ? firstWaitMs : waitMs;
    options.identity = !m_identityAsked;
    options.skip = &m_skip;
    DfPrinterStatus status;
    const DfStatusResult r = DfRunStatusCheck(m_model, link, options, &status);
    if (r != DfStatusResult::Answered) {
        fprintf(m_report, "DEBUG: PrinterStatus: %s; the printer's status is unknown and not asked again.\n",
                r == DfStatusResult::Failed    ? "the connection failed"
                : r == DfStatusResult::Garbled ? "the answer was no status reply"
                                               : "no answer");
        m_enabled = false;
        return;
    }
    if (!m_identityAsked && (!status.model.empty() || !status.firmware.empty()))
        fprintf(m_report, "DEBUG: PrinterStatus: model \"%s\", firmware \"%s\".\n", status.model.c_str(),
                status.firmware.c_str());
    m_identityAsked = true;
    // The first answer of a job also clears what an earlier job reported:
    // the scheduler keeps a queue's reasons from job to job.
    size_t n;
    const DfStatusReason* reasons = DfStatusReasons(&n);
    std::string added, removed;
    unsigned now = 0;
    for (size_t i = 0; i < n; i++) {
        const bool on = (status.conditions & reasons[i].condition) != 0;
        const bool was = (m_reported & reasons[i].condition) != 0;
        if (on) now |= reasons[i].condition;
        if (!m_first && on == was) continue;
        std::string& list = on ? added : removed;
        if (!list.empty()) list += ',';
        list += reasons[i].keyword;
    }
    if (!removed.empty()) fprintf(m_report, "STATE: -%s\n", removed.c_str());
    if (!added.empty()) fprintf(m_report, "STATE: +%s\n", added.c_str());
    m_first = false;
    if (status.battery >= 0) fprintf(m_report, "DEBUG: PrinterStatus: battery %d %%.\n", status.battery);
    m_reported = now;
}
