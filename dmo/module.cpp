// The Sonadec module: COM exports, class factory, registration.
#include <atomic>
#include <string>

#include "PvdAACDecoder.h"
#include "atlreg.h"
#include "guids.h"
#include "module.h"
#include "resources.h"
#include "winreg.h"

#define SONADEC_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<long> gLockCount{0};
HINSTANCE gModule = nullptr;

class ClassFactory final : public IClassFactory {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; a reference to it keeps the module loaded.
    STDMETHOD_(ULONG, AddRef)() override {
        ModuleLock();
        return 2;
    }
    STDMETHOD_(ULONG, Release)() override {
        ModuleUnlock();
        return 1;
    }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
        return CPvdAACDecoder::CreateInstance(outer, riid, ppv);
    }
    STDMETHOD(LockServer)(BOOL lock) override {
        if (lock) ModuleLock();
        else ModuleUnlock();
        return S_OK;
    }
};

ClassFactory gFactory;

const DMO_PARTIAL_MEDIATYPE kInputTypes[] = {
    {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG_HEAAC},
    {MEDIATYPE_Audio, MEDIASUBTYPE_AAC_CONFIG_AND_UNIT},
};
const DMO_PARTIAL_MEDIATYPE kOutputTypes[] = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}};

std::wstring modulePath() {
    wchar_t path[4096];
    const DWORD n = GetModuleFileNameW(gModule, path, 4096);
    return n > 0 && n < 4096 ? std::wstring(path, n) : std::wstring();
}

std::wstring guidText(REFGUID g) {
    wchar_t text[40];
    StringFromGUID2(g, text, 40);
    return text;
}

// Runs the module's registry scripts and (un)registers its type library.
HRESULT updateRegistry(bool doRegister) {
    const std::wstring path = modulePath();
    if (path.empty()) return E_UNEXPECTED;
    CRegObject reg;
    reg.AddReplacement(L"MODULE", path.c_str());
    reg.AddReplacement(L"APPID", guidText(kSonadecAppId).c_str());
    const int scripts[] = {IDR_SONADEC, IDR_PVDAACDECODER};
    const TypeLibResource& tlb = ModuleTypeLib();
    if (doRegister) {
        for (int id : scripts)
            if (HRESULT hr = reg.StringRegister(FindRegistryScript(id)); FAILED(hr)) return hr;
        return RegisterTypeLibAttr(&tlb.attr, tlb.name, tlb.helpString, path.c_str(), nullptr);
    }
    HRESULT result = S_OK;
    for (int i = 1; i >= 0; --i)
        if (HRESULT hr = reg.StringUnregister(FindRegistryScript(scripts[i])); FAILED(hr)) result = hr;
    // A library that is not registered is no failure of the removal.
    UnRegisterTypeLib(tlb.attr.guid, tlb.attr.wMajorVerNum, tlb.attr.wMinorVerNum, tlb.attr.lcid, tlb.attr.syskind);
    return result;
}

char gModuleAnchor;

__attribute__((constructor)) void onLoad();
__attribute__((destructor)) void onUnload();

} // namespace

void ModuleLock() { ++gLockCount; }
void ModuleUnlock() { --gLockCount; }

SONADEC_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gModule = instance;
    return TRUE;
}

namespace {
// The loader calls no entry point here: stand in for it.
void onLoad() { DllMain(&gModuleAnchor, DLL_PROCESS_ATTACH, nullptr); }
void onUnload() { DllMain(&gModuleAnchor, DLL_PROCESS_DETACH, nullptr); }
} // namespace

SONADEC_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_PvdAACDecoder) return CLASS_E_CLASSNOTAVAILABLE;
    return gFactory.QueryInterface(riid, ppv);
}

SONADEC_EXPORT HRESULT DllCanUnloadNow() { return gLockCount.load() == 0 ? S_OK : S_FALSE; }

// Both run as one registry transaction: a registration that fails or is
// interrupted half way leaves the registry as it was.
SONADEC_EXPORT HRESULT DllRegisterServer() {
    RegistryTransaction transaction;
    if (!transaction.ok()) return E_FAIL;
    HRESULT hr = DMORegisterFilter(L"Parvix AAC Decoder-DMO", CLSID_PvdAACDecoder, DMOCATEGORY_AUDIO_DECODER,
                                   kPvdAACDecoderFilterId, 0, 2, kInputTypes, 1, kOutputTypes);
    if (SUCCEEDED(hr)) hr = updateRegistry(true);
    if (FAILED(hr)) transaction.fail();
    return hr;
}

SONADEC_EXPORT HRESULT DllUnregisterServer() {
    RegistryTransaction transaction;
    if (!transaction.ok()) return E_FAIL;
    DMOUnregisterFilter(kPvdAACDecoderFilterId);
    const HRESULT hr = updateRegistry(false);
    if (FAILED(hr)) transaction.fail();
    return hr;
}
