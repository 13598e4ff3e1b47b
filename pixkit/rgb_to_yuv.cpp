// RGB565 and 24-bit B, G, R pictures to planar YUV 4:2:0.
#include <cstring>

#include "layout_common.h"
#include "pixkit.h"

namespace pixkit_layout {
namespace {

using std::ptrdiff_t;

// Two RGB565 rows (n even) to two luma rows and one chroma row; the chroma of
// each 2 x 2 block comes from its top-left pixel alone.
void rgb565BlockRow(const uint16_t* top, const uint16_t* bottom, int n, uint8_t* yTop, uint8_t* yBottom,
                    uint8_t* cb, uint8_t* cr) {
    for (int j = 0; j < n; j += 2) {
        yTop[j] = rgb565Luma(top[j]);
        yTop[j + 1] = rgb565Luma(top[j + 1]);
        yBottom[j] = rgb565Luma(bottom[j]);
        yBottom[j + 1] = rgb565Luma(bottom[j + 1]);
        cb[j / 2] = rgb565Cb(top[j]);
        cr[j / 2] = rgb565Cr(top[j]);
    }
}

void rgb565LumaRow(const uint16_t* s, int n, uint8_t* y) {
    for (int j = 0; j < n; ++j) y[j] = rgb565Luma(s[j]);
}

// Samples from `from` to `to` repeat the one before `from`.
void repeatLast(uint8_t* row, int from, int to) {
    if (from > 0) std::memset(row + from, row[from - 1], to > from ? static_cast<size_t>(to - from) : 0);
}

void bgrLumaRow(const uint8_t* s, int n, uint8_t* y) {
    for (int j = 0; j < n; ++j, s += 3) y[j] = bgrLuma(s[0], s[1], s[2]);
}

void bgrChromaRow(const uint8_t* top, const uint8_t* bottom, int blocks, uint8_t* cb, uint8_t* cr) {
    for (int k = 0; k < blocks; ++k, top += 6, bottom += 6) {
        const int sb = top[0] + top[3] + bottom[0] + bottom[3];
        const int sg = top[1] + top[4] + bottom[1] + bottom[4];
        const int sr = top[2] + top[5] + bottom[2] + bottom[5];
        cb[k] = bgrBlockCb(sb, sg, sr);
        cr[k] = bgrBlockCr(sb, sg, sr);
    }
}

} // namespace
} // namespace pixkit_layout

using namespace pixkit_layout;

extern "C" {

PIXKIT_API void gPvRGB565toYUV420(const uint16_t* src, const ImageFrame* dst, int32_t srcWidth,
                                  int32_t srcHeight) {
    if (!src || !dst || !dst->y || !dst->u || !dst->v) return;
    const int dw = dst->width, dh = dst->height;
    if (srcWidth < 2 || srcHeight < 1 || srcWidth > dw || srcHeight > dh) return;
    const int n = srcWidth & ~1, dcw = dw / 2;
    const auto lumaRow = [&](int r) { return dst->y + static_cast<ptrdiff_t>(r) * dw; };
    const auto cbRow = [&](int r) { return dst->u + static_cast<ptrdiff_t>(r) * dcw; };
    const auto crRow = [&](int r) { return dst->v + static_cast<ptrdiff_t>(r) * dcw; };
    const auto srcRow = [&](int k) { return src + static_cast<ptrdiff_t>(k) * srcWidth; };

    // The first source row is the picture's bottom: memory row k lands in
    // destination row dh - 1 - k. An odd last row fills both rows of its pair;
    // a pair's chroma goes to the chroma row of its upper destination row.
    // With an odd height the pairs run from the bottom, and when the source is
    // as high, the last row's pair has no upper row (nor chroma row) left.
    for (int k = 0; k < srcHeight; k += 2) {
        const int below = k + 1 < srcHeight ? k + 1 : k;
        const int yTop = dh - 1 - k, yBottom = dh - 2 - k;
        if (yBottom < 0) {
            rgb565LumaRow(srcRow(k), n, lumaRow(yTop));
            repeatLast(lumaRow(yTop), n, dw);
            break;
        }
        const int c = yBottom / 2;
        rgb565BlockRow(srcRow(k), srcRow(below), n, lumaRow(yTop), lumaRow(yBottom), cbRow(c), crRow(c));
        repeatLast(lumaRow(yTop), n, dw);
        repeatLast(lumaRow(yBottom), n, dw);
        repeatLast(cbRow(c), n / 2, dcw);
        repeatLast(crRow(c), n / 2, dcw);
    }
    const int top = dh - (srcHeight + (srcHeight & 1));
    for (int r = 0; r < top; ++r) std::memcpy(lumaRow(r), lumaRow(top), static_cast<size_t>(dw));
    for (int r = 0; r < top / 2; ++r) {
        std::memcpy(cbRow(r), cbRow(top / 2), static_cast<size_t>(dcw));
        std::memcpy(crRow(r), crRow(top / 2), static_cast<size_t>(dcw));
    }
}

PIXKIT_API void gPvxRGB565toYUV420_TopDown(const uint16_t* src, uint8_t* dst, int32_t width, int32_t height) {
    if (!src || !dst || width < 0 || height <= 0 || (width & 1) || (height & 1)) return;
    const ptrdiff_t lumaSize = static_cast<ptrdiff_t>(width) * height;
    const int cw = width / 2;
    uint8_t* cb = dst + lumaSize;
    uint8_t* cr = cb + lumaSize / 4;
    for (int r = 0; r < height; r += 2) {
        const uint16_t* s = src + static_cast<ptrdiff_t>(r) * width;
        uint8_t* y = dst + static_cast<ptrdiff_t>(r) * width;
        const ptrdiff_t c = static_cast<ptrdiff_t>(r / 2) * cw;
        rgb565BlockRow(s, s + width, width, y, y + width, cb + c, cr + c);
    }
}

PIXKIT_API void gBGR24INTtoYUV420Planar(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height,
                                        int32_t srcStride) {
    // Rows shorter than the picture would make every row read into the next
    // and the last one past the buffer.
    if (!src || !dst || width < 0 || height <= 0 || srcStride < 3 * width) return;
    // Every pixel has its luma; chroma comes from whole 2 x 2 blocks, so an odd
    // last row or column gives luma only.
    const ptrdiff_t lumaSize = static_cast<ptrdiff_t>(width) * height;
    const int cw = width / 2, chh = height / 2;
    uint8_t* cb = dst + lumaSize;
    uint8_t* cr = cb + static_cast<ptrdiff_t>(cw) * chh;
    const auto srcRow = [&](int r) { return src + static_cast<ptrdiff_t>(r) * srcStride; };
    for (int r = 0; r < height; ++r) bgrLumaRow(srcRow(r), width, dst + static_cast<ptrdiff_t>(r) * width);
    for (int k = 0; k < chh; ++k) {
        const ptrdiff_t c = static_cast<ptrdiff_t>(k) * cw;
        bgrChromaRow(srcRow(2 * k), srcRow(2 * k + 1), cw, cb + c, cr + c);
    }
}

} // extern "C"
