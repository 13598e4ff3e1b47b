// YUV 4:2:0 to RGB565 with the four destination walks: the checks and
// clipping every kernel shares, and the plain reference walk.
#include "pixel.h"
#include "yuv420_rgb565.h"

#include <algorithm>
#include <cstring>

namespace pixkit {

int32_t convertYuv420ToBgr565(Yuv420Walk walk, const ImageFrame* src, uint16_t* dst, int srcX, int srcY,
                              int width, int height, int dstX, int dstY, int dstStride, int dstHeight,
                              int rotation) {
    if (!dst || !src || !src->y || !src->u || !src->v || rotation > 3) return -1;
    const int fw = src->width;
    const int fh = src->height;
    const int sx = srcX & ~1;
    const int sy = srcY & ~1;
    // A window starting outside the frame or the destination has no sound clip.
    if (sx > fw || sy > fh || dstX > dstStride || dstY > dstHeight) return -1;
    const bool turned = rotation & 1;
    const int roomAcross = turned ? dstHeight - dstY : dstStride - dstX;
    const int roomDown = turned ? dstStride - dstX : dstHeight - dstY;
    const int w = std::min({width, fw - sx, roomAcross});
    const int h = std::min({height, fh - sy, roomDown});

    const int chromaStride = fw / 2;
    const SourceWindow win{src->y + sy * fw + sx,
                           src->u + (sy / 2) * chromaStride + sx / 2,
                           src->v + (sy / 2) * chromaStride + sx / 2,
                           fw,
                           chromaStride,
                           1,
                           w & ~1,
                           h & ~1};
    if (win.width == 0 || win.height == 0) return 0;
    const Rgb565Dest out{dst + dstY * dstStride + dstX, dstStride};
    walk(win, out, rotation);
    if (rotation == 0) {
        // An odd column repeats its left neighbour in every converted row; an
        // odd bottom row repeats the row above it (source row 0).
        if (w & 1)
            for (int r = 0; r < win.height; ++r) out.row(r)[win.width] = out.row(r)[win.width - 1];
        if (h & 1)
            std::memcpy(out.row(win.height), out.row(win.height - 1), sizeof(uint16_t) * (win.width + (w & 1)));
    }
    return 0;
}

void referenceYuv420Walk(const SourceWindow& win, const Rgb565Dest& dst, int code) {
    const int w = win.width, h = win.height;
    for (int i = 0; i < h; i += 2) {
        for (int j = 0; j < w; j += 2) {
            const ChromaDelta d = chromaDelta(win.uRow(i)[j / 2], win.vRow(i)[j / 2]);
            for (int r = 0; r < 2; ++r) {
                for (int c = 0; c < 2; ++c) {
                    // Source offsets (i + r, j + c) of the window; the dither
                    // follows their parity.
                    const int si = i + r, sj = j + c;
                    const int luma = win.lumaRow(si)[sj];
                    const uint16_t p = code >= 2 ? yuvPixel(luma, d, kDither[r][c]) : yuvPixel(luma, d);
                    int x, y;
                    switch (code) {
                    case 0: x = sj, y = h - 1 - si; break;
                    case 1: x = si, y = sj; break;
                    case 2: x = w - 1 - sj, y = si; break;
                    default: x = h - 1 - si, y = w - 1 - sj; break;
                    }
                    dst.row(y)[x] = p;
                }
            }
        }
    }
}

}  // namespace pixkit
