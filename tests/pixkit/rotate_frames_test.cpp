// Frame turns, RGB565 window turns and mirrors against a per-pixel model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "layout_test_support.h"
#include "pixkit.h"

namespace {

using namespace layout_test;
using Plane = std::vector<uint8_t>;

// --- Model --------------------------------------------------------------------

// Where sample (j, i) of a w x h plane lands for a code; returns the index in
// the turned plane.
size_t turnedIndex(int j, int i, int w, int h, int code) {
    switch (code) {
    case 1: return static_cast<size_t>(j) * h + (h - 1 - i);
    case 2: return static_cast<size_t>(h - 1 - i) * w + (w - 1 - j);
    case 3: return static_cast<size_t>(w - 1 - j) * h + i;
    default: return static_cast<size_t>(i) * w + j;
    }
}

void modelTurnPlane(const Plane& s, Plane& d, int w, int h, int code) {
    for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) d[turnedIndex(j, i, w, h, code)] = s[static_cast<size_t>(i) * w + j];
}

// 4:2:2 chroma of a quarter turn: a destination chroma sample covers destination
// luma columns 2cx, 2cx + 1 (two source rows: take the even one) in row r (one
// source column j: take its column pair j / 2).
void modelTurn422Chroma(const Plane& s, Plane& d, int w, int h, int code) {
    const int dcw = h / 2;
    for (int r = 0; r < w; ++r) {
        for (int cx = 0; cx < dcw; ++cx) {
            const int rowA = code == 1 ? h - 1 - 2 * cx : 2 * cx;
            const int rowB = code == 1 ? h - 2 - 2 * cx : 2 * cx + 1;
            const int even = (rowA % 2 == 0) ? rowA : rowB;
            const int j = code == 1 ? r : w - 1 - r;
            d[static_cast<size_t>(r) * dcw + cx] = s[static_cast<size_t>(even) * (w / 2) + j / 2];
        }
    }
}

// --- Frame turns --------------------------------------------------------------

TEST(FrameTurns, WorkedFourByTwo) {
    // Rows a b c d / e f g h.
    Planes src{{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, {'p', 'q'}, {'r', 's'}};
    ImageFrame sf = frameOf(src, 4, 2);
    Planes dst = sentinelPlanes(8, 2);
    ImageFrame df = frameOf(dst, 2, 4);
    gRotateFrame(&sf, &df, 1);
    EXPECT_EQ(std::string(dst.y.begin(), dst.y.end()), "eafbgchd");
    EXPECT_EQ(std::string(dst.u.begin(), dst.u.end()), "pq"); // 2 x 1 chroma turned to 1 x 2
    gRotateFrame(&sf, &df, 2);
    EXPECT_EQ(std::string(dst.y.begin(), dst.y.end()), "hgfedcba");
    EXPECT_EQ(std::string(dst.v.begin(), dst.v.end()), "sr");
}

TEST(FrameTurns, RandomFramesMatchModel) {
    Rng rng(11);
    for (int iter = 0; iter < 600; ++iter) {
        const int w = rng.uniform(1, 70), h = rng.uniform(1, 70), code = rng.uniform(0, 3);
        const bool is422 = iter % 3 == 1, mono = iter % 3 == 2;
        const int ch = is422 ? h : h / 2;
        Planes src = randomPlanes(rng, static_cast<size_t>(w) * h, static_cast<size_t>(w / 2) * ch);
        ImageFrame sf = frameOf(src, w, h);
        Planes dst = sentinelPlanes(static_cast<size_t>(w) * h, static_cast<size_t>(w / 2) * ch);
        ImageFrame df = frameOf(dst, 0, 0);
        Planes want = dst;
        if (mono) {
            gRotateMonochromeFrame(&sf, &df, static_cast<uint8_t>(code));
            modelTurnPlane(src.y, want.y, w, h, code);
        } else if (!is422) {
            gRotateFrame(&sf, &df, static_cast<uint8_t>(code));
            modelTurnPlane(src.y, want.y, w, h, code);
            modelTurnPlane(src.u, want.u, w / 2, h / 2, code);
            modelTurnPlane(src.v, want.v, w / 2, h / 2, code);
        } else {
            gRotate422Frame(&sf, &df, static_cast<uint8_t>(code));
            if (code == 0 || code == 2) {
                modelTurnPlane(src.y, want.y, w, h, code);
                modelTurnPlane(src.u, want.u, w / 2, h, code);
                modelTurnPlane(src.v, want.v, w / 2, h, code);
            } else if (w % 2 == 0) { // an odd width is refused for quarter turns
                modelTurnPlane(src.y, want.y, w, h, code);
                modelTurn422Chroma(src.u, want.u, w, h, code);
                modelTurn422Chroma(src.v, want.v, w, h, code);
            }
        }
        ASSERT_EQ(dst.y, want.y) << w << "x" << h << " code " << code << " iter " << iter;
        ASSERT_EQ(dst.u, want.u) << w << "x" << h << " code " << code << " iter " << iter;
        ASSERT_EQ(dst.v, want.v) << w << "x" << h << " code " << code << " iter " << iter;
    }
}

TEST(FrameTurns, OddRowsOfA422SourceAreNotRead) {
    // Chroma of odd source rows differs from the even rows: only even rows may appear.
    Rng rng(3);
    const int w = 6, h = 4;
    Planes src = randomPlanes(rng, w * h, (w / 2) * h);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w / 2; ++c) src.u[r * (w / 2) + c] = static_cast<uint8_t>(r % 2 ? 200 : 10 + c);
    ImageFrame sf = frameOf(src, w, h);
    for (uint8_t code : {1, 3}) {
        Planes dst = sentinelPlanes(w * h, (h / 2) * w);
        ImageFrame df = frameOf(dst, h, w);
        gRotate422Frame(&sf, &df, code);
        for (uint8_t x : dst.u) EXPECT_LT(x, 200);
    }
}

TEST(FrameTurns, QuarterTurnsComposeToIdentity) {
    Rng rng(5);
    const int w = 10, h = 6;
    Planes orig = randomPlanes(rng, w * h, (w / 2) * (h / 2));
    Planes a = orig, b = sentinelPlanes(w * h, (w / 2) * (h / 2));
    int cw = w, ch = h;
    for (int k = 0; k < 4; ++k) {
        ImageFrame sf = frameOf(a, cw, ch), df = frameOf(b, ch, cw);
        gRotateFrame(&sf, &df, 1);
        std::swap(a, b);
        std::swap(cw, ch);
    }
    EXPECT_EQ(a.y, orig.y);
    EXPECT_EQ(a.u, orig.u);
    EXPECT_EQ(a.v, orig.v);
    // A clockwise then an anticlockwise quarter turn of 4:2:2 luma is the identity too.
    Planes p = randomPlanes(rng, w * h, (w / 2) * h), q = sentinelPlanes(w * h, (h / 2) * w);
    Planes r = sentinelPlanes(w * h, (w / 2) * h);
    ImageFrame pf = frameOf(p, w, h), qf = frameOf(q, h, w), rf = frameOf(r, w, h);
    gRotate422Frame(&pf, &qf, 1);
    gRotate422Frame(&qf, &rf, 3);
    EXPECT_EQ(r.y, p.y);
}

TEST(FrameTurns, RefusedCallsWriteNothing) {
    Rng rng(9);
    Planes src = randomPlanes(rng, 16, 4);
    ImageFrame sf = frameOf(src, 4, 4);
    Planes dst = sentinelPlanes(16, 8);
    ImageFrame df = frameOf(dst, 4, 4);
    const Planes untouched = dst;
    gRotateFrame(&sf, &df, 4);
    gRotateFrame(&sf, &df, 255);
    gRotate422Frame(&sf, &df, 7);
    gRotateMonochromeFrame(&sf, &df, 4);
    ImageFrame noChroma = df;
    noChroma.v = nullptr;
    gRotateFrame(&sf, &noChroma, 1);
    gRotateFrame(nullptr, &df, 1);
    gRotateMonochromeFrame(&sf, nullptr, 1);
    // A 4:2:2 quarter turn with an odd width has no chroma pair for its last column.
    Planes odd = randomPlanes(rng, 12, 4);
    ImageFrame of = frameOf(odd, 3, 4);
    gRotate422Frame(&of, &df, 1);
    EXPECT_EQ(dst.y, untouched.y);
    EXPECT_EQ(dst.u, untouched.u);
    EXPECT_EQ(dst.v, untouched.v);
}

// --- RGB565 window turns ------------------------------------------------------

struct WindowCase {
    int srcStride, srcHeight, srcX, srcY, width, height, dstX, dstY, dstCols, dstRows, code;
};

struct ModelWindow {
    int srcX, srcY, dstX, dstY, w, h;
};

ModelWindow modelClip(const WindowCase& c) {
    ModelWindow m;
    m.srcX = std::min(c.srcX, c.srcStride);
    m.srcY = std::min(c.srcY, c.srcHeight);
    m.dstX = std::min(c.dstX, c.dstCols);
    m.dstY = std::min(c.dstY, c.dstRows);
    m.w = std::min(c.width, c.srcStride - m.srcX);
    m.h = std::min(c.height, c.srcHeight - m.srcY);
    const bool rowsStay = c.code == 0 || c.code == 2;
    m.w = std::min(m.w, rowsStay ? c.dstCols - m.dstX : c.dstRows - m.dstY);
    m.h = std::min(m.h, rowsStay ? c.dstRows - m.dstY : c.dstCols - m.dstX);
    return m;
}

void modelDestination(const ModelWindow& m, int code, int j, int i, int& x, int& y) {
    switch (code) {
    case 0: x = m.dstX + j, y = m.dstY + i; break;
    case 1: x = m.dstX + m.h - 1 - i, y = m.dstY + j; break;
    case 2: x = m.dstX + m.w - 1 - j, y = m.dstY + m.h - 1 - i; break;
    default: x = m.dstX + i, y = m.dstY + m.w - 1 - j; break;
    }
}

WindowCase randomWindow(Rng& rng) {
    WindowCase c;
    c.srcStride = rng.uniform(1, 17);
    c.srcHeight = rng.uniform(1, 17);
    c.srcX = rng.uniform(0, c.srcStride + 3);
    c.srcY = rng.uniform(0, c.srcHeight + 3);
    c.width = rng.uniform(0, 24); // often larger than the frame
    c.height = rng.uniform(0, 24);
    c.dstCols = rng.uniform(1, 17);
    c.dstRows = rng.uniform(1, 17);
    c.dstX = rng.uniform(0, c.dstCols + 2);
    c.dstY = rng.uniform(0, c.dstRows + 2);
    c.code = rng.uniform(0, 3);
    return c;
}

TEST(RotateRGB16, RandomWindowsMatchModel) {
    Rng rng(21);
    for (int iter = 0; iter < 2000; ++iter) {
        const WindowCase c = randomWindow(rng);
        const auto src = rng.buffer<uint16_t>(static_cast<size_t>(c.srcStride) * c.srcHeight);
        std::vector<uint16_t> dst(static_cast<size_t>(c.dstCols) * c.dstRows, kSentinel16);
        auto want = dst;
        const ModelWindow m = modelClip(c);
        for (int i = 0; i < m.h; ++i)
            for (int j = 0; j < m.w; ++j) {
                int x, y;
                modelDestination(m, c.code, j, i, x, y);
                want[static_cast<size_t>(y) * c.dstCols + x] =
                    src[static_cast<size_t>(m.srcY + i) * c.srcStride + m.srcX + j];
            }
        ASSERT_EQ(0, gRotateRGB16(src.data(), dst.data(), c.srcStride, c.srcHeight, c.srcX, c.srcY, c.width,
                                  c.height, c.dstX, c.dstY, c.dstCols, c.dstRows, static_cast<uint8_t>(c.code)));
        ASSERT_EQ(dst, want) << "iter " << iter;
    }
}

TEST(RotateRGB16, ToBGR24RandomWindowsMatchModel) {
    // {blue and red, green} by window row parity then column parity.
    static const int kOffsets[2][2][2] = {{{0, 0}, {4, 2}}, {{6, 3}, {2, 1}}};
    Rng rng(22);
    for (int iter = 0; iter < 2000; ++iter) {
        const WindowCase c = randomWindow(rng);
        const int dstStride = c.dstCols * 3 + rng.uniform(0, 2); // spare bytes stay untouched
        const auto src = rng.buffer<uint16_t>(static_cast<size_t>(c.srcStride) * c.srcHeight);
        std::vector<uint8_t> dst(static_cast<size_t>(dstStride) * c.dstRows, kSentinel8);
        auto want = dst;
        const ModelWindow m = modelClip(c);
        for (int i = 0; i < m.h; ++i)
            for (int j = 0; j < m.w; ++j) {
                int x, y;
                modelDestination(m, c.code, j, i, x, y);
                const uint16_t p = src[static_cast<size_t>(m.srcY + i) * c.srcStride + m.srcX + j];
                const int* off = kOffsets[i % 2][j % 2];
                uint8_t* out = &want[static_cast<size_t>(y) * dstStride + 3 * x];
                out[0] = static_cast<uint8_t>(((p & 31) << 3) + off[0]);
                out[1] = static_cast<uint8_t>((((p >> 5) & 63) << 2) + off[1]);
                out[2] = static_cast<uint8_t>(((p >> 11) << 3) + off[0]);
            }
        ASSERT_EQ(0, gRotateRGB16toBGR24(src.data(), dst.data(), c.srcStride, c.srcHeight, c.srcX, c.srcY,
                                         c.width, c.height, c.dstX, c.dstY, c.dstRows, dstStride,
                                         static_cast<uint8_t>(c.code)));
        ASSERT_EQ(dst, want) << "iter " << iter;
    }
}

TEST(RotateRGB16, StatusAndWorkedCases) {
    std::vector<uint16_t> src(16, 0xFFFF), dst(16, kSentinel16);
    const auto untouched = dst;
    EXPECT_EQ(-1, gRotateRGB16(nullptr, dst.data(), 4, 4, 0, 0, 4, 4, 0, 0, 4, 4, 0));
    EXPECT_EQ(-1, gRotateRGB16(src.data(), nullptr, 4, 4, 0, 0, 4, 4, 0, 0, 4, 4, 0));
    EXPECT_EQ(-1, gRotateRGB16(src.data(), dst.data(), 4, 4, 0, 0, 4, 4, 0, 0, 4, 4, 4));
    // A start past the stride is limited to it: nothing left to copy.
    EXPECT_EQ(0, gRotateRGB16(src.data(), dst.data(), 4, 4, 9, 0, 4, 4, 0, 0, 4, 4, 1));
    EXPECT_EQ(dst, untouched);
    // Odd windows move whole: a 3 x 3 half turn writes 9 pixels, a 1-wide
    // anticlockwise turn of 4 rows fills destination row 0.
    EXPECT_EQ(0, gRotateRGB16(src.data(), dst.data(), 4, 4, 0, 0, 3, 3, 0, 0, 4, 4, 2));
    EXPECT_EQ(std::count(dst.begin(), dst.end(), 0xFFFF), 9);
    EXPECT_EQ(dst[3], kSentinel16);
    EXPECT_EQ(dst[12], kSentinel16);
    dst = untouched;
    EXPECT_EQ(0, gRotateRGB16(src.data(), dst.data(), 4, 4, 0, 0, 1, 4, 0, 0, 4, 4, 3));
    EXPECT_EQ(std::count(dst.begin(), dst.end(), 0xFFFF), 4);
    EXPECT_EQ(std::count(dst.begin(), dst.begin() + 4, 0xFFFF), 4);

    // Only the rotation's low 8 bits count: a caller passing a wider value in
    // the argument's register gets code 256 = 0, 257 = 1, 0x10002 = 2.
    using Rgb16Wide = int32_t (*)(const uint16_t*, uint16_t*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                  uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
    using Bgr24Wide = int32_t (*)(const uint16_t*, uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                  uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
    using AnyFunction = void (*)();
    const auto rgb16Wide = reinterpret_cast<Rgb16Wide>(reinterpret_cast<AnyFunction>(&gRotateRGB16));
    const auto bgr24Wide = reinterpret_cast<Bgr24Wide>(reinterpret_cast<AnyFunction>(&gRotateRGB16toBGR24));
    std::vector<uint16_t> ramp(12);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<uint16_t>(k + 1);
    for (const uint32_t wide : {256u, 257u, 0x10002u}) {
        const uint8_t code = static_cast<uint8_t>(wide);
        std::vector<uint16_t> got(16, kSentinel16), want = got;
        ASSERT_EQ(0, gRotateRGB16(ramp.data(), want.data(), 4, 3, 0, 0, 4, 3, 0, 0, 4, 4, code));
        ASSERT_EQ(0, rgb16Wide(ramp.data(), got.data(), 4, 3, 0, 0, 4, 3, 0, 0, 4, 4, wide));
        EXPECT_EQ(got, want) << wide;
        std::vector<uint8_t> gotBgr(48, kSentinel8), wantBgr = gotBgr;
        ASSERT_EQ(0, gRotateRGB16toBGR24(ramp.data(), wantBgr.data(), 4, 3, 0, 0, 4, 3, 0, 0, 4, 12, code));
        ASSERT_EQ(0, bgr24Wide(ramp.data(), gotBgr.data(), 4, 3, 0, 0, 4, 3, 0, 0, 4, 12, wide));
        EXPECT_EQ(gotBgr, wantBgr) << wide;
    }
    EXPECT_EQ(-1, rgb16Wide(ramp.data(), dst.data(), 4, 3, 0, 0, 4, 3, 0, 0, 4, 4, 0x104u));

    std::vector<uint8_t> bgr(3 * 4 * 2, kSentinel8);
    EXPECT_EQ(-1, gRotateRGB16toBGR24(src.data(), bgr.data(), 4, 4, 0, 0, 4, 4, 0, 0, 2, 12, 9));
    // White at an odd row and even column.
    EXPECT_EQ(0, gRotateRGB16toBGR24(src.data(), bgr.data(), 4, 4, 0, 0, 4, 2, 0, 0, 2, 12, 0));
    EXPECT_EQ(bgr[12], 254);
    EXPECT_EQ(bgr[13], 255);
    EXPECT_EQ(bgr[14], 254);
    EXPECT_EQ(bgr[0], 248); // even row, even column: no offset
}

// --- Mirrors --------------------------------------------------------------------

template <typename T>
std::vector<T> modelMirror(const std::vector<T>& s, int w, int h, int mode) {
    std::vector<T> d(s.size());
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int sr = (mode == 1 || mode == 2) ? h - 1 - r : r;
            const int sc = mode == 1 ? c : w - 1 - c;
            d[static_cast<size_t>(r) * w + c] = s[static_cast<size_t>(sr) * w + sc];
        }
    return d;
}

TEST(Mirror, RGB565RandomPicturesMatchModel) {
    Rng rng(31);
    for (int iter = 0; iter < 300; ++iter) {
        const int w = rng.uniform(1, 12), h = rng.uniform(1, 12), mode = rng.uniform(-1, 7);
        const auto src = rng.buffer<uint16_t>(static_cast<size_t>(w) * h);
        std::vector<uint16_t> dst(src.size(), kSentinel16);
        ASSERT_EQ(0, gMirrorImageRGB565(src.data(), dst.data(), w, h, mode));
        const auto want = modelMirror(src, w, h, mode);
        ASSERT_EQ(dst, want) << w << "x" << h << " mode " << mode;
        // In place gives the same, and mirroring twice restores the picture.
        auto inPlace = src;
        ASSERT_EQ(0, gMirrorImageRGB565(inPlace.data(), inPlace.data(), w, h, mode));
        ASSERT_EQ(inPlace, want);
        ASSERT_EQ(0, gMirrorImageRGB565(inPlace.data(), inPlace.data(), w, h, mode));
        ASSERT_EQ(inPlace, src);
    }
}

TEST(Mirror, RGB565ModesAndStatus) {
    const std::vector<uint16_t> src{1, 2, 3, 4, 5, 6};
    std::vector<uint16_t> dst(6);
    gMirrorImageRGB565(src.data(), dst.data(), 3, 2, 7);
    EXPECT_EQ(dst, (std::vector<uint16_t>{3, 2, 1, 6, 5, 4}));
    gMirrorImageRGB565(src.data(), dst.data(), 3, 2, 1);
    EXPECT_EQ(dst, (std::vector<uint16_t>{4, 5, 6, 1, 2, 3}));
    gMirrorImageRGB565(src.data(), dst.data(), 3, 2, 2);
    EXPECT_EQ(dst, (std::vector<uint16_t>{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(-1, gMirrorImageRGB565(src.data(), dst.data(), -1, 2, 0));
    EXPECT_EQ(-1, gMirrorImageRGB565(src.data(), dst.data(), 3, -2, 0));
    EXPECT_EQ(-1, gMirrorImageRGB565(nullptr, dst.data(), 3, 2, 0));
    EXPECT_EQ(0, gMirrorImageRGB565(src.data(), dst.data(), 0, 0, 0));
}

TEST(Mirror, YUVRandomFramesMatchModel) {
    Rng rng(41);
    for (int iter = 0; iter < 300; ++iter) {
        const int w = rng.uniform(1, 11), h = rng.uniform(1, 11), mode = rng.uniform(0, 3);
        const int chroma = rng.uniform(0, 1);
        const int toDst = rng.uniform(0, 2) == 0 ? 0 : (iter % 2 ? 1 : 0x101); // only the low 8 bits count
        const int ch = chroma ? h : h / 2;
        Planes src = randomPlanes(rng, static_cast<size_t>(w) * h, static_cast<size_t>(w / 2) * ch);
        const Planes orig = src;
        Planes dst = sentinelPlanes(src.y.size(), src.u.size());
        ImageFrame sf = frameOf(src, w, h), df = frameOf(dst, 0, 0);
        ASSERT_EQ(0, gMirrorImageYUV(&sf, &df, chroma, mode, toDst));
        const Planes& out = toDst ? dst : src;
        auto wantY = modelMirror(orig.y, w, h, mode);
        ASSERT_EQ(out.y, wantY) << w << "x" << h << " mode " << mode;
        if (w / 2 * ch > 0) {
            ASSERT_EQ(out.u, modelMirror(orig.u, w / 2, ch, mode));
            ASSERT_EQ(out.v, modelMirror(orig.v, w / 2, ch, mode));
        }
        if (toDst) {
            EXPECT_EQ(src.y, orig.y);
            EXPECT_EQ(df.width, w);
            EXPECT_EQ(df.height, h);
        }
    }
}

TEST(Mirror, YUVRefusals) {
    Rng rng(43);
    Planes src = randomPlanes(rng, 16, 4);
    const Planes orig = src;
    ImageFrame sf = frameOf(src, 4, 4);
    EXPECT_EQ(-1, gMirrorImageYUV(&sf, &sf, 2, 0, 0));
    EXPECT_EQ(-1, gMirrorImageYUV(&sf, &sf, -1, 0, 0));
    EXPECT_EQ(-1, gMirrorImageYUV(&sf, nullptr, 0, 0, 1));
    EXPECT_EQ(-1, gMirrorImageYUV(nullptr, &sf, 0, 0, 0));
    EXPECT_EQ(src.y, orig.y);
    EXPECT_EQ(src.u, orig.u);
}

} // namespace
