// Planar 4:2:0 to packed layouts (UYVY, Y41P), and planar or packed 4:2:2 to
// planar 4:2:0.
#include <algorithm>
#include <cstring>
#include <utility>

#include "layout_common.h"
#include "pixel.h"
#include "pixkit.h"
#include "scale.h"

namespace pixkit_layout {
namespace {

using std::ptrdiff_t;

template <typename T>
T* rowOf(T* p, int stride, int r) {
    return p + static_cast<ptrdiff_t>(r) * stride;
}

// --- Packed outputs -------------------------------------------------------------

// n pixels (even) as Cb, Y0, Cr, Y1 groups: a little-endian word Cb + Y0 << 8 +
// Cr << 16 + Y1 << 24.
void uyvyRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int n, uint8_t* out) {
    for (int g = 0; g < n / 2; ++g, out += 4) {
        out[0] = cb[g];
        out[1] = y[2 * g];
        out[2] = cr[g];
        out[3] = y[2 * g + 1];
    }
}

// Groups of 8 pixels in 12 bytes; chroma samples 1 and 3 of each group are dropped.
void y41pRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int groups, uint8_t* out) {
    for (int g = 0; g < groups; ++g, y += 8, cb += 4, cr += 4, out += 12) {
        out[0] = cb[0];
        out[1] = y[0];
        out[2] = cr[0];
        out[3] = y[1];
        out[4] = cb[2];
        out[5] = y[2];
        out[6] = cr[2];
        out[7] = y[3];
        std::memcpy(out + 8, y + 4, 4);
    }
}

// --- Packed 4:2:2 inputs ------------------------------------------------------

using pixkit::PackedOrder;

template <PackedOrder O>
void unpackLumaRow(const uint8_t* s, int groups, uint8_t* y) {
    for (int g = 0; g < groups; ++g, s += 4) {
        y[2 * g] = s[O.y0];
        y[2 * g + 1] = s[O.y1];
    }
}

template <PackedOrder O>
void unpackRow(const uint8_t* s, int groups, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    for (int g = 0; g < groups; ++g, s += 4) {
        y[2 * g] = s[O.y0];
        y[2 * g + 1] = s[O.y1];
        cb[g] = s[O.cb];
        cr[g] = s[O.cr];
    }
}

// width x height packed pixels (row stride 2 width) into planes; chroma from
// the first row of each row pair, an odd last row gives luma only.
template <PackedOrder O>
void packedToPlanar(const uint8_t* src, int width, int height, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    const int groups = width / 2, stride = 2 * width;
    for (int r = 0; r < height; ++r) {
        if (r % 2 == 0 && r + 1 < height)
            unpackRow<O>(rowOf(src, stride, r), groups, rowOf(y, width, r), rowOf(cb, groups, r / 2),
                         rowOf(cr, groups, r / 2));
        else
            unpackLumaRow<O>(rowOf(src, stride, r), groups, rowOf(y, width, r));
    }
}

// Packed 4:2:2 rows have no odd pixel: an odd width is refused.
template <PackedOrder O>
int32_t packedToFrame(const uint8_t* src, ImageFrame* dst, uint16_t width, uint16_t height, bool cbIntoV) {
    if (!src || !planesPresent(dst) || (width & 1)) return -1;
    dst->width = width;
    dst->height = height;
    packedToPlanar<O>(src, width, height, dst->y, cbIntoV ? dst->v : dst->u, cbIntoV ? dst->u : dst->v);
    return 0;
}

// --- 4:2:2 planar to 4:2:0 ------------------------------------------------------

void meanRows(const uint8_t* a, const uint8_t* b, int n, uint8_t* out) {
    for (int k = 0; k < n; ++k) out[k] = static_cast<uint8_t>((a[k] + b[k]) >> 1);
}

// One destination row of the scaled conversion, with the RGB565 scaler's
// position rule and bilinear weights.
void scaleRow(const uint8_t* top, const uint8_t* bottom, int fy, uint64_t stepX, int windowWidth, int count,
              uint8_t* out) {
    const auto& w = pixkit::kScaleTables.weights;
    for (int j = 0; j < count; ++j) {
        const pixkit::BiasedTap t = pixkit::biasedTap(j, stepX, windowWidth);
        const int p = 8 * fy + t.phase, x0 = t.first, x1 = t.second;
        out[j] = static_cast<uint8_t>(
            (w[p] * top[x0] + w[64 + p] * top[x1] + w[128 + p] * bottom[x0] + w[192 + p] * bottom[x1]) >> 6);
    }
}

} // namespace
} // namespace pixkit_layout

using namespace pixkit_layout;

extern "C" {

PIXKIT_API int32_t gYUV420toUYVY(const ImageFrame* src, uint8_t* dst, uint16_t dstStride, uint16_t dstHeight,
                                 uint16_t srcX, uint16_t srcY, uint16_t dstX, uint16_t dstY, uint16_t width,
                                 uint16_t height) {
    if (!planesPresent(src) || !dst) return -2;
    const int sx = srcX & ~1, sy = srcY & ~1, dx = dstX & ~1, dy = dstY & ~1;
    const int frameW = src->width, cw = frameW / 2;
    // A start past the frame or the destination leaves no room.
    // A start past the end leaves no room (never negative room).
    const auto room = [](int size, int start) { return std::max(0, pixkit::roomAfter(size, start)); };
    const int w = minOf(width, room(frameW, sx), room(dstStride, dx)) & ~1;
    const int h = minOf(height, room(src->height, sy), room(dstHeight, dy)) & ~1;
    for (int i = 0; i < h; ++i) {
        const int c = (sy + i) / 2;
        uyvyRow(rowOf(src->y, frameW, sy + i) + sx, rowOf(src->u, cw, c) + sx / 2, rowOf(src->v, cw, c) + sx / 2, w,
                dst + (static_cast<ptrdiff_t>(dy + i) * dstStride + dx) * 2);
    }
    return 0;
}

PIXKIT_API int32_t gYUV420toY41P(const ImageFrame* src, uint8_t* dst, uint16_t dstWidth) {
    if (!planesPresent(src) || !dst) return -2;
    // Each frame row goes to its own destination row; only whole 8-pixel
    // groups that fit both rows are written, and an odd last row (without a
    // chroma row) is left alone.
    const int frameW = src->width, cw = frameW / 2;
    const int rowBytes = ((dstWidth * 3) / 8) * 4;
    const int groups = minOf(frameW, dstWidth) / 8;
    const int rows = src->height & ~1;
    for (int r = 0; r < rows; ++r)
        y41pRow(rowOf(src->y, frameW, r), rowOf(src->u, cw, r / 2), rowOf(src->v, cw, r / 2), groups,
                rowOf(dst, rowBytes, r));
    return 0;
}

PIXKIT_API int32_t gYUV422htoYUV420(const ImageFrame* src, ImageFrame* dst) {
    if (!planesPresent(src) || !planesPresent(dst)) return -1;
    const int frameW = src->width, w = frameW & ~1, h = src->height & ~1, cw = frameW / 2;
    dst->width = static_cast<uint16_t>(w);
    dst->height = static_cast<uint16_t>(h);
    for (int r = 0; r < h; ++r) std::memcpy(rowOf(dst->y, w, r), rowOf(src->y, frameW, r), static_cast<size_t>(w));
    for (int k = 0; k < h / 2; ++k) {
        meanRows(rowOf(src->u, cw, 2 * k), rowOf(src->u, cw, 2 * k + 1), cw, rowOf(dst->u, cw, k));
        meanRows(rowOf(src->v, cw, 2 * k), rowOf(src->v, cw, 2 * k + 1), cw, rowOf(dst->v, cw, k));
    }
    return 0;
}

PIXKIT_API int32_t gYUV422toYUV420Ex(const ImageFrame* src, const ImageFrame* dst) {
    if (!planesPresent(src) || !planesPresent(dst)) return -1;
    if (src->width != dst->width || src->height != dst->height) return -1;
    const int w = src->width, h = src->height, cw = w / 2;
    std::memcpy(dst->y, src->y, static_cast<size_t>(w) * h);
    for (int k = 0; k < h / 2; ++k) {
        std::memcpy(rowOf(dst->u, cw, k), rowOf(src->u, cw, 2 * k), static_cast<size_t>(cw));
        std::memcpy(rowOf(dst->v, cw, k), rowOf(src->v, cw, 2 * k), static_cast<size_t>(cw));
    }
    return 0;
}

PIXKIT_API int32_t gYUV422toYUV420(const ImageFrame* src, const ImageFrame* dst, int32_t cropX, int32_t cropY,
                                   uint16_t cropW, uint16_t cropH) {
    if (!planesPresent(src) || !planesPresent(dst)) return -1;
    const int frameW = src->width, frameH = src->height, dw = dst->width, dh = dst->height;
    if (cropX < 0 || cropY < 0 || cropX >= frameW || cropY >= frameH) return -1;
    const int ww = minOf(cropW, frameW - cropX), wh = minOf(cropH, frameH - cropY);
    // Two taps each way in luma and chroma, and destination rows and columns
    // beyond the repeated edge: anything smaller has nothing to interpolate.
    if (ww < 4 || wh < 2 || dw < 4 || dh < 4) return -1;
    const uint64_t stepX = (static_cast<uint64_t>(ww) << 18) / dw;
    const uint64_t stepY = (static_cast<uint64_t>(wh) << 18) / dh;
    const int scw = frameW / 2, cx0 = cropX / 2, cww = ww / 2, dcw = dw / 2, dch = dh / 2;

    for (int i = 0; i < dh - 2; ++i) {
        const pixkit::BiasedTap ty = pixkit::biasedTap(i, stepY, wh);
        const uint8_t* top = rowOf(src->y, frameW, cropY + ty.first) + cropX;
        uint8_t* out = rowOf(dst->y, dw, i);
        scaleRow(top, top + frameW, ty.phase, stepX, ww, dw - 2, out);
        out[dw - 2] = out[dw - 1] = out[dw - 3];
    }
    for (int i = dh - 2; i < dh; ++i) std::memcpy(rowOf(dst->y, dw, i), rowOf(dst->y, dw, dh - 3), dw);

    // Chroma rows take the vertical position of the first luma row of their pair.
    for (int k = 0; k < dch - 1; ++k) {
        const pixkit::BiasedTap ty = pixkit::biasedTap(2 * k, stepY, wh);
        const int r = cropY + ty.first;
        for (const auto& [plane, out] : {std::pair{src->u, dst->u}, std::pair{src->v, dst->v}}) {
            const uint8_t* top = rowOf(plane, scw, r) + cx0;
            uint8_t* row = rowOf(out, dcw, k);
            scaleRow(top, top + scw, ty.phase, stepX, cww, dcw - 1, row);
            row[dcw - 1] = row[dcw - 2];
        }
    }
    std::memcpy(rowOf(dst->u, dcw, dch - 1), rowOf(dst->u, dcw, dch - 2), dcw);
    std::memcpy(rowOf(dst->v, dcw, dch - 1), rowOf(dst->v, dcw, dch - 2), dcw);
    return 0;
}

PIXKIT_API int32_t gY1UY2VToYUV420(const uint8_t* src, ImageFrame* dst, uint16_t width, uint16_t height) {
    return packedToFrame<pixkit::kYuyv>(src, dst, width, height, true);
}

PIXKIT_API int32_t gY1UY2VToYV12(const uint8_t* src, ImageFrame* dst, uint16_t width, uint16_t height) {
    return packedToFrame<pixkit::kYuyv>(src, dst, width, height, false);
}

PIXKIT_API int32_t gUY1VY2ToYUV420(const uint8_t* src, ImageFrame* dst, uint16_t width, uint16_t height) {
    return packedToFrame<pixkit::kUyvy>(src, dst, width, height, false);
}

PIXKIT_API void YUY2toYUV420(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height) {
    if (!src || !dst || width < 0 || height < 0 || (width & 1)) return;
    const ptrdiff_t lumaSize = static_cast<ptrdiff_t>(width) * height;
    uint8_t* cb = dst + lumaSize;
    uint8_t* cr = cb + static_cast<ptrdiff_t>(width / 2) * (height / 2);
    packedToPlanar<pixkit::kYuyv>(src, width, height, dst, cb, cr);
}

} // extern "C"
