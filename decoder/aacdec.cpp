// Decoder instance, public API and the frame driver.
#include "aacdec.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "context.h"
#include "filterbank.h"
#include "reconstruct.h"
#include "sbr/sbr_internal.h"
#include "tns_ltp.h"

namespace {

// Everything an instance owns, in one heap block.
struct DecoderBlock {
    AacDecoder context;
    BitReader reader;
    ProgramConfig programInfo;
    alignas(16) int32_t overlap[kMaxChannels * kFrameLength];
    alignas(16) int16_t ltpHistory[kMaxChannels * 2 * kFrameLength];
    alignas(16) int32_t workBuffer[kWorkBufferWords];
};

struct HeDecoderBlock {
    DecoderBlock core;
    SbrChannelState sbrChannels[kMaxChannels];
    SbrChannelBuffers sbrBuffers[kMaxChannels];
    SbrParseSnapshot sbrSnapshot;
};

int32_t releaseInstance(AacDecoder* d) {
    std::free(d); // the context is the first member of the block
    return AAC_DEC_OK;
}

int32_t configureInstance(AacDecoder* d, AacStreamConfig* cfg) {
    const int32_t index = sampleRateIndex(cfg->sampleRate);
    if (index < 0) return AAC_DEC_ERROR;
    if (cfg->frameLength != kFrameLength) return AAC_DEC_ERROR;
    if (cfg->profile != 1 && cfg->profile != 3) return AAC_DEC_ERROR;
    if (cfg->extensionType != 0 && cfg->extensionType != 5) return AAC_DEC_ERROR;

    d->srIndex = static_cast<uint8_t>(index);
    d->sampleRate = cfg->sampleRate;
    d->programInfo->objectType = static_cast<uint8_t>(cfg->profile);
    d->channels = static_cast<uint8_t>(cfg->channels);
    d->tableSet = 0;
    d->frameLength = kFrameLength;
    d->adtsBlocksLeft = -1;
    d->outputFrameLength = kFrameLength;

    const bool haveSbr = d->sbrChannel[0] != nullptr && d->sbrChannel[1] != nullptr;
    // The SBR tables stop at 96000 Hz, twice a 48000 Hz core: faster cores
    // play without SBR.
    if (cfg->extensionType == 5 && haveSbr && index >= 3) {
        const int32_t factor = (cfg->singleRateOutput != 0 || cfg->sampleRate > 24000 ||
                                cfg->outputSampleRate == cfg->sampleRate)
                                   ? 1
                                   : 2;
        cfg->singleRateOutput = factor == 1 ? 1 : 0;
        cfg->outputSampleRate = factor * cfg->sampleRate;
        d->sbrEnabled = 1;
        for (int i = 0; i < kMaxChannels; ++i)
            SbrConfigureChannel(d->sbrChannel[i], factor, 2 * cfg->sampleRate, index - 3);
        d->outputFrameLength *= factor;
        SbrResetChannels(d->sbrChannel);
    } else {
        d->sbrEnabled = 0;
        cfg->outputSampleRate = cfg->sampleRate;
        cfg->singleRateOutput = 1;
    }

    d->prevWindowShape[0] = d->prevWindowShape[1] = 0;
    std::memset(d->overlap, 0, sizeof(int32_t) * kMaxChannels * kFrameLength);
    std::memset(d->ltpHistory, 0, sizeof(int16_t) * kMaxChannels * 2 * kFrameLength);
    d->noiseSeed[0] = d->noiseSeed[1] = 0;
    d->drcProgRefLevel = kDrcNoReferenceLevel;
    d->adtsBlockCrc = 0;
    d->elementTag[0] = d->elementTag[1] = 255;
    d->frameCount = 1;
    return AAC_DEC_OK;
}

int32_t decodeBlock(AacDecoder* d, FrameInfo* info) { return runFrameDriver(d, info); }

void wireContext(DecoderBlock* b) {
    AacDecoder* d = &b->context;
    std::memset(d, 0, sizeof(*d));
    d->decodeOp = decodeBlock;
    d->releaseOp = releaseInstance;
    d->configureOp = configureInstance;
    d->reader = &b->reader;
    clear(d->reader);
    std::memset(&b->programInfo, 0, sizeof(b->programInfo));
    d->programInfo = &b->programInfo;
    d->overlap = b->overlap;
    d->ltpHistory = b->ltpHistory;
    d->workBuffer = b->workBuffer;
    d->frameCount = 0;
    d->elementTag[0] = d->elementTag[1] = 255;
}

// Parses the ADTS header that follows the sync word and applies it;
// *frameBytes is its aac_frame_length.
int32_t readAdtsHeader(AacDecoder* d, BitReader* r, int32_t* frameBytes) {
    readBits(r, 1); // ID
    readBits(r, 2); // layer
    const uint32_t protectionAbsent = readBits(r, 1);
    const uint32_t profile = readBits(r, 2);
    const uint32_t srIndex = readBits(r, 4);
    readBits(r, 1); // private_bit
    const uint32_t channelConfig = readBits(r, 3);
    readBits(r, 4);  // original_copy, home, copyright id bit and start
    *frameBytes = static_cast<int32_t>(readBits(r, 13)); // aac_frame_length
    readBits(r, 11); // adts_buffer_fullness
    const uint32_t blocks = readBits(r, 2);
    // CRCs are not verified. A protected frame of several blocks gives the
    // positions of blocks 2.. before its header CRC, and a CRC after each block.
    if (protectionAbsent == 0) skipBits(r, 16 * static_cast<int32_t>(blocks) + 16);

    d->programInfo->objectType = static_cast<uint8_t>(profile);
    if (channelConfig == 1) {
        d->programInfo->numFrontChannelElements = 1;
        d->programInfo->frontElementIsCpe[0] = 0;
    } else if (channelConfig == 2) {
        d->programInfo->numFrontChannelElements = 1;
        d->programInfo->frontElementIsCpe[0] = 1;
    } else if (channelConfig > 2) {
        return AAC_DEC_ERROR;
    }
    byteAlign(r);
    // A refused header leaves the index and the block count as they were, so
    // the next call looks for a header again instead of parsing this one.
    if ((profile != 1 && profile != 3) || srIndex >= 12 || (d->channels != 1 && d->channels != 2))
        return AAC_DEC_ERROR;
    d->srIndex = static_cast<uint8_t>(srIndex);
    d->tableSet = 0;
    d->adtsBlocksLeft = static_cast<int32_t>(blocks);
    d->adtsBlockCrc = protectionAbsent == 0 && blocks > 0 ? 1 : 0;
    d->frameLength = kFrameLength;
    return AAC_DEC_OK;
}

// What a decode call may change besides the histories, which only a
// successful block touches: a call that fails puts it back, so that a
// frame tried too early (or a bad one) leaves no trace.
struct CallState {
    ProgramConfig programInfo;
    uint8_t srIndex;
    uint8_t tableSet;
    uint8_t adtsBlockCrc;
    uint8_t drcProgRefLevel;
    int32_t frameLength;
    int32_t adtsBlocksLeft;
    int32_t noiseSeed[kMaxChannels];
    int32_t elementTag[kMaxChannels];
};

void saveCallState(const AacDecoder* d, CallState* s) {
    s->programInfo = *d->programInfo;
    s->srIndex = d->srIndex;
    s->tableSet = d->tableSet;
    s->adtsBlockCrc = d->adtsBlockCrc;
    s->drcProgRefLevel = d->drcProgRefLevel;
    s->frameLength = d->frameLength;
    s->adtsBlocksLeft = d->adtsBlocksLeft;
    for (int i = 0; i < kMaxChannels; ++i) {
        s->noiseSeed[i] = d->noiseSeed[i];
        s->elementTag[i] = d->elementTag[i];
    }
}

void restoreCallState(AacDecoder* d, const CallState* s) {
    *d->programInfo = s->programInfo;
    d->srIndex = s->srIndex;
    d->tableSet = s->tableSet;
    d->adtsBlockCrc = s->adtsBlockCrc;
    d->drcProgRefLevel = s->drcProgRefLevel;
    d->frameLength = s->frameLength;
    d->adtsBlocksLeft = s->adtsBlocksLeft;
    for (int i = 0; i < kMaxChannels; ++i) {
        d->noiseSeed[i] = s->noiseSeed[i];
        d->elementTag[i] = s->elementTag[i];
    }
}

// Whether the block just parsed, byte aligned and with its CRC, ends within
// its ADTS frame (always, outside ADTS).
bool adtsBlockInFrame(const AacDecoder* d) {
    if (d->adtsMode != 1) return true;
    const int64_t end = (static_cast<int64_t>(d->reader->bitsConsumed) + 7) / 8 + (d->adtsBlockCrc ? 2 : 0);
    return end <= d->adtsFrameEnd;
}

bool readerPastEnd(const BitReader* r) {
    return static_cast<int64_t>(r->bitsConsumed) > static_cast<int64_t>(r->byteLength) * 8;
}

} // namespace

static_assert(kSbrMatrixWords <= kWorkBufferWords, "the QMF matrix lives in the work buffer");

int32_t runFrameDriver(AacDecoder* d, FrameInfo* info) {
    int32_t* spectra = d->workBuffer;
    // SBR payloads change their states while the block is parsed; a block
    // that fails must not leave them changed.
    const bool keepSbr = d->sbrEnabled && !d->probeOnly && d->sbrSnapshot != nullptr;
    if (keepSbr) SbrSaveParseState(d->sbrChannel, d->sbrSnapshot);
    const int32_t decoded = parseRawDataBlock(d, info, spectra);
    if (d->probeOnly) return decoded < 0 ? AAC_DEC_ERROR : decoded;
    // A channel pair (or dual mono) in a mono configuration has nowhere to go:
    // the caller's buffer holds one channel. An ADTS block that runs past its
    // frame's aac_frame_length (with its CRC) has read the next frame's bits.
    if (decoded < 0 || decoded > d->channels || !adtsBlockInFrame(d)) {
        if (keepSbr) SbrRestoreParseState(d->sbrChannel, d->sbrSnapshot);
        return AAC_DEC_ERROR;
    }

    int32_t* scratch = spectra + kMaxChannels * kSpectrumWords;
    int32_t written = 0;
    for (int32_t i = 0; i < decoded; ++i) {
        int32_t* spectrum = spectra + i * kSpectrumWords;
        if (info->drc.numBands > 0) applyDrc(&info->drc, spectrum);
        synthesiseChannel(d->prevWindowShape[i], info->windowSequence[i], info->windowShape[i],
                          spectrum, scratch, d->overlap + i * kFrameLength, d->pcmOut + i,
                          d->channels);
        if (d->programInfo->objectType == 3)
            updateLtpHistory(d->ltpHistory + i * 2 * kFrameLength, d->pcmOut + i, d->channels,
                             d->frameLength);
        d->prevWindowShape[i] = info->windowShape[i];
        written += d->frameLength;
    }

    if (d->sbrEnabled) {
        written = 0;
        for (int32_t i = 0; i < decoded; ++i)
            written += SbrProcessChannel(&info->sbr[i], d->sbrChannel, d->pcmOut + i, d->channels,
                                         d->workBuffer);
    }

    if (d->channels == 2 && decoded == 1) {
        for (int32_t k = 0; k < written; ++k) d->pcmOut[2 * k + 1] = d->pcmOut[2 * k];
        written *= 2;
    }
    return written;
}

extern "C" {

int32_t AacDecCreate(AacDecoder** out) {
    if (out == nullptr) return AAC_DEC_ERR_NOMEM;
    auto* b = static_cast<DecoderBlock*>(std::malloc(sizeof(DecoderBlock)));
    if (b == nullptr) return AAC_DEC_ERR_NOMEM;
    wireContext(b);
    *out = &b->context;
    return AAC_DEC_OK;
}

int32_t AacDecCreateHe(AacDecoder** out) {
    if (out == nullptr) return AAC_DEC_ERR_NOMEM;
    auto* b = static_cast<HeDecoderBlock*>(std::malloc(sizeof(HeDecoderBlock)));
    if (b == nullptr) return AAC_DEC_ERR_NOMEM;
    wireContext(&b->core);
    std::memset(b->sbrChannels, 0, sizeof(b->sbrChannels));
    std::memset(b->sbrBuffers, 0, sizeof(b->sbrBuffers));
    for (int i = 0; i < kMaxChannels; ++i) SbrWireChannel(&b->sbrChannels[i], &b->sbrBuffers[i]);
    b->core.context.sbrChannel[0] = &b->sbrChannels[0];
    b->core.context.sbrChannel[1] = &b->sbrChannels[1];
    b->core.context.sbrSnapshot = &b->sbrSnapshot;
    *out = &b->core.context;
    return AAC_DEC_OK;
}

int32_t AacDecDestroy(AacDecoder* d) {
    if (d == nullptr) return AAC_DEC_ERROR;
    return d->releaseOp(d);
}

int32_t AacDecInit(AacDecoder* d, AacStreamConfig* cfg) {
    if (d == nullptr || cfg == nullptr) return AAC_DEC_ERROR;
    if (cfg->channels != 1 && cfg->channels != 2) return AAC_DEC_ERROR;
    if (d->configureOp(d, cfg) != AAC_DEC_OK) return AAC_DEC_ERROR;
    cfg->outputBytesPerFrame = cfg->channels * kFrameLength * (cfg->singleRateOutput ? 2 : 4);
    return AAC_DEC_OK;
}

int32_t AacDecDecodeFrame(AacDecoder* d, const uint8_t* data, int32_t* inOutBytes, int16_t* pcm,
                          int32_t* inOutPcmBytes) {
    if (d == nullptr || data == nullptr || pcm == nullptr || inOutBytes == nullptr ||
        inOutPcmBytes == nullptr)
        return AAC_DEC_ERROR;
    if (d->frameCount == 0) return AAC_DEC_ERROR;
    const int32_t available = *inOutBytes < 0 ? 0 : *inOutBytes;
    d->pcmOut = pcm;
    BitReader* r = d->reader;
    start(r, data, available);

    CallState before;
    saveCallState(d, &before);
    if (d->frameCount == 1 && peekBits(r, 12) == 0xFFF) d->adtsMode = 1;
    if (d->adtsMode == 1 && d->adtsBlocksLeft == -1) {
        while (peekBits(r, 12) != 0xFFF) {
            skipBits(r, 8);
            if (r->byteIndex >= available) return AAC_DEC_ERROR;
        }
        const int32_t syncAt = static_cast<int32_t>(r->bitsConsumed / 8);
        skipBits(r, 12);
        int32_t frameBytes = 0;
        if (readAdtsHeader(d, r, &frameBytes) != AAC_DEC_OK) {
            restoreCallState(d, &before);
            return AAC_DEC_ERROR;
        }
        d->adtsFrameEnd = syncAt + frameBytes;
    } else if (d->adtsMode == 1) {
        d->adtsFrameEnd = d->adtsFrameLeft;
    }

    // Refusals below consume nothing, so a header just read must be read
    // again by the caller's retry.
    const uint32_t capacity = static_cast<uint32_t>(*inOutPcmBytes);
    if (capacity < static_cast<uint32_t>(d->outputFrameLength) * d->channels * 2) {
        restoreCallState(d, &before);
        return AAC_DEC_ERR_OUTPUT_TOO_SMALL;
    }
    if (d->frameCount == 1) {
        d->sampleRate = kSampleRates[d->srIndex];
    } else if (d->sampleRate != kSampleRates[d->srIndex]) {
        restoreCallState(d, &before);
        return AAC_DEC_ERROR;
    }
    if (capacity < static_cast<uint32_t>(d->frameLength) * d->channels * 2) {
        restoreCallState(d, &before);
        return AAC_DEC_ERR_OUTPUT_TOO_SMALL;
    }

    *inOutPcmBytes = 0;
    FrameInfo info;
    const int32_t written = d->decodeOp(d, &info);
    if (written < 0) {
        const bool ranOut = readerPastEnd(r);
        restoreCallState(d, &before);
        // A block that breaks inside the data abandons its ADTS frame: the
        // next call looks for a header instead of taking the bytes that
        // follow for the next block. One that ran out of data may be retried
        // with more.
        if (d->adtsMode == 1 && !ranOut) d->adtsBlocksLeft = -1;
        return AAC_DEC_ERROR;
    }
    if (d->adtsMode == 1) d->adtsBlocksLeft -= 1;

    byteAlign(r);
    // The block's CRC, when the data holds it (a missing one costs nothing:
    // it is not verified).
    if (d->adtsMode == 1 && d->adtsBlockCrc && r->byteIndex + 2 <= available) skipBits(r, 16);
    *inOutPcmBytes = written * 2;
    *inOutBytes = r->bitsConsumed / 8;
    if (d->adtsMode == 1) d->adtsFrameLeft = d->adtsFrameEnd - *inOutBytes;
    d->frameCount += 1;
    return AAC_DEC_OK;
}

} // extern "C"
