#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "internal.h"
#include "streams.h"
#include "winreg.h"

#define DS_GUID(name, l, w1, w2) const GUID name = {l, w1, w2, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}}
#define MEDIASUBTYPE_FOURCC(name, l) \
    const GUID name = {l, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}

MEDIASUBTYPE_FOURCC(MEDIATYPE_Video, 0x73646976);
MEDIASUBTYPE_FOURCC(MEDIASUBTYPE_YV12, 0x32315659);
MEDIASUBTYPE_FOURCC(MEDIASUBTYPE_I420, 0x30323449);
MEDIASUBTYPE_FOURCC(MEDIASUBTYPE_YUY2, 0x32595559);
const GUID MEDIASUBTYPE_RGB565 = {0xE436EB7B, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID FORMAT_VideoInfo = {0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const GUID FORMAT_None = {0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID CLSID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

DS_GUID(IID_IPin, 0x56A86891, 0x0AD4, 0x11CE);
DS_GUID(IID_IEnumPins, 0x56A86892, 0x0AD4, 0x11CE);
const IID IID_IEnumMediaTypes = {0x89C31040, 0x846B, 0x11CE, {0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
DS_GUID(IID_IMediaFilter, 0x56A86899, 0x0AD4, 0x11CE);
DS_GUID(IID_IBaseFilter, 0x56A86895, 0x0AD4, 0x11CE);
DS_GUID(IID_IFilterGraph, 0x56A8689F, 0x0AD4, 0x11CE);
DS_GUID(IID_IMediaSample, 0x56A8689A, 0x0AD4, 0x11CE);
DS_GUID(IID_IMemAllocator, 0x56A8689C, 0x0AD4, 0x11CE);
DS_GUID(IID_IMemInputPin, 0x56A8689D, 0x0AD4, 0x11CE);
DS_GUID(IID_IReferenceClock, 0x56A86897, 0x0AD4, 0x11CE);
DS_GUID(IID_IMediaEventSink, 0x56A868A2, 0x0AD4, 0x11CE);
DS_GUID(IID_IVideoWindow, 0x56A868B4, 0x0AD4, 0x11CE);
DS_GUID(IID_IBasicVideo, 0x56A868B5, 0x0AD4, 0x11CE);
DS_GUID(IID_IQualityControl, 0x56A868A5, 0x0AD4, 0x11CE);
const IID IID_IPropertyBag = {0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
const IID IID_IErrorLog = {0x3127CA40, 0x446E, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
const IID IID_IAMovieSetup = {0xA3D8CEC0, 0x7E5A, 0x11CF, {0xBB, 0xC5, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x20}};
const IID IID_IQualProp = {0x1BD0ECB0, 0xF8E2, 0x11CE, {0xAA, 0xC6, 0x00, 0x20, 0xAF, 0x0B, 0x99, 0xA3}};
const IID IID_IFilterMapper2 = {0xB79BB0B0, 0x33C1, 0x11D1, {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
const CLSID CLSID_FilterMapper2 = {0xCDA42200, 0xBD88, 0x11D0, {0xBD, 0x4E, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
const CLSID CLSID_SystemClock = {0xE436EBB1, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const CLSID CLSID_LegacyAmFilterCategory = {0x083863F1, 0x70DE, 0x11D0, {0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

void VariantInit(VARIANT* v) {
    if (v == nullptr) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->ulVal = 0;
}

// The system clock.

struct CSystemClock::Impl {
    struct Advise {
        REFERENCE_TIME due;
        REFERENCE_TIME period;
        HANDLE event;
    };
    std::mutex lock;
    std::condition_variable changed;
    std::map<DWORD_PTR, Advise> advises;
    DWORD_PTR nextCookie = 1;
    bool stopping = false;
    std::thread thread;
    std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();

    REFERENCE_TIME now() const {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - origin).count() / 100;
    }

    void run() {
        std::unique_lock<std::mutex> g(lock);
        while (!stopping) {
            REFERENCE_TIME next = INT64_MAX;
            const REFERENCE_TIME t = now();
            for (auto it = advises.begin(); it != advises.end();) {
                if (it->second.due <= t) {
                    SetEvent(it->second.event);
                    if (it->second.period > 0) {
                        it->second.due += it->second.period;
                    } else {
                        it = advises.erase(it);
                        continue;
                    }
                }
                next = std::min(next, it->second.due);
                ++it;
            }
            if (next == INT64_MAX) changed.wait(g);
            else changed.wait_for(g, std::chrono::nanoseconds((next - t) * 100));
        }
    }
};

CSystemClock::CSystemClock(LPCWSTR name, LPUNKNOWN outer, HRESULT*) : CUnknown(name, outer), impl_(new Impl) {
    impl_->thread = std::thread([this] { impl_->run(); });
}

CSystemClock::~CSystemClock() {
    {
        std::lock_guard<std::mutex> g(impl_->lock);
        impl_->stopping = true;
    }
    impl_->changed.notify_all();
    impl_->thread.join();
    delete impl_;
}

HRESULT CSystemClock::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CSystemClock::GetTime(REFERENCE_TIME* time) {
    if (time == nullptr) return E_POINTER;
    *time = impl_->now();
    return S_OK;
}

HRESULT CSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) {
    if (cookie == nullptr) return E_POINTER;
    if (event == 0) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(impl_->lock);
    *cookie = impl_->nextCookie++;
    impl_->advises[*cookie] = Impl::Advise{baseTime + streamTime, 0, reinterpret_cast<HANDLE>(event)};
    impl_->changed.notify_all();
    return S_OK;
}

HRESULT CSystemClock::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                                     DWORD_PTR* cookie) {
    if (cookie == nullptr) return E_POINTER;
    if (semaphore == 0 || period <= 0) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(impl_->lock);
    *cookie = impl_->nextCookie++;
    impl_->advises[*cookie] = Impl::Advise{start, period, reinterpret_cast<HANDLE>(semaphore)};
    impl_->changed.notify_all();
    return S_OK;
}

HRESULT CSystemClock::Unadvise(DWORD_PTR cookie) {
    std::lock_guard<std::mutex> g(impl_->lock);
    return impl_->advises.erase(cookie) ? S_OK : S_FALSE;
}

// The filter mapper.

namespace {

std::wstring guidText(REFGUID g) {
    wchar_t text[40];
    StringFromGUID2(g, text, 40);
    return text;
}

std::wstring instanceKey(const CLSID* category, REFCLSID filter) {
    return L"CLSID\\" + guidText(category ? *category : CLSID_LegacyAmFilterCategory) + L"\\Instance\\" +
           guidText(filter);
}

LONG deleteTree(HKEY parent, const std::wstring& path) {
    HKEY key;
    LONG r = RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (r != ERROR_SUCCESS) return r;
    for (;;) {
        wchar_t name[256];
        DWORD cch = 256;
        if (RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        r = deleteTree(key, name);
        if (r != ERROR_SUCCESS) {
            RegCloseKey(key);
            return r;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, path.c_str());
}

LONG setString(HKEY key, LPCWSTR name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG setDword(HKEY key, LPCWSTR name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG createKey(HKEY parent, const std::wstring& path, HKEY* key) {
    return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, nullptr);
}

class FilterMapper final : public UnknownImpl<IFilterMapper2, IID_IFilterMapper2> {
public:
    STDMETHOD(CreateCategory)(REFCLSID category, DWORD merit, LPCWSTR description) override {
        HKEY key;
        LONG r = createKey(HKEY_CLASSES_ROOT, L"CLSID\\" + guidText(category) + L"\\Instance", &key);
        if (r == ERROR_SUCCESS) {
            RegCloseKey(key);
            r = createKey(HKEY_CLASSES_ROOT, L"CLSID\\" + guidText(category), &key);
        }
        if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
        r = setString(key, L"FriendlyName", description ? description : L"");
        if (r == ERROR_SUCCESS) r = setDword(key, L"Merit", merit);
        RegCloseKey(key);
        return HRESULT_FROM_WIN32(r);
    }

    STDMETHOD(UnregisterFilter)(const CLSID* category, LPCOLESTR, REFCLSID filter) override {
        platform_internal::RegistryBatch batch;
        const LONG r = deleteTree(HKEY_CLASSES_ROOT, instanceKey(category, filter));
        if (r != ERROR_SUCCESS) batch.fail();
        return HRESULT_FROM_WIN32(r);
    }

    STDMETHOD(RegisterFilter)(REFCLSID filter, LPCWSTR name, IMoniker** moniker, const CLSID* category, LPCOLESTR,
                              const REGFILTER2* rf2) override {
        if (name == nullptr || rf2 == nullptr) return E_POINTER;
        if (rf2->dwVersion != 1 || (rf2->cPins > 0 && rf2->rgPins == nullptr)) return E_INVALIDARG;
        if (moniker != nullptr) *moniker = nullptr;
        platform_internal::RegistryBatch batch;
        const LONG r = write(filter, name, category, rf2);
        if (r != ERROR_SUCCESS) batch.fail();
        return HRESULT_FROM_WIN32(r);
    }

private:
    static LONG write(REFCLSID filter, LPCWSTR name, const CLSID* category, const REGFILTER2* rf2) {
        HKEY key;
        LONG r = createKey(HKEY_CLASSES_ROOT, instanceKey(category, filter), &key);
        if (r != ERROR_SUCCESS) return r;
        r = setString(key, L"FriendlyName", name);
        if (r == ERROR_SUCCESS) r = setString(key, L"CLSID", guidText(filter));
        if (r == ERROR_SUCCESS) r = setDword(key, L"Merit", rf2->dwMerit);
        for (ULONG i = 0; r == ERROR_SUCCESS && i < rf2->cPins; ++i) {
            const REGFILTERPINS& p = rf2->rgPins[i];
            HKEY pin;
            r = createKey(key, std::wstring(L"Pins\\") + (p.strName ? p.strName : L""), &pin);
            if (r != ERROR_SUCCESS) break;
            r = setDword(pin, L"Rendered", p.bRendered ? 1 : 0);
            if (r == ERROR_SUCCESS) r = setDword(pin, L"Output", p.bOutput ? 1 : 0);
            if (r == ERROR_SUCCESS) r = setDword(pin, L"ZeroInstances", p.bZero ? 1 : 0);
            if (r == ERROR_SUCCESS) r = setDword(pin, L"Many", p.bMany ? 1 : 0);
            if (r == ERROR_SUCCESS)
                r = setString(pin, L"ConnectsToFilter", guidText(p.clsConnectsToFilter ? *p.clsConnectsToFilter : CLSID_NULL));
            if (r == ERROR_SUCCESS) r = setString(pin, L"ConnectsToPin", p.strConnectsToPin ? p.strConnectsToPin : L"");
            for (UINT t = 0; r == ERROR_SUCCESS && t < p.nMediaTypes; ++t) {
                HKEY type;
                const AMOVIESETUP_MEDIATYPE& mt = p.lpMediaType[t];
                r = createKey(pin, L"Types\\" + guidText(*mt.clsMajorType) + L"\\" + guidText(*mt.clsMinorType), &type);
                if (r == ERROR_SUCCESS) RegCloseKey(type);
            }
            RegCloseKey(pin);
        }
        RegCloseKey(key);
        return r;
    }
};

} // namespace

HRESULT CreateFilterMapper(IFilterMapper2** mapper) {
    if (mapper == nullptr) return E_POINTER;
    *mapper = new (std::nothrow) FilterMapper;
    return *mapper ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBaseFilter::Register() {
    const AMOVIESETUP_FILTER* setup = GetSetupData();
    if (setup == nullptr) return S_FALSE;
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CreateFilterMapper(&mapper);
    if (FAILED(hr)) return hr;
    const REGFILTER2 rf2{1, setup->dwMerit, setup->nPins, setup->lpPin};
    hr = mapper->RegisterFilter(*setup->clsID, setup->strName, nullptr, &CLSID_LegacyAmFilterCategory, nullptr, &rf2);
    mapper->Release();
    return hr;
}

HRESULT CBaseFilter::Unregister() {
    const AMOVIESETUP_FILTER* setup = GetSetupData();
    if (setup == nullptr) return S_FALSE;
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CreateFilterMapper(&mapper);
    if (FAILED(hr)) return hr;
    hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *setup->clsID);
    mapper->Release();
    // Nothing registered is nothing to remove.
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
}

// Class factories and registration.

namespace {

std::atomic<LONG> gServerLocks{0};

class CClassFactory final : public UnknownImpl<IClassFactory, IID_IClassFactory> {
public:
    explicit CClassFactory(const CFactoryTemplate* t) : template_(t) { ++gServerLocks; }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr && riid != IID_IUnknown) return E_NOINTERFACE;
        HRESULT hr = S_OK;
        CUnknown* obj = template_->CreateInstance(outer, &hr);
        if (obj == nullptr) return FAILED(hr) ? hr : E_OUTOFMEMORY;
        obj->NonDelegatingAddRef();
        if (SUCCEEDED(hr)) hr = obj->NonDelegatingQueryInterface(riid, ppv);
        obj->NonDelegatingRelease();
        return hr;
    }
    STDMETHOD(LockServer)(BOOL lock) override {
        if (lock) ++gServerLocks;
        else --gServerLocks;
        return S_OK;
    }
private:
    ~CClassFactory() override { --gServerLocks; }
    const CFactoryTemplate* template_;
};

} // namespace

HRESULT AMovieGetClassObject(const CFactoryTemplate* templates, int count, REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    for (int i = 0; i < count; ++i) {
        if (!templates[i].IsClassID(clsid)) continue;
        auto* f = new (std::nothrow) CClassFactory(&templates[i]);
        if (f == nullptr) return E_OUTOFMEMORY;
        *ppv = static_cast<IClassFactory*>(f);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT AMovieCanUnloadNow() { return CUnknown::ObjectsActive() == 0 && gServerLocks.load() == 0 ? S_OK : S_FALSE; }

namespace {

HRESULT writeServerKey(const CFactoryTemplate& t, const std::wstring& modulePath) {
    platform_internal::RegistryBatch batch;
    HKEY key, server;
    LONG r = createKey(HKEY_CLASSES_ROOT, L"CLSID\\" + guidText(*t.m_ClsID), &key);
    if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
    r = setString(key, nullptr, t.m_Name);
    if (r == ERROR_SUCCESS) r = createKey(key, L"InprocServer32", &server);
    if (r == ERROR_SUCCESS) {
        r = setString(server, nullptr, modulePath);
        if (r == ERROR_SUCCESS) r = setString(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    }
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) batch.fail();
    return HRESULT_FROM_WIN32(r);
}

// Creates the filter and runs `Unregister`, then `Register` when asked.
HRESULT setupFilter(const CFactoryTemplate& t, bool doRegister) {
    const HRESULT init = CoInitialize(nullptr);
    IBaseFilter* filter = nullptr;
    HRESULT hr = CoCreateInstance(*t.m_ClsID, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&filter));
    if (SUCCEEDED(hr)) {
        IAMovieSetup* setup = nullptr;
        hr = filter->QueryInterface(IID_IAMovieSetup, reinterpret_cast<void**>(&setup));
        if (SUCCEEDED(hr)) {
            hr = setup->Unregister();
            if (SUCCEEDED(hr) && doRegister) hr = setup->Register();
            setup->Release();
        }
        filter->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    if (hr == E_NOINTERFACE || hr == VFW_E_NEED_OWNER) hr = S_OK;
    return hr;
}

} // namespace

HRESULT AMovieDllRegisterServer2(BOOL doRegister, const CFactoryTemplate* templates, int count, HMODULE module) {
    wchar_t path[4096];
    const DWORD n = GetModuleFileNameW(module, path, 4096);
    if (n == 0 || n >= 4096) return E_FAIL;
    for (int i = 0; i < count; ++i) {
        const CFactoryTemplate& t = templates[i];
        HRESULT hr;
        if (doRegister) {
            hr = writeServerKey(t, std::wstring(path, n));
            if (FAILED(hr)) return hr;
            hr = setupFilter(t, true);
            if (FAILED(hr)) return hr;
        } else {
            hr = setupFilter(t, false);
            if (FAILED(hr)) return hr;
            const std::wstring key = L"CLSID\\" + guidText(*t.m_ClsID);
            platform_internal::RegistryBatch batch;
            const LONG r = deleteTree(HKEY_CLASSES_ROOT, key);
            if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
                batch.fail();
                return HRESULT_FROM_WIN32(r);
            }
        }
    }
    return S_OK;
}
