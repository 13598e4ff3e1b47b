// SBR high-frequency generation: a second-order predictor per low band, the
// chirp factor per noise band, the degree of aliasing of each band, and the
// patches that copy low bands upwards through the weakened predictor.
#include <cstdint>

#include "fixedpoint.h"
#include "sbr/sbr_internal.h"

namespace {

constexpr int32_t kSourceBands = 32; // the analysis fills rows 0..31 only
constexpr uint32_t kDegreeOne = 0x80000000u;
constexpr int32_t kAlphaLimit = 0x3FFFFFFF; // just below 4.0 in Q28
constexpr int32_t kReflectionOne = 0x40000000; // 1.0 in Q30

// Bits 32..63 of the signed product.
inline int32_t mulHigh(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 32);
}

inline int32_t leadingZeros64(uint64_t v) {
    const uint32_t hi = static_cast<uint32_t>(v >> 32);
    if (hi != 0) return FxClz(static_cast<int32_t>(hi));
    return 32 + FxClz(static_cast<int32_t>(static_cast<uint32_t>(v)));
}

// num / den * 2^q, truncated toward zero and saturated to +-0x7FFFFFFF; 0 for
// a zero denominator. Both operands are brought to 31-bit mantissas so that
// one Newton division serves every magnitude; the exponents meet in the final
// shift.
int32_t quotient(int64_t num, int32_t den, int32_t q) {
    if (num == 0 || den == 0) return 0;
    const bool negative = (num < 0) != (den < 0);
    const uint64_t nm = num < 0 ? 0 - static_cast<uint64_t>(num) : static_cast<uint64_t>(num);
    const uint32_t dm = den < 0 ? 0u - static_cast<uint32_t>(den) : static_cast<uint32_t>(den);

    // 31-bit mantissas, value = mantissa * 2^-shift, with a < d for the division.
    int32_t sa = leadingZeros64(nm) - 33;
    uint32_t a = sa >= 0 ? static_cast<uint32_t>(nm << sa) : static_cast<uint32_t>(nm >> -sa);
    const int32_t sd = FxClz(static_cast<int32_t>(dm)) - 1;
    const uint32_t d = sd >= 0 ? dm << sd : dm >> 1;
    if (a >= d) {
        a >>= 1;
        --sa;
    }
    const int32_t ratio = FxDivQ31(static_cast<int32_t>(a), static_cast<int32_t>(d)); // a / d in Q31
    int32_t r = FxShiftLeftSat(ratio, sd - sa + q - 31);
    if (r == INT32_MIN) r = INT32_MAX; // cannot arise from a non-negative ratio; keeps -r defined
    return negative ? -r : r;
}

// Covariance of one source row from the upper halves of its samples, then
// the predictor and the reflection coefficient.
void predictBand(const int32_t* x, int32_t* alpha0, int32_t* alpha1, int32_t* reflection) {
    // Wrapping 32-bit sums, as a 16 x 16 multiply-accumulate would leave them.
    uint32_t energy = 0; // x(n)^2, n = 1..38
    uint32_t lag1 = 0;   // x(n) x(n-1), n = 1..38
    uint32_t lag2 = 0;   // x(n+1) x(n-1), n = 1..38
    int32_t prev = x[0] >> 16;
    int32_t cur = x[1] >> 16;
    for (int32_t n = 1; n <= 37; n += 2) {
        const int32_t next = x[n + 1] >> 16;
        const int32_t after = x[n + 2] >> 16;
        energy += static_cast<uint32_t>(cur * cur);
        lag1 += static_cast<uint32_t>(cur * prev);
        lag2 += static_cast<uint32_t>(next * prev);
        energy += static_cast<uint32_t>(next * next);
        lag1 += static_cast<uint32_t>(next * cur);
        lag2 += static_cast<uint32_t>(after * cur);
        prev = next;
        cur = after;
    }
    const int32_t h0 = x[0] >> 16, h1 = x[1] >> 16, h38 = x[38] >> 16, h39 = x[39] >> 16;
    // The other windows differ from these sums only at their ends.
    const uint32_t e22 = energy - static_cast<uint32_t>(h38 * h38) + static_cast<uint32_t>(h0 * h0);
    const uint32_t e01 = lag1 - static_cast<uint32_t>(h1 * h0) + static_cast<uint32_t>(h39 * h38);

    int32_t phi11 = static_cast<int32_t>(energy);
    int32_t phi22 = static_cast<int32_t>(e22);
    int32_t phi12 = static_cast<int32_t>(lag1);
    int32_t phi01 = static_cast<int32_t>(e01);
    int32_t phi02 = static_cast<int32_t>(lag2);

    // One common shift leaves the energies below 2^28 with three bits of
    // headroom for the cross terms; a cross term from the window's end can
    // still exceed that, hence the saturating shift.
    const int32_t zeros = FxClz(static_cast<int32_t>((energy | e22) << 1));
    const int32_t shift = zeros > 3 ? zeros - 3 : 0;
    phi11 = FxShiftLeftSat(phi11, shift);
    phi22 = FxShiftLeftSat(phi22, shift);
    phi12 = FxShiftLeftSat(phi12, shift);
    phi01 = FxShiftLeftSat(phi01, shift);
    phi02 = FxShiftLeftSat(phi02, shift);

    const int32_t det = FxSubSat(mulHigh(phi22, phi11), mulHigh(phi12, phi12));
    int32_t a1 = 0;
    if (det != 0) {
        a1 = quotient(FxSubSat(mulHigh(phi01, phi12), mulHigh(phi02, phi11)), det, 28);
    }
    int32_t a0 = 0;
    int32_t r = 0;
    if (phi11 != 0) {
        if (a1 >= -kAlphaLimit && a1 <= kAlphaLimit) {
            const int64_t num = (static_cast<int64_t>(phi01) << 28) + static_cast<int64_t>(a1) * phi12;
            a0 = -quotient(num, phi11, 0);
        }
        r = -quotient(phi01, phi11, 30);
        if (r > kReflectionOne) r = kReflectionOne;
        if (r < -kReflectionOne) r = -kReflectionOne;
    }
    if (a0 < -kAlphaLimit || a0 > kAlphaLimit || a1 < -kAlphaLimit || a1 > kAlphaLimit) {
        a0 = 0;
        a1 = 0;
    }
    *alpha0 = a0;
    *alpha1 = a1;
    *reflection = r;
}

int32_t chirpTarget(int32_t mode, int32_t prevMode) {
    switch (mode) {
    case 0: return prevMode == 1 ? 19660 : 0;
    case 1: return prevMode != 0 ? 0x6000 : 19660;
    case 2: return 29491;
    default: return 32112;
    }
}

// 1 - r^2 in unsigned Q31 for r in Q30.
inline uint32_t oneMinusSquare(int32_t r) {
    return kDegreeOne - 4u * static_cast<uint32_t>(FxMulQ31(r, r));
}

inline bool sameSign(int32_t a, int32_t b) { return a != 0 && (a > 0) == (b > 0); }
inline bool oppositeSign(int32_t a, int32_t b) { return a != 0 && (a > 0) != (b > 0); }

// Degrees of the source bands: a band whose reflection has the alias-prone
// sign for its parity aliases as far as its neighbours' signs agree.
void aliasingDegrees(const int32_t* r, uint32_t* degree, int32_t k0) {
    degree[0] = 0;
    if (k0 > 1) degree[1] = 0;
    for (int32_t p = 2; p < k0; ++p) {
        degree[p] = 0;
        const int32_t rp = r[p];
        if ((p & 1) ? rp <= 0 : rp >= 0) continue;
        if (sameSign(r[p - 1], rp)) {
            degree[p] = kDegreeOne;
            if (oppositeSign(r[p - 2], rp)) degree[p - 1] = oneMinusSquare(r[p - 1]);
        } else if (oppositeSign(r[p - 2], rp)) {
            degree[p] = oneMinusSquare(r[p - 1]);
        }
    }
}

#if defined(__ARM_FEATURE_DSP)
// x + 16 h saturated to the int32 range; 32-bit arithmetic unless 16 h
// itself does not fit.
inline int32_t addSixteenTimes(int32_t x, int32_t h) {
    int32_t r;
    if (static_cast<uint32_t>(h) + (1u << 27) < (1u << 28) && !__builtin_add_overflow(x, h * 16, &r)) {
        return r;
    }
    const int64_t v = static_cast<int64_t>(x) + static_cast<int64_t>(h) * 16;
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}
#endif

#if !defined(__ARM_FEATURE_DSP)
// dst(n) = x(n) + 16 (high word of x(n-2) m1 + high word of x(n-1) m0),
// saturated in 64 bits without branches: a loop that vectorises.
FX_VECTOR_CLONES void predictRow(int32_t* __restrict dst, const int32_t* __restrict x, int32_t begin,
                                 int32_t end, int32_t m0, int32_t m1) {
    for (int32_t n = begin; n < end; ++n) {
        const int32_t h = mulHigh(x[n - 2], m1) + mulHigh(x[n - 1], m0);
        const int64_t v = static_cast<int64_t>(x[n]) + static_cast<int64_t>(h) * 16;
        dst[n] = static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
    }
}
#endif

// x(n) + 8 (a1 x(n-2) + a0 x(n-1)) over columns begin .. end - 1 (an even
// count), with a0, a1 Q12 multipliers. FxMul32x16(x, a) is the high word of
// x * (a << 16), doubled: one long multiply without the shifts a 48-bit
// product would need. The sum saturates, since a strong predictor can lift a
// loud band by up to nine times.
void patchRow(int32_t* dst, const int32_t* x, int32_t begin, int32_t end, int32_t a0, int32_t a1) {
    if (a0 == 0 && a1 == 0) {
        for (int32_t n = begin; n < end; ++n) dst[n] = x[n];
        return;
    }
    const int32_t m0 = static_cast<int32_t>(static_cast<uint32_t>(a0) << 16);
    const int32_t m1 = static_cast<int32_t>(static_cast<uint32_t>(a1) << 16);
#if !defined(__ARM_FEATURE_DSP)
    predictRow(dst, x, begin, end, m0, m1);
#else
    int32_t x2 = x[begin - 2];
    int32_t x1 = x[begin - 1];
    for (int32_t n = begin; n < end; n += 2) {
        const int32_t x0 = x[n];
        const int32_t xn = x[n + 1];
        // Each high word is below 2^29 in magnitude (|a| < 2^14), so the sums fit.
        const int32_t h0 = mulHigh(x2, m1) + mulHigh(x1, m0);
        const int32_t h1 = mulHigh(x1, m1) + mulHigh(x0, m0);
        dst[n] = addSixteenTimes(x0, h0);
        dst[n + 1] = addSixteenTimes(xn, h1);
        x2 = x0;
        x1 = xn;
    }
#endif
}

} // namespace

void SbrHfGenerate(SbrChannelState* s, const SbrFrameData* f, int32_t* matrix, int32_t* rowKx,
                   SbrScratch* scratch) {
    if (!s || !f || !matrix || !rowKx || !scratch || !s->highTable || !s->prevChirp ||
        !s->prevInvfMode) {
        return;
    }
    int32_t k0 = s->masterTable[0];
    if (k0 > kSourceBands) k0 = kSourceBands;

    scratch->alpha0[0] = 0;
    scratch->alpha1[0] = 0;
    scratch->reflection[0] = 0;
    for (int32_t p = 1; p < k0; ++p) {
        predictBand(sbrRow(matrix, p), &scratch->alpha0[p], &scratch->alpha1[p],
                    &scratch->reflection[p]);
    }
    for (int32_t p = k0 > 1 ? k0 : 1; p < kSourceBands; ++p) {
        scratch->alpha0[p] = 0;
        scratch->alpha1[p] = 0;
        scratch->reflection[p] = 0;
    }

    // Chirp factors; noise bands beyond numNoise keep 0 so that a stray
    // band-to-noise-band entry cannot pick up a stale factor.
    int32_t numNoise = s->numNoise;
    if (numNoise > kSbrMaxNoiseBands) numNoise = kSbrMaxNoiseBands;
    int32_t bwSquared[kSbrMaxNoiseBands] = {};
    for (int32_t i = 0; i < kSbrMaxNoiseBands; ++i) scratch->chirp[i] = 0;
    for (int32_t i = 0; i < numNoise; ++i) {
        const int32_t mode = f->bs_invf_mode[i] & 3;
        const int32_t target = chirpTarget(mode, s->prevInvfMode[i]);
        const int32_t prev = s->prevChirp[i];
        int32_t bw = target < prev ? (target * 0x6000 + prev * 8192) >> 15
                                   : (target * 0x7400 + prev * 3072) >> 15;
        if (bw < 512) bw = 0;
        scratch->chirp[i] = static_cast<int16_t>(bw);
        bwSquared[i] = (bw * bw) >> 15;
        s->prevChirp[i] = static_cast<int16_t>(bw);
        s->prevInvfMode[i] = static_cast<uint8_t>(mode);
    }

    uint32_t* degree = scratch->degree;
    aliasingDegrees(scratch->reflection, degree, k0);
    for (int32_t b = k0 > 1 ? k0 : 1; b < kSbrQmfBands; ++b) degree[b] = 0;

    // Column range of the envelopes; x(n-2) needs begin >= 2.
    int32_t numEnv = f->numEnvelopes;
    if (numEnv > kSbrMaxEnvelopes) numEnv = kSbrMaxEnvelopes;
    const int32_t begin = kSbrAdjustOffset + 2 * f->envBorders[0];
    int32_t end = kSbrAdjustOffset + 2 * f->envBorders[numEnv];
    if (end > kSbrQmfColumns) end = kSbrQmfColumns;
    if (begin >= end) return;

    const int32_t kx = sbrKx(s);
    int32_t k2 = sbrK2(s);
    if (k2 > kSbrQmfBands) k2 = kSbrQmfBands;
    if (k2 > kx + kSbrMaxBands) k2 = kx + kSbrMaxBands;
    int32_t numPatches = s->numPatches;
    if (numPatches > kSbrMaxPatches) numPatches = kSbrMaxPatches;

    int32_t t = kx;
    for (int32_t i = 0; i < numPatches && t < k2; ++i) {
        const int32_t start = s->patchStart[i];
        for (int32_t j = 0; j < s->patchCount[i] && t < k2; ++j, ++t) {
            const int32_t p = start + j;
            if (p < 1 || p >= k0) continue; // no such source: the band stays cleared
            const int32_t nb = s->noiseBandOfBand[t - kx];
            int32_t a0 = 0;
            int32_t a1 = 0;
            if (nb < kSbrMaxNoiseBands) {
                a0 = FxMul32x16(scratch->alpha0[p], scratch->chirp[nb]) >> 16;
                a1 = FxMul32x16(scratch->alpha1[p], bwSquared[nb]) >> 16;
            }
            patchRow(rowKx + (t - kx) * kSbrQmfColumns, sbrRow(matrix, p), begin, end, a0, a1);
            degree[t] = j == 0 ? 0 : degree[p];
        }
    }
}
