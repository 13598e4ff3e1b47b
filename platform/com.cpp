#include <dlfcn.h>

#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "internal.h"
#include "objbase.h"
#include "winreg.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

LPVOID CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }

void CoTaskMemFree(LPVOID p) { std::free(p); }

namespace {

struct LoadedModule {
    std::string path;
    void* handle;
    LPFNGETCLASSOBJECT getClassObject;
    LPFNCANUNLOADNOW canUnloadNow;
};

struct Runtime {
    // Held while a module is looked up, loaded and asked for a class
    // object, so that CoFreeUnusedLibraries cannot unload it in between.
    std::recursive_mutex lock;
    std::vector<LoadedModule> modules;
};

Runtime& runtime() {
    static Runtime r;
    return r;
}

thread_local int tInitCount = 0;
thread_local DWORD tInitMode = 0;

int hexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

bool readHex(const wchar_t*& p, int digits, uint64_t* out) {
    uint64_t v = 0;
    for (int i = 0; i < digits; ++i, ++p) {
        const int h = hexValue(*p);
        if (h < 0) return false;
        v = (v << 4) | static_cast<uint64_t>(h);
    }
    *out = v;
    return true;
}

// The module path registered for a class, or an empty string.
std::wstring inprocServerPath(REFCLSID clsid) {
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    const std::wstring sub = std::wstring(L"CLSID\\") + text + L"\\InprocServer32";
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    DWORD type = 0, size = 0;
    std::wstring path;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size >= sizeof(wchar_t)) {
        std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf.data()),
                             &size) == ERROR_SUCCESS)
            path = buf.data();
    }
    RegCloseKey(key);
    return path;
}

} // namespace

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
    if (tInitCount > 0) {
        ++tInitCount;
        return coInit == tInitMode ? S_FALSE : MAKE_HRESULT_CODE(0x80010106u); // RPC_E_CHANGED_MODE
    }
    tInitCount = 1;
    tInitMode = coInit;
    return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (tInitCount == 0) return;
    if (--tInitCount == 0) CoFreeUnusedLibraries();
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    if (tInitCount == 0) return CO_E_NOTINITIALIZED;
    if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    const std::wstring wpath = inprocServerPath(clsid);
    if (wpath.empty()) return REGDB_E_CLASSNOTREG;
    const std::string path = platform_internal::toUtf8(wpath);

    Runtime& rt = runtime();
    LPFNGETCLASSOBJECT get = nullptr;
    std::lock_guard<std::recursive_mutex> g(rt.lock);
    {
        for (const LoadedModule& m : rt.modules)
            if (m.path == path) get = m.getClassObject;
        if (get == nullptr) {
            void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (h == nullptr) return CO_E_DLLNOTFOUND;
            get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(h, "DllGetClassObject"));
            auto can = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(h, "DllCanUnloadNow"));
            if (get == nullptr) {
                dlclose(h);
                return CO_E_ERRORINDLL;
            }
            rt.modules.push_back({path, h, get, can});
        }
    }
    return get(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr && riid != IID_IUnknown) return E_INVALIDARG;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries() {
    Runtime& rt = runtime();
    std::lock_guard<std::recursive_mutex> g(rt.lock);
    for (size_t i = 0; i < rt.modules.size();) {
        LoadedModule& m = rt.modules[i];
        if (m.canUnloadNow != nullptr && m.canUnloadNow() == S_OK) {
            dlclose(m.handle);
            rt.modules.erase(rt.modules.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

int StringFromGUID2(REFGUID g, LPOLESTR out, int cch) {
    if (out == nullptr || cch < 39) return 0;
    std::swprintf(out, static_cast<size_t>(cch), L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return 39;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
    const wchar_t* p = text;
    uint64_t v;
    GUID g{};
    if (*p++ != L'{') return CO_E_CLASSSTRING;
    if (!readHex(p, 8, &v) || *p++ != L'-') return CO_E_CLASSSTRING;
    g.Data1 = static_cast<uint32_t>(v);
    if (!readHex(p, 4, &v) || *p++ != L'-') return CO_E_CLASSSTRING;
    g.Data2 = static_cast<uint16_t>(v);
    if (!readHex(p, 4, &v) || *p++ != L'-') return CO_E_CLASSSTRING;
    g.Data3 = static_cast<uint16_t>(v);
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && *p++ != L'-') return CO_E_CLASSSTRING;
        if (!readHex(p, 2, &v)) return CO_E_CLASSSTRING;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    if (*p++ != L'}' || *p != L'\0') return CO_E_CLASSSTRING;
    *clsid = g;
    return NOERROR;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    const HRESULT hr = CLSIDFromString(text, iid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}
