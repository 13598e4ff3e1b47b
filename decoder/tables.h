// Constant tables shared by the syntax and reconstruction stages, for
// 1024-sample frames. Values equal to ISO/IEC 14496-3.
#pragma once

#include <cstdint>

// Scale factor bands per sampling index: 12 short-window counts, then 12 long.
extern const uint8_t kNumSwb[24];
// Band edges, 16 per index for short windows (tail filled with 128) and 52
// per index for long windows (tail 0, last entry 1024).
extern const uint16_t kSwbOffsetShort[12 * 16];
extern const uint16_t kSwbOffsetLong[12 * 52];

inline int32_t numShortBands(int32_t srIndex) { return kNumSwb[srIndex]; }
inline int32_t numLongBands(int32_t srIndex) { return kNumSwb[12 + srIndex]; }
inline const uint16_t* shortOffsets(int32_t srIndex) { return kSwbOffsetShort + 16 * srIndex; }
inline const uint16_t* longOffsets(int32_t srIndex) { return kSwbOffsetLong + 52 * srIndex; }
