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
    const long long end = NowMs() + o.totalMs;
    uint8_t buf[256];
    // The last reply and its step: bytes that come after it within the
    // check must still read as that one reply with them (a printer's
    // unasked messages do), or none of it was a reply.
    const DfStatusStep* last = nullptr;
    std::vector<uint8_t> lastReply;
    const auto trailing = [&](std::vector<uint8_t>& extra) {
        if (!last || extra.empty()) return true;
        lastReply.insert(lastReply.end(), extra.begin(), extra.end());
        DfPrinterStatus probe;
        return last->parse(lastReply.data(), lastReply.size(), true, &probe) == DfReply::Done;
    };
    // Whatever is there already; false when the link failed.
    const auto drain = [&](std::vector<uint8_t>* into) {
        for (int k = 0; k < 64 && NowMs() < end; k++) {
            const long n = t.Read(buf, sizeof(buf), 0);
            if (n < 0) return false;
            if (n == 0) break;
            into->insert(into->end(), buf, buf + n);
        }
        return true;
    };
    for (size_t i = 0; i < steps.size(); i++) {
        const DfStatusStep& step = steps[i];
        const unsigned bit = i < 32 ? 1u << i : 0;
        if (step.identity && !o.identity) continue;
        if (step.optional && o.skip && (*o.skip & bit)) continue;
        // Before the first query, whatever came unasked belongs to no
        // query: an earlier answer that came late must not be taken for
        // this one.
        std::vector<uint8_t> stale;
        if (!drain(&stale)) return DfStatusResult::Failed;
        if (!trailing(stale)) return DfStatusResult::Garbled;
        if (!t.Write(step.query.data(), step.query.size())) return DfStatusResult::Failed;
        std::vector<uint8_t> reply;
        DfReply r = DfReply::Incomplete;
        const long long deadline = NowMs() + o.waitMs;
        while (r == DfReply::Incomplete) {
            // The first byte gets the full wait, later ones the quiet gap;
            // none goes past the check's end.
            long long left = reply.empty() ? deadline - NowMs() : o.quietMs;
            if (left > end - NowMs()) left = end - NowMs();
            if (left <= 0) break;
            const long n = t.Read(buf, sizeof(buf), static_cast<int>(left));
            if (n < 0) return DfStatusResult::Failed;
            if (n == 0) break;
            reply.insert(reply.end(), buf, buf + n);
            if (reply.size() > 4096) break;
            r = step.parse(reply.data(), reply.size(), false, status);
        }
        if (r == DfReply::Incomplete) r = step.parse(reply.data(), reply.size(), true, status);
        if (r == DfReply::Done) {
            last = &step;
            lastReply = reply;
            continue;
        }
        last = nullptr;
        if (!step.optional) return reply.empty() ? DfStatusResult::Unknown : DfStatusResult::Garbled;
        if (o.skip) *o.skip |= bit;
    }
    std::vector<uint8_t> after;
    if (!drain(&after)) return DfStatusResult::Failed;
    return trailing(after) ? DfStatusResult::Answered : DfStatusResult::Garbled;
}
