// Small owners of Win32 and COM resources, one per kind of handle, so that
// drawing and COM code releases what it takes on every way out: a window's
// device context, a memory device context with an object selected into it,
// a GDI object, an icon, a COM interface pointer, a VARIANT and a BSTR.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

// GetDC for a window (null: the screen), released by ReleaseDC.
class CWindowDC {
public:
    explicit CWindowDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(GetDC(hWnd)) {}
    ~CWindowDC()
    {
        if (m_hDC) ReleaseDC(m_hWnd, m_hDC);
    }
    CWindowDC(const CWindowDC&) = delete;
    CWindowDC& operator=(const CWindowDC&) = delete;
    operator HDC() const { return m_hDC; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// A memory device context compatible with another one, with an object
// selected into it until it goes.
class CMemoryDC {
public:
    CMemoryDC(HDC hCompatible, HGDIOBJ selected) : m_hDC(CreateCompatibleDC(hCompatible))
    {
        if (m_hDC) m_hPrevious = SelectObject(m_hDC, selected);
    }
    ~CMemoryDC()
    {
        if (!m_hDC) return;
        SelectObject(m_hDC, m_hPrevious);
        DeleteDC(m_hDC);
    }
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;
    operator HDC() const { return m_hDC; }

private:
    HDC m_hDC;
    HGDIOBJ m_hPrevious = nullptr;
};

// A handle released by Deleter when it goes or is replaced; movable.
template <typename T, typename Deleter>
class CScopedHandle {
public:
    explicit CScopedHandle(T handle = nullptr) : m_handle(handle) {}
    ~CScopedHandle() { Reset(); }
    CScopedHandle(CScopedHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    CScopedHandle& operator=(CScopedHandle&& other) noexcept
    {
        if (this != &other) Reset(std::exchange(other.m_handle, nullptr));
        return *this;
    }
    void Reset(T handle = nullptr)
    {
        if (m_handle) Deleter()(m_handle);
        m_handle = handle;
    }
    T Get() const { return m_handle; }

private:
    T m_handle;
};

struct CHandleDeleter {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct CGdiObjectDeleter {
    void operator()(HGDIOBJ handle) const { DeleteObject(handle); }
};
struct CIconDeleter {
    void operator()(HICON handle) const { DestroyIcon(handle); }
};

// A GDI object (bitmap, brush, ...) deleted with DeleteObject.
template <typename T>
using CGdiObject = CScopedHandle<T, CGdiObjectDeleter>;
// An icon destroyed with DestroyIcon.
using CIcon = CScopedHandle<HICON, CIconDeleter>;

// One reference to a COM interface, released when it goes. Receive() hands
// out the slot for a call that returns a new reference.
template <typename T>
class CComPtr {
public:
    CComPtr() = default;
    // Takes over a reference the caller already holds.
    explicit CComPtr(T* owned) : m_p(owned) {}
    ~CComPtr() { Reset(); }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    void Reset()
    {
        if (m_p) m_p->Release();
        m_p = nullptr;
    }
    T** Receive()
    {
        Reset();
        return &m_p;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// A VARIANT cleared when it goes.
class CVariant {
public:
    CVariant() { VariantInit(&m_value); }
    // A VT_BSTR holding a copy of text.
    explicit CVariant(const wchar_t* text) : CVariant()
    {
        m_value.vt = VT_BSTR;
        m_value.bstrVal = SysAllocString(text);
    }
    ~CVariant() { VariantClear(&m_value); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    VARIANT* Ptr() { return &m_value; }
    const VARIANT& Get() const { return m_value; }

private:
    VARIANT m_value;
};

// A BSTR freed when it goes.
class CBstr {
public:
    explicit CBstr(const wchar_t* text) : m_text(SysAllocString(text)) {}
    ~CBstr() { SysFreeString(m_text); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    operator BSTR() const { return m_text; }

private:
    BSTR m_text;
};

// Draws the whole of bitmap stretched over target in dc.
void StretchBitmap(HDC dc, HBITMAP bitmap, const RECT& target);
