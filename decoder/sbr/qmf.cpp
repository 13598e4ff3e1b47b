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
#include <cstdint>
#include <utility>

#include "sbr/qmf_window.h"
#include "sbr/sbr_internal.h"

#if defined(__ARM_FEATURE_DSP)
#include <arm_acle.h>
#endif

namespace {

constexpr int32_t kRingSlots = 10;

// High word of the product: a * b / 2 for a Q31 factor b.
inline int32_t mulHigh(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 32);
}

inline int32_t wrapNeg(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }
inline int32_t wrapDouble(int32_t a) { return static_cast<int32_t>(static_cast<uint32_t>(a) << 1); }

// acc + (a * b[15:0]) >> 16 and acc + (a * b[31:16]) >> 16: one DSP
// instruction each on the target.
inline int32_t macLow(int32_t acc, int32_t a, uint32_t b) {
#if defined(__ARM_FEATURE_DSP)
    return __smlawb(a, static_cast<int32_t>(b), acc);
#else
    return acc + static_cast<int32_t>((static_cast<int64_t>(a) * static_cast<int16_t>(b)) >> 16);
#endif
}
inline int32_t macHigh(int32_t acc, int32_t a, uint32_t b) {
#if defined(__ARM_FEATURE_DSP)
    return __smlawt(a, static_cast<int32_t>(b), acc);
#else
    return acc + static_cast<int32_t>((static_cast<int64_t>(a) * static_cast<int16_t>(b >> 16)) >> 16);
#endif
}

// cos and sin of pi k / 128 in Q31.
inline int32_t cosPi128(int k) { return kSbrQmfCos[k]; }
inline int32_t sinPi128(int k) { return kSbrQmfCos[64 - k]; }

// (a + ib) e^(-i pi k / 128), halved by the high-word products.
inline void rotateHalf(int32_t a, int32_t b, int k, int32_t& re, int32_t& im) {
    const int64_t c = cosPi128(k), s = sinPi128(k);
    re = static_cast<int32_t>((a * c + b * s) >> 32);
    im = static_cast<int32_t>((b * c - a * s) >> 32);
}

constexpr int bitReverse(int v, int bits) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((v >> b) & 1) << (bits - 1 - b);
    return r;
}
constexpr int log2Of(int n) { return n <= 1 ? 0 : 1 + log2Of(n / 2); }

// In-place K-point complex FFT, input in bit-reversed order, radix 2 with
// each stage halved: the result is the DFT / K.
template <int K>
inline void fftHalving(int32_t* re, int32_t* im) {
    for (int h = 1; h < K; h <<= 1) {
        for (int g = 0; g < K; g += 2 * h) {
            for (int j = 0; j < h; ++j) {
                const int32_t br = re[g + h + j], bi = im[g + h + j];
                int32_t tr, ti;
                if (j == 0) {
                    tr = br >> 1;
                    ti = bi >> 1;
                } else if (2 * j == h) { // times -i
                    tr = bi >> 1;
                    ti = wrapNeg(br >> 1);
                } else if (2 * j < h) {
                    rotateHalf(br, bi, 128 * j / h, tr, ti);
                } else { // -i times the rotation by the angle less a quarter turn
                    int32_t r, i;
                    rotateHalf(br, bi, 128 * j / h - 64, r, i);
                    tr = i;
                    ti = wrapNeg(r);
                }
                const int32_t ar = re[g + j] >> 1, ai = im[g + j] >> 1;
                re[g + j] = ar + tr;
                im[g + j] = ai + ti;
                re[g + h + j] = ar - tr;
                im[g + h + j] = ai - ti;
            }
        }
    }
}

// out(j) = sum in(k) cos(pi (2k+1)(2j+1) / (4M)) / M.
template <int M>
inline void dct4(const int32_t* in, int32_t* out) {
    constexpr int K = M / 2;
    int32_t re[K], im[K];
    for (int n = 0; n < K; ++n) {
        const int r = bitReverse(n, log2Of(K));
        rotateHalf(in[2 * n], in[M - 1 - 2 * n], 32 * (4 * n + 1) / M, re[r], im[r]);
    }
    fftHalving<K>(re, im);
    out[0] = re[0];
    out[M - 1] = wrapNeg(im[0]);
    for (int m = 1; m < K; ++m) {
        int32_t ur, ui;
        rotateHalf(re[m], im[m], 128 * m / M, ur, ui);
        out[2 * m] = wrapDouble(ur);
        out[M - 1 - 2 * m] = wrapNeg(wrapDouble(ui));
    }
}

// out(k) = sum in(n) cos(pi (2k+1) n / (2N)) / N (weight 1 on in(0)).
template <int N>
inline void dct3(const int32_t* in, int32_t* out) {
    if constexpr (N == 2) {
        const int32_t a = in[0] >> 1, b = mulHigh(in[1], cosPi128(32));
        out[0] = a + b;
        out[1] = a - b;
    } else {
        constexpr int H = N / 2;
        int32_t even[H], odd[H], e[H], o[H];
        for (int m = 0; m < H; ++m) {
            even[m] = in[2 * m];
            odd[m] = in[2 * m + 1];
        }
        dct3<H>(even, e);
        dct4<H>(odd, o);
        for (int k = 0; k < H; ++k) {
            const int32_t a = e[k] >> 1, b = o[k] >> 1;
            out[k] = a + b;
            out[N - 1 - k] = a - b;
        }
    }
}

// out(j) = sum in(k * stride) cos(pi (2k+1) j / (2N)) / N.
template <int N>
inline void dct2(const int32_t* in, int32_t stride, int32_t* out) {
    if constexpr (N == 2) {
        const int32_t c = cosPi128(32);
        out[0] = (in[0] >> 1) + (in[stride] >> 1);
        out[1] = mulHigh(in[0], c) - mulHigh(in[stride], c);
    } else {
        constexpr int H = N / 2;
        int32_t sum[H], diff[H], e[H], o[H];
        for (int k = 0; k < H; ++k) {
            const int32_t a = in[k * stride] >> 1, b = in[(N - 1 - k) * stride] >> 1;
            sum[k] = a + b;
            diff[k] = a - b;
        }
        dct2<H>(sum, 1, e);
        dct4<H>(diff, o);
        for (int j = 0; j < H; ++j) {
            out[2 * j] = e[j];
            out[2 * j + 1] = o[j];
        }
    }
}

// a << S, saturated to the int32 range.
template <int S>
inline int32_t shiftLeftSat(int32_t a) {
    const int32_t sign = a >> 31;
    if ((a >> (31 - S)) != sign) return sign ^ INT32_MAX;
    return static_cast<int32_t>(static_cast<uint32_t>(a) << S);
}

// The window sum, in units of 2^-13 output LSB, rounded and saturated; the
// same as (2 sum + 8192) >> 14 without the doubling's overflow.
inline int16_t pcmFromSum(int32_t sum) {
    const int32_t v = (sum + 4096) >> 13;
    return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

// ---- Analysis ----

// Folded value y(n) from the slot's newest sample x[0] (x[-m] = x(m)): sums
// of (Q31 coefficient * sample) >> 16 taps, halved. `c` walks the window in
// the generated order.
inline int32_t foldOne(const int16_t* x, const int32_t*& c) {
    int32_t acc = 0;
    for (int j = 0; j < 5; ++j) acc = macLow(acc, c[j], x[-(64 * j + 48)]);
    c += 5;
    return acc >> 1;
}

inline int32_t foldPair(const int16_t* x, int first, int second, const int32_t*& c) {
    int32_t acc = 0;
    for (int j = 0; j < 5; ++j) {
        acc = macLow(acc, c[0], x[-(64 * j + first)]);
        acc = macLow(acc, c[1], x[-(64 * j + second)]);
        c += 2;
    }
    return acc >> 1;
}

void analyseSlot(const int16_t* x, int32_t* column) {
    int32_t y[32], X[32];
    const int32_t* c = kSbrQmfAnalysisWindow;
    y[0] = foldOne(x, c);
    for (int n = 1; n < 16; ++n) y[n] = foldPair(x, 48 + n, 48 - n, c);
    y[16] = foldPair(x, 32, 0, c);
    for (int n = 17; n < 32; ++n) y[n] = foldPair(x, 48 - n, n - 16, c);
    dct3<32>(y, X);
    for (int k = 0; k < 32; ++k) column[k * kSbrQmfColumns] = X[k];
}

// ---- Synthesis ----

// One slot's N output samples from the ring, whose current slot is block Pos.
template <int N, int Pos>
void windowSlot(const int32_t* ring, int16_t* pcm, int32_t stride) {
    constexpr int H = N / 2;
    constexpr int kStep = 10 * (64 / N); // window words between output pairs
    // Ring offset of the slot of age a.
    constexpr auto at = [](int a) { return ((Pos - a + kRingSlots) % kRingSlots) * N; };
    const uint32_t* w = kSbrQmfSynthesisWindow;
    {
        int32_t acc0 = 0, accH = 0;
        for (int j = 0; j < 5; ++j) {
            acc0 = macLow(acc0, ring[at(2 * j) + H], w[2 * j]);
            accH = macHigh(accH, ring[at(2 * j)], w[2 * j]);
            acc0 = macLow(acc0, ring[at(2 * j + 1) + H], w[2 * j + 1]);
        }
        pcm[0] = pcmFromSum(acc0);
        pcm[H * stride] = pcmFromSum(accH);
    }
    for (int q = 1; q < H; ++q) {
        w += kStep;
        const int32_t* a = ring + H - q;
        const int32_t* b = ring + H + q;
        int32_t acc0 = 0, acc1 = 0;
        for (int j = 0; j < 5; ++j) {
            const int32_t va = a[at(2 * j)], vb = b[at(2 * j + 1)];
            acc0 = macLow(acc0, va, w[2 * j]);
            acc1 = macHigh(acc1, va, w[2 * j]);
            acc0 = macLow(acc0, vb, w[2 * j + 1]);
            acc1 = macHigh(acc1, vb, w[2 * j + 1]);
        }
        pcm[q * stride] = pcmFromSum(acc0);
        pcm[(N - q) * stride] = pcmFromSum(acc1);
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
void synthesise(int32_t* ring, const int32_t* matrix, int16_t* pcm, int32_t channels, uint8_t* pos) {
    static constexpr auto kWindows = windowTable<N>(std::make_integer_sequence<int, kRingSlots>());
    int32_t p = *pos < kRingSlots ? *pos : 0;
    for (int32_t i = 0; i < kSbrSlots; ++i) {
        int32_t v[N];
        dct2<N>(matrix + kSbrAdjustOffset + i, kSbrQmfColumns, v);
        int32_t* block = ring + p * N;
        for (int k = 0; k < N; ++k) block[k] = shiftLeftSat<log2Of(N) + 1>(v[k]);
        kWindows.fn[p](ring, pcm + i * N * channels, channels);
        p = p + 1 == kRingSlots ? 0 : p + 1;
    }
    *pos = static_cast<uint8_t>(p);
}

} // namespace

void SbrQmfAnalysis(SbrChannelState* s, const int16_t* pcm, int32_t* matrix, int32_t channels) {
    constexpr int32_t kHistory = 32 * kRingSlots;
    int16_t* ring = s->analysisHistory;
    int32_t p = s->analysisPos < kRingSlots ? s->analysisPos : 0;

    // The history in time order, then the frame: no slot needs to wrap.
    int16_t work[kHistory + 32 * kSbrSlots];
    for (int32_t b = 0, r = p; b < kRingSlots; ++b, r = r + 1 == kRingSlots ? 0 : r + 1)
        for (int32_t j = 0; j < 32; ++j) work[32 * b + j] = ring[32 * r + j];
    for (int32_t t = 0; t < 32 * kSbrSlots; ++t) work[kHistory + t] = pcm[t * channels];

    for (int32_t i = 0; i < kSbrSlots; ++i)
        analyseSlot(work + kHistory + 32 * i + 31, matrix + kSbrHistoryColumns + i);

    // Each ring block ends up holding the last slot written at its position,
    // which for the last ten slots starts 22 positions on.
    p = (p + (kSbrSlots - kRingSlots)) % kRingSlots;
    for (int32_t i = kSbrSlots - kRingSlots; i < kSbrSlots; ++i) {
        for (int32_t j = 0; j < 32; ++j) ring[32 * p + j] = work[kHistory + 32 * i + j];
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
