// SBR envelope adjustment, low-power variant. Per envelope: gains that bring
// the generated high band to the transmitted energies, limited and boosted per
// limiter band and evened out where the real-valued bank aliases; then the
// noise floor and the sinusoids, whose missing imaginary part is stood in for
// by leakage into the neighbouring bands. No smoothing over time.
#include <array>
#include <cstddef>
#include <new>
#include <utility>

#include "fixedpoint.h"
#include "sbr/sbr_internal.h"
#include "sbr/sbr_tables.h"

namespace {

// The gain arithmetic works on mantissa/exponent pairs, value = m x 2^x, with
// m normalised (top bit set) or 0. Every energy and amplitude held this way is
// in the standard's unit, so that its constants (1 for eps, 1e-12, the limiter
// and boost limits) apply as they stand.
struct Pf {
    uint32_t m;
    int32_t x;
};

constexpr Pf kPfZero{0, 0};
constexpr Pf kPfOne{0x80000000u, -31};
constexpr Pf kPfTiny{2361183841u, -71};       // 1e-12: stands in for an empty sum
constexpr Pf kPfBoostLimit{2697117517u, -30}; // 1.584893 squared
// Energy-domain limits for bs_limiter_gains 0..2 (-3, 0, +3 dB), unsigned Q31.
constexpr uint32_t kLimiterGain[3] = {1076304206u, 0x80000000u, 4284808002u};

// The low-power estimate is the sum of squares over the envelope's 2 delta
// slots divided by delta (twice the mean square). Matrix samples carry
// 2^kSbrQmfScaleLog2 and delta enters as a Q16 reciprocal, so a sum of
// squares times that reciprocal is the standard's estimate times
// 2^(16 + 2 kSbrQmfScaleLog2). Stored envelope values are a quarter of the
// standard's energy. With these offsets E_curr == E_orig gives unity gain.
constexpr int32_t kEnvelopeExp = 2;
constexpr int32_t kEstimateExp = -16 - 2 * kSbrQmfScaleLog2;

constexpr int32_t kNoiseExp = -25; // noise floors are Q25
constexpr int32_t kMaxBorder = (kSbrQmfColumns - kSbrAdjustOffset) / 2;
constexpr int32_t kMaxLeakBands = 16; // leakage stops after this many sinusoid bands

// Q16 reciprocals of 1..64, to the nearest (built at compile time).
struct RecipTable {
    uint32_t v[kSbrQmfBands + 1];
};
constexpr RecipTable makeRecipTable() {
    RecipTable t{};
    for (uint32_t i = 1; i <= kSbrQmfBands; ++i) t.v[i] = (65536u + i / 2) / i;
    return t;
}
constexpr RecipTable kRecipQ16 = makeRecipTable();

inline Pf pfMake(uint32_t v, int32_t x) {
    if (v == 0) return kPfZero;
    const int32_t z = FxClz(static_cast<int32_t>(v));
    return {v << z, x - z};
}

inline Pf pfMake64(uint64_t v, int32_t x) {
    const uint32_t hi = static_cast<uint32_t>(v >> 32);
    if (hi == 0) return pfMake(static_cast<uint32_t>(v), x);
    const int32_t z = FxClz(static_cast<int32_t>(hi));
    return {static_cast<uint32_t>(v >> (32 - z)), x + 32 - z};
}

// A zero factor gives mantissa 0 with some exponent: every reader of an
// exponent tests the mantissa first.
inline Pf pfMul(Pf a, Pf b) {
    const uint32_t p = FxMulHighU(a.m, b.m);
    const int32_t low = static_cast<int32_t>(~p >> 31); // normalised products need at most one shift
    return {p << low, a.x + b.x + 32 - low};
}

// a / b. FxDivU32 wants a numerator below the divisor, hence the halving.
// Every caller guards b; a zero b gives 0 rather than a fault.
inline Pf pfDiv(Pf a, Pf b) {
    if (a.m == 0 || b.m == 0) return kPfZero;
    return pfMake(FxDivU32(a.m >> 1, b.m), a.x - b.x - 31);
}

inline Pf pfRecip(Pf b) { return pfDiv(kPfOne, b); }

inline Pf pfAdd(Pf a, Pf b) {
    if (b.m == 0) return a;
    if (a.m == 0) return b;
    if (a.x < b.x) {
        const Pf t = a;
        a = b;
        b = t;
    }
    const int32_t d = a.x - b.x;
    const uint32_t s = a.m + (d >= 32 ? 0u : b.m >> d);
    if (s < a.m) return {(s >> 1) | 0x80000000u, a.x + 1};
    return {s, a.x};
}

inline bool pfGreater(Pf a, Pf b) {
    if (a.m == 0) return false;
    if (b.m == 0) return true;
    return a.x != b.x ? a.x > b.x : a.m > b.m;
}

// The mantissa enters FxSqrtQ31 as a Q31 value with an even exponent beside it.
inline Pf pfSqrt(Pf a) {
    if (a.m == 0) return kPfZero;
    int32_t v = static_cast<int32_t>(a.m >> 1);
    int32_t x = a.x + 32;
    if (x & 1) {
        v >>= 1;
        ++x;
    }
    return pfMake(static_cast<uint32_t>(FxSqrtQ31(v)), x / 2 - 31);
}

// An amplitude in matrix units, rounded and saturated to the int32 range.
inline int32_t pfToSample(Pf a) {
    if (a.m == 0) return 0;
    const uint32_t v = FxShiftRightRoundU(a.m, -(a.x + kSbrQmfScaleLog2));
    return v > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(v);
}

// Leakage factor of a receiving band, Q15: +0.00815 for even, -0.00815 for odd bands.
inline int32_t leakFactor(int32_t band) { return (band & 1) ? -268 : 267; }
inline int32_t leakage(int32_t difference, int32_t factor) {
    return static_cast<int32_t>((static_cast<int64_t>(difference) * factor + 16384) >> 15);
}

// The per-band arrays of one envelope, index m for QMF band k_x + m.
struct AdjustBands {
    uint32_t eOrig[kSbrMaxBands]; // stored envelope energies (a quarter of the standard's)
    uint32_t qOrig[kSbrMaxBands]; // noise floors, Q25
    Pf eCurr[kSbrMaxBands];       // estimates
    uint32_t peak[kSbrMaxBands];  // OR of the band's sample magnitudes
    Pf gain[kSbrMaxBands];        // energies until the square roots
    Pf noise[kSbrMaxBands];
    Pf sine[kSbrMaxBands];
    int32_t gainMant[kSbrMaxBands]; // amplitude gain: mantissa and the shift of its product
    int32_t gainShift[kSbrMaxBands];
    int32_t noiseAmp[kSbrMaxBands]; // matrix units; 0 where no noise is added
    int32_t sineAmp[kSbrMaxBands];
    uint8_t sIndexMapped[kSbrMaxBands];
    uint8_t sMapped[kSbrMaxBands];
};
static_assert(sizeof(AdjustBands) <= sizeof(SbrScratch::adjust), "adjuster scratch too small");
static_assert(alignof(AdjustBands) <= alignof(int32_t), "adjuster scratch misaligned");

// What one envelope needs besides the band arrays.
struct Envelope {
    const uint8_t* table; // band table of the envelope's resolution (absolute bands)
    int32_t numBands;
    int32_t firstColumn;
    int32_t slots;
    int32_t delta;
    bool transient;
};

// Relative QMF range [lo, hi) of band k of a table, clipped to 0..M.
inline void bandRange(const uint8_t* table, int32_t k, int32_t kx, int32_t M, int32_t& lo,
                      int32_t& hi) {
    lo = table[k] - kx;
    hi = table[k + 1] - kx;
    lo = lo < 0 ? 0 : lo > M ? M : lo;
    hi = hi < lo ? lo : hi > M ? M : hi;
}

void mapEnergies(const SbrChannelState* s, const SbrFrameData* f, int32_t l, const Envelope& env,
                 int32_t kx, int32_t M, AdjustBands* b) {
    for (int32_t m = 0; m < M; ++m) b->eOrig[m] = 0;
    for (int32_t k = 0; k < env.numBands; ++k) {
        int32_t lo, hi;
        bandRange(env.table, k, kx, M, lo, hi);
        for (int32_t m = lo; m < hi; ++m) b->eOrig[m] = static_cast<uint32_t>(f->envelope[l][k]);
    }
    // The noise floor whose time span holds the envelope.
    const int32_t floors = f->numNoiseFloors > 2 ? 2 : f->numNoiseFloors;
    int32_t n = 0;
    for (int32_t i = 0; i < floors; ++i) {
        if (f->noiseBorders[i] <= f->envBorders[l] && f->envBorders[l + 1] <= f->noiseBorders[i + 1]) {
            n = i;
            break;
        }
    }
    const int32_t lastNoise = s->numNoise < 1 ? 0 : s->numNoise > kSbrMaxNoiseBands ? kSbrMaxNoiseBands - 1
                                                                                    : s->numNoise - 1;
    for (int32_t m = 0; m < M; ++m) {
        const int32_t nb = s->noiseBandOfBand[m] > lastNoise ? lastNoise : s->noiseBandOfBand[m];
        b->qOrig[m] = static_cast<uint32_t>(f->noise[n][nb]);
    }
}

void mapSinusoids(const SbrChannelState* s, const SbrFrameData* f, int32_t l, const Envelope& env,
                  int32_t kx, int32_t M, AdjustBands* b) {
    for (int32_t m = 0; m < M; ++m) b->sIndexMapped[m] = b->sMapped[m] = 0;
    if (!f->bs_add_harmonic_flag) return;
    const uint8_t* high = s->highTable;
    for (int32_t i = 0; i < s->numHigh; ++i) {
        if (!f->bs_add_harmonic[i]) continue;
        // Before the transient only sinusoids that were already on continue.
        if (!(l >= f->transientEnvelope || (s->prevAddHarmonicFlag && s->prevAddHarmonic[i]))) continue;
        const int32_t m = ((high[i] + high[i + 1]) >> 1) - kx;
        if (m >= 0 && m < M) b->sIndexMapped[m] = 1;
    }
    for (int32_t k = 0; k < env.numBands; ++k) {
        int32_t lo, hi;
        bandRange(env.table, k, kx, M, lo, hi);
        uint8_t any = 0;
        for (int32_t m = lo; m < hi; ++m) any |= b->sIndexMapped[m];
        for (int32_t m = lo; m < hi; ++m) b->sMapped[m] = any;
    }
}

// Sum of squares of x[0 .. n-1], exact, and the OR of their magnitudes
// (x ^ (x >> 31), the magnitude or one less) in *bits.
FX_VECTOR_CLONES uint64_t sumOfSquares(const int32_t* __restrict x, int32_t n, uint32_t* __restrict bits) {
    uint32_t any = 0;
    uint64_t sum = 0;
    for (int32_t j = 0; j < n; ++j) {
        any |= static_cast<uint32_t>(x[j] ^ (x[j] >> 31));
        sum += static_cast<uint64_t>(static_cast<int64_t>(x[j]) * x[j]);
    }
    *bits = any;
    return sum;
}

// Estimated energies of the envelope; returns the normalisation exponent e
// of its samples.
int32_t estimateEnergies(const SbrChannelState* s, const Envelope& env, const int32_t* rowKx,
                         int32_t kx, int32_t M, AdjustBands* b) {
    const uint32_t recip = kRecipQ16.v[env.delta];
    uint32_t bits = 0;
    for (int32_t m = 0; m < M; ++m) {
        const int32_t* x = rowKx + m * kSbrQmfColumns + env.firstColumn;
        // The whole sum of squares, exact: beside a full-scale band a weak one
        // must not lose its estimate. 38 squares fit unless samples reach
        // 2^29; such a band is summed again shifted down.
        uint32_t bandBits;
        uint64_t sum = sumOfSquares(x, env.slots, &bandBits);
        int32_t down = 0;
        if (bandBits >> 29) {
            down = 3;
            sum = 0;
            for (int32_t j = 0; j < env.slots; ++j) {
                const int64_t v = x[j] >> down;
                sum += static_cast<uint64_t>(v * v);
            }
        }
        bits |= bandBits;
        b->peak[m] = bandBits;
        b->eCurr[m] = pfMul(pfMake64(sum, kEstimateExp + 2 * down), pfMake(recip, 0));
    }
    if (!s->bs_interpol_freq) {
        for (int32_t k = 0; k < env.numBands; ++k) {
            int32_t lo, hi;
            bandRange(env.table, k, kx, M, lo, hi);
            if (hi <= lo) continue;
            Pf total = kPfZero;
            for (int32_t m = lo; m < hi; ++m) total = pfAdd(total, b->eCurr[m]);
            const Pf mean = pfMul(total, pfMake(kRecipQ16.v[hi - lo], -16));
            for (int32_t m = lo; m < hi; ++m) b->eCurr[m] = mean;
        }
    }
    // Samples enter the gain product with 3 leading zeros.
    const int32_t z = FxClz(static_cast<int32_t>(bits));
    return z > 3 ? z - 3 : 0;
}

void calculateGains(const Envelope& env, int32_t M, AdjustBands* b) {
    // 1 / (1 + Q) and Q / (1 + Q) once per noise floor value: bands share them.
    uint32_t lastQ = 0;
    Pf inv = kPfOne, ratio = kPfZero;
    for (int32_t m = 0; m < M; ++m) {
        if (m == 0 || b->qOrig[m] != lastQ) {
            lastQ = b->qOrig[m];
            inv = pfRecip(pfMake(FxAddSatU(lastQ, 1u << -kNoiseExp), kNoiseExp));
            ratio = pfMul(pfMake(lastQ, kNoiseExp), inv);
        }
        const Pf energy = pfMake(b->eOrig[m], kEnvelopeExp);
        const Pf invD = pfRecip(pfAdd(b->eCurr[m], kPfOne)); // eps = 1
        b->sine[m] = b->sIndexMapped[m] ? pfMul(energy, inv) : kPfZero;
        b->noise[m] = pfMul(energy, ratio);
        const Pf target = b->sMapped[m] ? pfMul(energy, ratio) : env.transient ? energy : pfMul(energy, inv);
        b->gain[m] = pfMul(target, invD);
    }
}

void limitAndBoost(const SbrChannelState* s, const Envelope& env, int32_t M, AdjustBands* b) {
    const int32_t setting = s->bs_limiter_gains & 3;
    const int32_t numLimiter = s->numLimiter > kSbrMaxLimiter ? kSbrMaxLimiter : s->numLimiter;
    for (int32_t i = 0; i < numLimiter; ++i) {
        const int32_t lo = s->limiterTable[i];
        const int32_t hi = s->limiterTable[i + 1] > M ? M : s->limiterTable[i + 1];
        if (hi <= lo) continue;
        // Stored energies may be saturated: shift them down until their sum fits
        // (48 bands always fit after 6 bits).
        uint32_t sum = 0;
        int32_t pre = 0;
        for (; pre < 31; ++pre) {
            bool saturated = false;
            sum = 0;
            for (int32_t m = lo; m < hi; ++m) {
                const uint32_t v = b->eOrig[m] >> pre;
                saturated |= sum + v < sum;
                sum = FxAddSatU(sum, v);
            }
            if (!saturated) break;
        }
        const Pf sumOrig = pfMake(sum, kEnvelopeExp + pre);
        Pf sumCurr = kPfZero;
        for (int32_t m = lo; m < hi; ++m) sumCurr = pfAdd(sumCurr, b->eCurr[m]);

        if (setting < 3) {
            const Pf ratio = pfDiv(sumOrig, sumCurr.m ? sumCurr : kPfTiny);
            const Pf gmax = pfMul(ratio, pfMake(kLimiterGain[setting], -31));
            for (int32_t m = lo; m < hi; ++m) {
                if (!pfGreater(b->gain[m], gmax)) continue;
                b->noise[m] = pfMul(b->noise[m], pfDiv(gmax, b->gain[m]));
                b->gain[m] = gmax;
            }
        }

        Pf den = kPfZero;
        for (int32_t m = lo; m < hi; ++m) {
            den = pfAdd(den, pfMul(b->gain[m], b->eCurr[m]));
            if (b->sine[m].m)
                den = pfAdd(den, b->sine[m]);
            else if (!env.transient)
                den = pfAdd(den, b->noise[m]);
        }
        Pf boost = pfDiv(sumOrig, den.m ? den : kPfTiny);
        if (pfGreater(boost, kPfBoostLimit)) boost = kPfBoostLimit;
        for (int32_t m = lo; m < hi; ++m) {
            b->gain[m] = pfMul(b->gain[m], boost);
            b->noise[m] = pfMul(b->noise[m], boost);
            b->sine[m] = pfMul(b->sine[m], boost);
        }
    }
}

// Pulls the energy gains of bands [lo, hi) towards their common level by each
// band's degree of aliasing, keeping the group's total output energy.
void balanceGroup(const uint32_t* degree, int32_t lo, int32_t hi, int32_t M, AdjustBands* b) {
    Pf total = kPfZero, estimate = kPfZero;
    for (int32_t m = lo; m < hi; ++m) {
        total = pfAdd(total, pfMul(b->eCurr[m], b->gain[m]));
        estimate = pfAdd(estimate, b->eCurr[m]);
    }
    if (estimate.m == 0) return;
    const Pf target = pfDiv(total, estimate);
    Pf sum = kPfZero;
    for (int32_t m = lo; m < hi; ++m) {
        uint32_t a = degree[m];
        if (m + 1 < M && degree[m + 1] > a) a = degree[m + 1];
        if (a > 0x80000000u) a = 0x80000000u;
        b->gain[m] = pfAdd(pfMul(b->gain[m], pfMake(0x80000000u - a, -31)), pfMul(target, pfMake(a, -31)));
        sum = pfAdd(sum, pfMul(b->eCurr[m], b->gain[m]));
    }
    if (sum.m == 0) return;
    const Pf scale = pfDiv(total, sum);
    for (int32_t m = lo; m < hi; ++m) b->gain[m] = pfMul(b->gain[m], scale);
}

// degree[m] is the degree of aliasing of band k_x + m.
void reduceAliasing(const uint32_t* degree, int32_t M, AdjustBands* b) {
    int32_t start = -1;
    for (int32_t m = 0; m + 1 < M; ++m) {
        if (degree[m + 1] != 0 && !b->sMapped[m]) {
            if (start < 0) start = m;
            continue;
        }
        if (start >= 0) {
            balanceGroup(degree, start, b->sMapped[m] ? m : m + 1, M, b);
            start = -1;
        }
    }
    if (start >= 0) balanceGroup(degree, start, M, M, b);
}

// Energies to amplitudes in the forms the sample loop uses.
void toAmplitudes(const Envelope& env, int32_t M, int32_t e, AdjustBands* b) {
    for (int32_t m = 0; m < M; ++m) {
        const Pf g = pfSqrt(b->gain[m]);
        if (g.m == 0) {
            b->gainMant[m] = 0;
            b->gainShift[m] = 0;
        } else {
            // Y = high word of (x << e) times m/2, shifted by x + 33 - e.
            int32_t shift = g.x + 33 - e;
            shift = shift > 31 ? 31 : shift < -63 ? -63 : shift;
            b->gainMant[m] = static_cast<int32_t>(g.m >> 1);
            b->gainShift[m] = shift;
        }
        b->sineAmp[m] = pfToSample(pfSqrt(b->sine[m]));
        b->noiseAmp[m] = (b->sine[m].m || env.transient) ? 0 : pfToSample(pfSqrt(b->noise[m]));
    }
}

// The high word of (x << e) times the gain mantissa, shifted by `shift`:
// FxShiftLeftSat to the left; to the right, FxShiftRightRound written for a
// value below 2^30 in magnitude, given the shift less one (at most 30: from
// 31 bits on both give 0).
template <bool kLeft>
inline int32_t scaleSample(int32_t x, int32_t e, int32_t gain, int32_t shift) {
    const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(x) << e);
    const int32_t p = static_cast<int32_t>((static_cast<int64_t>(v) * gain) >> 32);
    return kLeft ? FxShiftLeftSat(p, shift) : ((p >> shift) + 1) >> 1;
}

inline int32_t noiseTerm(int32_t amplitude, int32_t index) {
    return static_cast<int32_t>((static_cast<int64_t>(amplitude) * kSbrNoiseTableReal[index] + 16384) >> 15);
}

// What the sample loop of one band needs.
struct BandRun {
    int32_t* x;
    int32_t slots;
    int32_t e;
    int32_t gain;
    int32_t shift;
    int32_t noiseAmp;
    int32_t noiseIndex;
    int32_t noiseStep;
    int32_t sine;
    int32_t leak;
};

template <bool kSat>
inline int32_t addTerm(int32_t a, int32_t b) {
    return kSat ? FxAddSat(a, b) : a + b;
}
template <bool kSat>
inline int32_t subTerm(int32_t a, int32_t b) {
    return kSat ? FxSubSat(a, b) : a - b;
}

// One band's slots: gain, noise, and on even slots the sinusoid, on odd slots
// the leakage from the neighbours; both change sign every second slot. The
// variants leave out absent terms, and the saturating additions where the
// band's peak shows that no sum can leave the int32 range.
#if !defined(__ARM_FEATURE_DSP)
// The gain alone over a band's slots, as a loop that vectorises.
template <bool kLeft>
FX_VECTOR_CLONES void scaleRow(int32_t* __restrict x, int32_t slots, int32_t e, int32_t gain, int32_t shift) {
    for (int32_t j = 0; j < slots; ++j) x[j] = scaleSample<kLeft>(x[j], e, gain, shift);
}
#endif

template <bool kLeft, bool kNoise, bool kSine, bool kSat>
void composeBand(const BandRun& r) {
    // Locals: the stores through x could otherwise alias every field of r.
    int32_t* const x = r.x;
    const int32_t slots = r.slots, e = r.e, gain = r.gain, noiseAmp = r.noiseAmp, step = r.noiseStep;
    const int32_t shift = kLeft ? r.shift : (-r.shift > 31 ? 31 : -r.shift) - 1;
    int32_t noiseIndex = r.noiseIndex;
    int32_t sine = r.sine, leak = r.leak;
#if !defined(__ARM_FEATURE_DSP)
    if constexpr (!kSine) {
        // Without a sinusoid: the gain as a vector pass, then the noise.
        scaleRow<kLeft>(x, slots, e, gain, shift);
        if (kNoise) {
            for (int32_t j = 0; j < slots; ++j) {
                x[j] = addTerm<kSat>(x[j], noiseTerm(noiseAmp, noiseIndex));
                noiseIndex = (noiseIndex + step) & 511;
            }
        }
        return;
    }
#endif
    for (int32_t j = 0; j < slots; j += 2) {
        int32_t y0 = scaleSample<kLeft>(x[j], e, gain, shift);
        int32_t y1 = scaleSample<kLeft>(x[j + 1], e, gain, shift);
        if (kNoise) {
            y0 = addTerm<kSat>(y0, noiseTerm(noiseAmp, noiseIndex));
            noiseIndex = (noiseIndex + step) & 511;
            y1 = addTerm<kSat>(y1, noiseTerm(noiseAmp, noiseIndex));
            noiseIndex = (noiseIndex + step) & 511;
        }
        if (kSine) {
            y0 = addTerm<kSat>(y0, sine);
            y1 = subTerm<kSat>(y1, leak);
            sine = -sine;
            leak = -leak;
        }
        x[j] = y0;
        x[j + 1] = y1;
    }
}

using ComposeFn = void (*)(const BandRun&);
template <std::size_t... I>
constexpr auto composeTable(std::index_sequence<I...>) {
    return std::array<ComposeFn, sizeof...(I)>{
        composeBand<(I & 8) != 0, (I & 4) != 0, (I & 2) != 0, (I & 1) != 0>...};
}
constexpr auto kComposeFns = composeTable(std::make_index_sequence<16>());

// Whether a band's sums can leave the int32 range, from its peak sample
// (peak << e stays within 32 bits, so the products fit 64).
bool mayOverflow(const BandRun& r, uint32_t peak) {
    const uint64_t scaled = (static_cast<uint64_t>(peak) + 1) << r.e;
    uint64_t bound = ((scaled * static_cast<uint32_t>(r.gain)) >> 32) + 1;
    if (r.shift >= 0)
        bound <<= r.shift > 31 ? 31 : r.shift;
    else
        bound = (bound >> (-r.shift > 63 ? 63 : -r.shift)) + 1;
    const uint64_t sine = static_cast<uint32_t>(r.sine < 0 ? -r.sine : r.sine);
    const uint64_t leak = static_cast<uint32_t>(r.leak < 0 ? -r.leak : r.leak);
    return bound + static_cast<uint32_t>(r.noiseAmp) + (sine > leak ? sine : leak) >= 0x80000000u;
}

void composeBand(const BandRun& r, uint32_t peak) {
    const std::size_t index = (r.shift >= 0 ? 8 : 0) | (r.noiseAmp != 0 ? 4 : 0) |
                              (r.sine != 0 || r.leak != 0 ? 2 : 0) | (mayOverflow(r, peak) ? 1 : 0);
    kComposeFns[index](r);
}

void composeOutput(SbrChannelState* s, const Envelope& env, int32_t* rowKx, int32_t kx, int32_t M,
                   int32_t e, const AdjustBands* b) {
    const int32_t phase = s->sinePhase < 0 ? -1 : 1;
    const int32_t innerFactor = leakFactor(kx + 1);
    int32_t sinusoids = 0; // bands so far that carried a sinusoid
    for (int32_t m = 0; m < M; ++m) {
        int32_t leak = 0;
        if (sinusoids < kMaxLeakBands) {
            const int32_t below = m > 0 ? b->sineAmp[m - 1] : 0;
            const int32_t above = m + 1 < M ? b->sineAmp[m + 1] : 0;
            // Inner bands keep the magnitude of band k_x + 1 and alternate its sign.
            const int32_t factor = (m == 0 || m == M - 1) ? leakFactor(kx + m)
                                   : ((m - 1) & 1)        ? -innerFactor
                                                          : innerFactor;
            leak = phase * leakage(FxSubSat(below, above), factor);
        }
        BandRun run;
        run.x = rowKx + m * kSbrQmfColumns + env.firstColumn;
        run.slots = env.slots;
        run.e = e;
        run.gain = b->gainMant[m];
        run.shift = b->gainShift[m];
        run.noiseAmp = b->noiseAmp[m];
        run.noiseIndex = (s->noiseIndex + 1 + m) & 511;
        run.noiseStep = M;
        run.sine = phase * b->sineAmp[m];
        run.leak = leak;
        composeBand(run, b->peak[m]);
        if (b->sine[m].m) ++sinusoids;
    }

    // The lowest band's sinusoid leaks into band k_x - 1 through the spare row,
    // which is added to that band after the adjustment.
    int32_t* spare = rowKx + (kSbrSpareRow - kx) * kSbrQmfColumns + env.firstColumn;
    int32_t leak = phase * leakage(-b->sineAmp[0], leakFactor(kx - 1));
    for (int32_t j = 0; j < env.slots; j += 2) {
        spare[j] = 0;
        spare[j + 1] = -leak;
        leak = -leak;
    }
    // The highest band's leaks straight into band k2 while it is a real band.
    if (kx + M < kSbrQmfBands && sinusoids < kMaxLeakBands) {
        int32_t* top = rowKx + M * kSbrQmfColumns + env.firstColumn;
        leak = phase * leakage(b->sineAmp[M - 1], leakFactor(kx + M));
        for (int32_t j = 1; j < env.slots; j += 2) {
            top[j] = FxSubSat(top[j], leak);
            leak = -leak;
        }
    }
}

} // namespace

void SbrHfAdjust(SbrChannelState* s, const SbrFrameData* f, int32_t* rowKx, SbrScratch* scratch) {
    const int32_t kx = sbrKx(s);
    const int32_t numHigh = s->numHigh > kSbrMaxBands ? kSbrMaxBands : s->numHigh;
    const int32_t M = s->highTable[numHigh] - kx;
    const bool bandsValid = kx >= 1 && M >= 1 && M <= kSbrMaxBands && kx + M <= kSbrQmfBands &&
                            s->numLow <= kSbrMaxLow;
    AdjustBands* b = new (static_cast<void*>(scratch->adjust)) AdjustBands;
    const int32_t numEnvelopes = f->numEnvelopes > kSbrMaxEnvelopes ? kSbrMaxEnvelopes : f->numEnvelopes;

    for (int32_t l = 0; l < numEnvelopes && bandsValid; ++l) {
        const int32_t start = f->envBorders[l];
        const int32_t end = f->envBorders[l + 1];
        if (end <= start || end > kMaxBorder) continue; // a broken grid leaves the envelope alone
        Envelope env;
        env.table = f->freqRes[l] ? s->highTable : s->lowTable;
        env.numBands = f->freqRes[l] ? numHigh : s->numLow;
        env.firstColumn = kSbrAdjustOffset + 2 * start;
        env.delta = end - start;
        env.slots = 2 * env.delta;
        env.transient = l == f->transientEnvelope || l == s->prevTransientEnvelope;

        mapEnergies(s, f, l, env, kx, M, b);
        mapSinusoids(s, f, l, env, kx, M, b);
        const int32_t e = estimateEnergies(s, env, rowKx, kx, M, b);
        calculateGains(env, M, b);
        limitAndBoost(s, env, M, b);
        reduceAliasing(scratch->degree + kx, M, b);
        toAmplitudes(env, M, e, b);
        composeOutput(s, env, rowKx, kx, M, e, b);

        s->noiseIndex = static_cast<uint16_t>((s->noiseIndex + M * env.slots) & 511);
        if (env.delta & 1) s->sinePhase = static_cast<int8_t>(s->sinePhase < 0 ? 1 : -1);
    }

    s->prevAddHarmonicFlag = f->bs_add_harmonic_flag;
    if (f->bs_add_harmonic_flag)
        for (int32_t i = 0; i < numHigh; ++i) s->prevAddHarmonic[i] = f->bs_add_harmonic[i];
    s->prevTransientEnvelope = static_cast<int8_t>(f->transientEnvelope == f->numEnvelopes ? 0 : -1);
}
