// The conversion of gYUV420toBGR565TopDown_Rotate, split into the parts its
// kernels share: argument checks and clipping, the walk over the even-sized
// window, and code 0's odd column and row.
#pragma once

#include "pixel.h"
#include "pixkit.h"

#include <cstddef>
#include <cstdint>

namespace pixkit {

struct Rgb565Dest {
    uint16_t* base;  // pixel (dstX, dstY)
    int stride;
    uint16_t* row(int r) const { return base + ptrdiff_t(r) * stride; }
};

// Converts the whole window with one rotation code's destination walk.
using Yuv420Walk = void (*)(const SourceWindow& win, const Rgb565Dest& dst, int code);

// The exported function's contract around a walk: refusals, clipping, the walk
// itself, and the copies code 0 makes for an odd clipped width or height.
int32_t convertYuv420ToBgr565(Yuv420Walk walk, const ImageFrame* src, uint16_t* dst, int srcX, int srcY,
                              int width, int height, int dstX, int dstY, int dstStride, int dstHeight,
                              int rotation);

// Pixel by pixel, as the walks are described: what the fast walks must match.
void referenceYuv420Walk(const SourceWindow& win, const Rgb565Dest& dst, int code);

// The walks built for 32-bit ARM cores without SIMD (ARM builds only).
void armYuv420Walk(const SourceWindow& win, const Rgb565Dest& dst, int code);

}  // namespace pixkit
