// CBaseRender: the abstract renderer the driver feeds pages to. It owns the
// page image and the job's settings and defines the hooks each printer
// family overrides. Its one owner is the front end's job (a
// std::unique_ptr from DfCreateRender).
#pragma once

#include <cups/raster.h>

#include <string>

#include "base/mybuffer.h"
#include "base/sink.h"
#include "image/ximage.h"
#include "render/settings.h"
#include "render/settingsource.h"

class CBaseRender {
public:
    CBaseRender();
    virtual ~CBaseRender();
    CBaseRender(const CBaseRender&) = delete;
    CBaseRender& operator=(const CBaseRender&) = delete;

    virtual void OnStartDoc(unsigned long flags);
    virtual void OnEndDoc();
    virtual void OnInit() {}
    virtual void OnDestroy() {}
    virtual void OnStartPage() {}
    virtual void OnEndPage() {}
    virtual void OnBeginBmp();
    virtual void OnEndBmp() {}
    virtual void OnPaintBmp() {}
    virtual void WriteSpool(const void* data, int len);
    virtual void AddLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual void GetPrinterParameters();

    std::string GetMarkedOption(const char* keyword);

    // Page preparation (render/adjustimage.cpp).
    void AdjustImage();
    void CropWhiteEdge(int top, int bottom, int left, int right);
    void Negative();
    void AdjustEffWidthBits();
    int mm_2_dots(int mm);

    // Label pages smaller than their PageSize (render/pagefit.cpp): an image
    // arrives as large as the picture, so on gap or mark media it is centred
    // on a white page of the label's size before preparation.
    bool PadToPageSize();
    // A prepared page wider than the print head keeps its left part.
    bool CutToHead();

    // Where WriteSpool sends the printer bytes (standard output unless set);
    // the renderer does not own it.
    void SetSink(DfSink* sink) { m_sink = sink ? sink : DfStdoutSink(); }
    // Where GetPrinterParameters reads the job's settings; not owned. Without
    // one no page is prepared, so none is printed.
    void SetSettings(DfSettingsSource* settings) { m_settings = settings; }
    DfSettingsSource* Settings() const { return m_settings; }

    // True once a write to the printer has failed; the error has then
    // been reported and later writes are dropped.
    bool SpoolFailed() const { return m_bSpoolFailed; }

    // Why the current page could not be prepared as a 1-bit bitmap, or empty.
    // The driver reports it and does not paint such a page.
    const std::string& PageError() const { return m_pageError; }
    // What the user should know about a page that was printed all the same
    // (cut to the head, for example), or empty. Reported as a warning.
    const std::string& PageWarning() const { return m_pageWarning; }
    // What preparation did to the page beyond the settings (padding), or
    // empty. Reported as a debug line.
    const std::string& PageNote() const { return m_pageNote; }

    CxImage m_image;
    int m_iDpi;
    tagREGSTRUCT m_reg;
    tagREGSTRUCTWITHALFTONE m_halftone;
    cups_page_header2_t* m_header;
    bool m_bInited;

protected:
    // Records why the current page was not (fully) printed; the first reason
    // stands. The driver reports it on standard error.
    void SetPageError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The same for a page warning and a page note; the first of each stands.
    void SetPageWarning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SetPageNote(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes a composed command buffer to the spool and clears it. A buffer
    // that lost bytes while it was composed is not sent: the page gets an
    // error instead, as a printer must never get half a command.
    void SpoolCommands(CMyBuffer& commands);

    bool m_bSpoolFailed;
    DfSink* m_sink;
    DfSettingsSource* m_settings;
    std::string m_pageError;
    std::string m_pageWarning;
    std::string m_pageNote;

    // Set by the label families (TSPL, CPCL) whose label size comes from the
    // page: only they pad a small page to its PageSize.
    bool m_bPadsToPageSize;
};
