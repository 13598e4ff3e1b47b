// Inverse MDCT, windowing, overlap-add and PCM output; the forward MDCT of
// long-term prediction shares the transform core.
#pragma once

#include <cstdint>

// Writes 1024 samples to pcm[0], pcm[stride], ... and updates `overlap`.
// `spectrum` is transformed in place; `scratch` holds 2048 words.
void synthesiseChannel(int32_t prevShape, int32_t windowSequence, int32_t shape, int32_t* spectrum,
                       int32_t* scratch, int32_t* overlap, int16_t* pcm, int32_t stride);

// Unscaled MDCT of 2048 values to 1024 lines:
// out[k] = sum x[n] cos(pi/1024 (n + 512.5)(k + 1/2)). `input` is left
// unchanged; `fftScratch` holds 1024 words; `output` may not alias `input`.
void forwardMdct(const int32_t* input, int32_t* output, int32_t* fftScratch);

// The stages of synthesiseChannel on their own, for the kernel tests and
// benchmarks.
// Unscaled DCT-IV in place, u[n] = sum X[k] cos(pi/N (n + 1/2)(k + 1/2)), of
// N = 1024 lines (`work`: 1024 words) and N = 128 lines (`work`: 128 words).
void dct4Long(int32_t* data, int32_t* work);
void dct4Short(int32_t* data, int32_t* work);
// Windowing and overlap-add of a long-transform frame from its DCT-IV output
// `u` (1024 values); `scratch` holds 2048 words.
void overlapAddLong(int32_t prevShape, int32_t sequence, int32_t shape, const int32_t* u,
                    int32_t* overlap, int16_t* pcm, int32_t stride, int32_t* scratch);
// The same for EIGHT_SHORT from the eight 128-value DCT-IV outputs in `u`.
void overlapAddShort(int32_t prevShape, int32_t shape, const int32_t* u, int32_t* overlap,
                     int16_t* pcm, int32_t stride, int32_t* scratch);
