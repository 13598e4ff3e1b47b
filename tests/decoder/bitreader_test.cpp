#include "bitreader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Reference: one bit at a time from the byte array, zero past the end.
uint32_t referenceBits(const std::vector<uint8_t>& bytes, int64_t bitPos, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        const int64_t p = bitPos + i;
        const int64_t byte = p >> 3;
        const uint32_t bit = byte < static_cast<int64_t>(bytes.size())
                                 ? (bytes[byte] >> (7 - (p & 7))) & 1
                                 : 0;
        v = (v << 1) | bit;
    }
    return v;
}

void expectInvariant(const BitReader& r) {
    EXPECT_EQ(r.byteIndex * 8 + r.bitIndex, r.bitsConsumed);
    EXPECT_GE(r.bitIndex, 0);
    EXPECT_LE(r.bitIndex, 7);
}

TEST(BitReader, ClearAndStartResetEveryField) {
    uint8_t buf[4] = {1, 2, 3, 4};
    BitReader r;
    start(&r, buf, 4);
    readBits(&r, 13);
    clear(&r);
    EXPECT_EQ(r.data, nullptr);
    EXPECT_EQ(r.byteIndex | r.bitIndex | r.bitsConsumed | r.byteLength, 0);
    start(&r, buf, 3);
    EXPECT_EQ(r.data, buf);
    EXPECT_EQ(r.byteLength, 3);
    EXPECT_EQ(r.byteIndex | r.bitIndex | r.bitsConsumed, 0);
}

TEST(BitReader, ReadFourAtBitSixSpansTwoBytes) {
    const uint8_t buf[2] = {0b00000010, 0b11000000};
    BitReader r;
    start(&r, buf, 2);
    skipBits(&r, 6);
    EXPECT_EQ(readBits(&r, 4), 0b1011u);
    EXPECT_EQ(r.byteIndex, 1);
    EXPECT_EQ(r.bitIndex, 2);
    EXPECT_EQ(r.bitsConsumed, 10);
}

TEST(BitReader, ZeroBitReadsAndPeeksReturnZeroAndStay) {
    const uint8_t buf[1] = {0xFF};
    BitReader r;
    start(&r, buf, 1);
    skipBits(&r, 3);
    EXPECT_EQ(readBits(&r, 0), 0u);
    EXPECT_EQ(peekBits(&r, 0), 0u);
    EXPECT_EQ(r.bitsConsumed, 3);
}

TEST(BitReader, ByteAlign) {
    const uint8_t buf[3] = {0, 0, 0};
    BitReader r;
    start(&r, buf, 3);
    byteAlign(&r);
    EXPECT_EQ(r.byteIndex, 0);
    EXPECT_EQ(r.bitIndex, 0);
    EXPECT_EQ(r.bitsConsumed, 0);
    skipBits(&r, 3);
    byteAlign(&r);
    EXPECT_EQ(r.byteIndex, 1);
    EXPECT_EQ(r.bitIndex, 0);
    EXPECT_EQ(r.bitsConsumed, 8);
    byteAlign(&r);
    EXPECT_EQ(r.bitsConsumed, 8);
}

TEST(BitReader, ThirtyTwoBitReadAtEveryBitOffset) {
    const std::vector<uint8_t> buf = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x23, 0x45, 0x67};
    for (int off = 0; off < 8; ++off) {
        BitReader r;
        start(&r, buf.data(), static_cast<int32_t>(buf.size()));
        skipBits(&r, off);
        EXPECT_EQ(peekBits(&r, 32), referenceBits(buf, off, 32)) << off;
        EXPECT_EQ(readBits(&r, 32), referenceBits(buf, off, 32)) << off;
        EXPECT_EQ(r.bitsConsumed, off + 32);
        expectInvariant(r);
    }
}

// Random reads, peeks and skips over random buffers of every small size,
// compared bit for bit with the reference; bits past the end read as zero.
// Each buffer is an exact-size heap block, so a read past it trips ASan.
TEST(BitReader, RandomOperationsMatchReference) {
    std::mt19937 rng(1234);
    for (int len = 0; len < 40; ++len) {
        for (int trial = 0; trial < 40; ++trial) {
            std::vector<uint8_t> bytes(len);
            for (auto& b : bytes) b = static_cast<uint8_t>(rng());
            auto* heap = new uint8_t[len > 0 ? len : 1];
            std::copy(bytes.begin(), bytes.end(), heap);
            BitReader r;
            start(&r, heap, len);
            int64_t pos = 0;
            for (int op = 0; op < 30 && pos < len * 8 + 80; ++op) {
                const int n = static_cast<int>(rng() % 33);
                switch (rng() % 3) {
                case 0:
                    ASSERT_EQ(readBits(&r, n), referenceBits(bytes, pos, n));
                    pos += n;
                    break;
                case 1:
                    ASSERT_EQ(peekBits(&r, n), referenceBits(bytes, pos, n));
                    break;
                default:
                    skipBits(&r, n);
                    pos += n;
                    break;
                }
                ASSERT_EQ(r.bitsConsumed, pos);
                expectInvariant(r);
            }
            delete[] heap;
        }
    }
}

TEST(BitReader, SkipPastTheEndIsAllowedAndReadsZero) {
    auto* one = new uint8_t[1]{0xFF};
    BitReader r;
    start(&r, one, 1);
    skipBits(&r, 100);
    EXPECT_EQ(r.byteIndex, 12);
    EXPECT_EQ(r.bitIndex, 4);
    EXPECT_EQ(readBits(&r, 32), 0u);
    delete[] one;
}

TEST(BitReader, BytesTouchedCountsAPartByte) {
    const uint8_t buf[4] = {};
    BitReader r;
    start(&r, buf, 4);
    skipBits(&r, 9);
    EXPECT_EQ(bytesTouched(&r), 2);
    skipBits(&r, 7);
    EXPECT_EQ(bytesTouched(&r), 2);
}

} // namespace
