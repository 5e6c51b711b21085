// Fuzz target: the job's settings from a PPD and an options string alone.
// Input: the options string on the first line, the PPD text after it. The
// PPD is opened from an anonymous memory file, marked with its defaults and
// the options as the filter does, and read through the filter's settings
// source into the renderer its model number selects.
#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "filter/ppdsettings.h"
#include "printers/factory.h"
#include "render/baserender.h"
#include "tests/fuzz/fuzz_common.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (256u << 10)) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    const char* nl = static_cast<const char*>(memchr(text, '\n', size));
    const size_t optLen = nl ? static_cast<size_t>(nl - text) : size;
    const std::string options(text, optLen);
    const size_t ppdAt = nl ? optLen + 1 : size;

    ppd_file_t* ppd = FuzzOpenPpd(text + ppdAt, size - ppdAt);
    if (!ppd) return 0;

    ppdMarkDefaults(ppd);
    cups_option_t* opts = nullptr;
    const int n = cupsParseOptions(options.c_str(), 0, &opts);
    cupsMarkOptions(ppd, n, opts);

    std::unique_ptr<CBaseRender> render = DfCreateRender(ppd->model_number);
    if (!render) render = std::make_unique<CBaseRender>();
    DfPpdSettings settings(ppd);
    render->SetSettings(&settings);
    render->GetPrinterParameters();
    // What every renderer reads at page time must be a plain value.
    const tagREGSTRUCT& r = render->m_reg;
    FUZZ_CHECK(DfChoiceName(r.iMediaType) && DfChoiceName(r.iLabelMode) && DfChoiceName(r.iCutMedia));
    FUZZ_CHECK(r.iMoneyBox == DfMoneyBox::Unset || DfChoiceName(r.iMoneyBox));
    FUZZ_CHECK(r.BeginPrintSound == DfSound::Unset || DfChoiceName(r.BeginPrintSound));
    FUZZ_CHECK(DfChoiceName(render->m_halftone.iGrayMethod));
    render->SetSettings(nullptr);
    render.reset();

    cupsFreeOptions(n, opts);
    ppdClose(ppd);
    return 0;
}
