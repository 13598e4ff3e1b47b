#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "streams.h"

namespace {
std::atomic<LONG> gObjects{0};
}

// Objects.

CUnknown::CUnknown(LPCWSTR, LPUNKNOWN outer) : inner_(this), owner_(outer ? outer : &inner_) {
    ++gObjects;
}

CUnknown::~CUnknown() { --gObjects; }

LONG CUnknown::ObjectsActive() { return gObjects.load(); }

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(&inner_);
        NonDelegatingAddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(++m_cRef); }

ULONG CUnknown::NonDelegatingRelease() {
    const LONG r = --m_cRef;
    if (r == 0) {
        // Keeps a release made by the destructor from deleting twice.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(r);
}

HRESULT GetInterface(LPUNKNOWN iface, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = iface;
    iface->AddRef();
    return S_OK;
}

// Media types.

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat != nullptr) CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
    if (mt.pUnk != nullptr) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (mt == nullptr) return;
    FreeMediaType(*mt);
    CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dest, const AM_MEDIA_TYPE* src) {
    if (dest == nullptr || src == nullptr) return E_POINTER;
    *dest = *src;
    if (src->cbFormat != 0 && src->pbFormat != nullptr) {
        dest->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (dest->pbFormat == nullptr) {
            dest->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(dest->pbFormat, src->pbFormat, src->cbFormat);
    } else {
        dest->pbFormat = nullptr;
        dest->cbFormat = 0;
    }
    if (dest->pUnk != nullptr) dest->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (mt == nullptr) return nullptr;
    if (FAILED(CopyMediaType(mt, src))) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE() { InitMediaType(); }

CMediaType::CMediaType(const AM_MEDIA_TYPE& mt) : AM_MEDIA_TYPE() {
    InitMediaType();
    Set(mt);
}

CMediaType::CMediaType(const CMediaType& mt) : AM_MEDIA_TYPE() {
    InitMediaType();
    Set(mt);
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& mt) {
    Set(mt);
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& mt) {
    Set(mt);
    return *this;
}

bool CMediaType::operator==(const CMediaType& mt) const {
    return majortype == mt.majortype && subtype == mt.subtype && formattype == mt.formattype &&
           cbFormat == mt.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, mt.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& mt) {
    if (&mt == this) return S_OK;
    FreeMediaType(*this);
    const HRESULT hr = CopyMediaType(this, &mt);
    if (FAILED(hr)) InitMediaType();
    return hr;
}

void CMediaType::InitMediaType() {
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    formattype = GUID_NULL;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
    lSampleSize = 1;
    pUnk = nullptr;
    cbFormat = 0;
    pbFormat = nullptr;
}

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        bFixedSizeSamples = FALSE;
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (cbFormat == length && pbFormat != nullptr) return pbFormat;
    BYTE* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (p == nullptr) return nullptr;
    CoTaskMemFree(pbFormat);
    pbFormat = p;
    cbFormat = length;
    return p;
}

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length) {
    if (AllocFormatBuffer(length) == nullptr) return FALSE;
    if (length != 0) std::memcpy(pbFormat, format, length);
    return TRUE;
}

void CMediaType::ResetFormatBuffer() {
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

// Samples.

CMediaSample::CMediaSample(LPCWSTR, CBaseAllocator* allocator, HRESULT* hr, BYTE* buffer, LONG length)
    : m_pAllocator(allocator), m_pBuffer(buffer), m_cbBuffer(length), m_lActual(length) {
    if (hr != nullptr && allocator == nullptr) *hr = E_OUTOFMEMORY;
}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMediaSample) return GetInterface(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return static_cast<ULONG>(++m_cRef); }

ULONG CMediaSample::Release() {
    const LONG r = --m_cRef;
    if (r == 0) {
        ResetProperties();
        m_pAllocator->ReleaseBuffer(this);
    }
    return static_cast<ULONG>(r);
}

void CMediaSample::ResetProperties() {
    m_bTimeValid = m_bStopValid = false;
    m_bSync = m_bPreroll = m_bDiscontinuity = false;
    m_lActual = m_cbBuffer;
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
    if (buffer == nullptr) return E_POINTER;
    *buffer = m_pBuffer;
    return S_OK;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    if (!m_bTimeValid) return VFW_E_SAMPLE_TIME_NOT_SET;
    if (start == nullptr || end == nullptr) return E_POINTER;
    *start = m_Start;
    *end = m_bStopValid ? m_End : m_Start + 1;
    return m_bStopValid ? S_OK : MAKE_HRESULT_CODE(0x00040270u); // VFW_S_NO_STOP_TIME
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    if (start == nullptr) {
        m_bTimeValid = m_bStopValid = false;
        return S_OK;
    }
    m_Start = *start;
    m_bTimeValid = true;
    m_bStopValid = end != nullptr;
    if (end != nullptr) m_End = *end;
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return m_bSync ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(BOOL sync) {
    m_bSync = sync != FALSE;
    return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return m_bPreroll ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(BOOL preroll) {
    m_bPreroll = preroll != FALSE;
    return S_OK;
}
LONG CMediaSample::GetActualDataLength() { return m_lActual; }
HRESULT CMediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_NOTSET;
    m_lActual = length;
    return S_OK;
}
HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** mt) {
    if (mt == nullptr) return E_POINTER;
    if (m_pMediaType == nullptr) {
        *mt = nullptr;
        return S_FALSE;
    }
    *mt = CreateMediaType(m_pMediaType);
    return *mt ? S_OK : E_OUTOFMEMORY;
}
HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* mt) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
    if (mt == nullptr) return S_OK;
    m_pMediaType = CreateMediaType(mt);
    return m_pMediaType ? S_OK : E_OUTOFMEMORY;
}
HRESULT CMediaSample::IsDiscontinuity() { return m_bDiscontinuity ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity) {
    m_bDiscontinuity = discontinuity != FALSE;
    return S_OK;
}
HRESULT CMediaSample::GetMediaTime(LONGLONG*, LONGLONG*) { return VFW_E_SAMPLE_TIME_NOT_SET; }
HRESULT CMediaSample::SetMediaTime(LONGLONG*, LONGLONG*) { return S_OK; }

// Allocators.

CBaseAllocator::CBaseAllocator(LPCWSTR name, LPUNKNOWN outer, HRESULT*)
    : CUnknown(name, outer), m_hFree(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CBaseAllocator::~CBaseAllocator() {
    Free();
    CloseHandle(m_hFree);
}

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (request == nullptr || actual == nullptr) return E_POINTER;
    CAutoLock lock(&m_cs);
    if (m_bCommitted) return MAKE_HRESULT_CODE(0x80040210u); // VFW_E_ALREADY_COMMITTED
    if (m_lAllocated != static_cast<LONG>(m_free.size())) return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cBuffers <= 0 || request->cbBuffer <= 0 || request->cBuffers > 64 ||
        request->cbBuffer > 64 * 1024 * 1024 || request->cbPrefix < 0 || request->cbAlign < 0)
        return E_INVALIDARG;
    const LONG align = request->cbAlign == 0 ? 1 : request->cbAlign;
    if ((align & (align - 1)) != 0) return VFW_E_BADALIGN;
    m_lCount = request->cBuffers;
    m_lSize = request->cbBuffer;
    m_lAlignment = align;
    m_lPrefix = request->cbPrefix;
    m_bChanged = true;
    *actual = ALLOCATOR_PROPERTIES{m_lCount, m_lSize, m_lAlignment, m_lPrefix};
    return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
    if (props == nullptr) return E_POINTER;
    CAutoLock lock(&m_cs);
    *props = ALLOCATOR_PROPERTIES{m_lCount, m_lSize, m_lAlignment, m_lPrefix};
    return S_OK;
}

HRESULT CBaseAllocator::Alloc() {
    if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
    if (!m_bChanged && m_lAllocated == m_lCount) return S_FALSE;
    Free();
    for (LONG i = 0; i < m_lCount; ++i) {
        const size_t bytes = static_cast<size_t>(m_lSize) + static_cast<size_t>(m_lPrefix) + static_cast<size_t>(m_lAlignment);
        BYTE* block = new (std::nothrow) BYTE[bytes];
        if (block == nullptr) return E_OUTOFMEMORY;
        m_blocks.push_back(block);
        uintptr_t p = reinterpret_cast<uintptr_t>(block) + static_cast<uintptr_t>(m_lPrefix);
        p = (p + static_cast<uintptr_t>(m_lAlignment) - 1) & ~(static_cast<uintptr_t>(m_lAlignment) - 1);
        auto* s = new (std::nothrow) CMediaSample(L"sample", this, nullptr, reinterpret_cast<BYTE*>(p), m_lSize);
        if (s == nullptr) return E_OUTOFMEMORY;
        m_free.push_back(s);
        ++m_lAllocated;
    }
    m_bChanged = false;
    return S_OK;
}

void CBaseAllocator::Free() {
    for (CMediaSample* s : m_free) delete s;
    m_free.clear();
    for (BYTE* b : m_blocks) delete[] b;
    m_blocks.clear();
    m_lAllocated = 0;
}

HRESULT CBaseAllocator::Commit() {
    CAutoLock lock(&m_cs);
    if (m_bCommitted) return S_OK;
    if (m_lAllocated != static_cast<LONG>(m_free.size())) return VFW_E_BUFFERS_OUTSTANDING;
    const HRESULT hr = Alloc();
    if (FAILED(hr)) {
        Free();
        return hr;
    }
    m_bCommitted = true;
    SetEvent(m_hFree);
    return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
    CAutoLock lock(&m_cs);
    m_bCommitted = false;
    // Wakes callers waiting in GetBuffer; samples still out come back later.
    SetEvent(m_hFree);
    return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) {
    if (sample == nullptr) return E_POINTER;
    *sample = nullptr;
    for (;;) {
        {
            CAutoLock lock(&m_cs);
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            if (!m_free.empty()) {
                CMediaSample* s = m_free.back();
                m_free.pop_back();
                s->m_cRef = 1;
                *sample = s;
                return S_OK;
            }
            ResetEvent(m_hFree);
        }
        WaitForSingleObject(m_hFree, INFINITE);
    }
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* sample) {
    if (sample == nullptr) return E_POINTER;
    CAutoLock lock(&m_cs);
    m_free.push_back(static_cast<CMediaSample*>(sample));
    SetEvent(m_hFree);
    return S_OK;
}

// Filters.

namespace {

class CEnumPins final : public IEnumPins {
public:
    CEnumPins(CBaseFilter* filter, int position) : filter_(filter), position_(position) { static_cast<IBaseFilter*>(filter_)->AddRef(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IEnumPins) return GetInterface(this, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++refs_); }
    STDMETHOD_(ULONG, Release)() override {
        const LONG r = --refs_;
        if (r == 0) {
            static_cast<IBaseFilter*>(filter_)->Release();
            delete this;
        }
        return static_cast<ULONG>(r);
    }
    STDMETHOD(Next)(ULONG count, IPin** pins, ULONG* fetched) override {
        if (pins == nullptr) return E_POINTER;
        if (count != 1 && fetched == nullptr) return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < filter_->GetPinCount()) {
            CBasePin* p = filter_->GetPin(position_++);
            if (p == nullptr) continue;
            pins[n] = p;
            p->AddRef();
            ++n;
        }
        if (fetched != nullptr) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG count) override {
        position_ += static_cast<int>(count);
        return position_ <= filter_->GetPinCount() ? S_OK : S_FALSE;
    }
    STDMETHOD(Reset)() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumPins** out) override {
        if (out == nullptr) return E_POINTER;
        *out = new (std::nothrow) CEnumPins(filter_, position_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
private:
    ~CEnumPins() = default;
    CBaseFilter* filter_;
    int position_;
    std::atomic<LONG> refs_{1};
};

class CEnumMediaTypes final : public IEnumMediaTypes {
public:
    CEnumMediaTypes(CBasePin* pin, int position) : pin_(pin), position_(position) { pin_->AddRef(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) return GetInterface(this, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++refs_); }
    STDMETHOD_(ULONG, Release)() override {
        const LONG r = --refs_;
        if (r == 0) {
            pin_->Release();
            delete this;
        }
        return static_cast<ULONG>(r);
    }
    STDMETHOD(Next)(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (types == nullptr) return E_POINTER;
        if (count != 1 && fetched == nullptr) return E_POINTER;
        ULONG n = 0;
        while (n < count) {
            CMediaType mt;
            if (pin_->GetMediaType(position_, &mt) != S_OK) break;
            ++position_;
            types[n] = CreateMediaType(&mt);
            if (types[n] == nullptr) break;
            ++n;
        }
        if (fetched != nullptr) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG count) override {
        position_ += static_cast<int>(count);
        return S_OK;
    }
    STDMETHOD(Reset)() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumMediaTypes** out) override {
        if (out == nullptr) return E_POINTER;
        *out = new (std::nothrow) CEnumMediaTypes(pin_, position_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
private:
    ~CEnumMediaTypes() = default;
    CBasePin* pin_;
    int position_;
    std::atomic<LONG> refs_{1};
};

void copyName(WCHAR* out, size_t cch, const std::wstring& name) {
    const size_t n = std::min(name.size(), cch - 1);
    std::wmemcpy(out, name.c_str(), n);
    out[n] = L'\0';
}

} // namespace

CBaseFilter::CBaseFilter(LPCWSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(name, outer), m_clsid(clsid), m_pLock(lock), m_pName() {}

CBaseFilter::~CBaseFilter() {
    if (m_pClock != nullptr) m_pClock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter)
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT result = S_OK;
    if (m_State != State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* p = GetPin(i);
            if (p != nullptr && p->IsConnected()) {
                const HRESULT hr = p->Inactive();
                if (FAILED(hr) && SUCCEEDED(result)) result = hr;
            }
        }
    }
    m_State = State_Stopped;
    return result;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* p = GetPin(i);
            if (p != nullptr && p->IsConnected()) {
                const HRESULT hr = p->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(m_pLock);
    m_tStart = start;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (state == nullptr) return E_POINTER;
    *state = m_State;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(m_pLock);
    if (clock != nullptr) clock->AddRef();
    if (m_pClock != nullptr) m_pClock->Release();
    m_pClock = clock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (clock == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    *clock = m_pClock;
    if (m_pClock != nullptr) m_pClock->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** e) {
    if (e == nullptr) return E_POINTER;
    *e = new (std::nothrow) CEnumPins(this, 0);
    return *e ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (id == nullptr || pin == nullptr) return E_POINTER;
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* p = GetPin(i);
        if (p != nullptr && std::wcscmp(p->Name(), id) == 0) return GetInterface(static_cast<IPin*>(p), reinterpret_cast<void**>(pin));
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (info == nullptr) return E_POINTER;
    copyName(info->achName, 128, m_pName);
    info->pGraph = m_pGraph;
    if (m_pGraph != nullptr) m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    CAutoLock lock(m_pLock);
    // The graph holds the filter: no reference back, or neither would go.
    m_pGraph = graph;
    m_pSink = nullptr;
    if (graph != nullptr) {
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            m_pSink = sink;
            sink->Release();
        }
    }
    m_pName = name ? name : L"";
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG code, LONG_PTR p1, LONG_PTR p2) {
    IMediaEventSink* sink = m_pSink;
    if (sink == nullptr) return E_NOTIMPL;
    // A completion names the filter that completed.
    if (code == EC_COMPLETE && p2 == 0) p2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(code, p1, p2);
}

BOOL CBaseFilter::IsActive() {
    CAutoLock lock(m_pLock);
    return m_State != State_Stopped;
}

BOOL CBaseFilter::IsStopped() { return m_State == State_Stopped; }

// Pins.

CBasePin::CBasePin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*, LPCWSTR name, PIN_DIRECTION dir)
    : CUnknown(objectName, nullptr), m_pFilter(filter), m_pLock(lock), m_pName(name ? name : L""), m_dir(dir) {}

CBasePin::~CBasePin() {
    if (m_Connected != nullptr) m_Connected->Release();
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
    if (riid == IID_IUnknown) return GetInterface(static_cast<IPin*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// A pin lives as long as its filter, whose count it shares.
ULONG CBasePin::NonDelegatingAddRef() { return static_cast<IBaseFilter*>(m_pFilter)->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return static_cast<IBaseFilter*>(m_pFilter)->Release(); }

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* mt) {
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(mt);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_Connected = receivePin;
    receivePin->AddRef();
    hr = SetMediaType(mt);
    if (SUCCEEDED(hr)) hr = receivePin->ReceiveConnection(static_cast<IPin*>(this), mt);
    if (SUCCEEDED(hr)) hr = CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) return S_OK;
    receivePin->Disconnect();
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
    return hr;
}

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (receivePin == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_WRONG_STATE;
    if (m_dir != PINDIR_OUTPUT) return E_UNEXPECTED;
    if (mt != nullptr && mt->majortype != GUID_NULL) {
        CMediaType t(*mt);
        return AttemptConnection(receivePin, &t);
    }
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int i = 0;; ++i) {
        CMediaType t;
        if (GetMediaType(i, &t) != S_OK) break;
        last = AttemptConnection(receivePin, &t);
        if (SUCCEEDED(last)) return S_OK;
    }
    return last;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (connector == nullptr || mt == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_WRONG_STATE;
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    CMediaType t(*mt);
    hr = CheckMediaType(&t);
    if (hr != S_OK) {
        BreakConnect();
        return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    m_Connected = connector;
    connector->AddRef();
    hr = SetMediaType(&t);
    if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
    if (FAILED(hr)) {
        m_Connected->Release();
        m_Connected = nullptr;
        BreakConnect();
    }
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_WRONG_STATE;
    if (m_Connected == nullptr) return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pin) {
    if (pin == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    *pin = m_Connected;
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (mt == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected == nullptr) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(mt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr) return E_POINTER;
    info->pFilter = m_pFilter;
    static_cast<IBaseFilter*>(m_pFilter)->AddRef();
    info->dir = m_dir;
    copyName(info->achName, 128, m_pName);
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* dir) {
    if (dir == nullptr) return E_POINTER;
    *dir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) {
    if (id == nullptr) return E_POINTER;
    const size_t bytes = (m_pName.size() + 1) * sizeof(WCHAR);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*id == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*id, m_pName.c_str(), bytes);
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (mt == nullptr) return E_POINTER;
    CMediaType t(*mt);
    const HRESULT hr = CheckMediaType(&t);
    return FAILED(hr) ? S_FALSE : hr;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** e) {
    if (e == nullptr) return E_POINTER;
    *e = new (std::nothrow) CEnumMediaTypes(this, 0);
    return *e ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT CBasePin::EndOfStream() { return S_OK; }
HRESULT CBasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }
HRESULT CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }
HRESULT CBasePin::SetSink(IQualityControl* sink) {
    m_pQSink = sink;
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* mt) { return m_mt.Set(*mt); }

HRESULT CBasePin::CheckConnect(IPin* pin) {
    PIN_DIRECTION dir;
    const HRESULT hr = pin->QueryDirection(&dir);
    if (FAILED(hr)) return hr;
    return dir == m_dir ? MAKE_HRESULT_CODE(0x80040208u) : S_OK; // VFW_E_INVALID_DIRECTION
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::GetMediaType(int, CMediaType*) { return VFW_S_NO_MORE_ITEMS; }

CBaseInputPin::CBaseInputPin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name)
    : CBasePin(objectName, filter, lock, hr, name, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator != nullptr) m_pAllocator->Release();
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
    if (allocator == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_pAllocator == nullptr) {
        HRESULT hr = S_OK;
        auto* a = new (std::nothrow) CMemAllocator(L"allocator", nullptr, &hr);
        if (a == nullptr) return E_OUTOFMEMORY;
        a->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&m_pAllocator));
    }
    *allocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (allocator == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    allocator->AddRef();
    if (m_pAllocator != nullptr) m_pAllocator->Release();
    m_pAllocator = allocator;
    m_bReadOnly = readOnly;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
    if (sample == nullptr) return E_POINTER;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (samples == nullptr || processed == nullptr) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() { return S_OK; }

HRESULT CBaseInputPin::BeginFlush() {
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    m_bFlushing = false;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator != nullptr) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bFlushing = false;
    if (m_pAllocator != nullptr) return m_pAllocator->Decommit();
    return S_OK;
}

CBaseOutputPin::CBaseOutputPin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name)
    : CBasePin(objectName, filter, lock, hr, name, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() { BreakConnect(); }

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    return FAILED(hr) ? E_NOINTERFACE : S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) { return DecideAllocator(m_pInputPin, &m_pAllocator); }

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
    ALLOCATOR_PROPERTIES props{};
    pin->GetAllocatorRequirements(&props);
    if (props.cbAlign == 0) props.cbAlign = 1;
    HRESULT hr = pin->GetAllocator(allocator);
    if (FAILED(hr)) return hr;
    hr = DecideBufferSize(*allocator, &props);
    if (SUCCEEDED(hr)) hr = pin->NotifyAllocator(*allocator, FALSE);
    if (FAILED(hr)) {
        (*allocator)->Release();
        *allocator = nullptr;
    }
    return hr;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator != nullptr) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin != nullptr) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::Active() { return m_pAllocator ? m_pAllocator->Commit() : VFW_E_NO_ALLOCATOR; }
HRESULT CBaseOutputPin::Inactive() { return m_pAllocator ? m_pAllocator->Decommit() : VFW_E_NO_ALLOCATOR; }

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                          DWORD flags) {
    if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(sample, start, end, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    if (m_pInputPin == nullptr) return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() { return m_Connected ? m_Connected->EndOfStream() : VFW_E_NOT_CONNECTED; }
HRESULT CBaseOutputPin::DeliverBeginFlush() { return m_Connected ? m_Connected->BeginFlush() : VFW_E_NOT_CONNECTED; }
HRESULT CBaseOutputPin::DeliverEndFlush() { return m_Connected ? m_Connected->EndFlush() : VFW_E_NOT_CONNECTED; }
