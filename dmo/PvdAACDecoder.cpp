#include "PvdAACDecoder.h"

#include <cstring>
#include <new>

#include "guids.h"
#include "module.h"

namespace {

bool sameType(const DMO_MEDIA_TYPE* a, const DMO_MEDIA_TYPE* b) {
    if (a->majortype != b->majortype || a->subtype != b->subtype || a->lSampleSize != b->lSampleSize ||
        a->formattype != b->formattype || a->cbFormat != b->cbFormat)
        return false;
    if (a->cbFormat == 0) return true;
    if (a->pbFormat == nullptr || b->pbFormat == nullptr) return a->pbFormat == b->pbFormat;
    return std::memcmp(a->pbFormat, b->pbFormat, a->cbFormat) == 0;
}

uint16_t readLe16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

} // namespace

HRESULT CPvdAACDecoder::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    CPvdAACDecoder* obj = new (std::nothrow) CPvdAACDecoder(outer);
    if (obj == nullptr) return E_OUTOFMEMORY;
    obj->inner_.AddRef();
    const HRESULT hr = obj->inner_.QueryInterface(riid, ppv);
    obj->inner_.Release();
    return hr;
}

CPvdAACDecoder::CPvdAACDecoder(IUnknown* outer) : outer_(outer != nullptr ? outer : &inner_) {
    inner_.self = this;
    InitializeCriticalSection(&lock_);
    ModuleLock();
}

CPvdAACDecoder::~CPvdAACDecoder() {
    if (ResourcesAllocated()) InternalFreeStreamingResources();
    if (decoder != nullptr) AacDecDestroy(decoder);
    delete[] carryBuffer;
    delete[] configBytes;
    releaseHeldInput();
    DeleteCriticalSection(&lock_);
    ModuleUnlock();
}

CPvdAACDecoder* CPvdAACDecoder::InnerUnknown::owner() { return self; }

HRESULT CPvdAACDecoder::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    CPvdAACDecoder* o = owner();
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(this);
    } else if (riid == IID_IMediaObject) {
        *ppv = static_cast<IMediaObject*>(o);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

ULONG CPvdAACDecoder::InnerUnknown::AddRef() { return ++owner()->refs_; }

ULONG CPvdAACDecoder::InnerUnknown::Release() {
    CPvdAACDecoder* o = owner();
    const ULONG r = --o->refs_;
    if (r == 0) delete o;
    return r;
}

HRESULT CPvdAACDecoder::InternalGetInputStreamInfo(DWORD, DWORD* flags) {
    *flags = 0;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalGetOutputStreamInfo(DWORD, DWORD* flags) {
    *flags = DMO_OUTPUT_STREAMF_WHOLE_SAMPLES | DMO_OUTPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER |
             DMO_OUTPUT_STREAMF_FIXED_SAMPLE_SIZE;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalCheckInputType(DWORD index, const DMO_MEDIA_TYPE* pmt) {
    if (InputTypeSet(index)) return sameType(InputType(index), pmt) ? S_OK : DMO_E_INVALIDTYPE;
    if (pmt->majortype != MEDIATYPE_Audio || pmt->formattype != FORMAT_WaveFormatEx) return E_INVALIDARG;
    if (pmt->subtype != MEDIASUBTYPE_MPEG_HEAAC && pmt->subtype != MEDIASUBTYPE_AAC_CONFIG_AND_UNIT)
        return E_INVALIDARG;
    if (pmt->cbFormat < sizeof(WAVEFORMATEX) || pmt->pbFormat == nullptr) return E_INVALIDARG;
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, pmt->pbFormat, sizeof wfx);
    if (wfx.nChannels != 1 && wfx.nChannels != 2) return E_INVALIDARG;
    if (wfx.wFormatTag != kAacFormatTag) return E_INVALIDARG;

    // The codec data must lie inside the format block, whatever its
    // length fields claim.
    const BYTE* format = pmt->pbFormat;
    const uint32_t size = pmt->cbFormat;
    const bool he = pmt->subtype == MEDIASUBTYPE_AAC_CONFIG_AND_UNIT;
    uint32_t cfgLen, unitLen, offset;
    if (he) {
        if (size < 26) return E_INVALIDARG;
        cfgLen = readLe16(format + 18);
        unitLen = readLe16(format + 22);
        offset = 26;
    } else {
        cfgLen = wfx.cbSize;
        unitLen = 0;
        offset = sizeof(WAVEFORMATEX);
    }
    if (cfgLen + unitLen > size - offset) return E_INVALIDARG;

    heInput = he ? 1 : 0;
    channels = wfx.nChannels;
    sampleRate = static_cast<int32_t>(wfx.nSamplesPerSec);
    avgBytesPerSec = static_cast<int32_t>(wfx.nAvgBytesPerSec);
    bitsPerSample = wfx.wBitsPerSample;

    delete[] configBytes;
    configBytes = new (std::nothrow) uint8_t[cfgLen + unitLen + 1];
    configLength = firstUnitLength = 0;
    if (configBytes == nullptr) return E_OUTOFMEMORY;
    std::memcpy(configBytes, format + offset, cfgLen + unitLen);
    configLength = static_cast<int32_t>(cfgLen);
    firstUnitLength = static_cast<int32_t>(unitLen);
    return configure();
}

HRESULT CPvdAACDecoder::configure() {
    if (decoder != nullptr) AacDecDestroy(decoder);
    decoder = nullptr;
    delete[] carryBuffer;
    carryBuffer = nullptr;
    carryLength = carryCapacity = 0;
    streamStarted = adtsInput = false;
    config = AacStreamConfig{};
    int32_t result;
    if (heInput) {
        result = AacDecCreateHe(&decoder);
        if (result == AAC_DEC_OK)
            result = AacDecParseConfigProbe(configBytes, &configLength, &config, 0, configBytes + configLength,
                                            firstUnitLength);
    } else {
        result = AacDecCreate(&decoder);
        if (result == AAC_DEC_OK) result = AacDecParseConfig(configBytes, &configLength, &config, 0);
    }
    if (result == AAC_DEC_OK) {
        result = AacDecInit(decoder, &config);
        sampleRate = config.outputSampleRate;
        channels = config.channels;
    }
    delete[] configBytes;
    configBytes = nullptr;
    configLength = firstUnitLength = 0;
    return static_cast<HRESULT>(result);
}

HRESULT CPvdAACDecoder::InternalCheckOutputType(DWORD index, const DMO_MEDIA_TYPE* pmt) {
    if (OutputTypeSet(index)) return sameType(OutputType(index), pmt) ? S_OK : DMO_E_INVALIDTYPE;
    if (!InputTypeSet(0)) return DMO_E_INVALIDTYPE;
    if (pmt->majortype != MEDIATYPE_Audio || pmt->formattype != FORMAT_WaveFormatEx ||
        pmt->subtype != MEDIASUBTYPE_PCM)
        return E_INVALIDARG;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalGetInputType(DWORD, DWORD, DMO_MEDIA_TYPE*) { return DMO_E_NO_MORE_ITEMS; }

HRESULT CPvdAACDecoder::InternalGetOutputType(DWORD, DWORD typeIndex, DMO_MEDIA_TYPE* pmt) {
    if (typeIndex != 0) return DMO_E_NO_MORE_ITEMS;
    if (!InputTypeSet(0)) return static_cast<HRESULT>(AAC_DEC_ERROR);
    if (pmt == nullptr) return E_POINTER;
    const HRESULT hr = MoInitMediaType(pmt, sizeof(WAVEFORMATEX));
    if (FAILED(hr)) return hr;
    if (pmt->pbFormat == nullptr) return static_cast<HRESULT>(AAC_DEC_ERROR);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = static_cast<WORD>(channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    wfx.nBlockAlign = static_cast<WORD>(channels * 2);
    wfx.nAvgBytesPerSec = static_cast<DWORD>(wfx.nBlockAlign) * static_cast<DWORD>(sampleRate);
    wfx.wBitsPerSample = 16;
    wfx.cbSize = 0;
    std::memcpy(pmt->pbFormat, &wfx, sizeof wfx);
    pmt->majortype = MEDIATYPE_Audio;
    pmt->subtype = MEDIASUBTYPE_PCM;
    pmt->bTemporalCompression = FALSE;
    pmt->formattype = FORMAT_WaveFormatEx;
    return hr;
}

HRESULT CPvdAACDecoder::InternalGetInputSizeInfo(DWORD, DWORD* size, DWORD* lookahead, DWORD* alignment) {
    *size = 1;
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalGetOutputSizeInfo(DWORD, DWORD* size, DWORD* alignment) {
    *size = static_cast<DWORD>(config.outputBytesPerFrame);
    *alignment = 1;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalGetInputMaxLatency(DWORD, REFERENCE_TIME*) { return E_NOTIMPL; }

HRESULT CPvdAACDecoder::InternalSetInputMaxLatency(DWORD, REFERENCE_TIME) { return E_NOTIMPL; }

void CPvdAACDecoder::releaseHeldInput() {
    if (heldInput != nullptr) heldInput->Release();
    heldInput = nullptr;
    newInput = 1;
}

void CPvdAACDecoder::dropStream() {
    releaseHeldInput();
    resync = 1;
    carryLength = 0;
    readPtr = nullptr;
    remaining = 0;
    consumed = 0;
    discontinuity = 0;
}

HRESULT CPvdAACDecoder::InternalFlush() {
    dropStream();
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalDiscontinuity(DWORD) {
    if (heldInput != nullptr) return DMO_E_NOTACCEPTING;
    discontinuity = 1;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalAllocateStreamingResources() {
    AacDecInit(decoder, &config); // the configuration was accepted with the input type
    resync = 1;
    readPtr = nullptr;
    remaining = 0;
    consumed = 0;
    carryLength = 0;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalFreeStreamingResources() {
    dropStream();
    delete[] carryBuffer;
    carryBuffer = nullptr;
    carryCapacity = 0;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalAcceptingInput(DWORD) { return heldInput == nullptr ? S_OK : S_FALSE; }

HRESULT CPvdAACDecoder::InternalProcessInput(DWORD index, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time,
                                             REFERENCE_TIME) {
    if (index != 0 || buffer == nullptr) return E_FAIL;
    if (flags & DMO_INPUT_DATA_BUFFERF_TIME) {
        hasTime = 1;
        if (resync == 1) nextTime = time;
        else pendingTime = time;
    } else {
        hasTime = 0;
    }
    buffer->AddRef();
    heldInput = buffer;
    newInput = 1;
    return S_OK;
}

bool CPvdAACDecoder::reserveCarry(int32_t bytes) {
    if (bytes <= carryCapacity) return true;
    uint8_t* grown = new (std::nothrow) uint8_t[static_cast<size_t>(bytes)];
    if (grown == nullptr) return false;
    if (carryLength > 0) std::memcpy(grown, carryBuffer, static_cast<size_t>(carryLength));
    delete[] carryBuffer;
    carryBuffer = grown;
    carryCapacity = bytes;
    return true;
}

// An ADTS header whose frame runs past the bytes at hand: decoding it now
// would only fail and disturb the decoder's block count.
bool CPvdAACDecoder::adtsFrameIncomplete(const uint8_t* view, int32_t avail) const {
    if (!adtsInput || avail < 7 || view[0] != 0xFF || (view[1] & 0xF6) != 0xF0) return false;
    const int32_t frameLength = ((view[3] & 0x03) << 11) | (view[4] << 3) | (view[5] >> 5);
    return frameLength >= 7 && frameLength > avail;
}

HRESULT CPvdAACDecoder::InternalProcessOutput(DWORD, DWORD, DMO_OUTPUT_DATA_BUFFER* buffers, DWORD*) {
    DMO_OUTPUT_DATA_BUFFER& out = buffers[0];
    if (out.pBuffer == nullptr) return E_POINTER;
    BYTE* outPtr = nullptr;
    DWORD outLength = 0, outMax = 0;
    HRESULT hr = out.pBuffer->GetBufferAndLength(&outPtr, &outLength);
    if (FAILED(hr)) return hr;
    hr = out.pBuffer->GetMaxLength(&outMax);
    if (FAILED(hr)) return hr;
    if (outPtr == nullptr) return E_POINTER;
    // A short buffer is the client's mistake: refuse it before any input
    // is consumed, so that it can retry with a proper one.
    if (outMax < static_cast<DWORD>(config.outputBytesPerFrame))
        return static_cast<HRESULT>(AAC_DEC_ERR_OUTPUT_TOO_SMALL);

    // Without input, the bytes carried past a discontinuity are all the
    // stream has left: decode them alone rather than lose them.
    const bool draining = heldInput == nullptr && discontinuity != 0 && carryLength > 0;
    if (heldInput == nullptr && !draining) return S_FALSE;

    if (heldInput != nullptr && newInput) {
        BYTE* start = nullptr;
        DWORD length = 0;
        if (FAILED(heldInput->GetBufferAndLength(&start, &length)) || start == nullptr || length == 0) {
            releaseHeldInput();
            return S_FALSE;
        }
        // The first-buffer configuration probe is not repeated here: the
        // configuration was settled with the input type, and the output
        // type agreed on it must not change under the client.
        newInput = 0;
        readPtr = start;
        remaining = length;
        if (!streamStarted && carryLength == 0) {
            adtsInput = length >= 2 && start[0] == 0xFF && (start[1] & 0xF0) == 0xF0;
            streamStarted = true;
        }
        if (carryLength > 0) nextTime = pendingTime;
    }

    // The frame starts in the carried bytes when there are any: join them
    // with the head of the new buffer, never reading past either.
    const bool joined = carryLength > 0;
    const uint8_t* view = readPtr;
    int32_t avail = static_cast<int32_t>(remaining);
    int32_t taken = 0;
    if (joined) {
        taken = draining ? 0 : static_cast<int32_t>(remaining < static_cast<uint32_t>(kMaxFrameBytes) ? remaining : kMaxFrameBytes);
        if (!reserveCarry(carryLength + taken)) return E_OUTOFMEMORY;
        if (taken > 0) std::memcpy(carryBuffer + carryLength, readPtr, static_cast<size_t>(taken));
        view = carryBuffer;
        avail = carryLength + taken;
    }

    bool needMore = !draining && adtsFrameIncomplete(view, avail);
    int32_t result = AAC_DEC_OK;
    int32_t pcmBytes = 0;
    if (!needMore) {
        consumed = avail;
        pcmBytes = config.outputBytesPerFrame;
        result = AacDecDecodeFrame(decoder, view, &consumed, reinterpret_cast<int16_t*>(outPtr), &pcmBytes);
        // A frame that claims bytes beyond the data ran off its end.
        if (result == AAC_DEC_OK && (consumed <= 0 || consumed > avail)) result = AAC_DEC_ERROR;
        // Fewer bytes than any frame may need: the frame may continue in
        // the next buffer.
        if (result == AAC_DEC_ERROR && !draining && avail < kMaxFrameBytes) needMore = true;
    }

    if (needMore) {
        if (joined) {
            carryLength = avail;
        } else {
            if (!reserveCarry(avail)) {
                releaseHeldInput();
                return E_OUTOFMEMORY;
            }
            std::memcpy(carryBuffer, readPtr, static_cast<size_t>(avail));
            carryLength = avail;
        }
        remaining = 0;
        readPtr = nullptr;
        pendingTime = endTime;
        resync = 0;
        releaseHeldInput();
        return S_FALSE;
    }
    if (result != AAC_DEC_OK) {
        carryLength = 0;
        remaining = 0;
        readPtr = nullptr;
        if (draining) discontinuity = 0;
        releaseHeldInput();
        return static_cast<HRESULT>(result);
    }

    if (joined) {
        if (consumed >= carryLength) {
            const int32_t fromNew = consumed - carryLength;
            if (fromNew > 0) readPtr += fromNew;
            remaining -= static_cast<uint32_t>(fromNew);
            carryLength = 0;
        } else {
            // The carried bytes held a whole frame and more.
            std::memmove(carryBuffer, carryBuffer + consumed, static_cast<size_t>(carryLength - consumed));
            carryLength -= consumed;
        }
    } else {
        readPtr += consumed;
        remaining -= static_cast<uint32_t>(consumed);
    }

    if (hasTime) {
        const REFERENCE_TIME duration = static_cast<REFERENCE_TIME>(
            static_cast<double>(pcmBytes) / static_cast<double>(channels * sampleRate * 2) * 10000000.0);
        endTime = nextTime + duration;
        out.rtTimestamp = nextTime;
        out.rtTimelength = duration;
        out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
        nextTime = endTime;
    }
    out.pBuffer->SetLength(static_cast<DWORD>(pcmBytes));

    if (remaining > 0 || carryLength > 0) {
        out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
        return S_OK;
    }
    if (draining) discontinuity = 0;
    resync = 1;
    readPtr = nullptr;
    releaseHeldInput();
    return S_OK;
}
