// Scaling kernels shared by the scaling family and the conversions that resize.
#pragma once

#include <cstdint>

namespace pixkit {

// Bilinear scaling of the window (winX, winY, winWidth, winHeight) of an 8-bit
// plane onto a whole destination plane; rows are tightly packed. Does nothing
// for null planes, empty sizes or a window starting outside the plane.
void scalePlane(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                int winX, int winY, int winWidth, int winHeight);

// The same for RGB565 pictures, channel by channel.
void scaleRgb565(const uint16_t* src, uint16_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                 int winX, int winY, int winWidth, int winHeight);

}  // namespace pixkit
