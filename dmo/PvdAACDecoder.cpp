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
    carryLength = 0;
    frameLeft = blocksLeft = 0;
    streamStarted = adtsInput = false;
    unitsSplit = false;
    exactEnds = 0;
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
    // The PCM is what the decoder makes: any other layout, rate or channel
    // count would be written with this one's bytes.
    if (pmt->cbFormat != sizeof(WAVEFORMATEX) || pmt->pbFormat == nullptr) return DMO_E_INVALIDTYPE;
    const WAVEFORMATEX wanted = outputWaveFormat();
    return std::memcmp(pmt->pbFormat, &wanted, sizeof wanted) == 0 ? S_OK : DMO_E_INVALIDTYPE;
}

WAVEFORMATEX CPvdAACDecoder::outputWaveFormat() const {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = static_cast<WORD>(channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    wfx.nBlockAlign = static_cast<WORD>(channels * 2);
    wfx.nAvgBytesPerSec = static_cast<DWORD>(wfx.nBlockAlign) * static_cast<DWORD>(sampleRate);
    wfx.wBitsPerSample = 16;
    wfx.cbSize = 0;
    return wfx;
}

HRESULT CPvdAACDecoder::InternalGetInputType(DWORD, DWORD, DMO_MEDIA_TYPE*) { return DMO_E_NO_MORE_ITEMS; }

HRESULT CPvdAACDecoder::InternalGetOutputType(DWORD, DWORD typeIndex, DMO_MEDIA_TYPE* pmt) {
    if (typeIndex != 0) return DMO_E_NO_MORE_ITEMS;
    if (!InputTypeSet(0)) return static_cast<HRESULT>(AAC_DEC_ERROR);
    if (pmt == nullptr) return E_POINTER;
    const HRESULT hr = MoInitMediaType(pmt, sizeof(WAVEFORMATEX));
    if (FAILED(hr)) return hr;
    if (pmt->pbFormat == nullptr) return static_cast<HRESULT>(AAC_DEC_ERROR);
    const WAVEFORMATEX wfx = outputWaveFormat();
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

namespace {

// A byte-aligned ADTS header with a frame length that can hold it, at p
// (7 bytes readable).
bool isAdtsHeader(const uint8_t* p) {
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;
    if (((p[2] >> 2) & 0x0F) >= 12) return false;
    const int32_t length = ((p[3] & 0x03) << 11) | (p[4] << 3) | (p[5] >> 5);
    const int32_t blocks = p[6] & 0x03;
    const int32_t header = (p[1] & 1) ? 7 : 9 + 2 * blocks;
    return length > header;
}

int32_t adtsFrameLength(const uint8_t* p) { return ((p[3] & 0x03) << 11) | (p[4] << 3) | (p[5] >> 5); }

int32_t adtsBlocks(const uint8_t* p) { return (p[6] & 0x03) + 1; }

} // namespace

void CPvdAACDecoder::releaseHeldInput() {
    if (heldInput != nullptr) heldInput->Release();
    heldInput = nullptr;
    newInput = 1;
    readPtr = nullptr;
    remaining = 0;
}

// A fresh start of the decoder: histories, ADTS block count, learned tags.
void CPvdAACDecoder::restartDecoder() {
    if (decoder != nullptr) {
        AacStreamConfig c = config;
        AacDecInit(decoder, &c);
    }
    frameLeft = blocksLeft = 0;
}

void CPvdAACDecoder::resetStream() {
    releaseHeldInput();
    carryLength = 0;
    discontinuity = 0;
    restartDecoder();
}

bool CPvdAACDecoder::ensureCarry() {
    if (carryBuffer == nullptr) carryBuffer = new (std::nothrow) uint8_t[kMaxFrameBytes];
    return carryBuffer != nullptr;
}

// Moves what is left of the held buffer behind the carried bytes and lets
// the buffer go. Only a frame's start is ever carried, so it fits.
void CPvdAACDecoder::carryRest() {
    const uint32_t room = static_cast<uint32_t>(kMaxFrameBytes - carryLength);
    const uint32_t n = remaining < room ? remaining : room;
    if (n > 0) {
        std::memcpy(carryBuffer + carryLength, readPtr, n);
        carryLength += static_cast<int32_t>(n);
    }
    releaseHeldInput();
}

// Consumes bytes of the current ADTS frame, which lies whole in the carried
// bytes or whole in the held buffer.
void CPvdAACDecoder::consumeInput(int32_t bytes) {
    if (bytes <= 0) return;
    if (carryLength > 0) {
        const int32_t n = bytes < carryLength ? bytes : carryLength;
        std::memmove(carryBuffer, carryBuffer + n, static_cast<size_t>(carryLength - n));
        carryLength -= n;
    } else {
        const uint32_t n = static_cast<uint32_t>(bytes) < remaining ? static_cast<uint32_t>(bytes) : remaining;
        readPtr += n;
        remaining -= n;
    }
}

int32_t CPvdAACDecoder::decode(const uint8_t* data, int32_t bytes, int16_t* pcm, int32_t* pcmBytes,
                               int32_t* consumedOut) {
    int32_t used = bytes;
    *pcmBytes = config.outputBytesPerFrame;
    int32_t rc = AacDecDecodeFrame(decoder, data, &used, pcm, pcmBytes);
    if (rc == AAC_DEC_OK && (used <= 0 || used > bytes)) rc = AAC_DEC_ERROR;
    *consumedOut = used;
    return rc;
}

CPvdAACDecoder::Step CPvdAACDecoder::stepAdts(int16_t* pcm, int32_t* pcmBytes, int32_t* result) {
    const bool draining = heldInput == nullptr;
    int32_t used = 0;
    if (blocksLeft > 0) {
        // The next block of a frame already begun: its bytes are all here.
        const uint8_t* at = carryLength > 0 ? carryBuffer : readPtr;
        const int32_t rc = decode(at, frameLeft, pcm, pcmBytes, &used);
        if (rc != AAC_DEC_OK) {
            consumeInput(frameLeft);
            frameLeft = blocksLeft = 0;
            *result = rc;
            return Step::kFailed;
        }
        consumeInput(used);
        frameLeft -= used;
        if (--blocksLeft == 0) {
            consumeInput(frameLeft);
            frameLeft = 0;
        }
        return Step::kFrame;
    }

    const uint8_t* frame;
    int32_t length;
    if (carryLength == 0) {
        while (remaining >= 7 && !isAdtsHeader(readPtr)) {
            ++readPtr;
            --remaining;
        }
        if (remaining < 7 || static_cast<uint32_t>(adtsFrameLength(readPtr)) > remaining) {
            if (draining) return Step::kNeedMore;
            carryRest();
            return Step::kNeedMore;
        }
        frame = readPtr;
        length = adtsFrameLength(readPtr);
    } else {
        // The carried bytes begin a frame, or what may be one: complete its
        // header from the new buffer, then the frame.
        for (;;) {
            while (carryLength < 7 && remaining > 0) {
                carryBuffer[carryLength++] = *readPtr++;
                --remaining;
            }
            if (carryLength < 7) {
                if (draining) carryLength = 0;
                else releaseHeldInput();
                return Step::kNeedMore;
            }
            if (isAdtsHeader(carryBuffer)) break;
            std::memmove(carryBuffer, carryBuffer + 1, static_cast<size_t>(carryLength - 1));
            --carryLength;
        }
        length = adtsFrameLength(carryBuffer);
        const uint32_t missing = static_cast<uint32_t>(length - carryLength > 0 ? length - carryLength : 0);
        const uint32_t n = missing < remaining ? missing : remaining;
        if (n > 0) {
            std::memcpy(carryBuffer + carryLength, readPtr, n);
            carryLength += static_cast<int32_t>(n);
            readPtr += n;
            remaining -= n;
        }
        if (carryLength < length) {
            if (!draining) {
                releaseHeldInput();
                return Step::kNeedMore;
            }
            // The stream ends inside this frame: decode what there is.
            length = carryLength;
        }
        frame = carryBuffer;
    }

    const int32_t rc = decode(frame, length, pcm, pcmBytes, &used);
    if (rc != AAC_DEC_OK) {
        consumeInput(length);
        *result = rc;
        return Step::kFailed;
    }
    blocksLeft = length >= 7 ? adtsBlocks(frame) - 1 : 0;
    consumeInput(used);
    frameLeft = length - used;
    if (blocksLeft == 0) {
        // A header right after the block means the frame length lied: the
        // bytes after the block are the next frame, not padding.
        const uint8_t* after = carryLength > 0 ? carryBuffer : readPtr;
        const int32_t inView = carryLength > 0 ? carryLength : static_cast<int32_t>(remaining);
        if (!(frameLeft >= 7 && inView >= 7 && isAdtsHeader(after))) consumeInput(frameLeft);
        frameLeft = 0;
    }
    return Step::kFrame;
}

CPvdAACDecoder::Step CPvdAACDecoder::stepRaw(int16_t* pcm, int32_t* pcmBytes, int32_t* result) {
    const bool draining = heldInput == nullptr;
    const bool joined = carryLength > 0;
    const uint8_t* view = readPtr;
    int32_t avail = static_cast<int32_t>(remaining > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : remaining);
    uint32_t taken = 0;
    if (joined) {
        // Join the carried bytes with the head of the new buffer, never
        // reading past either.
        const uint32_t room = static_cast<uint32_t>(kMaxFrameBytes - carryLength);
        taken = remaining < room ? remaining : room;
        if (taken > 0) std::memcpy(carryBuffer + carryLength, readPtr, taken);
        view = carryBuffer;
        avail = carryLength + static_cast<int32_t>(taken);
    }
    if (avail == 0) return Step::kNeedMore;

    int32_t used = 0;
    const int32_t rc = decode(view, avail, pcm, pcmBytes, &used);
    if (rc == AAC_DEC_OK) {
        lastUnitBytes = used;
        if (!joined) {
            readPtr += used;
            remaining -= static_cast<uint32_t>(used);
            if (remaining == 0) ++exactEnds;
        } else if (used >= carryLength) {
            const uint32_t fromNew = static_cast<uint32_t>(used - carryLength);
            if (fromNew > 0) unitsSplit = true;
            readPtr += fromNew;
            remaining -= fromNew;
            carryLength = 0;
        } else {
            std::memmove(carryBuffer, carryBuffer + used, static_cast<size_t>(carryLength - used));
            carryLength -= used;
        }
        return Step::kFrame;
    }

    // A unit that fails with all the bytes in hand in view may only be
    // incomplete, unless buffers have been seen to hold whole units.
    const bool atEnd = !joined || taken == remaining;
    const bool wholeUnits = exactEnds > 0 && !unitsSplit;
    if (!draining && atEnd && avail < kMaxFrameBytes && !wholeUnits) {
        if (joined) {
            carryLength = avail;
        } else {
            std::memcpy(carryBuffer, readPtr, static_cast<size_t>(avail));
            carryLength = avail;
        }
        releaseHeldInput();
        return Step::kNeedMore;
    }
    // A bad unit. Its length is unknown: the next unit is taken to start
    // with the next buffer.
    if (joined) carryLength = 0;
    else remaining = 0;
    *result = rc;
    return Step::kFailed;
}

// Whether the held buffer holds the next ADTS frame whole (bytes before its
// header are dropped on the way).
bool CPvdAACDecoder::adtsFrameInHand() {
    while (remaining >= 7 && !isAdtsHeader(readPtr)) {
        ++readPtr;
        --remaining;
    }
    return remaining >= 7 && static_cast<uint32_t>(adtsFrameLength(readPtr)) <= remaining;
}

HRESULT CPvdAACDecoder::InternalFlush() {
    resetStream();
    clockSet = stampPending = false;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalDiscontinuity(DWORD) {
    if (heldInput != nullptr) return DMO_E_NOTACCEPTING;
    // The next input does not continue this one: what is carried is the
    // end of the stream so far, decoded by the next ProcessOutput calls;
    // then the decoder starts afresh.
    discontinuity = 1;
    if (carryLength == 0) restartDecoder();
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalAllocateStreamingResources() {
    if (!ensureCarry()) return E_OUTOFMEMORY;
    releaseHeldInput();
    carryLength = 0;
    discontinuity = 0;
    clockSet = stampPending = false;
    restartDecoder(); // the configuration was accepted with the input type
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalFreeStreamingResources() {
    resetStream();
    delete[] carryBuffer;
    carryBuffer = nullptr;
    return S_OK;
}

HRESULT CPvdAACDecoder::InternalAcceptingInput(DWORD) { return heldInput == nullptr ? S_OK : S_FALSE; }

HRESULT CPvdAACDecoder::InternalProcessInput(DWORD index, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time,
                                             REFERENCE_TIME) {
    if (index != 0 || buffer == nullptr) return E_FAIL;
    if (discontinuity != 0) {
        // Bytes carried past a discontinuity and never drained cannot be
        // completed by this input.
        carryLength = 0;
        discontinuity = 0;
        restartDecoder();
    }
    if (flags & DMO_INPUT_DATA_BUFFERF_TIME) {
        stampPending = true;
        pendingTime = time;
    }
    buffer->AddRef();
    heldInput = buffer;
    newInput = 1;
    return S_OK;
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
    if (carryBuffer == nullptr) return E_OUTOFMEMORY;

    // Without input, bytes carried past a discontinuity are all the stream
    // has left: decode them alone rather than lose them.
    const bool draining = heldInput == nullptr && discontinuity != 0 && carryLength > 0;
    if (heldInput == nullptr && !draining) return S_FALSE;

    if (heldInput != nullptr && newInput) {
        BYTE* start = nullptr;
        DWORD length = 0;
        if (FAILED(heldInput->GetBufferAndLength(&start, &length)) || start == nullptr || length == 0) {
            releaseHeldInput();
            return S_FALSE;
        }
        newInput = 0;
        readPtr = start;
        remaining = length;
    }

    if (!streamStarted) {
        // The decoder takes a stream for ADTS when it starts with a sync
        // word; so does the framing here.
        uint8_t head[2];
        int32_t n = 0;
        for (int32_t i = 0; i < carryLength && n < 2; ++i) head[n++] = carryBuffer[i];
        for (uint32_t i = 0; i < remaining && n < 2; ++i) head[n++] = readPtr[i];
        if (n < 2 && !draining) {
            carryRest();
            return S_FALSE;
        }
        adtsInput = n == 2 && head[0] == 0xFF && (head[1] & 0xF0) == 0xF0;
        streamStarted = true;
    }

    int16_t* pcm = reinterpret_cast<int16_t*>(outPtr);
    int32_t pcmBytes = 0;
    int32_t failure = AAC_DEC_OK;
    bool gotFrame = false;
    bool startedEarlier = false;
    for (;;) {
        startedEarlier = carryLength > 0;
        int32_t rc = AAC_DEC_OK;
        const Step step = adtsInput ? stepAdts(pcm, &pcmBytes, &rc) : stepRaw(pcm, &pcmBytes, &rc);
        if (step == Step::kFrame) {
            gotFrame = true;
            break;
        }
        if (step == Step::kNeedMore) break;
        // A bad frame costs only itself: go on with what follows it.
        failure = rc;
        const bool more = heldInput != nullptr ? (remaining > 0 || carryLength > 0) : carryLength > 0;
        if (!more) break;
    }

    if (!gotFrame) {
        if (heldInput != nullptr && remaining == 0) releaseHeldInput();
        if (heldInput == nullptr && carryLength == 0 && discontinuity != 0) {
            discontinuity = 0;
            restartDecoder();
        }
        return failure != AAC_DEC_OK ? static_cast<HRESULT>(failure) : S_FALSE;
    }

    if (stampPending && (!startedEarlier || !clockSet)) {
        nextTime = pendingTime;
        clockSet = true;
        stampPending = false;
    }
    if (clockSet) {
        const REFERENCE_TIME duration = static_cast<REFERENCE_TIME>(
            static_cast<double>(pcmBytes) / static_cast<double>(channels * sampleRate * 2) * 10000000.0);
        out.rtTimestamp = nextTime;
        out.rtTimelength = duration;
        out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
        nextTime += duration;
    }
    out.pBuffer->SetLength(static_cast<DWORD>(pcmBytes));

    // Keep the buffer, and say so, while it still holds another frame;
    // otherwise carry its tail and let it go.
    bool inHand;
    if (heldInput == nullptr) {
        inHand = carryLength > 0;
    } else if (adtsInput) {
        inHand = blocksLeft > 0 || (carryLength == 0 && adtsFrameInHand());
    } else {
        inHand = carryLength > 0 || (remaining > 0 && remaining >= static_cast<uint32_t>(lastUnitBytes));
    }
    if (inHand) {
        out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
        return S_OK;
    }
    if (heldInput != nullptr) carryRest();
    if (heldInput == nullptr && carryLength == 0 && discontinuity != 0) {
        discontinuity = 0;
        restartDecoder();
    }
    return S_OK;
}
