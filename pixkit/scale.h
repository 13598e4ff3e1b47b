// Scaling kernels shared by the scaling family: the bilinear tables, the set-up
// of one plane's scaling, and the kernels that carry it out.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace pixkit {

// Bilinear weights (four blocks of 64, indexed 8 fy + fx: top-left, top-right,
// bottom-left, bottom-right tap) followed by the tap-spacing shift per integer
// reduction ratio.
struct ScaleTables {
    std::array<uint8_t, 256> weights;
    std::array<uint8_t, 32> tapShift;
};

constexpr ScaleTables makeScaleTables() {
    ScaleTables t{};
    for (int fy = 0; fy < 8; ++fy) {
        for (int fx = 0; fx < 8; ++fx) {
            const int i = 8 * fy + fx;
            t.weights[i] = uint8_t((8 - fx) * (8 - fy));
            t.weights[64 + i] = uint8_t(fx * (8 - fy));
            t.weights[128 + i] = uint8_t((8 - fx) * fy);
            t.weights[192 + i] = uint8_t(fx * fy);
        }
    }
    for (int r = 0; r < 32; ++r) t.tapShift[r] = uint8_t(r <= 2 ? 0 : r <= 4 ? 1 : r <= 8 ? 2 : r <= 16 ? 3 : 4);
    return t;
}

inline constexpr ScaleTables kScaleTables = makeScaleTables();

// The RGB565 scaler's position rule, which the scaled 4:2:2 conversion shares:
// destination row or column k >= 1 sits at k x step + 1 (Q18), the first at
// 0; a first tap on the window's last sample is lowered by one (same phase) so
// that the second tap exists.
struct BiasedTap {
    int first;
    int second;
    int phase;
};

inline BiasedTap biasedTap(int k, uint64_t step, int size) {
    const uint64_t pos = k == 0 ? 0 : (uint64_t(k) * step + 1) >> 15;
    int t = int(std::min<uint64_t>(pos >> 3, uint64_t(size - 1)));
    if (t == size - 1 && t > 0) --t;
    return {t, std::min(t + 1, size - 1), int(pos & 7)};
}

// One plane of the general scaler with its window clipped and its steps set:
// destination row i reads source rows from the Q3 position rowPosition(i),
// column j from columnPosition(j); taps are 2^sy rows and 2^sx columns apart.
struct PlaneScale {
    const uint8_t* src;
    uint8_t* dst;
    int srcWidth;  // the source row stride
    int dstWidth;
    int dstHeight;
    int winX, winY;
    int lastX, lastY;  // the window's last column and row
    int sx, sy;
    uint64_t stepX, stepY;  // Q18; 64 bits keep large windows from overflowing
    int rowPosition(int i) const { return int((uint64_t(i) * stepY) >> 15); }
    int columnPosition(int j) const { return int((uint64_t(j) * stepX) >> 15); }
};

// False when there is nothing to scale: a null plane, an empty size or a
// window starting outside the plane.
bool planeScaleOf(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                  int winX, int winY, int winWidth, int winHeight, PlaneScale& job);

// Four taps per sample with the table's weights, as the scaler is described:
// what the fast kernels must match.
void referenceScalePlane(const PlaneScale& job);

// Kernels built for 32-bit ARM cores without SIMD (ARM builds only).
void armScalePlane(const PlaneScale& job);

// Bilinear scaling of the window (winX, winY, winWidth, winHeight) of an 8-bit
// plane onto a whole destination plane with this build's kernels.
void scalePlane(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                int winX, int winY, int winWidth, int winHeight);

// The same for RGB565 pictures, channel by channel.
void scaleRgb565(const uint16_t* src, uint16_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                 int winX, int winY, int winWidth, int winHeight);

}  // namespace pixkit
