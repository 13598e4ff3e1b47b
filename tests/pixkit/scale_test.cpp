// The scalers against per-pixel models of their descriptions.
#include "frame_util.h"
#include "scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

using namespace pixtest;

namespace {

bool same(const std::vector<uint8_t>& want, const Bytes& got) {
    return want.size() == got.size && std::equal(want.begin(), want.end(), got.data.get());
}

// The library's plain reference kernel on one plane, over a copy of `before`:
// the kernels this build runs (ARM or vector) must match it byte for byte.
std::vector<uint8_t> referencePlane(const uint8_t* S, int sw, int sh, int dw, int dh, int wx, int wy, int ww, int wh,
                                    std::vector<uint8_t> before) {
    pixkit::PlaneScale job;
    if (pixkit::planeScaleOf(S, before.data(), sw, sh, dw, dh, wx, wy, ww, wh, job)) pixkit::referenceScalePlane(job);
    return before;
}

int modelTapShift(int ratio) {
    ratio = std::min(ratio, 31);
    return ratio <= 2 ? 0 : ratio <= 4 ? 1 : ratio <= 8 ? 2 : ratio <= 16 ? 3 : 4;
}

// The general plane scaler, four taps per sample with the product weights.
void modelScalePlane(const uint8_t* S, uint8_t* D, int sw, int sh, int dw, int dh, int wx, int wy, int ww, int wh) {
    if (!S || !D || dw <= 0 || dh <= 0 || wx < 0 || wy < 0 || wx >= sw || wy >= sh || ww <= 0 || wh <= 0) return;
    if (wx + ww > sw) ww = sw - wx;
    if (wy + wh > sh) wh = sh - wy;
    const int sx = modelTapShift(ww / dw), sy = modelTapShift(wh / dh);
    const int64_t stepX = (int64_t((ww - 1) >> sx) << 18) / dw;
    const int64_t stepY = (int64_t((wh - 1) >> sy) << 18) / dh;
    // A tap can only leave the plane with weight 0 (one-sample windows).
    auto at = [&](int x, int y) { return (x < sw && y < sh) ? int(S[y * sw + x]) : 0; };
    int64_t accY = 0;
    for (int i = 0; i < dh; ++i, accY += stepY) {
        const int pY = int(accY >> 15);
        const int y0 = wy + ((pY >> 3) << sy), fy = pY & 7, y1 = y0 + (1 << sy);
        int64_t accX = 0;
        for (int j = 0; j < dw; ++j, accX += stepX) {
            const int pX = int(accX >> 15);
            const int x0 = wx + ((pX >> 3) << sx), fx = pX & 7, x1 = x0 + (1 << sx);
            const int sum = (8 - fx) * (8 - fy) * at(x0, y0) + fx * (8 - fy) * at(x1, y0) +
                            (8 - fx) * fy * at(x0, y1) + fx * fy * at(x1, y1);
            D[i * dw + j] = uint8_t(sum / 64);
        }
    }
}

TEST(ScalePlane, SameSizeBlendsWithRightNeighbour) {
    Frame s(8, 8), d(8, 8);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) s.y[r * 8 + c] = uint8_t(10 * c);
    s.desc.u = s.desc.v = d.desc.u = d.desc.v = nullptr;
    gScaleFrame(&s.desc, &d.desc);
    EXPECT_EQ(d.y[0], 0);
    // Pixel 7 reads position 6 1/8: columns 6 and 7 with fx = 1.
    EXPECT_EQ(d.y[7], (7 * 60 + 70) / 8);
    EXPECT_NE(d.y[7], s.y[7]);
}

TEST(ScalePlane, TapSpacing) {
    // 4:1 (640 -> 160): taps two columns apart, so only even columns are read.
    Frame s(640, 4), d(160, 4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 640; ++c) s.y[r * 640 + c] = uint8_t(c % 2 ? 255 : 0);
    s.desc.u = s.desc.v = nullptr;
    gScaleFrame(&s.desc, &d.desc);
    for (int i = 0; i < 160 * 4; ++i) ASSERT_EQ(d.y[i], 0) << i;
    // 2:1 (16 -> 8): ordinary neighbouring taps, odd columns contribute.
    Frame s2(16, 2), d2(8, 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 16; ++c) s2.y[r * 16 + c] = uint8_t(c % 2 ? 255 : 0);
    s2.desc.u = s2.desc.v = nullptr;
    gScaleFrame(&s2.desc, &d2.desc);
    // Column 1: position (15 << 18) / 8 >> 15 = 15 eighths: tap 1, fx 7.
    EXPECT_EQ(d2.y[1], (1 * 255 + 7 * 0) * 8 / 64);
    EXPECT_GT(*std::max_element(d2.y.data.get(), d2.y.data.get() + 16), 0);
}

TEST(ScalePlane, NullChromaAndEmptySizes) {
    std::mt19937 rng(3);
    Frame s(20, 10), d(12, 6);
    fillRandom(s, rng);
    std::fill_n(d.u.data.get(), d.u.size, 0x5A);
    ImageFrame dd = d.desc;
    dd.u = dd.v = nullptr;
    gScaleFrame(&s.desc, &dd);
    std::vector<uint8_t> want(12 * 6);
    modelScalePlane(s.y.data.get(), want.data(), 20, 10, 12, 6, 0, 0, 20, 10);
    EXPECT_TRUE(same(want, d.y));
    for (size_t i = 0; i < d.u.size; ++i) EXPECT_EQ(d.u[i], 0x5A);
    // Zero destination or source sizes do nothing (and must not divide by 0).
    Frame z(0, 6);
    gScaleFrame(&s.desc, &z.desc);
    gScaleFrame(&z.desc, &d.desc);
    gScaleCroppedFrame(&s.desc, &d.desc, 0, 0, 0, 0);
    gScaleCroppedFrame(&s.desc, &d.desc, -2, 0, 4, 4);
    gScaleFrame(nullptr, &d.desc);
}

// Whole, cropped and 4:2:2 wrappers on random sizes and windows, including
// windows that stick out of the frame, enlargements and 40:1 reductions.
TEST(ScalePlane, WrappersMatchModel) {
    std::mt19937 rng(99);
    for (int iter = 0; iter < 1500; ++iter) {
        const int kind = iter % 3;
        const bool is422 = kind == 2;
        const int W = irand(rng, 1, 90), H = irand(rng, 1, 50);
        const int dW = irand(rng, 1, iter % 5 ? 60 : 4), dH = irand(rng, 1, iter % 7 ? 40 : 3);
        Frame s(W, H, is422), d(dW, dH, is422);
        fillRandom(s, rng);
        std::memset(d.y.data.get(), 0xEE, d.y.size);
        std::memset(d.u.data.get(), 0xEE, d.u.size);
        std::memset(d.v.data.get(), 0xEE, d.v.size);
        std::vector<uint8_t> wy(d.y.size, 0xEE), wu(d.u.size, 0xEE), wv(d.v.size, 0xEE);
        const int cx = irand(rng, 0, W + 2), cy = irand(rng, 0, H + 2);
        const int cw = irand(rng, 0, W + 10), ch = irand(rng, 0, H + 10);
        const int cH = is422 ? H : H / 2, dcH = is422 ? dH : dH / 2;
        if (kind == 0) {
            gScaleFrame(&s.desc, &d.desc);
            modelScalePlane(s.y.data.get(), wy.data(), W, H, dW, dH, 0, 0, W, H);
            modelScalePlane(s.u.data.get(), wu.data(), W / 2, H / 2, dW / 2, dH / 2, 0, 0, W / 2, H / 2);
            modelScalePlane(s.v.data.get(), wv.data(), W / 2, H / 2, dW / 2, dH / 2, 0, 0, W / 2, H / 2);
        } else {
            if (is422)
                gScaleCroppedFrameYUV422(&s.desc, &d.desc, cx, cy, uint16_t(cw), uint16_t(ch));
            else
                gScaleCroppedFrame(&s.desc, &d.desc, cx, cy, uint16_t(cw), uint16_t(ch));
            const int ccy = is422 ? cy : cy / 2, cch = is422 ? ch : ch / 2;
            modelScalePlane(s.y.data.get(), wy.data(), W, H, dW, dH, cx, cy, cw, ch);
            modelScalePlane(s.u.data.get(), wu.data(), W / 2, cH, dW / 2, dcH, cx / 2, ccy, cw / 2, cch);
            modelScalePlane(s.v.data.get(), wv.data(), W / 2, cH, dW / 2, dcH, cx / 2, ccy, cw / 2, cch);
        }
        ASSERT_TRUE(same(wy, d.y)) << "luma, iteration " << iter;
        ASSERT_TRUE(same(wu, d.u)) << "Cb, iteration " << iter;
        if (kind == 0)
            ASSERT_EQ(referencePlane(s.y.data.get(), W, H, dW, dH, 0, 0, W, H, std::vector<uint8_t>(d.y.size, 0xEE)),
                      wy)
                << "reference, iteration " << iter;
        else
            ASSERT_EQ(referencePlane(s.y.data.get(), W, H, dW, dH, cx, cy, cw, ch, std::vector<uint8_t>(d.y.size, 0xEE)),
                      wy)
                << "reference, iteration " << iter;
        ASSERT_TRUE(same(wv, d.v)) << "Cr, iteration " << iter;
    }
}

TEST(ScalePlane, LargeReductionsMatchModel) {
    std::mt19937 rng(1);
    const int sizes[][4] = {{1280, 720, 320, 240}, {640, 480, 320, 240}, {176, 144, 320, 240},
                            {176, 144, 240, 320}, {2000, 40, 50, 2}, {1201, 3, 1000, 2}};
    for (const auto& z : sizes) {
        Frame s(z[0], z[1]), d(z[2], z[3]);
        fillRandom(s, rng);
        gScaleFrame(&s.desc, &d.desc);
        std::vector<uint8_t> wy(d.y.size), wu(d.u.size);
        modelScalePlane(s.y.data.get(), wy.data(), z[0], z[1], z[2], z[3], 0, 0, z[0], z[1]);
        modelScalePlane(s.u.data.get(), wu.data(), z[0] / 2, z[1] / 2, z[2] / 2, z[3] / 2, 0, 0, z[0] / 2, z[1] / 2);
        EXPECT_TRUE(same(wy, d.y)) << z[0] << "x" << z[1];
        EXPECT_TRUE(same(wu, d.u)) << z[0] << "x" << z[1];
        EXPECT_EQ(referencePlane(s.y.data.get(), z[0], z[1], z[2], z[3], 0, 0, z[0], z[1], wy), wy) << z[0] << "x" << z[1];
    }
    // Saturated planes and full-swing stripes give the largest intermediate
    // sums at every phase, where a packed-arithmetic kernel would carry from
    // one field into the next.
    for (int pattern = 0; pattern < 3; ++pattern) {
        for (const auto& z : {std::array<int, 4>{176, 144, 320, 240}, std::array<int, 4>{37, 21, 101, 67}}) {
            Frame s(z[0], z[1]), d(z[2], z[3]);
            for (int k = 0; k < int(s.y.size); ++k) {
                const int x = k % z[0], y = k / z[0];
                s.y.data[k] = pattern == 0 ? 255 : pattern == 1 ? uint8_t(x & 1 ? 0 : 255) : uint8_t((x ^ y) & 1 ? 255 : 0);
            }
            std::memset(s.u.data.get(), 255, s.u.size);
            gScaleFrame(&s.desc, &d.desc);
            std::vector<uint8_t> wy(d.y.size), wu(d.u.size);
            modelScalePlane(s.y.data.get(), wy.data(), z[0], z[1], z[2], z[3], 0, 0, z[0], z[1]);
            modelScalePlane(s.u.data.get(), wu.data(), z[0] / 2, z[1] / 2, z[2] / 2, z[3] / 2, 0, 0, z[0] / 2, z[1] / 2);
            EXPECT_TRUE(same(wy, d.y)) << "pattern " << pattern << ", " << z[0] << "x" << z[1];
            EXPECT_TRUE(same(wu, d.u)) << "pattern " << pattern << ", " << z[0] << "x" << z[1];
        }
    }
}

// Reductions of exactly 2:1 and 4:1 read their taps as strided runs: widths
// below, at and just above each count of vector blocks (2:1 up to 11 blocks
// of 32), cropped windows whose taps start off column 0, and a destination
// wider than one pass of columns.
TEST(ScalePlane, TwoAndFourToOneMatchModel) {
    std::mt19937 rng(5);
    for (int ratio : {2, 4}) {
        for (int dW = 1; dW <= (ratio == 2 ? 360 : 70); ++dW) {
            const int cx = 2 * (dW % 4), cw = ratio * dW;
            const int dH = dW % 4 == 0 ? 37 : 2 + dW % 5, W = cx + cw + dW % 3, H = ratio * dH;
            Frame s(W, H), d(dW, dH);
            fillRandom(s, rng);
            gScaleCroppedFrame(&s.desc, &d.desc, cx, 0, uint16_t(cw), uint16_t(H));
            std::vector<uint8_t> wy(d.y.size), wu(d.u.size);
            modelScalePlane(s.y.data.get(), wy.data(), W, H, dW, dH, cx, 0, cw, H);
            modelScalePlane(s.u.data.get(), wu.data(), W / 2, H / 2, dW / 2, dH / 2, cx / 2, 0, cw / 2, H / 2);
            ASSERT_TRUE(same(wy, d.y)) << ratio << ":1 to width " << dW;
            ASSERT_TRUE(same(wu, d.u)) << ratio << ":1 to width " << dW;
        }
    }
    // Ratios near 2:1 and 4:1, whose taps keep the stride but slip by a column
    // now and then: runs of every length, split where the slips fall; every
    // other frame tall enough that many rows share each fy.
    for (int dW = 16; dW <= 300; dW += 7) {
        for (int ratio : {2, 4}) {
            const int dH = dW % 2 ? 2 : 30;
            const int W = ratio * dW + irand(rng, -3, 3), H = dH * ratio + irand(rng, 0, 3);
            Frame s(W, H), d(dW, dH);
            fillRandom(s, rng);
            gScaleFrame(&s.desc, &d.desc);
            std::vector<uint8_t> wy(d.y.size);
            modelScalePlane(s.y.data.get(), wy.data(), W, H, dW, dH, 0, 0, W, H);
            ASSERT_TRUE(same(wy, d.y)) << W << " to " << dW;
        }
    }
    // 2:1 columns with the rows enlarged: several destination rows start on
    // the source's first row, where the first column's borrowed tap would lie
    // before the plane (the sanitizer build checks that it is not read).
    for (int dW : {17, 20, 33, 40, 64, 100, 320}) {
        const int W = 2 * dW, H = 3, dH = 4 * H;
        Frame s(W, H), d(dW, dH);
        fillRandom(s, rng);
        gScaleFrame(&s.desc, &d.desc);
        std::vector<uint8_t> wy(d.y.size);
        modelScalePlane(s.y.data.get(), wy.data(), W, H, dW, dH, 0, 0, W, H);
        ASSERT_TRUE(same(wy, d.y)) << "2:1 columns, rows enlarged, width " << dW;
    }
    for (int ratio : {2, 4}) {
        const int dW = 1300, dH = 17;
        Frame s(ratio * dW, ratio * dH), d(dW, dH);
        fillRandom(s, rng);
        gScaleFrame(&s.desc, &d.desc);
        std::vector<uint8_t> wy(d.y.size);
        modelScalePlane(s.y.data.get(), wy.data(), ratio * dW, ratio * dH, dW, dH, 0, 0, ratio * dW, ratio * dH);
        EXPECT_TRUE(same(wy, d.y)) << ratio << ":1 to width " << dW;
    }
}

// RGB565 scaler model: window-size steps, +1 accumulators, last row and
// column copied, right and bottom taps kept inside the window.
void modelScaleRgb(const uint16_t* S, uint16_t* D, int sw, int sh, int dw, int dh, int cx, int cy, int cw, int ch) {
    if (!S || !D || dw <= 0 || dh <= 0 || cx < 0 || cy < 0 || cx >= sw || cy >= sh || cw <= 0 || ch <= 0) return;
    if (cx + cw > sw) cw = sw - cx;
    if (cy + ch > sh) ch = sh - cy;
    const int64_t stepX = (int64_t(cw) << 18) / dw, stepY = (int64_t(ch) << 18) / dh;
    auto tap = [](int k, int64_t step, int size, int& t0, int& t1, int& ph) {
        const int pos = k == 0 ? 0 : int((k * step + 1) >> 15);
        t0 = pos >> 3;
        ph = pos & 7;
        if (t0 == size - 1 && size > 1) t0 -= 1;
        t1 = std::min(t0 + 1, size - 1);
    };
    const int rows = dh > 1 ? dh - 1 : 1, cols = dw > 1 ? dw - 1 : 1;
    for (int i = 0; i < rows; ++i) {
        int ty0, ty1, fy;
        tap(i, stepY, ch, ty0, ty1, fy);
        for (int j = 0; j < cols; ++j) {
            int tx0, tx1, fx;
            tap(j, stepX, cw, tx0, tx1, fx);
            const int p[4] = {S[(cy + ty0) * sw + cx + tx0], S[(cy + ty0) * sw + cx + tx1],
                              S[(cy + ty1) * sw + cx + tx0], S[(cy + ty1) * sw + cx + tx1]};
            const int w[4] = {(8 - fx) * (8 - fy), fx * (8 - fy), (8 - fx) * fy, fx * fy};
            int r = 0, g = 0, b = 0;
            for (int k = 0; k < 4; ++k) {
                r += w[k] * (p[k] >> 11);
                g += w[k] * ((p[k] >> 5) & 63);
                b += w[k] * (p[k] & 31);
            }
            D[i * dw + j] = uint16_t((r / 64) << 11 | (g / 64) << 5 | (b / 64));
        }
        if (dw > 1) D[i * dw + dw - 1] = D[i * dw + dw - 2];
    }
    if (dh > 1)
        for (int j = 0; j < dw; ++j) D[(dh - 1) * dw + j] = D[(dh - 2) * dw + j];
}

TEST(ScaleRgb565, UniformRedHalved) {
    std::vector<uint16_t> s(16 * 8, 0xF800), d(8 * 4, 0);
    gScaleRGB565Frame(s.data(), d.data(), 16, 8, 8, 4);
    for (uint16_t p : d) EXPECT_EQ(p, 0xF800);
}

TEST(ScaleRgb565, MatchesModel) {
    std::mt19937 rng(42);
    for (int iter = 0; iter < 1500; ++iter) {
        const int sw = irand(rng, 1, 40), sh = irand(rng, 1, 30), dw = irand(rng, 1, 70), dh = irand(rng, 1, 50);
        std::vector<uint16_t> s(size_t(sw) * sh);
        for (auto& p : s) p = uint16_t(rng());
        Guarded<uint16_t> got(size_t(dw) * dh, 0x1234), want(size_t(dw) * dh, 0x1234);
        if (iter % 2) {
            gScaleRGB565Frame(s.data(), got.data(), sw, sh, dw, dh);
            modelScaleRgb(s.data(), want.data(), sw, sh, dw, dh, 0, 0, sw, sh);
        } else {
            const int cx = irand(rng, 0, sw), cy = irand(rng, 0, sh), cw = irand(rng, 0, sw + 5),
                      ch = irand(rng, 0, sh + 5);
            gScaleRGB565CroppedFrame(s.data(), got.data(), sw, sh, dw, dh, cx, cy, cw, ch);
            modelScaleRgb(s.data(), want.data(), sw, sh, dw, dh, cx, cy, cw, ch);
        }
        ASSERT_TRUE(got.all == want.all) << "iteration " << iter << " " << sw << "x" << sh << " -> " << dw << "x"
                                         << dh;
    }
    gScaleRGB565Frame(nullptr, nullptr, 4, 4, 2, 2);
}

// Fixed-ratio models, one plane at a time, straight from the kernels' tables.

void modelDownBy2(const uint8_t* S, int sw, uint8_t* D, int dw, int dh, int cx, int cy) {
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
            auto s = [&](int c, int r) { return int(S[(cy + 2 * y + r) * sw + cx + 2 * x + c]); };
            D[y * dw + x] = uint8_t((9 * s(0, 0) + 3 * s(1, 0) + 3 * s(0, 1) + s(1, 1)) / 16);
        }
}

void modelDownTo3by4(const uint8_t* S, int sw, int sh, uint8_t* D, int dw, int dh, int cx, int cy) {
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
            const int br = 4 * (y / 3), bc = 4 * (x / 3);
            // A partial block's unused taps may lie outside the plane.
            auto s = [&](int row, int col) {
                const int r = cy + br + row, c = cx + bc + col;
                return r < sh && c < sw ? int(S[r * sw + c]) : 0;
            };
            const int a0 = s(0, 0), a1 = s(0, 1), a2 = s(0, 2), a3 = s(0, 3);
            const int b0 = s(1, 0), b1 = s(1, 1), b2 = s(1, 2), b3 = s(1, 3);
            const int c0 = s(2, 0), c1 = s(2, 1), c2 = s(2, 2), c3 = s(2, 3);
            const int d0 = s(3, 0), d1 = s(3, 1), d2 = s(3, 2), d3 = s(3, 3);
            const int table[3][3] = {
                {(9 * a0 + 3 * a1 + 3 * b0 + b1) >> 4, (3 * a1 + 3 * a2 + b1 + b2) >> 3,
                 (3 * a2 + 9 * a3 + b2 + 3 * b3) >> 4},
                {(3 * b0 + b1 + 3 * c0 + c1) >> 3, (b1 + b2 + c1 + c2) >> 2, (b2 + 3 * b3 + c2 + 3 * c3) >> 3},
                {(3 * c0 + c1 + 9 * d0 + 3 * d1) >> 4, (c1 + c2 + 3 * d1 + 3 * d2) >> 3,
                 (c2 + 3 * c3 + 3 * d2 + 9 * d3) >> 4}};
            D[y * dw + x] = uint8_t(table[y % 3][x % 3]);
        }
}

}  // namespace

namespace {

// Up-scalers need the source height too; they take the whole frame.
void modelUpBy2Plane(const uint8_t* S, int sw, int sh, uint8_t* D, int dw) {
    auto d = [&](int x, int y) -> uint8_t& { return D[y * dw + x]; };
    for (int k = 0; k < sh; ++k) {
        for (int i = 0; i < sw; ++i) {
            d(2 * i, 2 * k) = S[k * sw + i];
            d(2 * i + 1, 2 * k) = i + 1 < sw ? uint8_t((S[k * sw + i] + S[k * sw + i + 1]) >> 1) : S[k * sw + i];
        }
    }
    for (int k = 0; k + 1 < sh; ++k) {
        for (int i = 0; i < sw; ++i) {
            d(2 * i, 2 * k + 1) = uint8_t((S[k * sw + i] + S[(k + 1) * sw + i]) >> 1);
            d(2 * i + 1, 2 * k + 1) = i + 1 < sw ? uint8_t((d(2 * i + 1, 2 * k) + d(2 * i + 1, 2 * k + 2)) >> 1)
                                                 : d(2 * i, 2 * k + 1);
        }
    }
    for (int x = 0; x < 2 * sw; ++x) d(x, 2 * sh - 1) = d(x, 2 * sh - 2);
}

void modelUpBy4Plane(const uint8_t* S, int sw, uint8_t* D, int dw, int dh, int cx, int cy) {
    const int ww = dw / 4, wh = dh / 4;
    auto m = [](int a, int b) { return (a + b) >> 1; };
    for (int k = 0; k + 1 < wh; ++k)
        for (int i = 0; i + 1 < ww; ++i) {
            const int s00 = S[(cy + k) * sw + cx + i], s01 = S[(cy + k) * sw + cx + i + 1];
            const int s10 = S[(cy + k + 1) * sw + cx + i], s11 = S[(cy + k + 1) * sw + cx + i + 1];
            const int e = m(s00, s01), h = m(s00, s10), f = m(s10, s01), g = m(s01, s11);
            const int mm = m(e, f), n = m(f, m(s10, s11));
            const int block[4][4] = {{s00, m(s00, e), e, m(s01, e)},
                                     {m(s00, h), m(m(s00, h), mm), mm, m(mm, m(s01, g))},
                                     {h, m(h, f), m(h, g), m(f, g)},
                                     {m(s10, h), m(m(s10, h), n), n, m(n, m(s11, g))}};
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) D[(4 * k + r) * dw + 4 * i + c] = uint8_t(block[r][c]);
        }
    for (int y = 0; y < 4 * (wh - 1); ++y)
        for (int c = 0; c < 4; ++c) D[y * dw + 4 * (ww - 1) + c] = D[y * dw + 4 * (ww - 2) + c];
    for (int r = 0; r < 4; ++r)
        for (int x = 0; x < 4 * ww; ++x) D[(4 * (wh - 1) + r) * dw + x] = D[(4 * (wh - 2) + r) * dw + x];
}

struct Planes {
    std::vector<uint8_t> y, u, v;
};

Planes snapshot(const Frame& f) {
    return {{f.y.data.get(), f.y.data.get() + f.y.size},
            {f.u.data.get(), f.u.data.get() + f.u.size},
            {f.v.data.get(), f.v.data.get() + f.v.size}};
}

TEST(ScaleFixed, WorkedCases) {
    Frame s(8, 8), d(4, 4);
    std::fill_n(s.y.data.get(), 64, 77);
    std::fill_n(s.u.data.get(), 16, 200);
    std::fill_n(s.v.data.get(), 16, 3);
    gScaleCroppedFrame_downby2(&s.desc, &d.desc, 0, 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(d.y[i], 77);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(d.u[i], 200);
        EXPECT_EQ(d.v[i], 3);
    }

    Frame s3(8, 8), d3(6, 6);
    std::memset(s3.y.data.get(), 0, 64);
    s3.y[0] = 16;
    gScaleCroppedFrame_downto3by3(&s3.desc, &d3.desc, 0, 0);
    EXPECT_EQ(d3.y[0], 9);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (r || c) {
                EXPECT_EQ(d3.y[r * 6 + c], 0);
            }
}

TEST(ScaleFixed, MatchModelOnRandomFrames) {
    std::mt19937 rng(11);
    int scaled = 0;
    for (int iter = 0; iter < 400; ++iter) {
        const int kind = iter % 4;
        int W, H, dW, dH, cy = 0;
        switch (kind) {
        case 0: dW = irand(rng, 1, 30), dH = irand(rng, 1, 20), W = 2 * dW, H = 2 * dH + irand(rng, 0, 5); break;
        case 1: W = irand(rng, 1, 20), H = irand(rng, 1, 15), dW = 2 * W, dH = 2 * H; break;
        case 2: W = irand(rng, 4, 20), H = irand(rng, 4, 15), dW = 4 * W, dH = 4 * irand(rng, 4, H); break;
        default: dW = 3 * irand(rng, 1, 12), dH = irand(rng, 1, 30), W = 4 * dW / 3, H = dH * 2; break;
        }
        if (kind != 1) cy = irand(rng, 0, 2);
        Frame s(W, H), d(dW, dH);
        fillRandom(s, rng);
        fillRandom(d, rng);
        Planes want = snapshot(d);
        // A luma-only call: the absent planes' sizes must not stop luma.
        const bool lumaOnly = iter % 5 == 4;
        if (lumaOnly) s.desc.u = s.desc.v = d.desc.u = d.desc.v = nullptr;
        const int w2 = W / 2, h2 = H / 2, dw2 = dW / 2, dh2 = dH / 2;
        auto fits = [&](int extW, int extH, int sw, int sh, int ccy) { return extW <= sw && ccy + extH <= sh; };
        auto ext3 = [](int n) { return 4 * ((n - 1) / 3) + (n - 1) % 3 + 2; };
        bool ok = true;
        switch (kind) {
        case 0:
            ok = fits(2 * dW, 2 * dH, W, H, cy) &&
                 (lumaOnly || (fits(2 * dw2, 2 * dh2, w2, h2, cy / 2) && dw2 > 0 && dh2 > 0));
            if (ok) modelDownBy2(s.y.data.get(), W, want.y.data(), dW, dH, 0, cy);
            if (ok && !lumaOnly) {
                modelDownBy2(s.u.data.get(), w2, want.u.data(), dw2, dh2, 0, cy / 2);
                modelDownBy2(s.v.data.get(), w2, want.v.data(), dw2, dh2, 0, cy / 2);
            }
            gScaleCroppedFrame_downby2(&s.desc, &d.desc, 0, cy);
            break;
        case 1:
            ok = lumaOnly || (w2 > 0 && h2 > 0);
            if (ok) modelUpBy2Plane(s.y.data.get(), W, H, want.y.data(), dW);
            if (ok && !lumaOnly) {
                modelUpBy2Plane(s.u.data.get(), w2, h2, want.u.data(), dw2);
                modelUpBy2Plane(s.v.data.get(), w2, h2, want.v.data(), dw2);
            }
            gScaleCroppedFrame_upby2(&s.desc, &d.desc, 0, 0);
            break;
        case 2:
            ok = fits(dW / 4, dH / 4, W, H, cy) &&
                 (lumaOnly || (fits(dw2 / 4, dh2 / 4, w2, h2, cy / 2) && dw2 / 4 >= 2 && dh2 / 4 >= 2));
            if (ok) modelUpBy4Plane(s.y.data.get(), W, want.y.data(), dW, dH, 0, cy);
            if (ok && !lumaOnly) {
                modelUpBy4Plane(s.u.data.get(), w2, want.u.data(), dw2, dh2, 0, cy / 2);
                modelUpBy4Plane(s.v.data.get(), w2, want.v.data(), dw2, dh2, 0, cy / 2);
            }
            gScaleCroppedFrame_upby4(&s.desc, &d.desc, 0, cy);
            break;
        default:
            ok = fits(ext3(dW), ext3(dH), W, H, cy) &&
                 (lumaOnly || (dw2 > 0 && dh2 > 0 && fits(ext3(dw2), ext3(dh2), w2, h2, cy / 2)));
            if (ok) modelDownTo3by4(s.y.data.get(), W, H, want.y.data(), dW, dH, 0, cy);
            if (ok && !lumaOnly) {
                modelDownTo3by4(s.u.data.get(), w2, h2, want.u.data(), dw2, dh2, 0, cy / 2);
                modelDownTo3by4(s.v.data.get(), w2, h2, want.v.data(), dw2, dh2, 0, cy / 2);
            }
            gScaleCroppedFrame_downto3by3(&s.desc, &d.desc, 0, cy);
            break;
        }
        scaled += ok;
        const Planes got = snapshot(d);
        ASSERT_TRUE(got.y == want.y) << "kind " << kind << " iteration " << iter << " ok " << ok;
        ASSERT_TRUE(got.u == want.u) << "kind " << kind << " iteration " << iter;
        ASSERT_TRUE(got.v == want.v) << "kind " << kind << " iteration " << iter;
    }
    EXPECT_GT(scaled, 250) << "most cases must be valid geometry";
}

TEST(ScaleFixed, RefusedWindowsLeaveDestinationAlone) {
    std::mt19937 rng(2);
    Frame s(16, 16), d(8, 8), up(32, 32), up4(64, 64), d3(12, 12);
    for (Frame* f : {&s, &d, &up, &up4, &d3}) fillRandom(*f, rng);
    const Planes before = snapshot(d), beforeUp = snapshot(up), beforeUp4 = snapshot(up4), before3 = snapshot(d3);
    gScaleCroppedFrame_downby2(&s.desc, &d.desc, 2, 0);   // cropX not 0
    gScaleCroppedFrame_downby2(&s.desc, &d.desc, 0, 2);   // runs past the bottom
    gScaleCroppedFrame_upby2(&s.desc, &up.desc, 0, 1);    // past the frame
    gScaleCroppedFrame_upby4(&s.desc, &up4.desc, 0, 1);   // past the bottom
    gScaleCroppedFrame_downto3by3(&s.desc, &d3.desc, 4, 0);
    Frame tiny(16, 1), tinyUp(64, 4);
    gScaleCroppedFrame_upby4(&tiny.desc, &tinyUp.desc, 0, 0);  // destination height 4
    EXPECT_TRUE(snapshot(d).y == before.y && snapshot(d).u == before.u);
    EXPECT_TRUE(snapshot(up).y == beforeUp.y);
    EXPECT_TRUE(snapshot(up4).y == beforeUp4.y);
    EXPECT_TRUE(snapshot(d3).y == before3.y);
    gScaleCroppedFrame_downby2(nullptr, &d.desc, 0, 0);
}

}  // namespace
