// The decoder's integer arithmetic primitives. Each is a leaf with one exact
// definition; band tables, gains and PCM depend on their truncation and
// saturation, so none may be "improved" into a rounder variant.
#pragma once

#include <cstdint>

namespace fx_detail {
inline int32_t wrap(uint32_t v) { return static_cast<int32_t>(v); }
inline int32_t leadingZeros(uint32_t a) { return a == 0 ? 32 : __builtin_clz(a); }
// Leading zeros of a < 0 ? NOT a : a.
inline int32_t magnitudeZeros(int32_t a) {
    return leadingZeros(static_cast<uint32_t>(a < 0 ? ~a : a));
}
} // namespace fx_detail

// ((a * int16(b)) >> 16) << 1: a times a Q15 factor, bit 0 cleared.
inline int32_t FxMul32x16(int32_t a, int32_t b) {
    const int64_t p = static_cast<int64_t>(a) * static_cast<int16_t>(b);
    return fx_detail::wrap(static_cast<uint32_t>(p >> 16) << 1);
}

// (((a >> 1) * int16((b >> 1) & 0xFFFF)) >> 16) << 2, logical shifts on the inputs.
inline uint32_t FxMulU32x16(uint32_t a, uint32_t b) {
    const int64_t p = static_cast<int64_t>(a >> 1) * static_cast<int16_t>((b >> 1) & 0xFFFF);
    return static_cast<uint32_t>(p >> 16) << 2;
}

// High word of a * b, << 1 (bit 0 cleared).
inline int32_t FxMulQ31(int32_t a, int32_t b) {
    const int64_t p = static_cast<int64_t>(a) * b;
    return fx_detail::wrap(static_cast<uint32_t>(p >> 32) << 1);
}

// High word of a * b (no doubling). Taken with a logical shift, which gives
// the same word and vectorises without an emulated 64-bit arithmetic shift.
inline int32_t FxMulHigh(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint64_t>(static_cast<int64_t>(a) * b) >> 32);
}

// Bits 31..62 of the 64-bit product.
inline int32_t FxMulQ31Exact(int32_t a, int32_t b) {
    const int64_t p = static_cast<int64_t>(a) * b;
    return fx_detail::wrap(static_cast<uint32_t>(p >> 31));
}

// Bits 24..55 of the 64-bit product.
inline int32_t FxMulQ24(int32_t a, int32_t b) {
    const int64_t p = static_cast<int64_t>(a) * b;
    return fx_detail::wrap(static_cast<uint32_t>(p >> 24));
}

// High word of the unsigned product.
inline uint32_t FxMulHighU(uint32_t a, uint32_t b) {
    return static_cast<uint32_t>((static_cast<uint64_t>(a) * b) >> 32);
}

// a + b saturated to -2^31 .. 2^31-1.
inline int32_t FxAddSat(int32_t a, int32_t b) {
    const int64_t s = static_cast<int64_t>(a) + b;
    return s > INT32_MAX ? INT32_MAX : s < INT32_MIN ? INT32_MIN : static_cast<int32_t>(s);
}

// a - b saturated to -2^31 .. 2^31-1.
inline int32_t FxSubSat(int32_t a, int32_t b) {
    const int64_t s = static_cast<int64_t>(a) - b;
    return s > INT32_MAX ? INT32_MAX : s < INT32_MIN ? INT32_MIN : static_cast<int32_t>(s);
}

// a + b, 0xFFFFFFFF on carry.
inline uint32_t FxAddSatU(uint32_t a, uint32_t b) {
    const uint32_t s = a + b;
    return s < a ? 0xFFFFFFFFu : s;
}

// Leading zero bits; 32 for 0.
inline int32_t FxClz(int32_t a) { return fx_detail::leadingZeros(static_cast<uint32_t>(a)); }

// Redundant sign bits: leading zeros of (a < 0 ? NOT a : a) minus 1; 31 for 0 and -1.
inline int32_t FxNorm(int32_t a) { return fx_detail::magnitudeZeros(a) - 1; }

// n < 0: arithmetic right shift by -n (sign fill from 32 on). n >= 0: a << n,
// or 0x7FFFFFFF / 0x80000000 (by sign) once n reaches the magnitude's leading zeros;
// zero stays zero.
inline int32_t FxShiftLeftSat(int32_t a, int32_t n) {
    if (n < 0) {
        const int64_t m = -static_cast<int64_t>(n);
        return m >= 32 ? (a < 0 ? -1 : 0) : a >> m;
    }
    if (a == 0) return 0;
    if (n >= fx_detail::magnitudeZeros(a)) return a < 0 ? INT32_MIN : INT32_MAX;
    return fx_detail::wrap(static_cast<uint32_t>(a) << n);
}

// Mirror of FxShiftLeftSat: n >= 0 arithmetic right shift, n < 0 saturating left shift.
inline int32_t FxShiftRightSat(int32_t a, int32_t n) {
    if (n >= 0) return n >= 32 ? (a < 0 ? -1 : 0) : a >> n;
    const int64_t m = -static_cast<int64_t>(n);
    return FxShiftLeftSat(a, m > INT32_MAX ? INT32_MAX : static_cast<int32_t>(m));
}

// n < 0: logical right shift by -n (0 from 32 on). n >= 0: 0xFFFFFFFF when
// n exceeds the leading zeros of a, else a << n; zero stays zero.
inline uint32_t FxShiftLeftSatU(uint32_t a, int32_t n) {
    if (n < 0) {
        const int64_t m = -static_cast<int64_t>(n);
        return m >= 32 ? 0u : a >> m;
    }
    if (a == 0) return 0u;
    if (n > fx_detail::leadingZeros(a)) return 0xFFFFFFFFu;
    return n >= 32 ? 0u : a << n;
}

// Mirror of FxShiftLeftSatU.
inline uint32_t FxShiftRightSatU(uint32_t a, int32_t n) {
    if (n >= 0) return n >= 32 ? 0u : a >> n;
    const int64_t m = -static_cast<int64_t>(n);
    return FxShiftLeftSatU(a, m > INT32_MAX ? INT32_MAX : static_cast<int32_t>(m));
}

// n <= 0: a << -n (wrapping, no saturation). n > 0: (a >> n) + bit n-1 of a
// (the sign-extended value, so large shifts round toward the sign fill).
inline int32_t FxShiftRightRound(int32_t a, int32_t n) {
    if (n <= 0) {
        const int64_t m = -static_cast<int64_t>(n);
        return m >= 32 ? 0 : fx_detail::wrap(static_cast<uint32_t>(a) << m);
    }
    const int32_t s = n > 63 ? 63 : n;
    const int64_t wide = a;
    return static_cast<int32_t>((wide >> s) + ((wide >> (s - 1)) & 1));
}

// n < 0: a << -n, or 0xFFFFFFFF when a > (0xFFFFFFFF >> -n). n = 0: a.
// n > 0: (a >> n) + bit n-1 of a (0 from n = 33 on).
inline uint32_t FxShiftRightRoundU(uint32_t a, int32_t n) {
    if (n < 0) {
        const int64_t m = -static_cast<int64_t>(n);
        const uint32_t limit = m >= 32 ? 0u : 0xFFFFFFFFu >> m;
        if (a > limit) return 0xFFFFFFFFu;
        return m >= 32 ? 0u : a << m;
    }
    if (n == 0) return a;
    if (n >= 33) return 0;
    const uint64_t wide = a;
    return static_cast<uint32_t>((wide >> n) + ((wide >> (n - 1)) & 1));
}

namespace fx_detail {
// `bits` quotient bits of (a << bits) / b by restoring division, a < b.
inline uint32_t restoringDivide(uint32_t a, uint32_t b, int bits) {
    uint64_t rem = a;
    uint32_t q = 0;
    for (int i = 0; i < bits; ++i) {
        rem <<= 1;
        q <<= 1;
        if (rem >= b) {
            rem -= b;
            q |= 1;
        }
    }
    return q;
}

// Reciprocals of the 128 intervals of 256 divisors in 2^15 .. 2^16 - 1:
// floor(2^40 / upper end), below 2^40 / d for every divisor of the interval.
struct HalfwordReciprocals {
    uint32_t v[128];
};
constexpr HalfwordReciprocals makeHalfwordReciprocals() {
    HalfwordReciprocals t{};
    for (uint32_t i = 0; i < 128; ++i) t.v[i] = static_cast<uint32_t>((uint64_t{1} << 40) / ((i + 129) * 256));
    return t;
}
inline constexpr HalfwordReciprocals kHalfwordReciprocals = makeHalfwordReciprocals();

// floor(n / d) for n < 2^31 and d in 2^15 .. 2^16 - 1, without a divide:
// each step adds an underestimate of remainder / d that misses by under
// 1/128 of it plus one, so three steps leave a quotient at most 1 short.
inline uint32_t divideByHalfword(uint32_t n, uint32_t d) {
    const uint64_t r = kHalfwordReciprocals.v[(d >> 8) - 128];
    uint32_t q = static_cast<uint32_t>((n * r) >> 40);
    uint32_t rem = n - q * d;
    q += static_cast<uint32_t>((rem * r) >> 40);
    rem = n - q * d;
    q += static_cast<uint32_t>((rem * r) >> 40);
    rem = n - q * d;
    return rem >= d ? q + 1 : q;
}
} // namespace fx_detail

// 0 <= a <= b: 0 for a = 0, 0x7FFF for a = b, else floor(a * 32768 / b).
inline int32_t FxDiv15(int32_t a, uint32_t b) {
    if (a <= 0) return 0;
    if (static_cast<uint32_t>(a) >= b) return 0x7FFF;
    return static_cast<int32_t>(fx_detail::restoringDivide(static_cast<uint32_t>(a), b, 15));
}

// 0 <= a <= b: 0 for a = 0, 0xFFFF for a = b, else floor(a * 65536 / b).
inline int32_t FxDiv16(int32_t a, uint32_t b) {
    if (a <= 0) return 0;
    if (static_cast<uint32_t>(a) >= b) return 0xFFFF;
    return static_cast<int32_t>(fx_detail::restoringDivide(static_cast<uint32_t>(a), b, 16));
}

// a / b in Q31 for b in 2^30 .. 2^31-1 and |a| < b: a 15-bit estimate of
// 1/b refined by one Newton step.
inline int32_t FxDivQ31(int32_t a, int32_t b) {
    const uint32_t top = static_cast<uint32_t>(b >> 16);
    // The 15-bit seed floor(16383 * 2^15 / top), by the halfword divide in range.
    const int32_t est = top >= 0x4000u && top < 0x8000u
                            ? static_cast<int32_t>(fx_detail::divideByHalfword(16383u << 16, 2 * top))
                            : FxDiv15(16383, top);
    const int32_t t = fx_detail::wrap(0u - static_cast<uint32_t>(FxMul32x16(b, est)));
    const int32_t u = FxAddSat(0x7FFFFFFF, t);
    const int32_t r = FxMul32x16(u, est);
    const int64_t p = static_cast<int64_t>(a) * r;
    return fx_detail::wrap(static_cast<uint32_t>(p >> 32) << 3);
}

// a / b in unsigned Q32 for b in 2^31 .. 2^32-1 and a < b, by one Newton step.
inline uint32_t FxDivU32(uint32_t a, uint32_t b) {
    const uint32_t top = b >> 16;
    const uint32_t est = top >= 0x8000u ? fx_detail::divideByHalfword(32767u << 16, top)
                                        : static_cast<uint32_t>(FxDiv16(32767, top));
    const uint32_t t = FxMulU32x16(b, est);
    const uint32_t r = FxMulU32x16(~t, est);
    return FxMulHighU(a, r) << 2;
}

// sqrt(i + 16) / 8 in Q15 for i = 0..48, the last entry held at 32767.
inline constexpr int16_t kSqrtTable[49] = {
    16384, 16888, 17378, 17854, 18318, 18770, 19212, 19644, 20066, 20480, 20886, 21283, 21674,
    22058, 22435, 22806, 23170, 23530, 23884, 24232, 24576, 24915, 25249, 25580, 25905, 26227,
    26545, 26859, 27170, 27477, 27780, 28081, 28378, 28672, 28963, 29251, 29537, 29819, 30099,
    30377, 30652, 30924, 31194, 31462, 31727, 31991, 32252, 32511, 32767};

// Square root of a Q31 value, in Q31, by interpolation in kSqrtTable; 0 for a <= 0.
inline int32_t FxSqrtQ31(int32_t a, const int16_t* table = kSqrtTable) {
    if (a <= 0) return 0;
    const int32_t s = (fx_detail::leadingZeros(static_cast<uint32_t>(a)) - 1) & ~1;
    const int32_t n = a << s;
    const int32_t i = (n >> 25) - 16;
    const int32_t f = (n >> 10) & 0x7FFF;
    const int32_t r = table[i] * 65536 - 2 * f * (table[i] - table[i + 1]);
    return r >> (s / 2);
}

// Hot integer kernels get an AVX2 clone on x86-64, chosen at load time; the
// arithmetic is the same integer arithmetic, only wider.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define FX_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
inline constexpr bool kFxVectorUnits = true;
#else
#define FX_VECTOR_CLONES
// Where kernels have a choice, scalar cores take the variant with fewer
// instructions per line over the one that vectorises.
inline constexpr bool kFxVectorUnits = false;
#endif

// Whether the target has vector units worth writing loops for: there a
// strided output goes through a contiguous block (which vectorises) and a
// copy; a scalar core stores with the stride directly.
#if defined(__x86_64__)
inline constexpr bool kFxVectorTarget = true;
#else
inline constexpr bool kFxVectorTarget = false;
#endif
