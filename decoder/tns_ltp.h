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

// Q24 reflection coefficient of a transmitted TNS coefficient field.
int32_t tnsReflection(int32_t raw, int32_t coefRes, int32_t coefCompress);

// Step-up recursion: reflection coefficients k[0..order-1] (Q24) to the
// direct form a[0..order], a[0] = 0xFFFFFF.
void tnsDirectForm(const int32_t* k, int32_t order, int32_t* a);

// Filters x[start..end) in place (downward when direction is 1) with the
// direct-form a[1..order]: all-pole synthesis, or all-zero analysis.
void tnsFilterRange(int32_t* x, int32_t start, int32_t end, int32_t direction, const int32_t* a,
                    int32_t order, bool synthesis);

// The 2048-value LTP estimate from a channel's history and overlap (before windowing).
void ltpEstimate(const int16_t* history, const int32_t* overlap, int32_t lag, int32_t coef,
                 int32_t* est);
