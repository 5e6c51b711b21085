// Intrusive reference counting for the job's renderer: IObjRef, TObjRefImpl,
// the owning smart pointer CStdRefPtr and the adoption marker MakeRefPtr.
#pragma once

class IObjRef {
public:
    virtual long AddRef() = 0;
    virtual long Release() = 0;
    virtual void OnFinalRelease() = 0;
};

template <class T>
class TObjRefImpl : public T {
public:
    TObjRefImpl() : m_nRefCount(1) {}
    virtual long AddRef() { return ++m_nRefCount; }
    virtual long Release() {
        long n = --m_nRefCount;
        if (n == 0) OnFinalRelease();
        return n;
    }
    virtual void OnFinalRelease() { delete this; }
    virtual ~TObjRefImpl() {}

protected:
    int m_nRefCount;
};

// Marks a freshly created object whose creator's reference a CStdRefPtr takes over.
template <class T>
class MakeRefPtr {
public:
    explicit MakeRefPtr(T* p) : m_p(p) {}
    T* m_p;
};

template <class T>
class CStdRefPtr {
public:
    CStdRefPtr() : m_p(nullptr) {}
    CStdRefPtr(const CStdRefPtr& o) : m_p(o.m_p) {
        if (m_p) m_p->AddRef();
    }
    CStdRefPtr& operator=(const CStdRefPtr& o) {
        if (o.m_p) o.m_p->AddRef();
        T* old = m_p;
        m_p = o.m_p;
        if (old) old->Release();
        return *this;
    }
    ~CStdRefPtr() {
        if (m_p) m_p->Release();
    }

    T* operator=(const MakeRefPtr<T>& mk) {
        if (mk.m_p != m_p) {
            T* old = m_p;
            m_p = mk.m_p;
            if (old) old->Release();
        }
        return m_p;
    }

    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    bool operator==(T* p) const { return m_p == p; }
    bool operator!=(T* p) const { return m_p != p; }

private:
    T* m_p;
};
