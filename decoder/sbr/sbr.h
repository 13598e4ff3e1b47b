// The low-power SBR stage as the AAC core sees it: the persistent state of
// each channel, the parsed data of one frame, and the calls the core makes.
#pragma once

#include <cstdint>

struct BitReader;

inline constexpr int32_t kSbrMaxBands = 48;     // SBR bands above k_x (M, numHigh)
inline constexpr int32_t kSbrMaxEnvelopes = 5;
inline constexpr int32_t kSbrMaxNoiseBands = 5;
inline constexpr int32_t kSbrMaxPatches = 5;
inline constexpr int32_t kSbrMaxMaster = 64;    // masterTable holds numMaster + 1 edges
inline constexpr int32_t kSbrMaxLow = 32;       // lowTable holds numLow + 1 edges
inline constexpr int32_t kSbrMaxLimiter = 40;   // merged low and patch borders, before thinning

// Result of SbrParsePayload when no header has been seen yet.
inline constexpr int32_t kSbrNoHeaderYet = 12;

struct SbrChannelState {
    int32_t sbrSampleRate; // twice the core rate (also when downsampled: it selects tables)
    uint8_t parseOnly;     // 1 for a state made by the configuration probe
    uint8_t noHeaderYet;
    uint8_t sbrRateIndex;  // index of sbrSampleRate in the rate table (0..8)
    uint8_t outputMode;    // 2 = dual rate (2048 samples), 1 = downsampled (1024)
    uint8_t crcPresent;
    uint8_t resetPending;
    uint8_t masterPending;
    uint8_t limiterPending;

    // Header values, as transmitted.
    uint8_t bs_amp_res;
    uint8_t bs_start_freq;
    uint8_t bs_stop_freq;
    uint8_t bs_xover_band;
    uint8_t bs_freq_scale;
    uint8_t bs_alter_scale;
    uint8_t bs_noise_bands;
    uint8_t bs_limiter_bands;
    uint8_t bs_limiter_gains;
    uint8_t bs_interpol_freq;
    uint8_t bs_smoothing_mode;

    uint8_t numMaster;
    uint8_t numHigh;
    uint8_t k2;
    uint8_t numLow;
    uint8_t numNoise;    // 1..5
    uint8_t numPatches;  // 1..5
    uint8_t numLimiter;
    uint8_t prevFreqRes;
    uint8_t prevAddHarmonicFlag;
    int8_t prevTransientEnvelope;
    int8_t sinePhase;
    uint8_t savedBands;  // k_x of the last frame with SBR data
    int8_t prevHighCount; // k2 - k_x of the last frame with SBR data

    uint8_t masterTable[kSbrMaxMaster + 1];
    uint8_t lowTable[kSbrMaxLow + 1];       // absolute QMF bands
    uint8_t noiseTable[kSbrMaxNoiseBands + 1]; // relative to k_x
    uint8_t patchStart[kSbrMaxPatches];
    uint8_t patchCount[kSbrMaxPatches];
    uint8_t limiterTable[kSbrMaxLimiter + 1]; // relative to k_x
    uint8_t noiseBandOfBand[kSbrMaxBands];

    uint8_t* prevAddHarmonic;   // [48]
    uint8_t* prevInvfMode;      // [5]
    uint8_t analysisPos;        // analysis ring position, units of 32 samples
    uint8_t synthesisPos;       // synthesis ring position, units of 64 (or 32) values
    uint16_t noiseIndex;        // into the 512-entry noise table
    int16_t* prevChirp;         // [5], Q15
    int16_t* analysisHistory;   // [320]
    const uint8_t* highTable;   // into masterTable at bs_xover_band (the first channel's, for a pair)
    int32_t* synthesisHistory;  // [640]
    int32_t* prevEnvelope;      // [48]
    int32_t* prevNoise;         // [5]
    int32_t* qmfHistory;        // [528]: 8 words for each of the 66 matrix rows
};

// The buffers a state's pointers reach; the HE decoder block holds two.
struct SbrChannelBuffers {
    int16_t analysisHistory[320];
    int32_t synthesisHistory[640];
    int32_t qmfHistory[528];
    int32_t prevEnvelope[kSbrMaxBands];
    int32_t prevNoise[kSbrMaxNoiseBands];
    int16_t prevChirp[kSbrMaxNoiseBands];
    uint8_t prevInvfMode[kSbrMaxNoiseBands];
    uint8_t prevAddHarmonic[kSbrMaxBands];
};

struct SbrFrameData {
    int32_t envelope[kSbrMaxEnvelopes][kSbrMaxBands]; // indices, then absolute, then energies
    int32_t noise[2][kSbrMaxNoiseBands];
    uint8_t channelIndex;      // which state the channel uses (0 or 1)
    uint8_t elementType;       // 0 single channel element, 1 channel pair element
    uint8_t sbrDataPresent;
    uint8_t bs_coupling;
    uint8_t ampResInUse;       // 0 = 1.5 dB, 1 = 3.0 dB
    int8_t transientEnvelope;  // l_A, -1 when none
    uint8_t bs_frame_class;    // 0 FIXFIX, 1 FIXVAR, 2 VARFIX, 3 VARVAR
    uint8_t numEnvelopes;      // L_E, 1..5
    uint8_t numNoiseFloors;    // L_Q, 1 or 2
    uint8_t envBorders[kSbrMaxEnvelopes + 1]; // units of 2 QMF slots
    uint8_t noiseBorders[3];
    uint8_t freqRes[kSbrMaxEnvelopes];
    uint8_t bs_invf_mode[kSbrMaxNoiseBands];
    uint8_t bs_df_env[kSbrMaxEnvelopes];
    uint8_t bs_df_noise[2];
    uint8_t bs_add_harmonic_flag;
    uint8_t bs_add_harmonic[kSbrMaxBands];
};

// Points a state at its buffers (once, at creation).
void SbrWireChannel(SbrChannelState* s, SbrChannelBuffers* buffers);
// Applies a rate factor (1 or 2) and the SBR rate with its table index.
void SbrConfigureChannel(SbrChannelState* s, int32_t rateFactor, int32_t sbrRate, int32_t rateIndex);
// Reset values of both states, keeping rate and mode. 0, or -1 for a null table.
int32_t SbrResetChannels(SbrChannelState* const channels[2]);
// Reset values of one state (the probe's parse-only state too).
void SbrResetChannel(SbrChannelState* s);

// What parsing a payload may change in a pair of states: kept before a raw
// data block and put back when the block fails, so that a failed decode
// leaves the SBR states as they were.
struct SbrParseSnapshot {
    SbrChannelState states[2];
    int32_t prevEnvelope[2][kSbrMaxBands];
    int32_t prevNoise[2][kSbrMaxNoiseBands];
};
void SbrSaveParseState(SbrChannelState* const channels[2], SbrParseSnapshot* snapshot);
void SbrRestoreParseState(SbrChannelState* const channels[2], const SbrParseSnapshot* snapshot);

// A frame record with no data and a single envelope over the frame: every
// block starts from it, whatever the last block left.
void SbrInitFrame(SbrFrameData* f, int32_t channel);

// Parses one SBR extension payload (the reader after the extension type).
// 0, or kSbrNoHeaderYet when no header was ever seen and none comes.
int32_t SbrParsePayload(SbrChannelState** slot, SbrFrameData* frame, BitReader* r, int32_t crcFlag);

// Reads the channel's 1024 core samples at pcm[0], pcm[stride], ... and writes
// its output over them in place. Returns samples written (2048 or 1024).
int32_t SbrProcessChannel(SbrFrameData* frame, SbrChannelState* const channels[2], int16_t* pcm,
                          int32_t stride, int32_t* qmfBuffer);
