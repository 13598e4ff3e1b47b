// The general plane scaler's set-up and its plain reference kernel.
#include "scale.h"

namespace pixkit {

bool planeScaleOf(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                  int winX, int winY, int winWidth, int winHeight, PlaneScale& job) {
    if (!src || !dst || dstWidth <= 0 || dstHeight <= 0) return false;
    if (winX < 0 || winY < 0 || winX >= srcWidth || winY >= srcHeight || winWidth <= 0 || winHeight <= 0)
        return false;
    winWidth = std::min(winWidth, srcWidth - winX);
    winHeight = std::min(winHeight, srcHeight - winY);
    const auto tapShift = [](int window, int dest) { return int(kScaleTables.tapShift[std::min(window / dest, 31)]); };
    job.src = src;
    job.dst = dst;
    job.srcWidth = srcWidth;
    job.dstWidth = dstWidth;
    job.dstHeight = dstHeight;
    job.winX = winX;
    job.winY = winY;
    job.lastX = winX + winWidth - 1;
    job.lastY = winY + winHeight - 1;
    job.sx = tapShift(winWidth, dstWidth);
    job.sy = tapShift(winHeight, dstHeight);
    job.stepX = (uint64_t((winWidth - 1) >> job.sx) << 18) / uint64_t(dstWidth);
    job.stepY = (uint64_t((winHeight - 1) >> job.sy) << 18) / uint64_t(dstHeight);
    return true;
}

void referenceScalePlane(const PlaneScale& p) {
    const auto& w = kScaleTables.weights;
    const auto at = [&](int x, int y) { return int(p.src[size_t(y) * p.srcWidth + x]); };
    for (int i = 0; i < p.dstHeight; ++i) {
        const int pY = p.rowPosition(i);
        const int y0 = p.winY + ((pY >> 3) << p.sy), fy = pY & 7;
        // Only a one-row window has its second tap outside; its weight is 0 there.
        const int y1 = std::min(y0 + (1 << p.sy), p.lastY);
        for (int j = 0; j < p.dstWidth; ++j) {
            const int pX = p.columnPosition(j);
            const int x0 = p.winX + ((pX >> 3) << p.sx), fx = pX & 7;
            const int x1 = std::min(x0 + (1 << p.sx), p.lastX);
            const int k = 8 * fy + fx;
            const int sum = w[k] * at(x0, y0) + w[64 + k] * at(x1, y0) + w[128 + k] * at(x0, y1) +
                            w[192 + k] * at(x1, y1);
            p.dst[size_t(i) * p.dstWidth + j] = uint8_t(sum >> 6);
        }
    }
}

}  // namespace pixkit
