// YUV 4:2:0 to RGB565 with rotation, against a per-pixel model of the walks.
#include "frame_util.h"
#include "yuv420_rgb565.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace pixtest;

namespace {

uint16_t modelPixel(int Y, int U, int V, int rowParity, int colParity, bool dither) {
    const int cb = U - 128, cr = V - 128;
    const int dR = cr + floorDiv(cr, 2);
    const int dG = floorDiv(cb, 8) + floorDiv(cr, 2);
    const int dB = 2 * cb - floorDiv(cb, 8);
    int r = Y + dR, g = Y - dG, b = Y + dB;
    if (dither) {
        static const int kOffsets[2][2][3] = {{{0, 3, 2}, {4, 0, 6}}, {{6, 1, 4}, {2, 2, 0}}};  // B, G, R
        b += kOffsets[rowParity][colParity][0];
        g += kOffsets[rowParity][colParity][1];
        r += kOffsets[rowParity][colParity][2];
    }
    auto clip = [](int c) { return std::clamp(c, 0, 255); };
    return uint16_t(clip(b) / 8 + (clip(g) / 4) * 32 + (clip(r) / 8) * 2048);
}

// Straight from the description: clip, round to even, place each pixel by the
// walk's table, then the odd-size rules of code 0.
int modelRotate(const ImageFrame& f, uint16_t* dst, int srcX, int srcY, int width, int height, int dstX, int dstY,
                int dstStride, int dstHeight, int rotation) {
    if (!dst || !f.y || !f.u || !f.v || rotation > 3) return -1;
    const int W = f.width, H = f.height;
    srcX -= srcX % 2;
    srcY -= srcY % 2;
    if (srcX > W || srcY > H || dstX > dstStride || dstY > dstHeight) return -1;
    int w, h;
    if (rotation % 2 == 0) {
        w = std::min({width, W - srcX, dstStride - dstX});
        h = std::min({height, H - srcY, dstHeight - dstY});
    } else {
        w = std::min({width, W - srcX, dstHeight - dstY});
        h = std::min({height, H - srcY, dstStride - dstX});
    }
    const int we = w - w % 2, he = h - h % 2;
    for (int i = 0; i < he; ++i) {
        for (int j = 0; j < we; ++j) {
            const int Y = f.y[(srcY + i) * W + srcX + j];
            const int c = ((srcY + i) / 2) * (W / 2) + (srcX + j) / 2;
            const uint16_t p = modelPixel(Y, f.u[c], f.v[c], i % 2, j % 2, rotation >= 2);
            int x = 0, y = 0;
            switch (rotation) {
            case 0: x = dstX + j, y = dstY + he - 1 - i; break;
            case 1: x = dstX + i, y = dstY + j; break;
            case 2: x = dstX + we - 1 - j, y = dstY + i; break;
            case 3: x = dstX + he - 1 - i, y = dstY + we - 1 - j; break;
            }
            dst[y * dstStride + x] = p;
        }
    }
    if (rotation == 0 && we > 0 && he > 0) {
        if (w % 2)
            for (int r = dstY; r < dstY + he; ++r) dst[r * dstStride + dstX + we] = dst[r * dstStride + dstX + we - 1];
        if (h % 2)
            for (int x = dstX; x < dstX + we + w % 2; ++x)
                dst[(dstY + he) * dstStride + x] = dst[(dstY + he - 1) * dstStride + x];
    }
    return 0;
}

constexpr uint16_t kSentinel = 0xA5C3;

// The library's plain reference walk behind the same checks and clipping: the
// fast walks this build runs (ARM or vector) must match it byte for byte.
int referenceRotate(const ImageFrame& f, uint16_t* dst, int srcX, int srcY, int width, int height, int dstX,
                    int dstY, int dstStride, int dstHeight, int rotation) {
    return pixkit::convertYuv420ToBgr565(pixkit::referenceYuv420Walk, &f, dst, srcX, srcY, width, height, dstX,
                                         dstY, dstStride, dstHeight, rotation);
}

// Fills a 2 x 2 frame with one colour and returns the code 0 pixel.
uint16_t convertUniform(uint8_t Y, uint8_t U, uint8_t V, int rotation, int index = 0) {
    Frame f(2, 2);
    std::fill_n(f.y.data.get(), 4, Y);
    f.u[0] = U;
    f.v[0] = V;
    uint16_t out[4];
    EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out, 0, 0, 2, 2, 0, 0, 2, 2, uint8_t(rotation)), 0);
    return out[index];
}

TEST(YuvToRgb565Rotate, WorkedColours) {
    EXPECT_EQ(convertUniform(16, 128, 128, 0), 0x1082);
    EXPECT_EQ(convertUniform(255, 128, 128, 0), 0xFFFF);
    EXPECT_EQ(convertUniform(0, 128, 128, 0), 0x0000);
    EXPECT_EQ(convertUniform(128, 128, 255, 0), 0xFA10);
    // Code 2 puts source (0, 0) at the right end of destination row 0.
    EXPECT_EQ(convertUniform(128, 128, 255, 2, 1), 0xFA30);
    // Cb = -1: Cb >> 3 = -1, so dB = -1 and blue 9 - 1 = 8 keeps one step;
    // division toward zero would give dB = -2 and blue 0.
    EXPECT_EQ(convertUniform(9, 127, 128, 0), 0x0841);
}

TEST(YuvToRgb565Rotate, FourByTwoWalks) {
    Frame f(4, 2);
    for (int i = 0; i < 8; ++i) f.y[i] = uint8_t(8 * (i + 1));  // distinct greys
    std::fill_n(f.u.data.get(), f.u.size, 128);
    std::fill_n(f.v.data.get(), f.v.size, 128);
    auto grey = [](int Y) { return uint16_t(Y / 8 + (Y / 4) * 32 + (Y / 8) * 2048); };

    uint16_t out[8];
    ASSERT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out, 0, 0, 4, 2, 0, 0, 4, 2, 0), 0);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(out[4 + j], grey(f.y[j])) << "source row 0 in destination row 1";
        EXPECT_EQ(out[j], grey(f.y[4 + j])) << "source row 1 in destination row 0";
    }
    ASSERT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out, 0, 0, 4, 2, 0, 0, 2, 4, 1), 0);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(out[2 * j], grey(f.y[j])) << "source column j in destination row j";
        EXPECT_EQ(out[2 * j + 1], grey(f.y[4 + j]));
    }
}

TEST(YuvToRgb565Rotate, FivePixelWindow) {
    std::mt19937 rng(5);
    Frame f(6, 2);
    fillRandom(f, rng);
    std::vector<uint16_t> out(8 * 2, kSentinel);
    ASSERT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out.data(), 0, 0, 5, 2, 1, 0, 8, 2, 0), 0);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(out[r * 8], kSentinel);
        EXPECT_NE(out[r * 8 + 4], kSentinel);
        EXPECT_EQ(out[r * 8 + 5], out[r * 8 + 4]) << "column 4 repeats column 3";
        EXPECT_EQ(out[r * 8 + 6], kSentinel);
    }
    std::fill(out.begin(), out.end(), kSentinel);
    ASSERT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out.data(), 0, 0, 5, 2, 1, 0, 8, 2, 2), 0);
    for (int r = 0; r < 2; ++r) {
        for (int x = 1; x <= 4; ++x) EXPECT_NE(out[r * 8 + x], kSentinel);
        EXPECT_EQ(out[r * 8 + 5], kSentinel) << "code 2 leaves the fifth column alone";
    }
}

TEST(YuvToRgb565Rotate, Refusals) {
    Frame f(4, 4);
    uint16_t out[16];
    std::fill_n(out, 16, kSentinel);
    EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, nullptr, 0, 0, 4, 4, 0, 0, 4, 4, 0), -1);
    EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(nullptr, out, 0, 0, 4, 4, 0, 0, 4, 4, 0), -1);
    for (int plane = 0; plane < 3; ++plane) {
        ImageFrame d = f.desc;
        (plane == 0 ? d.y : plane == 1 ? d.u : d.v) = nullptr;
        EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(&d, out, 0, 0, 4, 4, 0, 0, 4, 4, 0), -1);
    }
    EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out, 0, 0, 4, 4, 0, 0, 4, 4, 4), -1);
    EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out, 6, 0, 4, 4, 0, 0, 4, 4, 0), -1) << "window past frame";
    EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out, 0, 0, 4, 4, 5, 0, 4, 4, 1), -1) << "corner past dest";
    for (uint16_t p : out) EXPECT_EQ(p, kSentinel);
    // Empty clipped windows convert nothing and still succeed.
    EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out, 4, 4, 4, 4, 0, 0, 4, 4, 0), 0);
    EXPECT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, out, 0, 0, 1, 4, 0, 0, 4, 4, 0), 0);
    for (uint16_t p : out) EXPECT_EQ(p, kSentinel);
}

// Random frames, windows, placements and strides (odd sizes, windows larger
// than the frame or the destination) against the model, with guard words.
TEST(YuvToRgb565Rotate, MatchesModelOnRandomWindows) {
    std::mt19937 rng(20240501);
    for (int iter = 0; iter < 3000; ++iter) {
        const int W = irand(rng, 1, 37), H = irand(rng, 1, 29);
        Frame f(W, H);
        fillRandom(f, rng);
        const int stride = irand(rng, 1, 45), dh = irand(rng, 1, 45);
        const int srcX = irand(rng, 0, W + 1), srcY = irand(rng, 0, H + 1);
        const int width = irand(rng, 0, 50), height = irand(rng, 0, 50);
        const int dstX = irand(rng, 0, stride + 1), dstY = irand(rng, 0, dh + 1);
        const int rotation = irand(rng, 0, 4);
        Guarded<uint16_t> got(size_t(stride) * dh, kSentinel), want(size_t(stride) * dh, kSentinel);
        const int rc = gYUV420toBGR565TopDown_Rotate(&f.desc, got.data(), uint16_t(srcX), uint16_t(srcY),
                                                     uint16_t(width), uint16_t(height), uint16_t(dstX),
                                                     uint16_t(dstY), uint16_t(stride), uint16_t(dh),
                                                     uint8_t(rotation));
        const int wantRc =
            modelRotate(f.desc, want.data(), srcX, srcY, width, height, dstX, dstY, stride, dh, rotation);
        ASSERT_EQ(rc, wantRc) << "iteration " << iter;
        Guarded<uint16_t> ref(size_t(stride) * dh, kSentinel);
        ASSERT_EQ(referenceRotate(f.desc, ref.data(), srcX, srcY, width, height, dstX, dstY, stride, dh, rotation),
                  wantRc);
        ASSERT_TRUE(ref.all == want.all) << "reference, iteration " << iter;
        ASSERT_TRUE(got.all == want.all) << "iteration " << iter << " frame " << W << "x" << H << " rotation "
                                         << rotation << " window " << srcX << "," << srcY << " " << width << "x"
                                         << height << " at " << dstX << "," << dstY << " in " << stride << "x" << dh;
    }
}

// Frames wide enough for the tiled quarter-turn walk and the vector loops.
TEST(YuvToRgb565Rotate, MatchesModelOnLargeFrames) {
    std::mt19937 rng(7);
    for (int iter = 0; iter < 12; ++iter) {
        const int W = irand(rng, 60, 400), H = irand(rng, 30, 90);
        Frame f(W, H);
        fillRandom(f, rng);
        const int rotation = iter % 4;
        const int stride = rotation % 2 ? H + irand(rng, 0, 9) : W + irand(rng, 0, 9);
        const int dh = rotation % 2 ? W + irand(rng, 0, 9) : H + irand(rng, 0, 9);
        Guarded<uint16_t> got(size_t(stride) * dh, kSentinel), want(size_t(stride) * dh, kSentinel);
        const int srcX = irand(rng, 0, 10), srcY = irand(rng, 0, 10);
        const int dstX = irand(rng, 0, 6), dstY = irand(rng, 0, 6);
        ASSERT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, got.data(), uint16_t(srcX), uint16_t(srcY), uint16_t(W),
                                                uint16_t(H), uint16_t(dstX), uint16_t(dstY), uint16_t(stride),
                                                uint16_t(dh), uint8_t(rotation)),
                  0);
        modelRotate(f.desc, want.data(), srcX, srcY, W, H, dstX, dstY, stride, dh, rotation);
        ASSERT_TRUE(got.all == want.all) << "iteration " << iter;
        Guarded<uint16_t> ref(size_t(stride) * dh, kSentinel);
        referenceRotate(f.desc, ref.data(), srcX, srcY, W, H, dstX, dstY, stride, dh, rotation);
        ASSERT_TRUE(ref.all == got.all) << "reference, iteration " << iter;
    }
}

// Converts the whole W x H frame with every code and compares with the model.
void expectWholeFrameMatches(int W, int H, std::mt19937& rng) {
    Frame f(W, H);
    fillRandom(f, rng);
    for (int rotation = 0; rotation < 4; ++rotation) {
        const int stride = rotation % 2 ? H : W, dh = rotation % 2 ? W : H;
        Guarded<uint16_t> got(size_t(stride) * dh, kSentinel), want(size_t(stride) * dh, kSentinel);
        ASSERT_EQ(gYUV420toBGR565TopDown_Rotate(&f.desc, got.data(), 0, 0, uint16_t(W), uint16_t(H), 0, 0,
                                                uint16_t(stride), uint16_t(dh), uint8_t(rotation)),
                  0);
        modelRotate(f.desc, want.data(), 0, 0, W, H, 0, 0, stride, dh, rotation);
        ASSERT_TRUE(got.all == want.all) << W << "x" << H << " rotation " << rotation;
        Guarded<uint16_t> ref(size_t(stride) * dh, kSentinel);
        referenceRotate(f.desc, ref.data(), 0, 0, W, H, 0, 0, stride, dh, rotation);
        ASSERT_TRUE(ref.all == got.all) << "reference, " << W << "x" << H << " rotation " << rotation;
    }
}

// Every width from 2 to 300: rows shorter than one vector block, exactly one,
// one plus a partial, overlapping block, at both block lengths (32 and 128
// pixels), and tiles that overlap at the right edge.
TEST(YuvToRgb565Rotate, MatchesModelAcrossBlockWidths) {
    std::mt19937 rng(11);
    for (int W = 2; W <= 300; ++W) expectWholeFrameMatches(W, 6 + 2 * (W % 3), rng);
}

// Every height from 2 to 80 on frames just over one tile wide: bands of
// fewer row pairs than a full one, exactly one, and overlapping bands.
TEST(YuvToRgb565Rotate, MatchesModelAcrossBandHeights) {
    std::mt19937 rng(13);
    for (int H = 2; H <= 80; ++H) expectWholeFrameMatches(128 + 2 * (H % 5), H, rng);
}

}  // namespace
