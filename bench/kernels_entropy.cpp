// Entropy-decoding and inverse-quantisation kernels, each timed on its own
// with random input (the dav1d checkasm way; tests/decoder/kernel_test.cpp
// checks the same kernels against plain reference versions).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bitreader.h"
#include "element.h"
#include "huffman.h"
#include "reconstruct.h"
#include "tables.h"

namespace {

constexpr int32_t kLines = 1024;
constexpr int32_t kSr44100 = 4;

// Random bits are a valid stream for every book (the codes are complete):
// 1024 values of any book take well under 8 KB of them.
const std::vector<uint8_t>& randomBits() {
    static const std::vector<uint8_t> bits = [] {
        std::mt19937 rng(15);
        std::vector<uint8_t> b(8192);
        for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
        return b;
    }();
    return bits;
}

void huffmanBook(benchmark::State& state) {
    const int32_t book = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t>& bits = randomBits();
    int32_t out[kLines];
    BitReader r;
    int64_t consumed = 0;
    for (auto _ : state) {
        start(&r, bits.data(), static_cast<int32_t>(bits.size()));
        if (decodeSpectralValues(&r, book, kLines, out) != 0) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out);
        consumed += r.bitsConsumed;
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.counters["bits/value"] = static_cast<double>(consumed) / (state.iterations() * kLines);
}
BENCHMARK(huffmanBook)->Name("huffman_quads")->DenseRange(1, 4);
BENCHMARK(huffmanBook)->Name("huffman_pairs")->DenseRange(5, 10);
BENCHMARK(huffmanBook)->Name("huffman_escape")->Arg(11);

// One long frame of 44.1 kHz bands with random scale factors; magnitudes
// mostly small, as in real spectra, or (range 1) spread up to 8191.
template <void (*kKernel)(const IcsState*, int32_t, const uint16_t*, int32_t*)>
void inverseQuantiseFrame(benchmark::State& state) {
    const bool large = state.range(0) != 0;
    const int32_t bands = numLongBands(kSr44100);
    const uint16_t* off = longOffsets(kSr44100);
    std::mt19937 rng(7);
    IcsState ics{};
    ics.windowSequence = kOnlyLong;
    ics.numWindowGroups = 1;
    ics.windowGroupLength[0] = 1;
    for (int32_t b = 0; b < bands; ++b) {
        ics.codebook[b] = static_cast<uint8_t>(large ? 11u : 1 + rng() % 10);
        ics.scaleFactor[b] = static_cast<int16_t>(90 + rng() % 80);
    }
    std::vector<int32_t> quantised(kLines);
    std::geometric_distribution<int32_t> small(0.45);
    for (int32_t& q : quantised) {
        const int32_t a = large ? static_cast<int32_t>(rng() % 8192) : std::min(small(rng), 15);
        q = (rng() & 1) ? -a : a;
    }
    std::vector<int32_t> spectrum(kLines);
    for (auto _ : state) {
        spectrum = quantised;
        kKernel(&ics, bands, off, spectrum.data());
        benchmark::DoNotOptimize(spectrum.data());
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(inverseQuantiseFrame<inverseQuantise>)->Name("inverse_quantise")->ArgName("large")->Arg(0)->Arg(1);
BENCHMARK(inverseQuantiseFrame<inverseQuantiseVector>)->Name("inverse_quantise_vector")->ArgName("large")->Arg(0)->Arg(1);
BENCHMARK(inverseQuantiseFrame<inverseQuantiseScalar>)->Name("inverse_quantise_scalar")->ArgName("large")->Arg(0)->Arg(1);

} // namespace
