// Fuzz target: the printer application's intake of a job, without the
// server: its IPP options (media tracking, label mode, darkness, speed,
// colour mode and any vendor attribute with any value) read through the
// app's settings source, and a page of PAPPL-style 8-bit grey lines of any
// size, complete or cut short, padded to the media length on label media,
// through the page intake, preparation and the driver's renderer into a
// memory sink. Whatever reaches the sink must decode as the family's stream.
//
// Input: byte 0 picks the driver, bytes 1-9 the standard options and the
// page (see below), then a line of vendor options "name=value ...", then
// the page's lines.
#include <pappl/pappl.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/core/ippsettings.h"
#include "app/core/job.h"
#include "app/core/models.h"
#include "app/documents/mediafit.h"
#include "base/sink.h"
#include "printers/factory.h"
#include "render/pageintake.h"
#include "tests/fuzz/fuzz_common.h"
#include "tools/preview/preview.h"

namespace {

const pappl_media_tracking_t kTracking[] = {PAPPL_MEDIA_TRACKING_CONTINUOUS, PAPPL_MEDIA_TRACKING_GAP,
                                            PAPPL_MEDIA_TRACKING_MARK, PAPPL_MEDIA_TRACKING_WEB};
const pappl_label_mode_t kModes[] = {PAPPL_LABEL_MODE_TEAR_OFF, PAPPL_LABEL_MODE_PEEL_OFF,
                                     PAPPL_LABEL_MODE_CUTTER, PAPPL_LABEL_MODE_CUTTER_DELAYED};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10 || size > (512u << 10)) return 0;
    size_t count = 0;
    const DfAppModel* models = DfAppModels(&count);
    const DfAppModel& model = models[data[0] % count];

    pappl_pr_options_t options;
    memset(&options, 0, sizeof(options));
    options.media.tracking = kTracking[data[1] & 3];
    options.print_darkness = static_cast<int8_t>(data[2]);
    options.darkness_configured = data[3] % 101;
    options.print_speed = data[4] * 1270;
    options.print_color_mode = (data[5] & 1) ? PAPPL_COLOR_MODE_BI_LEVEL : PAPPL_COLOR_MODE_MONOCHROME;
    options.print_content_optimize = (data[5] & 2) ? PAPPL_CONTENT_TEXT : PAPPL_CONTENT_PHOTO;
    // A page of at most 512 x 640 dots keeps the run fast; the media may be
    // longer than the picture, as a label is.
    const unsigned width = 1 + ((data[6] | (data[7] & 1) << 8));
    const unsigned height = 1 + data[8] + ((data[7] >> 1) & 1) * 256 + ((data[7] >> 2) & 1) * 128;
    options.media.size_length = data[9] * 100;  // up to 255 mm

    const char* text = reinterpret_cast<const char*>(data + 10);
    const size_t rest = size - 10;
    const char* nl = static_cast<const char*>(memchr(text, '\n', rest));
    const std::string vendorText(text, nl ? static_cast<size_t>(nl - text) : rest);
    const uint8_t* lines = nl ? reinterpret_cast<const uint8_t*>(nl + 1) : data + size;
    const size_t linesSize = static_cast<size_t>(data + size - lines);
    cups_option_t* vendor = nullptr;
    options.num_vendor = cupsParseOptions(vendorText.c_str(), 0, &vendor);
    options.vendor = vendor;

    DfIppSettings settings(model, options, (data[1] >> 2) * 100, nullptr);
    settings.SetLabelMode(kModes[(data[1] >> 6) & 3]);
    FuzzMemorySink sink;
    const std::unique_ptr<CBaseRender> render = DfCreateRender(model.modelNumber);
    FUZZ_CHECK(render != nullptr);
    render->SetSettings(&settings);
    render->SetSink(&sink);
    render->GetPrinterParameters();
    render->OnStartDoc(0);

    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.HWResolution[0] = h.HWResolution[1] = static_cast<unsigned>(model.dpi);
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = width;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.PageSize[0] = width * 72 / static_cast<unsigned>(model.dpi);
    h.PageSize[1] = height * 72 / static_cast<unsigned>(model.dpi);
    // As the app does on label media: the page grows to the media's length.
    const unsigned rasterLines = h.cupsHeight;
    if (options.media.tracking == PAPPL_MEDIA_TRACKING_GAP ||
        options.media.tracking == PAPPL_MEDIA_TRACKING_MARK) {
        const unsigned media = DfAppLengthToDots(options.media.size_length, model.dpi);
        if (media > h.cupsHeight) {
            h.cupsHeight = media;
            h.PageSize[1] = static_cast<unsigned>((options.media.size_length * 72 + 1270) / 2540);
        }
    }
    FUZZ_CHECK(!DfPageIntake::Rejection(h));

    std::unique_ptr<DfPageIntake> intake(new DfPageIntake());
    FUZZ_CHECK(intake->Begin(h, &render->m_image));
    for (size_t at = 0; at + width <= linesSize && intake->Lines() < rasterLines; at += width)
        intake->AddLine(lines + at);
    intake->FillRest();
    const DfReportFn report = [](DfReport, const std::string&) {};
    const bool whole = intake->InImage() ? DfRenderImagePage(render.get(), &h, 1, report)
                                         : DfRenderPage(render.get(), &h, intake->Page(), 1, report);
    render->OnEndPage();
    intake.reset();
    render->OnEndDoc();
    render->SetSettings(nullptr);
    cupsFreeOptions(options.num_vendor, vendor);

    if (whole && !sink.bytes.empty()) {
        PreviewResult res;
        const bool ok = DecodePrinterStream(sink.bytes.data(), sink.bytes.size(),
                                            static_cast<PreviewFamily>(model.modelNumber), &res);
        if (!ok) fprintf(stderr, "preview: offset %zu: %s\n", res.errorOffset, res.error.c_str());
        FUZZ_CHECK(ok);
    }
    return 0;
}
