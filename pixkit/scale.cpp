// Scaling of 8-bit planes and RGB565 pictures.
#include "pixkit.h"
#include "scale.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pixkit {
namespace {

// Bilinear weights (four blocks of 64, indexed 8 fy + fx) followed by the tap
// spacing shift per integer reduction ratio.
struct ScaleTables {
    std::array<uint8_t, 256> weights;
    std::array<uint8_t, 32> tapShift;
};

constexpr ScaleTables makeScaleTables() {
    ScaleTables t{};
    for (int fy = 0; fy < 8; ++fy) {
        for (int fx = 0; fx < 8; ++fx) {
            const int i = 8 * fy + fx;
            t.weights[i] = uint8_t((8 - fx) * (8 - fy));
            t.weights[64 + i] = uint8_t(fx * (8 - fy));
            t.weights[128 + i] = uint8_t((8 - fx) * fy);
            t.weights[192 + i] = uint8_t(fx * fy);
        }
    }
    for (int r = 0; r < 32; ++r) t.tapShift[r] = uint8_t(r <= 2 ? 0 : r <= 4 ? 1 : r <= 8 ? 2 : r <= 16 ? 3 : 4);
    return t;
}

constexpr ScaleTables kScale = makeScaleTables();

int tapShift(int window, int dest) { return kScale.tapShift[std::min(window / dest, 31)]; }

// Destination columns handled per pass of the plane scaler, and the widest
// run of source columns one pass may span (both bound the stack buffers).
constexpr int kColumnChunk = 1024;
constexpr int kSpanLimit = 4096;

// Vertical half of the bilinear filter over one span of source columns:
// (8 - fy) x top + fy x bottom, at most 2040.
void blendRows(const uint8_t* __restrict top, const uint8_t* __restrict bottom, uint16_t* __restrict out,
               int fy, int n) {
    const int wt = 8 - fy;
    for (int x = 0; x < n; ++x) out[x] = uint16_t(wt * top[x] + fy * bottom[x]);
}

// Horizontal half: the 64-weighted sum truncated back to 8 bits. Splitting the
// four-tap sum this way leaves it unchanged, the weights being products.
void blendColumns(const uint16_t* __restrict rows, const int* __restrict left, const int* __restrict right,
                  const uint8_t* __restrict fx, uint8_t* __restrict out, int n) {
    for (int c = 0; c < n; ++c) out[c] = uint8_t(((8 - fx[c]) * rows[left[c]] + fx[c] * rows[right[c]]) >> 6);
}

}  // namespace

void scalePlane(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                int winX, int winY, int winWidth, int winHeight) {
    if (!src || !dst || dstWidth <= 0 || dstHeight <= 0) return;
    if (winX < 0 || winY < 0 || winX >= srcWidth || winY >= srcHeight || winWidth <= 0 || winHeight <= 0) return;
    winWidth = std::min(winWidth, srcWidth - winX);
    winHeight = std::min(winHeight, srcHeight - winY);

    const int sx = tapShift(winWidth, dstWidth);
    const int sy = tapShift(winHeight, dstHeight);
    // Q18 steps; 64 bits keep large windows from overflowing.
    const uint64_t stepX = (uint64_t((winWidth - 1) >> sx) << 18) / uint64_t(dstWidth);
    const uint64_t stepY = (uint64_t((winHeight - 1) >> sy) << 18) / uint64_t(dstHeight);
    const int lastX = winX + winWidth - 1;
    const int lastY = winY + winHeight - 1;

    int left[kColumnChunk];
    int right[kColumnChunk];
    uint8_t phase[kColumnChunk];
    uint16_t rows[kSpanLimit];

    for (int j0 = 0; j0 < dstWidth;) {
        // Column taps of this pass, relative to the first source column it reads.
        int spanStart = 0;
        int n = 0;
        while (j0 + n < dstWidth && n < kColumnChunk) {
            const uint64_t pos = (uint64_t(j0 + n) * stepX) >> 15;
            const int x0 = winX + int((pos >> 3) << sx);
            // Only a one-column window has its second tap outside; its weight is 0 there.
            const int x1 = std::min(x0 + (1 << sx), lastX);
            if (n == 0) spanStart = x0;
            if (x1 - spanStart >= kSpanLimit) break;
            left[n] = x0 - spanStart;
            right[n] = x1 - spanStart;
            phase[n] = uint8_t(pos & 7);
            ++n;
        }
        const int span = right[n - 1] + 1;
        for (int i = 0; i < dstHeight; ++i) {
            const uint64_t pos = (uint64_t(i) * stepY) >> 15;
            const int y0 = winY + int((pos >> 3) << sy);
            const int y1 = std::min(y0 + (1 << sy), lastY);
            blendRows(src + size_t(y0) * srcWidth + spanStart, src + size_t(y1) * srcWidth + spanStart, rows,
                      int(pos & 7), span);
            blendColumns(rows, left, right, phase, dst + size_t(i) * dstWidth + j0, n);
        }
        j0 += n;
    }
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
