// The Vistarend module's registration records and their removal, through
// its exports as a registration tool calls them.
#include "renderer_fixture.h"

namespace {

const wchar_t kClassKey[] = L"CLSID\\{90A0ACB7-6A89-46C8-BB4D-3899FFDD2BE5}";
const wchar_t kFilterKey[] =
    L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\{90A0ACB7-6A89-46C8-BB4D-3899FFDD2BE5}";
const wchar_t kPinKey[] = L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\{90A0ACB7-6A89-46C8-BB4D-"
                          L"3899FFDD2BE5}\\Pins\\Input";
const CLSID kClsid = {0x90A0ACB7, 0x6A89, 0x46C8, {0xBB, 0x4D, 0x38, 0x99, 0xFF, 0xDD, 0x2B, 0xE5}};

class Module {
public:
    Module() {
        const std::string path = VISTAREND_MODULE;
        handle_ = LoadLibraryW(std::wstring(path.begin(), path.end()).c_str());
    }
    ~Module() {
        if (handle_) FreeLibrary(handle_);
    }
    HRESULT call(const char* name) {
        auto f = reinterpret_cast<HRESULT (*)()>(GetProcAddress(handle_, name));
        return f ? f() : E_FAIL;
    }
    HMODULE handle() const { return handle_; }
private:
    HMODULE handle_;
};

std::wstring readString(const std::wstring& path, LPCWSTR name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
    wchar_t buf[1024] = {};
    DWORD size = sizeof buf, type = 0;
    const LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_SZ ? std::wstring(buf) : L"<no value>";
}

DWORD readDword(const std::wstring& path, LPCWSTR name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0xDEADBEEF;
    DWORD value = 0, size = sizeof value, type = 0;
    const LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_DWORD ? value : 0xDEADBEEF;
}

bool keyExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

class Registered : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(module.call("DllRegisterServer"), S_OK); }
    TempRegistry registry;
    Module module;
};

TEST_F(Registered, ClassKeyNamesTheFilter) {
    EXPECT_EQ(readString(kClassKey, nullptr), L"Parvix Video Renderer");
}

TEST_F(Registered, InprocServerIsTheModuleFile) {
    wchar_t path[4096];
    const DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(GetProcAddress(module.handle(), "DllMain")), path, 4096);
    EXPECT_EQ(readString(std::wstring(kClassKey) + L"\\InprocServer32", nullptr), std::wstring(path, n));
}

TEST_F(Registered, ThreadingModelIsBoth) {
    EXPECT_EQ(readString(std::wstring(kClassKey) + L"\\InprocServer32", L"ThreadingModel"), L"Both");
}

TEST_F(Registered, FilterRecordHasTheName) {
    EXPECT_EQ(readString(kFilterKey, L"FriendlyName"), L"Parvix Video Renderer");
}

TEST_F(Registered, FilterRecordHasTheClass) {
    EXPECT_EQ(readString(kFilterKey, L"CLSID"), L"{90A0ACB7-6A89-46C8-BB4D-3899FFDD2BE5}");
}

TEST_F(Registered, FilterRecordHasTheMerit) {
    EXPECT_EQ(readDword(kFilterKey, L"Merit"), 0x600000u);
}

TEST_F(Registered, PinIsNotRendered) {
    EXPECT_EQ(readDword(kPinKey, L"Rendered"), 0u);
}

TEST_F(Registered, PinIsAnInput) {
    EXPECT_EQ(readDword(kPinKey, L"Output"), 0u);
}

TEST_F(Registered, PinHasNoZeroInstances) {
    EXPECT_EQ(readDword(kPinKey, L"ZeroInstances"), 0u);
}

TEST_F(Registered, PinHasNoManyInstances) {
    EXPECT_EQ(readDword(kPinKey, L"Many"), 0u);
}

TEST_F(Registered, PinConnectsToAnyFilter) {
    EXPECT_EQ(readString(kPinKey, L"ConnectsToFilter"), L"{00000000-0000-0000-0000-000000000000}");
}

TEST_F(Registered, PinConnectsToOutput) {
    EXPECT_EQ(readString(kPinKey, L"ConnectsToPin"), L"Output");
}

TEST_F(Registered, PinTakesVideoYv12) {
    EXPECT_TRUE(keyExists(std::wstring(kPinKey) +
                          L"\\Types\\{73646976-0000-0010-8000-00AA00389B71}\\{32315659-0000-0010-8000-00AA00389B71}"));
}

TEST_F(Registered, RegisteringTwiceIsTheSame) {
    EXPECT_EQ(module.call("DllRegisterServer"), S_OK);
}

TEST_F(Registered, UnregisterRemovesTheClassKey) {
    ASSERT_EQ(module.call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(keyExists(kClassKey));
}

TEST_F(Registered, UnregisterRemovesTheFilterRecord) {
    ASSERT_EQ(module.call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(keyExists(kFilterKey));
}

TEST_F(Registered, CoCreateInstanceMakesTheRenderer) {
    CoInitialize(nullptr);
    IBaseFilter* filter = nullptr;
    const HRESULT hr = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                        reinterpret_cast<void**>(&filter));
    CLSID clsid{};
    if (filter) {
        filter->GetClassID(&clsid);
        filter->Release();
    }
    CoUninitialize();
    EXPECT_TRUE(hr == S_OK && clsid == kClsid);
}

TEST(Module, OtherClassIsNotAvailable) {
    Module module;
    auto get = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(GetProcAddress(module.handle(), "DllGetClassObject"));
    void* p = nullptr;
    EXPECT_EQ(get(GUID_NULL, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
}

TEST(Module, CanUnloadWhenNothingIsAlive) {
    Module module;
    EXPECT_EQ(module.call("DllCanUnloadNow"), S_OK);
}

TEST(Module, CannotUnloadWhileAFactoryLives) {
    Module module;
    auto get = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(GetProcAddress(module.handle(), "DllGetClassObject"));
    IClassFactory* factory = nullptr;
    get(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    const HRESULT hr = module.call("DllCanUnloadNow");
    factory->Release();
    EXPECT_EQ(hr, S_FALSE);
}

TEST(Module, AggregationAsksForIUnknown) {
    Module module;
    auto get = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(GetProcAddress(module.handle(), "DllGetClassObject"));
    IClassFactory* factory = nullptr;
    get(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    void* p = nullptr;
    const HRESULT hr = factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IBaseFilter, &p);
    factory->Release();
    EXPECT_EQ(hr, E_NOINTERFACE);
}

} // namespace
