// Constant tables of spectral reconstruction, TNS/LTP and the filterbank
// (generated into recon_tables.cpp by tools/gen_recon_tables.py).
#pragma once

#include <cstdint>

// floor(i^(4/3) * 2^19), i = 0..256.
extern const int32_t kPow43[257];
// Shift h taking a = j*256 .. j*256+255 below 256.
extern const uint8_t kLog2Step[32];
// Q31 2^(-1/4), 2^(-1/2), 2^(-3/4), 1.0 at indices 1..4 (index 0 unused).
extern const int32_t kQuarterGain[5];
// Q30 2^(k/4), k = 0..3.
extern const int32_t kQuarterGainQ30[4];
// Q31 ~0.85899 / sqrt(4(k+1)) for a noise band of 4(k+1) lines.
extern const int32_t kNoisePrescale[32];
// Q31 2^(k/6 - 13).
extern const int32_t kDrcGain[74];
// TNS reflection coefficients in Q24, indexed by the sign-extended index
// modulo 8 (3-bit resolution) or 16 (4-bit).
extern const int32_t kTnsCoef3[8];
extern const int32_t kTnsCoef4[16];
// LTP gains in Q30.
extern const int32_t kLtpCoef[8];
// Rising window halves in Q15; word-aligned so that two entries load as one word.
alignas(4) extern const uint16_t kSineLong[1024];
alignas(4) extern const uint16_t kKbdLong[1024];
alignas(4) extern const uint16_t kSineShort[128];
alignas(4) extern const uint16_t kKbdShort[128];
// Q31 cos / sin of pi (i + 1/8) / N for the N-line transforms.
extern const int32_t kTwiddleCos1024[512];
extern const int32_t kTwiddleSin1024[512];
extern const int32_t kTwiddleCos128[64];
extern const int32_t kTwiddleSin128[64];
// Q31 cos(pi k / 256), k = 0..128: a quarter wave for the FFT.
extern const int32_t kFftCos[129];
// i with its 8 bits reversed.
extern const uint8_t kBitReverse[256];
