// Inverse MDCT, windowing and overlap-add.
//
// Both transform sizes go through one DCT-IV: pre-twiddle of the folded pairs
// (X[2k], X[N-1-2k]) into bit-reversed order, an N/2-point radix-2 FFT and a
// post-twiddle. The IMDCT output is then read from the DCT-IV result with the
// usual sign and index folds instead of being unfolded into a buffer.
#include "filterbank.h"

#include "element.h"
#include "fixedpoint.h"
#include "recon_tables.h"

#include <utility>

namespace {

// Wrapping 32-bit arithmetic: out-of-range spectra from damaged streams must
// not turn into undefined behaviour.
inline int32_t wrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t wrapNeg(int32_t a) { return wrapSub(0, a); }
inline int32_t wrapDouble(int32_t a) { return static_cast<int32_t>(static_cast<uint32_t>(a) << 1); }
inline int32_t mulHigh(int32_t a, int32_t b) { return FxMulHigh(a, b); }

// (b + je) e^(-j theta), c = cos theta and s = sin theta both >= 0 in Q31.
// Three high-word products, as the conjugate of (b - je)(c + js); c - s
// cannot overflow for a first-quadrant angle.
// d = c - s, when a table already holds it.
inline void rotate(int32_t b, int32_t e, int32_t c, int32_t s, int32_t d, int32_t& re, int32_t& im) {
    const int32_t en = wrapNeg(e);
    const int32_t hi = mulHigh(b, c);
    const int32_t t = mulHigh(en, s);
    const int32_t x = mulHigh(wrapSub(en, b), d);
    re = wrapDouble(wrapSub(hi, t));
    im = wrapNeg(wrapDouble(wrapAdd(wrapAdd(hi, t), x)));
}
inline void rotate(int32_t b, int32_t e, int32_t c, int32_t s, int32_t& re, int32_t& im) {
    rotate(b, e, c, s, c - s, re, im);
}

// kFftCos[64] as a constant: a factor known to be positive saves a scalar
// core one multiply of the 64-bit product (vector code is better off with the load).
constexpr int32_t kSqrtHalfQ31 = 1518500249;

// x * sqrt(1/2), high word doubled; the sum is formed in 64 bits.
inline int32_t mulSqrtHalf(int64_t x) {
    return wrapDouble(static_cast<int32_t>((x * (kFxVectorTarget ? kFftCos[64] : kSqrtHalfQ31)) >> 32));
}

// b times the span-4 twiddle j: 1, (1 - j)/sqrt2, -j, (-1 - j)/sqrt2.
template <int J>
[[gnu::always_inline]] inline void spanFourTwiddle(int32_t br, int32_t bi, int32_t& tr, int32_t& ti) {
    if constexpr (J == 0) {
        tr = br;
        ti = bi;
    } else if constexpr (J == 1) {
        tr = mulSqrtHalf(static_cast<int64_t>(br) + bi);
        ti = mulSqrtHalf(static_cast<int64_t>(bi) - br);
    } else if constexpr (J == 2) {
        tr = bi;
        ti = wrapNeg(br);
    } else {
        tr = mulSqrtHalf(static_cast<int64_t>(bi) - br);
        ti = mulSqrtHalf(-static_cast<int64_t>(bi) - br);
    }
}

// One span-4 butterfly of twiddle J: b times the twiddle, added to and taken from a.
template <int J>
[[gnu::always_inline]] inline void spanFourButterfly(int32_t& ar, int32_t& ai, int32_t& br, int32_t& bi) {
    int32_t tr, ti;
    spanFourTwiddle<J>(br, bi, tr, ti);
    const int32_t xr = ar, xi = ai;
    ar = wrapAdd(xr, tr);
    ai = wrapAdd(xi, ti);
    br = wrapSub(xr, tr);
    bi = wrapSub(xi, ti);
}

// The span-4 butterflies of twiddle J over the in-place radix-4 groups of a
// vector target: slot k + J q (place r + J) meets slot k + q/2 + J q (place
// r + 4 + J), the group at r + 4 being group k + q/2.
template <int J>
[[gnu::always_inline]] inline void spanFourRun(int32_t* __restrict xr, int32_t* __restrict xi, int q) {
    int32_t* __restrict ar = xr + J * q;
    int32_t* __restrict ai = xi + J * q;
    int32_t* __restrict br = xr + J * q + q / 2;
    int32_t* __restrict bi = xi + J * q + q / 2;
    for (int k = 0; k < q / 2; ++k) spanFourButterfly<J>(ar[k], ai[k], br[k], bi[k]);
}

// A twiddle of a general FFT stage: cos and sin of pi j / h from the quarter-wave table.
struct Twiddle {
    int32_t c, s;
};

// Radix-2 butterflies of span h (8 <= h, 2h <= M), in place: angle pi j / h
// from the quarter-wave table; the second quarter of each span uses the same
// angle times -j.
template <int M>
[[gnu::always_inline]] inline void fftStage(int32_t* __restrict re, int32_t* __restrict im, int h) {
    const int step = 256 >> __builtin_ctz(static_cast<unsigned>(h)); // h is a power of two
    const int quarter = h / 2;
    if constexpr (!kFxVectorTarget) if (M / (2 * h) >= 4) {
        // Four groups or more: a scalar core keeps one twiddle in
        // registers and walks the groups, instead of setting up each group's
        // short runs. The butterflies of a stage are independent, so their
        // order does not matter.
        for (int j = 0; j < quarter; ++j) {
            const int32_t c = kFftCos[j * step], s = kFftCos[128 - j * step];
            for (int g = j; g < M; g += 2 * h) {
                int32_t tr, ti;
                rotate(re[g + h], im[g + h], c, s, tr, ti);
                const int32_t xr = re[g], xi = im[g];
                re[g] = wrapAdd(xr, tr);
                im[g] = wrapAdd(xi, ti);
                re[g + h] = wrapSub(xr, tr);
                im[g + h] = wrapSub(xi, ti);
            }
            for (int g = quarter + j; g < M; g += 2 * h) {
                int32_t tr, ti;
                rotate(re[g + h], im[g + h], c, s, tr, ti);
                const int32_t xr = re[g], xi = im[g];
                re[g] = wrapAdd(xr, ti);
                im[g] = wrapSub(xi, tr);
                re[g + h] = wrapSub(xr, ti);
                im[g + h] = wrapAdd(xi, tr);
            }
        }
        return;
    }
    // c - s too, once per stage rather than in every group's vector loop (a
    // scalar core is better off subtracting than loading a third word).
    int32_t tc[128], ts[128], td[128];
    for (int j = 0; j < quarter; ++j) {
        tc[j] = kFftCos[j * step];
        ts[j] = kFftCos[128 - j * step];
        td[j] = tc[j] - ts[j];
    }
    for (int g = 0; g < M; g += 2 * h) {
        int32_t* __restrict ar = re + g;
        int32_t* __restrict ai = im + g;
        int32_t* __restrict br = re + g + h;
        int32_t* __restrict bi = im + g + h;
        for (int j = 0; j < quarter; ++j) {
            int32_t tr, ti;
            rotate(br[j], bi[j], tc[j], ts[j], kFxVectorTarget ? td[j] : tc[j] - ts[j], tr, ti);
            const int32_t xr = ar[j], xi = ai[j];
            ar[j] = wrapAdd(xr, tr);
            ai[j] = wrapAdd(xi, ti);
            br[j] = wrapSub(xr, tr);
            bi[j] = wrapSub(xi, ti);
        }
        for (int j = 0; j < quarter; ++j) {
            int32_t tr, ti;
            rotate(br[quarter + j], bi[quarter + j], tc[j], ts[j], kFxVectorTarget ? td[j] : tc[j] - ts[j], tr,
                   ti);
            // times -j: (tr + j ti)(-j) = ti - j tr
            const int32_t xr = ar[quarter + j], xi = ai[quarter + j];
            ar[quarter + j] = wrapAdd(xr, ti);
            ai[quarter + j] = wrapSub(xi, tr);
            br[quarter + j] = wrapSub(xr, ti);
            bi[quarter + j] = wrapAdd(xi, tr);
        }
    }
}

// One radix-2 butterfly of fftStage at (p, p + h): b rotated by (c, s),
// then added to and taken from a, or (second quarter of the span) the same
// times -j.
template <bool kMinusJ>
[[gnu::always_inline]] inline void butterfly(int32_t& ar, int32_t& ai, int32_t& br, int32_t& bi, int32_t c,
                                             int32_t s) {
    int32_t tr, ti;
    rotate(br, bi, c, s, tr, ti);
    const int32_t xr = ar, xi = ai;
    if (kMinusJ) {
        ar = wrapAdd(xr, ti);
        ai = wrapSub(xi, tr);
        br = wrapSub(xr, ti);
        bi = wrapAdd(xi, tr);
    } else {
        ar = wrapAdd(xr, tr);
        ai = wrapAdd(xi, ti);
        br = wrapSub(xr, tr);
        bi = wrapSub(xi, ti);
    }
}

// The stages of spans h and 2h in one pass on a scalar core, each value
// loaded and stored once for both: places p, p + h, p + 2h, p + 3h (p = g
// + j, g a multiple of 4h) go through span h's butterflies at offset j,
// then span 2h's at offsets j and j + h, the same operations as the two
// stages one after the other. Offsets j from j0 to j0 + h/2 - 1: kMinusJ
// tells whether they lie in the second quarter of span h.
template <int M, bool kMinusJ>
[[gnu::always_inline]] inline void fftStagePairRun(int32_t* __restrict re, int32_t* __restrict im, int h,
                                                   int j0) {
    const int step = 256 >> __builtin_ctz(static_cast<unsigned>(h));
    for (int j = j0; j < j0 + h / 2; ++j) {
        const int a = j - (kMinusJ ? h / 2 : 0);
        const int32_t c1 = kFftCos[a * step], s1 = kFftCos[128 - a * step];
        const int32_t c2 = kFftCos[j * step / 2], s2 = kFftCos[128 - j * step / 2];
        for (int p = j; p < M; p += 4 * h) {
            int32_t r0 = re[p], i0 = im[p], r1 = re[p + h], i1 = im[p + h];
            int32_t r2 = re[p + 2 * h], i2 = im[p + 2 * h], r3 = re[p + 3 * h], i3 = im[p + 3 * h];
            butterfly<kMinusJ>(r0, i0, r1, i1, c1, s1);
            butterfly<kMinusJ>(r2, i2, r3, i3, c1, s1);
            butterfly<false>(r0, i0, r2, i2, c2, s2);
            butterfly<true>(r1, i1, r3, i3, c2, s2);
            re[p] = r0;
            im[p] = i0;
            re[p + h] = r1;
            im[p + h] = i1;
            re[p + 2 * h] = r2;
            im[p + 2 * h] = i2;
            re[p + 3 * h] = r3;
            im[p + 3 * h] = i3;
        }
    }
}

// Spans 4 and 8 in one pass on a scalar core, at offset J of each group of
// 16 places: span 4's butterflies at (p, p + 4) and (p + 8, p + 12) with
// its written-out twiddle J, then span 8's at offsets J and J + 4.
template <int M, int J>
[[gnu::always_inline]] inline void spanFourEightPass(int32_t* __restrict re, int32_t* __restrict im) {
    const int32_t c = kFftCos[J * 32], s = kFftCos[128 - J * 32];
    for (int p = J; p < M; p += 16) {
        int32_t r0 = re[p], i0 = im[p], r1 = re[p + 4], i1 = im[p + 4];
        int32_t r2 = re[p + 8], i2 = im[p + 8], r3 = re[p + 12], i3 = im[p + 12];
        spanFourButterfly<J>(r0, i0, r1, i1);
        spanFourButterfly<J>(r2, i2, r3, i3);
        butterfly<false>(r0, i0, r2, i2, c, s);
        butterfly<true>(r1, i1, r3, i3, c, s);
        re[p] = r0;
        im[p] = i0;
        re[p + 4] = r1;
        im[p + 4] = i1;
        re[p + 8] = r2;
        im[p + 8] = i2;
        re[p + 12] = r3;
        im[p + 12] = i3;
    }
}

template <int M>
[[gnu::always_inline]] inline void fftStagePair(int32_t* __restrict re, int32_t* __restrict im, int h) {
    fftStagePairRun<M, false>(re, im, h, 0);
    fftStagePairRun<M, true>(re, im, h, h / 2);
}

// The stage of span h = 8 << T on the in-place radix-4 groups of a vector
// target, with the same operations as fftStage: slot k + m q holds place
// r_k + m, and place r_k + h is group k + L (L = q >> (T + 2)); place r_k's
// offset in its span, r_k mod h, is the bit reversal of k's top T + 1 bits,
// times 4. Each (top bits, m) is one run of L slots with one twiddle.
template <int q, int T>
[[gnu::always_inline]] inline void spanInGroups(int32_t* __restrict xr, int32_t* __restrict xi) {
    constexpr int h = 8 << T, L = q >> (T + 2), step = 256 / h, quarter = h / 2;
    for (int top = 0; top < (2 << T); ++top) {
        int jHigh = 0;
        for (int b = 0; b <= T; ++b) jHigh |= ((top >> b) & 1) << (T - b);
        for (int m = 0; m < 4; ++m) {
            const int j = 4 * jHigh + m;
            const int a = j < quarter ? j : j - quarter;
            const int32_t c = kFftCos[a * step], s = kFftCos[128 - a * step];
            int32_t* __restrict ar = xr + m * q + top * 2 * L;
            int32_t* __restrict ai = xi + m * q + top * 2 * L;
            int32_t* __restrict br = ar + L;
            int32_t* __restrict bi = ai + L;
            // The second quarter of the span: the same angle times -j.
            if (j < quarter)
                for (int k = 0; k < L; ++k) butterfly<false>(ar[k], ai[k], br[k], bi[k], c, s);
            else
                for (int k = 0; k < L; ++k) butterfly<true>(ar[k], ai[k], br[k], bi[k], c, s);
        }
    }
}

// How many spans from 8 up a vector target runs in the groups' layout
// (long runs there) rather than after the scatter (short runs there).
template <int N>
inline constexpr int kSpansInGroups = N == 1024 ? 2 : 0;

template <int q, int... T>
[[gnu::always_inline]] inline void spansInGroups([[maybe_unused]] int32_t* __restrict xr, [[maybe_unused]] int32_t* __restrict xi,
                                                 std::integer_sequence<int, T...>) {
    (spanInGroups<q, T>(xr, xi), ...);
}

// Unscaled DCT-IV of N values in place:
// u[n] = sum X[k] cos(pi/N (n + 1/2)(k + 1/2)). `work` holds N words.
// Pre-twiddle of the folded pairs (X[2k], X[N-1-2k]) into bit-reversed order,
// an N/2-point radix-2 decimation-in-time FFT without scaling, post-twiddle.
// The first two FFT stages run inside the pre-twiddle and the last one inside
// the post-twiddle, each value going through the same operations as in
// separate passes.
template <int N>
FX_VECTOR_CLONES void dct4(int32_t* __restrict data, int32_t* __restrict work) {
    constexpr int M = N / 2, Q = M / 4;
    const int32_t* cosTab = N == 1024 ? kTwiddleCos1024 : kTwiddleCos128;
    const int32_t* sinTab = N == 1024 ? kTwiddleSin1024 : kTwiddleSin128;
    int32_t* __restrict re = work;
    int32_t* __restrict im = work + M;

    if (kFxVectorTarget) {
        // The pre-twiddle on its own first, as contiguous runs that
        // vectorise: the pairs' first values and (reversed) second values are
        // gathered, rotated into data (real parts, then imaginary parts), and
        // the scattered stores below only move values.
        for (int t = 0; t < M; ++t) {
            re[t] = data[2 * t];
            im[t] = data[2 * t + 1]; // the second value of pair M-1-t
        }
        int32_t* __restrict xr = data;
        int32_t* __restrict xi = data + M;
        for (int k = 0; k < M; ++k) xi[k] = im[M - 1 - k];
        for (int k = 0; k < M; ++k) rotate(re[k], xi[k], cosTab[k], sinTab[k], xr[k], xi[k]);
        // The radix-4 groups of the first two stages in place (group k in
        // slots k, k + M/4, k + M/2, k + 3M/4, outputs in the order of their
        // bit-reversed places r .. r + 3), then only the moves are scattered.
        for (int k = 0; k < Q; ++k) {
            const int32_t ar = xr[k], ai = xi[k], br = xr[k + 2 * Q], bi = xi[k + 2 * Q];
            const int32_t cr = xr[k + Q], ci = xi[k + Q], dr = xr[k + 3 * Q], di = xi[k + 3 * Q];
            const int32_t s0r = wrapAdd(ar, br), s0i = wrapAdd(ai, bi);
            const int32_t s1r = wrapSub(ar, br), s1i = wrapSub(ai, bi);
            const int32_t s2r = wrapAdd(cr, dr), s2i = wrapAdd(ci, di);
            const int32_t s3r = wrapSub(cr, dr), s3i = wrapSub(ci, di);
            xr[k] = wrapAdd(s0r, s2r);
            xi[k] = wrapAdd(s0i, s2i);
            xr[k + Q] = wrapAdd(s1r, s3i);
            xi[k + Q] = wrapSub(s1i, s3r);
            xr[k + 2 * Q] = wrapSub(s0r, s2r);
            xi[k + 2 * Q] = wrapSub(s0i, s2i);
            xr[k + 3 * Q] = wrapSub(s1r, s3i);
            xi[k + 3 * Q] = wrapAdd(s1i, s3r);
        }
        // Span 4 in place too: the group at r + 4 is group k + Q/2, so slot
        // k + j Q (place r + j) meets slot k + Q/2 + j Q (place r + 4 + j).
        spanFourRun<0>(xr, xi, Q);
        spanFourRun<1>(xr, xi, Q);
        spanFourRun<2>(xr, xi, Q);
        spanFourRun<3>(xr, xi, Q);
        spansInGroups<Q>(xr, xi, std::make_integer_sequence<int, kSpansInGroups<N>>());
        for (int k = 0; k < Q; ++k) {
            const int r = N == 1024 ? kBitReverse[k] << 1 : kBitReverse[k << 2];
            for (int m = 0; m < 4; ++m) {
                re[r + m] = xr[k + m * Q];
                im[r + m] = xi[k + m * Q];
            }
        }
    }
    // Pair k rotated: done above on a vector target, here on a scalar core.
    auto pre = [&](int k, int32_t& xr, int32_t& xi) {
        if (kFxVectorTarget) {
            xr = data[k];
            xi = data[M + k];
        } else {
            rotate(data[2 * k], data[N - 1 - 2 * k], cosTab[k], sinTab[k], xr, xi);
        }
    };

    // Pairs k, k + M/2, k + M/4 and k + 3M/4 land at the bit-reversed
    // positions r, r + 1, r + 2, r + 3 (r a multiple of 4): one radix-4
    // group of the first two stages, span 1 then span 2 (-j as a swap).
    for (int k = 0; k < (kFxVectorTarget ? 0 : Q); ++k) {
        const int r = N == 1024 ? kBitReverse[k] << 1 : kBitReverse[k << 2];
        int32_t ar, ai, br, bi, cr, ci, dr, di;
        pre(k, ar, ai);
        pre(k + 2 * Q, br, bi);
        pre(k + Q, cr, ci);
        pre(k + 3 * Q, dr, di);
        const int32_t s0r = wrapAdd(ar, br), s0i = wrapAdd(ai, bi);
        const int32_t s1r = wrapSub(ar, br), s1i = wrapSub(ai, bi);
        const int32_t s2r = wrapAdd(cr, dr), s2i = wrapAdd(ci, di);
        const int32_t s3r = wrapSub(cr, dr), s3i = wrapSub(ci, di);
        re[r] = wrapAdd(s0r, s2r);
        im[r] = wrapAdd(s0i, s2i);
        re[r + 2] = wrapSub(s0r, s2r);
        im[r + 2] = wrapSub(s0i, s2i);
        re[r + 1] = wrapAdd(s1r, s3i);
        im[r + 1] = wrapSub(s1i, s3r);
        re[r + 3] = wrapSub(s1r, s3i);
        im[r + 3] = wrapAdd(s1i, s3r);
    }

    if (kFxVectorTarget) {
        for (int h = 8 << kSpansInGroups<N>; h < M / 2; h <<= 1) fftStage<M>(re, im, h);
    } else {
        // Spans 4 and 8, then two by two; the pairs that pay on this core.
        spanFourEightPass<M, 0>(re, im);
        spanFourEightPass<M, 1>(re, im);
        spanFourEightPass<M, 2>(re, im);
        spanFourEightPass<M, 3>(re, im);
        if constexpr (M == 512) {
            fftStagePair<M>(re, im, 16);
            fftStagePair<M>(re, im, 64);
        } else {
            fftStage<M>(re, im, 16);
        }
    }
    if (kFxVectorTarget) {
        // The last stage vectorises on its own, and so does the post-twiddle
        // in place with the interleaving stores after it.
        fftStage<M>(re, im, M / 2);
        for (int p = 0; p < M; ++p) {
            int32_t r, i;
            rotate(re[p], im[p], cosTab[p], sinTab[p], r, i);
            re[p] = r;
            im[p] = wrapNeg(i);
        }
        for (int p = 0; p < M; ++p) {
            data[2 * p] = re[p];
            data[N - 1 - 2 * p] = im[p];
        }
        return;
    }

    // Last stage (span M/2, one group) and the post-twiddle of its four
    // outputs p = j, j + M/2 (angle pi j / (M/2)) and p = j + M/4, j + 3M/4
    // (the same angle times -j).
    constexpr int H = M / 2, kStep = 512 / M;
    auto post = [&](int p, int32_t xr, int32_t xi) {
        int32_t r, i;
        rotate(xr, xi, cosTab[p], sinTab[p], r, i);
        data[2 * p] = r;
        data[N - 1 - 2 * p] = wrapNeg(i);
    };
    for (int j = 0; j < Q; ++j) {
        const int32_t tc = kFftCos[j * kStep], ts = kFftCos[128 - j * kStep];
        int32_t tr, ti;
        rotate(re[H + j], im[H + j], tc, ts, tr, ti);
        const int32_t xr = re[j], xi = im[j];
        post(j, wrapAdd(xr, tr), wrapAdd(xi, ti));
        post(H + j, wrapSub(xr, tr), wrapSub(xi, ti));
        rotate(re[H + Q + j], im[H + Q + j], tc, ts, tr, ti);
        const int32_t yr = re[Q + j], yi = im[Q + j];
        post(Q + j, wrapAdd(yr, ti), wrapSub(yi, tr));
        post(H + Q + j, wrapSub(yr, ti), wrapAdd(yi, tr));
    }
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "window pairs are read as little-endian words");

// Two adjacent window entries as one word: entry 2i in the low half, 2i + 1 in the high half.
using WindowPair = uint32_t __attribute__((may_alias));
inline uint32_t loadPair(const uint16_t* w) { return *reinterpret_cast<const WindowPair*>(w); }

// (a * w) >> 16 for the Q15 entry in the low / high half of a pair: the high
// word of a times the entry moved to the top half, one 32 x 32 high product.
inline int32_t mulLowEntry(int32_t a, uint32_t pair) {
    return FxMulHigh(a, static_cast<int32_t>(pair << 16));
}
inline int32_t mulHighEntry(int32_t a, uint32_t pair) {
    return FxMulHigh(a, static_cast<int32_t>(pair & 0xFFFF0000u));
}

inline int16_t saturatePcm(int32_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : v < -32767 ? -32767 : v);
}
// Long-window output: the overlap-added value rounded from the pre-output scale.
inline int16_t longPcm(int32_t v) { return saturatePcm((v + 16) >> 5); }

const uint16_t* longWindow(int32_t shape) { return shape == 1 ? kKbdLong : kSineLong; }
const uint16_t* shortWindow(int32_t shape) { return shape == 1 ? kKbdShort : kSineShort; }

// Window parts of a long-transform frame: a table, zero, or one (32768,
// which has no 16-bit signed form: (a * 32768) >> 16 is a >> 1).
enum WindowPart { kPartTable, kPartZero, kPartOne };

// IMDCT y[n] from the DCT-IV u: y[n] = u[512 + n] and y[1024 + n] = -u[511 - n]
// for n < 512; y[n] = -u[1535 - n] and y[1024 + n] = -u[n - 512] above. Each
// kernel below walks one of these four runs: y(i) = (kNeg ? -1 : 1) * y0[kDir * i].
template <int kDir, bool kNeg>
[[gnu::always_inline]] inline int32_t yAt(const int32_t* y0, int i) {
    const int32_t v = y0[kDir * i];
    return kNeg ? wrapNeg(v) : v;
}

// Rising half, count samples (even): dst[i] = output of overlap ov[i] plus
// y(i) >> 7 windowed by w[i].
template <WindowPart kPart, int kDir, bool kNeg>
[[gnu::always_inline]] inline void riseRun(const int32_t* __restrict y0, const int32_t* __restrict ov,
                                           const uint16_t* w, int count, int16_t* __restrict dst,
                                           int32_t stride) {
    if (kFxVectorTarget) {
        // One sample per step: window entries widen straight into vector lanes.
        for (int i = 0; i < count; ++i) {
            int32_t a = ov[i];
            if (kPart == kPartTable)
                a += FxMulHigh(yAt<kDir, kNeg>(y0, i) >> 7, static_cast<int32_t>(w[i]) << 16);
            else if (kPart == kPartOne)
                a += yAt<kDir, kNeg>(y0, i) >> 8;
            dst[i * stride] = longPcm(a);
        }
        return;
    }
    // Walking pointers keep the loop within a scalar core's registers.
    const int32_t* y = y0;
    const int32_t* o = ov;
    const int32_t* const oEnd = ov + count;
    int16_t* d = dst;
    while (o != oEnd) {
        int32_t a = o[0], b = o[1];
        if (kPart == kPartTable) {
            const uint32_t pair = loadPair(w);
            w += 2;
            a += mulLowEntry(yAt<kDir, kNeg>(y, 0) >> 7, pair);
            b += mulHighEntry(yAt<kDir, kNeg>(y, 1) >> 7, pair);
        } else if (kPart == kPartOne) {
            a += yAt<kDir, kNeg>(y, 0) >> 8;
            b += yAt<kDir, kNeg>(y, 1) >> 8;
        }
        y += 2 * kDir;
        o += 2;
        d[0] = longPcm(a);
        d += stride;
        d[0] = longPcm(b);
        d += stride;
    }
}

// Falling half, count samples (even): ov[i] = y(i) >> 7 windowed by the
// table read backwards, wEnd[-1 - i].
template <WindowPart kPart, int kDir, bool kNeg>
[[gnu::always_inline]] inline void fallRun(const int32_t* __restrict y0, const uint16_t* wEnd, int count,
                                           int32_t* __restrict ov) {
    if (kFxVectorTarget && kPart == kPartTable) {
        for (int i = 0; i < count; ++i)
            ov[i] = FxMulHigh(yAt<kDir, kNeg>(y0, i) >> 7, static_cast<int32_t>(wEnd[-1 - i]) << 16);
        return;
    }
    for (int i = 0; i < count; i += 2) {
        if (kPart == kPartTable) {
            const uint32_t pair = loadPair(wEnd - 2 - i);
            ov[i] = mulHighEntry(yAt<kDir, kNeg>(y0, i) >> 7, pair);
            ov[i + 1] = mulLowEntry(yAt<kDir, kNeg>(y0, i + 1) >> 7, pair);
        } else if (kPart == kPartOne) {
            ov[i] = yAt<kDir, kNeg>(y0, i) >> 8;
            ov[i + 1] = yAt<kDir, kNeg>(y0, i + 1) >> 8;
        } else {
            ov[i] = 0;
            ov[i + 1] = 0;
        }
    }
}

// Samples [from, to) of the rising half; w (tables only) is the entry of
// sample `from`. On a vector target `rev` holds u reversed, rev[i] = u[1023 - i],
// so that every run reads forwards (the vectoriser cannot mix reversed word
// loads with halfword ones).
template <WindowPart kPart>
[[gnu::always_inline]] inline void rise(const int32_t* u, const int32_t* rev, const int32_t* ov,
                                        const uint16_t* w, int from, int to, int16_t* dst,
                                        int32_t stride) {
    const int mid = to < 512 ? to : from > 512 ? from : 512;
    if (from < mid)
        riseRun<kPart, 1, false>(u + 512 + from, ov + from, w, mid - from, dst + from * stride, stride);
    if (mid >= to) return;
    if (kFxVectorTarget)
        riseRun<kPart, 1, true>(rev + mid - 512, ov + mid, w + (mid - from), to - mid,
                                dst + mid * stride, stride);
    else
        riseRun<kPart, -1, true>(u + 1535 - mid, ov + mid, w + (mid - from), to - mid,
                                 dst + mid * stride, stride);
}

// Samples [from, to) of the falling half; the window of sample `from` is wEnd[-1].
template <WindowPart kPart>
[[gnu::always_inline]] inline void fall(const int32_t* u, const int32_t* rev, const uint16_t* wEnd,
                                        int from, int to, int32_t* ov) {
    const int mid = to < 512 ? to : from > 512 ? from : 512;
    if (from < mid) {
        if (kFxVectorTarget)
            fallRun<kPart, 1, true>(rev + 512 + from, wEnd, mid - from, ov + from);
        else
            fallRun<kPart, -1, true>(u + 511 - from, wEnd, mid - from, ov + from);
    }
    if (mid < to) fallRun<kPart, 1, true>(u + mid - 512, wEnd - (mid - from), to - mid, ov + mid);
}

// pcm[n * stride] = block[n]. Two channels interleave: there each sample
// replaces the low half of its word, leaving the other channel's half as it
// is, so that the loop vectorises; the last sample, whose word may end past
// the buffer, goes alone.
[[gnu::always_inline]] inline void storeStrided(const int16_t* __restrict block, int16_t* pcm,
                                                int32_t stride, int count) {
    if (stride == 2) {
        for (int n = 0; n < count - 1; ++n) {
            uint32_t word;
            __builtin_memcpy(&word, pcm + 2 * n, 4);
            word = (word & 0xFFFF0000u) | static_cast<uint16_t>(block[n]);
            __builtin_memcpy(pcm + 2 * n, &word, 4);
        }
        pcm[2 * (count - 1)] = block[count - 1];
        return;
    }
    for (int n = 0; n < count; ++n) pcm[n * stride] = block[n];
}

// The short-block sum of samples 448 + 128 j + m for one half (64 samples)
// of the 128: the rising part of block j (window `rw`, from entry m0) plus
// the falling part of block j - 1 (short window `fw` read backwards from
// entry 127 - m0). Each part is FxMulQ31(y >> 5, window << 16). In the
// first half (m0 = 0) the rising y is ur[64 + m] and the falling y is
// -uf[63 - m]; in the second (m0 = 64) -ur[127 - m'] and -uf[m'] (m' = m - 64).
// On a vector target vr / vf view the blocks reversed, vr[i] = ur[127 - i],
// so that every run reads forwards.
template <bool kSecond>
[[gnu::always_inline]] inline int32_t shortRisePart(const int32_t* ur, const int32_t* vr,
                                                    const uint16_t* rw, int m) {
    const int32_t y = !kSecond ? ur[64 + m] : wrapNeg(kFxVectorTarget ? vr[m] : ur[127 - m]);
    return wrapDouble(FxMulHigh(y >> 5, static_cast<int32_t>(rw[(kSecond ? 64 : 0) + m]) << 16));
}
template <bool kSecond>
[[gnu::always_inline]] inline int32_t shortFallPart(const int32_t* uf, const int32_t* vf,
                                                    const uint16_t* fw, int m) {
    const int32_t y = kSecond ? wrapNeg(uf[m]) : wrapNeg(kFxVectorTarget ? vf[64 + m] : uf[63 - m]);
    return wrapDouble(FxMulHigh(y >> 5, static_cast<int32_t>(fw[(kSecond ? 63 : 127) - m]) << 16));
}

// One 64-sample run of the short-block sum s: to PCM, (ov + s) >> 5 truncated,
// or into the new overlap.
template <bool kSecond, bool kRise, bool kFall, bool kToPcm>
[[gnu::always_inline]] inline void shortRun(const int32_t* __restrict ur, const int32_t* __restrict vr,
                                            const uint16_t* rw, const int32_t* __restrict uf,
                                            const int32_t* __restrict vf, const uint16_t* fw,
                                            int32_t* __restrict ov, int16_t* __restrict dst,
                                            int32_t stride) {
    for (int m = 0; m < 64; ++m) {
        int32_t s = 0;
        if (kRise) s = shortRisePart<kSecond>(ur, vr, rw, m);
        if (kFall) s = wrapAdd(s, shortFallPart<kSecond>(uf, vf, fw, m));
        if (kToPcm)
            dst[m * stride] = saturatePcm(wrapAdd(ov[m], s) >> 5);
        else
            ov[m] = s;
    }
}

} // namespace

FX_VECTOR_CLONES void overlapAddLong(int32_t prevShape, int32_t sequence, int32_t shape,
                                     const int32_t* u, int32_t* overlap, int16_t* pcm, int32_t stride,
                                     int32_t* scratch) {
    // Scalar cores store with the stride as they go; vector targets write a
    // contiguous block (straight into pcm for one channel) and spread it after.
    const bool viaBlock = kFxVectorTarget && stride != 1;
    int16_t* block = reinterpret_cast<int16_t*>(scratch + 1024);
    int16_t* dst = viaBlock ? block : pcm;
    const int32_t dstStride = kFxVectorTarget ? 1 : stride;
    int32_t* rev = scratch;
    if (kFxVectorTarget)
        for (int i = 0; i < 1024; ++i) rev[i] = u[1023 - i];
    // All of the rising half reads the old overlap before the falling half replaces it.
    if (sequence == kLongStop) {
        rise<kPartZero>(u, rev, overlap, nullptr, 0, 448, dst, dstStride);
        rise<kPartTable>(u, rev, overlap, shortWindow(prevShape), 448, 576, dst, dstStride);
        rise<kPartOne>(u, rev, overlap, nullptr, 576, 1024, dst, dstStride);
    } else {
        rise<kPartTable>(u, rev, overlap, longWindow(prevShape), 0, 1024, dst, dstStride);
    }
    if (sequence == kLongStart) {
        fall<kPartOne>(u, rev, nullptr, 0, 448, overlap);
        fall<kPartTable>(u, rev, shortWindow(shape) + 128, 448, 576, overlap);
        fall<kPartZero>(u, rev, nullptr, 576, 1024, overlap);
    } else {
        fall<kPartTable>(u, rev, longWindow(shape) + 1024, 0, 1024, overlap);
    }
    if (viaBlock) storeStrided(block, pcm, stride, 1024);
}

FX_VECTOR_CLONES void overlapAddShort(int32_t prevShape, int32_t shape, const int32_t* u,
                                      int32_t* overlap, int16_t* pcm, int32_t stride, int32_t* scratch) {
    const bool viaBlock = kFxVectorTarget && stride != 1;
    int16_t* block = reinterpret_cast<int16_t*>(scratch + 1024);
    int16_t* dst = viaBlock ? block : pcm;
    const int32_t dstStride = kFxVectorTarget ? 1 : stride;
    // Samples 0..447 are the old overlap alone; they are read before block 4
    // on writes the new overlap over them.
    for (int n = 0; n < 448; ++n) dst[n * dstStride] = saturatePcm(overlap[n] >> 5);
    const uint16_t* fw = shortWindow(shape);
    const uint16_t* first = shortWindow(prevShape);
    // Block b and, on a vector target, its reversed view.
    int32_t* rev = scratch;
    if (kFxVectorTarget)
        for (int i = 0; i < 1024; ++i) rev[i] = u[1023 - i];
    auto ub = [&](int b) { return u + 128 * b; };
    auto vb = [&](int b) -> const int32_t* { return kFxVectorTarget ? rev + 896 - 128 * b : nullptr; };
    // Samples 448 + 128 j + m: rise of block j plus fall of block j - 1.
    int16_t* d = dst + 448 * dstStride;
    shortRun<false, true, false, true>(ub(0), vb(0), first, nullptr, nullptr, fw, overlap + 448, d, dstStride);
    shortRun<true, true, false, true>(ub(0), vb(0), first, nullptr, nullptr, fw, overlap + 512,
                                      d + 64 * dstStride, dstStride);
    for (int j = 1; j < 4; ++j) {
        int16_t* dj = dst + (448 + 128 * j) * dstStride;
        int32_t* oj = overlap + 448 + 128 * j;
        shortRun<false, true, true, true>(ub(j), vb(j), fw, ub(j - 1), vb(j - 1), fw, oj, dj, dstStride);
        shortRun<true, true, true, true>(ub(j), vb(j), fw, ub(j - 1), vb(j - 1), fw, oj + 64,
                                         dj + 64 * dstStride, dstStride);
    }
    // Block 4 crosses sample 1024: its first half ends the frame, the rest is new overlap.
    shortRun<false, true, true, true>(ub(4), vb(4), fw, ub(3), vb(3), fw, overlap + 960,
                                      dst + 960 * dstStride, dstStride);
    shortRun<true, true, true, false>(ub(4), vb(4), fw, ub(3), vb(3), fw, overlap, nullptr, 0);
    for (int j = 5; j < 8; ++j) {
        int32_t* oj = overlap + 128 * j - 576;
        shortRun<false, true, true, false>(ub(j), vb(j), fw, ub(j - 1), vb(j - 1), fw, oj, nullptr, 0);
        shortRun<true, true, true, false>(ub(j), vb(j), fw, ub(j - 1), vb(j - 1), fw, oj + 64, nullptr, 0);
    }
    shortRun<false, false, true, false>(nullptr, nullptr, fw, ub(7), vb(7), fw, overlap + 448, nullptr, 0);
    shortRun<true, false, true, false>(nullptr, nullptr, fw, ub(7), vb(7), fw, overlap + 512, nullptr, 0);
    for (int n = 576; n < 1024; ++n) overlap[n] = 0;
    if (viaBlock) storeStrided(block, pcm, stride, 1024);
}

void dct4Long(int32_t* data, int32_t* work) { dct4<1024>(data, work); }
void dct4Short(int32_t* data, int32_t* work) { dct4<128>(data, work); }

void synthesiseChannel(int32_t prevShape, int32_t windowSequence, int32_t shape, int32_t* spectrum,
                       int32_t* scratch, int32_t* overlap, int16_t* pcm, int32_t stride) {
    // The transform's work area is free again for the windowing afterwards.
    if (windowSequence == kEightShort) {
        for (int w = 0; w < 8; ++w) dct4<128>(spectrum + 128 * w, scratch);
        overlapAddShort(prevShape, shape, spectrum, overlap, pcm, stride, scratch);
    } else {
        dct4<1024>(spectrum, scratch);
        overlapAddLong(prevShape, windowSequence, shape, spectrum, overlap, pcm, stride, scratch);
    }
}

void forwardMdct(const int32_t* input, int32_t* output, int32_t* fftScratch) {
    // Fold the 2048 inputs onto the DCT-IV input (transpose of the IMDCT fold).
    for (int m = 0; m < 512; ++m)
        output[m] = wrapSub(wrapNeg(input[1535 - m]), input[1536 + m]);
    for (int m = 512; m < 1024; ++m) output[m] = wrapSub(input[m - 512], input[1535 - m]);
    dct4<1024>(output, fftScratch);
}
