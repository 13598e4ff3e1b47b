// Stream configuration: AudioSpecificConfig, ADTS and ADIF headers, and the
// trial decode that finds implicit SBR and the channel count.
#include <cstdlib>
#include <cstring>

#include "aacdec.h"
#include "context.h"

namespace {

constexpr uint32_t kAdifId = 0x41444946; // "ADIF"
constexpr uint32_t kSyncExtension = 0x2B7;

int32_t bitsLeft(const BitReader* r) { return r->byteLength * 8 - r->bitsConsumed; }

// A 4-bit index, or 15 followed by a 24-bit rate that must be a table rate.
int32_t readCoreRate(BitReader* r, int32_t* rate) {
    const uint32_t index = readBits(r, 4);
    if (index == 15) {
        const int32_t explicitRate = static_cast<int32_t>(readBits(r, 24));
        if (sampleRateIndex(explicitRate) < 0) return AAC_DEC_ERROR;
        *rate = explicitRate;
        return AAC_DEC_OK;
    }
    if (index > 11) return AAC_DEC_ERROR;
    *rate = kSampleRates[index];
    return AAC_DEC_OK;
}

// The extension rate: an index, or 15 and a 24-bit rate taken as it is.
int32_t readExtensionRate(BitReader* r, int32_t* rate) {
    const uint32_t index = readBits(r, 4);
    if (index == 15) {
        *rate = static_cast<int32_t>(readBits(r, 24));
        return AAC_DEC_OK;
    }
    if (index > 11) return AAC_DEC_ERROR;
    *rate = kSampleRates[index];
    return AAC_DEC_OK;
}

int32_t parseAudioSpecificConfig(BitReader* r, AacStreamConfig* cfg) {
    const uint32_t objectType = readBits(r, 5);
    bool sbrPresent = false;
    if (objectType == 2) {
        cfg->profile = 1;
        cfg->extensionType = 0;
    } else if (objectType == 4) {
        cfg->profile = 3;
        cfg->extensionType = 0;
    } else if (objectType == 5) {
        cfg->profile = 1;
        cfg->extensionType = 5;
        sbrPresent = true;
    } else {
        return AAC_DEC_ERROR;
    }
    int32_t coreRate = 0;
    if (readCoreRate(r, &coreRate) != AAC_DEC_OK) return AAC_DEC_ERROR;
    cfg->sampleRate = coreRate;
    const uint32_t channelConfig = readBits(r, 4);
    cfg->channels = static_cast<int32_t>(channelConfig);

    int32_t extensionRate = coreRate;
    if (objectType == 5) {
        if (readExtensionRate(r, &extensionRate) != AAC_DEC_OK) return AAC_DEC_ERROR;
        if (readBits(r, 5) != 2) return AAC_DEC_ERROR;
    }

    // GASpecificConfig
    if (readBits(r, 1) != 0) return AAC_DEC_ERROR; // frameLengthFlag: 960 not supported
    if (readBits(r, 1) != 0) skipBits(r, 14);        // dependsOnCoreCoder: coreCoderDelay
    if (readBits(r, 1) != 0) return AAC_DEC_ERROR; // extensionFlag
    cfg->frameLength = kFrameLength;

    if (channelConfig == 0) {
        ProgramConfig pce;
        const int32_t n = parseProgramConfig(r, 127, &pce);
        if (n != 1 && n != 2) return AAC_DEC_ERROR;
        cfg->channels = n;
    }

    if (objectType != 5 && bitsLeft(r) >= 16 && peekBits(r, 11) == kSyncExtension) {
        skipBits(r, 11);
        const int32_t leftAfterSync = bitsLeft(r) - 5;
        if (readBits(r, 5) != 5 || leftAfterSync < 5) return AAC_DEC_ERROR;
        cfg->extensionType = 5;
        if (readBits(r, 1) == 1) {
            sbrPresent = true;
            const uint32_t index = readBits(r, 4);
            if (index == 15) {
                if (bitsLeft(r) < 24) return AAC_DEC_ERROR;
                extensionRate = static_cast<int32_t>(readBits(r, 24));
            } else if (index > 11) {
                return AAC_DEC_ERROR;
            } else {
                extensionRate = kSampleRates[index];
            }
        }
    }

    cfg->singleRateOutput = 0;
    cfg->outputBytesPerFrame = kFrameLength * cfg->channels * 2;
    if (!sbrPresent) {
        cfg->outputSampleRate = cfg->sampleRate;
        return AAC_DEC_OK;
    }
    if (extensionRate == coreRate) {
        cfg->singleRateOutput = 1;
    } else if (extensionRate == 2 * coreRate) {
        cfg->outputBytesPerFrame = kFrameLength * cfg->channels * 4;
    } else {
        return AAC_DEC_ERROR;
    }
    cfg->outputSampleRate = extensionRate;
    return AAC_DEC_OK;
}

int32_t parseAdifHeader(BitReader* r, AacStreamConfig* cfg) {
    skipBits(r, 32); // adif_id
    if (readBits(r, 1) != 0) skipBits(r, 72); // copyright_id
    skipBits(r, 2);                         // original_copy, home
    const uint32_t bitstreamType = readBits(r, 1);
    skipBits(r, 23); // bitrate
    if (readBits(r, 4) != 0) return AAC_DEC_ERROR; // one program config element only
    if (bitstreamType == 0) skipBits(r, 20);       // adif_buffer_fullness
    ProgramConfig pce;
    const int32_t n = parseProgramConfig(r, 127, &pce);
    if (n != 1 && n != 2) return AAC_DEC_ERROR;
    if (pce.samplingFrequencyIndex > 11) return AAC_DEC_ERROR;
    cfg->channels = n;
    cfg->profile = pce.objectType;
    cfg->sampleRate = kSampleRates[pce.samplingFrequencyIndex];
    cfg->outputSampleRate = cfg->sampleRate;
    cfg->frameLength = kFrameLength;
    cfg->outputBytesPerFrame = cfg->channels * 2048;
    return AAC_DEC_OK;
}

int32_t parseAdtsStart(BitReader* r, AacStreamConfig* cfg) {
    skipBits(r, 12);
    readBits(r, 1); // ID
    const uint32_t layer = readBits(r, 2);
    const uint32_t protectionAbsent = readBits(r, 1);
    const uint32_t profile = readBits(r, 2);
    const uint32_t srIndex = readBits(r, 4);
    readBits(r, 1);
    const uint32_t channelConfig = readBits(r, 3);
    skipBits(r, 4 + 13 + 11);
    const int32_t blocks = static_cast<int32_t>(readBits(r, 2));
    // A protected frame of several blocks puts the block positions before its CRC.
    if (protectionAbsent == 0) skipBits(r, 16 * blocks + 16);
    if ((profile != 1 && profile != 3) || layer != 0) return AAC_DEC_ERROR;
    if (srIndex > 11) return AAC_DEC_ERROR;
    cfg->profile = static_cast<int32_t>(profile);
    cfg->sampleRate = cfg->outputSampleRate = kSampleRates[srIndex];
    cfg->channels = static_cast<int32_t>(channelConfig);
    cfg->frameLength = kFrameLength;
    cfg->outputBytesPerFrame = 2048 * cfg->channels;
    return AAC_DEC_OK;
}

// Header of `data` per mode; *usedBytes = header bytes consumed, also on failure.
int32_t parseHeader(const uint8_t* data, int32_t bytes, AacStreamConfig* cfg, int32_t mode,
                    int32_t* usedBytes) {
    BitReader r;
    start(&r, data, bytes < 0 ? 0 : bytes);
    int32_t result = AAC_DEC_ERROR;
    if (mode == 0) {
        result = parseAudioSpecificConfig(&r, cfg);
    } else if (bytes >= 8) {
        cfg->extensionType = 0;
        cfg->singleRateOutput = 0;
        const uint32_t head = peekBits(&r, 32);
        if (head == kAdifId) {
            result = parseAdifHeader(&r, cfg);
        } else if (head >= 0xFFF00000u) {
            result = parseAdtsStart(&r, cfg);
        }
    }
    *usedBytes = bytesTouched(&r);
    return result;
}

struct ProbeSbrState {
    SbrChannelState state;
    SbrChannelBuffers buffers;
};

// Trial decode of one access unit in parse-only mode.
int32_t probeUnit(AacStreamConfig* cfg, const uint8_t* unit, int32_t unitBytes) {
    if (cfg->channels < 0 || cfg->channels > 2) return AAC_DEC_ERROR;
    if (cfg->profile != 1 && cfg->profile != 3) return AAC_DEC_ERROR;
    if (cfg->frameLength != kFrameLength) return AAC_DEC_ERROR;
    const int32_t srIndex = sampleRateIndex(cfg->sampleRate);
    if (srIndex < 0) return AAC_DEC_ERROR;

    auto* scratch = static_cast<int32_t*>(std::calloc(1, kProbeScratchBytes));
    if (scratch == nullptr) return AAC_DEC_ERROR;
    // The parse-only SBR state lives apart from the spectrum scratch, which
    // every channel of the probed block overwrites.
    auto* sbr = static_cast<ProbeSbrState*>(std::calloc(1, sizeof(ProbeSbrState)));
    if (sbr == nullptr) {
        std::free(scratch);
        return AAC_DEC_ERROR;
    }
    SbrWireChannel(&sbr->state, &sbr->buffers);
    SbrResetChannel(&sbr->state);
    sbr->state.parseOnly = 1;
    const int32_t sbrRate = cfg->sampleRate <= 24000 ? 2 * cfg->sampleRate : cfg->sampleRate;
    SbrConfigureChannel(&sbr->state, 1, sbrRate, sampleRateIndex(sbrRate));

    AacDecoder probe;
    std::memset(&probe, 0, sizeof(probe));
    BitReader reader;
    ProgramConfig programInfo;
    std::memset(&programInfo, 0, sizeof(programInfo));
    programInfo.objectType = static_cast<uint8_t>(cfg->profile);
    start(&reader, unit, unitBytes);
    probe.reader = &reader;
    probe.programInfo = &programInfo;
    probe.channels = static_cast<uint8_t>(cfg->channels);
    probe.srIndex = static_cast<uint8_t>(srIndex);
    probe.sampleRate = cfg->sampleRate;
    probe.frameLength = kFrameLength;
    probe.outputFrameLength = kFrameLength;
    probe.adtsBlocksLeft = -1;
    probe.workBuffer = scratch;
    probe.elementTag[0] = probe.elementTag[1] = 255;
    probe.frameCount = 1;
    probe.probeOnly = 1;
    probe.sbrChannel[0] = &sbr->state;

    FrameInfo info;
    std::memset(&info, 0, sizeof(info));
    const int32_t decoded = runFrameDriver(&probe, &info);
    byteAlign(&reader);
    const int32_t usedBytes = reader.bitsConsumed / 8;
    std::free(scratch);
    std::free(sbr);

    if (decoded < 0) return AAC_DEC_ERROR;
    if (cfg->channels == 0) {
        cfg->channels = decoded;
        cfg->outputBytesPerFrame *= decoded;
    }
    if (usedBytes > unitBytes) return AAC_DEC_ERROR;
    if (probe.sbrEnabled) {
        if (cfg->extensionType == 0) {
            cfg->outputSampleRate = 2 * cfg->sampleRate;
            cfg->outputBytesPerFrame *= 2;
        }
        cfg->extensionType = 5;
    } else {
        cfg->outputSampleRate = cfg->sampleRate;
    }
    return AAC_DEC_OK;
}

} // namespace

extern "C" {

int32_t AacDecParseConfig(const uint8_t* data, int32_t* inOutBytes, AacStreamConfig* cfg,
                          int32_t mode) {
    if (data == nullptr || inOutBytes == nullptr || cfg == nullptr) return AAC_DEC_ERROR;
    int32_t used = 0;
    const int32_t result = parseHeader(data, *inOutBytes, cfg, mode, &used);
    if (result != AAC_DEC_OK) {
        *inOutBytes = used;
        return AAC_DEC_ERROR;
    }
    // ADTS channel configuration 0: the channel count comes from the first block.
    if (mode != 0 && cfg->channels == 0) {
        const int32_t probed = probeUnit(cfg, data + used, *inOutBytes - used);
        *inOutBytes = used;
        return probed;
    }
    *inOutBytes = used;
    return AAC_DEC_OK;
}

int32_t AacDecParseConfigProbe(const uint8_t* data, int32_t* inOutBytes, AacStreamConfig* cfg,
                               int32_t mode, const uint8_t* unit, int32_t unitBytes) {
    if (data == nullptr || inOutBytes == nullptr || cfg == nullptr) return AAC_DEC_ERROR;
    const int32_t total = *inOutBytes;
    int32_t used = 0;
    if (parseHeader(data, total, cfg, mode, &used) != AAC_DEC_OK) {
        *inOutBytes = used;
        return AAC_DEC_ERROR;
    }
    *inOutBytes = used;
    if (mode == 0) {
        if (unit == nullptr || unitBytes <= 0) return AAC_DEC_OK;
        return probeUnit(cfg, unit, unitBytes);
    }
    // Streams: the unit is what follows the header; probed once only.
    if (used >= total) return AAC_DEC_OK;
    return probeUnit(cfg, data + used, total - used);
}

} // extern "C"
