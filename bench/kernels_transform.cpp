// Per-kernel timings of the filterbank on random input: the 1024- and
// 128-line DCT-IV, long and short windowing with overlap-add, and the whole
// channel synthesis. Their bit-exactness against plain reference versions is
// checked in tests/decoder/filterbank_test.cpp.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "element.h"
#include "filterbank.h"

namespace {

std::vector<int32_t> randomWords(size_t count, int bits, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> v(count);
    for (auto& x : v) x = static_cast<int32_t>(rng()) >> (32 - bits);
    return v;
}

// The transforms run in place, so each iteration restores its input first;
// the copy is timed with it and is small beside the transform.
void BM_Dct4Long(benchmark::State& state) {
    const std::vector<int32_t> input = randomWords(1024, 22, 1);
    std::vector<int32_t> data(1024), work(1024);
    for (auto _ : state) {
        data = input;
        dct4Long(data.data(), work.data());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_Dct4Long);

void BM_Dct4Short(benchmark::State& state) {
    const std::vector<int32_t> input = randomWords(128, 22, 2);
    std::vector<int32_t> data(128), work(128);
    for (auto _ : state) {
        data = input;
        dct4Short(data.data(), work.data());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_Dct4Short);

// Argument: PCM stride (1 = mono, 2 = one channel of a stereo frame).
void BM_OverlapAddLong(benchmark::State& state) {
    const int32_t stride = static_cast<int32_t>(state.range(0));
    const std::vector<int32_t> u = randomWords(1024, 26, 3);
    std::vector<int32_t> overlap = randomWords(1024, 24, 4), scratch(2048);
    std::vector<int16_t> pcm(1024 * stride);
    for (auto _ : state) {
        overlapAddLong(0, kOnlyLong, 1, u.data(), overlap.data(), pcm.data(), stride, scratch.data());
        benchmark::DoNotOptimize(pcm.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_OverlapAddLong)->Arg(1)->Arg(2);

void BM_OverlapAddShort(benchmark::State& state) {
    const int32_t stride = static_cast<int32_t>(state.range(0));
    const std::vector<int32_t> u = randomWords(1024, 24, 5);
    std::vector<int32_t> overlap = randomWords(1024, 24, 6), scratch(2048);
    std::vector<int16_t> pcm(1024 * stride);
    for (auto _ : state) {
        overlapAddShort(1, 0, u.data(), overlap.data(), pcm.data(), stride, scratch.data());
        benchmark::DoNotOptimize(pcm.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_OverlapAddShort)->Arg(1)->Arg(2);

// Argument: window sequence.
void BM_SynthesiseChannel(benchmark::State& state) {
    const int32_t sequence = static_cast<int32_t>(state.range(0));
    const std::vector<int32_t> input = randomWords(1024, 22, 7);
    std::vector<int32_t> spectrum(1024), overlap(1024, 0), scratch(2048);
    std::vector<int16_t> pcm(2048);
    for (auto _ : state) {
        spectrum = input;
        synthesiseChannel(0, sequence, 0, spectrum.data(), scratch.data(), overlap.data(), pcm.data(), 2);
        benchmark::DoNotOptimize(pcm.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_SynthesiseChannel)->Arg(kOnlyLong)->Arg(kEightShort);

} // namespace

