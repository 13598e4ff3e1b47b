#include "resources.h"

#include "guids.h"

namespace {

const wchar_t kModuleScript[] =
    L"HKCR\n"
    L"{\n"
    L"    NoRemove AppID\n"
    L"    {\n"
    L"        '%APPID%' = s 'Sonadec'\n"
    L"        'Sonadec.DLL'\n"
    L"        {\n"
    L"            val AppID = s '%APPID%'\n"
    L"        }\n"
    L"    }\n"
    L"}\n";

const wchar_t kClassScript[] =
    L"HKCR\n"
    L"{\n"
    L"    NoRemove CLSID\n"
    L"    {\n"
    L"        ForceRemove {2EEEA175-54F6-4358-82A1-41C6051CF2E4} = s 'AAC Decoder DMO Class'\n"
    L"        {\n"
    L"            InprocServer32 = s '%MODULE%'\n"
    L"            {\n"
    L"                val ThreadingModel = s 'Both'\n"
    L"            }\n"
    L"            val MERIT = d '6291456'\n"
    L"        }\n"
    L"    }\n"
    L"}\n";

struct ScriptResource {
    int id;
    LPCOLESTR text;
};
const ScriptResource kScripts[] = {{IDR_SONADEC, kModuleScript}, {IDR_PVDAACDECODER, kClassScript}};

const TypeLibResource kTypeLib = {
    {LIBID_PvdAACAudioDecDMOLib, 0, SYS_WIN32, 1, 0, 0},
    L"PvdAACAudioDecDMOLib",
    L"PvdAACAudioDecDMO 1.0 Type Library",
};

} // namespace

LPCOLESTR FindRegistryScript(int id) {
    for (const ScriptResource& s : kScripts)
        if (s.id == id) return s.text;
    return nullptr;
}

LPCWSTR FindModuleString(int id) { return id == IDS_PROJNAME ? L"PvdAACAudioDecDMO" : nullptr; }

const TypeLibResource& ModuleTypeLib() { return kTypeLib; }
