// Scaling of 8-bit planes and RGB565 pictures.
#include "pixkit.h"
#include "pixel.h"
#include "scale.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace pixkit {
namespace {

const auto& kScale = kScaleTables;

#if !defined(__arm__)

// Destination columns handled per pass of the plane scaler (bounds the
// per-column tables and the filtered rows on the stack).
constexpr int kColumnChunk = 1024;

// The four-tap sum factors into a horizontal and a vertical two-tap blend,
// the weights being products: ((8 - fy) x H(y0) + fy x H(y1)) >> 6 with
// H(y) = (8 - fx) x S(x0, y) + fx x S(x1, y). H is at most 2040 and the sum at
// most 16320, so every stage fits 16-bit lanes.
struct ColumnTaps {
    int left[kColumnChunk];
    int right[kColumnChunk];
    uint16_t wLeft[kColumnChunk];   // 8 - fx
    uint16_t wRight[kColumnChunk];  // fx
};

// Horizontal blend of one source row at arbitrary taps.
PIXKIT_KERNEL void filterRow(const uint8_t* __restrict row, const ColumnTaps& t, uint16_t* __restrict out, int n) {
    for (int c = 0; c < n; ++c) out[c] = uint16_t(t.wLeft[c] * row[t.left[c]] + t.wRight[c] * row[t.right[c]]);
}

// Vector loops run in blocks of a constant count, each one straight vector
// sequence; the last block overlaps its predecessor instead of leaving a
// scalar tail (the outputs never feed the inputs).
constexpr int kVectorBlock = 64;

// Start of the block after the one at c over columns .. n - 1, -1 after the
// last; blocks after the first start on multiples of the block size, so that
// their stores stay aligned with the rows.
inline int nextBlock(int c, int n) {
    if (c + kVectorBlock >= n) return -1;
    return std::min((c + kVectorBlock) & ~(kVectorBlock - 1), n - kVectorBlock);
}

// a x (8 - f) + b x f, computed as 8 a + f x (b - a): one multiplication,
// and every term fits a signed 16-bit lane for a, b up to 2040.
PIXKIT_KERNEL int16_t lerp8(int16_t a, int16_t b, int16_t f) { return int16_t((a << 3) + f * int16_t(b - a)); }

PIXKIT_KERNEL void blendFilteredRun(const uint16_t* __restrict top, const uint16_t* __restrict bottom,
                                    uint8_t* __restrict out, int16_t fy, int m) {
    for (int c = 0; c < m; ++c) out[c] = uint8_t(lerp8(int16_t(top[c]), int16_t(bottom[c]), fy) >> 6);
}

PIXKIT_KERNEL void blendFiltered(const uint16_t* top, const uint16_t* bottom, uint8_t* out, int fy, int n) {
    if (n < kVectorBlock) return blendFilteredRun(top, bottom, out, int16_t(fy), n);
    for (int c = 0; c >= 0; c = nextBlock(c, n))
        blendFilteredRun(top + c, bottom + c, out + c, int16_t(fy), kVectorBlock);
}

// Columns c >= 1 have their taps at base + kStride x c and kGap further: the
// 2:1 and 4:1 reductions. The fixed pattern lets the vectoriser load the taps
// as strided runs instead of one at a time.
template <int kStride, int kGap>
PIXKIT_KERNEL void blendRegularRun(const uint8_t* __restrict top, const uint8_t* __restrict bottom,
                                   const uint16_t* __restrict fx, uint8_t* __restrict out, int16_t fy, int m) {
    for (int c = 0; c < m; ++c) {
        const int16_t l = lerp8(top[kStride * c], bottom[kStride * c], fy);
        const int16_t r = lerp8(top[kStride * c + kGap], bottom[kStride * c + kGap], fy);
        out[c] = uint8_t(lerp8(l, r, int16_t(fx[c])) >> 6);
    }
}

// The 2:1 taps are adjacent byte pairs: read as 16-bit words, each column's
// two taps are the word's halves, already in 16-bit lanes.
template <>
PIXKIT_KERNEL void blendRegularRun<2, 1>(const uint8_t* __restrict top, const uint8_t* __restrict bottom,
                                         const uint16_t* __restrict fx, uint8_t* __restrict out, int16_t fy,
                                         int m) {
    constexpr bool kLittle = std::endian::native == std::endian::little;
    const int16_t wt = int16_t(8 - fy);
    for (int c = 0; c < m; ++c) {
        uint16_t tp, bp;
        std::memcpy(&tp, top + 2 * c, 2);
        std::memcpy(&bp, bottom + 2 * c, 2);
        const int16_t t0 = int16_t(kLittle ? tp & 0xFF : tp >> 8);
        const int16_t t1 = int16_t(kLittle ? tp >> 8 : tp & 0xFF);
        const int16_t b0 = int16_t(kLittle ? bp & 0xFF : bp >> 8);
        const int16_t b1 = int16_t(kLittle ? bp >> 8 : bp & 0xFF);
        const int16_t l = int16_t(wt * t0 + fy * b0);
        const int16_t r = int16_t(wt * t1 + fy * b1);
        out[c] = uint8_t(lerp8(l, r, int16_t(fx[c])) >> 6);
    }
}

template <int kStride, int kGap>
PIXKIT_KERNEL void blendRegular(const uint8_t* top, const uint8_t* bottom, int base, const ColumnTaps& t,
                                uint8_t* out, int fy, int n) {
    auto run = [&](int c, int m) {
        const int x = base + kStride * c;
        blendRegularRun<kStride, kGap>(top + x, bottom + x, t.wRight + c, out + c, int16_t(fy), m);
    };
    if (n - 1 < kVectorBlock) return run(1, n - 1);
    for (int c = 1; c >= 0; c = nextBlock(c, n)) run(c, kVectorBlock);
}

// Which tap pattern the chunk's columns 1 .. n - 1 follow: 0 for none.
PIXKIT_KERNEL int regularStride(const ColumnTaps& t, int n) {
    if (n < 3) return 0;
    const int stride = t.left[2] - t.left[1];
    const int gap = t.right[1] - t.left[1];
    if (!((stride == 2 && gap == 1) || (stride == 4 && gap == 2))) return 0;
    for (int c = 1; c < n; ++c)
        if (t.left[c] != t.left[1] + stride * (c - 1) || t.right[c] != t.left[c] + gap) return 0;
    return stride;
}

PIXKIT_VECTOR_CLONES void scaleColumns(const uint8_t* src, uint8_t* dst, int srcWidth, int dstWidth,
                                       int dstHeight, int winY, int lastY, int sy, uint64_t stepY,
                                       const ColumnTaps& t, int j0, int n) {
    const int stride = regularStride(t, n);
    // Filtered rows, each kept while the next destination row still uses it.
    uint16_t filtered[2][kColumnChunk];
    int filteredRow[2] = {-1, -1};
    for (int i = 0; i < dstHeight; ++i) {
        const uint64_t pos = (uint64_t(i) * stepY) >> 15;
        const int y0 = winY + int((pos >> 3) << sy);
        const int y1 = std::min(y0 + (1 << sy), lastY);
        const int fy = int(pos & 7);
        const uint8_t* top = src + size_t(y0) * srcWidth;
        const uint8_t* bottom = src + size_t(y1) * srcWidth;
        uint8_t* out = dst + size_t(i) * dstWidth + j0;
        if (stride) {
            const int h0 = t.wLeft[0] * top[t.left[0]] + t.wRight[0] * top[t.right[0]];
            const int h1 = t.wLeft[0] * bottom[t.left[0]] + t.wRight[0] * bottom[t.right[0]];
            out[0] = uint8_t(((8 - fy) * h0 + fy * h1) >> 6);
            // Column c reads base + stride x c; base itself may lie before the row.
            const int base = t.left[1] - stride;
            if (stride == 2)
                blendRegular<2, 1>(top, bottom, base, t, out, fy, n);
            else
                blendRegular<4, 2>(top, bottom, base, t, out, fy, n);
            continue;
        }
        int slot0 = filteredRow[0] == y0 ? 0 : filteredRow[1] == y0 ? 1 : -1;
        if (slot0 < 0) {
            // Reuse the slot that does not hold y1.
            slot0 = filteredRow[0] == y1 ? 1 : 0;
            filterRow(top, t, filtered[slot0], n);
            filteredRow[slot0] = y0;
        }
        int slot1 = filteredRow[slot0] == y1 ? slot0 : filteredRow[1 - slot0] == y1 ? 1 - slot0 : -1;
        if (slot1 < 0) {
            slot1 = 1 - slot0;
            filterRow(bottom, t, filtered[slot1], n);
            filteredRow[slot1] = y1;
        }
        blendFiltered(filtered[slot0], filtered[slot1], out, fy, n);
    }
}

#endif  // !__arm__

}  // namespace

#if !defined(__arm__)
namespace {

void vectorScalePlane(const PlaneScale& p) {
    ColumnTaps taps;
    for (int j0 = 0; j0 < p.dstWidth; j0 += kColumnChunk) {
        const int n = std::min(kColumnChunk, p.dstWidth - j0);
        for (int c = 0; c < n; ++c) {
            const int pos = p.columnPosition(j0 + c);
            const int x0 = p.winX + ((pos >> 3) << p.sx);
            // Only a one-column window has its second tap outside; its weight is 0 there.
            taps.left[c] = x0;
            taps.right[c] = std::min(x0 + (1 << p.sx), p.lastX);
            taps.wLeft[c] = uint16_t(8 - (pos & 7));
            taps.wRight[c] = uint16_t(pos & 7);
        }
        scaleColumns(p.src, p.dst, p.srcWidth, p.dstWidth, p.dstHeight, p.winY, p.lastY, p.sy, p.stepY, taps, j0, n);
    }
}

}  // namespace
#endif

void scalePlane(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                int winX, int winY, int winWidth, int winHeight) {
    PlaneScale job;
    if (!planeScaleOf(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, winX, winY, winWidth, winHeight, job))
        return;
#if defined(__arm__)
    armScalePlane(job);
#else
    vectorScalePlane(job);
#endif
}

void scaleRgb565(const uint16_t* src, uint16_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                 int winX, int winY, int winWidth, int winHeight) {
    if (!src || !dst || dstWidth <= 0 || dstHeight <= 0) return;
    if (winX < 0 || winY < 0 || winX >= srcWidth || winY >= srcHeight || winWidth <= 0 || winHeight <= 0) return;
    winWidth = std::min(winWidth, srcWidth - winX);
    winHeight = std::min(winHeight, srcHeight - winY);
    const uint64_t stepX = (uint64_t(winWidth) << 18) / uint64_t(dstWidth);
    const uint64_t stepY = (uint64_t(winHeight) << 18) / uint64_t(dstHeight);

    // Tap index and phase of destination row or column k; the first tap is
    // lowered off the window's last sample so that the second one exists.
    struct Tap {
        int first;
        int second;
        int phase;
    };
    auto tap = [](int k, uint64_t step, int size) {
        const uint64_t pos = k == 0 ? 0 : (uint64_t(k) * step + 1) >> 15;
        int t = std::min(int(pos >> 3), size - 1);
        if (t == size - 1 && t > 0) --t;
        return Tap{t, std::min(t + 1, size - 1), int(pos & 7)};
    };

    // The last column and row are copies of their neighbours, not interpolated.
    const int cols = dstWidth > 1 ? dstWidth - 1 : 1;
    const int rowsOut = dstHeight > 1 ? dstHeight - 1 : 1;
    for (int i = 0; i < rowsOut; ++i) {
        const Tap ty = tap(i, stepY, winHeight);
        const uint16_t* r0 = src + size_t(winY + ty.first) * srcWidth + winX;
        const uint16_t* r1 = src + size_t(winY + ty.second) * srcWidth + winX;
        uint16_t* out = dst + size_t(i) * dstWidth;
        for (int j = 0; j < cols; ++j) {
            const Tap tx = tap(j, stepX, winWidth);
            const int k = 8 * ty.phase + tx.phase;
            const int w0 = kScale.weights[k], w1 = kScale.weights[64 + k];
            const int w2 = kScale.weights[128 + k], w3 = kScale.weights[192 + k];
            const int p0 = r0[tx.first], p1 = r0[tx.second], p2 = r1[tx.first], p3 = r1[tx.second];
            auto field = [&](int shift, int mask) {
                return ((w0 * ((p0 >> shift) & mask) + w1 * ((p1 >> shift) & mask) + w2 * ((p2 >> shift) & mask) +
                         w3 * ((p3 >> shift) & mask)) >>
                        6);
            };
            out[j] = uint16_t((field(11, 31) << 11) | (field(5, 63) << 5) | field(0, 31));
        }
        if (dstWidth > 1) out[dstWidth - 1] = out[dstWidth - 2];
    }
    if (dstHeight > 1)
        std::memcpy(dst + size_t(dstHeight - 1) * dstWidth, dst + size_t(dstHeight - 2) * dstWidth,
                    sizeof(uint16_t) * dstWidth);
}

}  // namespace pixkit

using namespace pixkit;

extern "C" {

PIXKIT_API void gScaleFrame(const ImageFrame* src, ImageFrame* dst) {
    if (!src || !dst) return;
    const int w = src->width, h = src->height, dw = dst->width, dh = dst->height;
    scalePlane(src->y, dst->y, w, h, dw, dh, 0, 0, w, h);
    if (src->u && dst->u) scalePlane(src->u, dst->u, w / 2, h / 2, dw / 2, dh / 2, 0, 0, w / 2, h / 2);
    if (src->v && dst->v) scalePlane(src->v, dst->v, w / 2, h / 2, dw / 2, dh / 2, 0, 0, w / 2, h / 2);
}

PIXKIT_API void gScaleCroppedFrame(const ImageFrame* src, ImageFrame* dst, int32_t cropX, int32_t cropY,
                                   uint16_t cropW, uint16_t cropH) {
    // A negative corner would halve toward 0 and let the chroma run where luma refused.
    if (!src || !dst || cropX < 0 || cropY < 0) return;
    const int w = src->width, h = src->height, dw = dst->width, dh = dst->height;
    scalePlane(src->y, dst->y, w, h, dw, dh, cropX, cropY, cropW, cropH);
    scalePlane(src->u, dst->u, w / 2, h / 2, dw / 2, dh / 2, cropX / 2, cropY / 2, cropW / 2, cropH / 2);
    scalePlane(src->v, dst->v, w / 2, h / 2, dw / 2, dh / 2, cropX / 2, cropY / 2, cropW / 2, cropH / 2);
}

PIXKIT_API void gScaleCroppedFrameYUV422(const ImageFrame* src, ImageFrame* dst, int32_t cropX, int32_t cropY,
                                         uint16_t cropW, uint16_t cropH) {
    if (!src || !dst || cropX < 0 || cropY < 0) return;
    const int w = src->width, h = src->height, dw = dst->width, dh = dst->height;
    scalePlane(src->y, dst->y, w, h, dw, dh, cropX, cropY, cropW, cropH);
    scalePlane(src->u, dst->u, w / 2, h, dw / 2, dh, cropX / 2, cropY, cropW / 2, cropH);
    scalePlane(src->v, dst->v, w / 2, h, dw / 2, dh, cropX / 2, cropY, cropW / 2, cropH);
}

PIXKIT_API void gScaleRGB565Frame(const uint16_t* src, uint16_t* dst, int32_t srcWidth, int32_t srcHeight,
                                  int32_t dstWidth, int32_t dstHeight) {
    scaleRgb565(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, 0, 0, srcWidth, srcHeight);
}

PIXKIT_API void gScaleRGB565CroppedFrame(const uint16_t* src, uint16_t* dst, int32_t srcWidth, int32_t srcHeight,
                                         int32_t dstWidth, int32_t dstHeight, int32_t cropX, int32_t cropY,
                                         int32_t cropW, int32_t cropH) {
    scaleRgb565(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, cropX, cropY, cropW, cropH);
}

}  // extern "C"
