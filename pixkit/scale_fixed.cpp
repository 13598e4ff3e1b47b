// Fixed-ratio 4:2:0 scalers: down by 2, up by 2, up by 4, down to 3/4.
#include "pixkit.h"

#include <cstddef>
#include <cstring>

namespace pixkit {
namespace {

// One plane of a fixed-ratio call: source and destination rows are tightly
// packed; (cx, cy) is the source window's corner.
struct PlaneJob {
    const uint8_t* src;
    uint8_t* dst;
    int sw, sh, dw, dh, cx, cy;
    const uint8_t* srcRow(int r) const { return src + size_t(cy + r) * sw + cx; }
    uint8_t* dstRow(int r) const { return dst + size_t(r) * dw; }
};

// Luma, then Cb and Cr with every size and both corner values halved.
struct FrameJobs {
    PlaneJob plane[3];
};

FrameJobs frameJobs(const ImageFrame& s, const ImageFrame& d, int cx, int cy) {
    const int w = s.width, h = s.height, dw = d.width, dh = d.height;
    return {{{s.y, d.y, w, h, dw, dh, cx, cy},
             {s.u, d.u, w / 2, h / 2, dw / 2, dh / 2, cx / 2, cy / 2},
             {s.v, d.v, w / 2, h / 2, dw / 2, dh / 2, cx / 2, cy / 2}}};
}

// Runs the kernel on every plane that has both pointers, but only when each of
// those planes' windows lies inside its source and fits its destination: the
// planes present are scaled together or not at all. An absent plane's sizes
// play no part.
template <typename Fits, typename Kernel>
void runFrame(const FrameJobs& jobs, Fits fits, Kernel kernel) {
    for (const PlaneJob& p : jobs.plane)
        if (p.src && p.dst && !fits(p)) return;
    for (const PlaneJob& p : jobs.plane)
        if (p.src && p.dst) kernel(p);
}

// 2:1 each way, weights 9 3 3 1 toward the block's top-left sample.
bool fitsDownBy2(const PlaneJob& p) {
    return p.dw > 0 && p.dh > 0 && p.cx + 2 * p.dw <= p.sw && p.cy + 2 * p.dh <= p.sh;
}

void downBy2(const PlaneJob& p) {
    for (int y = 0; y < p.dh; ++y) {
        const uint8_t* __restrict a = p.srcRow(2 * y);
        const uint8_t* __restrict b = a + p.sw;
        uint8_t* __restrict out = p.dstRow(y);
        for (int x = 0; x < p.dw; ++x)
            out[x] = uint8_t((9 * a[2 * x] + 3 * a[2 * x + 1] + 3 * b[2 * x] + b[2 * x + 1]) >> 4);
    }
}

// 1:2 each way over the whole source frame.
bool fitsUpBy2(const PlaneJob& p) {
    return p.sw > 0 && p.sh > 0 && p.dw >= 2 * p.sw && p.dh >= 2 * p.sh;
}

void upBy2Row(const uint8_t* __restrict s, uint8_t* __restrict out, int n) {
    for (int i = 0; i + 1 < n; ++i) {
        out[2 * i] = s[i];
        out[2 * i + 1] = uint8_t((s[i] + s[i + 1]) >> 1);
    }
    out[2 * n - 2] = s[n - 1];
    out[2 * n - 1] = s[n - 1];
}

void upBy2(const PlaneJob& p) {
    const int n = 2 * p.sw;
    upBy2Row(p.srcRow(0), p.dstRow(0), p.sw);
    for (int k = 0; k + 1 < p.sh; ++k) {
        upBy2Row(p.srcRow(k + 1), p.dstRow(2 * k + 2), p.sw);
        // Between two source rows every sample is the mean of the two
        // expanded rows; at the last column that equals its left neighbour.
        const uint8_t* __restrict above = p.dstRow(2 * k);
        const uint8_t* __restrict below = p.dstRow(2 * k + 2);
        uint8_t* __restrict mid = p.dstRow(2 * k + 1);
        for (int x = 0; x < n; ++x) mid[x] = uint8_t((above[x] + below[x]) >> 1);
    }
    std::memcpy(p.dstRow(2 * p.sh - 1), p.dstRow(2 * p.sh - 2), size_t(n));
}

// 1:4 each way: a 4 x 4 block of truncating means per source sample.
bool fitsUpBy4(const PlaneJob& p) {
    const int ww = p.dw / 4, wh = p.dh / 4;
    return ww >= 2 && wh >= 2 && p.cx + ww <= p.sw && p.cy + wh <= p.sh;
}

inline int mean(int a, int b) { return (a + b) >> 1; }

void upBy4Block(int s00, int s01, int s10, int s11, uint8_t* r0, int stride) {
    const int e = mean(s00, s01), h = mean(s00, s10), f = mean(s10, s01), g = mean(s01, s11);
    const int m = mean(e, f), n = mean(f, mean(s10, s11));
    uint8_t* r1 = r0 + stride;
    uint8_t* r2 = r1 + stride;
    uint8_t* r3 = r2 + stride;
    r0[0] = uint8_t(s00), r0[1] = uint8_t(mean(s00, e)), r0[2] = uint8_t(e), r0[3] = uint8_t(mean(s01, e));
    const int q = mean(s00, h);
    r1[0] = uint8_t(q), r1[1] = uint8_t(mean(q, m)), r1[2] = uint8_t(m), r1[3] = uint8_t(mean(m, mean(s01, g)));
    r2[0] = uint8_t(h), r2[1] = uint8_t(mean(h, f)), r2[2] = uint8_t(mean(h, g)), r2[3] = uint8_t(mean(f, g));
    const int t = mean(s10, h);
    r3[0] = uint8_t(t), r3[1] = uint8_t(mean(t, n)), r3[2] = uint8_t(n), r3[3] = uint8_t(mean(n, mean(s11, g)));
}

void upBy4(const PlaneJob& p) {
    const int ww = p.dw / 4, wh = p.dh / 4;
    for (int k = 0; k + 1 < wh; ++k) {
        const uint8_t* a = p.srcRow(k);
        const uint8_t* b = p.srcRow(k + 1);
        uint8_t* out = p.dstRow(4 * k);
        for (int i = 0; i + 1 < ww; ++i) upBy4Block(a[i], a[i + 1], b[i], b[i + 1], out + 4 * i, p.dw);
        // The last sample has no right neighbour: repeat the block before it.
        for (int r = 0; r < 4; ++r) std::memcpy(out + r * p.dw + 4 * (ww - 1), out + r * p.dw + 4 * (ww - 2), 4);
    }
    for (int r = 0; r < 4; ++r)
        std::memcpy(p.dstRow(4 * (wh - 1) + r), p.dstRow(4 * (wh - 2) + r), size_t(4 * ww));
}

// 4:3 each way: each 4 x 4 source block gives 3 x 3 samples. The kernel is
// separable: per output row/column, weights (3, 1), (1, 1) or (1, 3) on two
// neighbouring source rows/columns, shift = log2 of the weight total.
int sourceExtent3by4(int n) { return 4 * ((n - 1) / 3) + (n - 1) % 3 + 2; }

bool fitsDownTo3by4(const PlaneJob& p) {
    return p.dw > 0 && p.dh > 0 && p.cx + sourceExtent3by4(p.dw) <= p.sw &&
           p.cy + sourceExtent3by4(p.dh) <= p.sh;
}

struct TwoTap {
    int offset;  // within the 4-sample group
    int w0;
    int w1;
    int log2Sum;
};
constexpr TwoTap kThreeOfFour[3] = {{0, 3, 1, 2}, {1, 1, 1, 1}, {2, 1, 3, 2}};

void downTo3by4(const PlaneJob& p) {
    for (int y = 0; y < p.dh; ++y) {
        const TwoTap ty = kThreeOfFour[y % 3];
        const uint8_t* a = p.srcRow(4 * (y / 3) + ty.offset);
        const uint8_t* b = a + p.sw;
        uint8_t* out = p.dstRow(y);
        for (int x = 0; x < p.dw; ++x) {
            const TwoTap tx = kThreeOfFour[x % 3];
            const int c = 4 * (x / 3) + tx.offset;
            const int left = ty.w0 * a[c] + ty.w1 * b[c];
            const int right = ty.w0 * a[c + 1] + ty.w1 * b[c + 1];
            out[x] = uint8_t((tx.w0 * left + tx.w1 * right) >> (ty.log2Sum + tx.log2Sum));
        }
    }
}

}  // namespace
}  // namespace pixkit

using namespace pixkit;

// The fixed ratios walk whole source rows: a window narrower than the source
// frame, or one not starting at column 0, is refused.
extern "C" {

PIXKIT_API void gScaleCroppedFrame_downby2(const ImageFrame* src, ImageFrame* dst, int32_t cropX, int32_t cropY) {
    if (!src || !dst || cropX != 0 || cropY < 0 || 2 * int(dst->width) != src->width) return;
    runFrame(frameJobs(*src, *dst, cropX, cropY), fitsDownBy2, downBy2);
}

PIXKIT_API void gScaleCroppedFrame_upby2(const ImageFrame* src, ImageFrame* dst, int32_t cropX, int32_t cropY) {
    // The window is the whole source frame; any offset would run past it.
    if (!src || !dst || cropX != 0 || cropY != 0) return;
    runFrame(frameJobs(*src, *dst, 0, 0), fitsUpBy2, upBy2);
}

PIXKIT_API void gScaleCroppedFrame_upby4(const ImageFrame* src, ImageFrame* dst, int32_t cropX, int32_t cropY) {
    if (!src || !dst || cropX != 0 || cropY < 0 || dst->width / 4 != src->width) return;
    runFrame(frameJobs(*src, *dst, cropX, cropY), fitsUpBy4, upBy4);
}

PIXKIT_API void gScaleCroppedFrame_downto3by3(const ImageFrame* src, ImageFrame* dst, int32_t cropX,
                                              int32_t cropY) {
    if (!src || !dst || cropX != 0 || cropY < 0 || dst->width == 0 ||
        4 * ((int(dst->width) + 2) / 3) != src->width)
        return;
    runFrame(frameJobs(*src, *dst, cropX, cropY), fitsDownTo3by4, downTo3by4);
}

}  // extern "C"
