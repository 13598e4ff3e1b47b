// Filterbank and forward MDCT against a double-precision model of the
// windowed, overlap-added transform of ISO/IEC 14496-3.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "element.h"
#include "filterbank.h"
#include "recon_tables.h"

namespace {

double besselI0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 200; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

// Rising half of the KBD window of `half` values.
std::vector<double> kbd(int half, double alpha) {
    std::vector<double> kernel(half + 1);
    double total = 0;
    for (int p = 0; p <= half; ++p) {
        const double r = (p - half / 2.0) / (half / 2.0);
        kernel[p] = besselI0(M_PI * alpha * std::sqrt(std::max(0.0, 1 - r * r)));
        total += kernel[p];
    }
    std::vector<double> w(half);
    double acc = 0;
    for (int n = 0; n < half; ++n) {
        acc += kernel[n];
        w[n] = std::sqrt(acc / total);
    }
    return w;
}

std::vector<double> sine(int half) {
    std::vector<double> w(half);
    for (int n = 0; n < half; ++n) w[n] = std::sin(M_PI * (n + 0.5) / (2 * half));
    return w;
}

struct Windows {
    std::vector<double> longW[2] = {sine(1024), kbd(1024, 4)};
    std::vector<double> shortW[2] = {sine(128), kbd(128, 6)};
};

const Windows& windows() {
    static const Windows w;
    return w;
}

TEST(WindowTables, WithinOneUnitOfTheIsoWindows) {
    const Windows& w = windows();
    const uint16_t* tables[4] = {kSineLong, kKbdLong, kSineShort, kKbdShort};
    const std::vector<double>* ref[4] = {&w.longW[0], &w.longW[1], &w.shortW[0], &w.shortW[1]};
    for (int t = 0; t < 4; ++t) {
        for (size_t n = 0; n < ref[t]->size(); ++n) {
            EXPECT_NEAR(tables[t][n], (*ref[t])[n] * 32768.0, 1.0) << "table " << t << " n " << n;
            EXPECT_LE(tables[t][n], 32767);
        }
    }
    // Power complementarity of the halves (Princen-Bradley), as a check of the model.
    for (int n = 0; n < 1024; ++n)
        EXPECT_NEAR(w.longW[1][n] * w.longW[1][n] + w.longW[1][1023 - n] * w.longW[1][1023 - n], 1.0, 1e-12);
}

// Double model of one channel: ISO IMDCT (with the 2/N factor) of spectrum / 8,
// windowing and overlap-add.
struct ModelChannel {
    std::vector<double> overlap = std::vector<double>(1024, 0.0);
    int prevShape = 0;

    std::vector<double> frame(const std::vector<int32_t>& spectrum, int seq, int shape) {
        const Windows& w = windows();
        std::vector<double> out(2048, 0.0);
        if (seq == kEightShort) {
            for (int b = 0; b < 8; ++b) {
                const std::vector<double>& rise = w.shortW[b == 0 ? prevShape : shape];
                const std::vector<double>& fall = w.shortW[shape];
                for (int n = 0; n < 256; ++n) {
                    double x = 0;
                    for (int k = 0; k < 128; ++k)
                        x += spectrum[128 * b + k] / 8.0 *
                             std::cos(2 * M_PI / 256 * (n + 64.5) * (k + 0.5));
                    x *= 2.0 / 256;
                    const double win = n < 128 ? rise[n] : fall[255 - n];
                    out[448 + 128 * b + n] += x * win;
                }
            }
        } else {
            std::vector<double> win(2048);
            const std::vector<double>& lp = w.longW[prevShape];
            const std::vector<double>& sp = w.shortW[prevShape];
            const std::vector<double>& lc = w.longW[shape];
            const std::vector<double>& sc = w.shortW[shape];
            for (int n = 0; n < 1024; ++n) {
                if (seq == kLongStop)
                    win[n] = n < 448 ? 0 : n < 576 ? sp[n - 448] : 1;
                else
                    win[n] = lp[n];
                if (seq == kLongStart)
                    win[1024 + n] = n < 448 ? 1 : n < 576 ? sc[127 - (n - 448)] : 0;
                else
                    win[1024 + n] = lc[1023 - n];
            }
            for (int n = 0; n < 2048; ++n) {
                double x = 0;
                for (int k = 0; k < 1024; ++k) {
                    // angle = 2 pi / 2048 (n + 512.5)(k + 1/2), reduced exactly
                    const int64_t m = static_cast<int64_t>(2 * n + 1025) * (2 * k + 1) % 8192;
                    x += spectrum[k] / 8.0 * std::cos(M_PI * m / 4096);
                }
                out[n] = x * (2.0 / 2048) * win[n];
            }
        }
        std::vector<double> pcm(1024);
        for (int n = 0; n < 1024; ++n) {
            pcm[n] = overlap[n] + out[n];
            overlap[n] = out[1024 + n];
        }
        prevShape = shape;
        return pcm;
    }
};

struct FixedChannel {
    std::vector<int32_t> overlap = std::vector<int32_t>(1024, 0);
    std::vector<int32_t> scratch = std::vector<int32_t>(2048, 0);
    int prevShape = 0;

    std::vector<int16_t> frame(std::vector<int32_t> spectrum, int seq, int shape, int stride = 1) {
        std::vector<int16_t> pcm(1024 * stride, 0x5555);
        synthesiseChannel(prevShape, seq, shape, spectrum.data(), scratch.data(), overlap.data(),
                          pcm.data(), stride);
        prevShape = shape;
        std::vector<int16_t> out(1024);
        for (int n = 0; n < 1024; ++n) out[n] = pcm[n * stride];
        return out;
    }
};

std::vector<int32_t> randomSpectrum(std::mt19937& rng, int32_t amplitude) {
    std::uniform_int_distribution<int32_t> dist(-amplitude, amplitude);
    std::vector<int32_t> s(1024);
    for (auto& v : s) v = dist(rng);
    return s;
}

TEST(Filterbank, AllZeroSpectrumGivesZeroPcm) {
    FixedChannel ch;
    for (int seq : {kOnlyLong, kLongStart, kEightShort, kLongStop}) {
        const auto pcm = ch.frame(std::vector<int32_t>(1024, 0), seq, 1, 2);
        for (int16_t v : pcm) ASSERT_EQ(v, 0);
    }
}

TEST(Filterbank, MatchesModelAcrossWindowSequencesAndShapes) {
    std::mt19937 rng(5);
    FixedChannel fixed;
    ModelChannel model;
    const int seqs[] = {kOnlyLong, kOnlyLong, kLongStart, kEightShort, kEightShort, kLongStop, kOnlyLong};
    const int shapes[] = {0, 1, 1, 0, 1, 0, 1};
    double worst = 0, sumSq = 0;
    int count = 0;
    for (int f = 0; f < 7; ++f) {
        const auto spectrum = randomSpectrum(rng, seqs[f] == kEightShort ? 1 << 19 : 1 << 20);
        const auto got = fixed.frame(spectrum, seqs[f], shapes[f]);
        const auto want = model.frame(spectrum, seqs[f], shapes[f]);
        double peak = 0, offset = 0;
        for (int n = 0; n < 1024; ++n) {
            offset += (got[n] - want[n]) / 1024.0;
            const double d = std::fabs(got[n] - want[n]);
            worst = std::max(worst, d);
            sumSq += d * d;
            ++count;
            peak = std::max(peak, std::fabs(want[n]));
            ASSERT_LE(d, 1.5) << "frame " << f << " sample " << n;
        }
        // Long-window output rounds (no offset); eight-short output truncates,
        // half an LSB low on average.
        if (seqs[f] == kEightShort)
            EXPECT_NEAR(offset, -0.5, 0.1) << "frame " << f;
        else
            EXPECT_NEAR(offset, 0.0, 0.06) << "frame " << f;
        EXPECT_GT(peak, 1000.0); // the signal is not trivially small
        EXPECT_LT(peak, 32000.0);
    }
    EXPECT_LT(std::sqrt(sumSq / count), 0.6) << "max " << worst;
}

TEST(Filterbank, SaturatesAtPlusAndMinus32767) {
    std::mt19937 rng(9);
    for (int seq : {kOnlyLong, kEightShort}) {
        FixedChannel ch;
        bool high = false, low = false;
        for (int f = 0; f < 3; ++f) {
            const auto pcm = ch.frame(randomSpectrum(rng, 1 << 23), seq, 0);
            for (int16_t v : pcm) {
                ASSERT_NE(v, -32768);
                high |= v == 32767;
                low |= v == -32767;
            }
        }
        EXPECT_TRUE(high);
        EXPECT_TRUE(low);
    }
}

TEST(ForwardMdct, MatchesDirectFormula) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int32_t> dist(-(1 << 20), 1 << 20);
    std::vector<int32_t> in(2048), out(1024), scratch(1024);
    for (auto& v : in) v = dist(rng);
    const std::vector<int32_t> copy = in;
    forwardMdct(in.data(), out.data(), scratch.data());
    EXPECT_EQ(in, copy);
    double worst = 0, peak = 0;
    for (int k = 0; k < 1024; ++k) {
        double x = 0;
        for (int n = 0; n < 2048; ++n) {
            const int64_t m = static_cast<int64_t>(2 * n + 1025) * (2 * k + 1) % 8192;
            x += in[n] * std::cos(M_PI * m / 4096);
        }
        worst = std::max(worst, std::fabs(out[k] - x));
        peak = std::max(peak, std::fabs(x));
    }
    EXPECT_GT(peak, 1e7);
    // High-word truncation in the rotations: about 3e-5 of the peak.
    EXPECT_LT(worst, 1e-4 * peak) << "peak " << peak;
}


// Plain reference versions of the filterbank's kernels: one radix-2 stage
// loop with the twiddle of each butterfly spelled out, windows built as
// arrays, 64-bit window products. The fast kernels must match them bit for bit.
namespace ref {

int32_t wrapAdd(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
int32_t wrapSub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
int32_t wrapNeg(int32_t a) { return wrapSub(0, a); }
int32_t wrapDouble(int32_t a) { return static_cast<int32_t>(static_cast<uint32_t>(a) << 1); }
int32_t mulHigh(int32_t a, int32_t b) { return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 32); }

// (b + je) e^(-j theta) with three high-word products.
void rotate(int32_t b, int32_t e, int32_t c, int32_t s, int32_t& re, int32_t& im) {
    const int32_t en = wrapNeg(e);
    const int32_t hi = mulHigh(b, c);
    const int32_t t = mulHigh(en, s);
    const int32_t x = mulHigh(wrapSub(en, b), c - s);
    re = wrapDouble(wrapSub(hi, t));
    im = wrapNeg(wrapDouble(wrapAdd(wrapAdd(hi, t), x)));
}

int32_t mulSqrtHalf(int64_t x) { return wrapDouble(static_cast<int32_t>((x * kFftCos[64]) >> 32)); }

// The twiddled odd input of butterfly j of a stage with span h.
void twiddle(int h, int j, int32_t br, int32_t bi, int32_t& tr, int32_t& ti) {
    // Spans 1, 2 and 4 take their exact twiddles 1, -j and the sqrt(1/2)
    // products; wider spans rotate even at angle 0 (cos 0 is just below 1).
    if (h == 1 || (h <= 4 && j == 0)) {
        tr = br, ti = bi;
    } else if (h <= 4 && 2 * j == h) { // -j
        tr = bi, ti = wrapNeg(br);
    } else if (h == 4 && j == 1) {
        tr = mulSqrtHalf(static_cast<int64_t>(br) + bi);
        ti = mulSqrtHalf(static_cast<int64_t>(bi) - br);
    } else if (h == 4) {
        tr = mulSqrtHalf(static_cast<int64_t>(bi) - br);
        ti = mulSqrtHalf(-static_cast<int64_t>(bi) - br);
    } else {
        const int q = j % (h / 2), step = 256 / h;
        int32_t r, i;
        rotate(br, bi, kFftCos[q * step], kFftCos[128 - q * step], r, i);
        if (j < h / 2)
            tr = r, ti = i;
        else
            tr = i, ti = wrapNeg(r);
    }
}

void fft(int m, int32_t* re, int32_t* im) {
    for (int h = 1; h < m; h *= 2)
        for (int g = 0; g < m; g += 2 * h)
            for (int j = 0; j < h; ++j) {
                int32_t tr, ti;
                twiddle(h, j, re[g + h + j], im[g + h + j], tr, ti);
                const int32_t ar = re[g + j], ai = im[g + j];
                re[g + j] = wrapAdd(ar, tr);
                im[g + j] = wrapAdd(ai, ti);
                re[g + h + j] = wrapSub(ar, tr);
                im[g + h + j] = wrapSub(ai, ti);
            }
}

int bitReverse(int k, int bits) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((k >> b) & 1) << (bits - 1 - b);
    return r;
}

void dct4(int n, int32_t* data) {
    const int m = n / 2, bits = n == 1024 ? 9 : 6;
    const int32_t* cosTab = n == 1024 ? kTwiddleCos1024 : kTwiddleCos128;
    const int32_t* sinTab = n == 1024 ? kTwiddleSin1024 : kTwiddleSin128;
    std::vector<int32_t> re(m), im(m);
    for (int k = 0; k < m; ++k)
        rotate(data[2 * k], data[n - 1 - 2 * k], cosTab[k], sinTab[k], re[bitReverse(k, bits)],
               im[bitReverse(k, bits)]);
    fft(m, re.data(), im.data());
    for (int p = 0; p < m; ++p) {
        int32_t r, i;
        rotate(re[p], im[p], cosTab[p], sinTab[p], r, i);
        data[2 * p] = r;
        data[n - 1 - 2 * p] = wrapNeg(i);
    }
}

int16_t saturatePcm(int32_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : v < -32767 ? -32767 : v); }
int32_t mulWindow(int32_t a, uint32_t w) { return static_cast<int32_t>((static_cast<int64_t>(a) * static_cast<int32_t>(w)) >> 16); }
const uint16_t* longWindow(int shape) { return shape == 1 ? kKbdLong : kSineLong; }
const uint16_t* shortWindow(int shape) { return shape == 1 ? kKbdShort : kSineShort; }

// IMDCT output y[0..2047] from the DCT-IV output u.
std::vector<int32_t> unfold(const int32_t* u, int n) {
    std::vector<int32_t> y(2 * n);
    const int h = n / 2;
    for (int i = 0; i < h; ++i) {
        y[i] = u[h + i];
        y[n + i] = wrapNeg(u[h - 1 - i]);
        y[h + i] = wrapNeg(u[n - 1 - i]);
        y[n + h + i] = wrapNeg(u[i]);
    }
    return y;
}

void overlapAddLong(int prevShape, int seq, int shape, const int32_t* u, int32_t* overlap, int16_t* pcm, int stride) {
    uint32_t left[1024], right[1024];
    for (int n = 0; n < 1024; ++n) {
        if (seq == kLongStop)
            left[n] = n < 448 ? 0 : n < 576 ? shortWindow(prevShape)[n - 448] : 32768;
        else
            left[n] = longWindow(prevShape)[n];
        if (seq == kLongStart)
            right[n] = n < 448 ? 32768 : n < 576 ? shortWindow(shape)[127 - (n - 448)] : 0;
        else
            right[n] = longWindow(shape)[1023 - n];
    }
    const std::vector<int32_t> y = unfold(u, 1024);
    for (int n = 0; n < 1024; ++n) {
        pcm[n * stride] = saturatePcm((overlap[n] + mulWindow(y[n] >> 7, left[n]) + 16) >> 5);
        overlap[n] = mulWindow(y[1024 + n] >> 7, right[n]);
    }
}

void overlapAddShort(int prevShape, int shape, const int32_t* u, int32_t* overlap, int16_t* pcm, int stride) {
    std::vector<int32_t> acc(1152, 0);
    for (int w = 0; w < 8; ++w) {
        const std::vector<int32_t> y = unfold(u + 128 * w, 128);
        for (int m = 0; m < 256; ++m) {
            const uint32_t win = m < 128 ? shortWindow(w == 0 ? prevShape : shape)[m] : shortWindow(shape)[255 - m];
            acc[128 * w + m] = wrapAdd(acc[128 * w + m], wrapDouble(mulWindow(y[m] >> 5, win)));
        }
    }
    for (int n = 0; n < 1024; ++n)
        pcm[n * stride] = saturatePcm(n < 448 ? overlap[n] >> 5 : wrapAdd(overlap[n], acc[n - 448]) >> 5);
    for (int n = 0; n < 1024; ++n) overlap[n] = n < 576 ? acc[576 + n] : 0;
}

} // namespace ref

std::vector<int32_t> randomWords(std::mt19937& rng, size_t count, int bits) {
    std::vector<int32_t> v(count);
    for (auto& x : v) x = static_cast<int32_t>(rng()) >> (32 - bits);
    return v;
}

TEST(FilterbankKernels, Dct4MatchesReferenceBitForBit) {
    std::mt19937 rng(21);
    for (int n : {1024, 128}) {
        for (int bits : {12, 22, 28, 32}) { // 32: wrapping sums of a damaged stream
            for (int trial = 0; trial < 4; ++trial) {
                std::vector<int32_t> fast = randomWords(rng, n, bits), slow = fast;
                std::vector<int32_t> work(1024, 0x5A5A5A5A);
                if (n == 1024)
                    dct4Long(fast.data(), work.data());
                else
                    dct4Short(fast.data(), work.data());
                ref::dct4(n, slow.data());
                ASSERT_EQ(fast, slow) << "N " << n << " bits " << bits << " trial " << trial;
            }
        }
    }
}

TEST(FilterbankKernels, LongOverlapAddMatchesReferenceBitForBit) {
    std::mt19937 rng(22);
    for (int seq : {kOnlyLong, kLongStart, kLongStop})
        for (int prev = 0; prev < 2; ++prev)
            for (int shape = 0; shape < 2; ++shape)
                for (int stride : {1, 2, 3})
                    for (int bits : {26, 32}) {
                        const std::vector<int32_t> u = randomWords(rng, 1024, bits);
                        std::vector<int32_t> ovFast = randomWords(rng, 1024, 25), ovSlow = ovFast;
                        std::vector<int16_t> pcmFast(1024 * stride + 1, 0x1234), pcmSlow = pcmFast;
                        std::vector<int32_t> scratch(2048, -1);
                        overlapAddLong(prev, seq, shape, u.data(), ovFast.data(), pcmFast.data(), stride,
                                       scratch.data());
                        ref::overlapAddLong(prev, seq, shape, u.data(), ovSlow.data(), pcmSlow.data(), stride);
                        ASSERT_EQ(pcmFast, pcmSlow) << seq << prev << shape << " stride " << stride << " bits " << bits;
                        ASSERT_EQ(ovFast, ovSlow) << seq << prev << shape << " stride " << stride << " bits " << bits;
                    }
}

TEST(FilterbankKernels, ShortOverlapAddMatchesReferenceBitForBit) {
    std::mt19937 rng(23);
    for (int prev = 0; prev < 2; ++prev)
        for (int shape = 0; shape < 2; ++shape)
            for (int stride : {1, 2, 3})
                for (int bits : {24, 32}) {
                    const std::vector<int32_t> u = randomWords(rng, 1024, bits);
                    std::vector<int32_t> ovFast = randomWords(rng, 1024, 25), ovSlow = ovFast;
                    std::vector<int16_t> pcmFast(1024 * stride + 1, 0x1234), pcmSlow = pcmFast;
                    std::vector<int32_t> scratch(2048, -1);
                    overlapAddShort(prev, shape, u.data(), ovFast.data(), pcmFast.data(), stride, scratch.data());
                    ref::overlapAddShort(prev, shape, u.data(), ovSlow.data(), pcmSlow.data(), stride);
                    ASSERT_EQ(pcmFast, pcmSlow) << prev << shape << " stride " << stride << " bits " << bits;
                    ASSERT_EQ(ovFast, ovSlow) << prev << shape << " stride " << stride << " bits " << bits;
                }
}

// LTP's forward transform runs the same DCT-IV: its output is the fold of
// the 2048 inputs through the reference transform, bit for bit.
TEST(FilterbankKernels, ForwardMdctMatchesReferenceFoldAndTransform) {
    std::mt19937 rng(25);
    for (int bits : {20, 30}) {
        const std::vector<int32_t> in = randomWords(rng, 2048, bits);
        std::vector<int32_t> out(1024), scratch(1024), want(1024);
        forwardMdct(in.data(), out.data(), scratch.data());
        for (int m = 0; m < 512; ++m) want[m] = ref::wrapSub(ref::wrapNeg(in[1535 - m]), in[1536 + m]);
        for (int m = 512; m < 1024; ++m) want[m] = ref::wrapSub(in[m - 512], in[1535 - m]);
        ref::dct4(1024, want.data());
        ASSERT_EQ(out, want) << "bits " << bits;
    }
}

// The channel driver is the transform followed by the windowing, for every sequence.
TEST(FilterbankKernels, SynthesiseChannelMatchesReferenceChain) {
    std::mt19937 rng(24);
    std::vector<int32_t> ovFast(1024, 0), ovSlow(1024, 0), scratch(2048);
    int prev = 0;
    const int seqs[] = {kOnlyLong, kLongStart, kEightShort, kEightShort, kLongStop, kOnlyLong};
    for (int f = 0; f < 6; ++f) {
        const int shape = (f * 5) % 3 == 1;
        std::vector<int32_t> fast = randomWords(rng, 1024, 23), slow = fast;
        std::vector<int16_t> pcmFast(2048, 7), pcmSlow(2048, 7);
        synthesiseChannel(prev, seqs[f], shape, fast.data(), scratch.data(), ovFast.data(), pcmFast.data() + 1, 2);
        if (seqs[f] == kEightShort) {
            for (int w = 0; w < 8; ++w) ref::dct4(128, slow.data() + 128 * w);
            ref::overlapAddShort(prev, shape, slow.data(), ovSlow.data(), pcmSlow.data() + 1, 2);
        } else {
            ref::dct4(1024, slow.data());
            ref::overlapAddLong(prev, seqs[f], shape, slow.data(), ovSlow.data(), pcmSlow.data() + 1, 2);
        }
        ASSERT_EQ(pcmFast, pcmSlow) << "frame " << f;
        ASSERT_EQ(ovFast, ovSlow) << "frame " << f;
        prev = shape;
    }
}

} // namespace
