// SBR high-frequency generation (placeholder).
#include "sbr/sbr_internal.h"

void SbrHfGenerate(SbrChannelState*, const SbrFrameData*, int32_t*, int32_t*, SbrScratch*) {}
