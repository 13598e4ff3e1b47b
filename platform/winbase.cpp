#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "internal.h"
#include "wintypes.h"

namespace platform_internal {

std::string toUtf8(const std::wstring& w) {
    std::string out;
    for (wchar_t wc : w) {
        const uint32_t c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring fromUtf8(const std::string& s) {
    std::wstring out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        ++i;
        for (; extra > 0 && i < s.size(); --extra, ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        out += static_cast<wchar_t>(c);
    }
    return out;
}

} // namespace platform_internal

const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { cs->lock = new std::recursive_mutex; }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete cs->lock;
    cs->lock = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) { cs->lock->lock(); }

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { cs->lock->unlock(); }

DWORD GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size) {
    if (name == nullptr || size == 0) return 0;
    Dl_info info{};
    if (module == nullptr || dladdr(module, &info) == 0 || info.dli_fname == nullptr) return 0;
    char resolved[PATH_MAX];
    const char* path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const std::wstring w = platform_internal::fromUtf8(path);
    if (w.size() >= size) {
        std::wmemcpy(name, w.c_str(), size - 1);
        name[size - 1] = L'\0';
        return size;
    }
    std::wmemcpy(name, w.c_str(), w.size() + 1);
    return static_cast<DWORD>(w.size());
}

HMODULE LoadLibraryW(LPCWSTR path) {
    if (path == nullptr) return nullptr;
    return dlopen(platform_internal::toUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module) { return module != nullptr && dlclose(module) == 0; }
