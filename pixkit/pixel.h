// What the Pixkit families share: the shift-and-add YUV to RGB increments,
// clamping, RGB565 packing and the 2 x 2 dither, the source window and
// packed-order records, and the room a start leaves.
#pragma once

#include <cstddef>
#include <cstdint>

// Hot frame loops get AVX-512 and AVX2 clones on x86-64, one chosen at load
// time for the CPU at hand; the arithmetic is the same integer arithmetic, only
// wider. Other compilers and targets (clang for fuzzing, the ARM cross build)
// get the plain function. The test builds of the narrower variants define
// PIXKIT_WIDEST_CLONE_AVX2 or PIXKIT_NO_CLONES, so that every clone a machine
// may pick is checked on this one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(PIXKIT_NO_CLONES)
#if defined(PIXKIT_WIDEST_CLONE_AVX2)
#define PIXKIT_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define PIXKIT_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
#else
#define PIXKIT_VECTOR_CLONES
#endif

// For the kernels the cloned loops call: inlined, they are compiled for each
// clone's target instead of only the default one.
#define PIXKIT_KERNEL inline __attribute__((always_inline))
// The same for a lambda a kernel hands to a loop helper.
#define PIXKIT_LAMBDA_KERNEL __attribute__((always_inline))

namespace pixkit {

// Room a size leaves after a start; -1 when the start lies outside it (or is
// negative), which the window functions refuse or clip to nothing.
inline int roomAfter(int64_t size, int64_t start) { return start < 0 || start > size ? -1 : int(size - start); }

// Rows of a clipped source window: row i's luma at y + i * lumaStride, its
// chroma in row i >> chromaRowShift. Packed frames point all three at the
// same row, offset by the byte order.
struct SourceWindow {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    ptrdiff_t lumaStride;
    ptrdiff_t chromaStride;
    int chromaRowShift;  // 1 for 4:2:0, 0 otherwise
    int width;           // even
    int height;          // even
    const uint8_t* lumaRow(int i) const { return y + i * lumaStride; }
    const uint8_t* uRow(int i) const { return u + (i >> chromaRowShift) * chromaStride; }
    const uint8_t* vRow(int i) const { return v + (i >> chromaRowShift) * chromaStride; }
};

// Byte offsets of Y0, Cb, Y1 and Cr within a packed 4:2:2 group of 2 pixels.
struct PackedOrder {
    int y0, cb, y1, cr;
};
inline constexpr PackedOrder kYuyv{0, 1, 2, 3};  // also called Y1UY2V and YUY2
inline constexpr PackedOrder kUyvy{1, 0, 3, 2};  // also called UY1VY2
inline constexpr PackedOrder kVyuy{1, 2, 3, 0};

// Chroma increments of one 2 x 2 block; every shift is arithmetic.
struct ChromaDelta {
    int r;
    int g;
    int b;
};

constexpr ChromaDelta chromaDelta(uint8_t u, uint8_t v) {
    const int cb = int(u) - 128;
    const int cr = int(v) - 128;
    return {cr + (cr >> 1), (cb >> 3) + (cr >> 1), (cb << 1) - (cb >> 3)};
}

constexpr int clamp255(int c) { return c < 0 ? 0 : (c > 255 ? 255 : c); }

// The same clamp in 16-bit lanes (branch-free min/max for the vectoriser).
PIXKIT_KERNEL int16_t clamp255x16(int16_t c) { return c < 0 ? int16_t(0) : (c > 255 ? int16_t(255) : c); }

// Truncating pack of 8-bit channels into blue 0-4, green 5-10, red 11-15.
constexpr uint16_t pack565(int r, int g, int b) {
    return uint16_t((b >> 3) | ((g >> 2) << 5) | ((r >> 3) << 11));
}

// Dither offsets added before clamping, by source row and column parity.
struct Dither {
    int b;
    int g;
    int r;
};
inline constexpr Dither kDither[2][2] = {
    {{0, 3, 2}, {4, 0, 6}},
    {{6, 1, 4}, {2, 2, 0}},
};

// One luma sample with its block's increments and a dither offset.
inline uint16_t yuvPixel(int y, ChromaDelta d, Dither o) {
    return pack565(clamp255(y + d.r + o.r), clamp255(y - d.g + o.g), clamp255(y + d.b + o.b));
}

inline uint16_t yuvPixel(int y, ChromaDelta d) {
    return pack565(clamp255(y + d.r), clamp255(y - d.g), clamp255(y + d.b));
}

}  // namespace pixkit
