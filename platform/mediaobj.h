// DirectX Media Objects: the interfaces, media types, flags and codes, the
// media-type helpers and the DMO registry with its enumeration.
#pragma once

#include "objbase.h"

#define DMO_E_INVALIDSTREAMINDEX MAKE_HRESULT_CODE(0x80040201u)
#define DMO_E_INVALIDTYPE MAKE_HRESULT_CODE(0x80040202u)
#define DMO_E_TYPE_NOT_SET MAKE_HRESULT_CODE(0x80040203u)
#define DMO_E_NOTACCEPTING MAKE_HRESULT_CODE(0x80040204u)
#define DMO_E_TYPE_NOT_ACCEPTED MAKE_HRESULT_CODE(0x80040205u)
#define DMO_E_NO_MORE_ITEMS MAKE_HRESULT_CODE(0x80040206u)

enum _DMO_INPUT_DATA_BUFFER_FLAGS {
    DMO_INPUT_DATA_BUFFERF_SYNCPOINT = 0x1,
    DMO_INPUT_DATA_BUFFERF_TIME = 0x2,
    DMO_INPUT_DATA_BUFFERF_TIMELENGTH = 0x4,
};
enum _DMO_OUTPUT_DATA_BUFFER_FLAGS {
    DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT = 0x1,
    DMO_OUTPUT_DATA_BUFFERF_TIME = 0x2,
    DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH = 0x4,
    DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE = 0x01000000,
};
enum _DMO_INPUT_STATUS_FLAGS { DMO_INPUT_STATUSF_ACCEPT_DATA = 0x1 };
enum _DMO_SET_TYPE_FLAGS { DMO_SET_TYPEF_TEST_ONLY = 0x1, DMO_SET_TYPEF_CLEAR = 0x2 };
enum _DMO_PROCESS_OUTPUT_FLAGS { DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER = 0x1 };
enum _DMO_INPUT_STREAM_INFO_FLAGS {
    DMO_INPUT_STREAMF_WHOLE_SAMPLES = 0x1,
    DMO_INPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER = 0x2,
    DMO_INPUT_STREAMF_FIXED_SAMPLE_SIZE = 0x4,
};
enum _DMO_OUTPUT_STREAM_INFO_FLAGS {
    DMO_OUTPUT_STREAMF_WHOLE_SAMPLES = 0x1,
    DMO_OUTPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER = 0x2,
    DMO_OUTPUT_STREAMF_FIXED_SAMPLE_SIZE = 0x4,
};
enum _DMO_ENUM_FLAGS { DMO_ENUMF_INCLUDE_KEYED = 0x1 };

struct DMO_MEDIA_TYPE {
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

struct DMO_PARTIAL_MEDIATYPE {
    GUID type;
    GUID subtype;
};

struct IMediaBuffer;

struct DMO_OUTPUT_DATA_BUFFER {
    IMediaBuffer* pBuffer;
    DWORD dwStatus;
    REFERENCE_TIME rtTimestamp;
    REFERENCE_TIME rtTimelength;
};

#pragma pack(push, 2)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes");
#define WAVE_FORMAT_PCM 1

struct IMediaBuffer : IUnknown {
    STDMETHOD(SetLength)(DWORD length) = 0;
    STDMETHOD(GetMaxLength)(DWORD* maxLength) = 0;
    STDMETHOD(GetBufferAndLength)(BYTE** buffer, DWORD* length) = 0;
protected:
    ~IMediaBuffer() = default;
};

struct IMediaObject : IUnknown {
    STDMETHOD(GetStreamCount)(DWORD* inputStreams, DWORD* outputStreams) = 0;
    STDMETHOD(GetInputStreamInfo)(DWORD index, DWORD* flags) = 0;
    STDMETHOD(GetOutputStreamInfo)(DWORD index, DWORD* flags) = 0;
    STDMETHOD(GetInputType)(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(GetOutputType)(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(SetInputType)(DWORD index, const DMO_MEDIA_TYPE* pmt, DWORD flags) = 0;
    STDMETHOD(SetOutputType)(DWORD index, const DMO_MEDIA_TYPE* pmt, DWORD flags) = 0;
    STDMETHOD(GetInputCurrentType)(DWORD index, DMO_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(GetOutputCurrentType)(DWORD index, DMO_MEDIA_TYPE* pmt) = 0;
    STDMETHOD(GetInputSizeInfo)(DWORD index, DWORD* size, DWORD* maxLookahead, DWORD* alignment) = 0;
    STDMETHOD(GetOutputSizeInfo)(DWORD index, DWORD* size, DWORD* alignment) = 0;
    STDMETHOD(GetInputMaxLatency)(DWORD index, REFERENCE_TIME* latency) = 0;
    STDMETHOD(SetInputMaxLatency)(DWORD index, REFERENCE_TIME latency) = 0;
    STDMETHOD(Flush)() = 0;
    STDMETHOD(Discontinuity)(DWORD index) = 0;
    STDMETHOD(AllocateStreamingResources)() = 0;
    STDMETHOD(FreeStreamingResources)() = 0;
    STDMETHOD(GetInputStatus)(DWORD index, DWORD* flags) = 0;
    STDMETHOD(ProcessInput)(DWORD index, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time,
                            REFERENCE_TIME timeLength) = 0;
    STDMETHOD(ProcessOutput)(DWORD flags, DWORD count, DMO_OUTPUT_DATA_BUFFER* buffers, DWORD* status) = 0;
    STDMETHOD(Lock)(LONG lock) = 0;
protected:
    ~IMediaObject() = default;
};

struct IEnumDMO : IUnknown {
    // Names are task memory the caller frees.
    STDMETHOD(Next)(DWORD count, CLSID* clsids, WCHAR** names, DWORD* fetched) = 0;
    STDMETHOD(Skip)(DWORD count) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumDMO** out) = 0;
protected:
    ~IEnumDMO() = default;
};

extern const IID IID_IMediaObject;
extern const IID IID_IMediaBuffer;
extern const IID IID_IEnumDMO;
extern const GUID MEDIATYPE_Audio;
extern const GUID MEDIASUBTYPE_PCM;
extern const GUID FORMAT_WaveFormatEx;
extern const GUID DMOCATEGORY_AUDIO_DECODER;

HRESULT MoInitMediaType(DMO_MEDIA_TYPE* pmt, DWORD cbFormat);
HRESULT MoFreeMediaType(DMO_MEDIA_TYPE* pmt);
HRESULT MoCopyMediaType(DMO_MEDIA_TYPE* dest, const DMO_MEDIA_TYPE* src);

// Records a media object under HKCR\DirectShow\MediaObjects\{filterId}
// (name, CLSID, input and output types) and lists it in its category.
HRESULT DMORegisterFilter(LPCWSTR name, REFCLSID clsid, REFGUID category, REFGUID filterId, DWORD flags,
                          DWORD inputTypeCount, const DMO_PARTIAL_MEDIATYPE* inputTypes,
                          DWORD outputTypeCount, const DMO_PARTIAL_MEDIATYPE* outputTypes);
HRESULT DMOUnregisterFilter(REFGUID filterId);
// The media objects of a category (GUID_NULL: all) that take every given
// input type and give every given output type; a GUID_NULL subtype
// matches any subtype.
HRESULT DMOEnum(REFGUID category, DWORD flags, DWORD inputTypeCount, const DMO_PARTIAL_MEDIATYPE* inputTypes,
                DWORD outputTypeCount, const DMO_PARTIAL_MEDIATYPE* outputTypes, IEnumDMO** out);
