// RGB565 and 24-bit B, G, R pictures to planar YUV 4:2:0.
#include <bit>
#include <cstring>

#include "layout_common.h"
#include "pixel.h"
#include "pixkit.h"

namespace pixkit_layout {
namespace {

using std::ptrdiff_t;

// The table sums of rgb565Luma, rgb565Cb and rgb565Cr rewritten so that every
// intermediate fits 16 bits (the vector units then take 16 or 32 pixels per
// operation), each step an exact identity on the steps kXToYStep etc.:
//   luma: S = 23840 R + 40092 G + 8096 B = 32 (745 R + 253 B + 1252 G) + 28 G,
//         so S >> 14 = (((745 R + 253 B + (7 G >> 3)) >> 1) + 626 G) >> 8;
//   Cb:   S = 32 (448 B - 103 R - 172 G) - 100 G,
//         so S >> 14 = (448 B - 103 R - 172 G + (-25 G >> 5)) >> 7 (a quarter of S, then >> 12);
//   Cr:   S / 4 = 32 (448 R - 203 G - 41 B) - 11 G - 6 B,
//         so S >> 14 = (448 R - 203 G - 41 B + ((-11 G - 6 B) >> 5)) >> 7.
// The tests check all three against the table for every RGB565 value.
static_assert(kRedToYStep == 32 * 745 && kBlueToYStep == 32 * 253 && kGreenToYStep == 32 * 1252 + 28);
static_assert(kRedToCbStep == -4 * 32 * 103 && kGreenToCbStep == -4 * (32 * 172 + 25) && kBlueToCbStep == 4 * 32 * 448);
static_assert(kRedToCrStep == 4 * 32 * 448 && kGreenToCrStep == -4 * (32 * 203 + 11) && kBlueToCrStep == -4 * (32 * 41 + 6));

PIXKIT_KERNEL uint8_t lumaIn16Bits(uint16_t p) {
    const uint16_t r = uint16_t(p >> 11), g = uint16_t((p >> 5) & 63), b = uint16_t(p & 31);
    const uint16_t half = uint16_t(uint16_t(745 * r + 253 * b + uint16_t((7 * g) >> 3)) >> 1);
    return uint8_t((uint16_t(half + 626 * g) >> 8) + 16);
}

// Without a vector unit (ARM) three table loads cost less than the products.
PIXKIT_VECTOR_CLONES void rgb565LumaRow(const uint16_t* __restrict s, int n, uint8_t* __restrict y) {
#if defined(__arm__)
    for (int j = 0; j < n; ++j) y[j] = rgb565Luma(s[j]);
#else
    for (int j = 0; j < n; ++j) y[j] = lumaIn16Bits(s[j]);
#endif
}

// Chroma of the blocks' top-left pixels: s[2 m] for m < blocks.
PIXKIT_VECTOR_CLONES void rgb565ChromaRow(const uint16_t* __restrict s, int blocks, uint8_t* __restrict cb,
                                          uint8_t* __restrict cr) {
#if defined(__arm__)
    for (int m = 0; m < blocks; ++m) {
        cb[m] = rgb565Cb(s[2 * m]);
        cr[m] = rgb565Cr(s[2 * m]);
    }
#else
    for (int m = 0; m < blocks; ++m) {
        // The block's pixel pair as one word: contiguous loads instead of a
        // strided gather.
        uint32_t pair;
        std::memcpy(&pair, s + 2 * m, sizeof pair);
        const uint16_t p = uint16_t(std::endian::native == std::endian::little ? pair & 0xFFFF : pair >> 16);
        const int16_t r = int16_t(p >> 11), g = int16_t((p >> 5) & 63), b = int16_t(p & 31);
        const int16_t u = int16_t(448 * b - 103 * r - 172 * g + int16_t(int16_t(-25 * g) >> 5));
        const int16_t v = int16_t(448 * r - 203 * g - 41 * b + int16_t(int16_t(-11 * g - 6 * b) >> 5));
        cb[m] = uint8_t((u >> 7) + 128);
        cr[m] = uint8_t((v >> 7) + 128);
    }
#endif
}

// Two RGB565 rows (n even) to two luma rows and one chroma row; the chroma of
// each 2 x 2 block comes from its top-left pixel alone.
void rgb565BlockRow(const uint16_t* top, const uint16_t* bottom, int n, uint8_t* yTop, uint8_t* yBottom,
                    uint8_t* cb, uint8_t* cr) {
    rgb565LumaRow(top, n, yTop);
    rgb565LumaRow(bottom, n, yBottom);
    rgb565ChromaRow(top, n / 2, cb, cr);
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
