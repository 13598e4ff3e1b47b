// A registered Sonadec module in a temporary registry, and helpers that
// build input types and buffers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../platform/registry_env.h"
#include "mediaobj.h"

inline const CLSID kDecoderClsid = {0x2EEEA175, 0x54F6, 0x4358, {0x82, 0xA1, 0x41, 0xC6, 0x05, 0x1C, 0xF2, 0xE4}};
inline const GUID kSubAsc = {0x0000A106, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline const GUID kSubAscUnit = {0xF8C0A945, 0x71A6, 0x431B, {0x90, 0x56, 0x83, 0xA8, 0x4C, 0xCF, 0xCF, 0x50}};

inline std::wstring modulePathW() {
    const std::string s = SONADEC_MODULE;
    return std::wstring(s.begin(), s.end());
}

inline HRESULT callModule(const char* entry) {
    HMODULE m = LoadLibraryW(modulePathW().c_str());
    if (m == nullptr) return E_FAIL;
    auto f = reinterpret_cast<HRESULT (*)()>(GetProcAddress(m, entry));
    const HRESULT hr = f ? f() : E_FAIL;
    FreeLibrary(m);
    return hr;
}

// WAVEFORMATEX for format tag 0xA106 followed by `codec`.
inline std::vector<BYTE> waveFormat(WORD tag, WORD channels, DWORD rate, const std::vector<BYTE>& codec) {
    WAVEFORMATEX w{};
    w.wFormatTag = tag;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.wBitsPerSample = 16;
    w.cbSize = static_cast<WORD>(codec.size());
    std::vector<BYTE> out(sizeof w + codec.size());
    std::memcpy(out.data(), &w, sizeof w);
    if (!codec.empty()) std::memcpy(out.data() + sizeof w, codec.data(), codec.size());
    return out;
}

inline std::vector<BYTE> unitCodecData(const std::vector<BYTE>& asc, const std::vector<BYTE>& unit) {
    std::vector<BYTE> c = {static_cast<BYTE>(asc.size()), static_cast<BYTE>(asc.size() >> 8), 0, 0,
                           static_cast<BYTE>(unit.size()), static_cast<BYTE>(unit.size() >> 8), 0, 0};
    c.resize(8 + asc.size() + unit.size());
    if (!asc.empty()) std::memcpy(c.data() + 8, asc.data(), asc.size());
    if (!unit.empty()) std::memcpy(c.data() + 8 + asc.size(), unit.data(), unit.size());
    return c;
}

// A media type whose format block is `format` (not owned: tests keep it).
inline DMO_MEDIA_TYPE audioType(const GUID& subtype, std::vector<BYTE>& format) {
    DMO_MEDIA_TYPE t{};
    t.majortype = MEDIATYPE_Audio;
    t.subtype = subtype;
    t.formattype = FORMAT_WaveFormatEx;
    t.cbFormat = static_cast<ULONG>(format.size());
    t.pbFormat = format.data();
    return t;
}

class TestBuffer final : public UnknownImpl<IMediaBuffer, IID_IMediaBuffer> {
public:
    explicit TestBuffer(std::vector<BYTE> bytes, DWORD max = 0) : bytes_(std::move(bytes)) {
        length_ = static_cast<DWORD>(bytes_.size());
        if (max > bytes_.size()) bytes_.resize(max);
        max_ = static_cast<DWORD>(bytes_.size());
        length_ = max ? 0 : length_;
    }
    static TestBuffer* input(const std::vector<BYTE>& b) {
        auto* t = new TestBuffer(b);
        t->length_ = static_cast<DWORD>(b.size());
        return t;
    }
    static TestBuffer* output(DWORD max) { return new TestBuffer(std::vector<BYTE>(), max); }
    STDMETHOD(SetLength)(DWORD l) override {
        if (l > max_) return E_INVALIDARG;
        length_ = l;
        return S_OK;
    }
    STDMETHOD(GetMaxLength)(DWORD* m) override {
        *m = max_;
        return S_OK;
    }
    STDMETHOD(GetBufferAndLength)(BYTE** b, DWORD* l) override {
        if (b) *b = bytes_.empty() ? nullptr : bytes_.data();
        if (l) *l = length_;
        return S_OK;
    }
    DWORD length() const { return length_; }
private:
    ~TestBuffer() override = default;
    std::vector<BYTE> bytes_;
    DWORD max_ = 0, length_ = 0;
};

class RegisteredModule : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(callModule("DllRegisterServer"), S_OK);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }
    void TearDown() override {
        if (mo != nullptr) mo->Release();
        mo = nullptr;
        CoUninitialize();
    }
    IMediaObject* create() {
        EXPECT_EQ(CoCreateInstance(kDecoderClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaObject,
                                   reinterpret_cast<void**>(&mo)),
                  S_OK);
        return mo;
    }
    TempRegistry registry;
    IMediaObject* mo = nullptr;
};
