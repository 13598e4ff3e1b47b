// The decoder instance and the per-block record shared by the stages.
#pragma once

#include <cstdint>

#include "aacdec.h"
#include "bitreader.h"
#include "sbr/sbr.h"

inline constexpr int32_t kFrameLength = 1024;
inline constexpr int32_t kMaxChannels = 2;

// Sampling-frequency-index table, with a stop entry for searches.
inline constexpr int32_t kSampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                             22050, 16000, 12000, 11025, 8000, 2147483647};

// Index of `rate` in kSampleRates, or -1.
inline int32_t sampleRateIndex(int32_t rate) {
    for (int32_t i = 0; i < 12; ++i)
        if (kSampleRates[i] == rate) return i;
    return -1;
}

// Spectral work area, in int32: the two channel spectra, then scratch for the
// filterbank (1024 pairs), the LTP estimate and forward transform, and the
// SBR QMF matrix.
inline constexpr int32_t kSpectrumWords = kFrameLength;
inline constexpr int32_t kWorkScratchWords = 6144;
inline constexpr int32_t kWorkBufferWords = kMaxChannels * kSpectrumWords + kWorkScratchWords;
// The configuration probe decodes syntax only, into this much scratch.
inline constexpr int32_t kProbeScratchBytes = 4096;

struct DrcInfo {
    uint8_t excludedChannelsPresent;
    uint8_t excludedMask[8];     // 7 mask bits per group read
    int32_t numBands;            // 1..16; 0 = no DRC data in this block
    uint8_t bandTop[16];
    uint8_t progRefLevelPresent;
    uint8_t progRefLevel;        // 7 bits
    uint8_t dynRngSgn[16];
    uint8_t dynRngCtl[16];       // 7 bits
};

struct FrameInfo {
    uint8_t windowSequence[kMaxChannels];
    uint8_t windowShape[kMaxChannels];
    uint8_t prevWindowShape[kMaxChannels];
    uint8_t channelCount;        // channels decoded in this block
    DrcInfo drc;
    SbrFrameData sbr[kMaxChannels];
};

// Laid out like a parsed program configuration element.
struct ProgramConfig {
    uint8_t elementInstanceTag;
    uint8_t objectType;          // the decoder keeps its profile here
    uint8_t samplingFrequencyIndex;
    uint8_t numFrontChannelElements;
    uint8_t numSideChannelElements;
    uint8_t numBackChannelElements;
    uint8_t numLfeChannelElements;
    uint8_t numAssocDataElements;
    uint8_t numValidCcElements;
    uint8_t monoMixdownPresent;
    uint8_t monoMixdownElementNumber;
    uint8_t stereoMixdownPresent;
    uint8_t stereoMixdownElementNumber;
    uint8_t matrixMixdownIdxPresent;
    uint8_t matrixMixdownIdx;
    uint8_t pseudoSurroundEnable;
    uint8_t frontElementIsCpe[2];
    uint8_t frontElementTagSelect[2];
    uint8_t sideElementIsCpe[2];
    uint8_t sideElementTagSelect[2];
    uint8_t backElementIsCpe[1];
    uint8_t backElementTagSelect[1];
    uint8_t lfeElementTagSelect[1];
    uint8_t assocDataElementTagSelect[7];
    uint8_t ccElementIsIndSw[2];
    uint8_t validCcElementTagSelect[2];
};
static_assert(__builtin_offsetof(ProgramConfig, objectType) == 1);
static_assert(__builtin_offsetof(ProgramConfig, numFrontChannelElements) == 3);
static_assert(__builtin_offsetof(ProgramConfig, frontElementIsCpe) == 16);

using AacDecodeOp = int32_t (*)(AacDecoder* d, FrameInfo* info);
using AacReleaseOp = int32_t (*)(AacDecoder* d);
using AacConfigureOp = int32_t (*)(AacDecoder* d, AacStreamConfig* cfg);

struct AacDecoder {
    // Operation table: the API calls go through it.
    AacDecodeOp decodeOp;
    void* reserved[2];
    AacReleaseOp releaseOp;
    AacConfigureOp configureOp;

    int16_t* pcmOut;
    BitReader* reader;
    uint8_t channels;
    int32_t* overlap;            // 2 x 1024 overlap-add history
    int16_t* ltpHistory;         // 2 x 2048 last two frames of core output
    ProgramConfig* programInfo;
    uint8_t prevWindowShape[kMaxChannels];
    uint8_t srIndex;
    int32_t sampleRate;
    uint8_t tableSet;            // always 0: the 1024-sample band tables
    int32_t frameLength;
    int32_t adtsBlocksLeft;      // -1 = a new ADTS header is due
    int32_t* workBuffer;         // kWorkBufferWords
    int32_t noiseSeed[kMaxChannels];
    int32_t elementTag[kMaxChannels]; // 255 = not learned yet
    int32_t frameCount;          // 0 = not configured, 1 = next frame is the first
    uint8_t probeOnly;
    int32_t outputFrameLength;   // per channel: 1024 or 2048
    uint8_t sbrEnabled;
    SbrChannelState* sbrChannel[kMaxChannels];
    SbrParseSnapshot* sbrSnapshot; // the SBR states before the block being decoded
    int32_t adtsMode;            // 1 once the first frame began with a sync word
    uint8_t drcProgRefLevel;     // last prog_ref_level transmitted, or kDrcNoReferenceLevel
    uint8_t adtsBlockCrc;        // the blocks of the current ADTS frame each end in a CRC
    int32_t adtsFrameEnd;        // during a call: where the frame ends, in bytes from the call's data
    int32_t adtsFrameLeft;       // after a block: the frame's bytes from the next call's data on (set on success only)
};

// Reference level assumed until a stream sends one: the level at which the
// transmitted gains apply unscaled (a base gain of 1.0).
inline constexpr uint8_t kDrcNoReferenceLevel = 168;

// Stage entry points of the frame driver.
int32_t parseRawDataBlock(AacDecoder* d, FrameInfo* info, int32_t* spectra);
int32_t parseProgramConfig(BitReader* r, int32_t requiredSrIndex, ProgramConfig* pce);
// Runs one raw data block through every stage; samples written, or -1.
// In probe mode returns the channel count after parsing.
int32_t runFrameDriver(AacDecoder* d, FrameInfo* info);
