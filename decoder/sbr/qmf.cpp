// SBR QMF banks (placeholder).
#include "sbr/sbr_internal.h"

void SbrQmfAnalysis(SbrChannelState*, const int16_t*, int32_t*, int32_t) {}
void SbrQmfSynthesis64(int32_t*, const int32_t*, int16_t*, int32_t, uint8_t*) {}
void SbrQmfSynthesis32(int32_t*, const int32_t*, int16_t*, int32_t, uint8_t*) {}
