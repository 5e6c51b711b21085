// CMyBuffer: the growable, append-only byte buffer in which raster pages and
// printer command streams are assembled.
#pragma once

class CMyBuffer {
public:
    CMyBuffer();
    virtual ~CMyBuffer();

    // Copying would share the storage block; nothing needs it.
    CMyBuffer(const CMyBuffer&) = delete;
    CMyBuffer& operator=(const CMyBuffer&) = delete;

    char* GetBuffer() { return m_pBuffer; }
    const char* GetBuffer() const { return m_pBuffer; }
    int GetBufferLength() const { return m_nLength; }
    int GetBufferSize() const { return m_nBufferSize; }
    int GetMaxBufferSize() const { return m_nMaxBufferSize; }

    void SetMaxBufferSize(int n) { m_nMaxBufferSize = n; }
    // Makes the capacity at least n. Returns false when the storage could not
    // be grown (the content is then unchanged).
    bool SetBufferSize(int n);
    // Clears the content (n > 0: n zero bytes) and the Failed() mark.
    void InitBuffer(int n);
    // The appends return false when bytes were lost: the block could not be
    // stored (no memory, past 2 GiB), or passing the size limit dropped the
    // earlier content (the block itself is then kept).
    bool AddBuffer(const void* p, int n);
    // Appends another buffer's content; false also when that one has lost
    // bytes, so a command composed aside carries its loss along.
    bool AddBuffer(const CMyBuffer& from);
    bool AddByte(unsigned char b);
    bool AddStringA(const char* s);
    bool AddInt(int v);
    // True once an append since the last InitBuffer lost bytes: the content
    // is not what its callers wrote and must not be sent.
    bool Failed() const { return m_bFailed; }

private:
    bool Fail();

    int m_nLength;
    char* m_pBuffer;
    int m_nBufferSize;
    int m_nMaxBufferSize;
    bool m_bFailed;
};
