// What the renderer tests share: a manual reference clock, a sample over a
// plain buffer, test frames, and a rig holding a renderer, a source and a
// graph with a fresh registry and screen of its own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../platform/registry_env.h"
#include "VideoRendererFilter.h"
#include "graph.h"
#include "presenter.h"
#include "winreg.h"

// A clock the test moves by hand; advises fire when it reaches them.
class ManualClock final : public IReferenceClock {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IReferenceClock) return GetInterface(this, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; }
    STDMETHOD(GetTime)(REFERENCE_TIME* t) override {
        std::lock_guard<std::mutex> g(lock_);
        *t = now_;
        return S_OK;
    }
    STDMETHOD(AdviseTime)(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT event, DWORD_PTR* cookie) override {
        std::lock_guard<std::mutex> g(lock_);
        *cookie = next_++;
        if (base + stream <= now_) SetEvent(reinterpret_cast<HANDLE>(event));
        else advises_[*cookie] = {base + stream, reinterpret_cast<HANDLE>(event)};
        changed_.notify_all();
        return S_OK;
    }
    STDMETHOD(AdvisePeriodic)(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
    STDMETHOD(Unadvise)(DWORD_PTR cookie) override {
        std::lock_guard<std::mutex> g(lock_);
        return advises_.erase(cookie) ? S_OK : S_FALSE;
    }
    void SetTime(REFERENCE_TIME t) {
        std::lock_guard<std::mutex> g(lock_);
        now_ = t;
        for (auto it = advises_.begin(); it != advises_.end();) {
            if (it->second.first <= now_) {
                SetEvent(it->second.second);
                it = advises_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Waits until somebody waits for the clock to reach `t`.
    bool WaitForAdvise(REFERENCE_TIME t, int ms = 5000) {
        std::unique_lock<std::mutex> g(lock_);
        return changed_.wait_for(g, std::chrono::milliseconds(ms), [&] {
            for (const auto& [c, a] : advises_)
                if (a.first == t) return true;
            return false;
        });
    }
private:
    std::mutex lock_;
    std::condition_variable changed_;
    REFERENCE_TIME now_ = 0;
    DWORD_PTR next_ = 1;
    std::map<DWORD_PTR, std::pair<REFERENCE_TIME, HANDLE>> advises_;
    std::atomic<ULONG> refs_{1};
};

// A sample over a buffer of the test's own.
class BufferSample final : public IMediaSample {
public:
    explicit BufferSample(std::vector<BYTE> data) : data_(std::move(data)) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IMediaSample) return GetInterface(this, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; }
    STDMETHOD(GetPointer)(BYTE** p) override {
        *p = data_.data();
        return S_OK;
    }
    STDMETHOD_(LONG, GetSize)() override { return static_cast<LONG>(data_.size()); }
    STDMETHOD(GetTime)(REFERENCE_TIME*, REFERENCE_TIME*) override { return VFW_E_SAMPLE_TIME_NOT_SET; }
    STDMETHOD(SetTime)(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
    STDMETHOD(IsSyncPoint)() override { return S_OK; }
    STDMETHOD(SetSyncPoint)(BOOL) override { return S_OK; }
    STDMETHOD(IsPreroll)() override { return S_FALSE; }
    STDMETHOD(SetPreroll)(BOOL) override { return S_OK; }
    STDMETHOD_(LONG, GetActualDataLength)() override { return GetSize(); }
    STDMETHOD(SetActualDataLength)(LONG) override { return S_OK; }
    STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** mt) override {
        *mt = nullptr;
        return S_FALSE;
    }
    STDMETHOD(SetMediaType)(AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHOD(IsDiscontinuity)() override { return S_FALSE; }
    STDMETHOD(SetDiscontinuity)(BOOL) override { return S_OK; }
    STDMETHOD(GetMediaTime)(LONGLONG*, LONGLONG*) override { return VFW_E_SAMPLE_TIME_NOT_SET; }
    STDMETHOD(SetMediaTime)(LONGLONG*, LONGLONG*) override { return S_OK; }
    ULONG references() const { return refs_; }
private:
    std::vector<BYTE> data_;
    std::atomic<ULONG> refs_{1};
};

// Luma 255 with the top-left quadrant at 128, neutral chroma: white
// (0xFFFF) and grey (0x8410) once converted.
inline std::vector<BYTE> QuadrantFrame(int w, int h) {
    std::vector<BYTE> f(static_cast<size_t>(w * h + (w * h) / 2), 128);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) f[static_cast<size_t>(y * w + x)] = (x < w / 2 && y < h / 2) ? 128 : 255;
    return f;
}

constexpr uint16_t kWhite = 0xFFFF;
constexpr uint16_t kGrey = 0x8410;
constexpr uint16_t kBlack = 0x0000;
constexpr uint16_t kMarker = 0xF800;

// The screen for the life of a test.
class ScreenEnv {
public:
    ScreenEnv(const char* size, const char* orientation) {
        setenv("SONADEC_SCREEN", size, 1);
        setenv("SONADEC_ORIENTATION", orientation, 1);
    }
    ~ScreenEnv() {
        unsetenv("SONADEC_SCREEN");
        unsetenv("SONADEC_ORIENTATION");
    }
};

inline void SetDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

inline void CreateKey(HKEY root, const wchar_t* path) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
}

// A renderer and a YV12 source in a graph, on their own registry.
class RendererRig {
public:
    RendererRig() {
        HRESULT hr = S_OK;
        CUnknown* obj = VideoRendererFilter::CreateInstance(nullptr, &hr);
        filter = static_cast<VideoRendererFilter*>(obj);
        obj->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base));
        base->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window));
        base->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&video));
        base->QueryInterface(IID_IPropertyBag, reinterpret_cast<void**>(&bag));
        graph.AddFilter(base, L"renderer");
    }
    ~RendererRig() {
        graph.Clear();
        if (source) source->Release();
        bag->Release();
        video->Release();
        window->Release();
        base->Release();
    }
    // Connects a source of the size; the source joins the graph first.
    HRESULT Connect(LONG w, LONG h, const GUID& subtype = MEDIASUBTYPE_YV12, LONG bufferBytes = 0) {
        if (source == nullptr) {
            source = new YuvSource(w, h, subtype, bufferBytes);
            source->AddRef();
            graph.RemoveFilter(base);
            graph.AddFilter(source, L"source");
            graph.AddFilter(base, L"renderer");
        }
        return graph.ConnectDirect(source->OutputPin(), filter->GetPin(0), nullptr);
    }
    HRESULT Disconnect() {
        source->OutputPin()->Disconnect();
        return filter->GetPin(0)->Disconnect();
    }
    // Connects a second source of another size through the same pin.
    HRESULT Reconnect(LONG w, LONG h) {
        Disconnect();
        graph.RemoveFilter(source);
        source->Release();
        source = nullptr;
        return Connect(w, h);
    }
    HWND Hwnd() { return filter->WindowControl()->GetWindowHWND(); }
    void Place(LONG x, LONG y, LONG w, LONG h) { ASSERT_EQ(window->SetWindowPosition(x, y, w, h), S_OK); }
    void Fill(uint16_t) {
        HBRUSH b = CreateSolidBrush(RGB(255, 0, 0));
        RECT rc{0, 0, 8192, 8192};
        FillRect(GetDC(Hwnd()), &rc, b);
        DeleteObject(b);
    }
    std::vector<uint16_t> Surface(int* w = nullptr, int* h = nullptr) {
        std::vector<uint16_t> px;
        int sw = 0, sh = 0;
        CopyWindowSurface(Hwnd(), &px, &sw, &sh);
        if (w) *w = sw;
        if (h) *h = sh;
        return px;
    }
    void Paint(const std::vector<BYTE>& frame) {
        BufferSample s(frame);
        filter->PaintSample(&s);
    }
    void SetRotation(ULONG degrees) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_UI4;
        v.ulVal = degrees;
        ASSERT_EQ(bag->Write(L"SetRotation", &v), S_OK);
    }

    TempRegistry registry;
    SimpleGraph graph;
    VideoRendererFilter* filter = nullptr;
    IBaseFilter* base = nullptr;
    IVideoWindow* window = nullptr;
    IBasicVideo* video = nullptr;
    IPropertyBag* bag = nullptr;
    YuvSource* source = nullptr;
};

// Pixels of `rect` (left, top, right, bottom) of a surface `w` wide that
// are not `expected`; kGrey/kWhite count as one kind: the picture.
inline int Mismatches(const std::vector<uint16_t>& px, int w, RECT rect, uint16_t expected) {
    int bad = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y)
        for (LONG x = rect.left; x < rect.right; ++x) {
            const uint16_t p = px[static_cast<size_t>(y * w + x)];
            const bool picture = p != kBlack && p != kMarker;
            if (expected == kWhite ? !picture : p != expected) ++bad;
        }
    return bad;
}
