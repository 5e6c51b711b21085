// CBaseRender: default hooks, spool output and the debug log of a renderer.
#include "render/baserender.h"

#include <cstdarg>
#include <cstdio>

#include "base/log.h"

CBaseRender::CBaseRender()
    : m_image(0),
      m_iDpi(0),
      m_header(nullptr),
      m_bInited(false),
      m_bSpoolFailed(false),
      m_sink(DfStdoutSink()),
      m_settings(nullptr),
      m_bPadsToPageSize(false) {}

CBaseRender::~CBaseRender() {}

void CBaseRender::OnStartDoc(unsigned long) {}

void CBaseRender::OnEndDoc() {
    OnDestroy();
}

void CBaseRender::OnBeginBmp() {
    m_pageError.clear();
    m_pageWarning.clear();
    m_pageNote.clear();
    if (!m_settings || !m_header) {
        AddLog("ppd == NULL || header == NULL");
        // An unprepared page is still 8 bits deep and would reach the printer
        // as garbage.
        m_pageError = "there are no printer settings to prepare it with";
        return;
    }
    if (!m_bInited) {
        OnInit();
        m_bInited = true;
    }
    PadToPageSize();
    AdjustImage();
    CutToHead();
    // Only memory exhaustion gets here: a page that is not 1-bit would be
    // sent as garbage, so it is refused instead.
    if (m_image.IsValid() && m_image.GetBpp() != 1) {
        const char* why = m_image.GetLastError();
        m_pageError = why && *why ? why : "the page could not be reduced to one bit per dot";
    }
}

// The sink delivers every byte or reports its error once; the rest of the
// job's output is then dropped rather than sent with a hole in it.
void CBaseRender::WriteSpool(const void* data, int len) {
    if (len <= 0 || !data) return;
    if (m_bSpoolFailed) return;
    if (!m_sink->Write(data, static_cast<size_t>(len))) m_bSpoolFailed = true;
}

void CBaseRender::SpoolCommands(CMyBuffer& commands) {
    if (commands.Failed())
        SetPageError("out of memory while composing its printer commands");
    else
        WriteSpool(commands.GetBuffer(), commands.GetBufferLength());
    commands.InitBuffer(0);
}

static void SetFirst(std::string& record, const char* format, va_list ap) {
    if (!record.empty()) return;
    char text[512];
    vsnprintf(text, sizeof(text), format, ap);
    record = text;
}

void CBaseRender::SetPageError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    SetFirst(m_pageError, format, ap);
    va_end(ap);
}

void CBaseRender::SetPageWarning(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    SetFirst(m_pageWarning, format, ap);
    va_end(ap);
}

void CBaseRender::SetPageNote(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    SetFirst(m_pageNote, format, ap);
    va_end(ap);
}

void CBaseRender::AddLog(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    DfVLog(LOG_DEBUG, format, ap);
    va_end(ap);
}
