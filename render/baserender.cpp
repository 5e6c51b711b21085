// CBaseRender: default hooks, spool output and the debug log of a renderer.
#include "render/baserender.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "base/log.h"

CBaseRender::CBaseRender()
    : m_image(0), m_iDpi(0), m_ppd(nullptr), m_header(nullptr), m_bInited(false), m_bSpoolFailed(false) {}

CBaseRender::~CBaseRender() { ResetSendBufferList(); }

void CBaseRender::OnStartDoc(unsigned long) { ResetSendBufferList(); }

void CBaseRender::OnEndDoc() { OnDestroy(); }

void CBaseRender::ResetSendBufferList() {
    for (CMyBuffer* b : m_sendBufferList) delete b;
    m_sendBufferList.clear();
}

void CBaseRender::OnBeginBmp() {
    m_pageError.clear();
    if (!m_ppd || !m_header) {
        AddLog("ppd == NULL || header == NULL");
        return;
    }
    if (!m_bInited) {
        OnInit();
        m_bInited = true;
    }
    AdjustImage();
    // Only memory exhaustion gets here: a page that is not 1-bit would be
    // sent as garbage, so it is refused instead.
    if (m_image.IsValid() && m_image.GetBpp() != 1) {
        const char* why = m_image.GetLastError();
        m_pageError = why && *why ? why : "the page could not be reduced to one bit per dot";
    }
}

// Delivers every byte: a partial write, or one interrupted by SIGTERM (the
// handler is installed without SA_RESTART), continues where it stopped. A
// real error is reported once; the rest of the job's output is then dropped
// rather than sent with a hole in it.
void CBaseRender::WriteSpool(const void* data, int len) {
    if (len <= 0 || !data) return;
    if (m_bSpoolFailed) return;
    const char* p = static_cast<const char*>(data);
    size_t left = static_cast<size_t>(len);
    while (left > 0) {
        ssize_t n = write(1, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A non-blocking descriptor: wait until it takes data again.
                struct pollfd out = {1, POLLOUT, 0};
                poll(&out, 1, -1);
                continue;
            }
            fprintf(stderr, "ERROR: Unable to write print data: %s\n", strerror(errno));
            m_bSpoolFailed = true;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    fflush(stdout);
}

void CBaseRender::SetPageError(const char* format, ...) {
    if (!m_pageError.empty()) return;
    char text[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    m_pageError = text;
}

void CBaseRender::AddLog(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    DfVLog(LOG_DEBUG, format, ap);
    va_end(ap);
}
