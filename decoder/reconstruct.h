// Spectral reconstruction: quantised values and scale factors to the
// fixed-point spectrum (8 x the ISO/IEC 14496-3 spectral value).
#pragma once

#include <cstdint>

#include "context.h"
#include "element.h"

// 1/x in Q30 for a Q31 x in [0.5, 1).
int32_t reciprocalQ30(int32_t x);

// Adds the transmitted pulses of `ics` to the quantised values.
void applyPulses(const IcsState* ics, int32_t* spectrum, const uint16_t* longOffsets);

// Inverse quantisation and scale factor gain of every band below bandCount.
void inverseQuantise(const IcsState* ics, int32_t bandCount, const uint16_t* offsets,
                     int32_t* spectrum);
// Its two loop strategies, one result: a pass for each band's largest
// magnitude and loops that vectorise (taken with vector units), or per-band
// tables of the few coefficients of books 1-10 (taken on scalar cores).
void inverseQuantiseVector(const IcsState* ics, int32_t bandCount, const uint16_t* offsets,
                           int32_t* spectrum);
void inverseQuantiseScalar(const IcsState* ics, int32_t bandCount, const uint16_t* offsets,
                           int32_t* spectrum);

// Short windows: group-interleaved order to window order, via `scratch` (1024 words).
void reorderShortWindows(const IcsState* ics, int32_t bandCount, const uint16_t* offsets,
                         int32_t* spectrum, int32_t* scratch);

// Perceptual noise substitution for channel `ch` of the element, whose
// generator state is d->noiseSeed[outChannel].
void noiseSubstitution(AacDecoder* d, ElementState* e, int32_t ch, int32_t bandCount,
                       const uint16_t* offsets, int32_t* spectrum, int32_t outChannel);

// M/S then intensity stereo over the bands below bandLimit; channel 1 at spectra + 1024.
void stereoProcess(int32_t bandLimit, ElementState* e, int32_t srIndex, int32_t* spectra);
// The same with the band table of channel 1's window type given.
void stereoProcessBands(int32_t bandLimit, ElementState* e, int32_t bandCount,
                        const uint16_t* offsets, int32_t* spectra);

// Dynamic range control gain of the block on one channel's spectrum.
void applyDrc(const DrcInfo* drc, int32_t* spectrum);
