// The COM runtime: interfaces every object implements, task memory,
// apartments, GUID strings and in-process activation through the registry.
#pragma once

#include "wintypes.h"

#include <atomic>

#define STDMETHODCALLTYPE
#define STDMETHOD(m) virtual HRESULT STDMETHODCALLTYPE m
#define STDMETHOD_(t, m) virtual t STDMETHODCALLTYPE m
#define STDAPI extern "C" HRESULT

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;
protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) = 0;
    STDMETHOD(LockServer)(BOOL lock) = 0;
protected:
    ~IClassFactory() = default;
};

extern const IID IID_IUnknown;
extern const IID IID_IClassFactory;

// IUnknown of a heap object that implements one interface I (named kIid)
// besides IUnknown: it starts with one reference and deletes itself at the
// last Release.
template <class I, const IID& kIid>
class UnknownImpl : public I {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == kIid) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    ULONG references() const { return refs_; }

protected:
    virtual ~UnknownImpl() = default;

private:
    std::atomic<ULONG> refs_{1};
};

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC CLSCTX_INPROC_SERVER
#define CLSCTX_ALL CLSCTX_INPROC_SERVER

typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, void**);
typedef HRESULT (*LPFNCANUNLOADNOW)();

LPVOID CoTaskMemAlloc(size_t size);
void CoTaskMemFree(LPVOID p);

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();

// Resolves HKCR\CLSID\{clsid}\InprocServer32 to a module, loads it once and
// asks its DllGetClassObject.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID serverInfo, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
// Unloads the loaded modules whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

// Braces form, 39 characters with the terminator; returns the characters
// written including it, or 0 when `cch` is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR out, int cch);
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
