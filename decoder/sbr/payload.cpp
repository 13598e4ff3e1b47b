// SBR extension payload parsing (placeholder).
#include "sbr/sbr_internal.h"

#include "bitreader.h"

int32_t SbrParsePayload(SbrChannelState** slot, SbrFrameData* frame, BitReader*, int32_t) {
    if (slot != nullptr && *slot != nullptr) (*slot)->noHeaderYet = 0;
    if (frame != nullptr) frame->sbrDataPresent = 1;
    return 0;
}
