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
// The 64-bit big-endian word whose top bits start at byte `byteIndex`;
// bytes at or past byteLength count as zero.
inline uint64_t loadWord(const BitReader* r) {
    const int64_t at = r->byteIndex;
    const int64_t len = r->byteLength;
    if (at + 8 <= len) {
        uint64_t w;
        std::memcpy(&w, r->data + at, 8);
        return __builtin_bswap64(w);
    }
    uint64_t w = 0;
    for (int k = 0; k < 8; ++k) {
        w <<= 8;
        if (at + k < len) w |= r->data[at + k];
    }
    return w;
}
} // namespace bitreader_detail

// Next n bits (0..32) as an unsigned value, first bit most significant.
inline uint32_t peekBits(const BitReader* r, int32_t n) {
    if (n <= 0) return 0;
    // bitIndex <= 7 and n <= 32: the 39 bits needed lie in the top 40 of the word.
    const uint64_t w = bitreader_detail::loadWord(r) << r->bitIndex;
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
