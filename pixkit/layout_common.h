// Helpers shared by the layout conversions, turns and mirrors: RGB565 fields,
// the RGB565-to-YUV table, the expansion dither, window clipping and the
// swap kernels of the mirrors.
#ifndef PIXKIT_LAYOUT_COMMON_H
#define PIXKIT_LAYOUT_COMMON_H

#include <cstddef>
#include <cstdint>

#include "pixkit.h"

namespace pixkit_layout {

// A frame whose planes are all there (or just its luma plane).
inline bool planesPresent(const ImageFrame* f, bool chroma = true) {
    return f && f->y && (!chroma || (f->u && f->v));
}

// --- RGB565 to YUV ---------------------------------------------------------

inline constexpr int kRgb565ToYuvSize = 352;
// Linear sub-tables k x step (Q14); offsets of each sub-table in the table.
extern const int32_t kRgb565ToYuv[kRgb565ToYuvSize];
inline constexpr int kRedToY = 0;
inline constexpr int kGreenToY = 32;
inline constexpr int kBlueToY = 96;
inline constexpr int kRedToCb = 128;
inline constexpr int kGreenToCb = 160;
inline constexpr int kBlueToCb = 224;
inline constexpr int kRedToCr = 224; // the same steps as blue to Cb
inline constexpr int kGreenToCr = 256;
inline constexpr int kBlueToCr = 320;

// The sub-tables' steps: entry k of a sub-table is k x step, so a row loop
// may multiply instead of looking up (the vectoriser cannot gather).
inline constexpr int32_t kRedToYStep = 23840, kGreenToYStep = 40092, kBlueToYStep = 8096;
inline constexpr int32_t kRedToCbStep = -13184, kGreenToCbStep = -22116, kBlueToCbStep = 57344;
inline constexpr int32_t kRedToCrStep = 57344, kGreenToCrStep = -26028, kBlueToCrStep = -5272;

inline int red5(uint16_t p) { return p >> 11; }
inline int green6(uint16_t p) { return (p >> 5) & 63; }
inline int blue5(uint16_t p) { return p & 31; }

// The table's sums stay inside 16..230 (luma) and 18..238 (chroma): no clamp.
inline uint8_t rgb565Luma(uint16_t p) {
    const int32_t sum = kRgb565ToYuv[kRedToY + red5(p)] + kRgb565ToYuv[kGreenToY + green6(p)] +
                        kRgb565ToYuv[kBlueToY + blue5(p)];
    return static_cast<uint8_t>((sum >> 14) + 16);
}
inline uint8_t rgb565Cb(uint16_t p) {
    const int32_t sum = kRgb565ToYuv[kRedToCb + red5(p)] + kRgb565ToYuv[kGreenToCb + green6(p)] +
                        kRgb565ToYuv[kBlueToCb + blue5(p)];
    return static_cast<uint8_t>((sum >> 14) + 128);
}
inline uint8_t rgb565Cr(uint16_t p) {
    const int32_t sum = kRgb565ToYuv[kRedToCr + red5(p)] + kRgb565ToYuv[kGreenToCr + green6(p)] +
                        kRgb565ToYuv[kBlueToCr + blue5(p)];
    return static_cast<uint8_t>((sum >> 14) + 128);
}

// --- 24-bit B, G, R to YUV (Q16 weights, full range) ----------------------

inline uint8_t bgrLuma(int b, int g, int r) {
    return static_cast<uint8_t>((19595 * r + 38470 * g + 7471 * b) >> 16);
}
// Sums over the four pixels of a 2 x 2 block; the 32767 weight keeps the
// products within 31 bits.
inline uint8_t bgrBlockCb(int sb, int sg, int sr) {
    return static_cast<uint8_t>(((32767 * sb - 11059 * sr - 21709 * sg) >> 18) + 128);
}
inline uint8_t bgrBlockCr(int sb, int sg, int sr) {
    return static_cast<uint8_t>(((32767 * sr - 27439 * sg - 5329 * sb) >> 18) + 128);
}

// --- RGB565 to 24 bits ------------------------------------------------------

// Offsets by source row and column parity: {blue and red, green}. The sums
// never pass 255 because a field shifted up leaves its low bits free.
inline constexpr uint8_t kExpandDither[2][2][2] = {
    {{0, 0}, {4, 2}},
    {{6, 3}, {2, 1}},
};

inline void expandRgb565(uint16_t p, int rowParity, int colParity, uint8_t* bgr) {
    const uint8_t* off = kExpandDither[rowParity][colParity];
    bgr[0] = static_cast<uint8_t>((blue5(p) << 3) + off[0]);
    bgr[1] = static_cast<uint8_t>((green6(p) << 2) + off[1]);
    bgr[2] = static_cast<uint8_t>((red5(p) << 3) + off[0]);
}

// --- Clipping ---------------------------------------------------------------

inline int minOf(int a, int b) { return a < b ? a : b; }
inline int minOf(int a, int b, int c) { return minOf(minOf(a, b), c); }

// --- Mirror kernels -----------------------------------------------------------

// Swap-based so that src == dst (in place) and distinct buffers both work:
// both partners are read before either is written.
template <typename T>
void swapRows(const T* srcA, const T* srcB, T* dstA, T* dstB, int n) {
    for (int c = 0; c < n; ++c) {
        const T a = srcA[c];
        const T b = srcB[c];
        dstA[c] = b;
        dstB[c] = a;
    }
}

// Element c of row A swaps with element n - 1 - c of row B, for c < count.
template <typename T>
void swapRowsReversed(const T* srcA, const T* srcB, T* dstA, T* dstB, int n, int count) {
    for (int c = 0; c < count; ++c) {
        const T a = srcA[c];
        const T b = srcB[n - 1 - c];
        dstA[c] = b;
        dstB[n - 1 - c] = a;
    }
}

enum class MirrorMode { kHorizontal, kVertical, kHalfTurn };

inline MirrorMode mirrorModeOf(int32_t mode) {
    return mode == 1 ? MirrorMode::kVertical : mode == 2 ? MirrorMode::kHalfTurn : MirrorMode::kHorizontal;
}

// Mirrors a w x h plane (row stride w) from src into dst; src may equal dst.
template <typename T>
void mirrorPlane(const T* src, T* dst, int w, int h, MirrorMode mode) {
    const auto row = [w](auto* base, int r) { return base + static_cast<std::ptrdiff_t>(r) * w; };
    switch (mode) {
    case MirrorMode::kHorizontal:
        for (int r = 0; r < h; ++r) swapRowsReversed(row(src, r), row(src, r), row(dst, r), row(dst, r), w, (w + 1) / 2);
        break;
    case MirrorMode::kVertical:
        // The middle row of an odd height swaps with itself: a copy.
        for (int r = 0; r < (h + 1) / 2; ++r) swapRows(row(src, r), row(src, h - 1 - r), row(dst, r), row(dst, h - 1 - r), w);
        break;
    case MirrorMode::kHalfTurn:
        for (int r = 0; r < h / 2; ++r)
            swapRowsReversed(row(src, r), row(src, h - 1 - r), row(dst, r), row(dst, h - 1 - r), w, w);
        // The middle row of an odd height is reversed too, as a half turn needs.
        if (h & 1) {
            const int m = h / 2;
            swapRowsReversed(row(src, m), row(src, m), row(dst, m), row(dst, m), w, (w + 1) / 2);
        }
        break;
    }
}

} // namespace pixkit_layout

#endif
