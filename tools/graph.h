// A small filter graph for driving the video renderer: a source filter that
// delivers YV12 frames with time stamps on the caller's thread, and a graph
// that connects filters, changes their states together and collects the
// events they send.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "streams.h"

class YuvSource;

class YuvSourcePin : public CBaseOutputPin {
public:
    YuvSourcePin(YuvSource* filter, CCritSec* lock, HRESULT* hr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int n, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    // Quality messages from the renderer: each late frame says how late.
    STDMETHOD(Notify)(IBaseFilter* self, Quality q) override;
private:
    YuvSource* source_;
};

class YuvSource : public CBaseFilter {
public:
    // Offers (MEDIATYPE_Video, `subtype`) with a VIDEOINFOHEADER of the
    // given size; `bufferBytes` 0 asks for one frame's bytes.
    YuvSource(LONG width, LONG height, const GUID& subtype = MEDIASUBTYPE_YV12, LONG bufferBytes = 0);
    DECLARE_IUNKNOWN
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    IPin* OutputPin() { return &pin_; }
    LONG Width() const { return width_; }
    LONG Height() const { return height_; }
    LONG FrameBytes() const { return width_ * height_ + (width_ * height_) / 2; }

    // Copies one frame into a delivery buffer and delivers it; returns the
    // renderer's answer.
    HRESULT DeliverFrame(const BYTE* yv12, REFERENCE_TIME start, REFERENCE_TIME end);
    HRESULT DeliverEndOfStream() { return pin_.DeliverEndOfStream(); }
    HRESULT DeliverBeginFlush() { return pin_.DeliverBeginFlush(); }
    HRESULT DeliverEndFlush() { return pin_.DeliverEndFlush(); }

    LONG LateNotifications() const { return late_; }
    REFERENCE_TIME LastLate() {
        std::lock_guard<std::mutex> g(lateLock_);
        return lastLate_;
    }

private:
    friend class YuvSourcePin;
    CCritSec lock_;
    YuvSourcePin pin_;
    LONG width_, height_, bufferBytes_;
    GUID subtype_;
    std::atomic<LONG> late_{0};
    // A 64-bit atomic would need libatomic on the target's CPU.
    std::mutex lateLock_;
    REFERENCE_TIME lastLate_ = 0;
};

struct GraphEvent {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
};

class SimpleGraph final : public IFilterGraph, public IMediaEventSink {
public:
    SimpleGraph();
    ~SimpleGraph();
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; }

    STDMETHOD(AddFilter)(IBaseFilter* filter, LPCWSTR name) override;
    STDMETHOD(RemoveFilter)(IBaseFilter* filter) override;
    STDMETHOD(EnumFilters)(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHOD(FindFilterByName)(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHOD(ConnectDirect)(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override;
    STDMETHOD(Reconnect)(IPin*) override { return E_NOTIMPL; }
    STDMETHOD(Disconnect)(IPin* pin) override;
    STDMETHOD(SetDefaultSyncSource)() override { return E_NOTIMPL; }
    STDMETHOD(Notify)(LONG code, LONG_PTR param1, LONG_PTR param2) override;

    // Downstream filters change state first.
    HRESULT SetClock(IReferenceClock* clock);
    HRESULT Pause();
    HRESULT Run(REFERENCE_TIME start);
    HRESULT Stop();
    // Stops, disconnects every pin and lets the filters go.
    void Clear();

    std::vector<GraphEvent> Events();
    // Waits up to `ms` for an event of the code; true when one came.
    bool WaitForEvent(LONG code, DWORD ms);

private:
    std::vector<IBaseFilter*> filters_; // in the order added: sources first
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<GraphEvent> events_;
    std::atomic<ULONG> refs_{1};
};

// Fills `mt` with a video type of the subtype and size.
void MakeVideoType(CMediaType* mt, const GUID& subtype, LONG width, LONG height);
