// Scale factor and spectral Huffman decoding.
//
// A codeword is looked up in its book's first-level table with the next
// 8 bits; the few longer codewords go on down the 4-way node tree from the
// node the table names, so every lookup is the tree walk, shortened. For
// books 1-10 the sign bits come out of the same window, so a codeword costs
// one window load and one position update; its values come from the book's
// value table (the index split by the modulus).
#include "huffman.h"

#include <cstring>

#include "fixedpoint.h"
#include "huffman_lookup.h"
#include "huffman_trees.h"

namespace {

constexpr int32_t kMaxEscapePrefix = 8; // escapes stop at 8191
// Scale factors live in 0..255 (gain 2^((sf - 100) / 4)). Intensity
// positions steer by 2^(-pos / 4); the same span read the other way,
// 100 - sf, keeps them in -155..100 where the stereo shifts stay meaningful.
constexpr int32_t kMaxScaleFactor = 255;
constexpr int32_t kMinIntensity = -155;
constexpr int32_t kMaxIntensity = 100;

// One scale factor codeword: its index minus 60, or a value outside
// -60..60 (kEndOfData) when the codeword would run past the data.
constexpr int32_t kEndOfData = 1 << 20;

inline int32_t readScaleFactorDelta(BitReader* r) {
    // The word at the reader holds at least 25 bits; codewords take 19 at most.
    const uint32_t win = wordAt(r->data, r->byteIndex, r->byteLength) << r->bitIndex;
    const uint32_t entry = huffmanLookup(kFirstLevel[0], kScaleFactorTree, win);
    const int32_t length = leafLength(entry);
    const int32_t t = r->bitIndex + length;
    const int32_t to = r->byteIndex + (t >> 3);
    if (to > r->byteLength || (to == r->byteLength && (t & 7) != 0)) return kEndOfData;
    r->byteIndex = to;
    r->bitIndex = t & 7;
    r->bitsConsumed += length;
    return leafIndex(entry) - 60;
}

// The reader's position held in locals over a run of codewords: the byte
// and bit of the next unread bit. Codewords with their sign bits take at
// most 21 bits, so the window at the position (32 bits from its byte,
// shifted by the bit) always holds them; bits past the data read as zero.
struct Cursor {
    const uint8_t* data;
    int32_t length; // bytes
    int32_t byte;
    int32_t bit;

    explicit Cursor(const BitReader* r)
        : data(r->data), length(r->byteLength), byte(r->byteIndex), bit(r->bitIndex) {}
    uint32_t window() const { return wordAt(data, byte, length) << bit; }
    // Advances by n bits, or returns false (not moving) when that would end
    // past the data.
    bool advance(int32_t n) {
        const int32_t t = bit + n;
        const int32_t to = byte + (t >> 3);
        if (to > length || (to == length && (t & 7) != 0)) return false;
        byte = to;
        bit = t & 7;
        return true;
    }
    void store(BitReader* r, int32_t startByte, int32_t startBit) const {
        r->bitsConsumed += (byte - startByte) * 8 + (bit - startBit);
        r->byteIndex = byte;
        r->bitIndex = bit;
    }
};

// Negates the nonzero values whose sign bit (taken in value order from the
// top of `signs`) is set; returns how many sign bits were used.
template <int32_t kDim>
inline int32_t applySigns(int32_t* v, uint32_t signs) {
    int32_t used = 0;
#if defined(__x86_64__)
    // Without branches: which values are zero is data, and a mispredicted
    // branch per value costs a deep pipeline more than these few operations.
    for (int32_t i = 0; i < kDim; ++i) {
        const int32_t nonzero = v[i] != 0;
        const int32_t negate = -static_cast<int32_t>((signs >> (31 - used)) & 1u & static_cast<uint32_t>(nonzero));
        v[i] = (v[i] ^ negate) - negate;
        used += nonzero;
    }
#else
    // A core that executes conditionally keeps these branches short.
    for (int32_t i = 0; i < kDim; ++i) {
        if (v[i] == 0) continue;
        if (signs & 0x80000000u) v[i] = -v[i];
        signs <<= 1;
        ++used;
    }
#endif
    return used;
}

// One codeword of books 1-10 from the window `win`: its values (signs
// applied) into v; returns the bits it takes with its sign bits.
template <int32_t kDim, bool kUnsigned>
inline int32_t bookCodeword(const uint16_t* first, const uint16_t* tree, const int8_t* values, uint32_t win,
                            int32_t* v, const uint8_t* signBits = nullptr) {
    const uint32_t entry = huffmanLookup(first, tree, win);
    const int32_t length = leafLength(entry);
    const int8_t* q = values + kDim * leafIndex(entry);
    // Last value first: every load is then at an immediate offset from
    // q, never a register-offset load writing back its address, a form
    // ARMv5 leaves unpredictable when it reuses the index register.
    if constexpr (kDim == 4) {
        v[3] = q[3];
        v[2] = q[2];
    }
    v[1] = q[1];
    v[0] = q[0];
    int32_t used = length;
    if (kUnsigned) {
        const int32_t signs = applySigns<kDim>(v, win << length);
        used += signBits != nullptr ? signBits[leafIndex(entry)] : signs;
    }
    return used;
}

#if defined(__x86_64__)
// Sign bits of each codeword index of books 1-11 (its nonzero values): the
// next codeword's position then waits on one table load rather than on the
// values and their tests, the longest chain of the decoding loop on a deep
// pipeline.
struct SignBitCounts {
    uint8_t count[12][289];
};

SignBitCounts countSignBits() {
    SignBitCounts t{};
    for (int32_t cb = 1; cb <= 11; ++cb) {
        const int32_t dim = cb <= 4 ? 4 : 2;
        const int32_t indices = cb <= 6 ? 81 : cb <= 8 ? 64 : cb <= 10 ? 169 : 289;
        for (int32_t i = 0; i < indices; ++i)
            for (int32_t k = 0; k < dim; ++k) t.count[cb][i] += kSpectrumValues[cb][dim * i + k] != 0;
    }
    return t;
}

const SignBitCounts kSignBitCounts = countSignBits();
#endif

// Books 1-10: dimension 4 or 2, signed values or magnitudes with sign bits.
template <int32_t kDim, bool kUnsigned>
int32_t decodeBook(BitReader* r, int32_t codebook, int32_t count, int32_t* out) {
    const uint16_t* first = kFirstLevel[codebook];
    const uint16_t* tree = kCodebooks[codebook].tree;
    const int8_t* values = kSpectrumValues[codebook];
    Cursor c(r);
    const int32_t startByte = c.byte, startBit = c.bit;
    int32_t i = 0;
#if defined(__x86_64__)
    // With 64-bit registers, while eight bytes remain: one load serves
    // several codewords, shifted along in a register (57 bits or more from
    // bit 7 at the latest, each codeword 21 at most), so that the next
    // window does not wait for a load.
    while (i < count && c.byte <= c.length - 8) {
        uint64_t bits;
        std::memcpy(&bits, c.data + c.byte, 8);
        bits = __builtin_bswap64(bits) << c.bit;
        const int32_t room = 64 - c.bit - 21;
        int32_t taken = 0;
        do {
            const int32_t used = bookCodeword<kDim, kUnsigned>(first, tree, values, static_cast<uint32_t>(bits >> 32),
                                                               out + i, kSignBitCounts.count[codebook]);
            bits <<= used;
            taken += used;
            i += kDim;
        } while (i < count && taken <= room);
        const int32_t t = c.bit + taken;
        c.byte += t >> 3;
        c.bit = t & 7;
    }
#endif
    // While four bytes remain at the cursor, the window is a plain load and
    // no codeword (21 bits at most with its signs, from bit 7 at the latest)
    // can end past the data: no checks.
    for (; i < count && c.byte <= c.length - 4; i += kDim) {
        const uint32_t win = bitreader_detail::bigEndian32(c.data + c.byte) << c.bit;
        const int32_t t = c.bit + bookCodeword<kDim, kUnsigned>(first, tree, values, win, out + i);
        c.byte += t >> 3;
        c.bit = t & 7;
    }
    int32_t rc = 0;
    for (; i < count; i += kDim) {
        const int32_t used = bookCodeword<kDim, kUnsigned>(first, tree, values, c.window(), out + i);
        if (!c.advance(used)) {
            rc = -1;
            break;
        }
    }
    c.store(r, startByte, startBit);
    return rc;
}

// Escape magnitude after a value of 16 from the window at the cursor: a
// prefix of N ones and a zero, then N + 4 bits (21 bits at most, within the
// window). -1 for a prefix longer than the escape range allows or, when
// checked, bits that run past the data.
template <bool kChecked>
inline int32_t readEscape(Cursor* c) {
    const uint32_t win = kChecked ? c->window() : bitreader_detail::bigEndian32(c->data + c->byte) << c->bit;
    const int32_t ones = __builtin_clz(~win | 1u);
    if (ones > kMaxEscapePrefix) return -1;
    const int32_t bits = ones + 4;
    if (kChecked) {
        if (!c->advance(ones + 1 + bits)) return -1;
    } else {
        const int32_t t = c->bit + ones + 1 + bits;
        c->byte += t >> 3;
        c->bit = t & 7;
    }
    return (1 << bits) + static_cast<int32_t>((win << (ones + 1)) >> (32 - bits));
}

// One book 11 pair into out: a codeword and its sign bits (14 bits at most)
// from one window, then any escapes. 0, or -1 where the data fails.
// Unchecked, the cursor needs nine bytes ahead: a pair takes 56 bits at
// most, and each of its three windows is then a plain load.
template <bool kChecked>
inline int32_t escapePair(Cursor* c, const uint16_t* first, const uint16_t* tree, const int8_t* values,
                          int32_t* out) {
    const uint32_t win = kChecked ? c->window() : bitreader_detail::bigEndian32(c->data + c->byte) << c->bit;
    const uint32_t entry = huffmanLookup(first, tree, win);
    const int32_t length = leafLength(entry);
    const int8_t* q = values + 2 * leafIndex(entry);
    int32_t v1 = q[1]; // last value first, as above
    int32_t v0 = q[0];
    uint32_t signs = win << length;
    int32_t used = length;
#if defined(__x86_64__)
    // Without branches, as in applySigns, and the bits counted from the table.
    const uint32_t nonzero0 = v0 != 0, nonzero1 = v1 != 0;
    const bool negative0 = ((signs >> 31) & nonzero0) != 0;
    const bool negative1 = ((signs >> (31 - nonzero0)) & nonzero1) != 0;
    used += kSignBitCounts.count[kEscHcb][leafIndex(entry)];
#else
    bool negative0 = false, negative1 = false;
    if (v0 != 0) {
        negative0 = (signs & 0x80000000u) != 0;
        signs <<= 1;
        ++used;
    }
    if (v1 != 0) {
        negative1 = (signs & 0x80000000u) != 0;
        ++used;
    }
#endif
    if (kChecked) {
        if (!c->advance(used)) return -1;
    } else {
        const int32_t t = c->bit + used;
        c->byte += t >> 3;
        c->bit = t & 7;
    }
    if (v0 == 16 && (v0 = readEscape<kChecked>(c)) < 0) return -1;
    if (v1 == 16 && (v1 = readEscape<kChecked>(c)) < 0) return -1;
    out[0] = negative0 ? -v0 : v0;
    out[1] = negative1 ? -v1 : v1;
    return 0;
}

int32_t decodeEscapePairs(BitReader* r, int32_t count, int32_t* out) {
    const uint16_t* first = kFirstLevel[kEscHcb];
    const uint16_t* tree = kCodebooks[kEscHcb].tree;
    const int8_t* values = kSpectrumValues[kEscHcb];
    Cursor c(r);
    const int32_t startByte = c.byte, startBit = c.bit;
    int32_t rc = 0;
    int32_t i = 0;
    for (; i < count && c.byte <= c.length - 9; i += 2) {
        rc = escapePair<false>(&c, first, tree, values, out + i);
        if (rc != 0) break;
    }
    for (; rc == 0 && i < count; i += 2) rc = escapePair<true>(&c, first, tree, values, out + i);
    c.store(r, startByte, startBit);
    return rc;
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

int32_t decodeSpectralValues(BitReader* r, int32_t codebook, int32_t count, int32_t* out) {
    switch (codebook) {
    case 1:
    case 2:
        return decodeBook<4, false>(r, codebook, count, out);
    case 3:
    case 4:
        return decodeBook<4, true>(r, codebook, count, out);
    case 5:
    case 6:
        return decodeBook<2, false>(r, codebook, count, out);
    case 7:
    case 8:
    case 9:
    case 10:
        return decodeBook<2, true>(r, codebook, count, out);
    case kEscHcb:
        return decodeEscapePairs(r, count, out);
    default:
        return -1;
    }
}

int32_t decodeSpectralBand(AacDecoder* d, int32_t codebook, int32_t count, int32_t* out) {
    return decodeSpectralValues(d->reader, codebook, count, out);
}
