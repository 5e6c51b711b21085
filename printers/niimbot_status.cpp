// The Niimbot family's status check: the printer's model id (it decides how
// the lid byte reads), the heartbeat (lid, paper, battery, tag), the battery
// level and the label roll's RFID tag. Print errors (0xDB) that arrive among
// the replies count as well.
#include <algorithm>

#include "printers/niimbot_packet.h"
#include "printers/niimbot_status.h"
#include "printers/status.h"

namespace {

// Models whose heartbeat reports the lid as 0 = open.
bool LidInverted(int id) {
    static const int kIds[] = {512, 513, 514, 2304, 1792, 3584, 5120, 2560, 3840, 4352, 272, 273, 274};
    return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

const char* ModelName(int id) {
    struct Entry {
        int id;
        const char* name;
    };
    static const Entry kModels[] = {{4096, "B1"},  {4097, "B1 Pro"}, {3584, "B18"},    {768, "B21"},
                                    {769, "B21"},  {777, "B21S"},    {785, "B21 Pro"}, {512, "D11"},
                                    {514, "D11S"}, {2304, "D110"},   {2320, "D110 M"}, {2560, "D101"}};
    for (const Entry& e : kModels)
        if (e.id == id) return e.name;
    return nullptr;
}

// Any print error packets among the reply bytes.
void ApplyErrors(const uint8_t* r, size_t n, DfPrinterStatus* st) {
    DfNiimbotParser parser;
    parser.Feed(r, n);
    DfNiimbotPacket p;
    while (parser.Next(&p))
        if (p.cmd == niim::kPrintError && !p.data.empty())
            st->conditions |= DfNiimbotErrorConditions(p.data[0]);
}

DfReply Find(const uint8_t* r, size_t n, bool final, uint8_t cmd, DfNiimbotPacket* p) {
    if (DfNiimbotFind(r, n, cmd, p)) return DfReply::Done;
    return final ? DfReply::Invalid : DfReply::Incomplete;
}

DfReply Model(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    DfNiimbotPacket p;
    const DfReply d = Find(r, n, final, niim::kPrinterInfo + niim::kInfoModel, &p);
    if (d != DfReply::Done) return d;
    if (p.data.empty()) return DfReply::Invalid;
    st->modelId = p.data.size() == 1 ? p.data[0] << 8 : p.data[0] << 8 | p.data[1];
    const char* name = ModelName(st->modelId);
    st->model = std::string("Niimbot ") + (name ? name : "model " + std::to_string(st->modelId));
    return DfReply::Done;
}

DfReply Heartbeat(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    DfNiimbotPacket p;
    const DfReply d = Find(r, n, final, 0xDD, &p);
    if (d != DfReply::Done) return d;
    DfNiimbotHeartbeat hb;
    if (!DfNiimbotReadHeartbeat(p.data, st->modelId, &hb)) return DfReply::Invalid;
    if (hb.lidOpen) st->conditions |= kDfStCoverOpen;
    if (hb.paperOut) st->conditions |= kDfStMediaEmpty;
    if (hb.battery >= 0) {
        st->battery = hb.battery * 25;
        if (hb.battery == 0) st->conditions |= kDfStBatteryLow;
    }
    ApplyErrors(r, n, st);
    return DfReply::Done;
}

DfReply Battery(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    DfNiimbotPacket p;
    const DfReply d = Find(r, n, final, niim::kPrinterInfo + niim::kInfoBattery, &p);
    if (d != DfReply::Done) return d;
    if (p.data.size() != 1 || p.data[0] > 4) return DfReply::Invalid;
    st->battery = p.data[0] * 25;
    if (p.data[0] == 0) st->conditions |= kDfStBatteryLow;
    return DfReply::Done;
}

DfReply Rfid(const uint8_t* r, size_t n, bool final, DfPrinterStatus* st) {
    DfNiimbotPacket p;
    const DfReply d = Find(r, n, final, 0x1B, &p);
    if (d != DfReply::Done) return d;
    DfNiimbotTag tag;
    if (!DfNiimbotReadTag(p.data, &tag)) return DfReply::Invalid;
    if (tag.present) {
        st->labelType = DfNiimbotLabelTypeText(tag.type);
        st->labelsTotal = tag.total;
        st->labelsUsed = tag.used;
    }
    return DfReply::Done;
}

}  // namespace

unsigned DfNiimbotErrorConditions(uint8_t code) {
    switch (code) {
        case 1:
            return kDfStCoverOpen;
        case 2:
        case 8:
            return kDfStMediaEmpty;
        case 3:
            return kDfStBatteryLow;
        case 7:
            return kDfStOverheat;
        case 9:
            return kDfStBusy;
        case 0x0D:
            return kDfStRibbonEmpty;
        default:
            return kDfStError;
    }
}

bool DfNiimbotReadHeartbeat(const std::vector<uint8_t>& d, int modelId, DfNiimbotHeartbeat* hb) {
    int lid = -1, battery = -1, paper = -1, tag = -1;
    switch (d.size()) {
        case 9:
            lid = 8;
            break;
        case 10:
            lid = 8;
            battery = 9;
            break;
        case 13:
            lid = 9, battery = 10, paper = 11, tag = 12;
            break;
        case 19:
            lid = 15, battery = 16, paper = 17, tag = 18;
            break;
        case 20:
            paper = 18, tag = 19;
            break;
        default:
            return false;
    }
    *hb = DfNiimbotHeartbeat();
    if (lid >= 0) hb->lidOpen = LidInverted(modelId) ? d[lid] == 0 : d[lid] != 0;
    if (battery >= 0 && d[battery] <= 4) hb->battery = d[battery];
    if (paper >= 0) hb->paperOut = d[paper] != 0;
    if (tag >= 0) hb->tagRead = d[tag] != 0;
    return true;
}

bool DfNiimbotReadTag(const std::vector<uint8_t>& d, DfNiimbotTag* tag) {
    *tag = DfNiimbotTag();
    if (d.size() == 1 && d[0] == 0) return true;  // no tag
    size_t at = 8;                                // uuid
    for (std::string* text : {&tag->barcode, &tag->serial}) {
        if (at >= d.size() || at + 1 + d[at] > d.size()) return false;
        text->assign(d.begin() + static_cast<long>(at) + 1, d.begin() + static_cast<long>(at) + 1 + d[at]);
        at += 1 + d[at];
    }
    if (at + 5 > d.size()) return false;
    tag->total = d[at] << 8 | d[at + 1];
    tag->used = d[at + 2] << 8 | d[at + 3];
    tag->type = d[at + 4];
    tag->present = true;
    return true;
}

std::string DfNiimbotLabelTypeText(int type) {
    switch (type) {
        case 1:
            return "gap labels";
        case 2:
            return "black mark labels";
        case 3:
            return "continuous";
        case 4:
            return "perforated";
        case 5:
            return "transparent labels";
        case 6:
            return "PVC tags";
        case 10:
            return "black mark gap labels";
        case 11:
            return "heat-shrink tube";
        default:
            return "label type " + std::to_string(type);
    }
}

std::vector<DfStatusStep> DfNiimbotStatusSteps() {
    // The model step is asked every time: the heartbeat's lid byte needs it.
    return {{"PrinterInfo model", DfNiimbotFrame(niim::kPrinterInfo, {niim::kInfoModel}), true, false, Model},
            {"Heartbeat", DfNiimbotFrame(niim::kHeartbeat, {0x01}), false, false, Heartbeat},
            {"PrinterInfo battery", DfNiimbotFrame(niim::kPrinterInfo, {niim::kInfoBattery}), true, false,
             Battery},
            {"RfidInfo", DfNiimbotFrame(niim::kRfidInfo, {0x01}), true, false, Rfid}};
}
