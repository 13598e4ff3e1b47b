// SBR frequency band tables (placeholder).
#include "sbr/sbr_internal.h"

int32_t SbrLog2(uint32_t) { return 0; }
uint32_t SbrPow2(int32_t, uint32_t) { return 0; }
int32_t SbrBuildMasterTable(SbrChannelState*) { return -3; }
int32_t SbrBuildBandTables(SbrChannelState*) { return -3; }
int32_t SbrBuildPatches(SbrChannelState*) { return -3; }
int32_t SbrUpdateTables(SbrChannelState*) { return -3; }
int32_t SbrBuildLimiterTable(SbrChannelState*) { return -3; }
