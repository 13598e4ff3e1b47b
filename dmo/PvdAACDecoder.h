// CPvdAACDecoder: the AAC / HE-AAC decoder as a media object with one
// compressed input stream and one 16-bit PCM output stream.
#pragma once

#include <atomic>

#include "aacdec.h"
#include "dmoimpl.h"

class CPvdAACDecoder final : public IMediaObjectImpl<CPvdAACDecoder, 1, 1> {
public:
    // Plain, or aggregated by `outer` (then `riid` must be IID_IUnknown).
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

    // IUnknown, delegating to the controlling unknown.
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return outer_->QueryInterface(riid, ppv); }
    STDMETHOD_(ULONG, AddRef)() override { return outer_->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return outer_->Release(); }

    // The object lock, taken by every IMediaObject method.
    void Lock() { EnterCriticalSection(&lock_); }
    void Unlock() { LeaveCriticalSection(&lock_); }

    // Hooks of IMediaObjectImpl.
    HRESULT InternalGetInputStreamInfo(DWORD index, DWORD* flags);
    HRESULT InternalGetOutputStreamInfo(DWORD index, DWORD* flags);
    HRESULT InternalCheckInputType(DWORD index, const DMO_MEDIA_TYPE* pmt);
    HRESULT InternalCheckOutputType(DWORD index, const DMO_MEDIA_TYPE* pmt);
    HRESULT InternalGetInputType(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* pmt);
    HRESULT InternalGetOutputType(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* pmt);
    HRESULT InternalGetInputSizeInfo(DWORD index, DWORD* size, DWORD* lookahead, DWORD* alignment);
    HRESULT InternalGetOutputSizeInfo(DWORD index, DWORD* size, DWORD* alignment);
    HRESULT InternalGetInputMaxLatency(DWORD index, REFERENCE_TIME* latency);
    HRESULT InternalSetInputMaxLatency(DWORD index, REFERENCE_TIME latency);
    HRESULT InternalFlush();
    HRESULT InternalDiscontinuity(DWORD index);
    HRESULT InternalAllocateStreamingResources();
    HRESULT InternalFreeStreamingResources();
    HRESULT InternalProcessInput(DWORD index, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time,
                                 REFERENCE_TIME timeLength);
    HRESULT InternalProcessOutput(DWORD flags, DWORD count, DMO_OUTPUT_DATA_BUFFER* buffers, DWORD* status);
    HRESULT InternalAcceptingInput(DWORD index);

    // Bytes that surely hold one whole frame: an ADTS frame is at most 8191
    // bytes long, a raw data block of two channels at most 1536.
    static constexpr int32_t kMaxFrameBytes = 8192;

private:
    explicit CPvdAACDecoder(IUnknown* outer);
    ~CPvdAACDecoder();

    // The non-delegating unknown that owns the object's lifetime.
    struct InnerUnknown final : IUnknown {
        STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        CPvdAACDecoder* owner();
        CPvdAACDecoder* self = nullptr;
    };

    HRESULT configure();
    void releaseHeldInput();
    void dropStream();
    bool reserveCarry(int32_t bytes);
    bool adtsFrameIncomplete(const uint8_t* view, int32_t avail) const;

    InnerUnknown inner_;
    IUnknown* outer_;
    std::atomic<ULONG> refs_{0};
    CRITICAL_SECTION lock_;

    AacDecoder* decoder = nullptr;
    AacStreamConfig config{};
    uint8_t heInput = 0;
    uint8_t* configBytes = nullptr;
    int32_t configLength = 0;
    int32_t firstUnitLength = 0;
    int32_t sampleRate = 0;
    int32_t channels = 0;
    int32_t avgBytesPerSec = 0;
    int32_t bitsPerSample = 0;

    IMediaBuffer* heldInput = nullptr;
    uint8_t newInput = 0;
    const uint8_t* readPtr = nullptr;
    uint32_t remaining = 0;   // bytes of heldInput not yet consumed
    int32_t consumed = 0;
    uint8_t* carryBuffer = nullptr;
    int32_t carryLength = 0;  // bytes carried from earlier buffers
    int32_t carryCapacity = 0;
    REFERENCE_TIME nextTime = 0;
    REFERENCE_TIME pendingTime = 0;
    REFERENCE_TIME endTime = 0;
    uint8_t hasTime = 0;
    int32_t resync = 0;
    int32_t discontinuity = 0;
    // Whether the stream starts with an ADTS sync word, as the decoder
    // decides on the first frame after creation.
    bool streamStarted = false;
    bool adtsInput = false;
};
