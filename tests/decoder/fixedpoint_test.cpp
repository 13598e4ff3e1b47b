#include "fixedpoint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using i64 = int64_t;
using u64 = uint64_t;

// Wide-integer reference formulas, written from the routines' definitions.
// Every product and sum of two 32-bit words is exact in 64 bits, which the
// 32-bit ARM build also has (it has no 128-bit type).
int32_t lowWord(i64 v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<u64>(v))); }
int32_t refMul32x16(int32_t a, int32_t b) {
    i64 p = static_cast<i64>(a) * static_cast<int16_t>(b & 0xFFFF);
    i64 hi = p >> 16; // floor
    return lowWord(hi * 2);
}
uint32_t refMulU32x16(uint32_t a, uint32_t b) {
    i64 p = static_cast<i64>(a / 2) * static_cast<int16_t>((b / 2) & 0xFFFF);
    return static_cast<uint32_t>(lowWord((p >> 16) * 4));
}
int32_t refMulQ31(int32_t a, int32_t b) { return lowWord(((static_cast<i64>(a) * b) >> 32) * 2); }
int32_t refMulQ31Exact(int32_t a, int32_t b) { return lowWord((static_cast<i64>(a) * b) >> 31); }
int32_t refMulQ24(int32_t a, int32_t b) { return lowWord((static_cast<i64>(a) * b) >> 24); }
int32_t clampI32(i64 v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}
int refClz(uint32_t a) {
    int n = 0;
    for (int bit = 31; bit >= 0 && !((a >> bit) & 1); --bit) ++n;
    return n;
}
int refMagZeros(int32_t a) { return refClz(static_cast<uint32_t>(a < 0 ? ~a : a)); }
i64 floorShift(i64 v, int n) { return n >= 63 ? (v < 0 ? -1 : 0) : v >> n; }
int32_t refShiftLeftSat(int32_t a, int32_t n) {
    if (n < 0) {
        const i64 m = -static_cast<i64>(n);
        return static_cast<int32_t>(floorShift(a, m > 100 ? 100 : static_cast<int>(m)));
    }
    // The exact product a * 2^n, clamped to the 32-bit range.
    if (a == 0) return 0;
    if (n > 32) return a < 0 ? INT32_MIN : INT32_MAX;
    const i64 v = static_cast<i64>(a) * (i64{1} << n);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}
uint32_t refShiftLeftSatU(uint32_t a, int32_t n) {
    if (n < 0) return -static_cast<i64>(n) >= 32 ? 0 : a >> -n;
    if (a == 0) return 0;
    if (n > 32) return 0xFFFFFFFFu;
    const u64 v = static_cast<u64>(a) << n;
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}
int32_t refShiftRightRound(int32_t a, int32_t n) {
    if (n <= 0) return -static_cast<i64>(n) >= 32 ? 0 : lowWord(static_cast<i64>(a) << -n);
    int s = n > 100 ? 100 : n;
    return static_cast<int32_t>(floorShift(a, s) + (floorShift(a, s - 1) & 1));
}
uint32_t refShiftRightRoundU(uint32_t a, int32_t n) {
    if (n < 0) {
        i64 m = -static_cast<i64>(n);
        u64 limit = m >= 32 ? 0 : 0xFFFFFFFFull >> m;
        if (a > limit) return 0xFFFFFFFFu;
        return m >= 32 ? 0 : a << m;
    }
    if (n == 0) return a;
    if (n >= 33) return 0;
    return static_cast<uint32_t>((static_cast<u64>(a) >> n) + ((static_cast<u64>(a) >> (n - 1)) & 1));
}

std::mt19937_64 rng(20261208);
int32_t anyI32() {
    // Mix uniform values with small magnitudes and powers of two near the edges.
    switch (rng() % 4) {
    case 0: return static_cast<int32_t>(rng());
    case 1: return static_cast<int32_t>(rng() % 2001) - 1000;
    case 2: return static_cast<int32_t>(static_cast<uint32_t>(1u << (rng() % 32)) - (rng() % 3));
    default: return static_cast<int32_t>(rng()) >> (rng() % 31);
    }
}
constexpr int kTrials = 200000;
const int32_t kEdges[] = {0, 1, -1, 2, -2, INT32_MAX, INT32_MIN, INT32_MIN + 1, 0x40000000,
                          -0x40000000, 0x7FFF, 0x8000, -0x8000, 0xFFFF, 0x10000};

TEST(FixedPoint, MultiplicationsMatchWideReference) {
    for (int32_t a : kEdges)
        for (int32_t b : kEdges) {
            EXPECT_EQ(FxMul32x16(a, b), refMul32x16(a, b));
            EXPECT_EQ(FxMulQ31(a, b), refMulQ31(a, b));
            EXPECT_EQ(FxMulQ31Exact(a, b), refMulQ31Exact(a, b));
            EXPECT_EQ(FxMulQ24(a, b), refMulQ24(a, b));
        }
    for (int i = 0; i < kTrials; ++i) {
        const int32_t a = anyI32(), b = anyI32();
        ASSERT_EQ(FxMul32x16(a, b), refMul32x16(a, b)) << a << " " << b;
        ASSERT_EQ(FxMulU32x16(a, b), refMulU32x16(a, b)) << a << " " << b;
        ASSERT_EQ(FxMulQ31(a, b), refMulQ31(a, b));
        ASSERT_EQ(FxMulQ31Exact(a, b), refMulQ31Exact(a, b));
        ASSERT_EQ(FxMulQ24(a, b), refMulQ24(a, b));
        ASSERT_EQ(FxMulHighU(a, b), static_cast<uint32_t>((static_cast<u64>(static_cast<uint32_t>(a)) *
                                                           static_cast<uint32_t>(b)) >> 32));
    }
    EXPECT_EQ(FxMulQ31(INT32_MIN, INT32_MIN), INT32_MIN); // 1.0 wraps, as on the target
    EXPECT_EQ(FxMulQ31(0x40000000, 0x40000000) & 1, 0);
}

TEST(FixedPoint, SaturatingAdds) {
    EXPECT_EQ(FxAddSat(INT32_MAX, 1), INT32_MAX);
    EXPECT_EQ(FxAddSat(INT32_MIN, -1), INT32_MIN);
    EXPECT_EQ(FxSubSat(INT32_MIN, 1), INT32_MIN);
    EXPECT_EQ(FxSubSat(0, INT32_MIN), INT32_MAX);
    EXPECT_EQ(FxAddSatU(0xFFFFFFFFu, 1), 0xFFFFFFFFu);
    EXPECT_EQ(FxAddSatU(0x80000000u, 0x7FFFFFFFu), 0xFFFFFFFFu);
    for (int i = 0; i < kTrials; ++i) {
        const int32_t a = anyI32(), b = anyI32();
        ASSERT_EQ(FxAddSat(a, b), clampI32(static_cast<i64>(a) + b));
        ASSERT_EQ(FxSubSat(a, b), clampI32(static_cast<i64>(a) - b));
        const u64 s = static_cast<u64>(static_cast<uint32_t>(a)) + static_cast<uint32_t>(b);
        ASSERT_EQ(FxAddSatU(a, b), s > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(s));
    }
}

TEST(FixedPoint, LeadingZerosAndNorm) {
    EXPECT_EQ(FxNorm(0), 31);
    EXPECT_EQ(FxNorm(-1), 31);
    EXPECT_EQ(FxNorm(1), 30);
    EXPECT_EQ(FxClz(0), 32);
    EXPECT_EQ(FxNorm(INT32_MIN), 0);
    EXPECT_EQ(FxNorm(INT32_MAX), 0);
    for (int i = 0; i < kTrials; ++i) {
        const int32_t a = anyI32();
        ASSERT_EQ(FxClz(a), refClz(static_cast<uint32_t>(a)));
        ASSERT_EQ(FxNorm(a), refMagZeros(a) - 1);
    }
}

TEST(FixedPoint, Shifts) {
    EXPECT_EQ(FxShiftLeftSat(0x20000000, 2), 0x7FFFFFFF);
    EXPECT_EQ(FxShiftLeftSat(0x20000000, 1), 0x40000000);
    EXPECT_EQ(FxShiftLeftSatU(0x10000000u, 3), 0x80000000u);
    EXPECT_EQ(FxShiftLeftSatU(0x10000000u, 4), 0xFFFFFFFFu);
    EXPECT_EQ(FxShiftRightRound(5, 1), 3);
    EXPECT_EQ(FxShiftRightRound(-5, 1), -2);
    EXPECT_EQ(FxShiftRightRoundU(5u, 0), 5u);
    EXPECT_EQ(FxShiftLeftSat(-0x20000000, 2), INT32_MIN);
    EXPECT_EQ(FxShiftLeftSat(-5, -40), -1);
    EXPECT_EQ(FxShiftRightSat(5, 40), 0);
    // Zero shifted by any amount is zero, never a saturated value.
    for (int32_t n : {0, 1, 31, 32, 33, 100, INT32_MAX}) {
        EXPECT_EQ(FxShiftLeftSat(0, n), 0) << n;
        EXPECT_EQ(FxShiftLeftSatU(0u, n), 0u) << n;
        EXPECT_EQ(FxShiftRightSat(0, -n), 0) << n;
        EXPECT_EQ(FxShiftRightSatU(0u, -n), 0u) << n;
    }
    EXPECT_EQ(FxShiftRightRoundU(0xFFFFFFFFu, 32), 1u);
    EXPECT_EQ(FxShiftRightRoundU(0xFFFFFFFFu, 33), 0u);
    EXPECT_EQ(FxShiftRightRoundU(2u, -31), 0xFFFFFFFFu);
    EXPECT_EQ(FxShiftRightRoundU(1u, -31), 0x80000000u);
    const int32_t shifts[] = {INT32_MIN, -100, -33, -32, -31, -17, -1, 0, 1, 2, 15, 31, 32, 33, 100, INT32_MAX};
    for (int i = 0; i < kTrials / 4; ++i) {
        const int32_t a = anyI32();
        for (int32_t n : shifts) {
            const int32_t m = n == INT32_MIN ? INT32_MAX : -n;
            ASSERT_EQ(FxShiftLeftSat(a, n), refShiftLeftSat(a, n)) << a << " " << n;
            ASSERT_EQ(FxShiftRightSat(a, n), refShiftLeftSat(a, m)) << a << " " << n;
            ASSERT_EQ(FxShiftLeftSatU(a, n), refShiftLeftSatU(a, n)) << a << " " << n;
            ASSERT_EQ(FxShiftRightSatU(a, n), refShiftLeftSatU(a, m)) << a << " " << n;
            ASSERT_EQ(FxShiftRightRound(a, n), refShiftRightRound(a, n)) << a << " " << n;
            ASSERT_EQ(FxShiftRightRoundU(a, n), refShiftRightRoundU(a, n)) << a << " " << n;
        }
    }
}

TEST(FixedPoint, RestoringDivisions) {
    EXPECT_EQ(FxDiv16(1, 2), 32768);
    EXPECT_EQ(FxDiv15(1, 2), 16384);
    EXPECT_EQ(FxDiv15(0, 7), 0);
    EXPECT_EQ(FxDiv15(7, 7), 0x7FFF);
    EXPECT_EQ(FxDiv16(7, 7), 0xFFFF);
    EXPECT_EQ(FxDiv16(0x7FFFFFFF, 0xFFFFFFFFu), 32767);
    for (int i = 0; i < kTrials; ++i) {
        const uint32_t b = static_cast<uint32_t>(rng()) >> (rng() % 32);
        if (b < 2) continue;
        const int32_t a = static_cast<int32_t>(rng() % std::min<u64>(b, 0x7FFFFFFFull));
        if (a == 0) continue;
        ASSERT_EQ(FxDiv15(a, b), static_cast<int32_t>((static_cast<u64>(a) << 15) / b));
        ASSERT_EQ(FxDiv16(a, b), static_cast<int32_t>((static_cast<u64>(a) << 16) / b));
    }
}

// The Newton divisions follow a fixed recipe; the reference replays it with
// wide arithmetic, and the result must also be close to the true quotient.
TEST(FixedPoint, NewtonDivisions) {
    for (int i = 0; i < kTrials; ++i) {
        const int32_t b = static_cast<int32_t>(0x40000000u + (static_cast<uint32_t>(rng()) & 0x3FFFFFFF));
        const int32_t a = static_cast<int32_t>(static_cast<i64>(rng() % (2 * static_cast<u64>(b) - 1)) - (b - 1));
        const int32_t est = static_cast<int32_t>((static_cast<u64>(16383) << 15) / (b >> 16));
        const int32_t u = clampI32(static_cast<i64>(0x7FFFFFFF) - refMul32x16(b, est));
        const int32_t r = refMul32x16(u, est);
        const int32_t expect = lowWord(((static_cast<i64>(a) * r) >> 32) * 8);
        ASSERT_EQ(FxDivQ31(a, b), expect) << a << " / " << b;
        const double q = static_cast<double>(a) / b * 2147483648.0;
        ASSERT_NEAR(static_cast<double>(FxDivQ31(a, b)), q, 2147483648.0 / 8192.0) << a << " / " << b;

        const uint32_t bu = 0x80000000u | static_cast<uint32_t>(rng());
        const uint32_t au = static_cast<uint32_t>(rng() % bu);
        const uint32_t estU = static_cast<uint32_t>((static_cast<u64>(32767) << 16) / (bu >> 16));
        const uint32_t t = refMulU32x16(bu, estU);
        const uint32_t ru = refMulU32x16(~t, estU);
        const uint32_t expectU = static_cast<uint32_t>(((static_cast<u64>(au) * ru) >> 32) << 2);
        ASSERT_EQ(FxDivU32(au, bu), expectU);
        const double qu = static_cast<double>(au) / bu * 4294967296.0;
        ASSERT_NEAR(static_cast<double>(FxDivU32(au, bu)), qu, 4294967296.0 / 4096.0);
    }
}

TEST(FixedPoint, HalfwordDivideIsExactForEveryDivisor) {
    for (uint32_t d = 0x8000; d < 0x10000; ++d) {
        for (const uint32_t n : {0u, d - 1, d, 16383u << 16, 32767u << 16, 0x7FFFFFFFu,
                                 static_cast<uint32_t>(rng()) >> 1}) {
            ASSERT_EQ(fx_detail::divideByHalfword(n, d), n / d) << n << " / " << d;
        }
    }
}

// The Newton divisions' seeds depend on the divisor's top half only: every
// one of them, with a random low half and numerator, against the replay.
TEST(FixedPoint, NewtonDivisionsForEveryDivisorTop) {
    for (uint32_t top = 0x4000; top < 0x8000; ++top) {
        const int32_t b = static_cast<int32_t>((top << 16) | (static_cast<uint32_t>(rng()) & 0xFFFF));
        const int32_t est = static_cast<int32_t>((static_cast<u64>(16383) << 15) / top);
        const int32_t r = refMul32x16(clampI32(static_cast<i64>(0x7FFFFFFF) - refMul32x16(b, est)), est);
        for (const int32_t a : {b - 1, -(b - 1), static_cast<int32_t>(rng() % static_cast<u64>(b))}) {
            ASSERT_EQ(FxDivQ31(a, b), lowWord(((static_cast<i64>(a) * r) >> 32) * 8)) << a << " / " << b;
        }
    }
    for (uint32_t top = 0x8000; top < 0x10000; ++top) {
        const uint32_t b = (top << 16) | (static_cast<uint32_t>(rng()) & 0xFFFF);
        const uint32_t est = static_cast<uint32_t>((static_cast<u64>(32767) << 16) / top);
        const uint32_t r = refMulU32x16(~refMulU32x16(b, est), est);
        for (const uint32_t a : {b - 1, 0u, static_cast<uint32_t>(rng() % b)}) {
            ASSERT_EQ(FxDivU32(a, b), static_cast<uint32_t>(((static_cast<u64>(a) * r) >> 32) << 2)) << a << " / " << b;
        }
    }
}

TEST(FixedPoint, SquareRoot) {
    EXPECT_EQ(FxSqrtQ31(0x20000000), 0x40000000);
    EXPECT_EQ(FxSqrtQ31(0), 0);
    EXPECT_EQ(FxSqrtQ31(-5), 0);
    // Table: entry i = round(sqrt((i + 16) / 64) * 32768), the last held at 32767.
    for (int i = 0; i < 48; ++i)
        EXPECT_EQ(kSqrtTable[i], static_cast<int16_t>(std::lround(std::sqrt((i + 16) / 64.0) * 32768.0)));
    EXPECT_EQ(kSqrtTable[48], 32767);
    for (int i = 0; i < kTrials; ++i) {
        const int32_t a = static_cast<int32_t>(static_cast<uint32_t>(rng()) >> (1 + rng() % 31));
        if (a <= 0) continue;
        int s = (refClz(static_cast<uint32_t>(a)) - 1) & ~1;
        const int32_t n = a << s;
        const int idx = (n >> 25) - 16;
        const int32_t f = (n >> 10) & 0x7FFF;
        const i64 r = static_cast<i64>(kSqrtTable[idx]) * 65536 - 2 * static_cast<i64>(f) * (kSqrtTable[idx] - kSqrtTable[idx + 1]);
        ASSERT_EQ(FxSqrtQ31(a), static_cast<int32_t>(r >> (s / 2))) << a;
        const double exact = std::sqrt(static_cast<double>(a) * 2147483648.0);
        ASSERT_NEAR(FxSqrtQ31(a), exact, exact / 1000.0 + 4) << a;
    }
}

} // namespace
