// The per-channel SBR stage around the banks: frames without SBR data carry
// the core through analysis and synthesis, delayed, with a silent high band.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "sbr/sbr_internal.h"

namespace {

struct Channel {
    SbrChannelState s[2]{};
    SbrChannelBuffers b[2]{};
    std::vector<int32_t> matrix = std::vector<int32_t>(8192, 0x5A5A5A5A);
    explicit Channel(int32_t mode) {
        for (int i = 0; i < 2; ++i) {
            SbrWireChannel(&s[i], &b[i]);
            SbrConfigureChannel(&s[i], mode, 44100, 4);
        }
        SbrChannelState* const table[2] = {&s[0], &s[1]};
        SbrResetChannels(table);
    }
};

// Runs `frames` core frames of a tone through the stage without SBR data;
// returns the channel's output and checks the neighbour's samples are kept.
std::vector<int16_t> runWithoutData(int32_t mode, int32_t frames, double cycles, double amplitude,
                                    int32_t stride) {
    Channel ch(mode);
    const int32_t perFrame = mode == 2 ? 2048 : 1024;
    std::vector<int16_t> out;
    for (int32_t f = 0; f < frames; ++f) {
        std::vector<int16_t> pcm(static_cast<size_t>(2048 * stride), 777);
        for (int32_t t = 0; t < 1024; ++t)
            pcm[static_cast<size_t>(t * stride)] =
                static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * cycles * (f * 1024 + t))));
        SbrFrameData frame;
        SbrInitFrame(&frame, 0);
        SbrChannelState* const table[2] = {&ch.s[0], &ch.s[1]};
        EXPECT_EQ(SbrProcessChannel(&frame, table, pcm.data(), stride, ch.matrix.data()), perFrame);
        for (int32_t t = 0; t < perFrame; ++t) {
            out.push_back(pcm[static_cast<size_t>(t * stride)]);
            if (stride == 2) {
                EXPECT_EQ(pcm[static_cast<size_t>(t * 2 + 1)], 777);
            }
        }
        EXPECT_EQ(ch.s[0].savedBands, 32);
        EXPECT_EQ(ch.s[0].prevHighCount, -2);
    }
    return out;
}

// Power of `x` at normalised frequency `cycles` against all the rest.
double toneToRestDb(const std::vector<int16_t>& x, size_t from, double cycles, double* amplitude) {
    std::complex<double> acc = 0;
    double total = 0;
    const size_t n = x.size() - from;
    for (size_t i = from; i < x.size(); ++i) {
        acc += static_cast<double>(x[i]) * std::polar(1.0, -2 * M_PI * cycles * static_cast<double>(i));
        total += static_cast<double>(x[i]) * x[i];
    }
    const double tone = 2 * std::norm(acc) / static_cast<double>(n) / static_cast<double>(n);
    *amplitude = std::sqrt(2 * tone);
    return 10 * std::log10(tone / std::max(total / static_cast<double>(n) - tone, 1e-9));
}

TEST(SbrChannel, WithoutSbrDataTheCoreComesThroughDelayed) {
    const double cycles = 0.0437; // of the core rate
    for (int32_t stride : {1, 2}) {
        {   // Dual rate: twice the samples, the tone at half the normalised frequency.
            const std::vector<int16_t> out = runWithoutData(2, 12, cycles, 9000, stride);
            ASSERT_EQ(out.size(), 12u * 2048);
            double amplitude = 0;
            const double snr = toneToRestDb(out, 2 * 2048, cycles / 2, &amplitude);
            EXPECT_GT(snr, 50.0);
            EXPECT_NEAR(amplitude, 9000, 9000 * 0.01);
            // Delay: 962 output samples.
            double best = -1, bestErr = 1e300;
            for (int d = 900; d < 1030; ++d) {
                double err = 0;
                for (size_t i = 4096; i < out.size(); ++i) {
                    const double e = out[i] - 9000 * std::sin(2 * M_PI * cycles * (static_cast<double>(i) - d) / 2);
                    err += e * e;
                }
                if (err < bestErr) {
                    bestErr = err;
                    best = d;
                }
            }
            EXPECT_EQ(best, 962);
        }
        {   // Downsampled: the core rate, 481 samples later.
            const std::vector<int16_t> out = runWithoutData(1, 12, cycles, 9000, stride);
            ASSERT_EQ(out.size(), 12u * 1024);
            double amplitude = 0;
            EXPECT_GT(toneToRestDb(out, 2048, cycles, &amplitude), 50.0);
            EXPECT_NEAR(amplitude, 9000, 9000 * 0.01);
            double err = 0;
            for (size_t i = 2048; i < out.size(); ++i) {
                const double e = out[i] - 9000 * std::sin(2 * M_PI * cycles * (static_cast<double>(i) - 481));
                err += e * e;
            }
            EXPECT_LT(std::sqrt(err / static_cast<double>(out.size() - 2048)), 9000 * 0.01);
        }
    }
}

// A square wave overshoots through the banks. At full scale the output
// clips where the half-scale run, doubled, leaves the range, and elsewhere it
// is that doubled run: clipped, never wrapped.
std::vector<int16_t> runSquare(int16_t high, int16_t low) {
    Channel ch(2);
    SbrChannelState* const table[2] = {&ch.s[0], &ch.s[1]};
    std::vector<int16_t> out;
    for (int f = 0; f < 6; ++f) {
        std::vector<int16_t> pcm(2048);
        for (int t = 0; t < 1024; ++t) pcm[static_cast<size_t>(t)] = ((t / 200) & 1) ? high : low;
        SbrFrameData frame;
        SbrInitFrame(&frame, 0);
        SbrProcessChannel(&frame, table, pcm.data(), 1, ch.matrix.data());
        out.insert(out.end(), pcm.begin(), pcm.end());
    }
    return out;
}

TEST(SbrChannel, FullScaleInputSaturatesInsteadOfWrapping) {
    const std::vector<int16_t> full = runSquare(32767, -32768);
    const std::vector<int16_t> half = runSquare(16384, -16384);
    int clipped = 0;
    for (size_t i = 0; i < full.size(); ++i) {
        const int doubled = 2 * half[i];
        if (doubled > 32767 + 16) {
            EXPECT_EQ(full[i], 32767) << i;
            ++clipped;
        } else if (doubled < -32768 - 16) {
            EXPECT_EQ(full[i], -32768) << i;
            ++clipped;
        } else if (std::abs(doubled) < 32000) {
            EXPECT_NEAR(full[i], doubled, 16) << i;
        }
    }
    EXPECT_GT(clipped, 100);
}

} // namespace
