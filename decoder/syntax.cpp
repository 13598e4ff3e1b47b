// Raw data block and channel stream syntax.
#include "context.h"

int32_t parseRawDataBlock(AacDecoder*, FrameInfo* info, int32_t*) {
    info->channelCount = 0;
    return AAC_DEC_ERROR; // element parsing not built yet
}

int32_t parseProgramConfig(BitReader*, int32_t, ProgramConfig*) { return AAC_DEC_ERROR; }
