// SBR channel state: wiring, configuration, reset, and the per-channel stage.
#include "sbr/sbr.h"

#include <cstring>

#include "fixedpoint.h"
#include "sbr/sbr_internal.h"

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

void SbrSaveParseState(SbrChannelState* const channels[2], SbrParseSnapshot* snapshot) {
    for (int i = 0; i < 2; ++i) {
        snapshot->states[i] = *channels[i];
        std::memcpy(snapshot->prevEnvelope[i], channels[i]->prevEnvelope, sizeof(snapshot->prevEnvelope[i]));
        std::memcpy(snapshot->prevNoise[i], channels[i]->prevNoise, sizeof(snapshot->prevNoise[i]));
    }
}

void SbrRestoreParseState(SbrChannelState* const channels[2], const SbrParseSnapshot* snapshot) {
    for (int i = 0; i < 2; ++i) {
        *channels[i] = snapshot->states[i];
        std::memcpy(channels[i]->prevEnvelope, snapshot->prevEnvelope[i], sizeof(snapshot->prevEnvelope[i]));
        std::memcpy(channels[i]->prevNoise, snapshot->prevNoise[i], sizeof(snapshot->prevNoise[i]));
    }
}

void SbrInitFrame(SbrFrameData* f, int32_t channel) {
    std::memset(f, 0, sizeof(*f));
    f->channelIndex = static_cast<uint8_t>(channel);
    f->transientEnvelope = -1;
    f->numEnvelopes = 1;
    f->numNoiseFloors = 1;
    f->envBorders[1] = 16;
    f->noiseBorders[1] = 16;
    f->freqRes[0] = 1;
}

int32_t SbrResetChannels(SbrChannelState* const channels[2]) {
    if (channels == nullptr) return -1;
    for (int i = 0; i < 2; ++i)
        if (channels[i] != nullptr) SbrResetChannel(channels[i]);
    return 0;
}

namespace {

void clearColumns(int32_t* row, int32_t from, int32_t to) {
    for (int32_t n = from; n < to; ++n) row[n] = 0;
}

// Rows from k_x up with the previous frame's envelope tail (its last
// envelope reaches 2 tE(0) slots into this frame), after clearing them.
void prepareHighBand(SbrChannelState* s, const SbrFrameData* f, int32_t* matrix, int32_t kx) {
    const int32_t prevKx = s->savedBands;
    if (prevKx < kx)
        for (int32_t b = prevKx; b < kx; ++b) clearColumns(sbrRow(matrix, b), 0, kSbrHistoryColumns);
    for (int32_t b = prevKx > kx ? prevKx : kx; b < kSbrQmfRows; ++b)
        clearColumns(sbrRow(matrix, b), 0, kSbrQmfColumns);

    const int32_t tail = 2 * f->envBorders[0];
    const int32_t* history = s->qmfHistory;
    int32_t* below = sbrRow(matrix, prevKx - 1);
    for (int32_t j = 0; j < tail; ++j)
        below[kSbrAdjustOffset + j] = FxAddSat(below[kSbrAdjustOffset + j], history[522 + j]);
    if (s->prevHighCount >= 0) {
        int32_t last = prevKx + s->prevHighCount;
        if (last > kSbrQmfBands) last = kSbrQmfBands;
        for (int32_t b = prevKx; b <= last; ++b)
            for (int32_t j = 0; j < tail; ++j)
                sbrRow(matrix, b)[kSbrAdjustOffset + j] = history[8 * b + 2 + j];
    }
}

void saveHistory(SbrChannelState* s, const int32_t* matrix, int32_t lowBands) {
    int32_t* history = s->qmfHistory;
    for (int32_t b = 0; b < lowBands; ++b)
        for (int32_t n = 0; n < kSbrHistoryColumns; ++n)
            history[8 * b + n] = sbrRow(matrix, b)[kSbrSlots + n];
}

} // namespace

int32_t SbrProcessChannel(SbrFrameData* frame, SbrChannelState* const channels[2], int16_t* pcm,
                          int32_t stride, int32_t* matrix) {
    SbrChannelState* s = channels[frame->channelIndex & 1];
    const bool withData = frame->sbrDataPresent != 0;
    const int32_t restoreBands = withData ? s->savedBands : 32;
    const int32_t kx = withData ? sbrKx(s) : 32;

    for (int32_t b = 0; b < restoreBands; ++b)
        for (int32_t n = 0; n < kSbrHistoryColumns; ++n)
            sbrRow(matrix, b)[n] = s->qmfHistory[8 * b + n];
    SbrQmfAnalysis(s, pcm, matrix, stride);

    if (withData) {
        SbrScratch* scratch = sbrScratch(matrix);
        prepareHighBand(s, frame, matrix, kx);
        SbrHfGenerate(s, frame, matrix, sbrRow(matrix, kx), scratch);
        SbrHfAdjust(s, frame, sbrRow(matrix, kx), scratch);
        int32_t* below = sbrRow(matrix, kx - 1);
        const int32_t* spare = sbrRow(matrix, kSbrSpareRow);
        for (int32_t slot = 2 * frame->envBorders[0]; slot < kSbrSlots; ++slot) {
            const int32_t n = kSbrAdjustOffset + slot;
            below[n] = FxAddSat(below[n], spare[n]);
        }
    } else {
        for (int32_t b = 32; b < kSbrQmfBands; ++b)
            clearColumns(sbrRow(matrix, b), kSbrAdjustOffset, kSbrAdjustOffset + kSbrSlots);
    }

    int32_t written;
    if (s->outputMode == 2) {
        SbrQmfSynthesis64(s->synthesisHistory, matrix, pcm, stride, &s->synthesisPos);
        written = 2 * kSbrSlots * 32;
    } else {
        SbrQmfSynthesis32(s->synthesisHistory, matrix, pcm, stride, &s->synthesisPos);
        written = kSbrSlots * 32;
    }

    if (!withData) {
        saveHistory(s, matrix, 32);
        return written;
    }
    saveHistory(s, matrix, kx);
    const int32_t highCount = sbrK2(s) - kx;
    int32_t* history = s->qmfHistory;
    for (int32_t b = kx; b <= kx + highCount + 1 && b < kSbrQmfRows; ++b)
        for (int32_t n = 2; n < kSbrHistoryColumns; ++n)
            history[8 * b + n] = sbrRow(matrix, b)[kSbrSlots + n];
    for (int32_t n = 2; n < kSbrHistoryColumns; ++n)
        history[520 + n] = sbrRow(matrix, kSbrSpareRow)[kSbrSlots + n];
    s->savedBands = static_cast<uint8_t>(kx);
    s->prevHighCount = static_cast<int8_t>(highCount);
    return written;
}
