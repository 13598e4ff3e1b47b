// The Vistarend module: its five exports over the class-factory table.
#include "VideoRendererFilter.h"
#include "guids.h"
#include "setup.h"

#define VISTAREND_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const CFactoryTemplate kTemplates[] = {
    {kVideoRendererName, &CLSID_ParvixVideoRenderer, VideoRendererFilter::CreateInstance, nullptr,
     &kVideoRendererSetup},
};
constexpr int kTemplateCount = sizeof kTemplates / sizeof kTemplates[0];

HINSTANCE gModule = nullptr;
char gModuleAnchor;

__attribute__((constructor)) void onLoad();
__attribute__((destructor)) void onUnload();

} // namespace

VISTAREND_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gModule = instance;
    return TRUE;
}

namespace {
// The loader calls no entry point here: stand in for it.
void onLoad() { DllMain(&gModuleAnchor, DLL_PROCESS_ATTACH, nullptr); }
void onUnload() { DllMain(&gModuleAnchor, DLL_PROCESS_DETACH, nullptr); }
} // namespace

VISTAREND_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return AMovieGetClassObject(kTemplates, kTemplateCount, clsid, riid, ppv);
}

VISTAREND_EXPORT HRESULT DllCanUnloadNow() { return AMovieCanUnloadNow(); }

VISTAREND_EXPORT HRESULT DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE, kTemplates, kTemplateCount, gModule);
}

VISTAREND_EXPORT HRESULT DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE, kTemplates, kTemplateCount, gModule);
}
