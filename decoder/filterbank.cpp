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
inline int32_t mulHigh(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 32);
}

// (b + je) e^(-j theta), c = cos theta and s = sin theta both >= 0 in Q31.
// Three high-word products, as the conjugate of (b - je)(c + js); c - s
// cannot overflow for a first-quadrant angle.
inline void rotate(int32_t b, int32_t e, int32_t c, int32_t s, int32_t& re, int32_t& im) {
    const int32_t en = wrapNeg(e);
    const int32_t hi = mulHigh(b, c);
    const int32_t t = mulHigh(en, s);
    const int32_t x = mulHigh(wrapSub(en, b), c - s);
    re = wrapDouble(wrapSub(hi, t));
    im = wrapNeg(wrapDouble(wrapAdd(wrapAdd(hi, t), x)));
}

// x * sqrt(1/2), high word doubled; the sum is formed in 64 bits.
inline int32_t mulSqrtHalf(int64_t x) {
    return wrapDouble(static_cast<int32_t>((x * kFftCos[64]) >> 32));
}

// In-place forward FFT of M points (re / im split), input in bit-reversed
// order, radix 2, decimation in time, no scaling.
template <int M>
FX_VECTOR_CLONES void fft(int32_t* __restrict re, int32_t* __restrict im) {
    for (int i = 0; i < M; i += 2) {
        const int32_t ar = re[i], ai = im[i], br = re[i + 1], bi = im[i + 1];
        re[i] = wrapAdd(ar, br);
        im[i] = wrapAdd(ai, bi);
        re[i + 1] = wrapSub(ar, br);
        im[i + 1] = wrapSub(ai, bi);
    }
    // Span 4: the odd butterfly multiplies by -j, a swap.
    for (int g = 0; g < M; g += 4) {
        int32_t ar = re[g], ai = im[g], br = re[g + 2], bi = im[g + 2];
        re[g] = wrapAdd(ar, br);
        im[g] = wrapAdd(ai, bi);
        re[g + 2] = wrapSub(ar, br);
        im[g + 2] = wrapSub(ai, bi);
        ar = re[g + 1], ai = im[g + 1], br = re[g + 3], bi = im[g + 3];
        re[g + 1] = wrapAdd(ar, bi);
        im[g + 1] = wrapSub(ai, br);
        re[g + 3] = wrapSub(ar, bi);
        im[g + 3] = wrapAdd(ai, br);
    }
    // Span 8: twiddles 1, (1 - j)/sqrt2, -j, (-1 - j)/sqrt2.
    for (int g = 0; g < M; g += 8) {
        for (int j = 0; j < 4; ++j) {
            const int32_t br = re[g + 4 + j], bi = im[g + 4 + j];
            int32_t tr, ti;
            switch (j) {
            case 0: tr = br; ti = bi; break;
            case 1:
                tr = mulSqrtHalf(static_cast<int64_t>(br) + bi);
                ti = mulSqrtHalf(static_cast<int64_t>(bi) - br);
                break;
            case 2: tr = bi; ti = wrapNeg(br); break;
            default:
                tr = mulSqrtHalf(static_cast<int64_t>(bi) - br);
                ti = mulSqrtHalf(-static_cast<int64_t>(bi) - br);
                break;
            }
            const int32_t ar = re[g + j], ai = im[g + j];
            re[g + j] = wrapAdd(ar, tr);
            im[g + j] = wrapAdd(ai, ti);
            re[g + 4 + j] = wrapSub(ar, tr);
            im[g + 4 + j] = wrapSub(ai, ti);
        }
    }
    // General stages: twiddle angle pi j / h from the quarter-wave table; the
    // second quarter of each span uses the same angle times -j.
    for (int h = 8; h < M; h <<= 1) {
        const int step = 256 >> __builtin_ctz(static_cast<unsigned>(h)); // h is a power of two
        const int quarter = h / 2;
        int32_t tc[128], ts[128];
        for (int j = 0; j < quarter; ++j) {
            tc[j] = kFftCos[j * step];
            ts[j] = kFftCos[128 - j * step];
        }
        for (int g = 0; g < M; g += 2 * h) {
            int32_t* __restrict ar = re + g;
            int32_t* __restrict ai = im + g;
            int32_t* __restrict br = re + g + h;
            int32_t* __restrict bi = im + g + h;
            for (int j = 0; j < quarter; ++j) {
                int32_t tr, ti;
                rotate(br[j], bi[j], tc[j], ts[j], tr, ti);
                const int32_t xr = ar[j], xi = ai[j];
                ar[j] = wrapAdd(xr, tr);
                ai[j] = wrapAdd(xi, ti);
                br[j] = wrapSub(xr, tr);
                bi[j] = wrapSub(xi, ti);
            }
            for (int j = 0; j < quarter; ++j) {
                int32_t tr, ti;
                rotate(br[quarter + j], bi[quarter + j], tc[j], ts[j], tr, ti);
                // times -j: (tr + j ti)(-j) = ti - j tr
                const int32_t xr = ar[quarter + j], xi = ai[quarter + j];
                ar[quarter + j] = wrapAdd(xr, ti);
                ai[quarter + j] = wrapSub(xi, tr);
                br[quarter + j] = wrapSub(xr, ti);
                bi[quarter + j] = wrapAdd(xi, tr);
            }
        }
    }
}

// Unscaled DCT-IV of N values in place:
// u[n] = sum X[k] cos(pi/N (n + 1/2)(k + 1/2)). `work` holds N words.
template <int N>
FX_VECTOR_CLONES void dct4(int32_t* data, int32_t* work) {
    constexpr int M = N / 2;
    const int32_t* cosTab = N == 1024 ? kTwiddleCos1024 : kTwiddleCos128;
    const int32_t* sinTab = N == 1024 ? kTwiddleSin1024 : kTwiddleSin128;
    int32_t* re = work;
    int32_t* im = work + M;
    for (int k = 0; k < M; ++k) {
        const int r = N == 1024 ? (kBitReverse[k & 0xFF] << 1) | (k >> 8) : kBitReverse[k << 2];
        rotate(data[2 * k], data[N - 1 - 2 * k], cosTab[k], sinTab[k], re[r], im[r]);
    }
    fft<M>(re, im);
    for (int p = 0; p < M; ++p) {
        int32_t r, i;
        rotate(re[p], im[p], cosTab[p], sinTab[p], r, i);
        data[2 * p] = r;
        data[N - 1 - 2 * p] = wrapNeg(i);
    }
}

// (a * w) >> 16 for a 16-bit unsigned window value w <= 32768 (exact: on a
// 32-bit core the same value comes from the two 16-bit halves of a).
inline int32_t mulWindow(int32_t a, uint32_t w) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * static_cast<int32_t>(w)) >> 16);
}

inline int16_t saturatePcm(int32_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : v < -32767 ? -32767 : v);
}

const uint16_t* longWindow(int32_t shape) { return shape == 1 ? kKbdLong : kSineLong; }
const uint16_t* shortWindow(int32_t shape) { return shape == 1 ? kKbdShort : kSineShort; }

constexpr uint16_t kOne = 32768;

// Left (rising) and right (falling) windows of a long-transform frame.
void buildLongWindows(int32_t prevShape, int32_t sequence, int32_t shape, uint16_t* left,
                      uint16_t* right) {
    if (sequence == kLongStop) {
        const uint16_t* s = shortWindow(prevShape);
        for (int n = 0; n < 448; ++n) left[n] = 0;
        for (int n = 0; n < 128; ++n) left[448 + n] = s[n];
        for (int n = 576; n < 1024; ++n) left[n] = kOne;
    } else {
        const uint16_t* l = longWindow(prevShape);
        for (int n = 0; n < 1024; ++n) left[n] = l[n];
    }
    if (sequence == kLongStart) {
        const uint16_t* s = shortWindow(shape);
        for (int n = 0; n < 448; ++n) right[n] = kOne;
        for (int n = 0; n < 128; ++n) right[448 + n] = s[127 - n];
        for (int n = 576; n < 1024; ++n) right[n] = 0;
    } else {
        const uint16_t* l = longWindow(shape);
        for (int n = 0; n < 1024; ++n) right[n] = l[1023 - n];
    }
}

FX_VECTOR_CLONES void synthesiseLong(int32_t prevShape, int32_t sequence, int32_t shape, int32_t* spectrum,
                    int32_t* scratch, int32_t* __restrict overlap, int16_t* pcm, int32_t stride) {
    dct4<1024>(spectrum, scratch);
    const int32_t* __restrict u = spectrum;
    uint16_t left[1024], right[1024];
    buildLongWindows(prevShape, sequence, shape, left, right);

    // IMDCT y[n] from the DCT-IV u: y[n] = u[512 + n] and y[1024 + n] = -u[511 - n]
    // for n < 512; y[n] = -u[1535 - n] and y[1024 + n] = -u[n - 512] above.
    int32_t* __restrict out = scratch;
    for (int n = 0; n < 512; ++n) {
        const int32_t yl = u[512 + n];
        const int32_t yr = wrapNeg(u[511 - n]);
        out[n] = (overlap[n] + mulWindow(yl >> 7, left[n]) + 16) >> 5;
        overlap[n] = mulWindow(yr >> 7, right[n]);
    }
    for (int n = 512; n < 1024; ++n) {
        const int32_t yl = wrapNeg(u[1535 - n]);
        const int32_t yr = wrapNeg(u[n - 512]);
        out[n] = (overlap[n] + mulWindow(yl >> 7, left[n]) + 16) >> 5;
        overlap[n] = mulWindow(yr >> 7, right[n]);
    }
    for (int n = 0; n < 1024; ++n) pcm[n * stride] = saturatePcm(out[n]);
}

void synthesiseShort(int32_t prevShape, int32_t shape, int32_t* spectrum, int32_t* scratch,
                     int32_t* __restrict overlap, int16_t* pcm, int32_t stride) {
    for (int w = 0; w < 8; ++w) dct4<128>(spectrum + 128 * w, scratch);

    // Sum of the windowed blocks from sample 448 on; block w starts at 128 w.
    int32_t* __restrict acc = scratch;
    for (int i = 0; i < 1152; ++i) acc[i] = 0;
    const uint16_t* fall = shortWindow(shape);
    for (int w = 0; w < 8; ++w) {
        const int32_t* __restrict u = spectrum + 128 * w;
        const uint16_t* rise = shortWindow(w == 0 ? prevShape : shape);
        int32_t* __restrict a = acc + 128 * w;
        // y[m] = u[64 + m] (m < 64), -u[191 - m] (64 <= m < 192), -u[m - 192] above;
        // the block value is FxMulQ31(y >> 5, window << 16).
        for (int m = 0; m < 64; ++m)
            a[m] += wrapDouble(mulWindow(u[64 + m] >> 5, rise[m]));
        for (int m = 64; m < 128; ++m)
            a[m] += wrapDouble(mulWindow(wrapNeg(u[191 - m]) >> 5, rise[m]));
        for (int m = 128; m < 192; ++m)
            a[m] += wrapDouble(mulWindow(wrapNeg(u[191 - m]) >> 5, fall[255 - m]));
        for (int m = 192; m < 256; ++m)
            a[m] += wrapDouble(mulWindow(wrapNeg(u[m - 192]) >> 5, fall[255 - m]));
    }
    for (int n = 0; n < 448; ++n) pcm[n * stride] = saturatePcm(overlap[n] >> 5);
    for (int n = 448; n < 1024; ++n)
        pcm[n * stride] = saturatePcm(wrapAdd(overlap[n], acc[n - 448]) >> 5);
    for (int n = 0; n < 576; ++n) overlap[n] = acc[576 + n];
    for (int n = 576; n < 1024; ++n) overlap[n] = 0;
}

} // namespace

void synthesiseChannel(int32_t prevShape, int32_t windowSequence, int32_t shape, int32_t* spectrum,
                       int32_t* scratch, int32_t* overlap, int16_t* pcm, int32_t stride) {
    if (windowSequence == kEightShort)
        synthesiseShort(prevShape, shape, spectrum, scratch, overlap, pcm, stride);
    else
        synthesiseLong(prevShape, windowSequence, shape, spectrum, scratch, overlap, pcm, stride);
}

void forwardMdct(const int32_t* input, int32_t* output, int32_t* fftScratch) {
    // Fold the 2048 inputs onto the DCT-IV input (transpose of the IMDCT fold).
    for (int m = 0; m < 512; ++m)
        output[m] = wrapSub(wrapNeg(input[1535 - m]), input[1536 + m]);
    for (int m = 512; m < 1024; ++m) output[m] = wrapSub(input[m - 512], input[1535 - m]);
    dct4<1024>(output, fftScratch);
}
