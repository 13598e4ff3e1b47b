// One Pixkit call on a frame of a given size, repeated, for
// tools/arm_pixkit_insn_count.sh: the instruction counter sees set-up,
// `calls` calls and exit; two call counts and two frame sizes cancel out
// everything but the per-pixel cost.
//
// usage: pixkit-insn-probe FUNCTION SIZE CALLS
//   FUNCTION: rotate0..rotate3 (gYUV420toBGR565TopDown_Rotate, 320 x 240),
//             scale (gScaleFrame 176 x 144 -> 320 x 240),
//             scale2 (gScaleFrame 640 x 480 -> 320 x 240),
//             rgb565toyuv (gPvRGB565toYUV420, 320 x 240),
//             rotrgb16 (gRotateRGB16 quarter turn, 320 x 240)
//   SIZE: 1 or 2, multiplies every frame height.
#include "pixkit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Deterministic, busy picture content (every clamp and dither path is taken).
void fill(uint8_t* p, size_t n, uint32_t seed) {
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        p[i] = uint8_t(seed >> 24);
    }
}

struct Planes {
    std::vector<uint8_t> y, u, v;
    ImageFrame frame{};
    Planes(int w, int h, uint32_t seed) : y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {
        fill(y.data(), y.size(), seed);
        fill(u.data(), u.size(), seed + 1);
        fill(v.data(), v.size(), seed + 2);
        frame = {y.data(), u.data(), v.data(), uint16_t(w), uint16_t(h)};
    }
};

int usage() {
    std::fprintf(stderr, "usage: pixkit-insn-probe rotate0..3|scale|scale2|rgb565toyuv|rotrgb16 1|2 CALLS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return usage();
    const char* fn = argv[1];
    const int size = std::atoi(argv[2]);
    const int calls = std::atoi(argv[3]);
    if ((size != 1 && size != 2) || calls < 0) return usage();
    const int w = 320, h = 240 * size;
    int status = 0;

    if (std::strncmp(fn, "rotate", 6) == 0 && fn[6] >= '0' && fn[6] <= '3' && fn[7] == '\0') {
        const uint8_t code = uint8_t(fn[6] - '0');
        Planes src(w, h, 1);
        const bool turned = code & 1;
        const int stride = turned ? h : w, rows = turned ? w : h;
        std::vector<uint16_t> dst(size_t(stride) * rows);
        for (int k = 0; k < calls; ++k)
            status |= gYUV420toBGR565TopDown_Rotate(&src.frame, dst.data(), 0, 0, uint16_t(w), uint16_t(h), 0, 0,
                                                    uint16_t(stride), uint16_t(rows), code);
    } else if (std::strcmp(fn, "scale") == 0 || std::strcmp(fn, "scale2") == 0) {
        const bool half = fn[5] == '2';
        Planes src(half ? 640 : 176, (half ? 480 : 144) * size, 1);
        Planes dst(w, h, 2);
        for (int k = 0; k < calls; ++k) gScaleFrame(&src.frame, &dst.frame);
    } else if (std::strcmp(fn, "rgb565toyuv") == 0) {
        std::vector<uint16_t> src(size_t(w) * h);
        fill(reinterpret_cast<uint8_t*>(src.data()), src.size() * 2, 3);
        Planes dst(w, h, 2);
        for (int k = 0; k < calls; ++k) gPvRGB565toYUV420(src.data(), &dst.frame, w, h);
    } else if (std::strcmp(fn, "rotrgb16") == 0) {
        std::vector<uint16_t> src(size_t(w) * h), dst(size_t(w) * h);
        fill(reinterpret_cast<uint8_t*>(src.data()), src.size() * 2, 4);
        for (int k = 0; k < calls; ++k)
            status |= gRotateRGB16(src.data(), dst.data(), uint16_t(w), uint16_t(h), 0, 0, uint16_t(w), uint16_t(h),
                                   0, 0, uint16_t(h), uint16_t(w), 1);
    } else {
        return usage();
    }
    if (status != 0) {
        std::fprintf(stderr, "pixkit-insn-probe: %s refused its arguments\n", fn);
        return 1;
    }
    return 0;
}
