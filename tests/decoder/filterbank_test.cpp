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

} // namespace
