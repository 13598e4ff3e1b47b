// sonadec-regsvr: registers or unregisters a COM in-process server.
//   sonadec-regsvr [-u] MODULE
// Loads MODULE, calls its DllRegisterServer (or, with -u,
// DllUnregisterServer) and prints the HRESULT. Exit status 0 on success.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "objbase.h"

namespace {

std::wstring widen(const char* s) {
    std::wstring w;
    std::mbstate_t state{};
    wchar_t wc;
    size_t n;
    const char* p = s;
    const char* end = s + std::strlen(s);
    while (p < end && (n = std::mbrtowc(&wc, p, static_cast<size_t>(end - p), &state)) != 0 &&
           n != static_cast<size_t>(-1) && n != static_cast<size_t>(-2)) {
        w += wc;
        p += n;
    }
    return w;
}

} // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/u") == 0) unregister = true;
        else path = argv[i];
    }
    if (path == nullptr) {
        std::fprintf(stderr, "usage: sonadec-regsvr [-u] MODULE\n");
        return 2;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    HMODULE module = LoadLibraryW(widen(path).c_str());
    if (module == nullptr) {
        std::fprintf(stderr, "sonadec-regsvr: cannot load %s\n", path);
        return 1;
    }
    auto call = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, entry));
    if (call == nullptr) {
        std::fprintf(stderr, "sonadec-regsvr: %s has no %s\n", path, entry);
        FreeLibrary(module);
        return 1;
    }
    const HRESULT hr = call();
    std::printf("%s %s: HRESULT 0x%08X\n", entry, path, static_cast<unsigned>(hr));
    FreeLibrary(module);
    return SUCCEEDED(hr) ? 0 : 1;
}
