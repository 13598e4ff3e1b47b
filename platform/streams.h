// The DirectShow base classes: reference-counted objects with aggregation,
// media types, filters and pins, samples and allocators, the reference
// clock, the renderer with its scheduling, and the video window and video
// control objects of the video renderers.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "mmsystem.h"
#include "strmif.h"

// Locks.
class CCritSec {
public:
    CCritSec() { InitializeCriticalSection(&cs_); }
    ~CCritSec() { DeleteCriticalSection(&cs_); }
    void Lock() { EnterCriticalSection(&cs_); }
    void Unlock() { LeaveCriticalSection(&cs_); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
private:
    CRITICAL_SECTION cs_;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
    ~CAutoLock() { lock_->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;
private:
    CCritSec* lock_;
};

// Objects.
struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;
protected:
    ~INonDelegatingUnknown() = default;
};

// An object that may be aggregated: its IUnknown calls go to the outer
// object when it has one.
class CUnknown : public INonDelegatingUnknown {
public:
    CUnknown(LPCWSTR name, LPUNKNOWN outer);
    virtual ~CUnknown();
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;
    LPUNKNOWN GetOwner() const { return owner_; }
    // Objects alive in the process, for DllCanUnloadNow.
    static LONG ObjectsActive();
protected:
    std::atomic<LONG> m_cRef{0};
private:
    // The object's own IUnknown: the non-delegating methods under the
    // IUnknown names.
    struct Inner final : IUnknown {
        explicit Inner(CUnknown* s) : self(s) {}
        STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return self->NonDelegatingQueryInterface(riid, ppv); }
        STDMETHOD_(ULONG, AddRef)() override { return self->NonDelegatingAddRef(); }
        STDMETHOD_(ULONG, Release)() override { return self->NonDelegatingRelease(); }
        CUnknown* self;
    };
    Inner inner_;
    LPUNKNOWN owner_;
};

// Tells the pin's filter, when it takes events, which window shows the
// video (EC_NOTIFY_WINDOW).
HRESULT SendNotifyWindow(IPin* pin, HWND hwnd);

// Hands out `iface` with a reference.
HRESULT GetInterface(LPUNKNOWN iface, void** ppv);

#define DECLARE_IUNKNOWN                                                                                    \
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return GetOwner()->QueryInterface(riid, ppv); } \
    STDMETHOD_(ULONG, AddRef)() override { return GetOwner()->AddRef(); }                                   \
    STDMETHOD_(ULONG, Release)() override { return GetOwner()->Release(); }

// Media types.
class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    CMediaType(const AM_MEDIA_TYPE& mt);
    CMediaType(const CMediaType& mt);
    ~CMediaType();
    CMediaType& operator=(const AM_MEDIA_TYPE& mt);
    CMediaType& operator=(const CMediaType& mt);
    bool operator==(const CMediaType& mt) const;
    HRESULT Set(const AM_MEDIA_TYPE& mt);
    BOOL IsValid() const { return majortype != GUID_NULL; }
    const GUID* Type() const { return &majortype; }
    const GUID* Subtype() const { return &subtype; }
    const GUID* FormatType() const { return &formattype; }
    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    void SetType(const GUID* type) { majortype = *type; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    void SetFormatType(const GUID* type) { formattype = *type; }
    void SetSampleSize(ULONG size);
    BOOL SetFormat(const BYTE* format, ULONG length);
    BYTE* AllocFormatBuffer(ULONG length);
    void ResetFormatBuffer();
    void InitMediaType();
};
void FreeMediaType(AM_MEDIA_TYPE& mt);
void DeleteMediaType(AM_MEDIA_TYPE* mt);
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src);
HRESULT CopyMediaType(AM_MEDIA_TYPE* dest, const AM_MEDIA_TYPE* src);

// Samples and allocators.
class CBaseAllocator;
class CMediaSample : public IMediaSample {
public:
    CMediaSample(LPCWSTR name, CBaseAllocator* allocator, HRESULT* hr, BYTE* buffer, LONG length);
    virtual ~CMediaSample();
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    // The last release hands the sample back to its allocator.
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetPointer)(BYTE** buffer) override;
    STDMETHOD_(LONG, GetSize)() override;
    STDMETHOD(GetTime)(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    STDMETHOD(SetTime)(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    STDMETHOD(IsSyncPoint)() override;
    STDMETHOD(SetSyncPoint)(BOOL sync) override;
    STDMETHOD(IsPreroll)() override;
    STDMETHOD(SetPreroll)(BOOL preroll) override;
    STDMETHOD_(LONG, GetActualDataLength)() override;
    STDMETHOD(SetActualDataLength)(LONG length) override;
    STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** mt) override;
    STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* mt) override;
    STDMETHOD(IsDiscontinuity)() override;
    STDMETHOD(SetDiscontinuity)(BOOL discontinuity) override;
    STDMETHOD(GetMediaTime)(LONGLONG* start, LONGLONG* end) override;
    STDMETHOD(SetMediaTime)(LONGLONG* start, LONGLONG* end) override;
    void ResetProperties();
protected:
    friend class CBaseAllocator;
    CBaseAllocator* m_pAllocator;
    BYTE* m_pBuffer;
    LONG m_cbBuffer;
    LONG m_lActual;
    REFERENCE_TIME m_Start = 0, m_End = 0;
    bool m_bTimeValid = false, m_bStopValid = false;
    bool m_bSync = false, m_bPreroll = false, m_bDiscontinuity = false;
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
    std::atomic<LONG> m_cRef{0};
};

class CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(LPCWSTR name, LPUNKNOWN outer, HRESULT* hr);
    ~CBaseAllocator() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* props) override;
    STDMETHOD(Commit)() override;
    STDMETHOD(Decommit)() override;
    // Waits for a free sample; fails with VFW_E_NOT_COMMITTED once
    // decommitted, which also releases a waiting caller.
    STDMETHOD(GetBuffer)(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
    STDMETHOD(ReleaseBuffer)(IMediaSample* sample) override;
protected:
    virtual HRESULT Alloc();
    virtual void Free();
    CCritSec m_cs;
    HANDLE m_hFree;
    std::vector<CMediaSample*> m_free;
    std::vector<BYTE*> m_blocks;
    LONG m_lCount = 0, m_lSize = 0, m_lAlignment = 1, m_lPrefix = 0;
    LONG m_lAllocated = 0;
    bool m_bCommitted = false;
    bool m_bChanged = false;
};

class CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(LPCWSTR name, LPUNKNOWN outer, HRESULT* hr) : CBaseAllocator(name, outer, hr) {}
};

// Filters and pins.
class CBasePin;
class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    CBaseFilter(LPCWSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid);
    ~CBaseFilter() override;
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHOD(GetClassID)(CLSID* clsid) override;
    STDMETHOD(Stop)() override;
    STDMETHOD(Pause)() override;
    STDMETHOD(Run)(REFERENCE_TIME start) override;
    STDMETHOD(GetState)(DWORD msTimeout, FILTER_STATE* state) override;
    STDMETHOD(SetSyncSource)(IReferenceClock* clock) override;
    STDMETHOD(GetSyncSource)(IReferenceClock** clock) override;
    STDMETHOD(EnumPins)(IEnumPins** e) override;
    STDMETHOD(FindPin)(LPCWSTR id, IPin** pin) override;
    STDMETHOD(QueryFilterInfo)(FILTER_INFO* info) override;
    STDMETHOD(JoinFilterGraph)(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHOD(QueryVendorInfo)(LPWSTR* info) override;
    // IAMovieSetup: records GetSetupData() in the filter registry.
    STDMETHOD(Register)() override;
    STDMETHOD(Unregister)() override;

    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;
    virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }
    HRESULT NotifyEvent(LONG code, LONG_PTR p1, LONG_PTR p2);
    BOOL IsActive();
    BOOL IsStopped();
    IFilterGraph* GetFilterGraph() { return m_pGraph; }
protected:
    // Read without the lock by the window thread.
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr;
    REFERENCE_TIME m_tStart = 0;
    CLSID m_clsid;
    CCritSec* m_pLock;
    std::wstring m_pName;
    IFilterGraph* m_pGraph = nullptr;
    // Read by timer callbacks as well.
    std::atomic<IMediaEventSink*> m_pSink{nullptr};
};

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name, PIN_DIRECTION dir);
    ~CBasePin() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;
    STDMETHOD(Connect)(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    STDMETHOD(ReceiveConnection)(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHOD(Disconnect)() override;
    STDMETHOD(ConnectedTo)(IPin** pin) override;
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* mt) override;
    STDMETHOD(QueryPinInfo)(PIN_INFO* info) override;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* dir) override;
    STDMETHOD(QueryId)(LPWSTR* id) override;
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* mt) override;
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** e) override;
    STDMETHOD(QueryInternalConnections)(IPin** pins, ULONG* count) override;
    STDMETHOD(EndOfStream)() override;
    STDMETHOD(BeginFlush)() override = 0;
    STDMETHOD(EndFlush)() override = 0;
    STDMETHOD(NewSegment)(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    STDMETHOD(Notify)(IBaseFilter* self, Quality q) override;
    STDMETHOD(SetSink)(IQualityControl* sink) override;

    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* mt);
    virtual HRESULT CheckConnect(IPin* pin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // The types offered when connecting without one; n counts from 0.
    virtual HRESULT GetMediaType(int n, CMediaType* mt);
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    BOOL IsConnected() const { return m_Connected != nullptr; }
    IPin* GetConnected() const { return m_Connected; }
    BOOL IsFlushing() const { return m_bFlushing; }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    BOOL IsStopped() { return m_pFilter->IsStopped(); }
    LPCWSTR Name() const { return m_pName.c_str(); }
protected:
    HRESULT AttemptConnection(IPin* receivePin, const CMediaType* mt);
    CBaseFilter* m_pFilter;
    CCritSec* m_pLock;
    std::wstring m_pName;
    IPin* m_Connected = nullptr;
    PIN_DIRECTION m_dir;
    CMediaType m_mt;
    std::atomic<bool> m_bFlushing{false};
    IQualityControl* m_pQSink = nullptr;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name);
    ~CBaseInputPin() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHOD(GetAllocator)(IMemAllocator** allocator) override;
    STDMETHOD(NotifyAllocator)(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* props) override;
    // The checks every input does: not stopped, not flushing, a valid type.
    STDMETHOD(Receive)(IMediaSample* sample) override;
    STDMETHOD(ReceiveMultiple)(IMediaSample** samples, LONG count, LONG* processed) override;
    STDMETHOD(ReceiveCanBlock)() override;
    STDMETHOD(BeginFlush)() override;
    STDMETHOD(EndFlush)() override;
    HRESULT BreakConnect() override;
    HRESULT Inactive() override;
    BOOL IsReadOnly() const { return m_bReadOnly; }
protected:
    IMemAllocator* m_pAllocator = nullptr;
    BOOL m_bReadOnly = FALSE;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name);
    ~CBaseOutputPin() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
    HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    STDMETHOD(EndOfStream)() override { return E_UNEXPECTED; }
    STDMETHOD(BeginFlush)() override { return E_UNEXPECTED; }
    STDMETHOD(EndFlush)() override { return E_UNEXPECTED; }
protected:
    IMemAllocator* m_pAllocator = nullptr;
    IMemInputPin* m_pInputPin = nullptr;
};

// The system reference clock: steady time in 100 ns units, advise events
// signalled by a clock thread.
class CSystemClock : public CUnknown, public IReferenceClock {
public:
    CSystemClock(LPCWSTR name, LPUNKNOWN outer, HRESULT* hr);
    ~CSystemClock() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHOD(GetTime)(REFERENCE_TIME* time) override;
    STDMETHOD(AdviseTime)(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) override;
    STDMETHOD(AdvisePeriodic)(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                              DWORD_PTR* cookie) override;
    STDMETHOD(Unadvise)(DWORD_PTR cookie) override;
private:
    struct Impl;
    Impl* impl_;
};

// Thread priorities of the framework, from HKLM
// "SOFTWARE\Microsoft\DirectShow\ThreadPriority".
struct ThreadPriorityTable {
    int highest, aboveNormal, normal, belowNormal;
};
// Reads the table afresh (the values in range replace the defaults
// 249..252; an inconsistent table warns on the debug output and gives the
// defaults).
ThreadPriorityTable ReadThreadPriorityTable();
// The "Video" value read afresh: default 252.
int ReadVideoThreadPriority();
// The table and the video priority as read once per process.
const ThreadPriorityTable& FrameworkThreadPriorities();
int FrameworkVideoThreadPriority();
// Levels 1..4 (highest .. below normal); any other level is normal.
BOOL SetFrameworkThreadPriority(int level);

// The renderer: one input pin, samples scheduled against the clock.
class CBaseRenderer;
class CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer* renderer, HRESULT* hr, LPCWSTR name);
    STDMETHOD(EndOfStream)() override;
    STDMETHOD(BeginFlush)() override;
    STDMETHOD(EndFlush)() override;
    STDMETHOD(Receive)(IMediaSample* sample) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
protected:
    CBaseRenderer* m_pRenderer;
};

class CBaseRenderer : public CBaseFilter {
public:
    CBaseRenderer(REFCLSID clsid, LPCWSTR name, LPUNKNOWN outer, HRESULT* hr);
    ~CBaseRenderer() override;
    STDMETHOD(Stop)() override;
    STDMETHOD(Pause)() override;
    STDMETHOD(Run)(REFERENCE_TIME start) override;
    STDMETHOD(GetState)(DWORD msTimeout, FILTER_STATE* state) override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    // Hooks.
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
    virtual HRESULT SetMediaType(const CMediaType*) { return S_OK; }
    virtual HRESULT CompleteConnect(IPin*) { return S_OK; }
    virtual HRESULT BreakConnect();
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual void OnReceiveFirstSample(IMediaSample*) {}
    virtual void PrepareRender() {}
    virtual void OnRenderStart(IMediaSample*) {}
    virtual void OnRenderEnd(IMediaSample*) {}

    virtual HRESULT Receive(IMediaSample* sample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    // The sample held for painting (paused, or waiting for its time), with
    // a reference for the caller; null when there is none.
    IMediaSample* GetCurrentSample();
    FILTER_STATE GetRealState();
    BOOL IsEndOfStream();
    BOOL IsStreaming();
    CCritSec* InterfaceLock() { return &m_InterfaceLock; }
    CRendererInputPin* InputPin() { return static_cast<CRendererInputPin*>(GetPin(0)); }

    // Counters: frames drawn, drawn late, and dropped by stop or flush.
    LONG FramesDrawn() const { return m_cFramesDrawn; }
    LONG FramesLate() const { return m_cFramesLate; }
    LONG FramesDropped() const { return m_cFramesDropped; }
protected:
    void SendEndOfStream();
    void CancelEndOfStreamTimer();
    void WakeStreamingThread();
    static void EndOfStreamTimerCallback(UINT id, UINT msg, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
    virtual void OnLateSample(IMediaSample* sample, REFERENCE_TIME late);

    CCritSec m_InterfaceLock;
    CCritSec m_RendererLock;
    CRendererInputPin* m_pInputPin = nullptr;
    bool m_bOwnPin = false;
    IMediaSample* m_pMediaSample = nullptr;
    HANDLE m_RenderEvent;    // the clock's advise
    HANDLE m_ThreadSignal;   // state changes and flushes
    bool m_bReady = false; // a sample is held and, when paused, shown
    bool m_bEOS = false;
    bool m_bEOSDelivered = false;
    bool m_bAbort = false;
    bool m_bPeriodBegun = false;
    UINT m_EndOfStreamTimer = 0;
    REFERENCE_TIME m_tLastEnd = 0;
    bool m_bLastEndValid = false;
    std::atomic<LONG> m_cFramesDrawn{0}, m_cFramesLate{0}, m_cFramesDropped{0};
    std::atomic<int> m_iVideoPriority{252};
};

class CBaseVideoRenderer : public CBaseRenderer, public IQualProp, public IQualityControl {
public:
    CBaseVideoRenderer(REFCLSID clsid, LPCWSTR name, LPUNKNOWN outer, HRESULT* hr);
    ~CBaseVideoRenderer() override;
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHOD(get_FramesDroppedInRenderer)(int* frames) override;
    STDMETHOD(get_FramesDrawn)(int* frames) override;
    STDMETHOD(get_AvgFrameRate)(int* rate) override;
    STDMETHOD(get_Jitter)(int* jitter) override;
    STDMETHOD(get_AvgSyncOffset)(int* offset) override;
    STDMETHOD(get_DevSyncOffset)(int* deviation) override;
    STDMETHOD(Notify)(IBaseFilter* self, Quality q) override;
    STDMETHOD(SetSink)(IQualityControl* sink) override;
protected:
    // A late frame tells the upstream filter how late it is.
    void OnLateSample(IMediaSample* sample, REFERENCE_TIME late) override;
    IQualityControl* m_pQSink = nullptr;
};

// Video renderer helpers.
class CImageAllocator : public CMemAllocator {
public:
    CImageAllocator(CBaseFilter* filter, LPCWSTR name, HRESULT* hr);
    DECLARE_IUNKNOWN
    // Buffers have room for at least one frame of the agreed format.
    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    void NotifyMediaType(const CMediaType* mt);
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;
protected:
    CBaseFilter* m_pFilter;
    LONG m_lFrameSize = 0;
};

class CImageDisplay {
public:
    CImageDisplay();
    // 16-bit RGB 565 is the only display format.
    const VIDEOINFOHEADER* GetDisplayFormat() const { return &m_Display; }
    HRESULT NotifyMediaType(const CMediaType* mt);
private:
    VIDEOINFOHEADER m_Display;
};

class CImagePalette {
public:
    CImagePalette(CBaseFilter* filter, CCritSec* lock);
    HRESULT RemovePalette();
    HRESULT PreparePalette(const CMediaType* mt);
    // 16-bit displays have no palette to realise.
    HRESULT RealizePalette(HWND hwnd, BOOL foreground);
    BOOL HasPalette() const { return FALSE; }
};

// Keeps the source and target rectangles and the drawing context.
class CDrawImage {
public:
    CDrawImage();
    void SetDrawContext(HWND hwnd, HDC hdc);
    void NotifyMediaType(const CMediaType* mt);
    void NotifyAllocator(BOOL usingImageAllocator);
    BOOL UsingImageAllocator() const { return m_bUsingImageAllocator; }
    void ResetPaletteVersion() { m_PaletteVersion = 0; }
    LONG PaletteVersion() const { return m_PaletteVersion; }
    void SetSourceRect(const RECT* rc);
    void SetTargetRect(const RECT* rc);
    void GetSourceRect(RECT* rc);
    void GetTargetRect(RECT* rc);
private:
    CCritSec m_lock;
    RECT m_SourceRect{0, 0, 0, 0};
    RECT m_TargetRect{0, 0, 0, 0};
    HWND m_hwnd = nullptr;
    HDC m_hdc = nullptr;
    BOOL m_bUsingImageAllocator = FALSE;
    LONG m_PaletteVersion = 0;
};

// A window with its own thread and message loop; messages reach
// OnReceiveMessage on that thread.
class CBaseWindow {
public:
    CBaseWindow();
    virtual ~CBaseWindow();
    // Starts the window thread and waits until the window exists.
    HRESULT PrepareWindow();
    // Destroys the window on its thread and ends the thread.
    HRESULT DoneWithWindow();
    HWND GetWindowHWND() const { return m_hwnd; }
    HDC GetWindowHDC() const { return m_hdc; }
    virtual LPCWSTR GetClassWindowStyles(DWORD* classStyles, DWORD* windowStyles, DWORD* windowStylesEx) = 0;
    virtual LRESULT OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnClose();
    virtual HRESULT CompleteConnect();
    virtual RECT GetDefaultRect() = 0;
    HRESULT DoShowWindow(LONG show);
    HRESULT DoSetWindowForeground(BOOL focus);
    void SetRepaintStatus(BOOL repaint) { m_bRepaint = repaint; }
    BOOL GetRepaintStatus() const { return m_bRepaint; }
    // The window has been placed or sized by its user.
    BOOL WindowPlaced() const { return m_bPlaced; }
protected:
    static LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void threadMain(HANDLE ready);
    HWND m_hwnd = nullptr;
    HDC m_hdc = nullptr;
    std::thread m_thread;
    BOOL m_bRepaint = TRUE;
    std::atomic<BOOL> m_bPlaced{FALSE};
    HRESULT m_hrCreate = E_FAIL;
};

// The window side of a video renderer: IVideoWindow over a CBaseWindow.
class CBaseControlWindow : public CBaseWindow, public IVideoWindow {
public:
    CBaseControlWindow(CBaseFilter* filter, CCritSec* interfaceLock);
    STDMETHOD(put_Caption)(BSTR caption) override;
    STDMETHOD(get_Caption)(BSTR* caption) override;
    STDMETHOD(put_WindowStyle)(LONG style) override;
    STDMETHOD(get_WindowStyle)(LONG* style) override;
    STDMETHOD(put_WindowStyleEx)(LONG style) override;
    STDMETHOD(get_WindowStyleEx)(LONG* style) override;
    STDMETHOD(put_AutoShow)(LONG autoShow) override;
    STDMETHOD(get_AutoShow)(LONG* autoShow) override;
    STDMETHOD(put_Visible)(LONG visible) override;
    STDMETHOD(get_Visible)(LONG* visible) override;
    STDMETHOD(put_Left)(LONG left) override;
    STDMETHOD(get_Left)(LONG* left) override;
    STDMETHOD(put_Width)(LONG width) override;
    STDMETHOD(get_Width)(LONG* width) override;
    STDMETHOD(put_Top)(LONG top) override;
    STDMETHOD(get_Top)(LONG* top) override;
    STDMETHOD(put_Height)(LONG height) override;
    STDMETHOD(get_Height)(LONG* height) override;
    STDMETHOD(put_Owner)(OAHWND owner) override;
    STDMETHOD(get_Owner)(OAHWND* owner) override;
    STDMETHOD(SetWindowPosition)(LONG left, LONG top, LONG width, LONG height) override;
    STDMETHOD(GetWindowPosition)(LONG* left, LONG* top, LONG* width, LONG* height) override;
    STDMETHOD(SetWindowForeground)(LONG focus) override;
    STDMETHOD(HideCursor)(LONG hide) override;
    STDMETHOD(IsCursorHidden)(LONG* hidden) override;
    LRESULT OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    HWND GetOwnerWindow() const { return m_hwndOwner; }
    BOOL IsAutoShowEnabled() const { return m_bAutoShow; }
    BOOL IsCursorHiddenFlag() const { return m_bCursorHidden; }
    // Sizes the window to the default rectangle unless its user placed it.
    HRESULT DoSetWindowToDefaultSize();
    virtual HRESULT OnVideoSizeChange();
protected:
    CBaseFilter* m_pFilter;
    CCritSec* m_pInterfaceLock;
    std::atomic<HWND> m_hwndOwner{nullptr};
    std::atomic<BOOL> m_bAutoShow{TRUE};
    std::atomic<BOOL> m_bCursorHidden{FALSE};
};

// The video side: IBasicVideo over the rectangle hooks.
class CBaseControlVideo : public IBasicVideo {
public:
    CBaseControlVideo(CBaseFilter* filter, CCritSec* interfaceLock);
    STDMETHOD(get_SourceWidth)(LONG* w) override;
    STDMETHOD(get_SourceHeight)(LONG* h) override;
    STDMETHOD(get_DestinationWidth)(LONG* w) override;
    STDMETHOD(get_DestinationHeight)(LONG* h) override;
    STDMETHOD(SetSourcePosition)(LONG left, LONG top, LONG width, LONG height) override;
    STDMETHOD(GetSourcePosition)(LONG* left, LONG* top, LONG* width, LONG* height) override;
    STDMETHOD(SetDefaultSourcePosition)() override;
    STDMETHOD(SetDestinationPosition)(LONG left, LONG top, LONG width, LONG height) override;
    STDMETHOD(GetDestinationPosition)(LONG* left, LONG* top, LONG* width, LONG* height) override;
    STDMETHOD(SetDefaultDestinationPosition)() override;
    STDMETHOD(GetVideoSize)(LONG* width, LONG* height) override;
    STDMETHOD(GetCurrentImage)(LONG* bufferSize, LONG* image) override;
    STDMETHOD(IsUsingDefaultSource)() override;
    STDMETHOD(IsUsingDefaultDestination)() override;

    virtual HRESULT GetSourceRect(RECT* rc) = 0;
    virtual HRESULT SetSourceRect(RECT* rc) = 0;
    virtual HRESULT GetTargetRect(RECT* rc) = 0;
    virtual HRESULT SetTargetRect(RECT* rc) = 0;
    virtual HRESULT SetDefaultSourceRect() = 0;
    virtual HRESULT SetDefaultTargetRect() = 0;
    virtual HRESULT IsDefaultSourceRect() = 0;
    virtual HRESULT IsDefaultTargetRect() = 0;
    virtual HRESULT GetStaticImage(LONG* bufferSize, LONG* image) = 0;
    virtual const VIDEOINFOHEADER* GetVideoFormat() = 0;
    // Copies `source` of a YV12 sample after a BITMAPINFOHEADER: the Y, V
    // and U planes of the rectangle (its corners made even), tightly packed.
    HRESULT CopyImage(IMediaSample* sample, const VIDEOINFOHEADER* format, LONG* bufferSize, BYTE* image,
                      const RECT* source);
protected:
    HRESULT CheckSourceRect(const RECT* rc);
    HRESULT CheckTargetRect(const RECT* rc);
    CBaseFilter* m_pFilter;
    CCritSec* m_pInterfaceLock;
};

// Class factories and module registration over a module's table of
// templates (dllentry.h).
typedef CUnknown* (*LPFNNewCOMObject)(LPUNKNOWN outer, HRESULT* hr);
typedef void (*LPFNInitRoutine)(BOOL loading, const CLSID* clsid);
struct CFactoryTemplate {
    LPCWSTR m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;
    BOOL IsClassID(REFCLSID clsid) const { return *m_ClsID == clsid; }
    CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* hr) const { return m_lpfnNew(outer, hr); }
};
HRESULT AMovieGetClassObject(const CFactoryTemplate* templates, int count, REFCLSID clsid, REFIID riid, void** ppv);
HRESULT AMovieCanUnloadNow();
// Writes or removes HKCR\CLSID\{clsid} (InprocServer32: the module file,
// ThreadingModel Both) for every template and (un)registers its filter
// through IAMovieSetup. `module` is any address inside the module.
HRESULT AMovieDllRegisterServer2(BOOL doRegister, const CFactoryTemplate* templates, int count, HMODULE module);
