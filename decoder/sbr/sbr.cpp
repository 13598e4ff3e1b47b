#include "sbr/sbr.h"

#include "bitreader.h"

void SbrConfigureChannel(SbrChannelState* s, int32_t rateFactor, int32_t sbrRate, int32_t rateIndex) {
    s->sbrSampleRate = sbrRate;
    s->sbrRateIndex = static_cast<uint8_t>(rateIndex);
    s->outputMode = static_cast<uint8_t>(rateFactor == 2 ? 2 : 1);
}

void SbrResetChannels(SbrChannelState* const channels[2]) {
    for (int i = 0; i < 2; ++i) {
        if (channels[i] == nullptr) continue;
        channels[i]->parseOnly = 0;
        channels[i]->noHeaderYet = 1;
    }
}

int32_t SbrParsePayload(SbrChannelState** slot, SbrFrameData* frame, BitReader*, int32_t) {
    // Payloads are skipped by the fill-element handler; nothing is read yet.
    if (slot != nullptr && *slot != nullptr) (*slot)->noHeaderYet = 0;
    if (frame != nullptr) frame->sbrDataPresent = 1;
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
