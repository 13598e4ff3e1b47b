// Inverse MDCT, windowing and overlap-add.
#include "filterbank.h"

void synthesiseChannel(int32_t, int32_t, int32_t, int32_t*, int32_t*, int32_t*, int16_t* pcm,
                       int32_t stride) {
    for (int32_t n = 0; n < 1024; ++n) pcm[n * stride] = 0;
}
