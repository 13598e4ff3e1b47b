#include <new>

#include "streams.h"
#include "winreg.h"

// Thread priorities.

namespace {

const wchar_t kPriorityKey[] = L"SOFTWARE\\Microsoft\\DirectShow\\ThreadPriority";

// A DWORD value below 256 replaces `value`.
void readPriority(HKEY key, LPCWSTR name, int* value) {
    DWORD type = 0, data = 0, size = sizeof data;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) return;
    if (type != REG_DWORD || size != sizeof data || data > 255) return;
    *value = static_cast<int>(data);
}

} // namespace

ThreadPriorityTable ReadThreadPriorityTable() {
    const ThreadPriorityTable defaults{249, 250, 251, 252};
    ThreadPriorityTable t = defaults;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPriorityKey, 0, 0, &key) != ERROR_SUCCESS) return t;
    readPriority(key, L"Highest", &t.highest);
    readPriority(key, L"AboveNormal", &t.aboveNormal);
    readPriority(key, L"Normal", &t.normal);
    readPriority(key, L"BelowNormal", &t.belowNormal);
    RegCloseKey(key);
    if (t.highest <= t.aboveNormal && t.aboveNormal <= t.normal && t.normal <= t.belowNormal) return t;
    OutputDebugStringW(L"SAPI WARNING: Invalidate thread priorities, the higher thread priority must be lesser than "
                       L"lower, each must be less than 256\n");
    return defaults;
}

int ReadVideoThreadPriority() {
    int p = 252;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPriorityKey, 0, 0, &key) != ERROR_SUCCESS) return p;
    readPriority(key, L"Video", &p);
    RegCloseKey(key);
    return p;
}

const ThreadPriorityTable& FrameworkThreadPriorities() {
    static const ThreadPriorityTable table = ReadThreadPriorityTable();
    return table;
}

int FrameworkVideoThreadPriority() {
    static const int priority = ReadVideoThreadPriority();
    return priority;
}

BOOL SetFrameworkThreadPriority(int level) {
    const ThreadPriorityTable& t = FrameworkThreadPriorities();
    const int p = level == 1 ? t.highest : level == 2 ? t.aboveNormal : level == 4 ? t.belowNormal : t.normal;
    return CeSetThreadPriority(GetCurrentThread(), p);
}

// The renderer's input pin.

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* hr, LPCWSTR name)
    : CBaseInputPin(L"renderer input pin", renderer, renderer->InterfaceLock(), hr, name), m_pRenderer(renderer) {}

HRESULT CRendererInputPin::EndOfStream() {
    CAutoLock lock(m_pRenderer->InterfaceLock());
    if (m_bFlushing) return S_FALSE;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    return m_pRenderer->EndOfStream();
}

HRESULT CRendererInputPin::BeginFlush() {
    CAutoLock lock(m_pRenderer->InterfaceLock());
    CBaseInputPin::BeginFlush();
    return m_pRenderer->BeginFlush();
}

HRESULT CRendererInputPin::EndFlush() {
    CAutoLock lock(m_pRenderer->InterfaceLock());
    const HRESULT hr = m_pRenderer->EndFlush();
    CBaseInputPin::EndFlush();
    return hr;
}

HRESULT CRendererInputPin::Receive(IMediaSample* sample) {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return m_pRenderer->Receive(sample);
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* mt) { return m_pRenderer->CheckMediaType(mt); }

HRESULT CRendererInputPin::SetMediaType(const CMediaType* mt) {
    const HRESULT hr = CBaseInputPin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_pRenderer->SetMediaType(mt);
}

HRESULT CRendererInputPin::BreakConnect() {
    const HRESULT hr = m_pRenderer->BreakConnect();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = m_pRenderer->CompleteConnect(receivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::Active() {
    if (m_pAllocator != nullptr) {
        const HRESULT hr = m_pAllocator->Commit();
        if (FAILED(hr)) return hr;
    }
    return m_pRenderer->Active();
}

HRESULT CRendererInputPin::Inactive() {
    CBaseInputPin::Inactive();
    return m_pRenderer->Inactive();
}

// The renderer.

CBaseRenderer::CBaseRenderer(REFCLSID clsid, LPCWSTR name, LPUNKNOWN outer, HRESULT*)
    : CBaseFilter(name, outer, &m_InterfaceLock, clsid),
      m_RenderEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_ThreadSignal(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    m_iVideoPriority = FrameworkVideoThreadPriority();
}

CBaseRenderer::~CBaseRenderer() {
    CancelEndOfStreamTimer();
    if (m_bPeriodBegun) timeEndPeriod(1);
    if (m_bOwnPin) delete m_pInputPin;
    CloseHandle(m_RenderEvent);
    CloseHandle(m_ThreadSignal);
}

CBasePin* CBaseRenderer::GetPin(int n) {
    if (n != 0) return nullptr;
    CAutoLock lock(&m_InterfaceLock);
    if (m_pInputPin == nullptr) {
        HRESULT hr = S_OK;
        m_pInputPin = new (std::nothrow) CRendererInputPin(this, &hr, L"In");
        m_bOwnPin = m_pInputPin != nullptr;
    }
    return m_pInputPin;
}

void CBaseRenderer::WakeStreamingThread() { SetEvent(m_ThreadSignal); }

FILTER_STATE CBaseRenderer::GetRealState() { return m_State; }

BOOL CBaseRenderer::IsEndOfStream() {
    CAutoLock lock(&m_RendererLock);
    return m_bEOS;
}

BOOL CBaseRenderer::IsStreaming() {
    CAutoLock lock(&m_RendererLock);
    return m_pMediaSample != nullptr;
}

IMediaSample* CBaseRenderer::GetCurrentSample() {
    CAutoLock lock(&m_RendererLock);
    if (m_pMediaSample != nullptr) m_pMediaSample->AddRef();
    return m_pMediaSample;
}

HRESULT CBaseRenderer::Stop() {
    {
        CAutoLock lock(&m_InterfaceLock);
        if (m_State == State_Stopped) return S_OK;
        {
            CAutoLock r(&m_RendererLock);
            m_bAbort = true;
            m_bEOS = false;
            m_bEOSDelivered = false;
        }
        CancelEndOfStreamTimer();
        CBaseFilter::Stop();
        if (m_bPeriodBegun) {
            timeEndPeriod(1);
            m_bPeriodBegun = false;
        }
    }
    WakeStreamingThread();
    return S_OK;
}

HRESULT CBaseRenderer::Pause() {
    CAutoLock lock(&m_InterfaceLock);
    const FILTER_STATE old = m_State;
    if (old == State_Stopped) {
        CAutoLock r(&m_RendererLock);
        m_bAbort = false;
    }
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) return hr;
    if (old == State_Stopped && !m_bPeriodBegun) {
        timeBeginPeriod(1);
        m_bPeriodBegun = true;
    }
    CancelEndOfStreamTimer();
    WakeStreamingThread();
    CAutoLock r(&m_RendererLock);
    // The pause completes with the first sample or the end of the stream.
    if (InputPin()->IsConnected() && !m_bReady && !m_bEOS) return S_FALSE;
    return S_OK;
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME start) {
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    m_tStart = start;
    m_State = State_Running;
    WakeStreamingThread();
    CAutoLock r(&m_RendererLock);
    if (m_bEOS && m_pMediaSample == nullptr && !m_bEOSDelivered) SendEndOfStream();
    return S_OK;
}

HRESULT CBaseRenderer::GetState(DWORD msTimeout, FILTER_STATE* state) {
    if (state == nullptr) return E_POINTER;
    const DWORD deadline = GetTickCount() + msTimeout;
    for (;;) {
        {
            CAutoLock lock(&m_InterfaceLock);
            *state = m_State;
            CAutoLock r(&m_RendererLock);
            if (m_State != State_Paused || !InputPin()->IsConnected() || m_bReady || m_bEOS)
                return S_OK;
        }
        if (msTimeout == 0 || (msTimeout != INFINITE && static_cast<int32_t>(GetTickCount() - deadline) >= 0))
            return VFW_S_STATE_INTERMEDIATE;
        Sleep(1);
    }
}

HRESULT CBaseRenderer::BreakConnect() {
    CAutoLock r(&m_RendererLock);
    if (m_pMediaSample != nullptr) return VFW_E_WRONG_STATE;
    return S_OK;
}

void CBaseRenderer::OnLateSample(IMediaSample*, REFERENCE_TIME) {}

HRESULT CBaseRenderer::Receive(IMediaSample* sample) {
    // The streaming thread runs at the configured video priority.
    const int priority = m_iVideoPriority;
    if (CeGetThreadPriority(GetCurrentThread()) != priority) CeSetThreadPriority(GetCurrentThread(), priority);

    REFERENCE_TIME start = 0, end = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &end));
    bool firstWhilePaused = false;
    {
        CAutoLock lock(&m_InterfaceLock);
        CAutoLock r(&m_RendererLock);
        if (m_State == State_Stopped) return VFW_E_WRONG_STATE;
        if (m_bEOS) return VFW_E_SAMPLE_REJECTED_EOS;
        if (m_pMediaSample != nullptr) return E_UNEXPECTED;
        sample->AddRef();
        m_pMediaSample = sample;
        m_bAbort = false;
        ResetEvent(m_RenderEvent);
        firstWhilePaused = m_State == State_Paused;
    }
    if (firstWhilePaused) {
        PrepareRender();
        OnReceiveFirstSample(sample);
    }
    {
        // The pause completes once the poster frame is up.
        CAutoLock r(&m_RendererLock);
        m_bReady = true;
    }

    bool drawn = false;
    for (;;) {
        FILTER_STATE state;
        IReferenceClock* clock = nullptr;
        REFERENCE_TIME base = 0;
        {
            CAutoLock lock(&m_InterfaceLock);
            CAutoLock r(&m_RendererLock);
            if (m_bAbort || InputPin()->IsFlushing()) break;
            state = m_State;
            clock = m_pClock;
            if (clock != nullptr) clock->AddRef();
            base = m_tStart;
        }
        if (state == State_Paused) {
            if (clock) clock->Release();
            // Held as the poster frame until run, stop or flush.
            WaitForSingleObject(m_ThreadSignal, INFINITE);
            continue;
        }
        REFERENCE_TIME late = 0;
        if (clock != nullptr && timed) {
            REFERENCE_TIME now = 0;
            clock->GetTime(&now);
            if (now < base + start) {
                DWORD_PTR cookie = 0;
                ResetEvent(m_RenderEvent);
                if (SUCCEEDED(clock->AdviseTime(base, start, reinterpret_cast<HEVENT>(m_RenderEvent), &cookie))) {
                    HANDLE events[2] = {m_RenderEvent, m_ThreadSignal};
                    const DWORD w = WaitForMultipleObjects(2, events, FALSE, INFINITE);
                    clock->Unadvise(cookie);
                    clock->Release();
                    // A state change or flush: look at the state again.
                    if (w != WAIT_OBJECT_0) continue;
                } else {
                    clock->Release();
                }
            } else {
                late = now - (base + start);
                clock->Release();
            }
        } else if (clock != nullptr) {
            clock->Release();
        }
        {
            CAutoLock lock(&m_InterfaceLock);
            if (m_bAbort || m_State != State_Running || InputPin()->IsFlushing()) continue;
        }
        if (late > 0) {
            ++m_cFramesLate;
            OnLateSample(sample, late);
        }
        PrepareRender();
        OnRenderStart(sample);
        DoRenderSample(sample);
        OnRenderEnd(sample);
        ++m_cFramesDrawn;
        drawn = true;
        break;
    }

    CAutoLock r(&m_RendererLock);
    if (!drawn) ++m_cFramesDropped;
    if (drawn && timed) {
        m_tLastEnd = end;
        m_bLastEndValid = true;
    }
    m_pMediaSample = nullptr;
    m_bReady = false;
    sample->Release();
    return S_OK;
}

void CBaseRenderer::EndOfStreamTimerCallback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* self = reinterpret_cast<CBaseRenderer*>(user);
    CAutoLock r(&self->m_RendererLock);
    self->m_EndOfStreamTimer = 0;
    if (self->m_bEOS && !self->m_bEOSDelivered) {
        self->m_bEOSDelivered = true;
        self->NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
}

void CBaseRenderer::CancelEndOfStreamTimer() {
    UINT timer;
    {
        CAutoLock r(&m_RendererLock);
        timer = m_EndOfStreamTimer;
        m_EndOfStreamTimer = 0;
    }
    if (timer != 0) timeKillEvent(timer);
}

// Called with the renderer lock held, while running.
void CBaseRenderer::SendEndOfStream() {
    if (m_bEOSDelivered || m_EndOfStreamTimer != 0) return;
    // Completion waits for the end time of the last frame shown.
    REFERENCE_TIME wait = 0;
    if (m_pClock != nullptr && m_bLastEndValid) {
        REFERENCE_TIME now = 0;
        m_pClock->GetTime(&now);
        wait = m_tStart + m_tLastEnd - now;
    }
    if (wait >= MILLISECONDS) {
        m_EndOfStreamTimer = timeSetEvent(static_cast<UINT>(wait / MILLISECONDS), 1, EndOfStreamTimerCallback,
                                          reinterpret_cast<DWORD_PTR>(this), TIME_ONESHOT);
        if (m_EndOfStreamTimer != 0) return;
    }
    m_bEOSDelivered = true;
    NotifyEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT CBaseRenderer::EndOfStream() {
    CAutoLock r(&m_RendererLock);
    if (m_State == State_Stopped) return S_OK;
    m_bEOS = true;
    if (m_State == State_Running && m_pMediaSample == nullptr) SendEndOfStream();
    return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
    {
        CAutoLock r(&m_RendererLock);
        m_bEOS = false;
        m_bEOSDelivered = false;
        m_bLastEndValid = false;
    }
    CancelEndOfStreamTimer();
    // Releases a Receive waiting for its time or for the run.
    WakeStreamingThread();
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush() { return S_OK; }

// The video renderer.

CBaseVideoRenderer::CBaseVideoRenderer(REFCLSID clsid, LPCWSTR name, LPUNKNOWN outer, HRESULT* hr)
    : CBaseRenderer(clsid, name, outer, hr) {}

CBaseVideoRenderer::~CBaseVideoRenderer() = default;

HRESULT CBaseVideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IQualProp) return GetInterface(static_cast<IQualProp*>(this), ppv);
    if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseVideoRenderer::get_FramesDroppedInRenderer(int* frames) {
    if (frames == nullptr) return E_POINTER;
    *frames = m_cFramesDropped;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_FramesDrawn(int* frames) {
    if (frames == nullptr) return E_POINTER;
    *frames = m_cFramesDrawn;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_AvgFrameRate(int* rate) {
    if (rate == nullptr) return E_POINTER;
    *rate = 0;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_Jitter(int* jitter) {
    if (jitter == nullptr) return E_POINTER;
    *jitter = 0;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_AvgSyncOffset(int* offset) {
    if (offset == nullptr) return E_POINTER;
    *offset = 0;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_DevSyncOffset(int* deviation) {
    if (deviation == nullptr) return E_POINTER;
    *deviation = 0;
    return S_OK;
}

HRESULT CBaseVideoRenderer::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBaseVideoRenderer::SetSink(IQualityControl* sink) {
    m_pQSink = sink;
    return S_OK;
}

void CBaseVideoRenderer::OnLateSample(IMediaSample* sample, REFERENCE_TIME late) {
    REFERENCE_TIME start = 0, end = 0;
    sample->GetTime(&start, &end);
    const Quality q{Famine, 1000, late, start};
    if (m_pQSink != nullptr) {
        m_pQSink->Notify(this, q);
        return;
    }
    IPin* peer = InputPin()->GetConnected();
    IQualityControl* qc = nullptr;
    if (peer != nullptr && SUCCEEDED(peer->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&qc)))) {
        qc->Notify(this, q);
        qc->Release();
    }
}
