#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "atlreg.h"
#include "internal.h"
#include "mediaobj.h"
#include "registry_env.h"
#include "winreg.h"

namespace {

const GUID kSample = {0x2EEEA175, 0x54F6, 0x4358, {0x82, 0xA1, 0x41, 0xC6, 0x05, 0x1C, 0xF2, 0xE4}};

std::wstring queryString(HKEY root, const wchar_t* path, const wchar_t* name, LONG* err = nullptr) {
    HKEY k;
    LONG e = RegOpenKeyExW(root, path, 0, KEY_READ, &k);
    if (err) *err = e;
    if (e != ERROR_SUCCESS) return L"<no key>";
    wchar_t buf[512];
    DWORD size = sizeof buf, type = 0;
    e = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (err) *err = e;
    if (e != ERROR_SUCCESS || type != REG_SZ) return L"<no value>";
    return buf;
}

bool keyExists(HKEY root, const wchar_t* path) {
    HKEY k;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

void setString(HKEY k, const wchar_t* name, const wchar_t* v) {
    ASSERT_EQ(RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v),
                             static_cast<DWORD>((wcslen(v) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

HKEY create(HKEY root, const wchar_t* path) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
    return k;
}

} // namespace

TEST(Guid, FormatsInBracesUppercase) {
    wchar_t text[39];
    ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
    EXPECT_STREQ(text, L"{2EEEA175-54F6-4358-82A1-41C6051CF2E4}");
}

TEST(Guid, FormatRefusesShortBuffer) {
    wchar_t text[38];
    EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
}

TEST(Guid, ParsesWhatItFormatsInEitherCase) {
    CLSID g{};
    ASSERT_EQ(CLSIDFromString(L"{2eeea175-54f6-4358-82a1-41c6051cf2e4}", &g), S_OK);
    EXPECT_EQ(g, kSample);
}

TEST(Guid, RefusesMalformedText) {
    CLSID g{};
    EXPECT_EQ(CLSIDFromString(L"2EEEA175-54F6-4358-82A1-41C6051CF2E4", &g), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(L"{2EEEA175-54F6-4358-82A141C6051CF2E4}", &g), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(L"{2EEEA175-54F6-4358-82A1-41C6051CF2E4}x", &g), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(L"{2EEEA17G-54F6-4358-82A1-41C6051CF2E4}", &g), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(L"{2EEE", &g), CO_E_CLASSSTRING);
}

TEST(Registry, StoresStringsAndDwords) {
    TempRegistry reg;
    HKEY k = create(HKEY_CLASSES_ROOT, L"A\\B");
    setString(k, nullptr, L"default text");
    const DWORD n = 6291456;
    ASSERT_EQ(RegSetValueExW(k, L"Merit", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4), ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, L"A\\B", nullptr), L"default text");
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"A\\B", 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD v = 0, type = 0, size = 4;
    EXPECT_EQ(RegQueryValueExW(k, L"MERIT", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(v, n);
    RegCloseKey(k);
}

TEST(Registry, KeyNamesAreCaseInsensitive) {
    TempRegistry reg;
    HKEY k = create(HKEY_CLASSES_ROOT, L"Clsid\\InprocServer32");
    setString(k, L"ThreadingModel", L"Both");
    RegCloseKey(k);
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, L"CLSID\\inprocserver32", L"threadingmodel"), L"Both");
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(k);
}

TEST(Registry, RootsAreSeparate) {
    TempRegistry reg;
    RegCloseKey(create(HKEY_LOCAL_MACHINE, L"Software\\X"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Software\\X"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, L"Software\\X"));
}

TEST(Registry, MissingKeyAndValueAreNotFound) {
    TempRegistry reg;
    HKEY k;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Nothing", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"Something"));
    LONG e;
    queryString(HKEY_CLASSES_ROOT, L"Something", L"v", &e);
    EXPECT_EQ(e, ERROR_FILE_NOT_FOUND);
}

TEST(Registry, ShortValueBufferGetsMoreDataAndTheSize) {
    TempRegistry reg;
    HKEY k = create(HKEY_CLASSES_ROOT, L"K");
    setString(k, nullptr, L"abcdef");
    wchar_t small[2];
    DWORD size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(k, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 7 * sizeof(wchar_t));
    RegCloseKey(k);
}

TEST(Registry, DeletingAKeyWithSubkeysIsRefused) {
    TempRegistry reg;
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"P\\C"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"P"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"P\\C"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"P\\C"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"p"), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"P"));
}

TEST(Registry, HandleOfADeletedKeyReportsIt) {
    TempRegistry reg;
    HKEY k = create(HKEY_CLASSES_ROOT, L"Gone");
    ASSERT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Gone"), ERROR_SUCCESS);
    const DWORD v = 1;
    EXPECT_EQ(RegSetValueExW(k, L"x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_KEY_DELETED);
    RegCloseKey(k);
}

TEST(Registry, BadHandlesAreRefusedNotFollowed) {
    TempRegistry reg;
    // Values that were never handles, and one that was closed.
    long stackWord = 0;
    const HKEY bogus[] = {reinterpret_cast<HKEY>(&stackWord), reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234)),
                          reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xDEADBEEF0ull)),
                          reinterpret_cast<HKEY>(static_cast<uintptr_t>(1))};
    HKEY closed;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Test\\Closed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &closed,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    std::vector<HKEY> all(std::begin(bogus), std::end(bogus));
    all.push_back(closed);
    for (HKEY k : all) {
        HKEY out;
        DWORD v = 1, size = sizeof v;
        wchar_t name[16];
        DWORD cch = 16;
        EXPECT_EQ(RegOpenKeyExW(k, L"x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCreateKeyExW(k, L"x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegQueryValueExW(k, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegSetValueExW(k, L"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), sizeof v), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteValueW(k, L"v"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteKeyW(k, L"x"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegEnumKeyExW(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(stackWord, 0);
}

TEST(Registry, ADeletedKeysHandleNeverReachesANewKey) {
    TempRegistry reg;
    HKEY parent, old;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parent, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(parent, L"Old", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &old, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(parent, L"Old"), ERROR_SUCCESS);
    // The newest key goes and others come: none may answer to the old handle.
    for (int i = 0; i < 4; ++i) {
        HKEY fresh;
        const std::wstring name = L"New" + std::to_wstring(i);
        ASSERT_EQ(RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &fresh, nullptr),
                  ERROR_SUCCESS);
        const DWORD v = 7;
        EXPECT_EQ(RegSetValueExW(old, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v),
                  ERROR_KEY_DELETED);
        DWORD got = 0, size = sizeof got;
        EXPECT_EQ(RegQueryValueExW(fresh, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&got), &size),
                  ERROR_FILE_NOT_FOUND);
        RegCloseKey(fresh);
        if (i % 2 == 0) {
            ASSERT_EQ(RegDeleteKeyW(parent, name.c_str()), ERROR_SUCCESS);
        }
    }
    RegCloseKey(old);
    RegCloseKey(parent);
}

TEST(Registry, EnumeratesSubkeysAndValues) {
    TempRegistry reg;
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"E\\one"));
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"E\\two"));
    HKEY k = create(HKEY_CLASSES_ROOT, L"E");
    setString(k, L"v", L"x");
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t n[64];
        DWORD cch = 64;
        if (RegEnumKeyExW(k, i, n, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(n);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"one", L"two"}));
    wchar_t n[8];
    DWORD cch = 8, type = 0;
    EXPECT_EQ(RegEnumValueW(k, 0, n, &cch, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(n, L"v");
    cch = 8;
    EXPECT_EQ(RegEnumValueW(k, 1, n, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(k);
}

TEST(Registry, PersistsInItsFile) {
    TempRegistry reg;
    HKEY k = create(HKEY_CLASSES_ROOT, L"Kept");
    setString(k, nullptr, L"yes");
    RegCloseKey(k);
    {
        TempRegistry other; // another file: the key is not there
        EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Kept"));
        setenv("SONADEC_REGISTRY", reg.path().c_str(), 1);
    }
    setenv("SONADEC_REGISTRY", reg.path().c_str(), 1);
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, L"Kept", nullptr), L"yes");
}

TEST(Registry, ABatchRolledBackLeavesNothing) {
    TempRegistry reg;
    {
        platform_internal::RegistryBatch batch;
        RegCloseKey(create(HKEY_CLASSES_ROOT, L"Half\\Done"));
        batch.fail();
    }
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Half"));
}

TEST(Registry, AProcessKilledInARegistrationLeavesNothing) {
    TempRegistry reg;
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"Before"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform_internal::RegistryBatch batch;
        HKEY k;
        RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Interrupted\\Key", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        _exit(9); // dies before the batch commits
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"Before"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Interrupted"));
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"After"));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"After"));
}

TEST(Registry, ConcurrentProcessesAllWrite) {
    TempRegistry reg;
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"Shared"));
    std::vector<pid_t> kids;
    for (int p = 0; p < 4; ++p) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool ok = true;
            for (int i = 0; i < 20; ++i) {
                const std::wstring path = L"Shared\\p" + std::to_wstring(p) + L"_" + std::to_wstring(i);
                HKEY k;
                ok = ok && RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &k, nullptr) == ERROR_SUCCESS;
                if (ok) RegCloseKey(k);
            }
            _exit(ok ? 0 : 1);
        }
        kids.push_back(child);
    }
    for (pid_t k : kids) {
        int status = 0;
        waitpid(k, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HKEY k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Shared", 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD count = 0;
    wchar_t n[64];
    for (DWORD cch = 64; RegEnumKeyExW(k, count, n, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; cch = 64)
        ++count;
    RegCloseKey(k);
    EXPECT_EQ(count, 80u);
}

namespace {
const wchar_t kScript[] =
    L"HKCR\n{\n NoRemove CLSID\n {\n  ForceRemove {2EEEA175-54F6-4358-82A1-41C6051CF2E4} = s 'Class'\n  {\n"
    L"   InprocServer32 = s '%MODULE%'\n   {\n    val ThreadingModel = s 'Both'\n   }\n"
    L"   val MERIT = d '6291456'\n   val Pct = s '100%%'\n  }\n }\n 'Plain Key' = s 'it''s'\n}\n";
const wchar_t kClassKey[] = L"CLSID\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}";
} // namespace

TEST(Registrar, WritesKeysValuesAndReplacements) {
    TempRegistry reg;
    CRegObject r;
    r.AddReplacement(L"MODULE", L"/lib/x.so");
    ASSERT_EQ(r.StringRegister(kScript), S_OK);
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, kClassKey, nullptr), L"Class");
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, L"CLSID\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}\\InprocServer32", nullptr),
              L"/lib/x.so");
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, L"CLSID\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}\\InprocServer32",
                          L"ThreadingModel"),
              L"Both");
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, kClassKey, L"Pct"), L"100%");
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, L"Plain Key", nullptr), L"it's");
    HKEY k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, kClassKey, 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD merit = 0, type = 0, size = 4;
    EXPECT_EQ(RegQueryValueExW(k, L"MERIT", nullptr, &type, reinterpret_cast<BYTE*>(&merit), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(merit, 0x600000u);
    RegCloseKey(k);
}

TEST(Registrar, ForceRemoveReplacesStaleSubkeys) {
    TempRegistry reg;
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"CLSID\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}\\Stale"));
    CRegObject r;
    r.AddReplacement(L"MODULE", L"m");
    ASSERT_EQ(r.StringRegister(kScript), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"CLSID\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}\\Stale"));
}

TEST(Registrar, RemoveKeepsNoRemoveKeysAndOthersKeys) {
    TempRegistry reg;
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-0000-0000-0000-000000000001}"));
    CRegObject r;
    r.AddReplacement(L"MODULE", L"m");
    ASSERT_EQ(r.StringRegister(kScript), S_OK);
    ASSERT_EQ(r.StringUnregister(kScript), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Plain Key"));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-0000-0000-0000-000000000001}"));
}

TEST(Registrar, RemovingAKeyOthersUseKeepsItButTakesBackItsValues) {
    TempRegistry reg;
    const wchar_t script[] = L"HKCR { Shared = s 'mine' { val Own = s 'x' } }";
    CRegObject r;
    ASSERT_EQ(r.StringRegister(script), S_OK);
    RegCloseKey(create(HKEY_CLASSES_ROOT, L"Shared\\Theirs"));
    ASSERT_EQ(r.StringUnregister(script), S_OK);
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"Shared\\Theirs"));
    LONG e;
    queryString(HKEY_CLASSES_ROOT, L"Shared", L"Own", &e);
    EXPECT_EQ(e, ERROR_FILE_NOT_FOUND);
}

TEST(Registrar, AScriptThatDoesNotParseWritesNothing) {
    TempRegistry reg;
    CRegObject r;
    EXPECT_TRUE(FAILED(r.StringRegister(L"HKCR { A = s 'x' { B = s '%UNKNOWN%' } }")));
    EXPECT_TRUE(FAILED(r.StringRegister(L"HKCR { A = s 'x' { ")));
    EXPECT_TRUE(FAILED(r.StringRegister(L"HKXX { A }")));
    EXPECT_TRUE(FAILED(r.StringRegister(L"HKCR { A { val N = d 'ten' } }")));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"A"));
}

TEST(TypeLib, RegistersAndRemovesTheVersionKeys) {
    TempRegistry reg;
    const TLIBATTR attr = {kSample, 0, SYS_WIN32, 1, 0, 0};
    ASSERT_EQ(RegisterTypeLibAttr(&attr, L"Lib", L"Lib 1.0 Type Library", L"/opt/m/lib.so", nullptr), S_OK);
    const wchar_t ver[] = L"TypeLib\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}\\1.0";
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, ver, nullptr), L"Lib 1.0 Type Library");
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, (std::wstring(ver) + L"\\0\\win32").c_str(), nullptr), L"/opt/m/lib.so");
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, (std::wstring(ver) + L"\\FLAGS").c_str(), nullptr), L"0");
    EXPECT_EQ(queryString(HKEY_CLASSES_ROOT, (std::wstring(ver) + L"\\HELPDIR").c_str(), nullptr), L"/opt/m");
    ASSERT_EQ(UnRegisterTypeLib(kSample, 1, 0, 0, SYS_WIN32), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"TypeLib\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}"));
}

TEST(MediaType, InitCopyAndFree) {
    DMO_MEDIA_TYPE a;
    ASSERT_EQ(MoInitMediaType(&a, 18), S_OK);
    EXPECT_EQ(a.cbFormat, 18u);
    ASSERT_NE(a.pbFormat, nullptr);
    a.pbFormat[17] = 7;
    a.subtype = kSample;
    DMO_MEDIA_TYPE b;
    ASSERT_EQ(MoCopyMediaType(&b, &a), S_OK);
    EXPECT_NE(b.pbFormat, a.pbFormat);
    EXPECT_EQ(b.pbFormat[17], 7);
    EXPECT_EQ(b.subtype, kSample);
    EXPECT_EQ(MoFreeMediaType(&a), S_OK);
    EXPECT_EQ(MoFreeMediaType(&b), S_OK);
    EXPECT_EQ(b.pbFormat, nullptr);
    EXPECT_EQ(MoInitMediaType(nullptr, 1), E_POINTER);
    EXPECT_EQ(MoCopyMediaType(&a, nullptr), E_POINTER);
}

namespace {
const GUID kSubA = {0xA, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
const GUID kSubB = {0xB, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
const GUID kFilter = {0x1234, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

std::vector<CLSID> enumerate(REFGUID category, const DMO_PARTIAL_MEDIATYPE* in) {
    IEnumDMO* e = nullptr;
    std::vector<CLSID> out;
    if (DMOEnum(category, 0, in ? 1 : 0, in, 0, nullptr, &e) != S_OK) return out;
    CLSID c;
    WCHAR* name = nullptr;
    DWORD got = 0;
    while (e->Next(1, &c, &name, &got) == S_OK && got == 1) {
        out.push_back(c);
        CoTaskMemFree(name);
    }
    e->Release();
    return out;
}
} // namespace

TEST(DmoRegistry, FindsAMediaObjectByCategoryAndInputType) {
    TempRegistry reg;
    const DMO_PARTIAL_MEDIATYPE in[] = {{MEDIATYPE_Audio, kSubA}};
    const DMO_PARTIAL_MEDIATYPE out[] = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}};
    ASSERT_EQ(DMORegisterFilter(L"Decoder", kSample, DMOCATEGORY_AUDIO_DECODER, kFilter, 0, 1, in, 1, out), S_OK);
    EXPECT_EQ(enumerate(DMOCATEGORY_AUDIO_DECODER, &in[0]), std::vector<CLSID>{kSample});
    const DMO_PARTIAL_MEDIATYPE other = {MEDIATYPE_Audio, kSubB};
    EXPECT_TRUE(enumerate(DMOCATEGORY_AUDIO_DECODER, &other).empty());
    const DMO_PARTIAL_MEDIATYPE any = {MEDIATYPE_Audio, GUID_NULL};
    EXPECT_EQ(enumerate(DMOCATEGORY_AUDIO_DECODER, &any).size(), 1u);
    EXPECT_TRUE(enumerate(kSubB, nullptr).empty());
    EXPECT_EQ(enumerate(GUID_NULL, nullptr).size(), 1u);
}

TEST(DmoRegistry, UnregisterRemovesTheRecord) {
    TempRegistry reg;
    const DMO_PARTIAL_MEDIATYPE in[] = {{MEDIATYPE_Audio, kSubA}};
    ASSERT_EQ(DMORegisterFilter(L"Decoder", kSample, DMOCATEGORY_AUDIO_DECODER, kFilter, 0, 1, in, 0, nullptr), S_OK);
    ASSERT_EQ(DMOUnregisterFilter(kFilter), S_OK);
    EXPECT_TRUE(enumerate(GUID_NULL, nullptr).empty());
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"DirectShow\\MediaObjects\\{00001234-0001-0002-0304-05060708090A}"));
}

TEST(Com, ActivationNeedsInitialisation) {
    TempRegistry reg;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CO_E_NOTINITIALIZED);
    EXPECT_EQ(p, nullptr);
}

TEST(Com, UnregisteredClassAndMissingModule) {
    TempRegistry reg;
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    HKEY k = create(HKEY_CLASSES_ROOT, L"CLSID\\{2EEEA175-54F6-4358-82A1-41C6051CF2E4}\\InprocServer32");
    setString(k, nullptr, L"/nonexistent/module.so");
    RegCloseKey(k);
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CO_E_DLLNOTFOUND);
    CoUninitialize();
}

// CoFreeUnusedLibraries while another thread is inside the module's
// DllGetClassObject must wait: the module is not unloadable until then only
// because the class object has not been handed out yet.
TEST(Com, FreeUnusedLibrariesCannotUnloadAModuleBeingAskedForAClassObject) {
    TempRegistry reg;
    const GUID kSlow = {0x51041000, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    wchar_t text[40];
    StringFromGUID2(kSlow, text, 40);
    HKEY k = create(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + text + L"\\InprocServer32").c_str());
    const std::string path = SLOW_MODULE;
    setString(k, nullptr, std::wstring(path.begin(), path.end()).c_str());
    RegCloseKey(k);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    std::atomic<bool> asking{false};
    std::thread unloader([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        while (!asking.load()) std::this_thread::yield();
        usleep(20000); // well inside the module's DllGetClassObject
        CoFreeUnusedLibraries();
        CoUninitialize();
    });
    IClassFactory* f = nullptr;
    asking = true;
    const HRESULT hr = CoGetClassObject(kSlow, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                        reinterpret_cast<void**>(&f));
    unloader.join();
    ASSERT_EQ(hr, S_OK);
    // The factory still works: its module is loaded.
    void* obj = reinterpret_cast<void*>(1);
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IUnknown, &obj), E_NOINTERFACE);
    EXPECT_EQ(obj, nullptr);
    f->Release();
    CoUninitialize();
}

TEST(CriticalSection, IsReentrantForItsOwner) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
    SUCCEED();
}
