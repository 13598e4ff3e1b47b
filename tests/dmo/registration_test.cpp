#include <cstdlib>
#include <map>
#include <sys/wait.h>

#include "dmo_fixture.h"
#include "winreg.h"

namespace {

// Every key below HKCR with its values, as "path|name" -> "type:data".
void dump(HKEY key, const std::wstring& path, std::map<std::wstring, std::wstring>* out) {
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        BYTE data[1024];
        DWORD cch = 256, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &cch, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::wstring v;
        if (type == REG_SZ) v = L"s:" + std::wstring(reinterpret_cast<wchar_t*>(data));
        else if (type == REG_DWORD) v = L"d:" + std::to_wstring(*reinterpret_cast<DWORD*>(data));
        else v = L"b:" + std::to_wstring(size);
        (*out)[path + L"|" + name] = v;
    }
    (*out)[path] = L"key";
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD cch = 256;
        if (RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY sub;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
        dump(sub, path.empty() ? name : path + L"\\" + name, out);
        RegCloseKey(sub);
    }
}

std::map<std::wstring, std::wstring> snapshot() {
    std::map<std::wstring, std::wstring> m;
    dump(HKEY_CLASSES_ROOT, L"", &m);
    return m;
}

std::wstring moduleDir() {
    const std::wstring p = modulePathW();
    return p.substr(0, p.find_last_of(L'/'));
}

} // namespace

TEST(Registration, WritesExactlyTheModuleClassTypeLibAndDmoKeys) {
    TempRegistry reg;
    const auto before = snapshot();
    ASSERT_EQ(callModule("DllRegisterServer"), S_OK);
    auto after = snapshot();
    for (const auto& [k, v] : before) after.erase(k);
    const std::wstring m = modulePathW();
    const std::wstring clsid = L"CLSID\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}";
    const std::wstring appid = L"AppID\\{7F045744-6A00-483D-81BE-3030D3873A50}";
    const std::wstring tlb = L"TypeLib\\{8D2617D2-9230-412B-81C3-B1B7898D4F26}";
    const std::wstring dmo = L"DirectShow\\MediaObjects\\{E4EDB9DD-0438-4069-A368-6765AF99D336}";
    const std::map<std::wstring, std::wstring> expected = {
        {L"AppID", L"key"},
        {appid, L"key"},
        {appid + L"|", L"s:Sonadec"},
        {L"AppID\\Sonadec.DLL", L"key"},
        {L"AppID\\Sonadec.DLL|AppID", L"s:{7F045744-6A00-483D-81BE-3030D3873A50}"},
        {L"CLSID", L"key"},
        {clsid, L"key"},
        {clsid + L"|", L"s:AAC Decoder DMO Class"},
        {clsid + L"|MERIT", L"d:6291456"},
        {clsid + L"\\InprocServer32", L"key"},
        {clsid + L"\\InprocServer32|", L"s:" + m},
        {clsid + L"\\InprocServer32|ThreadingModel", L"s:Both"},
        {L"TypeLib", L"key"},
        {tlb, L"key"},
        {tlb + L"\\1.0", L"key"},
        {tlb + L"\\1.0|", L"s:PvdAACAudioDecDMO 1.0 Type Library"},
        {tlb + L"\\1.0\\FLAGS", L"key"},
        {tlb + L"\\1.0\\FLAGS|", L"s:0"},
        {tlb + L"\\1.0\\HELPDIR", L"key"},
        {tlb + L"\\1.0\\HELPDIR|", L"s:" + moduleDir()},
        {tlb + L"\\1.0\\0", L"key"},
        {tlb + L"\\1.0\\0\\win32", L"key"},
        {tlb + L"\\1.0\\0\\win32|", L"s:" + m},
        {L"DirectShow", L"key"},
        {L"DirectShow\\MediaObjects", L"key"},
        {dmo, L"key"},
        {dmo + L"|", L"s:Parvix AAC Decoder-DMO"},
        {dmo + L"|CLSID", L"s:{2EEEA175-54F6-4358-82A1-41C6051CF2E4}"},
        {dmo + L"|InputTypes", L"b:64"},
        {dmo + L"|OutputTypes", L"b:32"},
        {L"DirectShow\\MediaObjects\\Categories", L"key"},
        {L"DirectShow\\MediaObjects\\Categories\\{57F2DB8B-E6BB-4513-9D43-DCD2A6593125}", L"key"},
        {L"DirectShow\\MediaObjects\\Categories\\{57F2DB8B-E6BB-4513-9D43-DCD2A6593125}\\{E4EDB9DD-0438-4069-A368-6765AF99D336}", L"key"},
    };
    EXPECT_EQ(after, expected);
}

TEST(Registration, TheDmoRecordListsTwoInputTypesAndOneOutputType) {
    TempRegistry reg;
    ASSERT_EQ(callModule("DllRegisterServer"), S_OK);
    HKEY k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"DirectShow\\MediaObjects\\{E4EDB9DD-0438-4069-A368-6765AF99D336}", 0,
                            KEY_READ, &k),
              ERROR_SUCCESS);
    DMO_PARTIAL_MEDIATYPE in[2], out[1];
    DWORD size = sizeof in;
    ASSERT_EQ(RegQueryValueExW(k, L"InputTypes", nullptr, nullptr, reinterpret_cast<BYTE*>(in), &size), ERROR_SUCCESS);
    size = sizeof out;
    ASSERT_EQ(RegQueryValueExW(k, L"OutputTypes", nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size), ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(in[0].type, MEDIATYPE_Audio);
    EXPECT_EQ(in[0].subtype, kSubAsc);
    EXPECT_EQ(in[1].type, MEDIATYPE_Audio);
    EXPECT_EQ(in[1].subtype, kSubAscUnit);
    EXPECT_EQ(out[0].type, MEDIATYPE_Audio);
    EXPECT_EQ(out[0].subtype, MEDIASUBTYPE_PCM);
}

TEST(Registration, UnregisterLeavesNoneOfItsKeys) {
    TempRegistry reg;
    const auto before = snapshot();
    ASSERT_EQ(callModule("DllRegisterServer"), S_OK);
    ASSERT_EQ(callModule("DllUnregisterServer"), S_OK);
    auto after = snapshot();
    for (const auto& [k, v] : before) after.erase(k);
    // What stays are the shared containers other servers register below.
    for (const wchar_t* shared : {L"AppID", L"CLSID", L"TypeLib", L"DirectShow", L"DirectShow\\MediaObjects",
                                  L"DirectShow\\MediaObjects\\Categories",
                                  L"DirectShow\\MediaObjects\\Categories\\{57F2DB8B-E6BB-4513-9D43-DCD2A6593125}"})
        after.erase(shared);
    EXPECT_TRUE(after.empty()) << after.begin()->first.size();
}

TEST(Registration, ARegistrationInOneProcessServesActivationInAnother) {
    TempRegistry reg;
    const std::string tool = std::string(SONADEC_TOOL_RUNNER) + " " + SONADEC_REGSVR;
    const std::string cmd = tool + " " + SONADEC_MODULE + " > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    IMediaObject* mo = nullptr;
    EXPECT_EQ(CoCreateInstance(kDecoderClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaObject,
                               reinterpret_cast<void**>(&mo)),
              S_OK);
    if (mo) mo->Release();
    CoUninitialize();
    const std::string undo = tool + " -u " + SONADEC_MODULE + " > /dev/null";
    ASSERT_EQ(std::system(undo.c_str()), 0);
    HKEY k;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}", 0, KEY_READ, &k),
              ERROR_FILE_NOT_FOUND);
}

class Module : public RegisteredModule {};

TEST_F(Module, CanUnloadOnlyWithoutObjectsAndLocks) {
    HMODULE m = LoadLibraryW(modulePathW().c_str());
    auto canUnload = reinterpret_cast<HRESULT (*)()>(GetProcAddress(m, "DllCanUnloadNow"));
    auto getClass = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(GetProcAddress(m, "DllGetClassObject"));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK);
    create();
    EXPECT_EQ(canUnload(), S_FALSE);
    mo->Release();
    mo = nullptr;
    EXPECT_EQ(canUnload(), S_OK);
    IClassFactory* f = nullptr;
    ASSERT_EQ(getClass(kDecoderClsid, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    f->LockServer(TRUE);
    f->Release();
    EXPECT_EQ(canUnload(), S_FALSE);
    ASSERT_EQ(getClass(kDecoderClsid, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    f->LockServer(FALSE);
    f->Release();
    EXPECT_EQ(canUnload(), S_OK);
    void* p = nullptr;
    EXPECT_EQ(getClass(kSubAsc, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(getClass(kDecoderClsid, IID_IClassFactory, nullptr), E_POINTER);
    FreeLibrary(m);
}

namespace {
// A minimal controlling object for aggregation.
struct Outer : IUnknown {
    IUnknown* inner = nullptr;
    ULONG refs = 1;
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            ++refs;
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
};
} // namespace

TEST_F(Module, AggregationNeedsIUnknown) {
    IClassFactory* f = nullptr;
    ASSERT_EQ(CoGetClassObject(kDecoderClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&f)),
              S_OK);
    Outer outer;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(f->CreateInstance(&outer, IID_IMediaObject, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(f->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    IMediaObject* mobj = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IMediaObject, reinterpret_cast<void**>(&mobj)), S_OK);
    const ULONG before = outer.refs;
    IUnknown* viaObject = nullptr;
    ASSERT_EQ(mobj->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaObject)), S_OK);
    EXPECT_EQ(viaObject, &outer); // the media object delegates to its controller
    EXPECT_EQ(outer.refs, before + 1);
    mobj->Release();
    outer.inner->Release();
    f->Release();
}

namespace {

std::map<std::wstring, std::wstring> snapshotAll() {
    std::map<std::wstring, std::wstring> m;
    dump(HKEY_CLASSES_ROOT, L"HKCR", &m);
    dump(HKEY_LOCAL_MACHINE, L"HKLM", &m);
    return m;
}

// Runs the registration tool with the process ended after its k-th registry
// write (k = 0: never); its exit status.
int registerTool(bool undo, int k) {
    std::string cmd;
    if (k > 0) cmd = "SONADEC_REGISTRY_EXIT_AFTER=" + std::to_string(k) + " ";
    cmd += std::string(SONADEC_TOOL_RUNNER) + " " + SONADEC_REGSVR + (undo ? " -u " : " ") + SONADEC_MODULE +
           " > /dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(Registration, AProcessKilledAtAnyWriteLeavesTheRegistryAsBeforeOrAsAfter) {
    for (bool undo : {false, true}) {
        // The states before and after a complete run.
        std::map<std::wstring, std::wstring> before, after;
        {
            TempRegistry reg;
            if (undo) {
                ASSERT_EQ(registerTool(false, 0), 0);
            }
            before = snapshotAll();
            ASSERT_EQ(registerTool(undo, 0), 0);
            after = snapshotAll();
        }
        ASSERT_NE(before, after);
        int killed = 0;
        for (int k = 1; k < 500; ++k) {
            TempRegistry reg;
            if (undo) {
                ASSERT_EQ(registerTool(false, 0), 0);
            }
            const int status = registerTool(undo, k);
            const auto now = snapshotAll();
            EXPECT_TRUE(now == before || now == after) << (undo ? "unregistration" : "registration")
                                                       << " killed after write " << k;
            if (status != 86) {
                EXPECT_EQ(status, 0);
                EXPECT_EQ(now, after);
                break;
            }
            EXPECT_EQ(now, before) << "killed after write " << k;
            ++killed;
        }
        EXPECT_GT(killed, 5) << "the run makes several writes";
    }
}
