// Band tables (generated tables replace this file).
#include "tables.h"

const uint8_t kNumSwb[24] = {};
const uint16_t kSwbOffsetShort[12 * 16] = {};
const uint16_t kSwbOffsetLong[12 * 52] = {};
