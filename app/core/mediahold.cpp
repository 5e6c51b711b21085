// Jobs held for their medium: the request and response hooks and a timer
// that releases a job once its medium is loaded.
#include "app/core/mediahold.h"

#include <unistd.h>

#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "app/core/driverattrs.h"
#include "app/core/loadedmedium.h"

namespace {

struct Held {
    int width, length;      // the job's medium, hundredths of a millimetre
    bool streamed = false;  // a raster job waiting in its print thread (not pending-held)
};

std::mutex gMutex;
std::map<std::pair<int, int>, Held> gHeld;  // (printer id, job id)
std::set<std::pair<int, int>> gReleased;    // held when they came, released since
std::once_flag gTimer;
thread_local bool tHolding = false;
thread_local Held tMedium;

// The medium a Print-Job or Create-Job asks for: media-col's size, else the
// media keyword, else the printer's default.
bool AskedMedium(ipp_t* request, pappl_printer_t* printer, Held& out) {
    if (ipp_attribute_t* col = ippFindAttribute(request, "media-col", IPP_TAG_BEGIN_COLLECTION)) {
        ipp_t* c = ippGetCollection(col, 0);
        ipp_attribute_t* size = c ? ippFindAttribute(c, "media-size", IPP_TAG_BEGIN_COLLECTION) : nullptr;
        ipp_t* s = size ? ippGetCollection(size, 0) : nullptr;
        ipp_attribute_t* x = s ? ippFindAttribute(s, "x-dimension", IPP_TAG_INTEGER) : nullptr;
        ipp_attribute_t* y = s ? ippFindAttribute(s, "y-dimension", IPP_TAG_INTEGER) : nullptr;
        if (x && y) {
            out = {ippGetInteger(x, 0), ippGetInteger(y, 0)};
            return true;
        }
    }
    if (ipp_attribute_t* media = ippFindAttribute(request, "media", IPP_TAG_ZERO)) {
        if (pwg_media_t* pwg = pwgMediaForPWG(ippGetString(media, 0, nullptr))) {
            out = {pwg->width, pwg->length};
            return true;
        }
        return false;
    }
    pappl_pr_driver_data_t data;
    if (!papplPrinterGetDriverData(printer, &data)) return false;
    out = {data.media_default.size_width, data.media_default.size_length};
    return out.width > 0;
}

bool HoldRule(ipp_t* request, pappl_printer_t* printer) {
    std::string rule = "fit";
    if (ipp_attribute_t* a = ippFindAttribute(request, kDfMismatchAttr, IPP_TAG_ZERO)) {
        rule = ippGetString(a, 0, nullptr) ? ippGetString(a, 0, nullptr) : "";
    } else if (ipp_t* attrs = DfAppCopyDriverAttributes(printer)) {
        const std::string name = std::string(kDfMismatchAttr) + "-default";
        if (ipp_attribute_t* d = ippFindAttribute(attrs, name.c_str(), IPP_TAG_KEYWORD))
            rule = ippGetString(d, 0, nullptr) ? ippGetString(d, 0, nullptr) : "";
        DfAppFreeDriverAttributes(attrs);
    }
    return rule == "hold";
}

bool Loaded(pappl_printer_t* printer, const Held& m) {
    pappl_media_col_t ready, asked{};
    bool roll;
    if (!DfAppLoadedMedium(printer, ready, roll)) return true;
    asked.size_width = m.width;
    asked.size_length = m.length;
    return DfAppIsLoadedMedium(asked, ready, roll);
}

// Every second: held jobs whose medium is loaded go; jobs released,
// cancelled or gone are forgotten; each printer shows media-needed while it
// holds a job for its medium.
bool Tick(pappl_system_t* system, void*) {
    std::map<int, bool> needs;  // printer id: still holds a job
    std::lock_guard<std::mutex> lock(gMutex);
    for (auto it = gHeld.begin(); it != gHeld.end();) {
        pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, it->first.first, nullptr);
        pappl_job_t* job = printer ? papplPrinterFindJob(printer, it->first.second) : nullptr;
        if (it->second.streamed) {  // DfAppWaitForMedium forgets it
            if (printer) needs[it->first.first] = true;
            ++it;
            continue;
        }
        bool keep = job && papplJobGetState(job) == IPP_JSTATE_HELD;
        if (keep && Loaded(printer, it->second)) {
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Its medium is loaded: the job is released.");
            papplJobSetMessage(job, "Its medium is loaded.");
            papplJobRelease(job, nullptr);
            keep = false;
        }
        if (printer) needs[it->first.first] |= keep;
        if (!keep) gReleased.insert(it->first);
        it = keep ? std::next(it) : gHeld.erase(it);
    }
    for (const auto& n : needs)
        if (pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, n.first, nullptr))
            papplPrinterSetReasons(printer, n.second ? PAPPL_PREASON_MEDIA_NEEDED : PAPPL_PREASON_NONE,
                                   n.second ? PAPPL_PREASON_NONE : PAPPL_PREASON_MEDIA_NEEDED);
    return true;
}

bool IsHeld(pappl_printer_t* printer, int jobId) {
    std::lock_guard<std::mutex> lock(gMutex);
    return printer && gHeld.count({papplPrinterGetID(printer), jobId});
}

void AddMediaNeeded(ipp_t* response, ipp_attribute_t* reasons) {
    if (!reasons) return;
    const int n = ippGetCount(reasons);
    for (int i = 0; i < n; i++)
        if (!strcmp(ippGetString(reasons, i, nullptr), "media-needed")) return;
    if (n == 1 && !strcmp(ippGetString(reasons, 0, nullptr), "none"))
        ippSetString(response, &reasons, 0, "media-needed");
    else
        ippSetString(response, &reasons, n, "media-needed");
}

}  // namespace

void DfAppMediaHoldRequest(pappl_client_t* client) {
    tHolding = false;
    const ipp_op_t op = papplClientGetOperation(client);
    if (op != IPP_OP_PRINT_JOB && op != IPP_OP_CREATE_JOB) return;
    pappl_printer_t* printer = papplClientGetPrinter(client);
    ipp_t* request = papplClientGetRequest(client);
    if (!printer || !request || ippFindAttribute(request, "job-hold-until", IPP_TAG_ZERO)) return;
    Held m{};
    if (!HoldRule(request, printer) || !AskedMedium(request, printer, m) || Loaded(printer, m)) return;
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, "indefinite");
    tHolding = true;
    tMedium = m;
}

void DfAppMediaHoldResponse(pappl_client_t* client) {
    const ipp_op_t op = papplClientGetOperation(client);
    pappl_printer_t* printer = papplClientGetPrinter(client);
    ipp_t* response = papplClientGetResponse(client);
    if (!printer || !response) return;
    if (tHolding) {
        tHolding = false;
        ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
        pappl_job_t* job = id ? papplPrinterFindJob(printer, ippGetInteger(id, 0)) : nullptr;
        if (!job || papplJobGetState(job) != IPP_JSTATE_HELD) return;  // streamed rasters wait while printing
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Held until %.1f x %.1f mm media are loaded.",
                    tMedium.width / 100.0, tMedium.length / 100.0);
        papplJobSetMessage(job, "Waiting for %.1f x %.1f mm media to be loaded.", tMedium.width / 100.0,
                           tMedium.length / 100.0);
        papplPrinterSetReasons(printer, PAPPL_PREASON_MEDIA_NEEDED, PAPPL_PREASON_NONE);
        std::lock_guard<std::mutex> lock(gMutex);
        gHeld[{papplPrinterGetID(printer), ippGetInteger(id, 0)}] = tMedium;
        pappl_system_t* system = papplClientGetSystem(client);
        std::call_once(gTimer, [system] { papplSystemAddTimerCallback(system, 0, 1, Tick, nullptr); });
        return;
    }
    if (op != IPP_OP_GET_JOB_ATTRIBUTES && op != IPP_OP_GET_JOBS) return;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gHeld.empty()) return;
    }
    // Each job group: its job-id and job-state-reasons, when both were asked for.
    int jobId = 0;
    if (op == IPP_OP_GET_JOB_ATTRIBUTES) {
        ipp_attribute_t* a = ippFindAttribute(papplClientGetRequest(client), "job-id", IPP_TAG_INTEGER);
        jobId = a ? ippGetInteger(a, 0) : 0;
    }
    // PAPPL 1.3.1 leaves job-state-reasons out of a job with none of its own
    // (a held job has none): the one job of Get-Job-Attributes gets it added.
    ipp_attribute_t* reasons = nullptr;
    bool state = false;
    for (ipp_attribute_t* a = ippFirstAttribute(response);; a = ippNextAttribute(response)) {
        if (!a || !ippGetName(a)) {
            if ((reasons || (state && op == IPP_OP_GET_JOB_ATTRIBUTES && !a)) && IsHeld(printer, jobId)) {
                if (reasons)
                    AddMediaNeeded(response, reasons);
                else
                    ippAddString(response, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons", nullptr,
                                 "media-needed");
            }
            if (!a) break;
            reasons = nullptr;
            state = false;
            if (op == IPP_OP_GET_JOBS) jobId = 0;
            continue;
        }
        if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
        if (!strcmp(ippGetName(a), "job-state-reasons")) reasons = a;
        if (!strcmp(ippGetName(a), "job-state")) state = true;
        if (!strcmp(ippGetName(a), "job-id") && op == IPP_OP_GET_JOBS) jobId = ippGetInteger(a, 0);
    }
}

bool DfAppWaitForMedium(pappl_job_t* job, const pappl_pr_options_t& options) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    const Held m{options.media.size_width, options.media.size_length, true};
    if (m.width <= 0 || DfAppJobMismatch(job, options) != DfMismatch::Hold || Loaded(printer, m)) return true;
    const std::pair<int, int> key(papplPrinterGetID(printer), papplJobGetID(job));
    {
        // A job held when it came was released: by its medium, or by a user who wants it fitted.
        std::lock_guard<std::mutex> lock(gMutex);
        auto held = gHeld.find(key);
        if (held != gHeld.end() && !held->second.streamed) {
            gHeld.erase(held);
            gReleased.insert(key);
        }
        if (gReleased.count(key)) return true;
        gHeld[key] = m;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Waiting until %.1f x %.1f mm media are loaded.", m.width / 100.0,
                m.length / 100.0);
    papplJobSetMessage(job, "Waiting for %.1f x %.1f mm media to be loaded.", m.width / 100.0,
                       m.length / 100.0);
    papplPrinterSetReasons(printer, PAPPL_PREASON_MEDIA_NEEDED, PAPPL_PREASON_NONE);
    bool loaded = false;
    while (!papplJobIsCanceled(job) && !papplPrinterIsDeleted(printer) &&
           !papplSystemIsShutdown(papplPrinterGetSystem(printer)) && !(loaded = Loaded(printer, m)))
        usleep(200000);
    std::lock_guard<std::mutex> lock(gMutex);
    gHeld.erase(key);
    bool others = false;
    for (const auto& h : gHeld) others |= h.first.first == key.first;
    if (!others) papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_MEDIA_NEEDED);
    if (loaded) papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Its medium is loaded.");
    return loaded;
}
