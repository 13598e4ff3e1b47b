// Scale factor and spectral Huffman decoding over the 4-way node trees.
#pragma once

#include <cstdint>

#include "context.h"
#include "element.h"

struct HuffmanCodebook {
    uint8_t unsignedValues; // 1 = magnitudes followed by sign bits
    uint8_t dimension;      // values per codeword: 4 or 2 (1 for scale factors)
    uint8_t lav;            // largest magnitude (signed) or value (unsigned)
    uint8_t maxLength;      // longest codeword, bits
    int32_t reciprocal;     // 1 / modulus in Q31, rounded up
    const uint16_t* tree;
};

// Entry 0 describes the scale factor tree, entries 1..11 the spectral books.
extern const HuffmanCodebook kCodebooks[12];

// Scale factors, intensity positions and noise energies of channel `ch` of
// the element, for every group and band below bandCount. 0 or -1.
int32_t decodeScaleFactors(AacDecoder* d, ElementState* e, int32_t ch, int32_t bandCount);

// `count` values (a multiple of the book's dimension) of codebook 1..11
// into out[0..count-1]. 0 or -1 (reader past its end).
int32_t decodeSpectralBand(AacDecoder* d, int32_t codebook, int32_t count, int32_t* out);

// The same on a bare reader: the kernel that benchmarks and tests drive.
int32_t decodeSpectralValues(BitReader* r, int32_t codebook, int32_t count, int32_t* out);
