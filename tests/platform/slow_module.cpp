// A COM module for the activation tests: its class object takes a while
// to come, and the module can be unloaded whenever no reference is out.
#include <unistd.h>

#include <atomic>

#include "objbase.h"

#define SLOW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<long> gRefs{0};

class Factory final : public IClassFactory {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++gRefs); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(--gRefs); }
    STDMETHOD(CreateInstance)(IUnknown*, REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }
};

Factory gFactory;

} // namespace

SLOW_EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID riid, void** ppv) {
    usleep(100000); // the window in which another thread may try to unload us
    return gFactory.QueryInterface(riid, ppv);
}

SLOW_EXPORT HRESULT DllCanUnloadNow() { return gRefs.load() == 0 ? S_OK : S_FALSE; }
