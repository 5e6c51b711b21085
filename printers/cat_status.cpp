// The cat printers' status check: the device state query (A3) and its
// reply's bits: no paper, cover open, overheated, low battery. Flow-control
// frames among the replies are skipped.
#include "printers/cat_packet.h"
#include "printers/status.h"

namespace {

DfReply State(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    DfCatParser parser;
    parser.Feed(r, n);
    DfCatPacket p;
    while (parser.Next(&p)) {
        if (p.cmd != cat::kState || p.dir != 1 || p.data.empty()) continue;
        st->conditions |= DfCatStateConditions(p.data[0]);
        return DfReply::Done;
    }
    return final ? DfReply::Invalid : DfReply::Incomplete;
}

}  // namespace

unsigned DfCatStateConditions(uint8_t bits) {
    unsigned c = 0;
    if (bits & cat::kStNoPaper) c |= kDfStMediaEmpty;
    if (bits & cat::kStCoverOpen) c |= kDfStCoverOpen;
    if (bits & cat::kStOverheat) c |= kDfStOverheat;
    if (bits & cat::kStLowBattery) c |= kDfStBatteryLow;
    return c;
}

std::vector<DfStatusStep> DfCatStatusSteps() {
    return {{"A3 device state", DfCatFrame(cat::kState, {0x00}), false, false, State}};
}
