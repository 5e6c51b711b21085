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
    int GetBufferLength() const { return m_nLength; }
    int GetBufferSize() const { return m_nBufferSize; }
    int GetMaxBufferSize() const { return m_nMaxBufferSize; }

    void SetMaxBufferSize(int n) { m_nMaxBufferSize = n; }
    // Makes the capacity at least n. Returns false when the storage could not
    // be grown (the content is then unchanged).
    bool SetBufferSize(int n);
    void InitBuffer(int n);
    void AddBuffer(const void* p, int n);
    void AddByte(unsigned char b);
    void AddStringA(const char* s);
    void AddInt(int v);

private:
    int m_nLength;
    char* m_pBuffer;
    int m_nBufferSize;
    int m_nMaxBufferSize;
};
