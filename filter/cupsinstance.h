// CCupsInstance: the filter driver. Run() is the whole job: arguments, raster
// input, PPD and options, renderer selection by model number, the page loop
// and cancellation. StartPage/EndPage hand one page to the renderer.
#pragma once

#include <csignal>
#include <memory>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "base/mybuffer.h"
#include "base/sink.h"
#include "render/baserender.h"

extern int ModelNumber;
extern int Page;
extern volatile sig_atomic_t Canceled;

void CancelJob(int sig);

class CCupsInstance {
public:
    CCupsInstance() {}
    virtual ~CCupsInstance() {}

    int Run(int argc, char** argv);

    void StartPage(ppd_file_t* ppd, cups_page_header2_t* header, CMyBuffer& page);
    void EndPage(ppd_file_t* ppd, cups_page_header2_t* header);

    // The job's renderer (held by the driver until the process exits).
    // AdoptRender lets another front end or a test supply its own renderer.
    static CBaseRender* Render();
    static void AdoptRender(std::unique_ptr<CBaseRender> render);

    // Where the job's printer bytes go: standard output unless a test or an
    // in-process caller sets another sink before Run. Not owned.
    static void SetOutput(DfSink* sink);

    // Why a page with this header cannot be taken in, or nullptr when it can.
    static const char* PageRejection(const cups_page_header2_t& header);
};
