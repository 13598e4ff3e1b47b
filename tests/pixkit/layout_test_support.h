// Random frames and sentinel-filled buffers for the layout, turn and mirror tests.
#ifndef PIXKIT_LAYOUT_TEST_SUPPORT_H
#define PIXKIT_LAYOUT_TEST_SUPPORT_H

#include <cstdint>
#include <random>
#include <vector>

#include "pixkit.h"

namespace layout_test {

inline constexpr uint8_t kSentinel8 = 0xA5;
inline constexpr uint16_t kSentinel16 = 0xA5C3;

class Rng {
public:
    explicit Rng(uint32_t seed) : gen_(seed) {}
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
    template <typename T>
    std::vector<T> buffer(size_t n) {
        std::vector<T> v(n);
        for (auto& x : v) x = static_cast<T>(std::uniform_int_distribution<uint32_t>(0, 0xFFFFFFFFu)(gen_));
        return v;
    }

private:
    std::mt19937 gen_;
};

// Planes of a planar frame, each an exact-size allocation so the sanitizer
// catches any access past a plane. An empty plane still gets one byte: a null
// plane pointer is refused, and the byte must stay untouched.
struct Planes {
    std::vector<uint8_t> y, u, v;
};

inline Planes randomPlanes(Rng& rng, size_t luma, size_t chroma) {
    chroma = chroma ? chroma : 1;
    luma = luma ? luma : 1;
    return {rng.buffer<uint8_t>(luma), rng.buffer<uint8_t>(chroma), rng.buffer<uint8_t>(chroma)};
}

inline Planes sentinelPlanes(size_t luma, size_t chroma) {
    chroma = chroma ? chroma : 1;
    luma = luma ? luma : 1;
    return {std::vector<uint8_t>(luma, kSentinel8), std::vector<uint8_t>(chroma, kSentinel8),
            std::vector<uint8_t>(chroma, kSentinel8)};
}

inline ImageFrame frameOf(Planes& p, int w, int h) {
    return ImageFrame{p.y.data(), p.u.data(), p.v.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
}

} // namespace layout_test

#endif
