// YUV 4:2:0 to RGB565 with the four destination walks: the vector kernels
// (ARM builds take the ones of yuv420_rgb565_arm.cpp instead).
#include "pixkit.h"
#include "pixel.h"
#include "vector_runs.h"
#include "yuv420_rgb565.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if !defined(__arm__)

namespace pixkit {
namespace {

// The conversion in 16-bit lanes: every intermediate lies within -192 .. 452,
// so the vectoriser can handle 16 pixels per AVX2 operation. Same arithmetic
// as chromaDelta and yuvPixel.
struct Delta16 {
    int16_t r, g, b;
};

PIXKIT_KERNEL Delta16 delta16(uint8_t u, uint8_t v) {
    const int16_t cb = int16_t(u - 128);
    const int16_t cr = int16_t(v - 128);
    return {int16_t(cr + (cr >> 1)), int16_t((cb >> 3) + (cr >> 1)), int16_t((cb << 1) - (cb >> 3))};
}

// One pixel with the dither offset of its position in the block (or none).
template <bool kDithered, int kRow, int kCol>
PIXKIT_KERNEL uint16_t pixel16(int16_t y, Delta16 d) {
    constexpr Dither o = kDithered ? kDither[kRow][kCol] : Dither{0, 0, 0};
    const uint16_t r = uint16_t(clamp255x16(int16_t(y + d.r + o.r)));
    const uint16_t g = uint16_t(clamp255x16(int16_t(y - d.g + o.g)));
    const uint16_t b = uint16_t(clamp255x16(int16_t(y + d.b + o.b)));
    return pack565(r, g, b);
}

// The two luma samples of a block's row, read as one 16-bit word.
struct LumaPair {
    int16_t left, right;
};
PIXKIT_KERNEL LumaPair lumaPair(const uint8_t* p) {
    uint16_t w;
    std::memcpy(&w, p, 2);
    if constexpr (std::endian::native == std::endian::little) return {int16_t(w & 0xFF), int16_t(w >> 8)};
    else return {int16_t(w >> 8), int16_t(w & 0xFF)};
}

// Vector runs of 64 blocks: one 512-bit or two 256-bit loads of chroma.
constexpr int kVectorBlocks = 64;
constexpr int kShortVectorBlocks = 16;

// m blocks of a row pair into two destination rows, left to right.
template <bool kDithered>
PIXKIT_KERNEL void convertBlocks(const uint8_t* __restrict y0, const uint8_t* __restrict y1,
                                 const uint8_t* __restrict u, const uint8_t* __restrict v,
                                 uint16_t* __restrict out0, uint16_t* __restrict out1, int m) {
    for (int k = 0; k < m; ++k) {
        const Delta16 d = delta16(u[k], v[k]);
        const LumaPair a = lumaPair(y0 + 2 * k);
        const LumaPair b = lumaPair(y1 + 2 * k);
        out0[2 * k] = pixel16<kDithered, 0, 0>(a.left, d);
        out0[2 * k + 1] = pixel16<kDithered, 0, 1>(a.right, d);
        out1[2 * k] = pixel16<kDithered, 1, 0>(b.left, d);
        out1[2 * k + 1] = pixel16<kDithered, 1, 1>(b.right, d);
    }
}

template <bool kDithered>
PIXKIT_KERNEL void convertRowPair(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                  uint16_t* out0, uint16_t* out1, int width) {
    forVectorRuns<kVectorBlocks, kShortVectorBlocks>(width >> 1, [&](int k, int m) PIXKIT_LAMBDA_KERNEL {
        convertBlocks<kDithered>(y0 + 2 * k, y1 + 2 * k, u + k, v + k, out0 + 2 * k, out1 + 2 * k, m);
    });
}

// m blocks of a row pair into the column's two pixels as they lie side by
// side in a turned destination row, column after column: top row first for
// the quarter turn, bottom row first for the three-quarter turn (which
// dithers).
template <bool kThreeQuarter>
PIXKIT_KERNEL void convertBlocksToColumns(const uint8_t* __restrict y0, const uint8_t* __restrict y1,
                                          const uint8_t* __restrict u, const uint8_t* __restrict v,
                                          uint16_t* __restrict out, int m) {
    for (int k = 0; k < m; ++k) {
        const Delta16 d = delta16(u[k], v[k]);
        const LumaPair a = lumaPair(y0 + 2 * k);
        const LumaPair b = lumaPair(y1 + 2 * k);
        if constexpr (kThreeQuarter) {
            out[4 * k] = pixel16<true, 1, 0>(b.left, d);
            out[4 * k + 1] = pixel16<true, 0, 0>(a.left, d);
            out[4 * k + 2] = pixel16<true, 1, 1>(b.right, d);
            out[4 * k + 3] = pixel16<true, 0, 1>(a.right, d);
        } else {
            out[4 * k] = pixel16<false, 0, 0>(a.left, d);
            out[4 * k + 1] = pixel16<false, 1, 0>(b.left, d);
            out[4 * k + 2] = pixel16<false, 0, 1>(a.right, d);
            out[4 * k + 3] = pixel16<false, 1, 1>(b.right, d);
        }
    }
}

template <bool kThreeQuarter>
PIXKIT_KERNEL void convertRowPairToColumns(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                                           const uint8_t* v, uint16_t* out, int width) {
    forVectorRuns<kVectorBlocks, kShortVectorBlocks>(width >> 1, [&](int k, int m) PIXKIT_LAMBDA_KERNEL {
        convertBlocksToColumns<kThreeQuarter>(y0 + 2 * k, y1 + 2 * k, u + k, v + k, out + 4 * k, m);
    });
}

using Dest = Rgb565Dest;

// Rows reversed: source row 0 lands in the window's last destination row.
PIXKIT_VECTOR_CLONES void walkUpright(const SourceWindow& win, const Dest& dst) {
    const int w = win.width;
    const int h = win.height;
    for (int i = 0; i < h; i += 2)
        convertRowPair<false>(win.lumaRow(i), win.lumaRow(i + 1), win.uRow(i), win.vRow(i),
                              dst.row(h - 1 - i), dst.row(h - 2 - i), w);
}

// Columns reversed, dithered. Converting a short run forward and then storing
// it reversed keeps both loops simple enough for the vectoriser.
constexpr int kRunPixels = 2 * kVectorBlocks;

PIXKIT_VECTOR_CLONES void walkHalfTurn(const SourceWindow& win, const Dest& dst) {
    uint16_t run0[kRunPixels];
    uint16_t run1[kRunPixels];
    const int w = win.width;
    for (int i = 0; i < win.height; i += 2) {
        uint16_t* __restrict out0 = dst.row(i);
        uint16_t* __restrict out1 = dst.row(i + 1);
        for (int j0 = 0; j0 < w; j0 += kRunPixels) {
            const int runLength = std::min(kRunPixels, w - j0);
            convertRowPair<true>(win.lumaRow(i) + j0, win.lumaRow(i + 1) + j0, win.uRow(i) + j0 / 2,
                                 win.vRow(i) + j0 / 2, run0, run1, runLength);
            uint16_t* __restrict end0 = out0 + w - 1 - j0;
            uint16_t* __restrict end1 = out1 + w - 1 - j0;
            for (int x = 0; x < runLength; ++x) end0[-x] = run0[x];
            for (int x = 0; x < runLength; ++x) end1[-x] = run1[x];
        }
    }
}

// The quarter turns: source rows become destination columns. Converting a band
// of row pairs into a small tile first lets every destination row be written
// in one contiguous run instead of two pixels per row per pair. The last band
// overlaps its predecessor, so that only windows of fewer than 16 row pairs
// take the slow placement of a partial band.
constexpr int kBandPairs = 16;
constexpr int kTileColumns = 2 * kVectorBlocks;

template <bool kThreeQuarter>
PIXKIT_VECTOR_CLONES void walkTurned(const SourceWindow& win, const Dest& dst) {
    const int w = win.width;
    const int pairs = win.height / 2;
    const int bandPairs = std::min(kBandPairs, pairs);
    // Row q holds pair q's two pixels of each column, as destination words.
    uint16_t tile[kBandPairs][2 * kTileColumns];
    for (int p0 = 0; p0 >= 0; p0 = nextOverlappedRun(p0, pairs, bandPairs)) {
        for (int c0 = 0; c0 < w; c0 += kTileColumns) {
            const int tileColumns = std::min(kTileColumns, w - c0);
            for (int q = 0; q < bandPairs; ++q) {
                const int i = 2 * (p0 + q);
                convertRowPairToColumns<kThreeQuarter>(win.lumaRow(i) + c0, win.lumaRow(i + 1) + c0,
                                                       win.uRow(i) + c0 / 2, win.vRow(i) + c0 / 2, tile[q],
                                                       tileColumns);
            }
            if (bandPairs == kBandPairs) {
                // Full band: transpose the tile into destination order in a
                // loop the vectoriser turns into interleaves, then copy runs.
                uint32_t runs[kTileColumns][kBandPairs];
                for (int c = 0; c < tileColumns; ++c)
                    for (int q = 0; q < kBandPairs; ++q)
                        std::memcpy(&runs[c][kThreeQuarter ? kBandPairs - 1 - q : q], &tile[q][2 * c],
                                    sizeof(uint32_t));
                for (int c = 0; c < tileColumns; ++c) {
                    const int j = c0 + c;
                    uint16_t* out = kThreeQuarter ? dst.row(w - 1 - j) + win.height - 2 * (p0 + kBandPairs)
                                                  : dst.row(j) + 2 * p0;
                    std::memcpy(out, runs[c], sizeof(runs[c]));
                }
                continue;
            }
            for (int c = 0; c < tileColumns; ++c) {
                const int j = c0 + c;
                if constexpr (kThreeQuarter) {
                    // Pair p lands at columns h - 2 - 2p, h - 1 - 2p of row w - 1 - j.
                    uint16_t* out = dst.row(w - 1 - j) + win.height - 2 - 2 * p0;
                    for (int q = 0; q < bandPairs; ++q) std::memcpy(out - 2 * q, &tile[q][2 * c], sizeof(uint32_t));
                } else {
                    uint16_t* out = dst.row(j) + 2 * p0;
                    for (int q = 0; q < bandPairs; ++q) std::memcpy(out + 2 * q, &tile[q][2 * c], sizeof(uint32_t));
                }
            }
        }
    }
}

void vectorYuv420Walk(const SourceWindow& win, const Dest& dst, int code) {
    switch (code) {
    case 0: walkUpright(win, dst); break;
    case 1: walkTurned<false>(win, dst); break;
    case 2: walkHalfTurn(win, dst); break;
    default: walkTurned<true>(win, dst); break;
    }
}

}  // namespace
}  // namespace pixkit

#endif  // !__arm__

extern "C" PIXKIT_API int32_t gYUV420toBGR565TopDown_Rotate(const ImageFrame* src, uint16_t* dst, uint16_t srcX,
                                                            uint16_t srcY, uint16_t width, uint16_t height,
                                                            uint16_t dstX, uint16_t dstY, uint16_t dstStride,
                                                            uint16_t dstHeight, uint8_t rotation) {
#if defined(__arm__)
    const pixkit::Yuv420Walk walk = pixkit::armYuv420Walk;
#else
    const pixkit::Yuv420Walk walk = pixkit::vectorYuv420Walk;
#endif
    return pixkit::convertYuv420ToBgr565(walk, src, dst, srcX, srcY, width, height, dstX, dstY, dstStride,
                                         dstHeight, rotation);
}
