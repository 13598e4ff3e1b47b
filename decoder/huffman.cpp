// Scale factor and spectral Huffman decoding.
#include "huffman.h"

const HuffmanCodebook kCodebooks[12] = {};
int32_t decodeScaleFactors(AacDecoder*, ElementState*, int32_t, int32_t) { return -1; }
int32_t decodeSpectralBand(AacDecoder*, int32_t, int32_t, int32_t*) { return -1; }
