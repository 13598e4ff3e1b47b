#include "graph.h"

#include <chrono>
#include <cstring>

void MakeVideoType(CMediaType* mt, const GUID& subtype, LONG width, LONG height) {
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&subtype);
    mt->SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.rcSource = RECT{0, 0, width, height};
    vih.rcTarget = vih.rcSource;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 12;
    vih.bmiHeader.biSizeImage = static_cast<DWORD>(width * height + (width * height) / 2);
    mt->SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih);
    mt->SetSampleSize(vih.bmiHeader.biSizeImage);
}

YuvSourcePin::YuvSourcePin(YuvSource* filter, CCritSec* lock, HRESULT* hr)
    : CBaseOutputPin(L"source pin", filter, lock, hr, L"Output"), source_(filter) {}

HRESULT YuvSourcePin::CheckMediaType(const CMediaType* mt) {
    return mt->majortype == MEDIATYPE_Video && mt->subtype == source_->subtype_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT YuvSourcePin::GetMediaType(int n, CMediaType* mt) {
    if (n != 0) return VFW_S_NO_MORE_ITEMS;
    MakeVideoType(mt, source_->subtype_, source_->width_, source_->height_);
    return S_OK;
}

HRESULT YuvSourcePin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    request->cBuffers = 2;
    request->cbBuffer = source_->bufferBytes_ > 0 ? source_->bufferBytes_ : source_->FrameBytes();
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
}

HRESULT YuvSourcePin::Notify(IBaseFilter*, Quality q) {
    if (q.Late > 0) {
        ++source_->late_;
        std::lock_guard<std::mutex> g(source_->lateLock_);
        source_->lastLate_ = q.Late;
    }
    return S_OK;
}

YuvSource::YuvSource(LONG width, LONG height, const GUID& subtype, LONG bufferBytes)
    : CBaseFilter(L"YUV source", nullptr, &lock_, GUID_NULL),
      pin_(this, &lock_, nullptr),
      width_(width),
      height_(height),
      bufferBytes_(bufferBytes),
      subtype_(subtype) {}

HRESULT YuvSource::DeliverFrame(const BYTE* yv12, REFERENCE_TIME start, REFERENCE_TIME end) {
    IMediaSample* sample = nullptr;
    HRESULT hr = pin_.GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG n = std::min(FrameBytes(), sample->GetSize());
    if (yv12 != nullptr) std::memcpy(data, yv12, static_cast<size_t>(n));
    sample->SetActualDataLength(n);
    sample->SetTime(&start, &end);
    hr = pin_.Deliver(sample);
    sample->Release();
    return hr;
}

SimpleGraph::SimpleGraph() = default;

SimpleGraph::~SimpleGraph() { Clear(); }

HRESULT SimpleGraph::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), ppv);
    if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT SimpleGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
    if (filter == nullptr) return E_POINTER;
    filter->AddRef();
    filters_.push_back(filter);
    return filter->JoinFilterGraph(this, name);
}

HRESULT SimpleGraph::RemoveFilter(IBaseFilter* filter) {
    for (auto it = filters_.begin(); it != filters_.end(); ++it) {
        if (*it != filter) continue;
        filter->JoinFilterGraph(nullptr, nullptr);
        filter->Release();
        filters_.erase(it);
        return S_OK;
    }
    return VFW_E_NOT_FOUND;
}

HRESULT SimpleGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
    if (out == nullptr || in == nullptr) return E_POINTER;
    return out->Connect(in, mt);
}

HRESULT SimpleGraph::Disconnect(IPin* pin) { return pin ? pin->Disconnect() : E_POINTER; }

HRESULT SimpleGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
    {
        std::lock_guard<std::mutex> g(lock_);
        events_.push_back(GraphEvent{code, param1, param2});
    }
    changed_.notify_all();
    return S_OK;
}

HRESULT SimpleGraph::SetClock(IReferenceClock* clock) {
    for (IBaseFilter* f : filters_) {
        const HRESULT hr = f->SetSyncSource(clock);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT SimpleGraph::Pause() {
    HRESULT result = S_OK;
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        const HRESULT hr = (*it)->Pause();
        if (FAILED(hr)) return hr;
        if (hr != S_OK) result = hr;
    }
    return result;
}

HRESULT SimpleGraph::Run(REFERENCE_TIME start) {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        const HRESULT hr = (*it)->Run(start);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT SimpleGraph::Stop() {
    HRESULT result = S_OK;
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        const HRESULT hr = (*it)->Stop();
        if (FAILED(hr)) result = hr;
    }
    return result;
}

void SimpleGraph::Clear() {
    Stop();
    for (IBaseFilter* f : filters_) {
        IEnumPins* pins = nullptr;
        if (FAILED(f->EnumPins(&pins))) continue;
        IPin* pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            IPin* peer = nullptr;
            if (SUCCEEDED(pin->ConnectedTo(&peer))) {
                peer->Disconnect();
                peer->Release();
            }
            pin->Disconnect();
            pin->Release();
        }
        pins->Release();
    }
    for (IBaseFilter* f : filters_) {
        f->JoinFilterGraph(nullptr, nullptr);
        f->Release();
    }
    filters_.clear();
}

std::vector<GraphEvent> SimpleGraph::Events() {
    std::lock_guard<std::mutex> g(lock_);
    return events_;
}

bool SimpleGraph::WaitForEvent(LONG code, DWORD ms) {
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_for(g, std::chrono::milliseconds(ms), [&] {
        for (const GraphEvent& e : events_)
            if (e.code == code) return true;
        return false;
    });
}
