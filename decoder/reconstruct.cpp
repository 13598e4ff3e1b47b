// Spectral reconstruction.
#include "reconstruct.h"

int32_t reciprocalQ30(int32_t) { return 0; }
void applyPulses(const IcsState*, int32_t*, const uint16_t*) {}
void inverseQuantise(const IcsState*, int32_t, const uint16_t*, int32_t*) {}
void reorderShortWindows(const IcsState*, int32_t, const uint16_t*, int32_t*, int32_t*) {}
void noiseSubstitution(AacDecoder*, ElementState*, int32_t, int32_t, const uint16_t*, int32_t*, int32_t) {}
void stereoProcess(int32_t, ElementState*, int32_t, int32_t*) {}
void applyDrc(const DrcInfo*, int32_t*) {}
