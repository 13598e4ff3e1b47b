// Inverse MDCT, windowing, overlap-add and PCM output.
#pragma once

#include <cstdint>

// Writes 1024 samples to pcm[0], pcm[stride], ... and updates `overlap`.
// `spectrum` is transformed in place; `scratch` holds 2048 words.
void synthesiseChannel(int32_t prevShape, int32_t windowSequence, int32_t shape, int32_t* spectrum,
                       int32_t* scratch, int32_t* overlap, int16_t* pcm, int32_t stride);
