// Temporal noise shaping and long-term prediction.
#pragma once

#include <cstdint>

#include "context.h"
#include "element.h"

// TNS synthesis (all-pole) filtering of one channel's spectrum.
void applyTns(int32_t srIndex, const IcsState* ics, int32_t* spectrum);

// Long-term prediction of output channel `channel` added to its spectrum.
void applyLtp(AacDecoder* d, IcsState* ics, int32_t* spectrum, int32_t channel);

// Appends one frame of a channel's PCM (read with `stride`) to its history.
void updateLtpHistory(int16_t* history, const int16_t* pcm, int32_t stride, int32_t frameLength);
