// Fuzz target: Pixkit's frame functions with arbitrary sizes, windows,
// placements and codes, on buffers exactly as large as each call's arguments
// describe, so that the sanitizers see any access outside them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixkit.h"

namespace {

class Input {
public:
    Input(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    uint8_t byte() { return n_ ? (--n_, *p_++) : 0; }
    uint16_t u16() { return uint16_t(byte() | (byte() << 8)); }
    // Mostly values near the frame sizes, sometimes any 16-bit value.
    int32_t coordinate() { return (byte() & 3) == 0 ? int16_t(u16()) : byte() % 72; }
    uint16_t ucoordinate() { return (byte() & 3) == 0 ? u16() : uint16_t(byte() % 72); }
    int size(int most) { return byte() % (most + 1); }

private:
    const uint8_t* p_;
    size_t n_;
};

std::vector<uint8_t> bytes(size_t n, Input& in) {
    std::vector<uint8_t> v(n);
    const uint8_t seed = in.byte();
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + 37 * i + (i >> 3));
    return v;
}

// An owning planar frame: chroma rows per frame row (0 for 4:2:0 halving,
// 1 for 4:2:2) or full-size chroma for 4:4:4.
struct Planar {
    std::vector<uint8_t> y, u, v;
    ImageFrame desc{};
    Planar(int w, int h, int layout, Input& in) {
        const size_t chroma = layout == 2 ? size_t(w) * h : size_t(w / 2) * (layout == 1 ? h : h / 2);
        y = bytes(size_t(w) * h, in);
        u = bytes(chroma, in);
        v = bytes(chroma, in);
        desc = {y.data(), u.data(), v.data(), uint16_t(w), uint16_t(h)};
    }
};

size_t area(int32_t a, int32_t b) { return a > 0 && b > 0 ? size_t(a) * size_t(b) : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const int which = in.byte() % 16;
    const int w = in.size(40), h = in.size(40);
    const int dstStride = in.size(64), dstHeight = in.size(64);
    std::vector<uint16_t> dst(area(dstStride, dstHeight));
    switch (which) {
    case 0:
    case 1: {
        Planar f(w, h, which, in);
        const uint16_t sx = in.ucoordinate(), sy = in.ucoordinate(), ww = in.ucoordinate(), hh = in.ucoordinate();
        const uint16_t dx = in.ucoordinate(), dy = in.ucoordinate();
        const uint8_t rotation = in.byte() % 5;
        if (which == 0)
            gYUV420toBGR565TopDown_Rotate(&f.desc, dst.data(), sx, sy, ww, hh, dx, dy, dstStride, dstHeight, rotation);
        else
            gYUV422HPlanartoBGR565TopDown_Rotate(&f.desc, dst.data(), sx, sy, ww, hh, dx, dy, dstStride, dstHeight,
                                                 rotation);
        break;
    }
    case 2:
    case 3: {
        Planar f(w, h, which - 2, in);
        const int32_t dx = in.coordinate(), dy = in.coordinate(), sx = in.coordinate(), sy = in.coordinate();
        const int32_t ww = in.coordinate(), hh = in.coordinate(), rotation = in.byte() % 5;
        (which == 2 ? gYUV420toRGB16Rotate : gYUV422toRGB16Rotate)(&f.desc, dst.data(), dstStride, dstHeight, dx, dy,
                                                                   sx, sy, ww, hh, rotation);
        break;
    }
    case 4:
    case 5:
    case 6: {
        // Whole frames: destination rows of `width` rounded down to even.
        Planar f(w, h, which == 6 ? 1 : 0, in);
        const int32_t ww = in.size(48) - 2, hh = in.size(48) - 2, topDown = in.byte();
        const size_t pixels = area(ww & ~1, hh);
        if (which == 4) {
            std::vector<uint16_t> out(pixels);
            gPvYUV420toRGB565TopDown(&f.desc, out.data(), ww, hh, topDown);
        } else {
            std::vector<uint8_t> out(3 * pixels);
            (which == 5 ? gPvYUV420toRGB888TopDown : gYUV422HPlanartoBGR888TopDown)(&f.desc, out.data(), ww, hh,
                                                                                     topDown);
        }
        break;
    }
    case 7: {
        Planar f(w, h, 0, in);
        const int32_t stride = in.size(3 * 40 + 8);
        std::vector<uint8_t> out(area(stride, h));
        gYUV420toBGR24(&f.desc, out.data(), stride);
        break;
    }
    case 8: {
        Planar f(w, h, 2, in);
        const int32_t ww = in.size(48), hh = in.size(48);
        std::vector<uint8_t> out(2 * area(ww, hh));
        const ImageFrame o{out.data(), nullptr, nullptr, 0, 0};
        gYUV444toRGB16(&f.desc, &o, ww, hh);
        break;
    }
    case 9: {
        std::vector<uint8_t> packed = bytes(size_t(w / 2) * 4 * h, in);
        const ImageFrame f{packed.data(), nullptr, nullptr, uint16_t(w), uint16_t(h)};
        const int32_t sx = in.coordinate(), sy = in.coordinate(), ww = in.coordinate(), hh = in.coordinate();
        const int32_t dx = in.coordinate(), dy = in.coordinate(), topDown = in.byte() % 3;
        switch (in.byte() % 3) {
        case 0: gUYVYtoRGB565(&f, dst.data(), sx, sy, ww, hh, dx, dy, dstStride, dstHeight, topDown); break;
        case 1: gVYUYtoRGB565(&f, dst.data(), sx, sy, ww, hh, dx, dy, dstStride, dstHeight, topDown); break;
        default: gYUYVtoRGB565(&f, dst.data(), sx, sy, ww, hh, dx, dy, dstStride, dstHeight, topDown); break;
        }
        break;
    }
    case 10:
    case 11:
    case 12: {
        // The plane scalers into a frame of the destination size.
        const bool yuv422 = which == 12;
        Planar f(w, h, yuv422 ? 1 : 0, in);
        Planar d(in.size(48), in.size(48), yuv422 ? 1 : 0, in);
        if (which == 10) {
            gScaleFrame(&f.desc, &d.desc);
            break;
        }
        const int32_t cx = in.coordinate(), cy = in.coordinate();
        const uint16_t cw = in.ucoordinate(), ch = in.ucoordinate();
        (yuv422 ? gScaleCroppedFrameYUV422 : gScaleCroppedFrame)(&f.desc, &d.desc, cx, cy, cw, ch);
        break;
    }
    case 13: {
        // Fixed-ratio scalers: the destination frame sets the window size.
        Planar f(w, h, 0, in);
        Planar d(in.size(48), in.size(48), 0, in);
        const int32_t cx = in.coordinate(), cy = in.coordinate();
        switch (in.byte() % 4) {
        case 0: gScaleCroppedFrame_downby2(&f.desc, &d.desc, cx, cy); break;
        case 1: gScaleCroppedFrame_upby2(&f.desc, &d.desc, cx, cy); break;
        case 2: gScaleCroppedFrame_upby4(&f.desc, &d.desc, cx, cy); break;
        default: gScaleCroppedFrame_downto3by3(&f.desc, &d.desc, cx, cy); break;
        }
        break;
    }
    case 14: {
        std::vector<uint8_t> raw = bytes(2 * size_t(w) * h, in);
        std::vector<uint16_t> src(size_t(w) * h);
        for (size_t i = 0; i < src.size(); ++i) src[i] = uint16_t(raw[2 * i] | (raw[2 * i + 1] << 8));
        const int32_t dw = in.size(48), dh = in.size(48);
        std::vector<uint16_t> out(area(dw, dh));
        if (in.byte() & 1)
            gScaleRGB565Frame(src.data(), out.data(), w, h, dw, dh);
        else
            gScaleRGB565CroppedFrame(src.data(), out.data(), w, h, dw, dh, in.coordinate(), in.coordinate(),
                                     in.coordinate(), in.coordinate());
        break;
    }
    default: {
        // RGB565 window turns, to 16 or 24 bits.
        std::vector<uint16_t> src(size_t(w) * h, 0x1234);
        const uint16_t sx = in.ucoordinate(), sy = in.ucoordinate(), ww = in.ucoordinate(), hh = in.ucoordinate();
        const uint16_t dx = in.ucoordinate(), dy = in.ucoordinate();
        const uint8_t rotation = in.byte() % 5;
        if (in.byte() & 1) {
            gRotateRGB16(src.data(), dst.data(), uint16_t(w), uint16_t(h), sx, sy, ww, hh, dx, dy, dstStride,
                         dstHeight, rotation);
        } else {
            std::vector<uint8_t> out(area(dstStride, dstHeight));
            gRotateRGB16toBGR24(src.data(), out.data(), uint16_t(w), uint16_t(h), sx, sy, ww, hh, dx, dy, dstHeight,
                                dstStride, rotation);
        }
        break;
    }
    }
    return 0;
}
