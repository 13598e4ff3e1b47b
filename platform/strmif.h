// DirectShow: media types, the filter, pin, sample, allocator, clock and
// event interfaces, the video window and video control interfaces, the
// property bag with its VARIANT, filter setup records and the filter
// mapper, with the VFW_ and EC_ codes the renderer uses.
#pragma once

#include "objbase.h"
#include "winuser.h"

typedef double REFTIME;
typedef LONG OAHWND;
typedef LONG OAEVENT;
typedef WCHAR* BSTR;
typedef int16_t VARIANT_BOOL;
#define OATRUE (-1)
#define OAFALSE 0

#define VFW_E_INVALIDMEDIATYPE MAKE_HRESULT_CODE(0x80040200u)
#define VFW_E_NEED_OWNER MAKE_HRESULT_CODE(0x80040202u) // also: no such filter during registration
#define VFW_E_NO_ACCEPTABLE_TYPES MAKE_HRESULT_CODE(0x80040207u)
#define VFW_E_BADALIGN MAKE_HRESULT_CODE(0x8004020Eu)
#define VFW_E_NOT_CONNECTED MAKE_HRESULT_CODE(0x80040209u)
#define VFW_E_NO_ALLOCATOR MAKE_HRESULT_CODE(0x8004020Au)
#define VFW_E_NOT_COMMITTED MAKE_HRESULT_CODE(0x80040211u)
#define VFW_E_SIZENOTSET MAKE_HRESULT_CODE(0x80040212u)
#define VFW_E_ALREADY_CONNECTED MAKE_HRESULT_CODE(0x80040204u)
#define VFW_E_TYPE_NOT_ACCEPTED MAKE_HRESULT_CODE(0x8004022Au)
#define VFW_E_WRONG_STATE MAKE_HRESULT_CODE(0x80040227u)
#define VFW_E_SAMPLE_REJECTED MAKE_HRESULT_CODE(0x8004022Bu)
#define VFW_E_SAMPLE_REJECTED_EOS MAKE_HRESULT_CODE(0x8004022Cu)
#define VFW_E_NO_CLOCK MAKE_HRESULT_CODE(0x80040213u)
#define VFW_E_SAMPLE_TIME_NOT_SET MAKE_HRESULT_CODE(0x80040249u)
#define VFW_E_NOT_FOUND MAKE_HRESULT_CODE(0x80040216u)
#define VFW_E_RUNTIME_ERROR MAKE_HRESULT_CODE(0x8004020Bu)
#define VFW_E_BUFFER_NOTSET MAKE_HRESULT_CODE(0x8004020Cu)
#define VFW_E_BUFFERS_OUTSTANDING MAKE_HRESULT_CODE(0x80040215u)
#define VFW_S_STATE_INTERMEDIATE MAKE_HRESULT_CODE(0x00040237u)
#define VFW_S_NO_MORE_ITEMS MAKE_HRESULT_CODE(0x00040103u)

#define EC_COMPLETE 0x01
#define EC_USERABORT 0x02
#define EC_ERRORABORT 0x03
#define EC_REPAINT 0x05
#define EC_QUALITY_CHANGE 0x0B
#define EC_ACTIVATE 0x13
#define EC_VIDEO_SIZE_CHANGED 0x0A
#define EC_WINDOW_DESTROYED 0x55
#define EC_NOTIFY_WINDOW 0x19

// Filter-graph time in 100 ns units.
#define UNITS 10000000
#define MILLISECONDS 10000

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER is 88 bytes");
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biWidth) == 52,
              "biWidth at byte 52");

extern const GUID MEDIATYPE_Video;
extern const GUID MEDIASUBTYPE_YV12;
extern const GUID MEDIASUBTYPE_I420;
extern const GUID MEDIASUBTYPE_YUY2;
extern const GUID MEDIASUBTYPE_RGB565;
extern const GUID FORMAT_VideoInfo;
extern const GUID FORMAT_None;
extern const GUID CLSID_NULL;

extern const IID IID_IPin;
extern const IID IID_IEnumPins;
extern const IID IID_IEnumMediaTypes;
extern const IID IID_IMediaFilter;
extern const IID IID_IBaseFilter;
extern const IID IID_IFilterGraph;
extern const IID IID_IMediaSample;
extern const IID IID_IMemAllocator;
extern const IID IID_IMemInputPin;
extern const IID IID_IReferenceClock;
extern const IID IID_IMediaEventSink;
extern const IID IID_IVideoWindow;
extern const IID IID_IBasicVideo;
extern const IID IID_IPropertyBag;
extern const IID IID_IErrorLog;
extern const IID IID_IAMovieSetup;
extern const IID IID_IQualProp;
extern const IID IID_IQualityControl;
extern const IID IID_IFilterMapper2;
extern const CLSID CLSID_FilterMapper2;
extern const CLSID CLSID_SystemClock;
extern const CLSID CLSID_LegacyAmFilterCategory;

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct IPin;
struct IBaseFilter;
struct IFilterGraph;
struct IReferenceClock;

struct PIN_INFO {
    IBaseFilter* pFilter;
    PIN_DIRECTION dir;
    WCHAR achName[128];
};
struct FILTER_INFO {
    WCHAR achName[128];
    IFilterGraph* pGraph;
};
struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

struct IEnumMediaTypes : IUnknown {
    STDMETHOD(Next)(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    STDMETHOD(Skip)(ULONG count) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumMediaTypes** out) = 0;
protected:
    ~IEnumMediaTypes() = default;
};

struct IPin : IUnknown {
    STDMETHOD(Connect)(IPin* receivePin, const AM_MEDIA_TYPE* mt) = 0;
    STDMETHOD(ReceiveConnection)(IPin* connector, const AM_MEDIA_TYPE* mt) = 0;
    STDMETHOD(Disconnect)() = 0;
    STDMETHOD(ConnectedTo)(IPin** pin) = 0;
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* mt) = 0;
    STDMETHOD(QueryPinInfo)(PIN_INFO* info) = 0;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* dir) = 0;
    STDMETHOD(QueryId)(LPWSTR* id) = 0;
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* mt) = 0;
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** e) = 0;
    STDMETHOD(QueryInternalConnections)(IPin** pins, ULONG* count) = 0;
    STDMETHOD(EndOfStream)() = 0;
    STDMETHOD(BeginFlush)() = 0;
    STDMETHOD(EndFlush)() = 0;
    STDMETHOD(NewSegment)(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
protected:
    ~IPin() = default;
};

struct IEnumPins : IUnknown {
    STDMETHOD(Next)(ULONG count, IPin** pins, ULONG* fetched) = 0;
    STDMETHOD(Skip)(ULONG count) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumPins** out) = 0;
protected:
    ~IEnumPins() = default;
};

struct IPersist : IUnknown {
    STDMETHOD(GetClassID)(CLSID* clsid) = 0;
protected:
    ~IPersist() = default;
};

struct IMediaFilter : IPersist {
    STDMETHOD(Stop)() = 0;
    STDMETHOD(Pause)() = 0;
    STDMETHOD(Run)(REFERENCE_TIME start) = 0;
    STDMETHOD(GetState)(DWORD msTimeout, FILTER_STATE* state) = 0;
    STDMETHOD(SetSyncSource)(IReferenceClock* clock) = 0;
    STDMETHOD(GetSyncSource)(IReferenceClock** clock) = 0;
protected:
    ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
    STDMETHOD(EnumPins)(IEnumPins** e) = 0;
    STDMETHOD(FindPin)(LPCWSTR id, IPin** pin) = 0;
    STDMETHOD(QueryFilterInfo)(FILTER_INFO* info) = 0;
    STDMETHOD(JoinFilterGraph)(IFilterGraph* graph, LPCWSTR name) = 0;
    STDMETHOD(QueryVendorInfo)(LPWSTR* info) = 0;
protected:
    ~IBaseFilter() = default;
};

struct IEnumFilters;
struct IFilterGraph : IUnknown {
    STDMETHOD(AddFilter)(IBaseFilter* filter, LPCWSTR name) = 0;
    STDMETHOD(RemoveFilter)(IBaseFilter* filter) = 0;
    STDMETHOD(EnumFilters)(IEnumFilters** e) = 0;
    STDMETHOD(FindFilterByName)(LPCWSTR name, IBaseFilter** filter) = 0;
    STDMETHOD(ConnectDirect)(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
    STDMETHOD(Reconnect)(IPin* pin) = 0;
    STDMETHOD(Disconnect)(IPin* pin) = 0;
    STDMETHOD(SetDefaultSyncSource)() = 0;
protected:
    ~IFilterGraph() = default;
};

struct IMediaEventSink : IUnknown {
    STDMETHOD(Notify)(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;
protected:
    ~IMediaEventSink() = default;
};

struct IMediaSample : IUnknown {
    STDMETHOD(GetPointer)(BYTE** buffer) = 0;
    STDMETHOD_(LONG, GetSize)() = 0;
    STDMETHOD(GetTime)(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    STDMETHOD(SetTime)(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    STDMETHOD(IsSyncPoint)() = 0;
    STDMETHOD(SetSyncPoint)(BOOL sync) = 0;
    STDMETHOD(IsPreroll)() = 0;
    STDMETHOD(SetPreroll)(BOOL preroll) = 0;
    STDMETHOD_(LONG, GetActualDataLength)() = 0;
    STDMETHOD(SetActualDataLength)(LONG length) = 0;
    STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** mt) = 0;
    STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* mt) = 0;
    STDMETHOD(IsDiscontinuity)() = 0;
    STDMETHOD(SetDiscontinuity)(BOOL discontinuity) = 0;
    STDMETHOD(GetMediaTime)(LONGLONG* start, LONGLONG* end) = 0;
    STDMETHOD(SetMediaTime)(LONGLONG* start, LONGLONG* end) = 0;
protected:
    ~IMediaSample() = default;
};

struct IMemAllocator : IUnknown {
    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
    STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* props) = 0;
    STDMETHOD(Commit)() = 0;
    STDMETHOD(Decommit)() = 0;
    STDMETHOD(GetBuffer)(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) = 0;
    STDMETHOD(ReleaseBuffer)(IMediaSample* sample) = 0;
protected:
    ~IMemAllocator() = default;
};

struct IMemInputPin : IUnknown {
    STDMETHOD(GetAllocator)(IMemAllocator** allocator) = 0;
    STDMETHOD(NotifyAllocator)(IMemAllocator* allocator, BOOL readOnly) = 0;
    STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* props) = 0;
    STDMETHOD(Receive)(IMediaSample* sample) = 0;
    STDMETHOD(ReceiveMultiple)(IMediaSample** samples, LONG count, LONG* processed) = 0;
    STDMETHOD(ReceiveCanBlock)() = 0;
protected:
    ~IMemInputPin() = default;
};

typedef uintptr_t HEVENT;
typedef uintptr_t HSEMAPHORE;
struct IReferenceClock : IUnknown {
    STDMETHOD(GetTime)(REFERENCE_TIME* time) = 0;
    // Signals the event (a HANDLE from CreateEvent) once the clock reaches
    // baseTime + streamTime.
    STDMETHOD(AdviseTime)(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) = 0;
    STDMETHOD(AdvisePeriodic)(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                              DWORD_PTR* cookie) = 0;
    STDMETHOD(Unadvise)(DWORD_PTR cookie) = 0;
protected:
    ~IReferenceClock() = default;
};

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
    QualityMessageType Type;
    LONG Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};
struct IQualityControl : IUnknown {
    STDMETHOD(Notify)(IBaseFilter* self, Quality q) = 0;
    STDMETHOD(SetSink)(IQualityControl* sink) = 0;
protected:
    ~IQualityControl() = default;
};

struct IQualProp : IUnknown {
    STDMETHOD(get_FramesDroppedInRenderer)(int* frames) = 0;
    STDMETHOD(get_FramesDrawn)(int* frames) = 0;
    STDMETHOD(get_AvgFrameRate)(int* rate) = 0;
    STDMETHOD(get_Jitter)(int* jitter) = 0;
    STDMETHOD(get_AvgSyncOffset)(int* offset) = 0;
    STDMETHOD(get_DevSyncOffset)(int* deviation) = 0;
protected:
    ~IQualProp() = default;
};

struct IVideoWindow : IUnknown {
    STDMETHOD(put_Caption)(BSTR caption) = 0;
    STDMETHOD(get_Caption)(BSTR* caption) = 0;
    STDMETHOD(put_WindowStyle)(LONG style) = 0;
    STDMETHOD(get_WindowStyle)(LONG* style) = 0;
    STDMETHOD(put_WindowStyleEx)(LONG style) = 0;
    STDMETHOD(get_WindowStyleEx)(LONG* style) = 0;
    STDMETHOD(put_AutoShow)(LONG autoShow) = 0;
    STDMETHOD(get_AutoShow)(LONG* autoShow) = 0;
    STDMETHOD(put_Visible)(LONG visible) = 0;
    STDMETHOD(get_Visible)(LONG* visible) = 0;
    STDMETHOD(put_Left)(LONG left) = 0;
    STDMETHOD(get_Left)(LONG* left) = 0;
    STDMETHOD(put_Width)(LONG width) = 0;
    STDMETHOD(get_Width)(LONG* width) = 0;
    STDMETHOD(put_Top)(LONG top) = 0;
    STDMETHOD(get_Top)(LONG* top) = 0;
    STDMETHOD(put_Height)(LONG height) = 0;
    STDMETHOD(get_Height)(LONG* height) = 0;
    STDMETHOD(put_Owner)(OAHWND owner) = 0;
    STDMETHOD(get_Owner)(OAHWND* owner) = 0;
    STDMETHOD(SetWindowPosition)(LONG left, LONG top, LONG width, LONG height) = 0;
    STDMETHOD(GetWindowPosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    STDMETHOD(SetWindowForeground)(LONG focus) = 0;
    STDMETHOD(HideCursor)(LONG hide) = 0;
    STDMETHOD(IsCursorHidden)(LONG* hidden) = 0;
protected:
    ~IVideoWindow() = default;
};

struct IBasicVideo : IUnknown {
    STDMETHOD(get_SourceWidth)(LONG* w) = 0;
    STDMETHOD(get_SourceHeight)(LONG* h) = 0;
    STDMETHOD(get_DestinationWidth)(LONG* w) = 0;
    STDMETHOD(get_DestinationHeight)(LONG* h) = 0;
    STDMETHOD(SetSourcePosition)(LONG left, LONG top, LONG width, LONG height) = 0;
    STDMETHOD(GetSourcePosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    STDMETHOD(SetDefaultSourcePosition)() = 0;
    STDMETHOD(SetDestinationPosition)(LONG left, LONG top, LONG width, LONG height) = 0;
    STDMETHOD(GetDestinationPosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    STDMETHOD(SetDefaultDestinationPosition)() = 0;
    STDMETHOD(GetVideoSize)(LONG* width, LONG* height) = 0;
    STDMETHOD(GetCurrentImage)(LONG* bufferSize, LONG* image) = 0;
    STDMETHOD(IsUsingDefaultSource)() = 0;
    STDMETHOD(IsUsingDefaultDestination)() = 0;
protected:
    ~IBasicVideo() = default;
};

// VARIANT with the members the property bags here use.
typedef uint16_t VARTYPE;
enum VARENUM { VT_EMPTY = 0, VT_I4 = 3, VT_BSTR = 8, VT_UI4 = 19, VT_INT = 22, VT_UINT = 23 };
struct VARIANT {
    VARTYPE vt;
    WORD wReserved1, wReserved2, wReserved3;
    union {
        LONG lVal;
        ULONG ulVal;
        int32_t intVal;
        uint32_t uintVal;
        BSTR bstrVal;
    };
};
void VariantInit(VARIANT* v);

struct IErrorLog : IUnknown {
    STDMETHOD(AddError)(LPCOLESTR property, void* excepInfo) = 0;
protected:
    ~IErrorLog() = default;
};
struct IPropertyBag : IUnknown {
    STDMETHOD(Read)(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) = 0;
    STDMETHOD(Write)(LPCOLESTR name, VARIANT* value) = 0;
protected:
    ~IPropertyBag() = default;
};

struct IAMovieSetup : IUnknown {
    STDMETHOD(Register)() = 0;
    STDMETHOD(Unregister)() = 0;
protected:
    ~IAMovieSetup() = default;
};

// Filter setup records.
struct REGPINTYPES {
    const CLSID* clsMajorType;
    const CLSID* clsMinorType;
};
struct AMOVIESETUP_MEDIATYPE {
    const CLSID* clsMajorType;
    const CLSID* clsMinorType;
};
struct AMOVIESETUP_PIN {
    LPCWSTR strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID* clsConnectsToFilter;
    LPCWSTR strConnectsToPin;
    UINT nMediaTypes;
    const AMOVIESETUP_MEDIATYPE* lpMediaType;
};
struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    LPCWSTR strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};
typedef AMOVIESETUP_PIN REGFILTERPINS;
struct REGFILTER2 {
    DWORD dwVersion;
    DWORD dwMerit;
    ULONG cPins;
    const REGFILTERPINS* rgPins;
};

struct IMoniker;
// The filter registry: HKCR\CLSID\{category}\Instance\{clsid} holds the
// friendly name, the CLSID, the merit and one key per pin with its flags
// and media types.
struct IFilterMapper2 : IUnknown {
    STDMETHOD(CreateCategory)(REFCLSID category, DWORD merit, LPCWSTR description) = 0;
    STDMETHOD(UnregisterFilter)(const CLSID* category, LPCOLESTR instance, REFCLSID filter) = 0;
    STDMETHOD(RegisterFilter)(REFCLSID filter, LPCWSTR name, IMoniker** moniker, const CLSID* category,
                              LPCOLESTR instance, const REGFILTER2* rf2) = 0;
protected:
    ~IFilterMapper2() = default;
};
// The platform's own mapper object (what CoCreateInstance of
// CLSID_FilterMapper2 gives on the device).
HRESULT CreateFilterMapper(IFilterMapper2** mapper);
