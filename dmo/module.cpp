// The Sonadec module. Its COM exports arrive with the media object.
#include "aacdec.h"

extern "C" __attribute__((visibility("default"))) int32_t SonadecCoreVersion() { return 1; }
