// Planar 4:2:0 to packed layouts and 4:2:2 to 4:2:0 against a per-pixel model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "layout_test_support.h"
#include "pixkit.h"

namespace {

using namespace layout_test;

// --- UYVY -----------------------------------------------------------------------

TEST(Yuv420ToUyvy, RandomWindowsMatchModel) {
    Rng rng(61);
    for (int iter = 0; iter < 1500; ++iter) {
        const int w = rng.uniform(1, 14), h = rng.uniform(1, 14);
        const int dstStride = rng.uniform(1, 16), dstHeight = rng.uniform(1, 14);
        const int srcX = rng.uniform(0, w + 3), srcY = rng.uniform(0, h + 3);
        const int dstX = rng.uniform(0, dstStride + 3), dstY = rng.uniform(0, dstHeight + 3);
        const int width = rng.uniform(0, 20), height = rng.uniform(0, 20);
        Planes src = randomPlanes(rng, w * h, (w / 2) * (h / 2));
        const ImageFrame sf = frameOf(src, w, h);
        std::vector<uint8_t> dst(2 * dstStride * dstHeight, kSentinel8), want = dst;
        const int sx = srcX & ~1, sy = srcY & ~1, dx = dstX & ~1, dy = dstY & ~1;
        int cw = std::min({width, w - sx, dstStride - dx}), ch = std::min({height, h - sy, dstHeight - dy});
        cw = std::max(cw, 0) & ~1;
        ch = std::max(ch, 0) & ~1;
        for (int i = 0; i < ch; ++i)
            for (int j = 0; j < cw; j += 2) {
                const int c = ((sy + i) / 2) * (w / 2) + (sx + j) / 2;
                const uint32_t word = src.u[c] | src.y[(sy + i) * w + sx + j] << 8 | src.v[c] << 16 |
                                      static_cast<uint32_t>(src.y[(sy + i) * w + sx + j + 1]) << 24;
                for (int b = 0; b < 4; ++b)
                    want[((dy + i) * dstStride + dx + j) * 2 + b] = static_cast<uint8_t>(word >> (8 * b));
            }
        ASSERT_EQ(0, gYUV420toUYVY(&sf, dst.data(), dstStride, dstHeight, srcX, srcY, dstX, dstY, width, height));
        ASSERT_EQ(dst, want) << "iter " << iter;
    }
}

TEST(Yuv420ToUyvy, OddStartAndNullPointers) {
    // Columns hold their index: srcX = 3 starts at column 2.
    Planes src{{0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5}, {10, 11, 12}, {20, 21, 22}};
    const ImageFrame sf = frameOf(src, 6, 2);
    std::vector<uint8_t> dst(8, kSentinel8);
    ASSERT_EQ(0, gYUV420toUYVY(&sf, dst.data(), 2, 2, 3, 0, 0, 0, 2, 2));
    EXPECT_EQ(dst, (std::vector<uint8_t>{11, 2, 21, 3, 11, 2, 21, 3}));
    EXPECT_EQ(-2, gYUV420toUYVY(nullptr, dst.data(), 2, 2, 0, 0, 0, 0, 2, 2));
    EXPECT_EQ(-2, gYUV420toUYVY(&sf, nullptr, 2, 2, 0, 0, 0, 0, 2, 2));
}

// --- Y41P -----------------------------------------------------------------------

TEST(Yuv420ToY41p, RandomFramesMatchModel) {
    Rng rng(62);
    for (int iter = 0; iter < 300; ++iter) {
        const int w = iter % 2 ? 8 * rng.uniform(1, 3) : rng.uniform(1, 30), h = rng.uniform(1, 7);
        const int dstWidth = iter % 3 ? w : rng.uniform(0, 30);
        const int rowBytes = ((dstWidth * 3) / 8) * 4;
        Planes src = randomPlanes(rng, w * h, (w / 2) * (h / 2));
        const ImageFrame sf = frameOf(src, w, h);
        std::vector<uint8_t> dst(std::max(1, rowBytes * h), kSentinel8), want = dst;
        const int groups = std::min(w, dstWidth) / 8;
        for (int r = 0; r < (h & ~1); ++r)
            for (int g = 0; g < groups; ++g) {
                const uint8_t* y = &src.y[r * w + 8 * g];
                const uint8_t* u = &src.u[(r / 2) * (w / 2) + 4 * g];
                const uint8_t* v = &src.v[(r / 2) * (w / 2) + 4 * g];
                const uint8_t bytes[12] = {u[0], y[0], v[0], y[1], u[2], y[2], v[2], y[3], y[4], y[5], y[6], y[7]};
                std::copy(bytes, bytes + 12, want.begin() + r * rowBytes + 12 * g);
            }
        ASSERT_EQ(0, gYUV420toY41P(&sf, dst.data(), dstWidth));
        ASSERT_EQ(dst, want) << w << "x" << h << " dstWidth " << dstWidth;
    }
    EXPECT_EQ(-2, gYUV420toY41P(nullptr, nullptr, 8));
}

// --- 4:2:2 planar to 4:2:0 --------------------------------------------------------

TEST(Yuv422ToYuv420, HalvedChromaMeanAndEvenSizes) {
    Rng rng(63);
    for (int iter = 0; iter < 200; ++iter) {
        const int w = rng.uniform(1, 12), h = rng.uniform(1, 12), we = w & ~1, he = h & ~1, cw = w / 2;
        Planes src = randomPlanes(rng, w * h, cw * h);
        const ImageFrame sf = frameOf(src, w, h);
        Planes dst = sentinelPlanes(we * he, cw * (he / 2));
        ImageFrame df = frameOf(dst, 0, 0);
        Planes want = dst;
        for (int r = 0; r < he; ++r)
            for (int c = 0; c < we; ++c) want.y[r * we + c] = src.y[r * w + c];
        for (int k = 0; k < he / 2; ++k)
            for (int c = 0; c < cw; ++c) {
                want.u[k * cw + c] = static_cast<uint8_t>((src.u[2 * k * cw + c] + src.u[(2 * k + 1) * cw + c]) >> 1);
                want.v[k * cw + c] = static_cast<uint8_t>((src.v[2 * k * cw + c] + src.v[(2 * k + 1) * cw + c]) >> 1);
            }
        ASSERT_EQ(0, gYUV422htoYUV420(&sf, &df));
        EXPECT_EQ(df.width, we);
        EXPECT_EQ(df.height, he);
        ASSERT_EQ(dst.y, want.y);
        ASSERT_EQ(dst.u, want.u);
        ASSERT_EQ(dst.v, want.v);
    }
}

TEST(Yuv422ToYuv420, ExCopiesEvenChromaRowsAndRefusesMismatch) {
    Rng rng(64);
    for (int iter = 0; iter < 100; ++iter) {
        const int w = rng.uniform(1, 12), h = rng.uniform(1, 12), cw = w / 2;
        Planes src = randomPlanes(rng, w * h, cw * h);
        const ImageFrame sf = frameOf(src, w, h);
        Planes dst = sentinelPlanes(w * h, cw * (h / 2));
        const ImageFrame df = frameOf(dst, w, h);
        Planes want = dst;
        want.y = src.y;
        for (int k = 0; k < h / 2; ++k)
            for (int c = 0; c < cw; ++c) {
                want.u[k * cw + c] = src.u[2 * k * cw + c];
                want.v[k * cw + c] = src.v[2 * k * cw + c];
            }
        ASSERT_EQ(0, gYUV422toYUV420Ex(&sf, &df));
        ASSERT_EQ(dst.y, want.y);
        ASSERT_EQ(dst.u, want.u);
        ASSERT_EQ(dst.v, want.v);
    }
    Planes src = randomPlanes(rng, 64, 32);
    const ImageFrame sf = frameOf(src, 8, 8);
    Planes dst = sentinelPlanes(80, 40);
    const ImageFrame wider = frameOf(dst, 10, 8), taller = frameOf(dst, 8, 10);
    EXPECT_EQ(-1, gYUV422toYUV420Ex(&sf, &wider));
    EXPECT_EQ(-1, gYUV422toYUV420Ex(&sf, &taller));
    EXPECT_EQ(dst.y, std::vector<uint8_t>(80, kSentinel8));
    EXPECT_EQ(dst.u, std::vector<uint8_t>(40, kSentinel8));
}

// Bilinear sample of a window at Q18 positions, second taps kept in the window.
uint8_t modelBilinear(const std::vector<uint8_t>& plane, int stride, int x0, int y0, int ww, int wh, uint64_t px,
                      uint64_t py) {
    int tx = static_cast<int>(px >> 18), ty = static_cast<int>(py >> 18);
    const int fx = static_cast<int>((px >> 15) & 7), fy = static_cast<int>((py >> 15) & 7);
    if (tx >= ww - 1) tx = ww - 2;
    if (ty >= wh - 1) ty = wh - 2;
    const auto s = [&](int dx, int dy) { return plane[(y0 + ty + dy) * stride + x0 + tx + dx]; };
    return static_cast<uint8_t>(((8 - fx) * (8 - fy) * s(0, 0) + fx * (8 - fy) * s(1, 0) + (8 - fx) * fy * s(0, 1) +
                                 fx * fy * s(1, 1)) >> 6);
}

TEST(Yuv422ToYuv420, ScaledWindowMatchesModel) {
    Rng rng(65);
    int ran = 0;
    for (int iter = 0; iter < 600; ++iter) {
        const int w = rng.uniform(1, 24), h = rng.uniform(1, 20);
        const int dw = rng.uniform(0, 30), dh = rng.uniform(0, 26);
        const int cropX = rng.uniform(-1, w + 1), cropY = rng.uniform(-1, h + 1);
        const int cropW = rng.uniform(0, 30), cropH = rng.uniform(0, 30);
        Planes src = randomPlanes(rng, w * h, (w / 2) * h);
        const ImageFrame sf = frameOf(src, w, h);
        Planes dst = sentinelPlanes(dw * dh, (dw / 2) * (dh / 2));
        const ImageFrame df = frameOf(dst, dw, dh);
        Planes want = dst;
        const bool inside = cropX >= 0 && cropY >= 0 && cropX < w && cropY < h;
        const int ww = inside ? std::min(cropW, w - cropX) : 0, wh = inside ? std::min(cropH, h - cropY) : 0;
        const bool runs = ww >= 4 && wh >= 2 && dw >= 4 && dh >= 4;
        if (runs) {
            ++ran;
            const uint64_t sx = (static_cast<uint64_t>(ww) << 18) / dw, sy = (static_cast<uint64_t>(wh) << 18) / dh;
            const auto pos = [](int k, uint64_t step) { return k == 0 ? uint64_t{0} : k * step + 1; };
            for (int i = 0; i < dh; ++i)
                for (int j = 0; j < dw; ++j)
                    want.y[i * dw + j] = modelBilinear(src.y, w, cropX, cropY, ww, wh, pos(std::min(j, dw - 3), sx),
                                                       pos(std::min(i, dh - 3), sy));
            const int dcw = dw / 2, dch = dh / 2;
            for (int k = 0; k < dch; ++k)
                for (int m = 0; m < dcw; ++m) {
                    const uint64_t px = pos(std::min(m, dcw - 2), sx), py = pos(2 * std::min(k, dch - 2), sy);
                    want.u[k * dcw + m] = modelBilinear(src.u, w / 2, cropX / 2, cropY, ww / 2, wh, px, py);
                    want.v[k * dcw + m] = modelBilinear(src.v, w / 2, cropX / 2, cropY, ww / 2, wh, px, py);
                }
        }
        ASSERT_EQ(runs ? 0 : -1, gYUV422toYUV420(&sf, &df, cropX, cropY, cropW, cropH));
        ASSERT_EQ(dst.y, want.y) << "iter " << iter << " " << w << "x" << h << " -> " << dw << "x" << dh << " crop " << cropX << "," << cropY << " " << cropW << "x" << cropH;
        ASSERT_EQ(dst.u, want.u) << "iter " << iter;
        ASSERT_EQ(dst.v, want.v) << "iter " << iter;
    }
    EXPECT_GT(ran, 100);
}

// --- Packed 4:2:2 to planar ---------------------------------------------------------

enum class Packed { kY1UY2VToYUV420, kY1UY2VToYV12, kUY1VY2ToYUV420, kYUY2 };

TEST(PackedToPlanar, RandomPicturesMatchModel) {
    Rng rng(66);
    for (int iter = 0; iter < 400; ++iter) {
        const auto kind = static_cast<Packed>(iter % 4);
        const int w = rng.uniform(0, 12), h = rng.uniform(0, 9), cw = w / 2;
        const auto src = rng.buffer<uint8_t>(std::max(1, 2 * w * h));
        // Byte offsets of Y0, Cb, Y1, Cr in a group.
        const bool uyvy = kind == Packed::kUY1VY2ToYUV420;
        const int oy0 = uyvy ? 1 : 0, ocb = uyvy ? 0 : 1, oy1 = uyvy ? 3 : 2, ocr = uyvy ? 2 : 3;
        Planes want = sentinelPlanes(w * h, cw * (h / 2));
        const bool runs = w % 2 == 0;
        if (runs) {
            for (int r = 0; r < h; ++r)
                for (int g = 0; g < cw; ++g) {
                    want.y[r * w + 2 * g] = src[r * 2 * w + 4 * g + oy0];
                    want.y[r * w + 2 * g + 1] = src[r * 2 * w + 4 * g + oy1];
                }
            for (int k = 0; k < h / 2; ++k)
                for (int g = 0; g < cw; ++g) {
                    const uint8_t cb = src[2 * k * 2 * w + 4 * g + ocb], cr = src[2 * k * 2 * w + 4 * g + ocr];
                    const bool swapped = kind == Packed::kY1UY2VToYUV420; // Cb into the third plane
                    (swapped ? want.v : want.u)[k * cw + g] = cb;
                    (swapped ? want.u : want.v)[k * cw + g] = cr;
                }
        }
        if (kind == Packed::kYUY2) {
            std::vector<uint8_t> dst(w * h + 2 * cw * (h / 2) + 1, kSentinel8), expect = dst;
            if (runs) {
                std::copy_n(want.y.begin(), w * h, expect.begin());
                std::copy_n(want.u.begin(), cw * (h / 2), expect.begin() + w * h);
                std::copy_n(want.v.begin(), cw * (h / 2), expect.begin() + w * h + cw * (h / 2));
            }
            YUY2toYUV420(src.data(), dst.data(), w, h);
            ASSERT_EQ(dst, expect) << w << "x" << h;
            continue;
        }
        Planes dst = sentinelPlanes(w * h, cw * (h / 2));
        ImageFrame df = frameOf(dst, 1, 1);
        int32_t status = 0;
        switch (kind) {
        case Packed::kY1UY2VToYUV420: status = gY1UY2VToYUV420(src.data(), &df, w, h); break;
        case Packed::kY1UY2VToYV12: status = gY1UY2VToYV12(src.data(), &df, w, h); break;
        default: status = gUY1VY2ToYUV420(src.data(), &df, w, h); break;
        }
        ASSERT_EQ(status, runs ? 0 : -1);
        EXPECT_EQ(df.width, runs ? w : 1);
        EXPECT_EQ(df.height, runs ? h : 1);
        ASSERT_EQ(dst.y, want.y) << w << "x" << h << " kind " << iter % 4;
        ASSERT_EQ(dst.u, want.u) << w << "x" << h << " kind " << iter % 4;
        ASSERT_EQ(dst.v, want.v) << w << "x" << h << " kind " << iter % 4;
    }
}

} // namespace
