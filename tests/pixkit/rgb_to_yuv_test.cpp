// RGB565 and 24-bit pictures to planar 4:2:0 against a per-pixel model.
#include <gtest/gtest.h>

#include <algorithm>

#include "layout_common.h"
#include "layout_test_support.h"
#include "pixkit.h"

namespace {

using namespace layout_test;

// Straight from the steps of the sub-tables, without the table.
struct Yuv {
    int y, cb, cr;
};
Yuv modelRgb565(uint16_t p) {
    const int r = p >> 11, g = (p >> 5) & 63, b = p & 31;
    return {((r * 23840 + g * 40092 + b * 8096) >> 14) + 16, ((r * -13184 + g * -22116 + b * 57344) >> 14) + 128,
            ((r * 57344 + g * -26028 + b * -5272) >> 14) + 128};
}

TEST(Rgb565ToYuvTable, SizeAndSubTables) {
    using namespace pixkit_layout;
    static_assert(kRgb565ToYuvSize == 352);
    const struct {
        int offset, count, step;
    } kSub[] = {{0, 32, 23840},   {32, 64, 40092},   {96, 32, 8096},   {128, 32, -13184},
                {160, 64, -22116}, {224, 32, 57344}, {256, 64, -26028}, {320, 32, -5272}};
    int total = 0;
    for (const auto& s : kSub) {
        EXPECT_EQ(s.offset, total);
        for (int k = 0; k < s.count; ++k) EXPECT_EQ(kRgb565ToYuv[s.offset + k], k * s.step);
        total += s.count;
    }
    EXPECT_EQ(total, 352);
}

TEST(Rgb565ToYuv, WorkedPixels) {
    // Through the whole-picture conversion: a 2 x 2 block of one colour.
    const struct {
        uint16_t p;
        int y, cb, cr;
    } kCases[] = {{0xFFFF, 230, -1, -1}, {0x0000, 16, 128, 128}, {0xF800, 61, 103, 236}};
    for (const auto& c : kCases) {
        const std::vector<uint16_t> src(4, c.p);
        std::vector<uint8_t> dst(6, kSentinel8);
        gPvxRGB565toYUV420_TopDown(src.data(), dst.data(), 2, 2);
        EXPECT_EQ(dst[0], c.y);
        EXPECT_EQ(dst[3], c.y);
        if (c.cb >= 0) {
            EXPECT_EQ(dst[4], c.cb);
        }
        if (c.cr >= 0) {
            EXPECT_EQ(dst[5], c.cr);
        }
    }
    for (int p = 0; p < 65536; p += 7) {
        const Yuv m = modelRgb565(static_cast<uint16_t>(p));
        ASSERT_GE(m.y, 16);
        ASSERT_LE(m.y, 230);
        ASSERT_GE(std::min(m.cb, m.cr), 18);
        ASSERT_LE(std::max(m.cb, m.cr), 238);
    }
}

TEST(Rgb565ToYuv, BottomUpIntoLargerFrameMatchesModel) {
    Rng rng(51);
    for (int iter = 0; iter < 400; ++iter) {
        const int sw = rng.uniform(0, 11), sh = rng.uniform(0, 11);
        const int dw = rng.uniform(std::max(sw, 1), 14), dh = rng.uniform(std::max(sh, 1), 14);
        const auto src = rng.buffer<uint16_t>(std::max(1, sw * sh));
        Planes dst = sentinelPlanes(static_cast<size_t>(dw) * dh, static_cast<size_t>(dw / 2) * (dh / 2));
        const ImageFrame df = frameOf(dst, dw, dh);
        Planes want = dst;
        // Refused: nothing to convert. An odd destination height pairs its rows
        // from the bottom up; its top row has no chroma row of its own.
        const bool runs = sw >= 2 && sh >= 1;
        if (runs) {
            const int n = sw & ~1, filled = sh + (sh & 1);
            for (int r = 0; r < dh; ++r)
                for (int j = 0; j < dw; ++j)
                    want.y[r * dw + j] =
                        static_cast<uint8_t>(modelRgb565(src[std::min(dh - 1 - r, sh - 1) * sw + std::min(j, n - 1)]).y);
            for (int c = 0; c < dh / 2; ++c)
                for (int m = 0; m < dw / 2; ++m) {
                    // The source pair whose upper destination row lies in chroma row c.
                    const int row = std::min((dh - 2 - 2 * c) & ~1, filled - 2);
                    const Yuv v = modelRgb565(src[row * sw + 2 * std::min(m, n / 2 - 1)]);
                    want.u[c * (dw / 2) + m] = static_cast<uint8_t>(v.cb);
                    want.v[c * (dw / 2) + m] = static_cast<uint8_t>(v.cr);
                }
        }
        gPvRGB565toYUV420(src.data(), &df, sw, sh);
        ASSERT_EQ(dst.y, want.y) << sw << "x" << sh << " into " << dw << "x" << dh;
        ASSERT_EQ(dst.u, want.u) << sw << "x" << sh << " into " << dw << "x" << dh;
        ASSERT_EQ(dst.v, want.v) << sw << "x" << sh << " into " << dw << "x" << dh;
    }
    // A source larger than the destination is refused.
    const std::vector<uint16_t> big(16, 0xFFFF);
    Planes dst = sentinelPlanes(4, 1);
    const ImageFrame df = frameOf(dst, 2, 2);
    gPvRGB565toYUV420(big.data(), &df, 4, 4);
    EXPECT_EQ(dst.y, std::vector<uint8_t>(4, kSentinel8));
}

TEST(Rgb565ToYuv, TopDownMatchesModelAndRefusesOddSizes) {
    Rng rng(52);
    for (int iter = 0; iter < 200; ++iter) {
        const int w = 2 * rng.uniform(0, 7), h = 2 * rng.uniform(1, 6); // widths not a multiple of 4 too
        const auto src = rng.buffer<uint16_t>(std::max(1, w * h));
        std::vector<uint8_t> dst(w * h * 3 / 2 + 1, kSentinel8), want = dst;
        for (int r = 0; r < h; ++r)
            for (int j = 0; j < w; ++j) want[r * w + j] = static_cast<uint8_t>(modelRgb565(src[r * w + j]).y);
        for (int c = 0; c < h / 2; ++c)
            for (int m = 0; m < w / 2; ++m) {
                const Yuv v = modelRgb565(src[2 * c * w + 2 * m]);
                want[w * h + c * (w / 2) + m] = static_cast<uint8_t>(v.cb);
                want[w * h + w * h / 4 + c * (w / 2) + m] = static_cast<uint8_t>(v.cr);
            }
        gPvxRGB565toYUV420_TopDown(src.data(), dst.data(), w, h);
        ASSERT_EQ(dst, want) << w << "x" << h;
    }
    // Every RGB565 value as the top-left pixel of a block (so in luma and in
    // chroma), the other three pixels of each block random.
    {
        const int w = 512, h = 512;
        auto all = rng.buffer<uint16_t>(w * h);
        for (int v = 0; v < 65536; ++v) all[(2 * (v / 256)) * w + 2 * (v % 256)] = static_cast<uint16_t>(v);
        std::vector<uint8_t> out(w * h * 3 / 2);
        gPvxRGB565toYUV420_TopDown(all.data(), out.data(), w, h);
        for (int r = 0; r < h; ++r)
            for (int j = 0; j < w; ++j)
                ASSERT_EQ(out[r * w + j], modelRgb565(all[r * w + j]).y) << "pixel " << all[r * w + j];
        for (int v = 0; v < 65536; ++v) {
            const Yuv m = modelRgb565(static_cast<uint16_t>(v));
            ASSERT_EQ(out[w * h + v], m.cb) << "pixel " << v;
            ASSERT_EQ(out[w * h + w * h / 4 + v], m.cr) << "pixel " << v;
        }
    }

    const std::vector<uint16_t> src(64, 0xFFFF);
    std::vector<uint8_t> dst(96, kSentinel8);
    for (auto [w, h] : {std::pair{3, 2}, {4, 3}, {-2, 2}, {4, -2}, {4, 0}})
        gPvxRGB565toYUV420_TopDown(src.data(), dst.data(), w, h);
    gPvxRGB565toYUV420_TopDown(nullptr, dst.data(), 4, 4);
    EXPECT_EQ(dst, std::vector<uint8_t>(96, kSentinel8));
}

TEST(Bgr24ToYuv, WhiteAndRandomPicturesMatchModel) {
    std::vector<uint8_t> white(12, 255), out(6, kSentinel8);
    gBGR24INTtoYUV420Planar(white.data(), out.data(), 2, 2, 6);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[4], 127); // the 32767 weight leaves Cb one below 128
    EXPECT_EQ(out[5], 127);

    Rng rng(53);
    for (int iter = 0; iter < 300; ++iter) {
        // Strides below 3 x width (refused) included; the source holds exactly
        // `stride` x `h` bytes, so a read past it shows under the sanitizers.
        const int w = rng.uniform(0, 9), h = rng.uniform(0, 9), stride = std::max(0, 3 * w + rng.uniform(-3, 4));
        const auto src = rng.buffer<uint8_t>(std::max(1, stride * h));
        const int cw = w / 2, chh = h / 2;
        std::vector<uint8_t> dst(w * h + 2 * cw * chh + 1, kSentinel8), want = dst;
        if (h > 0 && stride >= 3 * w) {
            const auto px = [&](int r, int c, int k) { return src[r * stride + 3 * c + k]; };
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < w; ++c)
                    want[r * w + c] =
                        static_cast<uint8_t>((19595 * px(r, c, 2) + 38470 * px(r, c, 1) + 7471 * px(r, c, 0)) >> 16);
            for (int k = 0; k < chh; ++k)
                for (int m = 0; m < cw; ++m) {
                    int s[3] = {0, 0, 0};
                    for (int dr = 0; dr < 2; ++dr)
                        for (int dc = 0; dc < 2; ++dc)
                            for (int ch = 0; ch < 3; ++ch) s[ch] += px(2 * k + dr, 2 * m + dc, ch);
                    want[w * h + k * cw + m] = static_cast<uint8_t>(((32767 * s[0] - 11059 * s[2] - 21709 * s[1]) >> 18) + 128);
                    want[w * h + cw * chh + k * cw + m] =
                        static_cast<uint8_t>(((32767 * s[2] - 27439 * s[1] - 5329 * s[0]) >> 18) + 128);
                }
        }
        gBGR24INTtoYUV420Planar(src.data(), dst.data(), w, h, stride);
        ASSERT_EQ(dst, want) << w << "x" << h;
    }
}

} // namespace
