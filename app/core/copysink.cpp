// The page bytes of a raster job kept for its further copies.
#include "app/core/copysink.h"

bool DfCopySink::Write(const void* data, size_t len) {
    if (m_keep) {
        if (m_pages.size() + len > kMaxBytes) {
            m_keep = false;
            m_tooLarge = true;
            std::string().swap(m_pages);
        } else {
            m_pages.append(static_cast<const char*>(data), len);
        }
    }
    return m_out->Write(data, len);
}

bool DfCopySink::SendCopies(std::string& why) {
    m_keep = false;
    if (m_copies < 2) return true;
    if (m_tooLarge) {
        why = "Only one copy was printed: the document is too large to repeat (more than " +
              std::to_string(kMaxBytes >> 20) + " MiB of printer data).";
        return false;
    }
    for (int c = 1; c < m_copies; c++)
        if (!m_out->Write(m_pages.data(), m_pages.size())) return false;
    return true;
}
