// SBR envelope adjustment (placeholder).
#include "sbr/sbr_internal.h"

void SbrHfAdjust(SbrChannelState*, const SbrFrameData*, int32_t*, SbrScratch*) {}
