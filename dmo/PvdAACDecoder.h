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
    // bytes long, a raw data block of two channels at most 1536. The carry
    // buffer has this size.
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

    // What one step of the stream gave.
    enum class Step { kFrame, kFailed, kNeedMore };

    HRESULT configure();
    WAVEFORMATEX outputWaveFormat() const;
    void releaseHeldInput();
    void resetStream();
    void restartDecoder();
    bool ensureCarry();
    void carryRest();
    void consumeInput(int32_t bytes);
    Step stepAdts(int16_t* pcm, int32_t* pcmBytes, int32_t* result);
    Step stepRaw(int16_t* pcm, int32_t* pcmBytes, int32_t* result);
    Step drainCarry(int16_t* pcm, int32_t* pcmBytes, int32_t* result);
    bool adtsFrameInHand();
    int32_t decode(const uint8_t* data, int32_t bytes, int16_t* pcm, int32_t* pcmBytes, int32_t* consumedOut);

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
    uint8_t* carryBuffer = nullptr; // kMaxFrameBytes: a frame begun in earlier buffers
    int32_t carryLength = 0;

    // Time stamps: the clock runs from the first stamped buffer; a buffer's
    // stamp belongs to the first frame that starts in it.
    REFERENCE_TIME nextTime = 0;
    REFERENCE_TIME pendingTime = 0;
    bool clockSet = false;
    bool stampPending = false;
    int32_t discontinuity = 0;

    // The stream's framing, settled by its first bytes after configuration.
    bool streamStarted = false;
    bool adtsInput = false;
    // ADTS: bytes and blocks of the current frame still to come (the frame
    // is whole in hand while blocks remain).
    int32_t frameLeft = 0;
    int32_t blocksLeft = 0;
    // Raw access units: whether units have been seen to run across buffers,
    // and how many buffers ended exactly with a unit.
    bool unitsSplit = false;
    int32_t exactEnds = 0;
    int32_t lastUnitBytes = 0;
};
