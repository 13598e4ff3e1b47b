// Test helpers: exactly sized planes (so the sanitizer sees any stray access),
// random fills and sentinel-guarded destination buffers.
#pragma once

#include "pixkit.h"

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace pixtest {

// Heap block of exactly n bytes (n may be 0: still a distinct pointer).
struct Bytes {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
    explicit Bytes(size_t n = 0) : data(new uint8_t[n]), size(n) {}
    uint8_t& operator[](size_t i) { return data[i]; }
    uint8_t operator[](size_t i) const { return data[i]; }
};

// An owning planar frame; chromaRows is height/2 for 4:2:0, height for 4:2:2.
struct Frame {
    Bytes y, u, v;
    ImageFrame desc{};
    Frame(int w, int h, bool yuv422 = false)
        : y(size_t(w) * h), u(size_t(w / 2) * (yuv422 ? h : h / 2)), v(u.size) {
        desc = {y.data.get(), u.data.get(), v.data.get(), uint16_t(w), uint16_t(h)};
    }
    int w() const { return desc.width; }
    int h() const { return desc.height; }
};

inline void fillRandom(Bytes& b, std::mt19937& rng) {
    for (size_t i = 0; i < b.size; ++i) b[i] = uint8_t(rng());
}

inline void fillRandom(Frame& f, std::mt19937& rng) {
    fillRandom(f.y, rng);
    fillRandom(f.u, rng);
    fillRandom(f.v, rng);
}

// A pixel buffer with guard words on both sides, all set to a sentinel.
template <typename T>
struct Guarded {
    static constexpr size_t kGuard = 64;
    std::vector<T> all;
    size_t n;
    Guarded(size_t count, T sentinel) : all(count + 2 * kGuard, sentinel), n(count) {}
    T* data() { return all.data() + kGuard; }
    T& operator[](size_t i) { return all[kGuard + i]; }
};

inline int irand(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// Floor division, written out so the models do not lean on shift semantics.
inline int floorDiv(int a, int b) {
    int q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace pixtest
