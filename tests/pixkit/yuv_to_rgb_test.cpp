// The multiplying YUV to RGB conversions against per-pixel models written from
// their descriptions, plus the worked values and status codes.
#include "frame_util.h"

#include <gtest/gtest.h>
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <vector>

using namespace pixtest;

namespace {

// --- The model ------------------------------------------------------------------

struct Coefficients {
    int crR, cbG, crG, cbB, round;
};
constexpr Coefficients k601{22970, 5638, 11700, 29032, 0};
constexpr Coefficients k601R{22970, 5638, 11700, 29032, 8192};
constexpr Coefficients k709{25802, 3072, 7671, 30397, 0};
constexpr Coefficients k709R{25802, 3072, 7671, 30397, 8192};
constexpr Coefficients k709P{25801, 3072, 7670, 30397, 0};

struct Rgb {
    int r, g, b;
};

// Offsets {B, G, R} by row and column parity.
constexpr int kDitherBgr[2][2][3] = {{{0, 3, 2}, {4, 0, 6}}, {{6, 1, 4}, {2, 2, 0}}};

Rgb modelRgb(const Coefficients& c, int Y, int U, int V, const int* bgrOffset = nullptr) {
    const int cb = U - 128, cr = V - 128;
    int r = Y + floorDiv(c.crR * cr + c.round, 16384);
    int g = Y - floorDiv(c.cbG * cb + c.crG * cr + c.round, 16384);
    int b = Y + floorDiv(c.cbB * cb + c.round, 16384);
    if (bgrOffset) {
        b += bgrOffset[0];
        g += bgrOffset[1];
        r += bgrOffset[2];
    }
    return {std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255)};
}

uint16_t pack(Rgb p) { return uint16_t(p.b / 8 + (p.g / 4) * 32 + (p.r / 8) * 2048); }

int clipOf(long long wanted, long long frameRoom, long long destRoom) {
    return int(std::max(0LL, std::min({wanted, frameRoom, destRoom})));
}

// Planar sample lookup: 4:2:0 chroma per 2 x 2 block, 4:2:2 per row pair of columns.
struct Planar {
    const ImageFrame& f;
    bool yuv422;
    int Y(int x, int y) const { return f.y[y * f.width + x]; }
    int c(int x, int y) const { return (yuv422 ? y : y / 2) * (f.width / 2) + x / 2; }
    int U(int x, int y) const { return f.u[c(x, y)]; }
    int V(int x, int y) const { return f.v[c(x, y)]; }
};

// gYUV420toRGB16Rotate / gYUV422toRGB16Rotate: 709, dithered (4:2:2 with the
// even-row offsets on every row), top-down walks, sizes rounded to even.
int modelRgb16Rotate(const ImageFrame& f, uint16_t* dst, int dstStride, int dstHeight, int dstX, int dstY, int srcX,
                     int srcY, int width, int height, int rotation, bool yuv422) {
    if (!dst || rotation < 0 || rotation > 3) return -1;
    srcX -= srcX % 2;
    srcY -= srcY % 2;
    if (yuv422) width -= width % 2, height -= height % 2;
    if (srcX > f.width || srcY > f.height || dstX > dstStride || dstY > dstHeight) return -1;
    const int ok = yuv422 ? 0 : 1;
    const bool turned = rotation % 2;
    int w = clipOf(width, f.width - srcX, turned ? dstHeight - dstY : dstStride - dstX);
    int h = clipOf(height, f.height - srcY, turned ? dstStride - dstX : dstHeight - dstY);
    w -= w % 2, h -= h % 2;
    const Planar p{f, yuv422};
    for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) {
            const int sx = srcX + j, sy = srcY + i;
            const Rgb c = modelRgb(k709, p.Y(sx, sy), p.U(sx, sy), p.V(sx, sy), kDitherBgr[yuv422 ? 0 : i % 2][j % 2]);
            const int x[4] = {j, h - 1 - i, w - 1 - j, i};
            const int y[4] = {i, j, h - 1 - i, w - 1 - j};
            dst[(dstY + y[rotation]) * dstStride + dstX + x[rotation]] = pack(c);
        }
    return ok;
}

// gYUV422HPlanartoBGR565TopDown_Rotate: 601, dithered, the display walks; for
// codes 1 and 3 rows are dstHeight long and there are dstStride of them.
int modelHPlanarRotate(const ImageFrame& f, uint16_t* dst, int srcX, int srcY, int width, int height, int dstX,
                       int dstY, int dstStride, int dstHeight, int rotation) {
    if (!dst || rotation > 3) return -1;
    const bool turned = rotation % 2;
    const int rowLen = turned ? dstHeight : dstStride, rows = turned ? dstStride : dstHeight;
    srcX -= srcX % 2;
    srcY -= srcY % 2;
    if (srcX > f.width || srcY > f.height || dstX > rowLen || dstY > rows) return -1;
    const int w = clipOf(width, f.width - srcX, turned ? rows - dstY : rowLen - dstX);
    const int h = clipOf(height, f.height - srcY, turned ? rowLen - dstX : rows - dstY);
    const int we = w - w % 2, he = h - h % 2;
    const Planar p{f, true};
    auto at = [&](int x, int y) -> uint16_t& { return dst[(dstY + y) * rowLen + dstX + x]; };
    for (int i = 0; i < he; ++i)
        for (int j = 0; j < we; ++j) {
            const int sx = srcX + j, sy = srcY + i;
            const Rgb c = modelRgb(k601, p.Y(sx, sy), p.U(sx, sy), p.V(sx, sy), kDitherBgr[i % 2][j % 2]);
            const int x[4] = {j, i, we - 1 - j, he - 1 - i};
            const int y[4] = {he - 1 - i, j, i, we - 1 - j};
            at(x[rotation], y[rotation]) = pack(c);
        }
    if (rotation == 0 && we > 0 && he > 0) {
        if (w % 2)
            for (int r = 0; r < he; ++r) at(we, r) = at(we - 1, r);
        if (h % 2)
            for (int x = 0; x < w; ++x) at(x, he) = at(x, he - 1);
    }
    return 0;
}

// Whole-frame members: out(x, y, rgb) stores destination pixel (x, y).
template <typename Store>
void modelWholeFrame(const ImageFrame& f, bool yuv422, int width, int height, int topDown, const Coefficients& c,
                     bool dither, Store out) {
    if (width < 2 || height < 2) return;
    const int w = std::min(width, int(f.width)), h = std::min(height, int(f.height));
    const int we = w - w % 2, he = h - h % 2, last = height - height % 2 - 1;
    const Planar p{f, yuv422};
    for (int i = 0; i < he; ++i)
        for (int j = 0; j < we; ++j) {
            const Rgb v = modelRgb(c, p.Y(j, i), p.U(j, i), p.V(j, i), dither ? kDitherBgr[i % 2][j % 2] : nullptr);
            out(j, topDown ? i : last - i, v);
        }
    if (topDown && h % 2 && we > 0 && he > 0)
        for (int j = 0; j < we; ++j) {
            const Rgb v = modelRgb(c, p.Y(j, he - 1), p.U(j, he - 1), p.V(j, he - 1),
                                   dither ? kDitherBgr[1][j % 2] : nullptr);
            out(j, he, v);
        }
}

// Byte offsets of Y0, Cb, Cr in a 4-byte group.
struct Order {
    int y, cb, cr;
};
constexpr Order kUyvy{1, 0, 2}, kVyuy{1, 2, 0}, kYuyv{0, 1, 3};

void modelPacked(const uint8_t* buf, int W, int H, Order o, uint16_t* dst, int srcX, int srcY, int width, int height,
                 int dstX, int dstY, int dstStride, int dstHeight, bool topDown) {
    srcX -= srcX % 2;
    const int usableW = W - W % 2, rowBytes = (W / 2) * 4;
    if (srcX > usableW || srcY > H || dstX > dstStride || dstY > dstHeight) return;
    const int w = clipOf(width, usableW - srcX, dstStride - dstX);
    const int h = clipOf(height, H - srcY, dstHeight - dstY);
    if (w < 2 || h < 2) return;
    const int we = w - w % 2, he = h - h % 2;
    auto at = [&](int j, int i) -> uint16_t& {
        const int row = topDown ? dstY + i : dstHeight - 1 - dstY - i;
        return dst[row * dstStride + dstX + j];
    };
    for (int i = 0; i < he; ++i)
        for (int j = 0; j < we; ++j) {
            const uint8_t* g = buf + (srcY + i) * rowBytes + ((srcX + j) / 2) * 4;
            const int Y = g[o.y + 2 * ((srcX + j) % 2)];
            at(j, i) = pack(modelRgb(k709P, Y, g[o.cb], g[o.cr], kDitherBgr[i % 2][j % 2]));
        }
    if (w % 2)
        for (int i = 0; i < he; ++i) at(we, i) = at(we - 1, i);
    if (h % 2)
        for (int j = 0; j < w; ++j) at(j, he) = at(j, he - 1);
}

// --- Random comparisons --------------------------------------------------------

constexpr uint16_t kSentinel = 0x5A5A;

template <typename T>
size_t firstDifference(const std::vector<T>& a, const std::vector<T>& b) {
    return size_t(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
}

TEST(YuvToRgb, Rgb16RotationsMatchModel) {
    std::mt19937 rng(11);
    for (int iter = 0; iter < 3000; ++iter) {
        const bool yuv422 = iter % 2;
        Frame f(irand(rng, 0, 21), irand(rng, 0, 17), yuv422);
        fillRandom(f, rng);
        const int dstStride = irand(rng, 0, 24), dstHeight = irand(rng, 0, 24);
        const int dstX = irand(rng, 0, dstStride + 1), dstY = irand(rng, 0, dstHeight + 1);
        const int srcX = irand(rng, 0, f.w() + 1), srcY = irand(rng, 0, f.h() + 1);
        const int width = irand(rng, -2, 26), height = irand(rng, -2, 26);
        const int rotation = irand(rng, 0, 4);
        Guarded<uint16_t> got(size_t(dstStride) * dstHeight, kSentinel), want = got;
        const int rc = (yuv422 ? gYUV422toRGB16Rotate : gYUV420toRGB16Rotate)(
            &f.desc, got.data(), dstStride, dstHeight, dstX, dstY, srcX, srcY, width, height, rotation);
        const int wantRc = modelRgb16Rotate(f.desc, want.data(), dstStride, dstHeight, dstX, dstY, srcX, srcY, width,
                                            height, rotation, yuv422);
        ASSERT_EQ(rc, wantRc) << "iteration " << iter;
        ASSERT_EQ(got.all, want.all) << "iteration " << iter << " rotation " << rotation;
    }
}

TEST(YuvToRgb, HPlanarRotateMatchesModel) {
    std::mt19937 rng(12);
    for (int iter = 0; iter < 3000; ++iter) {
        Frame f(irand(rng, 0, 21), irand(rng, 0, 17), true);
        fillRandom(f, rng);
        const int dstStride = irand(rng, 0, 24), dstHeight = irand(rng, 0, 24);
        const int rotation = irand(rng, 0, 4);
        const bool turned = rotation % 2;
        const int rowLen = turned ? dstHeight : dstStride, rows = turned ? dstStride : dstHeight;
        const int dstX = irand(rng, 0, rowLen + 1), dstY = irand(rng, 0, rows + 1);
        const int srcX = irand(rng, 0, f.w() + 1), srcY = irand(rng, 0, f.h() + 1);
        const int width = irand(rng, 0, 26), height = irand(rng, 0, 26);
        Guarded<uint16_t> got(size_t(dstStride) * dstHeight, kSentinel), want = got;
        const int rc = gYUV422HPlanartoBGR565TopDown_Rotate(&f.desc, got.data(), srcX, srcY, width, height, dstX,
                                                            dstY, dstStride, dstHeight, rotation);
        const int wantRc = modelHPlanarRotate(f.desc, want.data(), srcX, srcY, width, height, dstX, dstY, dstStride,
                                              dstHeight, rotation);
        ASSERT_EQ(rc, wantRc) << "iteration " << iter;
        ASSERT_EQ(got.all, want.all) << "iteration " << iter << " rotation " << rotation;
    }
}

TEST(YuvToRgb, WholeFramesMatchModel) {
    std::mt19937 rng(13);
    for (int iter = 0; iter < 1500; ++iter) {
        const int kind = iter % 3;  // RGB565 from 4:2:0, R G B from 4:2:0, B G R from 4:2:2
        Frame f(irand(rng, 0, 19), irand(rng, 0, 15), kind == 2);
        fillRandom(f, rng);
        const int width = irand(rng, -1, 22), height = irand(rng, -1, 18), topDown = irand(rng, 0, 2) * irand(rng, 1, 300);
        const size_t pixels = size_t(std::max(0, width - width % 2)) * std::max(0, height);
        const bool down = topDown & 0xFF;
        if (kind == 0) {
            Guarded<uint16_t> got(pixels, kSentinel), want = got;
            gPvYUV420toRGB565TopDown(&f.desc, got.data(), width, height, topDown);
            modelWholeFrame(f.desc, false, width, height, down, k601, true,
                            [&](int x, int y, Rgb c) { want[size_t(y) * (width - width % 2) + x] = pack(c); });
            ASSERT_EQ(got.all, want.all) << "iteration " << iter;
        } else {
            Guarded<uint8_t> got(3 * pixels, 0xA5), want = got;
            if (kind == 1)
                gPvYUV420toRGB888TopDown(&f.desc, got.data(), width, height, topDown);
            else
                gYUV422HPlanartoRGB888TopDown(&f.desc, got.data(), width, height, topDown);
            modelWholeFrame(f.desc, kind == 2, width, height, down, k601, kind == 2, [&](int x, int y, Rgb c) {
                uint8_t* p = &want[3 * (size_t(y) * (width - width % 2) + x)];
                const int order[2][3] = {{c.r, c.g, c.b}, {c.b, c.g, c.r}};
                for (int k = 0; k < 3; ++k) p[k] = uint8_t(order[kind - 1][k]);
            });
            ASSERT_EQ(got.all, want.all) << "iteration " << iter << " kind " << kind << " frame " << f.w() << "x"
                                         << f.h() << " size " << width << "x" << height << " topDown " << topDown
                                         << " first difference at " << firstDifference(got.all, want.all);
        }
    }
}

TEST(YuvToRgb, Bgr24And444MatchModel) {
    std::mt19937 rng(14);
    for (int iter = 0; iter < 800; ++iter) {
        const int W = irand(rng, 0, 19), H = irand(rng, 0, 15);
        {
            Frame f(W, H);
            fillRandom(f, rng);
            const int stride = 3 * W + irand(rng, -1, 5);
            Guarded<uint8_t> got(size_t(std::max(0, stride)) * H, 0xA5), want = got;
            const int rc = gYUV420toBGR24(&f.desc, got.data(), stride);
            ASSERT_EQ(rc, stride < 3 * W ? -1 : 0);
            const Planar p{f.desc, false};
            if (rc == 0)
                for (int i = 0; i < H - H % 2; ++i)
                    for (int j = 0; j < W - W % 2; ++j) {
                        const Rgb c = modelRgb(k709R, p.Y(j, i) + j % 2, p.U(j, i), p.V(j, i));
                        uint8_t* o = &want[size_t(i) * stride + 3 * j];
                        o[0] = uint8_t(c.b), o[1] = uint8_t(c.g), o[2] = uint8_t(c.r);
                    }
            ASSERT_EQ(got.all, want.all) << "iteration " << iter;
        }
        {
            // 4:4:4: chroma planes the size of the luma plane.
            Bytes y(size_t(W) * H), u(y.size), v(y.size);
            fillRandom(y, rng), fillRandom(u, rng), fillRandom(v, rng);
            const ImageFrame src{y.data.get(), u.data.get(), v.data.get(), uint16_t(W), uint16_t(H)};
            const int width = irand(rng, 0, 22), height = irand(rng, 0, 18);
            // One spare byte in front makes the output rows start off a 2-byte boundary.
            Guarded<uint8_t> got(size_t(width) * height * 2 + 1, 0xA5), want = got;
            const ImageFrame out{got.data() + 1, nullptr, nullptr, 0, 0};
            gYUV444toRGB16(&src, &out, width, height);
            for (int i = 0; i < std::min(height, H); ++i)
                for (int j = 0; j < std::min(width, W); ++j) {
                    const size_t s = size_t(i) * W + j;
                    const uint16_t px = pack(modelRgb(k601R, y[s], u[s], v[s]));
                    want[1 + 2 * (size_t(i) * width + j)] = uint8_t(px & 0xFF);
                    want[2 + 2 * (size_t(i) * width + j)] = uint8_t(px >> 8);
                }
            ASSERT_EQ(got.all, want.all) << "iteration " << iter;
        }
    }
}

TEST(YuvToRgb, PackedMatchModel) {
    std::mt19937 rng(15);
    using Fn = int32_t (*)(const ImageFrame*, uint16_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                           int32_t, int32_t, int32_t);
    const Fn fns[3] = {gUYVYtoRGB565, gVYUYtoRGB565, gYUYVtoRGB565};
    const Order orders[3] = {kUyvy, kVyuy, kYuyv};
    for (int iter = 0; iter < 3000; ++iter) {
        const int member = iter % 3;
        const int W = irand(rng, 0, 21), H = irand(rng, 0, 17);
        Bytes buf(size_t(W / 2) * 4 * H);
        fillRandom(buf, rng);
        const ImageFrame src{buf.data.get(), nullptr, nullptr, uint16_t(W), uint16_t(H)};
        const int dstStride = irand(rng, 0, 24), dstHeight = irand(rng, 0, 24);
        const int dstX = irand(rng, 0, dstStride + 1), dstY = irand(rng, 0, dstHeight + 1);
        const int srcX = irand(rng, 0, W + 1), srcY = irand(rng, 0, H + 1);
        const int width = irand(rng, -1, 26), height = irand(rng, -1, 26);
        const int topDown = irand(rng, 0, 1);
        Guarded<uint16_t> got(size_t(dstStride) * dstHeight, kSentinel), want = got;
        ASSERT_EQ(fns[member](&src, got.data(), srcX, srcY, width, height, dstX, dstY, dstStride, dstHeight, topDown), 0);
        modelPacked(buf.data.get(), W, H, orders[member], want.data(), srcX, srcY, width, height, dstX, dstY, dstStride,
                    dstHeight, topDown);
        ASSERT_EQ(got.all, want.all) << "iteration " << iter << " member " << member;
    }
}

// Whole frames wide enough for every run shape of the row kernel: under one
// short run, short runs with an overlapping last one, long runs, and long
// runs followed by short ones; heights with full and partial bands of rows.
TEST(YuvToRgb, WideFramesMatchModel) {
    std::mt19937 rng(16);
    for (const int W : {30, 32, 34, 62, 126, 128, 130, 158, 160, 162, 254, 256, 290}) {
        for (const int H : {18, 34}) {
            for (int rotation = 0; rotation < 4; ++rotation) {
                const bool turned = rotation % 2;
                const int dstStride = turned ? H : W, dstHeight = turned ? W : H;
                for (const bool yuv422 : {false, true}) {
                    Frame f(W, H, yuv422);
                    fillRandom(f, rng);
                    Guarded<uint16_t> got(size_t(W) * H, kSentinel), want = got;
                    (yuv422 ? gYUV422toRGB16Rotate : gYUV420toRGB16Rotate)(&f.desc, got.data(), dstStride, dstHeight,
                                                                           0, 0, 0, 0, W, H, rotation);
                    modelRgb16Rotate(f.desc, want.data(), dstStride, dstHeight, 0, 0, 0, 0, W, H, rotation, yuv422);
                    ASSERT_EQ(got.all, want.all) << W << "x" << H << " rotation " << rotation << " 4:2:2 " << yuv422;
                }
                Frame f(W, H, true);
                fillRandom(f, rng);
                Guarded<uint16_t> got(size_t(W) * H, kSentinel), want = got;
                gYUV422HPlanartoBGR565TopDown_Rotate(&f.desc, got.data(), 0, 0, W, H, 0, 0, dstStride, dstHeight,
                                                     rotation);
                modelHPlanarRotate(f.desc, want.data(), 0, 0, W, H, 0, 0, dstStride, dstHeight, rotation);
                ASSERT_EQ(got.all, want.all) << W << "x" << H << " rotation " << rotation << " 4:2:2 display";
            }
            {
                Frame f(W, H);
                fillRandom(f, rng);
                Guarded<uint16_t> got(size_t(W) * H, kSentinel), want = got;
                gPvYUV420toRGB565TopDown(&f.desc, got.data(), W, H, 1);
                modelWholeFrame(f.desc, false, W, H, true, k601, true,
                                [&](int x, int y, Rgb c) { want[size_t(y) * W + x] = pack(c); });
                ASSERT_EQ(got.all, want.all) << W << "x" << H << " whole frame";
            }
            Bytes buf(size_t(W / 2) * 4 * H);
            fillRandom(buf, rng);
            const ImageFrame src{buf.data.get(), nullptr, nullptr, uint16_t(W), uint16_t(H)};
            Guarded<uint16_t> got(size_t(W) * H, kSentinel), want = got;
            gUYVYtoRGB565(&src, got.data(), 0, 0, W, H, 0, 0, W, H, 1);
            modelPacked(buf.data.get(), W, H, kUyvy, want.data(), 0, 0, W, H, 0, 0, W, H, 1);
            ASSERT_EQ(got.all, want.all) << W << "x" << H << " packed";
        }
    }
}

// --- Worked values and status codes ----------------------------------------------

// A 2 x 2 frame of one colour.
struct Uniform {
    uint8_t y[4], u[1], v[1];
    ImageFrame desc;
    Uniform(int Y, int U, int V) : y{uint8_t(Y), uint8_t(Y), uint8_t(Y), uint8_t(Y)}, u{uint8_t(U)}, v{uint8_t(V)} {
        desc = {y, u, v, 2, 2};
    }
};

TEST(YuvToRgb, CoefficientSetValues) {
    // 709, Cr = 127: red 128 + 200 (+2 dither) clamps to 255, green 128 - 59 + 3.
    Uniform red(128, 128, 255);
    uint16_t px[4] = {};
    EXPECT_EQ(gYUV420toRGB16Rotate(&red.desc, px, 2, 2, 0, 0, 0, 0, 2, 2, 0), 1);
    EXPECT_EQ(px[0], (128 >> 3) | ((72 >> 2) << 5) | (31 << 11));
    // The same colour through 709R bytes (B, G, R): 200 and 59 again; the odd
    // column's Y + 1 shows in green and blue.
    uint8_t bgr[12] = {};
    EXPECT_EQ(gYUV420toBGR24(&red.desc, bgr, 6), 0);
    EXPECT_EQ((std::array<int, 6>{bgr[0], bgr[1], bgr[2], bgr[3], bgr[4], bgr[5]}),
              (std::array<int, 6>{128, 69, 255, 129, 70, 255}));
    // 601, Cb = 127: blue 128 + 225 clamps, green 128 - 43 = 85 (bytes R, G, B).
    Uniform blue(128, 255, 128);
    uint8_t rgb[12] = {};
    gPvYUV420toRGB888TopDown(&blue.desc, rgb, 2, 2, 1);
    EXPECT_EQ((std::array<int, 3>{rgb[0], rgb[1], rgb[2]}), (std::array<int, 3>{128, 85, 255}));
    // Rounding: 709R moves blue by -2 for Cb = -1 and +2 for Cb = +1; the
    // truncating 709 gives -2 and +1 (Y = 102 + 1 stays in blue field 12).
    Uniform minus(100, 127, 128), plus(100, 129, 128);
    EXPECT_EQ(gYUV420toBGR24(&minus.desc, bgr, 6), 0);
    EXPECT_EQ(bgr[0], 98);
    EXPECT_EQ(gYUV420toBGR24(&plus.desc, bgr, 6), 0);
    EXPECT_EQ(bgr[0], 102);
    Uniform plus709(102, 129, 128);
    EXPECT_EQ(gYUV420toRGB16Rotate(&plus709.desc, px, 2, 2, 0, 0, 0, 0, 2, 2, 0), 1);
    EXPECT_EQ(px[0] & 31, 103 >> 3);
}

TEST(YuvToRgb, StatusCodes) {
    Uniform grey(128, 128, 128);
    uint16_t px[16];
    std::fill(std::begin(px), std::end(px), kSentinel);
    // gYUV420toRGB16Rotate: 1 on success, -1 for rotation 4 or null buffers.
    EXPECT_EQ(gYUV420toRGB16Rotate(&grey.desc, px, 4, 4, 0, 0, 0, 0, 2, 2, 4), -1);
    EXPECT_EQ(gYUV420toRGB16Rotate(&grey.desc, nullptr, 4, 4, 0, 0, 0, 0, 2, 2, 0), -1);
    EXPECT_EQ(gYUV422toRGB16Rotate(&grey.desc, px, 4, 4, 0, 0, 0, 0, 2, 2, 7), -1);
    ImageFrame noChroma = grey.desc;
    noChroma.v = nullptr;
    EXPECT_EQ(gYUV420toRGB16Rotate(&noChroma, px, 4, 4, 0, 0, 0, 0, 2, 2, 0), -1);
    EXPECT_EQ(gYUV422HPlanartoBGR565TopDown_Rotate(&noChroma, px, 0, 0, 2, 2, 0, 0, 4, 4, 0), -1);
    for (uint16_t p : px) ASSERT_EQ(p, kSentinel);
    EXPECT_EQ(gYUV420toRGB16Rotate(&grey.desc, px, 4, 4, 0, 0, 0, 0, 2, 2, 3), 1);
    EXPECT_EQ(gYUV422toRGB16Rotate(&grey.desc, px, 4, 4, 0, 0, 0, 0, 2, 2, 3), 0);
    std::fill(std::begin(px), std::end(px), kSentinel);

    // gYUV420toBGR24: a row one byte short is refused untouched; no rows is fine.
    uint8_t bytes[12];
    std::fill(std::begin(bytes), std::end(bytes), 0xA5);
    EXPECT_EQ(gYUV420toBGR24(&grey.desc, bytes, 5), -1);
    ImageFrame empty = grey.desc;
    empty.height = 0;
    EXPECT_EQ(gYUV420toBGR24(&empty, bytes, 6), 0);
    for (uint8_t b : bytes) ASSERT_EQ(b, 0xA5);

    // The packed members' orientation flag and null buffers.
    uint8_t packed[8] = {128, 16, 128, 16, 128, 16, 128, 16};
    const ImageFrame src{packed, nullptr, nullptr, 2, 2};
    EXPECT_EQ(gVYUYtoRGB565(&src, px, 0, 0, 2, 2, 0, 0, 4, 4, 2), -16);
    EXPECT_EQ(gYUYVtoRGB565(&src, px, 0, 0, 2, 2, 0, 0, 4, 4, 2), -1);
    for (uint16_t p : px) ASSERT_EQ(p, kSentinel);
    EXPECT_EQ(gVYUYtoRGB565(&src, nullptr, 0, 0, 2, 2, 0, 0, 4, 4, 1), -2);
    EXPECT_EQ(gYUYVtoRGB565(nullptr, px, 0, 0, 2, 2, 0, 0, 4, 4, 1), -2);
    EXPECT_EQ(gUYVYtoRGB565(&src, nullptr, 0, 0, 2, 2, 0, 0, 4, 4, 1), -2);
    // Only the low 8 bits count: 0x101 is 1 (top-down) for all three.
    EXPECT_EQ(gVYUYtoRGB565(&src, px, 0, 0, 2, 2, 0, 0, 4, 4, 0x101), 0);
    EXPECT_EQ(gYUYVtoRGB565(&src, px, 0, 0, 2, 2, 0, 0, 4, 4, 0x101), 0);
    // UYVY takes any flag; 2 is top-down: Y = 16 everywhere lands in rows 0 and 1.
    std::fill(std::begin(px), std::end(px), kSentinel);
    EXPECT_EQ(gUYVYtoRGB565(&src, px, 0, 0, 2, 2, 0, 0, 4, 4, 2), 0);
    // Y 16 grey with the even-row, even-column offsets (0, 3, 2) and the others.
    EXPECT_EQ(px[0], pack({18, 19, 16}));
    EXPECT_EQ(px[1], pack({22, 16, 20}));
    EXPECT_EQ(px[4], pack({20, 17, 22}));
    EXPECT_EQ(px[5], pack({16, 18, 18}));
    EXPECT_EQ(px[8], kSentinel);
}

TEST(YuvToRgb, HostileWindowsStayInside) {
    Frame f(6, 4);
    std::mt19937 rng(16);
    fillRandom(f, rng);
    const int32_t big = 0x7FFFFFFF, small = -0x7FFFFFFF - 1;
    Bytes packedBytes(3 * 4 * 4);
    fillRandom(packedBytes, rng);
    const ImageFrame packed{packedBytes.data.get(), nullptr, nullptr, 6, 4};
    Guarded<uint16_t> dst(8 * 6, kSentinel);
    const auto untouched = dst.all;
    // Starts outside the frame or the destination are refused.
    EXPECT_EQ(gYUV420toRGB16Rotate(&f.desc, dst.data(), 8, 6, -1, 0, 0, 0, 4, 4, 0), -1);
    EXPECT_EQ(gYUV420toRGB16Rotate(&f.desc, dst.data(), 8, 6, 0, 0, small, 0, 4, 4, 1), -1);
    EXPECT_EQ(gYUV422toRGB16Rotate(&f.desc, dst.data(), 8, 6, 9, 0, 0, 0, 4, 4, 0), -1);
    EXPECT_EQ(gYUV420toRGB16Rotate(&f.desc, dst.data(), -8, 6, 0, 0, 0, 0, 4, 4, 0), -1);
    // Sizes that do not fit are clipped; negative sizes convert nothing.
    EXPECT_EQ(gYUV420toRGB16Rotate(&f.desc, dst.data(), 8, 6, 0, 0, 0, 0, small, big, 2), 1);
    EXPECT_EQ(gUYVYtoRGB565(&packed, dst.data(), big, big, big, big, 0, 0, 8, 6, 1), 0);
    EXPECT_EQ(gUYVYtoRGB565(&packed, dst.data(), 0, 0, 4, 4, small, small, 8, 6, 0), 0);
    EXPECT_EQ(gUYVYtoRGB565(&packed, dst.data(), 0, 0, 4, 4, 0, 0, -8, -6, 0), 0);
    EXPECT_EQ(dst.all, untouched);
    EXPECT_EQ(gYUV420toRGB16Rotate(&f.desc, dst.data(), 8, 6, 0, 0, 0, 0, big, big, 3), 1);
    EXPECT_EQ(gYUYVtoRGB565(&packed, dst.data(), 0, 0, big, big, 0, 0, 8, 6, 0), 0);
    gPvYUV420toRGB565TopDown(&f.desc, dst.data(), 8, 6, 0);
    for (size_t g = 0; g < Guarded<uint16_t>::kGuard; ++g) {
        EXPECT_EQ(dst.all[g], kSentinel);
        EXPECT_EQ(dst.all[dst.all.size() - 1 - g], kSentinel);
    }
    // Null frames and planes do nothing.
    gPvYUV420toRGB565TopDown(nullptr, dst.data(), 8, 6, 1);
    gYUV444toRGB16(nullptr, nullptr, 8, 6);
    ImageFrame noLuma = f.desc;
    noLuma.y = nullptr;
    gPvYUV420toRGB888TopDown(&noLuma, reinterpret_cast<uint8_t*>(dst.data()), 2, 2, 1);
    EXPECT_EQ(gYUV420toBGR24(&noLuma, reinterpret_cast<uint8_t*>(dst.data()), 18), -1);
}

TEST(YuvToRgb, BothNamesAreOneFunction) {
    void* a = dlsym(RTLD_DEFAULT, "gYUV422HPlanartoBGR888TopDown");
    void* b = dlsym(RTLD_DEFAULT, "gYUV422HPlanartoRGB888TopDown");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(reinterpret_cast<void*>(&gYUV422HPlanartoBGR888TopDown),
              reinterpret_cast<void*>(&gYUV422HPlanartoRGB888TopDown));
}

}  // namespace
