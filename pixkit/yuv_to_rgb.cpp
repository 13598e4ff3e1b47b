// The multiplying YUV to RGB conversions: planar 4:2:0, 4:2:2 and 4:4:4 and
// packed 4:2:2 in three byte orders, to RGB565 or 24-bit pixels. One row
// kernel converts every layout (packed rows are split into planar pieces
// first); the destination walks are row and column steps.
#include "pixkit.h"
#include "pixel.h"
#include "vector_runs.h"
#include "yuv_coefficients.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace pixkit {
namespace {

// What a member adds to a pixel before clamping.
enum class Tweak {
    kNone,
    kDither,          // the 2 x 2 ordered dither
    kOddColumnLuma,   // odd columns take Y + 1
};

// Channels arrive clamped to 0..255, in 16-bit lanes.
struct Rgb565Sink {
    uint16_t* out;
    void put(int x, int16_t r, int16_t g, int16_t b) const {
        out[x] = pack565(r, g, b);
    }
};

// Three bytes per pixel, red or blue at the lowest address.
template <bool kRedFirst>
struct Rgb24Sink {
    uint8_t* out;
    void put(int x, int16_t r, int16_t g, int16_t b) const {
        uint8_t* p = out + 3 * x;
        p[0] = uint8_t(kRedFirst ? r : b);
        p[1] = uint8_t(g);
        p[2] = uint8_t(kRedFirst ? b : r);
    }
};

// m 2-pixel groups of one planar row, the first landing at pixel x0. The
// chroma increments are worked out first (32-bit products), then the pixels
// in 16-bit lanes: every sum stays inside -300..600.
template <CoefficientSet kSet, Tweak kTweak, class Sink>
PIXKIT_KERNEL void convertPairs(const uint8_t* __restrict y, const uint8_t* __restrict cb,
                                const uint8_t* __restrict cr, int m, const Dither (&o)[2], int x0, Sink sink) {
    constexpr int kMaxPairs = 64;
    int16_t dR[kMaxPairs], dG[kMaxPairs], dB[kMaxPairs];
    constexpr int kOddLuma = kTweak == Tweak::kOddColumnLuma ? 1 : 0;
    for (int k = 0; k < m; ++k) {
        const ChromaDelta d = chromaDeltaQ14<kSet>(cb[k], cr[k]);
        dR[k] = int16_t(d.r);
        dG[k] = int16_t(d.g);
        dB[k] = int16_t(d.b);
    }
    for (int k = 0; k < m; ++k) {
        const int16_t y0 = y[2 * k];
        const int16_t y1 = int16_t(y[2 * k + 1] + kOddLuma);
        sink.put(x0 + 2 * k, clamp255x16(int16_t(y0 + dR[k] + o[0].r)), clamp255x16(int16_t(y0 - dG[k] + o[0].g)),
                 clamp255x16(int16_t(y0 + dB[k] + o[0].b)));
        sink.put(x0 + 2 * k + 1, clamp255x16(int16_t(y1 + dR[k] + o[1].r)),
                 clamp255x16(int16_t(y1 - dG[k] + o[1].g)), clamp255x16(int16_t(y1 + dB[k] + o[1].b)));
    }
}

// `pairs` 2-pixel groups of one planar row, in runs of 64 and 16 groups.
template <CoefficientSet kSet, Tweak kTweak, class Sink>
PIXKIT_KERNEL void convertRow(const uint8_t* __restrict y, const uint8_t* __restrict cb, const uint8_t* __restrict cr,
                              int pairs, int rowParity, Sink sink) {
    Dither o[2] = {{0, 0, 0}, {0, 0, 0}};
    if constexpr (kTweak == Tweak::kDither) o[0] = kDither[rowParity][0], o[1] = kDither[rowParity][1];
    forVectorRuns<64, 16>(pairs, [&](int k, int m) PIXKIT_LAMBDA_KERNEL {
        convertPairs<kSet, kTweak>(y + 2 * k, cb + k, cr + k, m, o, 2 * k, sink);
    });
}

SourceWindow planarWindow(const ImageFrame& f, int x, int y, int w, int h, bool yuv422) {
    const ptrdiff_t cs = f.width / 2;
    const ptrdiff_t chromaRow = yuv422 ? y : y / 2;
    return {f.y + ptrdiff_t(y) * f.width + x, f.u + chromaRow * cs + x / 2, f.v + chromaRow * cs + x / 2,
            f.width, cs, yuv422 ? 0 : 1, w & ~1, h & ~1};
}

// Window offset (i, j) is stored at origin + i * rowStep + j * colStep.
struct Walk {
    uint16_t* origin;
    ptrdiff_t rowStep;
    ptrdiff_t colStep;
    uint16_t* at(int i, int j) const { return origin + i * rowStep + j * colStep; }
};

// Rows stay in memory order; codes 1 and 3 are the clockwise and
// anticlockwise quarter turns of a top-down picture.
Walk topDownWalk(int code, uint16_t* o, ptrdiff_t stride, int w, int h) {
    switch (code) {
    case 0: return {o, stride, 1};
    case 1: return {o + (h - 1), -1, stride};
    case 2: return {o + (h - 1) * stride + (w - 1), -stride, -1};
    default: return {o + (w - 1) * stride, 1, -stride};
    }
}

// The display buffer's walks: code 0 reverses the rows (an upright picture
// in a bottom-up buffer), codes 1 and 3 are its quarter turns.
Walk bottomUpWalk(int code, uint16_t* o, ptrdiff_t stride, int w, int h) {
    switch (code) {
    case 0: return {o + (h - 1) * stride, -stride, 1};
    case 1: return {o, 1, stride};
    case 2: return {o + (w - 1), stride, -1};
    default: return {o + (h - 1) + (w - 1) * stride, -1, -stride};
    }
}

// Packed rows are split into planar pieces first: two plain loops vectorise
// where one strided one does not. Converts m groups from group k on.
constexpr int kPiecePairs = 64;

template <CoefficientSet kSet, Tweak kTweak, int kLumaStep, int kChromaStep>
PIXKIT_KERNEL void convertPackedPiece(const uint8_t* y, const uint8_t* u, const uint8_t* v, int k, int m,
                                      int parity, uint16_t* out) {
    uint8_t py[2 * kPiecePairs], pu[kPiecePairs], pv[kPiecePairs];
    for (int x = 0; x < 2 * m; ++x) py[x] = y[(2 * k + x) * kLumaStep];
    for (int q = 0; q < m; ++q) {
        pu[q] = u[(k + q) * kChromaStep];
        pv[q] = v[(k + q) * kChromaStep];
    }
    convertRow<kSet, kTweak>(py, pu, pv, m, parity, Rgb565Sink{out + 2 * k});
}

// Converts pixels [j0, j0 + n) of window row i (j0 and n even) into `out`.
template <CoefficientSet kSet, Tweak kTweak, int kLumaStep, int kChromaStep>
PIXKIT_KERNEL void convertRun(const SourceWindow& win, int i, int j0, int n, bool evenRowDither, uint16_t* out) {
    const uint8_t* y = win.lumaRow(i) + j0 * kLumaStep;
    const uint8_t* u = win.uRow(i) + (j0 / 2) * kChromaStep;
    const uint8_t* v = win.vRow(i) + (j0 / 2) * kChromaStep;
    const int parity = evenRowDither ? 0 : (i & 1);
    if constexpr (kLumaStep == 1 && kChromaStep == 1) {
        convertRow<kSet, kTweak>(y, u, v, n / 2, parity, Rgb565Sink{out});
    } else {
        forVectorRuns<kPiecePairs, 16>(n / 2, [&](int k, int m) PIXKIT_LAMBDA_KERNEL {
            convertPackedPiece<kSet, kTweak, kLumaStep, kChromaStep>(y, u, v, k, m, parity, out);
        });
    }
}

// The quarter turns: window rows become destination columns, so a band of
// rows converted into a tile gives every destination row one contiguous run
// (rising for kRowStep 1, falling for -1), written after an in-tile transpose.
template <CoefficientSet kSet, Tweak kTweak, int kLumaStep, int kChromaStep, int kRowStep>
PIXKIT_KERNEL void convertTurned(const SourceWindow& win, const Walk& walk, bool evenRowDither) {
    constexpr int kBand = 16;
    constexpr int kRun = 128;
    uint16_t tile[kBand][kRun];
    uint16_t runs[kRun][kBand];
    for (int i0 = 0; i0 < win.height; i0 += kBand) {
        const int nb = std::min(kBand, win.height - i0);
        for (int j0 = 0; j0 < win.width; j0 += kRun) {
            const int n = std::min(kRun, win.width - j0);
            for (int b = 0; b < nb; ++b)
                convertRun<kSet, kTweak, kLumaStep, kChromaStep>(win, i0 + b, j0, n, evenRowDither, tile[b]);
            if (nb == kBand) {
                for (int c = 0; c < n; ++c)
                    for (int b = 0; b < kBand; ++b) runs[c][kRowStep > 0 ? b : kBand - 1 - b] = tile[b][c];
                for (int c = 0; c < n; ++c) {
                    uint16_t* first = walk.at(i0 + (kRowStep > 0 ? 0 : kBand - 1), j0 + c);
                    std::memcpy(first, runs[c], sizeof(runs[c]));
                }
                continue;
            }
            for (int c = 0; c < n; ++c) {
                uint16_t* p = walk.at(i0, j0 + c);
                for (int b = 0; b < nb; ++b) p[b * kRowStep] = tile[b][c];
            }
        }
    }
}

// Converts the window into 16-bit pixels along the walk. Rows land straight in
// the destination when the walk keeps them left to right; a half turn
// converts a short run and stores it reversed.
template <CoefficientSet kSet, Tweak kTweak, int kLumaStep, int kChromaStep>
PIXKIT_KERNEL void convertTo565(const SourceWindow& win, const Walk& walk, bool evenRowDither) {
    if (walk.colStep != 1 && walk.colStep != -1) {
        // Turned walks step one pixel per window row.
        if (walk.rowStep > 0) return convertTurned<kSet, kTweak, kLumaStep, kChromaStep, 1>(win, walk, evenRowDither);
        return convertTurned<kSet, kTweak, kLumaStep, kChromaStep, -1>(win, walk, evenRowDither);
    }
    constexpr int kRun = 256;
    uint16_t run[kRun];
    for (int i = 0; i < win.height; ++i) {
        if (walk.colStep == 1) {
            convertRun<kSet, kTweak, kLumaStep, kChromaStep>(win, i, 0, win.width, evenRowDither, walk.at(i, 0));
            continue;
        }
        for (int j0 = 0; j0 < win.width; j0 += kRun) {
            const int n = std::min(kRun, win.width - j0);
            convertRun<kSet, kTweak, kLumaStep, kChromaStep>(win, i, j0, n, evenRowDither, run);
            uint16_t* __restrict last = walk.at(i, j0);  // colStep -1: the run goes leftwards
            for (int x = 0; x < n; ++x) last[-x] = run[x];
        }
    }
}

// The members' drivers, each compiled once per instruction set with the
// kernels inlined.
PIXKIT_VECTOR_CLONES void convert709(const SourceWindow& win, const Walk& walk, bool evenRowDither) {
    convertTo565<k709, Tweak::kDither, 1, 1>(win, walk, evenRowDither);
}
PIXKIT_VECTOR_CLONES void convert601(const SourceWindow& win, const Walk& walk) {
    convertTo565<k601, Tweak::kDither, 1, 1>(win, walk, false);
}
PIXKIT_VECTOR_CLONES void convertPacked(const SourceWindow& win, const Walk& walk) {
    convertTo565<k709P, Tweak::kDither, 2, 4>(win, walk, false);
}

// Window column `to` repeats column `from` in rows 0..rows-1.
void copyColumn(const Walk& walk, int rows, int to, int from) {
    for (int i = 0; i < rows; ++i) *walk.at(i, to) = *walk.at(i, from);
}

// Window row `to` repeats row `from` in columns 0..cols-1.
void copyRow(const Walk& walk, int cols, int to, int from) {
    for (int j = 0; j < cols; ++j) *walk.at(to, j) = *walk.at(from, j);
}


int clippedSize(int64_t wanted, int frameRoom, int destRoom) {
    return int(std::max<int64_t>(0, std::min<int64_t>({wanted, frameRoom, destRoom})));
}

// The two top-down RGB16 rotations: bit 0 of the corner (and, for 4:2:2, of
// the size) is cleared, the clipped sizes are rounded down to even, and
// windows smaller than 2 x 2 convert nothing.
template <bool kYuv422>
int32_t rgb16Rotate(const ImageFrame* src, uint16_t* dst, int32_t dstStride, int32_t dstHeight, int32_t dstX,
                    int32_t dstY, int32_t srcX, int32_t srcY, int32_t width, int32_t height, int32_t rotation) {
    const int code = rotation & 0xFF;
    if (!dst || !src || !src->y || !src->u || !src->v || code > 3) return -1;
    srcX &= ~1;
    srcY &= ~1;
    if (kYuv422) {
        width &= ~1;
        height &= ~1;
    }
    const bool turned = code & 1;
    const int frameW = roomAfter(src->width, srcX);
    const int frameH = roomAfter(src->height, srcY);
    const int across = roomAfter(dstStride, dstX);
    const int down = roomAfter(dstHeight, dstY);
    if (frameW < 0 || frameH < 0 || across < 0 || down < 0) return -1;
    const int w = clippedSize(width, frameW, turned ? down : across) & ~1;
    const int h = clippedSize(height, frameH, turned ? across : down) & ~1;
    const int32_t ran = kYuv422 ? 0 : 1;
    if (w < 2 || h < 2) return ran;
    const SourceWindow win = planarWindow(*src, srcX, srcY, w, h, kYuv422);
    const Walk walk = topDownWalk(code, dst + ptrdiff_t(dstY) * dstStride + dstX, dstStride, w, h);
    convert709(win, walk, kYuv422);
    return ran;
}

// The whole-frame conversions read the frame from its top-left; destination
// rows hold `width` rounded down to even pixels. Top-down, an odd height
// repeats the last converted row; bottom-up, the first source row lands in
// row (height rounded down to even) - 1 and an odd last row is left alone.
struct WholeFrame {
    int rowLength;  // destination pixels per row
    int width;      // converted, even
    int rows;       // converted, even
    bool extraRow;  // top-down with an odd height: one more row to repeat
    bool topDown;
    int firstRow;   // destination row of source row 0
};

bool wholeFrameOf(const ImageFrame* src, const void* dst, int32_t width, int32_t height, int32_t topDown,
                  WholeFrame& g) {
    if (!src || !src->y || !src->u || !src->v || !dst || width < 2 || height < 2) return false;
    const int w = std::min<int32_t>(width, src->width);
    const int h = std::min<int32_t>(height, src->height);
    g.rowLength = width & ~1;
    g.width = w & ~1;
    g.rows = h & ~1;
    g.topDown = (topDown & 0xFF) != 0;
    g.extraRow = g.topDown && (h & 1);
    g.firstRow = g.topDown ? 0 : (height & ~1) - 1;
    return g.width > 0 && g.rows > 0;
}

void wholeFrameTo565(const ImageFrame* src, uint16_t* dst, int32_t width, int32_t height, int32_t topDown) {
    WholeFrame g;
    if (!wholeFrameOf(src, dst, width, height, topDown, g)) return;
    const SourceWindow win = planarWindow(*src, 0, 0, g.width, g.rows, false);
    const ptrdiff_t stride = g.rowLength;
    const Walk walk{dst + g.firstRow * stride, g.topDown ? stride : -stride, 1};
    convert601(win, walk);
    if (g.extraRow) copyRow(walk, g.width, g.rows, g.rows - 1);
}

template <CoefficientSet kSet, Tweak kTweak, bool kRedFirst, bool kYuv422>
void wholeFrameTo24(const ImageFrame* src, uint8_t* dst, int32_t width, int32_t height, int32_t topDown) {
    WholeFrame g;
    if (!wholeFrameOf(src, dst, width, height, topDown, g)) return;
    const SourceWindow win = planarWindow(*src, 0, 0, g.width, g.rows, kYuv422);
    const ptrdiff_t stride = 3 * ptrdiff_t(g.rowLength);
    const auto row = [&](int i) { return dst + (g.firstRow + (g.topDown ? i : -i)) * stride; };
    for (int i = 0; i < win.height; ++i)
        convertRow<kSet, kTweak>(win.lumaRow(i), win.uRow(i), win.vRow(i), win.width / 2, i & 1,
                                       Rgb24Sink<kRedFirst>{row(i)});
    if (g.extraRow) std::memcpy(row(g.rows), row(g.rows - 1), 3 * size_t(g.width));
}


// A window of a packed 4:2:2 frame (rows of width / 2 groups of 4 bytes) into
// a dstStride x dstHeight RGB565 buffer, top-down or bottom-up. The corner's
// column is taken even so that it starts on a group. An odd clipped width
// repeats each row's last pixel, an odd height the last row.
template <PackedOrder kOrder>
void packedTo565(const ImageFrame& src, uint16_t* dst, int32_t srcX, int32_t srcY, int32_t width, int32_t height,
                 int32_t dstX, int32_t dstY, int32_t dstStride, int32_t dstHeight, int32_t topDown) {
    srcX &= ~1;
    const ptrdiff_t rowBytes = ptrdiff_t(src.width / 2) * 4;
    const int frameW = roomAfter(src.width & ~1, srcX);
    const int frameH = roomAfter(src.height, srcY);
    const int across = roomAfter(dstStride, dstX);
    const int down = roomAfter(dstHeight, dstY);
    if (frameW < 0 || frameH < 0 || across < 0 || down < 0) return;
    const int w = clippedSize(width, frameW, across);
    const int h = clippedSize(height, frameH, down);
    if (w < 2 || h < 2) return;
    const uint8_t* row0 = src.y + ptrdiff_t(srcY) * rowBytes + ptrdiff_t(srcX) * 2;
    const SourceWindow win{row0 + kOrder.y0, row0 + kOrder.cb, row0 + kOrder.cr, rowBytes, rowBytes, 0,
                           w & ~1, h & ~1};
    const ptrdiff_t stride = dstStride;
    const Walk walk = (topDown & 0xFF) ? Walk{dst + dstY * stride + dstX, stride, 1}
                                       : Walk{dst + (dstHeight - 1 - dstY) * stride + dstX, -stride, 1};
    convertPacked(win, walk);
    if (w & 1) copyColumn(walk, win.height, win.width, win.width - 1);
    if (h & 1) copyRow(walk, w, win.height, win.height - 1);
}

// The packed members' checks: -2 for a null buffer, then kFlagRefusal for an
// orientation flag above 1 (0: every flag is taken).
template <PackedOrder kOrder, int32_t kFlagRefusal>
int32_t packedEntry(const ImageFrame* src, uint16_t* dst, int32_t srcX, int32_t srcY, int32_t width, int32_t height,
                    int32_t dstX, int32_t dstY, int32_t dstStride, int32_t dstHeight, int32_t topDown) {
    if (!src || !src->y || !dst) return -2;
    if (kFlagRefusal != 0 && (topDown & 0xFF) > 1) return kFlagRefusal;
    packedTo565<kOrder>(*src, dst, srcX, srcY, width, height, dstX, dstY, dstStride, dstHeight, topDown);
    return 0;
}

}  // namespace
}  // namespace pixkit

using namespace pixkit;

extern "C" {

PIXKIT_API int32_t gYUV420toRGB16Rotate(const ImageFrame* src, uint16_t* dst, int32_t dstStride, int32_t dstHeight,
                                        int32_t dstX, int32_t dstY, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, int32_t rotation) {
    return rgb16Rotate<false>(src, dst, dstStride, dstHeight, dstX, dstY, srcX, srcY, width, height, rotation);
}

PIXKIT_API int32_t gYUV422toRGB16Rotate(const ImageFrame* src, uint16_t* dst, int32_t dstStride, int32_t dstHeight,
                                        int32_t dstX, int32_t dstY, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, int32_t rotation) {
    return rgb16Rotate<true>(src, dst, dstStride, dstHeight, dstX, dstY, srcX, srcY, width, height, rotation);
}

// The display-buffer walks of the 4:2:0 conversion, from planar 4:2:2. For the
// quarter turns dstHeight is the destination's row length and dstStride its
// number of rows.
PIXKIT_API int32_t gYUV422HPlanartoBGR565TopDown_Rotate(const ImageFrame* src, uint16_t* dst, uint16_t srcX,
                                                        uint16_t srcY, uint16_t width, uint16_t height,
                                                        uint16_t dstX, uint16_t dstY, uint16_t dstStride,
                                                        uint16_t dstHeight, uint8_t rotation) {
    if (!dst || !src || !src->y || !src->u || !src->v || rotation > 3) return -1;
    const bool turned = rotation & 1;
    const int rowLength = turned ? dstHeight : dstStride;
    const int rows = turned ? dstStride : dstHeight;
    const int sx = srcX & ~1;
    const int sy = srcY & ~1;
    const int frameW = roomAfter(src->width, sx);
    const int frameH = roomAfter(src->height, sy);
    const int across = roomAfter(rowLength, dstX);
    const int down = roomAfter(rows, dstY);
    if (frameW < 0 || frameH < 0 || across < 0 || down < 0) return -1;
    const int w = clippedSize(width, frameW, turned ? down : across);
    const int h = clippedSize(height, frameH, turned ? across : down);
    const SourceWindow win = planarWindow(*src, sx, sy, w, h, true);
    if (win.width == 0 || win.height == 0) return 0;
    const Walk walk = bottomUpWalk(rotation, dst + ptrdiff_t(dstY) * rowLength + dstX, rowLength, win.width,
                                   win.height);
    convert601(win, walk);
    if (rotation == 0) {
        // Code 0 fills an odd column from its left neighbour; an odd height's
        // extra row (below the converted rows) repeats the row above it.
        const int cols = win.width + (w & 1);
        if (w & 1) copyColumn(walk, win.height, win.width, win.width - 1);
        if (h & 1) copyRow(walk, cols, -1, 0);
    }
    return 0;
}

PIXKIT_API void gPvYUV420toRGB565TopDown(const ImageFrame* src, uint16_t* dst, int32_t width, int32_t height,
                                         int32_t topDown) {
    wholeFrameTo565(src, dst, width, height, topDown);
}

PIXKIT_API void gPvYUV420toRGB888TopDown(const ImageFrame* src, uint8_t* dst, int32_t width, int32_t height,
                                         int32_t topDown) {
    wholeFrameTo24<k601, Tweak::kNone, true, false>(src, dst, width, height, topDown);
}

PIXKIT_API void gYUV422HPlanartoBGR888TopDown(const ImageFrame* src, uint8_t* dst, int32_t width, int32_t height,
                                              int32_t topDown) {
    wholeFrameTo24<k601, Tweak::kDither, false, true>(src, dst, width, height, topDown);
}

// The same function under its second name.
PIXKIT_API void gYUV422HPlanartoRGB888TopDown(const ImageFrame* src, uint8_t* dst, int32_t width, int32_t height,
                                              int32_t topDown)
    __attribute__((alias("gYUV422HPlanartoBGR888TopDown")));

// Whole frame, top-down, B, G, R bytes; rows of dstStride bytes. Odd frame
// sizes convert their even part only.
PIXKIT_API int32_t gYUV420toBGR24(const ImageFrame* src, uint8_t* dst, int32_t dstStride) {
    if (!src || !src->y || !src->u || !src->v || !dst) return -1;
    if (dstStride < 3 * int32_t(src->width)) return -1;
    const SourceWindow win = planarWindow(*src, 0, 0, src->width, src->height, false);
    for (int i = 0; i < win.height; ++i)
        convertRow<k709R, Tweak::kOddColumnLuma>(win.lumaRow(i), win.uRow(i), win.vRow(i), win.width / 2, 0,
                                                        Rgb24Sink<false>{dst + ptrdiff_t(i) * dstStride});
    return 0;
}

// Planar 4:4:4, one chroma pair per pixel, into packed rows of `width` pixels
// at dst->y (which need not be 2-byte aligned).
PIXKIT_API void gYUV444toRGB16(const ImageFrame* src, const ImageFrame* dst, int32_t width, int32_t height) {
    if (!src || !src->y || !src->u || !src->v || !dst || !dst->y) return;
    const int w = std::max(0, std::min<int32_t>(width, src->width));
    const int h = std::max(0, std::min<int32_t>(height, src->height));
    constexpr int kRun = 256;
    uint16_t run[kRun];
    for (int i = 0; i < h; ++i) {
        const ptrdiff_t at = ptrdiff_t(i) * src->width;
        uint8_t* out = dst->y + ptrdiff_t(i) * width * 2;
        for (int j0 = 0; j0 < w; j0 += kRun) {
            const int n = std::min(kRun, w - j0);
            for (int x = 0; x < n; ++x) {
                const ptrdiff_t s = at + j0 + x;
                run[x] = yuvPixel(src->y[s], chromaDeltaQ14<k601R>(src->u[s], src->v[s]));
            }
            std::memcpy(out + 2 * j0, run, 2 * size_t(n));
        }
    }
}

// The packed 4:2:2 conversions; a null buffer is refused with -2.
#define PIXKIT_PACKED_TO_565(name, order, flagRefusal)                                                            \
    PIXKIT_API int32_t name(const ImageFrame* src, uint16_t* dst, int32_t srcX, int32_t srcY, int32_t width,      \
                            int32_t height, int32_t dstX, int32_t dstY, int32_t dstStride, int32_t dstHeight,     \
                            int32_t topDown) {                                                                    \
        return packedEntry<order, flagRefusal>(src, dst, srcX, srcY, width, height, dstX, dstY, dstStride,        \
                                               dstHeight, topDown);                                               \
    }

PIXKIT_PACKED_TO_565(gUYVYtoRGB565, kUyvy, 0)    // any flag: non-zero is top-down
PIXKIT_PACKED_TO_565(gVYUYtoRGB565, kVyuy, -16)  // a flag above 1 is refused
PIXKIT_PACKED_TO_565(gYUYVtoRGB565, kYuyv, -1)

}  // extern "C"
