// Scale factor and spectral Huffman decoding.
//
// Each codeword is looked up in a 4-way node tree from one peeked window;
// for books 1-10 the sign bits come out of the same window, so a codeword
// costs one peek and one skip. Indices are split into values by multiplying
// with the book's Q31 reciprocal of the modulus.
#include "huffman.h"

#include <cstring>

#include "fixedpoint.h"
#include "huffman_trees.h"

namespace {

constexpr uint32_t kLeaf = 1024;
constexpr int32_t kMaxEscapePrefix = 8; // escapes stop at 8191
// Scale factors live in 0..255 (gain 2^((sf - 100) / 4)). Intensity
// positions steer by 2^(-pos / 4); the same span read the other way,
// 100 - sf, keeps them in -155..100 where the stereo shifts stay meaningful.
constexpr int32_t kMaxScaleFactor = 255;
constexpr int32_t kMinIntensity = -155;
constexpr int32_t kMaxIntensity = 100;

inline int64_t bitPosition(const BitReader* r) {
    return static_cast<int64_t>(r->byteIndex) * 8 + r->bitIndex;
}

inline int64_t bitLimit(const BitReader* r) { return static_cast<int64_t>(r->byteLength) * 8; }

// Leaf entry for the codeword at the top of a left-aligned 32-bit window.
// The trees are complete codes, so every window ends on a leaf.
inline uint32_t lookup(const uint16_t* tree, uint32_t window) {
    uint32_t node = 0;
    uint32_t entry = tree[window >> 30];
    while (entry < kLeaf) {
        window <<= 2;
        node += entry;
        entry = tree[4 * node + (window >> 30)];
    }
    return entry;
}

inline int32_t leafLength(uint32_t entry) { return static_cast<int32_t>(entry >> 10); }
inline int32_t leafIndex(uint32_t entry) { return static_cast<int32_t>(entry & 1023); }

// Quotient by the book's modulus through its reciprocal (no divide).
inline int32_t quotient(int32_t v, int32_t reciprocal) {
    return static_cast<int32_t>((static_cast<int64_t>(v) * reciprocal) >> 31);
}

// Left-aligned window of `width` bits at the reader.
inline uint32_t window(const BitReader* r, int32_t width) {
    return peekBits(r, width) << (32 - width);
}

// One scale factor codeword: its index minus 60, or a value outside
// -60..60 (kEndOfData) when the codeword would run past the data.
constexpr int32_t kEndOfData = 1 << 20;

inline int32_t readScaleFactorDelta(BitReader* r) {
    const uint32_t entry = lookup(kScaleFactorTree, window(r, 20));
    const int32_t length = leafLength(entry);
    if (bitPosition(r) + length > bitLimit(r)) return kEndOfData;
    skipBits(r, length);
    return leafIndex(entry) - 60;
}

// Applies the sign bits (left-aligned in `signs`) to the nonzero values in
// order; returns how many were used.
inline int32_t applySigns(int32_t* v, int32_t n, uint32_t signs) {
    int32_t used = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (v[i] == 0) continue;
        if (signs & 0x80000000u) v[i] = -v[i];
        signs <<= 1;
        ++used;
    }
    return used;
}

int32_t decodeQuads(BitReader* r, const HuffmanCodebook& book, int32_t count, int32_t* out) {
    const int32_t width = book.maxLength + 5;
    const int32_t m = book.lav + 1 + (book.unsignedValues ? 0 : book.lav);
    const int32_t off = book.unsignedValues ? 0 : book.lav;
    const int32_t rec = book.reciprocal;
    const int64_t limit = bitLimit(r);
    for (int32_t i = 0; i < count; i += 4) {
        const uint32_t win = window(r, width);
        const uint32_t entry = lookup(book.tree, win);
        const int32_t length = leafLength(entry);
        const int32_t index = leafIndex(entry);
        const int32_t h = quotient(index, rec);
        const int32_t l = quotient(h, rec);
        const int32_t k = quotient(l, rec);
        int32_t* v = out + i;
        v[0] = k - off;
        v[1] = l - m * k - off;
        v[2] = h - m * l - off;
        v[3] = index - m * h - off;
        int32_t used = length;
        if (book.unsignedValues) used += applySigns(v, 4, win << length);
        if (bitPosition(r) + used > limit) return -1;
        skipBits(r, used);
    }
    return 0;
}

int32_t decodePairs(BitReader* r, const HuffmanCodebook& book, int32_t count, int32_t* out) {
    const int32_t width = book.maxLength + 3;
    const int32_t m = book.lav + 1 + (book.unsignedValues ? 0 : book.lav);
    const int32_t off = book.unsignedValues ? 0 : book.lav;
    const int32_t rec = book.reciprocal;
    const int64_t limit = bitLimit(r);
    for (int32_t i = 0; i < count; i += 2) {
        const uint32_t win = window(r, width);
        const uint32_t entry = lookup(book.tree, win);
        const int32_t length = leafLength(entry);
        const int32_t index = leafIndex(entry);
        const int32_t y = quotient(index, rec);
        int32_t* v = out + i;
        v[0] = y - off;
        v[1] = index - m * y - off;
        int32_t used = length;
        if (book.unsignedValues) used += applySigns(v, 2, win << length);
        if (bitPosition(r) + used > limit) return -1;
        skipBits(r, used);
    }
    return 0;
}

// Escape magnitude after a value of 16: a prefix of N ones and a zero,
// then N + 4 bits. -1 for a prefix longer than the escape range allows.
inline int32_t readEscape(BitReader* r) {
    const uint32_t prefix = peekBits(r, kMaxEscapePrefix + 1) << (32 - kMaxEscapePrefix - 1);
    const int32_t ones = __builtin_clz(~prefix); // ~prefix has zeros below the window
    if (ones > kMaxEscapePrefix) return -1;
    skipBits(r, ones + 1);
    return (1 << (ones + 4)) + static_cast<int32_t>(readBits(r, ones + 4));
}

int32_t decodeEscapePairs(BitReader* r, const HuffmanCodebook& book, int32_t count, int32_t* out) {
    const int32_t rec = book.reciprocal;
    const int64_t limit = bitLimit(r);
    for (int32_t i = 0; i < count; i += 2) {
        const uint32_t entry = lookup(book.tree, window(r, book.maxLength + 1));
        const int32_t length = leafLength(entry);
        if (bitPosition(r) + length > limit) return -1;
        skipBits(r, length);
        const int32_t index = leafIndex(entry);
        const int32_t y = quotient(index, rec);
        int32_t v[2] = {y, index - 17 * y};
        const bool negative0 = v[0] != 0 && readBits(r, 1) != 0;
        const bool negative1 = v[1] != 0 && readBits(r, 1) != 0;
        for (int32_t j = 0; j < 2; ++j) {
            if (v[j] != 16) continue;
            v[j] = readEscape(r);
            if (v[j] < 0) return -1;
        }
        if (bitPosition(r) > limit) return -1;
        out[i] = negative0 ? -v[0] : v[0];
        out[i + 1] = negative1 ? -v[1] : v[1];
    }
    return 0;
}

} // namespace

int32_t decodeScaleFactors(AacDecoder* d, ElementState* e, int32_t ch, int32_t bandCount) {
    BitReader* r = d->reader;
    IcsState* ics = &e->ics[ch];
    int32_t scaleFactor = ics->globalGain;
    int32_t position = 0;
    int32_t noiseEnergy = ics->globalGain - 346;
    bool firstNoise = true;
    for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
        const uint8_t* cb = ics->codebook + g * bandCount;
        int16_t* sf = ics->scaleFactor + g * bandCount;
        for (int32_t b = 0; b < bandCount; ++b) {
            switch (cb[b]) {
            case kZeroHcb:
                sf[b] = 0;
                break;
            case kIntensityHcb:
            case kIntensityHcb2: {
                const int32_t delta = readScaleFactorDelta(r);
                if (delta == kEndOfData) return -1;
                position += delta;
                if (position < kMinIntensity || position > kMaxIntensity) return -1;
                sf[b] = static_cast<int16_t>(position);
                break;
            }
            case kNoiseHcb: {
                if (firstNoise) {
                    noiseEnergy += static_cast<int32_t>(readBits(r, 9));
                    firstNoise = false;
                } else {
                    const int32_t delta = readScaleFactorDelta(r);
                    if (delta == kEndOfData) return -1;
                    noiseEnergy += delta;
                }
                // Any energy fits: the noise generator zeroes bands it cannot scale.
                sf[b] = static_cast<int16_t>(noiseEnergy);
                break;
            }
            default: {
                const int32_t delta = readScaleFactorDelta(r);
                if (delta == kEndOfData) return -1;
                scaleFactor += delta;
                if (scaleFactor < 0 || scaleFactor > kMaxScaleFactor) return -1;
                sf[b] = static_cast<int16_t>(scaleFactor);
                break;
            }
            }
        }
    }
    return 0;
}

FX_VECTOR_CLONES int32_t decodeSpectralValues(BitReader* r, int32_t codebook, int32_t count, int32_t* out) {
    if (codebook < 1 || codebook > kEscHcb) return -1;
    const HuffmanCodebook& book = kCodebooks[codebook];
    if (codebook == kEscHcb) return decodeEscapePairs(r, book, count, out);
    if (book.dimension == 4) return decodeQuads(r, book, count, out);
    return decodePairs(r, book, count, out);
}

int32_t decodeSpectralBand(AacDecoder* d, int32_t codebook, int32_t count, int32_t* out) {
    return decodeSpectralValues(d->reader, codebook, count, out);
}
