// Temporal noise shaping and long-term prediction.
#include "tns_ltp.h"

void applyTns(int32_t, const IcsState*, int32_t*) {}
void applyLtp(AacDecoder*, IcsState*, int32_t*, int32_t) {}

void updateLtpHistory(int16_t* history, const int16_t* pcm, int32_t stride, int32_t frameLength) {
    for (int32_t i = 0; i < frameLength; ++i) {
        history[i] = history[frameLength + i];
        history[frameLength + i] = pcm[i * stride];
    }
}
