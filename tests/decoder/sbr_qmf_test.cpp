// SBR QMF banks against double-precision models of the real-valued analysis
// and synthesis (direct cosine sums over the shift-register buffers), and
// the analysis -> synthesis round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sbr/qmf_window.h"
#include "sbr/sbr_internal.h"

namespace {

std::vector<double> loadWindow() {
    std::ifstream f(std::string(SONADEC_TABLE_DATA) + "/sbr_qmf_window.csv");
    std::vector<double> c;
    std::string line;
    std::getline(f, line); // header
    while (std::getline(f, line)) {
        std::istringstream row(line);
        std::string index, value;
        std::getline(row, index, ',');
        std::getline(row, value, ',');
        if (std::stoi(index) != static_cast<int>(c.size())) return {};
        c.push_back(std::stod(value));
    }
    return c;
}

const std::vector<double>& window() {
    static const std::vector<double> c = loadWindow();
    return c;
}

// The 640 Q15 coefficients unpacked from the synthesis table (its layout is
// described in the generated header's generator).
std::vector<int32_t> unpackSynthesisWindow() {
    std::vector<int32_t> c(640, INT32_MIN);
    auto lo = [](uint32_t w) { return static_cast<int32_t>(static_cast<int16_t>(w & 0xFFFF)); };
    auto hi = [](uint32_t w) { return static_cast<int32_t>(static_cast<int16_t>(w >> 16)); };
    for (int q = 0; q < 32; ++q) {
        for (int j = 0; j < 5; ++j) {
            const uint32_t a = kSbrQmfSynthesisWindow[10 * q + 2 * j];
            const uint32_t b = kSbrQmfSynthesisWindow[10 * q + 2 * j + 1];
            const int base = 128 * j;
            if (q == 0) {
                c[base] = lo(a);
                c[base + 32] = hi(a);
                c[base + 64] = lo(b);
                c[base + 96] = hi(b);
            } else {
                c[base + q] = lo(a);
                c[base + 64 - q] = hi(a);
                c[base + 64 + q] = lo(b);
                c[base + 128 - q] = -hi(b);
            }
        }
    }
    return c;
}

// Real analysis: shift register x (x[0] newest), window with c(2n), fold,
// X(k) = sum u(n) 2 cos(pi (k + 1/2)(2n - 96) / 64).
class AnalysisModel {
public:
    AnalysisModel() : x_(320, 0.0) {
        for (int k = 0; k < 32; ++k)
            for (int n = 0; n < 64; ++n)
                cos_[k][n] = 2 * std::cos(M_PI * (k + 0.5) * (2 * n - 96) / 64);
    }
    void slot(const double* s, double* X) {
        for (int n = 319; n >= 32; --n) x_[n] = x_[n - 32];
        for (int j = 0; j < 32; ++j) x_[31 - j] = s[j];
        const std::vector<double>& c = window();
        double u[64] = {};
        for (int n = 0; n < 64; ++n)
            for (int j = 0; j < 5; ++j) u[n] += x_[n + 64 * j] * c[2 * (n + 64 * j)];
        for (int k = 0; k < 32; ++k) {
            double sum = 0;
            for (int n = 0; n < 64; ++n) sum += u[n] * cos_[k][n];
            X[k] = sum;
        }
    }

private:
    std::vector<double> x_;
    double cos_[32][64];
};

// The window rounded to 16 bits as the decoder's synthesis holds it: its
// rounding alone moves loud outputs by a few tenths of a sample.
const std::vector<double>& windowQ15() {
    static const std::vector<double> c = [] {
        std::vector<double> r = window();
        for (double& v : r) v = std::round(v * 32768) / 32768;
        return r;
    }();
    return c;
}

// Real synthesis of N = 64 or 32 bands: v shifted by 2N per slot,
// v(n) = 1/32 sum X(k) cos(pi (k + 1/2)(2n - N) / (2N)), windowed sum.
class SynthesisModel {
public:
    explicit SynthesisModel(int n, const std::vector<double>& c = windowQ15())
        : n_(n), c_(c), v_(20 * n, 0.0), cos_(2 * n * n) {
        for (int i = 0; i < 2 * n; ++i)
            for (int k = 0; k < n; ++k)
                cos_[i * n + k] = std::cos(M_PI * (k + 0.5) * (2 * i - n) / (2 * n)) / 32;
    }
    void slot(const double* X, double* out) {
        const int N = n_, step = 64 / N;
        for (int i = 20 * N - 1; i >= 2 * N; --i) v_[i] = v_[i - 2 * N];
        for (int i = 0; i < 2 * N; ++i) {
            double sum = 0;
            for (int k = 0; k < N; ++k) sum += X[k] * cos_[i * N + k];
            v_[i] = sum;
        }
        const std::vector<double>& c = c_;
        for (int q = 0; q < N; ++q) {
            double sum = 0;
            for (int j = 0; j < 5; ++j)
                sum += v_[4 * N * j + q] * c[128 * j + step * q] +
                       v_[4 * N * j + 3 * N + q] * c[128 * j + 64 + step * q];
            out[q] = sum;
        }
    }

private:
    int n_;
    const std::vector<double>& c_;
    std::vector<double> v_;
    std::vector<double> cos_;
};

constexpr double kScale = 1 << kSbrQmfScaleLog2;

struct Channel {
    SbrChannelState state{};
    SbrChannelBuffers buffers{};
    Channel() {
        SbrWireChannel(&state, &buffers);
        SbrResetChannel(&state);
    }
};

std::vector<int32_t> newMatrix() { return std::vector<int32_t>(kSbrMatrixWords, 0); }

int32_t& cell(std::vector<int32_t>& m, int row, int column) {
    return m[row * kSbrQmfColumns + column];
}

std::vector<int16_t> noise(size_t count, double sigma, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> d(0, sigma);
    std::vector<int16_t> s(count);
    for (auto& v : s) v = static_cast<int16_t>(std::lround(std::clamp(d(rng), -32768.0, 32767.0)));
    return s;
}

// ---- Window tables ----

TEST(SbrQmfWindow, SynthesisTableHoldsEveryCoefficientInQ15) {
    ASSERT_EQ(kSbrQmfSynthesisWords, 320);
    const std::vector<double>& c = window();
    ASSERT_EQ(c.size(), 640u);
    EXPECT_DOUBLE_EQ(c[320], 0.85373856);
    const std::vector<int32_t> q = unpackSynthesisWindow();
    double all = 0, even = 0;
    for (int i = 0; i < 640; ++i) {
        ASSERT_EQ(q[i], std::lround(c[i] * 32768)) << "coefficient " << i;
        const double v = q[i] / 32768.0;
        all += v * v;
        if (i % 2 == 0) even += v * v;
    }
    EXPECT_NEAR(all, 64.0, 2e-3);
    EXPECT_NEAR(even, 32.0, 1e-3);
    // Symmetric about 320, except the four block edges where the sign flips.
    for (int i = 1; i < 640; ++i) {
        const bool edge = i == 128 || i == 256 || i == 384 || i == 512;
        EXPECT_EQ(q[640 - i], edge ? -q[i] : q[i]) << "coefficient " << i;
    }
}

int32_t q31(double v) { return static_cast<int32_t>(std::min(2147483647.0, std::round(v * 2147483648.0))); }

TEST(SbrQmfWindow, AnalysisTableIsTheEvenCoefficientsInFoldOrder) {
    ASSERT_EQ(kSbrQmfAnalysisWords, 170);
    const std::vector<double>& c = window();
    ASSERT_EQ(c.size(), 640u);
    std::vector<int> used(640, 0);
    // a_j(n) and b_j(n), the coefficients that y(n) and y(32 - n) share.
    for (int j = 0; j < 5; ++j) {
        for (int n = 0; n < 16; ++n) {
            const int a = 128 * j + 96 + 2 * n, b = 128 * j + 96 - 2 * n;
            EXPECT_EQ(kSbrQmfAnalysisWindow[32 * j + n], q31(c[a])) << j << " " << n;
            EXPECT_EQ(kSbrQmfAnalysisWindow[32 * j + 16 + n], n == 0 ? 0 : q31(c[b])) << j << " " << n;
            ++used[a];
            if (n > 0) ++used[b];
            // y(32 - n) takes them from the mirrored taps of the window.
            if (n > 0) {
                EXPECT_EQ(c[640 - (128 * (4 - j) + 32 + 2 * n)], c[b]);
                EXPECT_EQ(c[640 - (128 * (4 - j) + 32 - 2 * n)], c[a]);
                ++used[128 * (4 - j) + 32 + 2 * n];
                ++used[128 * (4 - j) + 32 - 2 * n];
            }
        }
        EXPECT_EQ(kSbrQmfAnalysisWindow[160 + 2 * j], q31(c[128 * j + 64]));
        EXPECT_EQ(kSbrQmfAnalysisWindow[161 + 2 * j], q31(-c[128 * j]));
        ++used[128 * j + 64];
        ++used[128 * j];
    }
    // Every even coefficient once, except those of fold value 16, which
    // never contributes.
    for (int i = 0; i < 640; i += 2) EXPECT_EQ(used[i], i % 128 == 32 ? 0 : 1) << "coefficient " << i;
}

TEST(SbrQmfWindow, TapTablesAreThePackedWindowByLane) {
    const std::vector<int32_t> q = unpackSynthesisWindow();
    for (const int bands : {64, 32}) {
        const int step = 64 / bands, lanes = bands / 2;
        for (int j = 0; j < 5; ++j) {
            for (int lane = 0; lane < lanes; ++lane) {
                const int b = 128 * j, s = step * lane;
                const int want[4] = {lane ? q[b + s] : 0, lane ? q[b + 64 + s] : 0,
                                     lane ? q[b + 64 - s] : q[b + 32], lane ? -q[b + 128 - s] : 0};
                for (int t = 0; t < 4; ++t) {
                    const int got = bands == 64 ? kSbrQmfSynthesisTaps64[t][j][lane] : kSbrQmfSynthesisTaps32[t][j][lane];
                    EXPECT_EQ(got, want[t]) << bands << " " << t << " " << j << " " << lane;
                }
            }
        }
    }
}

TEST(SbrQmfWindow, CosineTable) {
    for (int k = 0; k <= 128; ++k)
        EXPECT_NEAR(kSbrQmfCos[k], std::min(2147483647.0, std::cos(M_PI * k / 128) * 2147483648.0), 0.5)
            << k;
}

// ---- Analysis ----

// Fixed-point analysis of `frames` frames of `s` against the model; returns
// the largest difference in the model's units.
double analysisError(const std::vector<int16_t>& s, int frames, double* peak = nullptr) {
    Channel ch;
    AnalysisModel model;
    std::vector<int32_t> m = newMatrix();
    double worst = 0, top = 0;
    for (int f = 0; f < frames; ++f) {
        SbrQmfAnalysis(&ch.state, s.data() + 1024 * f, m.data(), 1);
        for (int i = 0; i < 32; ++i) {
            double in[32], X[32];
            for (int j = 0; j < 32; ++j) in[j] = s[1024 * f + 32 * i + j];
            model.slot(in, X);
            for (int k = 0; k < 32; ++k) {
                worst = std::max(worst, std::fabs(cell(m, k, 8 + i) / kScale - X[k]));
                top = std::max(top, std::fabs(X[k]));
            }
        }
    }
    if (peak) *peak = top;
    return worst;
}

TEST(SbrQmfAnalysis, MatchesTheDirectCosineSum) {
    // Full-scale noise over several frames: ring positions 0, 2, 4, 6, 8.
    const std::vector<int16_t> s = noise(1024 * 6, 12000, 1);
    double peak = 0;
    const double err = analysisError(s, 6, &peak);
    EXPECT_GT(peak, 1e5);
    // A few units of 2^-8 from the truncating stages of the transform.
    EXPECT_LT(err, 0.05) << "peak " << peak;
}

TEST(SbrQmfAnalysis, WorstCaseInputFitsTheFormat) {
    // Samples at full scale with the signs of band 0's kernel at the last
    // slot: the largest value the analysis can produce.
    const std::vector<double>& c = window();
    std::vector<int16_t> s(2048, 0);
    for (int m = 0; m < 320; ++m) {
        const double k = c[2 * m] * std::cos(M_PI * 0.5 * (2 * (m % 64) - 96) / 64);
        s[2047 - m] = k >= 0 ? 32767 : -32768;
    }
    double peak = 0;
    const double err = analysisError(s, 2, &peak);
    EXPECT_GT(peak * kScale, 0.25 * 2147483648.0);
    EXPECT_LT(err, 0.05) << "peak " << peak;
}

TEST(SbrQmfAnalysis, WritesColumnsEightOnOfTheLowBandsOnly) {
    Channel ch;
    const std::vector<int16_t> s = noise(1024, 3000, 2);
    std::vector<int32_t> m(kSbrMatrixWords, 0x5A5A5A5A);
    SbrQmfAnalysis(&ch.state, s.data(), m.data(), 1);
    for (int r = 0; r < kSbrQmfRows; ++r) {
        for (int col = 0; col < kSbrQmfColumns; ++col) {
            if (r >= 32 || col < 8) {
                ASSERT_EQ(cell(m, r, col), 0x5A5A5A5A) << r << " " << col;
            }
        }
    }
    for (int w = kSbrQmfRows * kSbrQmfColumns; w < kSbrMatrixWords; ++w) ASSERT_EQ(m[w], 0x5A5A5A5A);
}

TEST(SbrQmfAnalysis, RingHoldsTheLastSlotWrittenAtEachPosition) {
    Channel ch;
    std::vector<int16_t> s(1024);
    for (int t = 0; t < 1024; ++t) s[t] = static_cast<int16_t>(t - 512);
    std::vector<int32_t> m = newMatrix();
    ch.state.analysisPos = 3;
    SbrQmfAnalysis(&ch.state, s.data(), m.data(), 1);
    EXPECT_EQ(ch.state.analysisPos, 5); // 32 slots on, modulo 10
    for (int i = 22; i < 32; ++i) {
        const int block = (3 + i) % 10;
        for (int j = 0; j < 32; ++j)
            ASSERT_EQ(ch.buffers.analysisHistory[32 * block + j], s[32 * i + j]) << i << " " << j;
    }
}

TEST(SbrQmfAnalysis, StrideTwoReadsOneChannel) {
    const std::vector<int16_t> left = noise(1024, 3000, 4), right = noise(1024, 3000, 5);
    std::vector<int16_t> both(2048);
    for (int t = 0; t < 1024; ++t) {
        both[2 * t] = left[t];
        both[2 * t + 1] = right[t];
    }
    Channel mono, l, r;
    std::vector<int32_t> mm = newMatrix(), ml = newMatrix(), mr = newMatrix();
    SbrQmfAnalysis(&mono.state, left.data(), mm.data(), 1);
    SbrQmfAnalysis(&l.state, both.data(), ml.data(), 2);
    EXPECT_EQ(mm, ml);
    Channel fresh;
    SbrQmfAnalysis(&fresh.state, right.data(), mm.data(), 1);
    SbrQmfAnalysis(&r.state, both.data() + 1, mr.data(), 2);
    EXPECT_EQ(mm, mr);
}

TEST(SbrQmfBanks, RingPositionOutOfRangeStartsAtZero) {
    const std::vector<int16_t> s = noise(1024, 3000, 6);
    Channel a, b;
    std::vector<int32_t> ma = newMatrix(), mb = newMatrix();
    b.state.analysisPos = 200;
    SbrQmfAnalysis(&a.state, s.data(), ma.data(), 1);
    SbrQmfAnalysis(&b.state, s.data(), mb.data(), 1);
    EXPECT_EQ(ma, mb);
    EXPECT_EQ(b.state.analysisPos, 2);
    std::vector<int16_t> pa(2048), pb(2048);
    b.state.synthesisPos = 10;
    SbrQmfSynthesis64(a.state.synthesisHistory, ma.data(), pa.data(), 1, &a.state.synthesisPos);
    SbrQmfSynthesis64(b.state.synthesisHistory, ma.data(), pb.data(), 1, &b.state.synthesisPos);
    EXPECT_EQ(pa, pb);
    EXPECT_EQ(b.state.synthesisPos, 2);
}

// ---- Synthesis ----

using SynthesisFn = void (*)(int32_t*, const int32_t*, int16_t*, int32_t, uint8_t*);

struct Bank {
    int bands;
    SynthesisFn run;
};

class SbrQmfSynthesis : public ::testing::TestWithParam<Bank> {};

// Random band values of a realistic spread (in the model's units) into
// columns 2..33; returns them per slot.
std::vector<double> fillBands(std::vector<int32_t>& m, int bands, double sigma, std::mt19937& rng) {
    std::normal_distribution<double> d(0, sigma);
    std::vector<double> X(32 * bands);
    for (int i = 0; i < 32; ++i)
        for (int k = 0; k < bands; ++k) {
            const int32_t v = static_cast<int32_t>(std::lround(d(rng) * kScale));
            cell(m, k, 2 + i) = v;
            X[i * bands + k] = v / kScale;
        }
    return X;
}

TEST_P(SbrQmfSynthesis, MatchesTheDirectFormula) {
    const Bank bank = GetParam();
    const int N = bank.bands;
    std::mt19937 rng(7);
    SbrChannelBuffers buffers{};
    uint8_t pos = 0;
    SynthesisModel model(N);
    std::vector<int32_t> m = newMatrix();
    std::vector<int16_t> pcm(32 * N);
    double worst = 0, peak = 0;
    for (int f = 0; f < 6; ++f) {
        // Band values of sigma 24000 give an output of sigma near 3000 (64 bands).
        const std::vector<double> X = fillBands(m, N, 24000, rng);
        bank.run(buffers.synthesisHistory, m.data(), pcm.data(), 1, &pos);
        EXPECT_EQ(pos, (2 * (f + 1)) % 10);
        for (int i = 0; i < 32; ++i) {
            double out[64];
            model.slot(&X[i * N], out);
            for (int q = 0; q < N; ++q) {
                ASSERT_LT(std::fabs(out[q]), 32000);
                worst = std::max(worst, std::fabs(pcm[i * N + q] - out[q]));
                peak = std::max(peak, std::fabs(out[q]));
            }
        }
    }
    EXPECT_GT(peak, 8000);
    // Rounding to the nearest sample, plus a little of the fixed-point noise.
    EXPECT_LT(worst, 0.56);
}

// Frames whose upper bands are silent, down to all of them: the output
// still follows the model, and a silent frame leaves silence.
TEST_P(SbrQmfSynthesis, SilentUpperBandsMatchTheDirectFormula) {
    const Bank bank = GetParam();
    const int N = bank.bands;
    std::mt19937 rng(12);
    SbrChannelBuffers buffers{};
    uint8_t pos = 0;
    SynthesisModel model(N);
    std::vector<int32_t> m = newMatrix();
    std::vector<int16_t> pcm(32 * N);
    double worst = 0;
    for (const int top : {N - 1, N / 2 + 1, N / 2, N / 2 - 1, 1, 0, 0, 0}) {
        std::vector<double> X = fillBands(m, N, 24000, rng);
        for (int k = top; k < N; ++k) {
            for (int i = 0; i < 32; ++i) {
                cell(m, k, 2 + i) = 0;
                X[i * N + k] = 0;
            }
        }
        // One slot of the highest band kept nonzero, at the group's edge.
        if (top > 0) cell(m, top - 1, 2 + 31) = 5000, X[31 * N + top - 1] = 5000 / kScale;
        bank.run(buffers.synthesisHistory, m.data(), pcm.data(), 1, &pos);
        for (int i = 0; i < 32; ++i) {
            double out[64];
            model.slot(&X[i * N], out);
            for (int q = 0; q < N; ++q) worst = std::max(worst, std::fabs(pcm[i * N + q] - out[q])) ;
        }
    }
    EXPECT_LT(worst, 0.56);
    // Three silent frames flush the ring: the last one's output is silence.
    for (int t = 0; t < 32 * N; ++t) ASSERT_EQ(pcm[t], 0) << t;
}

TEST_P(SbrQmfSynthesis, ReadsColumnsTwoToThirtyThreeOfItsBands) {
    const Bank bank = GetParam();
    const int N = bank.bands;
    std::mt19937 rng(8);
    SbrChannelBuffers a{}, b{};
    uint8_t pa = 0, pb = 0;
    std::vector<int32_t> clean = newMatrix();
    fillBands(clean, N, 24000, rng);
    std::vector<int32_t> dirty = clean;
    for (int r = 0; r < kSbrQmfRows; ++r) {
        for (int col = 0; col < kSbrQmfColumns; ++col) {
            if (r >= N || col < 2 || col > 33) cell(dirty, r, col) = 0x3FFFFFFF;
        }
    }
    std::vector<int16_t> pcmA(32 * N), pcmB(32 * N);
    bank.run(a.synthesisHistory, clean.data(), pcmA.data(), 1, &pa);
    bank.run(b.synthesisHistory, dirty.data(), pcmB.data(), 1, &pb);
    EXPECT_EQ(pcmA, pcmB);
}

TEST_P(SbrQmfSynthesis, StrideTwoLeavesTheOtherChannel) {
    const Bank bank = GetParam();
    const int N = bank.bands;
    std::mt19937 rng(9);
    std::vector<int32_t> m = newMatrix();
    fillBands(m, N, 24000, rng);
    SbrChannelBuffers a{}, b{};
    uint8_t pa = 0, pb = 0;
    std::vector<int16_t> mono(32 * N), pair(2 * 32 * N + 2);
    for (size_t t = 0; t < pair.size(); ++t) pair[t] = static_cast<int16_t>(t * 7 + 1);
    const std::vector<int16_t> before = pair;
    bank.run(a.synthesisHistory, m.data(), mono.data(), 1, &pa);
    bank.run(b.synthesisHistory, m.data(), pair.data() + 1, 2, &pb);
    for (int t = 0; t < 32 * N; ++t) {
        ASSERT_EQ(pair[2 * t + 1], mono[t]) << t;
        ASSERT_EQ(pair[2 * t], before[2 * t]) << t;
    }
    EXPECT_EQ(pair.back(), before.back());
}

TEST_P(SbrQmfSynthesis, OutputSaturates) {
    const Bank bank = GetParam();
    const int N = bank.bands;
    std::mt19937 rng(10);
    SbrChannelBuffers buffers{};
    uint8_t pos = 0;
    SynthesisModel model(N);
    std::vector<int32_t> m = newMatrix();
    std::vector<int16_t> pcm(32 * N);
    int high = 0, low = 0;
    for (int f = 0; f < 3; ++f) {
        // Outputs well past full scale, the ring values still inside their range.
        const std::vector<double> X = fillBands(m, N, N == 64 ? 150000 : 210000, rng);
        bank.run(buffers.synthesisHistory, m.data(), pcm.data(), 1, &pos);
        for (int i = 0; i < 32; ++i) {
            double out[64];
            model.slot(&X[i * N], out);
            for (int q = 0; q < N; ++q) {
                const double want = std::clamp(out[q], -32768.0, 32767.0);
                ASSERT_LT(std::fabs(pcm[i * N + q] - want), 0.56) << out[q];
                high += pcm[i * N + q] == 32767;
                low += pcm[i * N + q] == -32768;
            }
        }
    }
    EXPECT_GT(high, 100);
    EXPECT_GT(low, 100);
}

TEST_P(SbrQmfSynthesis, ExtremeBandValuesClipToTheRightRail) {
    // Values far beyond any signal: the ring saturates instead of wrapping, so
    // a constant band 0 gives a constant, fully clipped output of its sign.
    const Bank bank = GetParam();
    const int N = bank.bands;
    for (const int32_t big : {INT32_MAX, INT32_MIN, 0x40000000}) {
        SbrChannelBuffers buffers{};
        uint8_t pos = 0;
        std::vector<int32_t> m = newMatrix();
        std::vector<int16_t> pcm(32 * N);
        for (int i = 0; i < 32; ++i) cell(m, 0, 2 + i) = big;
        for (int f = 0; f < 2; ++f) bank.run(buffers.synthesisHistory, m.data(), pcm.data(), 1, &pos);
        // Band 0 alone has a lowpass response: the settled output is DC.
        int rail = 0;
        for (int t = 0; t < 32 * N; ++t) rail += pcm[t] == (big > 0 ? 32767 : -32768);
        EXPECT_EQ(rail, 32 * N) << big;
    }
}

// The ring holds twice the unscaled DCT-II of each slot, saturated to int32,
// at RingOrder positions. Inputs that put the most weight on one output, at
// amplitudes around the level where the stores stop needing saturation and
// up to where they saturate, must match that model on both sides of it.
TEST_P(SbrQmfSynthesis, RingValuesHoldAroundTheSaturationBound) {
    const Bank bank = GetParam();
    const int N = bank.bands;
    const int log2N = N == 64 ? 6 : 5;
    const int64_t edge = int64_t{1} << (30 - (log2N + 1)); // N (A >> log2 N) reaches the bound here
    std::mt19937 rng(11);
    SbrChannelBuffers buffers{};
    uint8_t pos = 0;
    std::vector<int32_t> m = newMatrix();
    std::vector<int16_t> pcm(32 * N);
    int saturated = 0, checked = 0;
    for (const int64_t amplitude : {edge - 1, edge, edge + N, 2 * edge, 4 * edge, 16 * edge, 255 * edge}) {
        for (const int sign : {1, -1}) {
            std::vector<std::vector<double>> X(32, std::vector<double>(N));
            for (int i = 0; i < 32; ++i) {
                // Slot i aims at output j; the last slot has random signs.
                const int j = i == 31 ? -1 : (i * 7) % N;
                for (int k = 0; k < N; ++k) {
                    const double c = j < 0 ? (rng() & 1 ? 1.0 : -1.0) : std::cos(M_PI * (2 * k + 1) * j / (2.0 * N));
                    const int64_t v = sign * (c < 0 ? -amplitude : amplitude);
                    const int32_t cellValue = static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
                    cell(m, k, 2 + i) = cellValue;
                    X[i][k] = cellValue;
                }
            }
            const int start = pos;
            bank.run(buffers.synthesisHistory, m.data(), pcm.data(), 1, &pos);
            for (int i = 22; i < 32; ++i) {
                const int block = (start + i) % 10;
                for (int j = 0; j < N; ++j) {
                    double sum = 0;
                    for (int k = 0; k < N; ++k) sum += X[i][k] * std::cos(M_PI * (2 * k + 1) * j / (2.0 * N));
                    const double want = std::clamp(2 * sum, -2147483648.0, 2147483647.0);
                    const int at = j == 0 || j >= N / 2 ? j : N / 2 - j;
                    const int32_t got = buffers.synthesisHistory[block * N + at];
                    ASSERT_LT(std::fabs(got - want), 16384.0)
                        << "amplitude " << amplitude << " sign " << sign << " slot " << i << " output " << j;
                    saturated += got == INT32_MAX || got == INT32_MIN;
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(saturated, 0);
    EXPECT_LT(saturated, checked / 4);
}

INSTANTIATE_TEST_SUITE_P(SbrQmfBanks, SbrQmfSynthesis,
                         ::testing::Values(Bank{64, SbrQmfSynthesis64}, Bank{32, SbrQmfSynthesis32}),
                         [](const auto& info) { return "Bands" + std::to_string(info.param.bands); });

// ---- Round trip ----

// Analysis slot i feeding synthesis slot i, frame by frame.
std::vector<int16_t> roundTrip(const std::vector<int16_t>& s, int bands) {
    Channel ch;
    std::vector<int32_t> m = newMatrix();
    const int frames = static_cast<int>(s.size() / 1024);
    const int perFrame = 32 * bands;
    std::vector<int16_t> out(static_cast<size_t>(frames) * perFrame);
    std::vector<int16_t> pcm(2048);
    for (int f = 0; f < frames; ++f) {
        std::copy(s.begin() + 1024 * f, s.begin() + 1024 * (f + 1), pcm.begin());
        SbrQmfAnalysis(&ch.state, pcm.data(), m.data(), 1);
        for (int r = 0; r < 64; ++r)
            for (int i = 0; i < 32; ++i) cell(m, r, 2 + i) = r < 32 ? cell(m, r, 8 + i) : 0;
        if (bands == 64)
            SbrQmfSynthesis64(ch.state.synthesisHistory, m.data(), pcm.data(), 1, &ch.state.synthesisPos);
        else
            SbrQmfSynthesis32(ch.state.synthesisHistory, m.data(), pcm.data(), 1, &ch.state.synthesisPos);
        std::copy(pcm.begin(), pcm.begin() + perFrame, out.begin() + static_cast<size_t>(f) * perFrame);
    }
    return out;
}

struct Fidelity {
    double snrDb, gainDb;
};

// out(ratio t + delay) against s(t), after the first frame's run-in.
Fidelity compare(const std::vector<int16_t>& s, const std::vector<int16_t>& out, int ratio, int delay) {
    double sig = 0, err = 0, pow = 0;
    for (size_t t = 1024; ratio * t + delay < out.size(); ++t) {
        const double a = s[t], b = out[ratio * t + delay];
        sig += a * a;
        pow += b * b;
        err += (b - a) * (b - a);
    }
    return {10 * std::log10(sig / err), 10 * std::log10(pow / sig)};
}

TEST(SbrQmfRoundTrip, WhiteNoise) {
    for (const int bands : {64, 32}) {
        const std::vector<int16_t> s = noise(1024 * 12, 3000, 12);
        const int ratio = bands / 32;
        const Fidelity f = compare(s, roundTrip(s, bands), ratio, 289 * ratio);
        std::printf("%d bands: SNR %.2f dB, gain %+.4f dB\n", bands, f.snrDb, f.gainDb);
        EXPECT_GE(f.snrDb, 55.0) << bands;
        EXPECT_LT(std::fabs(f.gainDb), 0.05) << bands;
        // The delay is what these figures rest on: one sample off fails.
        EXPECT_LT(compare(s, roundTrip(s, bands), ratio, 289 * ratio + 1).snrDb, 20.0) << bands;
    }
}

// Amplitude and phase of a least-squares fit of cos(w n + phi) over n >= start.
void fitTone(const std::vector<int16_t>& x, double w, size_t start, double& amp, double& phase) {
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (size_t n = start; n < x.size(); ++n) {
        const double c = std::cos(w * n), s = std::sin(w * n);
        cc += c * c;
        ss += s * s;
        cs += c * s;
        xc += x[n] * c;
        xs += x[n] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    amp = std::hypot(a, b);
    phase = std::atan2(-b, a);
}

TEST(SbrQmfRoundTrip, ToneKeepsAmplitudeAndPhase) {
    for (const double f : {0.013, 0.1, 0.2371, 0.41}) { // cycles per core sample
        const double w = 2 * M_PI * f, amp = 20000, phi = 0.3;
        std::vector<int16_t> s(1024 * 8);
        for (size_t t = 0; t < s.size(); ++t) s[t] = static_cast<int16_t>(std::lround(amp * std::cos(w * t + phi)));
        for (const int bands : {32, 64}) {
            const std::vector<int16_t> out = roundTrip(s, bands);
            const int ratio = bands / 32, delay = 289 * ratio;
            double a, p;
            fitTone(out, w / ratio, 2048 * ratio, a, p);
            const double wantPhase = std::remainder(phi - w * delay / ratio, 2 * M_PI);
            EXPECT_LT(std::fabs(20 * std::log10(a / amp)), 0.03) << f << " " << bands;
            EXPECT_LT(std::fabs(std::remainder(p - wantPhase, 2 * M_PI)), 2e-3) << f << " " << bands;
        }
    }
}

TEST(SbrQmfRoundTrip, FramesMatchTheContinuousModel) {
    // The double-precision banks run on the whole signal at once; the decoder's
    // banks run frame by frame through their rings.
    const std::vector<int16_t> s = noise(1024 * 5, 3000, 15);
    const std::vector<int16_t> out = roundTrip(s, 64);
    AnalysisModel analysis;
    SynthesisModel synthesis(64);
    double worst = 0;
    for (size_t slot = 0; slot < s.size() / 32; ++slot) {
        double in[32], X[64] = {}, y[64];
        for (int j = 0; j < 32; ++j) in[j] = s[32 * slot + j];
        analysis.slot(in, X);
        synthesis.slot(X, y);
        for (int q = 0; q < 64; ++q) worst = std::max(worst, std::fabs(out[64 * slot + q] - y[q]));
    }
    EXPECT_LT(worst, 0.55);
}

} // namespace
