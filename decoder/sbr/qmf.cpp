// SBR QMF banks: the 32-band real analysis and the 64- and 32-band real
// synthesis.
//
// Analysis folds the windowed 320-sample history of a slot into 32 values y
// and takes X(k) = 2 sum y(n) cos(pi (2k+1) n / 64), a 32-point DCT-III.
// Synthesis takes the DCT-II of the slot's N bands; the symmetries of the
// modulated vector let the ring keep just those N values per slot, and the
// window reads each ring value once for an output pair (q, N - q).
//
// The transforms split in half recursively: a DCT-II or DCT-III of N points
// is a butterfly stage around one of N/2 points and a DCT-IV of N/2 points;
// a DCT-IV of M points is a rotation into an M/2-point complex FFT and a
// rotation out. Every butterfly stage and the rotation in halve, so a
// transform of N points has the exact gain 1/N and no intermediate value
// exceeds the largest input: any int32 input is safe.
//
// The window kernels come in two forms with the same integer results: with
// the DSP multiply-accumulates of the target, one output pair at a time in
// registers; elsewhere as loops over the pairs that a compiler vectorises.
#include <cstdint>
#include <utility>

#include "fixedpoint.h"
#include "sbr/qmf_window.h"
#include "sbr/sbr_internal.h"

#if defined(__ARM_FEATURE_DSP)
#include <arm_acle.h>
#define SBR_QMF_DSP_KERNELS 1
#else
#define SBR_QMF_DSP_KERNELS 0
#endif

namespace {

constexpr int32_t kRingSlots = 10;

// High word of the product: a * b / 2 for a Q31 factor b.
inline int32_t mulHigh(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 32);
}

inline int32_t wrapNeg(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }
inline int32_t wrapDouble(int32_t a) { return static_cast<int32_t>(static_cast<uint32_t>(a) << 1); }

// acc + (a * b[15:0]) >> 16: one DSP instruction on the target.
inline int32_t macLow(int32_t acc, int32_t a, uint32_t b) {
#if SBR_QMF_DSP_KERNELS
    return __smlawb(a, static_cast<int32_t>(b), acc);
#else
    return acc + static_cast<int32_t>((static_cast<int64_t>(a) * static_cast<int16_t>(b)) >> 16);
#endif
}

#if SBR_QMF_DSP_KERNELS
// acc + (a * b[31:16]) >> 16.
inline int32_t macHigh(int32_t acc, int32_t a, uint32_t b) { return __smlawt(a, static_cast<int32_t>(b), acc); }
#endif

// (a * b) >> 16 for a 16-bit b, exact, in 32-bit products: a's high half
// times b, plus the low half's product shifted. Vectorises where the 64-bit
// product does not.
inline int32_t mulShift16(int32_t a, int32_t b) {
    return (a >> 16) * b + (((a & 0xFFFF) * b) >> 16);
}

// cos, sin and -sin of pi k / 128 in Q31, 0 <= k <= 64.
inline int32_t cosPi128(int k) { return kSbrQmfCos[k]; }
inline int32_t sinPi128(int k) { return kSbrQmfCos[64 - k]; }
inline int32_t negSinPi128(int k) { return kSbrQmfCos[64 + k]; }

// (a + ib) e^(-i pi k / 128), halved by the high-word products. Each part
// is a sum of two products (multiply and multiply-accumulate).
inline void rotateHalf(int32_t a, int32_t b, int k, int32_t& re, int32_t& im) {
    const int64_t c = cosPi128(k), s = sinPi128(k), ns = negSinPi128(k);
    re = static_cast<int32_t>((a * c + b * s) >> 32);
    im = static_cast<int32_t>((b * c + a * ns) >> 32);
}

constexpr int bitReverse(int v, int bits) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((v >> b) & 1) << (bits - 1 - b);
    return r;
}
constexpr int log2Of(int n) { return n <= 1 ? 0 : 1 + log2Of(n / 2); }

// a, b <- a/2 + w b/2, a/2 - w b/2 for complex a, b and w = e^(-i pi k / 128),
// 0 <= k < 128.
inline void butterfly(int32_t& ar, int32_t& ai, int32_t& br, int32_t& bi, int k) {
    int32_t tr, ti;
    if (k == 0) {
        tr = br >> 1;
        ti = bi >> 1;
    } else if (k == 64) { // -i
        tr = bi >> 1;
        ti = wrapNeg(br >> 1);
    } else if (k < 64) {
        rotateHalf(br, bi, k, tr, ti);
    } else { // -i times the rotation by the angle less a quarter turn
        int32_t r, i;
        rotateHalf(br, bi, k - 64, r, i);
        tr = i;
        ti = wrapNeg(r);
    }
    const int32_t xr = ar >> 1, xi = ai >> 1;
    ar = xr + tr;
    ai = xi + ti;
    br = xr - tr;
    bi = xi - ti;
}

// Two radix-2 stages of span h on the four-point groups from g on.
inline void fftQuads(int32_t* __restrict re, int32_t* __restrict im, int g, int h) {
#pragma GCC unroll 32
    for (int j = 0; j < h; ++j) {
        const int i0 = g + j, i1 = i0 + h, i2 = i1 + h, i3 = i2 + h;
        int32_t r0 = re[i0], r1 = re[i1], r2 = re[i2], r3 = re[i3];
        int32_t m0 = im[i0], m1 = im[i1], m2 = im[i2], m3 = im[i3];
        butterfly(r0, m0, r1, m1, 128 * j / h);
        butterfly(r2, m2, r3, m3, 128 * j / h);
        butterfly(r0, m0, r2, m2, 64 * j / h);
        butterfly(r1, m1, r3, m3, 64 * (j + h) / h);
        re[i0] = r0, re[i1] = r1, re[i2] = r2, re[i3] = r3;
        im[i0] = m0, im[i1] = m1, im[i2] = m2, im[i3] = m3;
    }
}

// In-place K-point complex FFT, input in bit-reversed order, decimation in
// time with each radix-2 stage halved (the result is the DFT / K). Stages
// run in pairs, four points at a time, to halve the passes over memory.
// The groups of a stage pair are unrolled only on the DSP target: elsewhere
// the loop over them spills less and runs fewer instructions.
template <int K>
inline void fftHalving(int32_t* __restrict re, int32_t* __restrict im) {
    constexpr int kStages = log2Of(K);
    if constexpr (kStages % 2 == 1) {
#pragma GCC unroll 32
        for (int g = 0; g < K; g += 2) butterfly(re[g], im[g], re[g + 1], im[g + 1], 0);
    }
#pragma GCC unroll 4
    for (int stage = kStages % 2; stage < kStages; stage += 2) {
        const int h = 1 << stage;
        if constexpr (SBR_QMF_DSP_KERNELS) {
#pragma GCC unroll 32
            for (int g = 0; g < K; g += 4 * h) fftQuads(re, im, g, h);
        } else {
#pragma GCC unroll 1
            for (int g = 0; g < K; g += 4 * h) fftQuads(re, im, g, h);
        }
    }
}

// a << S, saturated to the int32 range.
template <int S>
inline int32_t shiftLeftSat(int32_t a) {
    if constexpr (S == 0) {
        return a;
    } else {
        const int32_t sign = a >> 31;
        if ((a >> (31 - S)) != sign) return sign ^ INT32_MAX;
        return static_cast<int32_t>(static_cast<uint32_t>(a) << S);
    }
}

// a << S, saturated unless the caller knows it fits (Sat false).
template <int S, bool Sat>
inline int32_t shiftOut(int32_t a) {
    if constexpr (Sat) return shiftLeftSat<S>(a);
    else return static_cast<int32_t>(static_cast<uint32_t>(a) << S);
}

// The transforms read in[n * is] and write output k at out[k * os]; S > 0
// makes every final store a left shift by S (the synthesis ring's scale),
// saturating when Sat, and a ring order P stores output k at
// out[P::at(k * os)].
struct Linear {
    static constexpr int at(int i) { return i; }
};

// A synthesis slot in the ring: W(0), W(H-1) .. W(1) reversed, then W(H) ..
// W(N-1), so that the window's two reads for output pair q, W(H - q) and
// W(H + q), both walk forwards.
template <int N>
struct RingOrder {
    static constexpr int at(int k) { return k == 0 || k >= N / 2 ? k : N / 2 - k; }
};

// out(j) = sum in(k) cos(pi (2k+1)(2j+1) / (4M)) / M, output j at
// out[P::at(o + j * os)].
template <int M, int S, class P = Linear, bool Sat = true>
inline void dct4(const int32_t* __restrict in, int is, int32_t* __restrict out, int o, int os) {
    constexpr int K = M / 2;
    int32_t re[K], im[K];
#pragma GCC unroll 32
    for (int n = 0; n < K; ++n) {
        const int r = bitReverse(n, log2Of(K));
        rotateHalf(in[2 * n * is], in[(M - 1 - 2 * n) * is], 32 * (4 * n + 1) / M, re[r], im[r]);
    }
    fftHalving<K>(re, im);
    out[P::at(o)] = shiftOut<S, Sat>(re[0]);
    out[P::at(o + (M - 1) * os)] = shiftOut<S, Sat>(wrapNeg(im[0]));
#pragma GCC unroll 32
    for (int m = 1; m < K; ++m) {
        int32_t ur, ui;
        rotateHalf(re[m], im[m], 128 * m / M, ur, ui);
        // The rotation halved: double back, with the saturation when shifting.
        int32_t& even = out[P::at(o + 2 * m * os)];
        int32_t& odd = out[P::at(o + (M - 1 - 2 * m) * os)];
        if constexpr (S == 0) {
            even = wrapDouble(ur);
            odd = wrapNeg(wrapDouble(ui));
        } else {
            even = shiftOut<S + 1, Sat>(ur);
            odd = shiftOut<S + 1, Sat>(wrapNeg(ui));
        }
    }
}

// out(k * os) = sum in(n * is) cos(pi (2k+1) n / (2N)) / N (weight 1 on in(0)).
template <int N>
inline void dct3(const int32_t* __restrict in, int is, int32_t* __restrict out, int os) {
    if constexpr (N == 2) {
        const int32_t a = in[0] >> 1, b = mulHigh(in[is], cosPi128(32));
        out[0] = a + b;
        out[os] = a - b;
    } else {
        constexpr int H = N / 2;
        // The odd half's transform lands reversed, so that each output pair
        // (k, N-1-k) is a butterfly in place.
        dct3<H>(in, 2 * is, out, os);
        dct4<H, 0>(in + is, 2 * is, out, (N - 1) * os, -os);
#pragma GCC unroll 32
        for (int k = 0; k < H; ++k) {
            const int32_t a = out[k * os] >> 1, b = out[(N - 1 - k) * os] >> 1;
            out[k * os] = a + b;
            out[(N - 1 - k) * os] = a - b;
        }
    }
}

// out[P::at(o + j * os)] = sum in(k * is) cos(pi (2k+1) j / (2N)) / N.
template <int N, int S, class P, bool Sat = true>
inline void dct2(const int32_t* __restrict in, int is, int32_t* __restrict out, int o, int os) {
    if constexpr (N == 2) {
        const int32_t c = cosPi128(32);
        out[P::at(o)] = shiftOut<S, Sat>((in[0] >> 1) + (in[is] >> 1));
        out[P::at(o + os)] = shiftOut<S, Sat>(mulHigh(in[0], c) - mulHigh(in[is], c));
    } else {
        constexpr int H = N / 2;
        int32_t sum[H], diff[H];
#pragma GCC unroll 32
        for (int k = 0; k < H; ++k) {
            const int32_t a = in[k * is] >> 1, b = in[(N - 1 - k) * is] >> 1;
            sum[k] = a + b;
            diff[k] = a - b;
        }
        dct2<H, S, P, Sat>(sum, 1, out, o, 2 * os);
        dct4<H, S, P, Sat>(diff, 1, out, o + os, 2 * os);
    }
}

// Each output of the N-point synthesis transform is the mean of its inputs
// under cosine weights, plus a few units of rounding. While the sum of the
// input magnitudes, each shifted down by log2(N), stays below half the range
// that the scaling shift leaves, no store can saturate.
template <int N>
constexpr uint32_t kUnsaturatedBound = uint32_t{1} << (30 - (log2Of(N) + 1));

// The two half transforms of the first stage's sums and differences (input
// stride IS), each variant compiled as one straight block.
template <int N, bool Sat, int IS>
__attribute__((flatten, noinline)) void synthesisHalves(const int32_t* __restrict sum,
                                                        const int32_t* __restrict diff,
                                                        int32_t* __restrict out) {
    constexpr int H = N / 2, S = log2Of(N) + 1;
    dct2<H, S, RingOrder<N>, Sat>(sum, IS, out, 0, 2);
    dct4<H, S, RingOrder<N>, Sat>(diff, IS, out, 1, 2);
}

template <int N, int IS>
inline void synthesisHalves(const int32_t* sum, const int32_t* diff, uint32_t magnitude, int32_t* out) {
    if (magnitude < kUnsaturatedBound<N>)
        synthesisHalves<N, false, IS>(sum, diff, out);
    else
        synthesisHalves<N, true, IS>(sum, diff, out);
}

#if SBR_QMF_DSP_KERNELS

// The synthesis transform of one slot, dct2<N> scaled into the ring: the
// first stage also bounds its inputs, choosing stores with or without
// saturation for the rest.
template <int N>
inline void synthesisTransform(const int32_t* __restrict in, int is, int32_t* __restrict out) {
    constexpr int H = N / 2;
    int32_t sum[H], diff[H];
    // a ^ (a >> 31) is |a| or |a| - 1 and the shift truncates: the sum falls
    // short of the true one by under N units, far inside the margin.
    uint32_t magnitude = 0;
#pragma GCC unroll 32
    for (int k = 0; k < H; ++k) {
        const int32_t a = in[k * is], b = in[(N - 1 - k) * is];
        magnitude += (static_cast<uint32_t>(a ^ (a >> 31)) >> log2Of(N)) +
                     (static_cast<uint32_t>(b ^ (b >> 31)) >> log2Of(N));
        sum[k] = (a >> 1) + (b >> 1);
        diff[k] = (a >> 1) - (b >> 1);
    }
    synthesisHalves<N, 1>(sum, diff, magnitude, out);
}
#else
constexpr int kStageSlots = 8;

// The same first stage for kStageSlots neighbouring slots, which lie side by
// side in each band's row: lanes are slots. Outputs are band-major (stride
// kStageSlots). Bands from `bands` up are known zero and not read.
template <int N>
FX_VECTOR_CLONES void firstStages(const int32_t* __restrict in, int32_t bands, int32_t* __restrict sum,
                                  int32_t* __restrict diff, uint32_t* __restrict magnitude) {
    constexpr int H = N / 2, G = kStageSlots;
    uint32_t mag[G] = {};
    const int32_t alone = bands >= N ? 0 : N - bands > H ? H : N - bands; // pairs whose upper band is zero
    for (int k = 0; k < alone; ++k) {
        const int32_t* a = in + k * kSbrQmfColumns;
        for (int i = 0; i < G; ++i) {
            mag[i] += static_cast<uint32_t>(a[i] ^ (a[i] >> 31)) >> log2Of(N);
            sum[k * G + i] = a[i] >> 1;
            diff[k * G + i] = a[i] >> 1;
        }
    }
    for (int k = alone; k < H; ++k) {
        const int32_t* a = in + k * kSbrQmfColumns;
        const int32_t* b = in + (N - 1 - k) * kSbrQmfColumns;
        for (int i = 0; i < G; ++i) {
            mag[i] += (static_cast<uint32_t>(a[i] ^ (a[i] >> 31)) >> log2Of(N)) +
                      (static_cast<uint32_t>(b[i] ^ (b[i] >> 31)) >> log2Of(N));
            sum[k * G + i] = (a[i] >> 1) + (b[i] >> 1);
            diff[k * G + i] = (a[i] >> 1) - (b[i] >> 1);
        }
    }
    for (int i = 0; i < G; ++i) magnitude[i] = mag[i];
}
#endif

// Window sums start at this, so that the shift below rounds: (sum + 4096) >> 13
// is (2 sum + 8192) >> 14 without the doubling's overflow.
constexpr int32_t kPcmRounding = 4096;

inline int16_t pcmFromSum(int32_t sum) {
#if SBR_QMF_DSP_KERNELS
    // Three saturating doublings and the high half: the same clamp of sum >> 13.
    int32_t t = __qadd(sum, sum);
    t = __qadd(t, t);
    t = __qadd(t, t);
    return static_cast<int16_t>(t >> 16);
#else
    const int32_t v = sum >> 13;
    return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
#endif
}

// ---- Analysis ----

constexpr int32_t kHistory = 32 * kRingSlots;
constexpr int32_t kWork = kHistory + 32 * kSbrSlots;

// Window coefficients of fold value y(n) and y(32 - n): a_j(n), b_j(n).
inline int32_t foldA(int j, int n) { return kSbrQmfAnalysisWindow[32 * j + n]; }
inline int32_t foldB(int j, int n) { return kSbrQmfAnalysisWindow[32 * j + 16 + n]; }
inline const int32_t* foldSixteenWindow() { return kSbrQmfAnalysisWindow + 160; }

// y(16) = sum c(128j+64) x(64j+32) - c(128j) x(64j), x(m) = x[-m].
inline int32_t foldSixteen(const int32_t* x) {
    const int32_t* c = foldSixteenWindow();
    int32_t acc = 0;
#pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) {
        acc = macLow(acc, c[2 * j], x[-(64 * j + 32)]);
        acc = macLow(acc, c[2 * j + 1], x[-64 * j]);
    }
    return acc >> 1;
}

#if SBR_QMF_DSP_KERNELS
// Fold of one slot into y(0..31), x[-m] = x(m) with x[0] the newest sample:
// sums of (Q31 coefficient * sample) >> 16 taps, halved. One coefficient pair
// serves y(n) and y(32 - n).
__attribute__((noinline)) void foldSlot(const int32_t* x, int32_t* y) {
    int32_t acc = 0;
#pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) acc = macLow(acc, foldA(j, 0), x[-(64 * j + 48)]);
    y[0] = acc >> 1;
    for (int n = 1; n < 16; ++n) {
        const int32_t* up = x - (48 + n);
        const int32_t* down = x - (48 - n);
        int32_t lo = 0, hiPlus = 0, hiMinus = 0;
#pragma GCC unroll 5
        for (int j = 0; j < 5; ++j) {
            const int32_t a = foldA(j, n), b = foldB(j, n);
            lo = macLow(lo, a, up[-64 * j]);
            lo = macLow(lo, b, down[-64 * j]);
            hiPlus = macLow(hiPlus, b, up[-(224 - 64 * j)]);
            hiMinus = macLow(hiMinus, a, down[-(224 - 64 * j)]);
        }
        y[n] = lo >> 1;
        y[32 - n] = (hiPlus - hiMinus) >> 1;
    }
    y[16] = foldSixteen(x);
}

void analyseFrame(const int32_t* work, int32_t* matrix) {
    for (int32_t i = 0; i < kSbrSlots; ++i) {
        int32_t y[32];
        foldSlot(work + kHistory + 32 * i + 31, y);
        dct3<32>(y, 1, matrix + kSbrHistoryColumns + i, kSbrQmfColumns);
    }
}
#else
// The same fold over lanes n = 0..15. Every tap walks forwards in n: taps
// x(m0 + n) read a time-reversed copy `rev` of the work buffer (rev[k] =
// work[kWork - 1 - k]), taps x(m0 - n) the buffer itself. Lane 0 computes a
// y(32) nobody reads.
FX_VECTOR_CLONES void foldSlot(const int32_t* __restrict work, const int32_t* __restrict rev,
                               int32_t newest, int32_t* __restrict y) {
    const int32_t* fwd = work + newest;        // fwd[-m] = x(m)
    const int32_t* back = rev + (kWork - 1 - newest); // back[m] = x(m)
    int32_t lo[16], hi[16];
    for (int n = 0; n < 16; ++n) {
        int32_t l = 0, plus = 0, minus = 0;
#pragma GCC unroll 5
        for (int j = 0; j < 5; ++j) {
            const int32_t a = foldA(j, n), b = foldB(j, n);
            l += mulShift16(a, back[64 * j + 48 + n]) + mulShift16(b, fwd[-(64 * j + 48) + n]);
            plus += mulShift16(b, back[272 - 64 * j + n]);
            minus += mulShift16(a, fwd[-(272 - 64 * j) + n]);
        }
        lo[n] = l >> 1;
        hi[n] = (plus - minus) >> 1;
    }
    for (int n = 0; n < 16; ++n) y[n] = lo[n];
    for (int n = 1; n < 16; ++n) y[32 - n] = hi[n];
    y[16] = foldSixteen(fwd);
}

FX_VECTOR_CLONES void reverseWork(const int32_t* __restrict work, int32_t* __restrict rev) {
    for (int32_t k = 0; k < kWork; ++k) rev[k] = work[kWork - 1 - k];
}

constexpr int kAnalysisGroup = 8;

// The last butterfly stage of dct3<32> for kAnalysisGroup slots, whose half
// transforms lie band-major in `half`: lanes are slots, stores are rows.
FX_VECTOR_CLONES void finishAnalysis(const int32_t* __restrict half, int32_t* __restrict out) {
    constexpr int G = kAnalysisGroup;
    for (int k = 0; k < 16; ++k) {
        int32_t* top = out + k * kSbrQmfColumns;
        int32_t* bottom = out + (31 - k) * kSbrQmfColumns;
        for (int i = 0; i < G; ++i) {
            const int32_t a = half[k * G + i] >> 1, b = half[(31 - k) * G + i] >> 1;
            top[i] = a + b;
            bottom[i] = a - b;
        }
    }
}

void analyseFrame(const int32_t* work, int32_t* matrix) {
    constexpr int G = kAnalysisGroup;
    int32_t rev[kWork];
    reverseWork(work, rev);
    for (int32_t g = 0; g < kSbrSlots; g += G) {
        int32_t half[32 * G];
        for (int32_t i = 0; i < G; ++i) {
            int32_t y[32];
            foldSlot(work, rev, kHistory + 32 * (g + i) + 31, y);
            // dct3<32> less its last stage, as in its own recursion.
            dct3<16>(y, 2, half + i, G);
            dct4<16, 0>(y + 1, 2, half + i, 31 * G, -G);
        }
        finishAnalysis(half, matrix + kSbrHistoryColumns + g);
    }
}
#endif

// ---- Synthesis ----

// Ring block of the slot of age a when the current slot is block p.
inline int32_t ageBlock(int32_t p, int32_t a) { return p >= a ? p - a : p - a + kRingSlots; }

#if SBR_QMF_DSP_KERNELS
// One slot's N output samples from the ring, whose current slot is block Pos.
template <int N, int Pos>
void windowSlot(const int32_t* ring, int16_t* pcm, int32_t stride) {
    constexpr int H = N / 2;
    constexpr int kStep = 10 * (64 / N); // window words between output pairs
    constexpr auto at = [](int a) { return ((Pos - a + kRingSlots) % kRingSlots) * N; };
    const uint32_t* w = kSbrQmfSynthesisWindow;
    {
        int32_t acc0 = kPcmRounding, accH = kPcmRounding;
#pragma GCC unroll 5
        for (int j = 0; j < 5; ++j) {
            const uint32_t wa = w[2 * j], wb = w[2 * j + 1];
            acc0 = macLow(acc0, ring[at(2 * j) + H], wa);
            accH = macHigh(accH, ring[at(2 * j)], wa);
            acc0 = macLow(acc0, ring[at(2 * j + 1) + H], wb);
        }
        pcm[0] = pcmFromSum(acc0);
        pcm[H * stride] = pcmFromSum(accH);
    }
    int16_t* front = pcm + stride;
    int16_t* back = pcm + (N - 1) * stride;
    for (int q = 1; q < H; ++q, front += stride, back -= stride) {
        w += kStep;
        int32_t acc0 = kPcmRounding, acc1 = kPcmRounding;
#pragma GCC unroll 5
        for (int j = 0; j < 5; ++j) {
            const uint32_t wa = w[2 * j], wb = w[2 * j + 1];
            const int32_t va = ring[at(2 * j) + q], vb = ring[at(2 * j + 1) + H + q];
            acc0 = macLow(acc0, va, wa);
            acc1 = macHigh(acc1, va, wa);
            acc0 = macLow(acc0, vb, wb);
            acc1 = macHigh(acc1, vb, wb);
        }
        *front = pcmFromSum(acc0);
        *back = pcmFromSum(acc1);
    }
}

using WindowFn = void (*)(const int32_t*, int16_t*, int32_t);

template <int N, int... P>
constexpr auto windowTable(std::integer_sequence<int, P...>) {
    struct Table {
        WindowFn fn[kRingSlots];
    };
    return Table{{&windowSlot<N, P>...}};
}

template <int N>
void windowAt(const int32_t* ring, int32_t p, int16_t* pcm, int32_t stride) {
    static constexpr auto kWindows = windowTable<N>(std::make_integer_sequence<int, kRingSlots>());
    kWindows.fn[p](ring, pcm, stride);
}
#else
template <int N>
const int16_t (*synthesisTaps())[5][N / 2] {
    if constexpr (N == 64) return kSbrQmfSynthesisTaps64;
    else return kSbrQmfSynthesisTaps32;
}

// The same window over lanes q = 0..N/2-1 (pairs q, N - q; lane 0 gives
// output N/2), then output 0 and the strided stores.
template <int N>
FX_VECTOR_CLONES void windowAt(const int32_t* ring, int32_t p, int16_t* pcm, int32_t stride) {
    constexpr int H = N / 2;
    const int16_t (*t)[5][H] = synthesisTaps<N>();
    const int32_t* slot[kRingSlots];
    for (int a = 0; a < kRingSlots; ++a) slot[a] = ring + ageBlock(p, a) * N;
    int16_t front[H], back[H];
    for (int q = 0; q < H; ++q) {
        int32_t acc0 = kPcmRounding, acc1 = kPcmRounding;
#pragma GCC unroll 5
        for (int j = 0; j < 5; ++j) {
            const int32_t va = slot[2 * j][q], vb = slot[2 * j + 1][H + q];
            acc0 += mulShift16(va, t[0][j][q]) + mulShift16(vb, t[1][j][q]);
            acc1 += mulShift16(va, t[2][j][q]) + mulShift16(vb, t[3][j][q]);
        }
        front[q] = pcmFromSum(acc0);
        back[q] = pcmFromSum(acc1);
    }
    const uint32_t* w = kSbrQmfSynthesisWindow;
    int32_t acc0 = kPcmRounding;
    for (int j = 0; j < 5; ++j) {
        acc0 = macLow(acc0, slot[2 * j][H], w[2 * j]);
        acc0 = macLow(acc0, slot[2 * j + 1][H], w[2 * j + 1]);
    }
    pcm[0] = pcmFromSum(acc0);
    pcm[H * stride] = back[0];
    int16_t* up = pcm + stride;
    int16_t* down = pcm + (N - 1) * stride;
#pragma GCC unroll 8
    for (int q = 1; q < H; ++q, up += stride, down -= stride) {
        *up = front[q];
        *down = back[q];
    }
}
#endif

// The transform's gain is 1/N; the ring holds twice its unscaled value.
template <int N>
void synthesise(int32_t* ring, const int32_t* matrix, int16_t* pcm, int32_t channels, uint8_t* pos) {
    int32_t p = *pos < kRingSlots ? *pos : 0;
    const int32_t* in = matrix + kSbrAdjustOffset;
#if SBR_QMF_DSP_KERNELS
    for (int32_t i = 0; i < kSbrSlots; ++i) {
        synthesisTransform<N>(in + i, kSbrQmfColumns, ring + p * N);
        windowAt<N>(ring, p, pcm + i * N * channels, channels);
        p = p + 1 == kRingSlots ? 0 : p + 1;
    }
#else
    // The bands above the highest one with a nonzero sample this frame.
    int32_t bands = N;
    for (; bands > 0; --bands) {
        const int32_t* row = in + (bands - 1) * kSbrQmfColumns;
        int32_t any = 0;
        for (int32_t i = 0; i < kSbrSlots; ++i) any |= row[i];
        if (any != 0) break;
    }
    constexpr int G = kStageSlots;
    for (int32_t g = 0; g < kSbrSlots; g += G) {
        int32_t sum[N / 2 * G], diff[N / 2 * G];
        uint32_t magnitude[G];
        firstStages<N>(in + g, bands, sum, diff, magnitude);
        for (int32_t i = 0; i < G; ++i) {
            synthesisHalves<N, G>(sum + i, diff + i, magnitude[i], ring + p * N);
            windowAt<N>(ring, p, pcm + (g + i) * N * channels, channels);
            p = p + 1 == kRingSlots ? 0 : p + 1;
        }
    }
#endif
    *pos = static_cast<uint8_t>(p);
}

// One channel's samples of the frame; the usual strides as constants, so
// that the loads vectorise.
FX_VECTOR_CLONES void loadFrame(const int16_t* __restrict pcm, int32_t channels, int32_t* __restrict out) {
    constexpr int32_t n = 32 * kSbrSlots;
    if (channels == 1) {
        for (int32_t t = 0; t < n; ++t) out[t] = pcm[t];
    } else if (channels == 2) {
        for (int32_t t = 0; t < n; ++t) out[t] = pcm[2 * t];
    } else {
        for (int32_t t = 0; t < n; ++t) out[t] = pcm[t * channels];
    }
}

} // namespace

void SbrQmfAnalysis(SbrChannelState* s, const int16_t* pcm, int32_t* matrix, int32_t channels) {
    int16_t* ring = s->analysisHistory;
    int32_t p = s->analysisPos < kRingSlots ? s->analysisPos : 0;

    // The history in time order, then the frame: no slot needs to wrap.
    int32_t work[kWork];
    for (int32_t b = 0, r = p; b < kRingSlots; ++b, r = r + 1 == kRingSlots ? 0 : r + 1)
        for (int32_t j = 0; j < 32; ++j) work[32 * b + j] = ring[32 * r + j];
    loadFrame(pcm, channels, work + kHistory);

    analyseFrame(work, matrix);

    // Each ring block ends up holding the last slot written at its position,
    // which for the last ten slots starts 22 positions on.
    p = (p + (kSbrSlots - kRingSlots)) % kRingSlots;
    for (int32_t i = kSbrSlots - kRingSlots; i < kSbrSlots; ++i) {
        for (int32_t j = 0; j < 32; ++j) ring[32 * p + j] = static_cast<int16_t>(work[kHistory + 32 * i + j]);
        p = p + 1 == kRingSlots ? 0 : p + 1;
    }
    s->analysisPos = static_cast<uint8_t>(p);
}

void SbrQmfSynthesis64(int32_t* history, const int32_t* matrix, int16_t* pcm, int32_t channels,
                       uint8_t* pos) {
    synthesise<64>(history, matrix, pcm, channels, pos);
}

void SbrQmfSynthesis32(int32_t* history, const int32_t* matrix, int16_t* pcm, int32_t channels,
                       uint8_t* pos) {
    synthesise<32>(history, matrix, pcm, channels, pos);
}
