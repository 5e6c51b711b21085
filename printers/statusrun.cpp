// The status check loop: clear stale input, one query at a time, each reply
// waited for within a bound.
#include "printers/statusrun.h"

#include <chrono>
#include <vector>

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

DfStatusResult DfRunStatusCheck(int model, DfStatusTransport& t, const DfStatusOptions& o,
                                DfPrinterStatus* status) {
    const std::vector<DfStatusStep> steps = DfStatusSteps(model);
    if (steps.empty()) return DfStatusResult::Unknown;
    *status = DfPrinterStatus();
    uint8_t buf[256];
    for (size_t i = 0; i < steps.size(); i++) {
        const DfStatusStep& step = steps[i];
        const unsigned bit = i < 32 ? 1u << i : 0;
        if (step.identity && !o.identity) continue;
        if (step.optional && o.skip && (*o.skip & bit)) continue;
        // Whatever came unasked belongs to no query: an earlier answer
        // that came late must not be taken for this one.
        for (int k = 0; k < 64; k++) {
            const long n = t.Read(buf, sizeof(buf), 0);
            if (n < 0) return DfStatusResult::Failed;
            if (n == 0) break;
        }
        if (!t.Write(step.query.data(), step.query.size())) return DfStatusResult::Failed;
        std::vector<uint8_t> reply;
        DfReply r = DfReply::Incomplete;
        const long long deadline = NowMs() + o.waitMs;
        while (r == DfReply::Incomplete) {
            // The first byte gets the full wait, later ones the quiet gap.
            const long long left = reply.empty() ? deadline - NowMs() : o.quietMs;
            if (left <= 0) break;
            const long n = t.Read(buf, sizeof(buf), static_cast<int>(left));
            if (n < 0) return DfStatusResult::Failed;
            if (n == 0) break;
            reply.insert(reply.end(), buf, buf + n);
            if (reply.size() > 4096) break;
            r = step.parse(reply.data(), reply.size(), false, status);
        }
        if (r == DfReply::Incomplete) r = step.parse(reply.data(), reply.size(), true, status);
        if (r == DfReply::Done) continue;
        if (!step.optional) return DfStatusResult::Unknown;
        if (o.skip) *o.skip |= bit;
    }
    return DfStatusResult::Answered;
}
