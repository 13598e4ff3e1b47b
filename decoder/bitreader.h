// MSB-first bit reader over a caller-owned byte array. It never fails and
// never stops at byteLength: bits past the end read as zero and no byte past
// the buffer is ever touched. Users test for the end of data themselves.
#pragma once

#include <cstdint>
#include <cstring>

struct BitReader {
    const uint8_t* data;
    int32_t byteIndex;    // byte holding the next unread bit
    int32_t bitIndex;     // 0..7 bits already taken from that byte, MSB first
    int32_t bitsConsumed; // since start, skips and alignment included
    int32_t byteLength;   // valid bytes at data
};

inline void clear(BitReader* r) {
    r->data = nullptr;
    r->byteIndex = r->bitIndex = r->bitsConsumed = r->byteLength = 0;
}

inline void start(BitReader* r, const uint8_t* data, int32_t byteLength) {
    r->data = data;
    r->byteLength = byteLength;
    r->byteIndex = r->bitIndex = r->bitsConsumed = 0;
}

namespace bitreader_detail {
inline uint32_t bigEndian32(const uint8_t* p) {
#if defined(__arm__) && !defined(__ARM_FEATURE_UNALIGNED)
    // Without unaligned loads or a byte-reverse instruction the compiler turns
    // the usual shifted ORs into a little-endian gather plus a four-instruction
    // reverse; a sum of scaled bytes stays four loads and three adds.
    return static_cast<uint32_t>(p[0]) * 0x1000000u + static_cast<uint32_t>(p[1]) * 0x10000u +
           static_cast<uint32_t>(p[2]) * 0x100u + p[3];
#else
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
#endif
}
} // namespace bitreader_detail

// The 32 bits starting at byte `at` of data[0..len), bytes at or past len
// counting as zero. Byte loads, not a wider copy: the target has no
// unaligned word access, and a copy would become a library call there.
inline uint32_t wordAt(const uint8_t* data, int32_t at, int32_t len) {
    if (at <= len - 4) return bitreader_detail::bigEndian32(data + at);
    uint32_t w = 0;
    for (int32_t k = 0; k < 4; ++k) w = (w << 8) | (at + k < len ? data[at + k] : 0u);
    return w;
}

// Next n bits (0..32) as an unsigned value, first bit most significant.
inline uint32_t peekBits(const BitReader* r, int32_t n) {
    if (n <= 0) return 0;
    const uint32_t first = wordAt(r->data, r->byteIndex, r->byteLength);
    // bitIndex <= 7: up to 25 bits lie in the first word.
    if (n <= 25) return (first << r->bitIndex) >> (32 - n);
    const uint64_t w = ((static_cast<uint64_t>(first) << 32) | wordAt(r->data, r->byteIndex + 4, r->byteLength))
                       << r->bitIndex;
    return static_cast<uint32_t>(w >> (64 - n));
}

inline void skipBits(BitReader* r, int32_t n) {
    const int32_t t = r->bitIndex + n;
    r->byteIndex += t >> 3;
    r->bitIndex = t & 7;
    r->bitsConsumed += n;
}

inline uint32_t readBits(BitReader* r, int32_t n) {
    const uint32_t v = peekBits(r, n);
    if (n > 0) skipBits(r, n);
    return v;
}

inline void byteAlign(BitReader* r) {
    if (r->bitIndex != 0) {
        r->bitsConsumed += 8 - r->bitIndex;
        r->byteIndex += 1;
        r->bitIndex = 0;
    }
}

// Header bytes consumed: a partly read byte counts as consumed.
inline int32_t bytesTouched(const BitReader* r) {
    return r->byteIndex + (r->bitIndex != 0 ? 1 : 0);
}
