// SBR channel state: wiring, configuration, reset, and the per-channel stage.
#include "sbr/sbr.h"

#include <cstring>

#include "bitreader.h"

void SbrWireChannel(SbrChannelState* s, SbrChannelBuffers* b) {
    s->prevAddHarmonic = b->prevAddHarmonic;
    s->prevInvfMode = b->prevInvfMode;
    s->prevChirp = b->prevChirp;
    s->analysisHistory = b->analysisHistory;
    s->synthesisHistory = b->synthesisHistory;
    s->prevEnvelope = b->prevEnvelope;
    s->prevNoise = b->prevNoise;
    s->qmfHistory = b->qmfHistory;
    s->highTable = s->masterTable;
}

void SbrConfigureChannel(SbrChannelState* s, int32_t rateFactor, int32_t sbrRate, int32_t rateIndex) {
    s->sbrSampleRate = sbrRate;
    s->sbrRateIndex = static_cast<uint8_t>(rateIndex);
    s->outputMode = static_cast<uint8_t>(rateFactor == 2 ? 2 : 1);
}

void SbrResetChannel(SbrChannelState* s) {
    s->parseOnly = 0;
    s->noHeaderYet = 1;
    s->crcPresent = 0;
    s->resetPending = 1;
    s->masterPending = 1;
    s->limiterPending = 1;
    s->bs_amp_res = 1;
    s->bs_start_freq = 5;
    s->bs_stop_freq = 0;
    s->bs_xover_band = 0;
    s->bs_freq_scale = 2;
    s->bs_alter_scale = 2; // a value the 1-bit field cannot take: the first header counts as a change
    s->bs_noise_bands = 2;
    s->bs_limiter_bands = 2;
    s->bs_limiter_gains = 2;
    s->bs_interpol_freq = 1;
    s->bs_smoothing_mode = 1;
    s->numHigh = 0;
    s->prevFreqRes = 1;
    s->prevAddHarmonicFlag = 0;
    s->prevTransientEnvelope = -1;
    s->sinePhase = 1;
    s->savedBands = 32;
    s->prevHighCount = -2;
    s->noiseIndex = 0;
    s->analysisPos = 0;
    s->synthesisPos = 0;
    s->highTable = s->masterTable;
    if (s->prevEnvelope != nullptr) {
        std::memset(s->prevEnvelope, 0, sizeof(int32_t) * kSbrMaxBands);
        std::memset(s->prevNoise, 0, sizeof(int32_t) * kSbrMaxNoiseBands);
        std::memset(s->prevChirp, 0, sizeof(int16_t) * kSbrMaxNoiseBands);
        std::memset(s->prevInvfMode, 0, kSbrMaxNoiseBands);
        std::memset(s->prevAddHarmonic, 0, kSbrMaxBands);
        std::memset(s->analysisHistory, 0, sizeof(int16_t) * 320);
        std::memset(s->synthesisHistory, 0, sizeof(int32_t) * 640);
        std::memset(s->qmfHistory, 0, sizeof(int32_t) * 528);
    }
}

int32_t SbrResetChannels(SbrChannelState* const channels[2]) {
    if (channels == nullptr) return -1;
    for (int i = 0; i < 2; ++i)
        if (channels[i] != nullptr) SbrResetChannel(channels[i]);
    return 0;
}

int32_t SbrProcessChannel(SbrFrameData* frame, SbrChannelState* const channels[2], int16_t* pcm,
                          int32_t stride, int32_t*) {
    const SbrChannelState* s = channels[frame->channelIndex];
    if (s == nullptr || s->outputMode != 2) return 1024;
    // Dual rate without the high band: linear interpolation of the core band,
    // written from the end so that no input sample is overwritten before use.
    for (int32_t k = 1023; k >= 0; --k) {
        const int32_t here = pcm[k * stride];
        const int32_t next = k < 1023 ? pcm[(k + 1) * stride] : here;
        pcm[(2 * k + 1) * stride] = static_cast<int16_t>((here + next) >> 1);
        pcm[(2 * k) * stride] = static_cast<int16_t>(here);
    }
    return 2048;
}
