// One job's state lives in its PAPPL job data (DfAppJob), so jobs on several
// printers run side by side. A page reaches the renderer only in the end-page
// callback and only when every line of it arrived: a raster that ends early
// is reported and never sent as a page. Printer bytes go straight to the
// device through DfDeviceSink; the page image and its 1-bit copy are the
// only page-sized memory a job holds.
#include "app/core/job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/core/driverattrs.h"
#include "app/devices/bledevice.h"
#include "app/devices/devicelink.h"
#include "app/core/copysink.h"
#include "app/devices/devicewrite.h"
#include "app/core/ippsettings.h"
#include "app/documents/labelfit.h"
#include "app/core/loadedmedium.h"
#include "app/core/mediahold.h"
#include "app/documents/mediafit.h"
#include "app/core/models.h"
#include "app/core/resolution.h"
#include "app/core/status.h"
#include "app/core/vendor.h"
#include "base/sink.h"
#include "printers/factory.h"
#include "printers/family.h"
#include "render/optionrules.h"
#include "render/pageintake.h"

namespace {

// Why a write to the job's device failed, from the device ("" if it does
// not tell).
std::string DeviceReason(pappl_job_t* job, pappl_device_t* device) {
    std::string why = DfBleDeviceReason(job, device);
    if (why.empty()) why = DfAppWriteFailure();
    while (!why.empty() && why.back() == '.') why.pop_back();
    return why;
}

// Writes len bytes of the job to its device. A device write that waits for
// the printer sees the job's cancel. After a failure the bytes PAPPL still
// buffers are dropped (the device refuses them for this job), so they
// never go out in front of the next job's.
bool WriteJobBytes(pappl_job_t* job, pappl_device_t* device, const void* data, size_t len) {
    DfAppWritingJob writing(job);
    if (papplDeviceWrite(device, data, len) >= 0) return true;
    papplDeviceFlush(device);
    return false;
}

// The job's last bytes leave within the job: PAPPL's own flush after it
// would see neither its cancel nor which job they are.
bool FlushJobBytes(pappl_job_t* job, pappl_device_t* device) {
    if (DfAppFlushJob(job, device)) return true;
    if (!papplJobIsCanceled(job)) {
        const std::string why = DeviceReason(job, device);
        papplJobSetMessage(job, "Unable to send print data to the printer%s%s.", why.empty() ? "" : ": ",
                           why.c_str());
    }
    return false;
}

// Printer bytes to the job's device.
class DfDeviceSink : public DfSink {
public:
    DfDeviceSink(pappl_job_t* job, pappl_device_t* device) : m_job(job), m_device(device) {}
    bool Flush() { return FlushJobBytes(m_job, m_device); }
    bool Write(const void* data, size_t len) override {
        if (!WriteJobBytes(m_job, m_device, data, len)) {
            if (papplJobIsCanceled(m_job)) return false;
            papplLogJob(m_job, PAPPL_LOGLEVEL_ERROR, "Unable to send %lu bytes to the printer.",
                        static_cast<unsigned long>(len));
            const std::string why = DeviceReason(m_job, m_device);
            papplJobSetMessage(m_job, "Unable to send print data to the printer%s%s.",
                               why.empty() ? "" : ": ", why.c_str());
            return false;
        }
        return true;
    }

private:
    pappl_job_t* m_job;
    pappl_device_t* m_device;
};

// The printer bytes of a family whose printers answer back: its talk sink
// plays them over the device's link. When the printer stops answering, the
// job ends with the sink's reason ("printer did not answer connect").
class DfTalkOut : public DfSink {
public:
    DfTalkOut(const DfFamily& family, pappl_job_t* job, pappl_device_t* device)
        : m_job(job), m_link(job, device), m_sink(family.talk(m_link, &m_why)) {}
    bool Write(const void* data, size_t len) override {
        if (m_failed) return false;
        if (m_sink && m_sink->Write(data, len)) return true;
        m_failed = true;
        if (papplJobIsCanceled(m_job)) return false;
        if (m_why.empty()) m_why = m_link.Why();
        if (m_why.empty()) m_why = "the printer stopped answering";
        papplLogJob(m_job, PAPPL_LOGLEVEL_ERROR, "The printer's conversation failed: %s.", m_why.c_str());
        papplJobSetMessage(m_job, "Unable to send print data to the printer: %s.", m_why.c_str());
        return false;
    }
    // The message of a failed conversation, or "".
    std::string Failure() const {
        return m_failed && !m_why.empty() ? "Unable to send print data to the printer: " + m_why + "." : "";
    }

private:
    pappl_job_t* m_job;
    DfAppDeviceLink m_link;
    std::string m_why;  // outlives m_sink, which writes it
    std::unique_ptr<DfSink> m_sink;
    bool m_failed = false;
};

// A device that cannot answer (PAPPL's usb:) gets the one-way stream, as the
// filter writes it.
DfTalkOut* NewTalkOut(const DfAppModel& model, pappl_job_t* job, pappl_device_t* device) {
    if (!model.family || !model.family->talk) return nullptr;
    if (!DfAppLinkPacing(papplPrinterGetDeviceURI(papplJobGetPrinter(job)), 0).reads) return nullptr;
    return new DfTalkOut(*model.family, job, device);
}

struct DfAppJob {
    DfAppJob(const DfAppModel& model, const pappl_pr_options_t& options, int tearOffset, pappl_job_t* job,
             pappl_device_t* device)
        : printerAttrs(DfAppCopyDriverAttributes(papplJobGetPrinter(job))),
          settings(model, options, tearOffset, printerAttrs),
          sink(job, device),
          talk(NewTalkOut(model, job, device)),
          copies(talk ? static_cast<DfSink*>(talk.get()) : &sink, options.copies) {}
    ~DfAppJob() { DfAppFreeDriverAttributes(printerAttrs); }
    ipp_t* printerAttrs;  // a copy, for the vendor defaults
    DfIppSettings settings;
    DfDeviceSink sink;
    std::unique_ptr<DfTalkOut> talk;  // null: the bytes go to sink as they are
    DfCopySink copies;                // the renderer writes here
    std::unique_ptr<CBaseRender> render;
    std::unique_ptr<DfPageIntake> intake;  // the page being received
    cups_page_header2_t header;
    unsigned rasterLines = 0;  // lines PAPPL will deliver for the page
    bool pageOpen = false;
    DfAppFitState fit;        // the loaded medium rules for its pages
    bool fitting = false;     // the page is fitted onto the loaded medium at its end
    DfGreyImage fitSource;    // ... and arrives here
    pappl_media_col_t media;  // the job's medium (the loaded one when fitted)
    unsigned fitLines = 0;
};

DfAppJob* JobData(pappl_job_t* job) {
    return static_cast<DfAppJob*>(papplJobGetData(job));
}

void Fail(pappl_job_t* job, pappl_jreason_t reason, const std::string& text) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
    papplJobSetMessage(job, "%s", text.c_str());
    papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
}

// Ends the job's document and frees its state. PAPPL 1.3 does not call the
// end-of-job callback for a job a page callback has failed, so every failing
// path ends the job itself.
bool EndJobData(pappl_job_t* job, bool whole = false) {
    // The state DfAppStartJob left with PAPPL comes back here, once.
    std::unique_ptr<DfAppJob> j(JobData(job));
    if (!j) return false;
    // Further copies only of a document that printed whole.
    bool copied = true;
    if (whole && !j->render->SpoolFailed() && !papplJobIsCanceled(job)) {
        std::string why;
        copied = j->copies.SendCopies(why);
        if (!why.empty()) Fail(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, why);
    }
    if (!j->render->SpoolFailed()) j->render->OnEndDoc();
    const bool ok = !j->render->SpoolFailed() && copied && j->sink.Flush();
    j->render->SetSettings(nullptr);
    papplJobSetData(job, nullptr);
    return ok;
}

bool Abort(pappl_job_t* job, pappl_jreason_t reason, const std::string& text) {
    Fail(job, reason, text);
    EndJobData(job);
    return false;
}

// PAPPL 1.3 takes any value of print-darkness, print-speed and the vendor
// attributes; a job with one the printer does not offer is refused here.
std::string UnsupportedOption(const DfAppModel& model, const pappl_pr_driver_data_t& data,
                              const pappl_pr_options_t& options) {
    if (model.darknessLevels && (options.print_darkness < -100 || options.print_darkness > 100))
        return DfNotAccepted("print-darkness", std::to_string(options.print_darkness),
                             DfNumberRange(-100, 100));
    if (options.print_speed < 0 || options.print_speed > data.speed_supported[1])
        return DfNotAccepted("print-speed", std::to_string(options.print_speed),
                             DfNumberRange(0, data.speed_supported[1]));
    const DfVendorAttr* attrs[32];
    const size_t n = DfVendorAttrs(model.modelNumber, attrs, 32);
    for (int i = 0; i < options.num_vendor; i++) {
        const cups_option_t& o = options.vendor[i];
        if (DfAppMismatchOption(o.name, o.value)) continue;
        const DfVendorAttr* attr = nullptr;
        for (size_t k = 0; k < n && !attr; k++)
            if (!strcmp(attrs[k]->name, o.name)) attr = attrs[k];
        std::string choice;
        if (!attr) return std::string(o.name) + "=" + o.value + " is not an option of this printer";
        if (!DfVendorAccept(*attr, o.value, choice)) return DfVendorRefusal(*attr, o.value);
    }
    return std::string();
}

// The fitted page's end: the whole page, fitted, goes into the intake as if
// it had arrived so.
bool FitPage(pappl_job_t* job, DfAppJob* j, int number) {
    j->fitting = false;
    DfGreyImage source(std::move(j->fitSource));
    j->fitSource = DfGreyImage();
    if (j->fitLines < j->rasterLines) {
        return Abort(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                     "Page " + std::to_string(number) + " ended early: " + std::to_string(j->fitLines) +
                         " of " + std::to_string(j->rasterLines) + " lines arrived; it was not printed.");
    }
    const pappl_media_col_t& media = j->media;
    const int xdpi = DfHeaderInt(j->header.HWResolution[0]), ydpi = DfHeaderInt(j->header.HWResolution[1]);
    const DfLabelFit plan =
        DfPlanLabelFit(source.width, source.height, DfAppLengthToDots(media.size_width, xdpi),
                       DfAppLengthToDots(media.size_length, ydpi), j->fit.roll, DfFewGreyLevels(source));
    DfGreyImage fitted;
    if (!DfApplyLabelFit(source, plan, fitted))
        return Abort(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                     "Page " + std::to_string(number) + " cannot be fitted onto the loaded medium.");
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Page %d (%ux%u dots) fitted onto the loaded %s: %ux%u dots%s.",
                number, plan.turn ? source.height : source.width, plan.turn ? source.width : source.height,
                media.size_name, plan.place.width, plan.place.height, plan.turn ? ", turned a quarter" : "");
    source = DfGreyImage();
    DfAppGreyHeader(j->header, fitted.width, fitted.height);
    j->rasterLines = fitted.height;
    j->intake = std::make_unique<DfPageIntake>();
    if (!j->intake->Begin(j->header, &j->render->m_image)) {
        j->intake.reset();
        return Abort(job, PAPPL_JREASON_ABORTED_BY_SYSTEM,
                     "There is no memory for page " + std::to_string(number) + ".");
    }
    for (unsigned y = 0; y < fitted.height; y++)
        j->intake->AddLine(&fitted.pixels[static_cast<size_t>(y) * fitted.width]);
    return true;
}

}  // namespace

bool DfAppStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    pappl_pr_driver_data_t data;
    if (!papplPrinterGetDriverData(papplJobGetPrinter(job), &data) || !data.extension) return false;
    const DfAppModel& model = *static_cast<const DfAppModel*>(data.extension);
    const std::string bad = UnsupportedOption(model, data, *options);
    if (!bad.empty()) {
        Fail(job, PAPPL_JREASON_ERRORS_DETECTED, "Unsupported value: " + bad + ".");
        return false;
    }
    if (!DfAppWaitForPrinter(job, device)) return false;

    if (!DfAppWaitForMedium(job, *options)) return false;
    const DfAppFitState fit = DfAppFitRasterJob(job, options);
    auto j = std::make_unique<DfAppJob>(model, *options, data.tear_offset_configured, job, device);
    j->fit = fit;
    j->media = options->media;
    j->settings.SetLabelMode(data.mode_configured);
    j->render = DfCreateRender(model.modelNumber);
    if (!j->render) {
        Fail(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unknow ModelNumber.");
        return false;
    }
    CBaseRender* render = j->render.get();
    render->SetSettings(&j->settings);
    render->SetSink(&j->copies);
    render->GetPrinterParameters();
    // From here PAPPL holds the job's state as its job data (a void*); only
    // EndJobData takes it back, and frees it.
    DfAppJob* held = j.release();
    papplJobSetData(job, held);
    render->OnStartDoc(0);
    if (render->SpoolFailed()) {
        const std::string why = held->talk ? held->talk->Failure() : "";
        return Abort(job, PAPPL_JREASON_ABORTED_BY_SYSTEM,
                     why.empty() ? "The printer connection failed." : why);
    }
    held->copies.StartPages();
    return true;
}

bool DfAppStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
    DfAppJob* j = JobData(job);
    if (!j) return false;
    j->header = options->header;
    j->rasterLines = options->header.cupsHeight;
    j->pageOpen = false;

    // On gap and mark media every page is a whole label: a shorter picture
    // is padded with white to the selected media's length.
    const pappl_media_tracking_t tracking = options->media.tracking;
    if (tracking == PAPPL_MEDIA_TRACKING_GAP || tracking == PAPPL_MEDIA_TRACKING_MARK) {
        const unsigned lines =
            DfAppLengthToDots(options->media.size_length, DfHeaderInt(j->header.HWResolution[1]));
        if (lines > j->header.cupsHeight) {
            j->header.cupsHeight = lines;
            j->header.PageSize[1] = static_cast<unsigned>((options->media.size_length * 72 + 1270) / 2540);
        }
    }
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Page %u: %ux%u dots, %u bits, %u bytes per line, %u lines sent.",
                page, j->header.cupsWidth, j->header.cupsHeight, j->header.cupsBitsPerPixel,
                j->header.cupsBytesPerLine, j->header.cupsHeight);

    std::string why;
    if (!DfAppResolutionSupported(papplJobGetPrinter(job), options->header, why))
        return Abort(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                     "Page " + std::to_string(page) + " is not printed: " + why + ".");
    if (j->header.cupsBitsPerPixel != 8 || j->header.cupsBitsPerColor != 8) {
        return Abort(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                     "Page " + std::to_string(page) + " is not 8-bit grey.");
    }
    // (lines shorter than the page's width are refused below, as today)
    if (j->header.cupsBytesPerLine >= j->header.cupsWidth &&
        DfAppFitsPage(j->fit, options->header, j->media)) {
        // Kept whole, then fitted onto the loaded medium at the page's end.
        if (static_cast<unsigned long long>(j->header.cupsWidth) * j->rasterLines > kDfPictureMaxPixels)
            return Abort(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                         "Page " + std::to_string(page) + " is too large to be fitted onto the label.");
        j->fitSource.width = j->header.cupsWidth;
        j->fitSource.height = j->rasterLines;
        j->fitSource.pixels.assign(static_cast<size_t>(j->fitSource.width) * j->fitSource.height, 255);
        j->fitLines = 0;
        j->fitting = j->pageOpen = true;
        return true;
    }
    const std::string tooLarge = DfPageTooLarge(
        j->header.cupsWidth, options->header.cupsHeight, DfHeaderInt(j->header.HWResolution[0]),
        DfHeaderInt(j->header.HWResolution[1]), options->media.size_width, options->media.size_length,
        tracking == PAPPL_MEDIA_TRACKING_GAP || tracking == PAPPL_MEDIA_TRACKING_MARK);
    if (!tooLarge.empty()) {
        return Abort(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                     "Page " + std::to_string(page) + " was not printed: " + tooLarge + ".");
    }
    if (const char* why = DfPageIntake::Rejection(j->header)) {
        return Abort(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                     "Page " + std::to_string(page) + " skipped: " + why + ".");
    }
    // The lines go straight into the renderer's page image: a page is held
    // once at 8 bits and once at 1 bit, never twice at 8.
    j->intake = std::make_unique<DfPageIntake>();
    if (!j->intake->Begin(j->header, &j->render->m_image)) {
        j->intake.reset();
        return Abort(job, PAPPL_JREASON_ABORTED_BY_SYSTEM,
                     "There is no memory for page " + std::to_string(page) + ".");
    }
    j->pageOpen = true;
    return true;
}

bool DfAppWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                    const unsigned char* line) {
    DfAppJob* j = JobData(job);
    if (!j || !j->pageOpen) return false;
    if (j->fitting) {
        if (y != j->fitLines || y >= j->rasterLines) return true;
        memcpy(&j->fitSource.pixels[static_cast<size_t>(y) * j->fitSource.width], line, j->fitSource.width);
        j->fitLines++;
        return true;
    }
    if (y != j->intake->Lines() || y >= j->rasterLines) return true;  // out of order or beyond the page
    j->intake->AddLine(line);
    return true;
}

bool DfAppEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned page) {
    DfAppJob* j = JobData(job);
    if (!j || !j->pageOpen) return false;
    j->pageOpen = false;
    const int number = static_cast<int>(page);  // PAPPL counts pages from 1
    if (j->fitting && !FitPage(job, j, number)) return false;
    std::unique_ptr<DfPageIntake> intake(std::move(j->intake));
    if (intake->Lines() < j->rasterLines) {
        return Abort(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                     "Page " + std::to_string(number) + " ended early: " + std::to_string(intake->Lines()) +
                         " of " + std::to_string(j->rasterLines) + " lines arrived; it was not printed.");
    }
    intake->FillRest();
    if (papplJobIsCanceled(job)) return true;
    const DfReportFn report = [job](DfReport level, const std::string& text) {
        if (level == DfReport::Error)
            Fail(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, text);
        else
            papplLogJob(job,
                        level == DfReport::Warning ? PAPPL_LOGLEVEL_WARN
                        : level == DfReport::Info  ? PAPPL_LOGLEVEL_INFO
                                                   : PAPPL_LOGLEVEL_DEBUG,
                        "%s", text.c_str());
    };
    const bool whole = intake->InImage()
                           ? DfRenderImagePage(j->render.get(), &j->header, number, report)
                           : DfRenderPage(j->render.get(), &j->header, intake->Page(), number, report);
    j->render->OnEndPage();
    intake.reset();  // the image holds the page now
    if (j->render->SpoolFailed() || !whole) {
        EndJobData(job);
        return false;
    }
    return true;
}

bool DfAppEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    return EndJobData(job, true);
}

bool DfAppPrintRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    // The printer's own language too is played through a talking family's
    // conversation: its printers take no plain stream.
    pappl_pr_driver_data_t data;
    std::unique_ptr<DfTalkOut> talk;
    if (papplPrinterGetDriverData(papplJobGetPrinter(job), &data) && data.extension)
        talk.reset(NewTalkOut(*static_cast<const DfAppModel*>(data.extension), job, device));
    const char* file = papplJobGetFilename(job);  // null once the job was cancelled
    // Never through a link: the file is the job's own, in the spool.
    const int fd = file ? open(file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    if (fd < 0) {
        Fail(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to open the print file.");
        return false;
    }
    papplJobSetImpressions(job, 1);
    char buffer[65536];
    ssize_t n;
    bool ok = true;
    while (ok && (n = read(fd, buffer, sizeof(buffer))) > 0) {
        if (talk) {
            if (!talk->Write(buffer, static_cast<size_t>(n))) {
                if (!papplJobIsCanceled(job))
                    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
                ok = false;
            }
        } else if (!WriteJobBytes(job, device, buffer, static_cast<size_t>(n))) {
            const std::string why = DeviceReason(job, device);
            if (!papplJobIsCanceled(job))
                Fail(job, PAPPL_JREASON_ABORTED_BY_SYSTEM,
                     "Unable to send print data to the printer" + (why.empty() ? "" : ": " + why) + ".");
            ok = false;
        }
    }
    close(fd);
    if (ok) ok = FlushJobBytes(job, device);
    return ok;  // PAPPL counts the impression of a raw job that succeeded
}
