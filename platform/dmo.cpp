#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "internal.h"
#include "mediaobj.h"
#include "winreg.h"

const IID IID_IMediaObject = {0xD8AD0F58, 0x5494, 0x4102, {0x97, 0xC5, 0xEC, 0x79, 0x8E, 0x59, 0xBC, 0xF4}};
const IID IID_IMediaBuffer = {0x59EFF8B9, 0x938C, 0x4A26, {0x82, 0xF2, 0x95, 0xCB, 0x84, 0xCD, 0xC8, 0x37}};
const IID IID_IEnumDMO = {0x2C3CD98A, 0x2BFA, 0x4A53, {0x9C, 0x27, 0x52, 0x49, 0xBA, 0x64, 0xBA, 0x0F}};
const GUID MEDIATYPE_Audio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID MEDIASUBTYPE_PCM = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID FORMAT_WaveFormatEx = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const GUID DMOCATEGORY_AUDIO_DECODER = {0x57F2DB8B, 0xE6BB, 0x4513, {0x9D, 0x43, 0xDC, 0xD2, 0xA6, 0x59, 0x31, 0x25}};

HRESULT MoInitMediaType(DMO_MEDIA_TYPE* pmt, DWORD cbFormat) {
    if (pmt == nullptr) return E_POINTER;
    std::memset(pmt, 0, sizeof *pmt);
    if (cbFormat > 0) {
        pmt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(cbFormat));
        if (pmt->pbFormat == nullptr) return E_OUTOFMEMORY;
        std::memset(pmt->pbFormat, 0, cbFormat);
    }
    pmt->cbFormat = cbFormat;
    return S_OK;
}

HRESULT MoFreeMediaType(DMO_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return E_POINTER;
    CoTaskMemFree(pmt->pbFormat);
    pmt->pbFormat = nullptr;
    pmt->cbFormat = 0;
    if (pmt->pUnk != nullptr) pmt->pUnk->Release();
    pmt->pUnk = nullptr;
    return S_OK;
}

HRESULT MoCopyMediaType(DMO_MEDIA_TYPE* dest, const DMO_MEDIA_TYPE* src) {
    if (dest == nullptr || src == nullptr) return E_POINTER;
    DMO_MEDIA_TYPE copy = *src;
    copy.pbFormat = nullptr;
    copy.cbFormat = 0;
    if (src->cbFormat > 0 && src->pbFormat != nullptr) {
        copy.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (copy.pbFormat == nullptr) return E_OUTOFMEMORY;
        std::memcpy(copy.pbFormat, src->pbFormat, src->cbFormat);
        copy.cbFormat = src->cbFormat;
    }
    if (copy.pUnk != nullptr) copy.pUnk->AddRef();
    *dest = copy;
    return S_OK;
}

namespace {

const wchar_t kObjectsKey[] = L"DirectShow\\MediaObjects";
const wchar_t kCategoriesKey[] = L"DirectShow\\MediaObjects\\Categories";

std::wstring guidText(REFGUID g) {
    wchar_t t[40];
    StringFromGUID2(g, t, 40);
    return t;
}

LONG setBinary(HKEY key, LPCWSTR name, const DMO_PARTIAL_MEDIATYPE* types, DWORD count) {
    return RegSetValueExW(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(types),
                          count * static_cast<DWORD>(sizeof(DMO_PARTIAL_MEDIATYPE)));
}

std::vector<DMO_PARTIAL_MEDIATYPE> readTypes(HKEY key, LPCWSTR name) {
    DWORD size = 0, type = 0;
    std::vector<DMO_PARTIAL_MEDIATYPE> types;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_BINARY)
        return types;
    types.resize(size / sizeof(DMO_PARTIAL_MEDIATYPE));
    size = static_cast<DWORD>(types.size() * sizeof(DMO_PARTIAL_MEDIATYPE));
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(types.data()), &size) != ERROR_SUCCESS)
        types.clear();
    return types;
}

std::wstring readString(HKEY key, LPCWSTR name) {
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return {};
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf.data()), &size) != ERROR_SUCCESS)
        return {};
    return buf.data();
}

bool covers(const std::vector<DMO_PARTIAL_MEDIATYPE>& have, DWORD count, const DMO_PARTIAL_MEDIATYPE* want) {
    for (DWORD i = 0; i < count; ++i) {
        bool found = false;
        for (const DMO_PARTIAL_MEDIATYPE& h : have)
            if (h.type == want[i].type && (want[i].subtype == GUID_NULL || h.subtype == want[i].subtype))
                found = true;
        if (!found) return false;
    }
    return true;
}

struct Entry {
    CLSID clsid;
    std::wstring name;
};

class EnumDMO final : public UnknownImpl<IEnumDMO, IID_IEnumDMO> {
public:
    explicit EnumDMO(std::vector<Entry> entries) : entries_(std::move(entries)) {}
    STDMETHOD(Next)(DWORD count, CLSID* clsids, WCHAR** names, DWORD* fetched) override {
        if (clsids == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        DWORD n = 0;
        for (; n < count && pos_ < entries_.size(); ++n, ++pos_) {
            clsids[n] = entries_[pos_].clsid;
            if (names != nullptr) {
                const std::wstring& s = entries_[pos_].name;
                names[n] = static_cast<WCHAR*>(CoTaskMemAlloc((s.size() + 1) * sizeof(WCHAR)));
                if (names[n] != nullptr) std::wmemcpy(names[n], s.c_str(), s.size() + 1);
            }
        }
        if (fetched != nullptr) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(DWORD count) override {
        const size_t left = entries_.size() - pos_;
        pos_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHOD(Reset)() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumDMO** out) override {
        if (out == nullptr) return E_POINTER;
        EnumDMO* e = new (std::nothrow) EnumDMO(entries_);
        if (e == nullptr) return E_OUTOFMEMORY;
        e->pos_ = pos_;
        *out = e;
        return S_OK;
    }
private:
    ~EnumDMO() = default;
    std::vector<Entry> entries_;
    size_t pos_ = 0;
};

} // namespace

HRESULT DMORegisterFilter(LPCWSTR name, REFCLSID clsid, REFGUID category, REFGUID filterId, DWORD flags,
                          DWORD inputTypeCount, const DMO_PARTIAL_MEDIATYPE* inputTypes,
                          DWORD outputTypeCount, const DMO_PARTIAL_MEDIATYPE* outputTypes) {
    if (name == nullptr || (inputTypeCount && inputTypes == nullptr) || (outputTypeCount && outputTypes == nullptr))
        return E_POINTER;
    platform_internal::RegistryBatch batch;
    if (!batch.ok()) return REGDB_E_WRITEREGDB;
    const std::wstring objectPath = std::wstring(kObjectsKey) + L"\\" + guidText(filterId);
    const std::wstring clsidText = guidText(clsid);
    HKEY key = nullptr, cat = nullptr;
    LONG e = RegCreateKeyExW(HKEY_CLASSES_ROOT, objectPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (e == ERROR_SUCCESS)
        e = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                           static_cast<DWORD>((std::wcslen(name) + 1) * sizeof(wchar_t)));
    if (e == ERROR_SUCCESS)
        e = RegSetValueExW(key, L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsidText.c_str()),
                           static_cast<DWORD>((clsidText.size() + 1) * sizeof(wchar_t)));
    if (e == ERROR_SUCCESS) e = setBinary(key, L"InputTypes", inputTypes, inputTypeCount);
    if (e == ERROR_SUCCESS) e = setBinary(key, L"OutputTypes", outputTypes, outputTypeCount);
    if (e == ERROR_SUCCESS && flags != 0)
        e = RegSetValueExW(key, L"Flags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags), sizeof flags);
    if (key != nullptr) RegCloseKey(key);
    if (e == ERROR_SUCCESS) {
        const std::wstring catPath = std::wstring(kCategoriesKey) + L"\\" + guidText(category) + L"\\" + guidText(filterId);
        e = RegCreateKeyExW(HKEY_CLASSES_ROOT, catPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &cat, nullptr);
        if (e == ERROR_SUCCESS) RegCloseKey(cat);
    }
    if (e != ERROR_SUCCESS) {
        batch.fail();
        return HRESULT_FROM_WIN32(e);
    }
    return S_OK;
}

HRESULT DMOUnregisterFilter(REFGUID filterId) {
    platform_internal::RegistryBatch batch;
    if (!batch.ok()) return REGDB_E_WRITEREGDB;
    const std::wstring id = guidText(filterId);
    HKEY cats;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kCategoriesKey, 0, KEY_ALL_ACCESS, &cats) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t cat[64];
            DWORD cch = 64;
            if (RegEnumKeyExW(cats, i, cat, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            RegDeleteKeyW(cats, (std::wstring(cat) + L"\\" + id).c_str());
        }
        RegCloseKey(cats);
    }
    const LONG e = RegDeleteKeyW(HKEY_CLASSES_ROOT, (std::wstring(kObjectsKey) + L"\\" + id).c_str());
    return e == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(e);
}

HRESULT DMOEnum(REFGUID category, DWORD, DWORD inputTypeCount, const DMO_PARTIAL_MEDIATYPE* inputTypes,
                DWORD outputTypeCount, const DMO_PARTIAL_MEDIATYPE* outputTypes, IEnumDMO** out) {
    if (out == nullptr || (inputTypeCount && inputTypes == nullptr) || (outputTypeCount && outputTypes == nullptr))
        return E_POINTER;
    *out = nullptr;
    std::vector<std::wstring> ids;
    HKEY cats;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kCategoriesKey, 0, KEY_READ, &cats) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t cat[64];
            DWORD cch = 64;
            if (RegEnumKeyExW(cats, i, cat, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            CLSID c;
            if (category != GUID_NULL && (CLSIDFromString(cat, &c) != S_OK || c != category)) continue;
            HKEY catKey;
            if (RegOpenKeyExW(cats, cat, 0, KEY_READ, &catKey) != ERROR_SUCCESS) continue;
            for (DWORD j = 0;; ++j) {
                wchar_t id[64];
                DWORD idc = 64;
                if (RegEnumKeyExW(catKey, j, id, &idc, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
                ids.push_back(id);
            }
            RegCloseKey(catKey);
        }
        RegCloseKey(cats);
    }
    std::vector<Entry> found;
    for (const std::wstring& id : ids) {
        HKEY key;
        const std::wstring path = std::wstring(kObjectsKey) + L"\\" + id;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        Entry e;
        const bool ok = CLSIDFromString(readString(key, L"CLSID").c_str(), &e.clsid) == S_OK &&
                        covers(readTypes(key, L"InputTypes"), inputTypeCount, inputTypes) &&
                        covers(readTypes(key, L"OutputTypes"), outputTypeCount, outputTypes);
        e.name = readString(key, nullptr);
        RegCloseKey(key);
        bool duplicate = false;
        for (const Entry& f : found) duplicate = duplicate || f.clsid == e.clsid;
        if (ok && !duplicate) found.push_back(std::move(e));
    }
    EnumDMO* en = new (std::nothrow) EnumDMO(std::move(found));
    if (en == nullptr) return E_OUTOFMEMORY;
    *out = en;
    return S_OK;
}
