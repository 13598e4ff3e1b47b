// Lossless turns of planar frames and RGB565 windows, the RGB565-to-24-bit turn
// and the mirrors.
#include <cstring>

#include "layout_common.h"
#include "pixel.h"
#include "pixkit.h"

namespace pixkit_layout {
namespace {

using std::ptrdiff_t;

// --- Plane turn kernels -------------------------------------------------------

// Two source rows land in two neighbouring destination columns: `left` in
// d[k * step], `right` in d[k * step + 1]. step may be negative.
void storeColumnPair(const uint8_t* left, const uint8_t* right, int n, uint8_t* d, ptrdiff_t step) {
    for (int k = 0; k < n; ++k) {
        d[k * step] = left[k];
        d[k * step + 1] = right[k];
    }
}

void storeColumn(const uint8_t* s, int n, uint8_t* d, ptrdiff_t step) {
    for (int k = 0; k < n; ++k) d[k * step] = s[k];
}

// Each sample fills two consecutive destination rows of one column.
void storeColumnDoubled(const uint8_t* s, int n, uint8_t* d, ptrdiff_t step) {
    for (int k = 0; k < n; ++k) {
        d[2 * k * step] = s[k];
        d[(2 * k + 1) * step] = s[k];
    }
}

// Eight bytes at a time: a byte swap of a word reverses its bytes in memory
// whatever the byte order.
PIXKIT_KERNEL void reverseRow(const uint8_t* __restrict s, int n, uint8_t* __restrict d) {
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        uint64_t v;
        std::memcpy(&v, s + k, 8);
        v = __builtin_bswap64(v);
        std::memcpy(d + n - 8 - k, &v, 8);
    }
    for (; k < n; ++k) d[n - 1 - k] = s[k];
}

const uint8_t* rowOf(const uint8_t* p, int stride, int r) { return p + static_cast<ptrdiff_t>(r) * stride; }
uint8_t* rowOf(uint8_t* p, int stride, int r) { return p + static_cast<ptrdiff_t>(r) * stride; }

// The 16 x 16 blocks of a quarter turn: the block at source (j0, i0) becomes
// destination rows j0..j0+15 (clockwise: reversed, at column h - 16 - i0) or
// rows w - 1 - j0 down to w - 16 - j0 (anticlockwise: at column i0). The
// block goes through a local copy so that the transposing loop has constant
// bounds and no aliasing, which the vectoriser turns into byte shuffles.
// Returns how many rows and columns the blocks covered.
constexpr int kTurnBlock = 16;

template <bool kClockwise>
PIXKIT_VECTOR_CLONES void turnBlocks(const uint8_t* s, uint8_t* d, int w, int h, int& rowsDone, int& colsDone) {
    rowsDone = h & ~(kTurnBlock - 1);
    colsDone = w & ~(kTurnBlock - 1);
    uint8_t in[kTurnBlock][kTurnBlock], out[kTurnBlock][kTurnBlock];
    for (int i0 = 0; i0 < rowsDone; i0 += kTurnBlock) {
        for (int j0 = 0; j0 < colsDone; j0 += kTurnBlock) {
            // Clockwise, the rows go in bottom first, so both turns share one transpose.
            for (int r = 0; r < kTurnBlock; ++r)
                std::memcpy(in[kClockwise ? kTurnBlock - 1 - r : r], rowOf(s, w, i0 + r) + j0, kTurnBlock);
            for (int c = 0; c < kTurnBlock; ++c)
                for (int r = 0; r < kTurnBlock; ++r) out[c][r] = in[r][c];
            for (int c = 0; c < kTurnBlock; ++c) {
                uint8_t* row = kClockwise ? rowOf(d, h, j0 + c) + h - kTurnBlock - i0
                                          : rowOf(d, h, w - 1 - j0 - c) + i0;
                std::memcpy(row, out[c], kTurnBlock);
            }
        }
    }
}

// Sample (j, i) of a w x h plane goes to (h - 1 - i, j) of an h-wide plane:
// whole 8 x 8 blocks first, then the columns right of them for the block
// rows, then the rows below.
void turnPlaneClockwise(const uint8_t* s, uint8_t* d, int w, int h) {
    int rowsDone, colsDone;
    turnBlocks<true>(s, d, w, h, rowsDone, colsDone);
    int i = 0;
    for (; i + 1 < rowsDone; i += 2)
        storeColumnPair(rowOf(s, w, i + 1) + colsDone, rowOf(s, w, i) + colsDone, w - colsDone,
                        rowOf(d, h, colsDone) + (h - 2 - i), h);
    for (; i + 1 < h; i += 2) storeColumnPair(rowOf(s, w, i + 1), rowOf(s, w, i), w, d + (h - 2 - i), h);
    if (i < h) storeColumn(rowOf(s, w, i), w, d, h); // odd last row: destination column 0
}

// Sample (j, i) goes to (i, w - 1 - j) of an h-wide plane.
void turnPlaneAnticlockwise(const uint8_t* s, uint8_t* d, int w, int h) {
    int rowsDone, colsDone;
    turnBlocks<false>(s, d, w, h, rowsDone, colsDone);
    uint8_t* lastRow = rowOf(d, h, w - 1);
    int i = 0;
    for (; i + 1 < rowsDone; i += 2)
        storeColumnPair(rowOf(s, w, i) + colsDone, rowOf(s, w, i + 1) + colsDone, w - colsDone,
                        lastRow - static_cast<ptrdiff_t>(colsDone) * h + i, -h);
    for (; i + 1 < h; i += 2) storeColumnPair(rowOf(s, w, i), rowOf(s, w, i + 1), w, lastRow + i, -h);
    if (i < h) storeColumn(rowOf(s, w, i), w, lastRow + i, -h);
}

PIXKIT_VECTOR_CLONES void turnPlaneHalf(const uint8_t* s, uint8_t* d, int w, int h) {
    for (int i = 0; i < h; ++i) reverseRow(rowOf(s, w, i), w, rowOf(d, w, h - 1 - i));
}

void turnPlane(const uint8_t* s, uint8_t* d, int w, int h, int code) {
    if (w <= 0 || h <= 0) return;
    switch (code) {
    case 0: std::memcpy(d, s, static_cast<size_t>(w) * h); break;
    case 1: turnPlaneClockwise(s, d, w, h); break;
    case 2: turnPlaneHalf(s, d, w, h); break;
    case 3: turnPlaneAnticlockwise(s, d, w, h); break;
    }
}

// 4:2:2 chroma (w/2 x h, w even) turned a quarter into (h/2) x w: destination
// chroma column cx takes the even source row of the pair that lands on luma
// column 2 cx; each source sample fills the two destination rows of its
// column pair. Odd source rows are not read.
void turn422ChromaClockwise(const uint8_t* s, uint8_t* d, int w, int h) {
    const int cw = w / 2, dcw = h / 2;
    for (int cx = 0; cx < dcw; ++cx) storeColumnDoubled(rowOf(s, cw, (h - 1 - 2 * cx) & ~1), cw, d + cx, dcw);
}

void turn422ChromaAnticlockwise(const uint8_t* s, uint8_t* d, int w, int h) {
    const int cw = w / 2, dcw = h / 2;
    uint8_t* lastRow = rowOf(d, dcw, w - 1);
    for (int cx = 0; cx < dcw; ++cx) storeColumnDoubled(rowOf(s, cw, 2 * cx), cw, lastRow + cx, -dcw);
}

// --- RGB window turns -----------------------------------------------------------

struct TurnWindow {
    int srcX, srcY, dstX, dstY, w, h;
};

// Starts limited to their sizes, the window to the source and to the part of
// the destination its walk reaches; odd sizes stay odd, every pixel moves.
TurnWindow clipTurnWindow(int srcStride, int srcHeight, int srcX, int srcY, int width, int height, int dstX,
                          int dstY, int dstCols, int dstRows, int code) {
    TurnWindow t;
    t.srcX = minOf(srcX, srcStride);
    t.srcY = minOf(srcY, srcHeight);
    t.dstX = minOf(dstX, dstCols);
    t.dstY = minOf(dstY, dstRows);
    t.w = minOf(width, srcStride - t.srcX);
    t.h = minOf(height, srcHeight - t.srcY);
    if (code == 0 || code == 2) {
        t.w = minOf(t.w, dstCols - t.dstX);
        t.h = minOf(t.h, dstRows - t.dstY);
    } else {
        t.w = minOf(t.w, dstRows - t.dstY);
        t.h = minOf(t.h, dstCols - t.dstX);
    }
    return t;
}

// Where window row i starts in the destination and the way its pixels
// advance; the callers turn this into their own addressing.
struct RowPlacement {
    int x, y, dx, dy;
};

RowPlacement placeRow(const TurnWindow& t, int code, int i) {
    switch (code) {
    case 1: return {t.dstX + t.h - 1 - i, t.dstY, 0, 1};
    case 2: return {t.dstX + t.w - 1, t.dstY + t.h - 1 - i, -1, 0};
    case 3: return {t.dstX + i, t.dstY + t.w - 1, 0, -1};
    default: return {t.dstX, t.dstY + i, 1, 0};
    }
}

void placeRgb16(const uint16_t* s, int n, uint16_t* d, ptrdiff_t step) {
    for (int k = 0; k < n; ++k) d[k * step] = s[k];
}

// step in bytes; the dither follows the window row and column parity.
void placeBgr24(const uint16_t* s, int n, int rowParity, uint8_t* d, ptrdiff_t step) {
    for (int k = 0; k < n; ++k) expandRgb565(s[k], rowParity, k & 1, d + k * step);
}

} // namespace
} // namespace pixkit_layout

using namespace pixkit_layout;

extern "C" {

PIXKIT_API void gRotateFrame(const ImageFrame* src, const ImageFrame* dst, uint8_t rotation) {
    if (rotation > 3 || !planesPresent(src, true) || !planesPresent(dst, true)) return;
    const int w = src->width, h = src->height;
    turnPlane(src->y, dst->y, w, h, rotation);
    turnPlane(src->u, dst->u, w / 2, h / 2, rotation);
    turnPlane(src->v, dst->v, w / 2, h / 2, rotation);
}

PIXKIT_API void gRotate422Frame(const ImageFrame* src, const ImageFrame* dst, uint8_t rotation) {
    if (rotation > 3 || !planesPresent(src, true) || !planesPresent(dst, true)) return;
    const int w = src->width, h = src->height;
    if (rotation == 0 || rotation == 2) {
        turnPlane(src->y, dst->y, w, h, rotation);
        turnPlane(src->u, dst->u, w / 2, h, rotation);
        turnPlane(src->v, dst->v, w / 2, h, rotation);
        return;
    }
    // The turned chroma pairs source columns: an odd width has no partner for
    // its last column.
    if (w & 1) return;
    turnPlane(src->y, dst->y, w, h, rotation);
    const auto chroma = rotation == 1 ? turn422ChromaClockwise : turn422ChromaAnticlockwise;
    chroma(src->u, dst->u, w, h);
    chroma(src->v, dst->v, w, h);
}

PIXKIT_API void gRotateMonochromeFrame(const ImageFrame* src, const ImageFrame* dst, uint8_t rotation) {
    if (rotation > 3 || !planesPresent(src, false) || !planesPresent(dst, false)) return;
    turnPlane(src->y, dst->y, src->width, src->height, rotation);
}

PIXKIT_API int32_t gRotateRGB16(const uint16_t* src, uint16_t* dst, uint16_t srcStride, uint16_t srcHeight,
                                uint16_t srcX, uint16_t srcY, uint16_t width, uint16_t height, uint16_t dstX,
                                uint16_t dstY, uint16_t dstStride, uint16_t dstHeight, uint8_t rotation) {
    if (!src || !dst || rotation > 3) return -1;
    const TurnWindow t =
        clipTurnWindow(srcStride, srcHeight, srcX, srcY, width, height, dstX, dstY, dstStride, dstHeight, rotation);
    const uint16_t* s = src + static_cast<ptrdiff_t>(t.srcY) * srcStride + t.srcX;
    for (int i = 0; i < t.h; ++i, s += srcStride) {
        const RowPlacement p = placeRow(t, rotation, i);
        uint16_t* d = dst + static_cast<ptrdiff_t>(p.y) * dstStride + p.x;
        if (rotation == 0)
            std::memcpy(d, s, static_cast<size_t>(t.w) * sizeof(uint16_t));
        else
            placeRgb16(s, t.w, d, static_cast<ptrdiff_t>(p.dy) * dstStride + p.dx);
    }
    return 0;
}

PIXKIT_API int32_t gRotateRGB16toBGR24(const uint16_t* src, uint8_t* dst, uint16_t srcStride,
                                       uint16_t srcHeight, uint16_t srcX, uint16_t srcY, uint16_t width,
                                       uint16_t height, uint16_t dstX, uint16_t dstY, uint16_t dstHeight,
                                       uint16_t dstStride, uint8_t rotation) {
    if (!src || !dst || rotation > 3) return -1;
    // The walk counts whole pixels; spare bytes at a row's end stay untouched.
    const int dstCols = dstStride / 3;
    const TurnWindow t =
        clipTurnWindow(srcStride, srcHeight, srcX, srcY, width, height, dstX, dstY, dstCols, dstHeight, rotation);
    const uint16_t* s = src + static_cast<ptrdiff_t>(t.srcY) * srcStride + t.srcX;
    for (int i = 0; i < t.h; ++i, s += srcStride) {
        const RowPlacement p = placeRow(t, rotation, i);
        uint8_t* d = dst + static_cast<ptrdiff_t>(p.y) * dstStride + 3 * p.x;
        placeBgr24(s, t.w, i & 1, d, static_cast<ptrdiff_t>(p.dy) * dstStride + 3 * p.dx);
    }
    return 0;
}

PIXKIT_API int32_t gMirrorImageRGB565(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height,
                                      int32_t mode) {
    if (width < 0 || height < 0 || !src || !dst) return -1;
    mirrorPlane(src, dst, width, height, mirrorModeOf(mode));
    return 0;
}

PIXKIT_API int32_t gMirrorImageYUV(ImageFrame* src, ImageFrame* dst, int32_t chroma, int32_t mode, int32_t toDst) {
    if (chroma < 0 || chroma > 1) return -1;
    const bool intoDst = (toDst & 0xFF) == 1;
    if (!planesPresent(src, true) || (intoDst && !planesPresent(dst, true))) return -1;
    const ImageFrame* out = intoDst ? dst : src;
    if (intoDst) {
        dst->width = src->width;
        dst->height = src->height;
    }
    const int w = src->width, h = src->height;
    const int ch = chroma == 1 ? h : h / 2;
    const MirrorMode m = mirrorModeOf(mode);
    mirrorPlane<uint8_t>(src->y, out->y, w, h, m);
    mirrorPlane<uint8_t>(src->u, out->u, w / 2, ch, m);
    mirrorPlane<uint8_t>(src->v, out->v, w / 2, ch, m);
    return 0;
}

} // extern "C"
