// CMyBuffer: growable byte buffer with exact-fit growth and a soft size limit.
#include "base/mybuffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

CMyBuffer::CMyBuffer()
    : m_nLength(0), m_pBuffer(nullptr), m_nBufferSize(0), m_nMaxBufferSize(104857600), m_bFailed(false) {
    SetBufferSize(1024);
    InitBuffer(0);
}

CMyBuffer::~CMyBuffer() {
    free(m_pBuffer);
    m_pBuffer = nullptr;
    m_nLength = 0;
    m_nBufferSize = 0;
    m_nMaxBufferSize = 0;
}

bool CMyBuffer::SetBufferSize(int n) {
    if (n <= 0) return true;
    if (m_pBuffer && m_nBufferSize >= n) return true;
    char* p = static_cast<char*>(realloc(m_pBuffer, static_cast<size_t>(n)));
    if (!p) return false;  // keep the old block and its content
    m_pBuffer = p;
    m_nBufferSize = n;
    return true;
}

void CMyBuffer::InitBuffer(int n) {
    if (n > 0 && !SetBufferSize(n)) n = 0;
    if (m_pBuffer) memset(m_pBuffer, 0, static_cast<size_t>(m_nBufferSize));
    m_nLength = n > 0 ? n : 0;
    m_bFailed = false;
}

bool CMyBuffer::AddBuffer(const void* p, int n) {
    if (n <= 0) return true;
    if (!p) return Fail();
    long long need = static_cast<long long>(m_nLength) + n;
    bool dropped = false;
    if (need > m_nBufferSize) {
        if (m_nMaxBufferSize > 0 && need > m_nMaxBufferSize) {
            // Over the limit: the content is dropped and the new block starts
            // afresh. A block larger than the storage still gets room.
            InitBuffer(0);
            need = n;
            dropped = true;
        }
        if (need > 0x7fffffff) return Fail();
        if (need > m_nBufferSize && !SetBufferSize(static_cast<int>(need))) return Fail();
    }
    memcpy(m_pBuffer + m_nLength, p, static_cast<size_t>(n));
    m_nLength += n;
    return dropped ? Fail() : true;
}

bool CMyBuffer::AddBuffer(const CMyBuffer& from) {
    const bool stored = AddBuffer(from.GetBuffer(), from.GetBufferLength());
    return from.Failed() ? Fail() : stored;
}

bool CMyBuffer::Fail() {
    m_bFailed = true;
    return false;
}

bool CMyBuffer::AddByte(unsigned char b) { return AddBuffer(&b, 1); }

bool CMyBuffer::AddStringA(const char* s) {
    return !s || AddBuffer(s, static_cast<int>(strlen(s)));
}

bool CMyBuffer::AddInt(int v) {
    char text[16];
    int n = snprintf(text, sizeof(text), "%d", v);
    return AddBuffer(text, n);
}
