// Short-time band levels of PCM: 2048-sample Hann frames with a hop of 1024,
// power summed in sixth-octave bands, in dB relative to a full-scale sine.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

namespace bandlevels {

constexpr int kFrame = 2048;
constexpr int kHop = 1024;

inline void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2 * M_PI / static_cast<double>(len);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
}

struct Band {
    double low, high, centre; // Hz
};

// Sixth-octave bands around 1 kHz that lie below the Nyquist frequency.
inline std::vector<Band> sixthOctaves(double nyquist) {
    std::vector<Band> bands;
    for (int k = -40; k < 60; ++k) {
        const double c = 1000.0 * std::pow(2.0, k / 6.0);
        const Band b{c * std::pow(2.0, -1.0 / 12), c * std::pow(2.0, 1.0 / 12), c};
        if (b.high <= nyquist && b.low >= 20.0) bands.push_back(b);
    }
    return bands;
}

// levels[frame][band] in dBFS of channel `c` of interleaved `pcm`, from
// sample `offset` (per channel) on; frames that would leave the signal stop it.
inline std::vector<std::vector<double>> analyse(const std::vector<int16_t>& pcm, int channels, int c, long offset,
                                                long frames, double rate, const std::vector<Band>& bands) {
    std::vector<double> window(kFrame);
    for (int i = 0; i < kFrame; ++i) window[i] = 0.5 - 0.5 * std::cos(2 * M_PI * i / kFrame);
    // A full-scale sine's power over the positive bins: 3 A^2 N^2 / 32.
    const double fullScale = 3.0 * 32768.0 * 32768.0 * kFrame * kFrame / 32.0;
    std::vector<std::vector<double>> levels;
    std::vector<std::complex<double>> buf(kFrame);
    for (long f = 0; f < frames; ++f) {
        const long start = offset + f * kHop;
        for (int i = 0; i < kFrame; ++i) {
            const long at = start + i;
            const double x = at >= 0 && static_cast<size_t>(at * channels + c) < pcm.size()
                                 ? pcm[static_cast<size_t>(at * channels + c)]
                                 : 0.0;
            buf[i] = x * window[i];
        }
        fft(buf);
        std::vector<double> row(bands.size());
        for (size_t b = 0; b < bands.size(); ++b) {
            const int lo = static_cast<int>(std::ceil(bands[b].low * kFrame / rate));
            const int hi = static_cast<int>(std::floor(bands[b].high * kFrame / rate));
            double p = 0;
            for (int k = std::max(lo, 1); k <= hi && k < kFrame / 2; ++k) p += std::norm(buf[k]);
            row[b] = 10 * std::log10(p / fullScale + 1e-30);
        }
        levels.push_back(row);
    }
    return levels;
}

inline double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

} // namespace bandlevels
