#include <algorithm>
#include <cstdlib>
#include <utility>

#include "VideoRendererFilter.h"

namespace {

struct FrameRecord {
    ImageFrame frame;
    uint32_t reserved[2];
    int32_t byteCount;
};

FrameRecord describe(BYTE* start, LONG W, LONG H) {
    FrameRecord r{};
    r.frame.y = start;
    r.frame.v = start + W * H;
    r.frame.u = start + W * H + ((W * H) >> 2);
    r.frame.width = static_cast<uint16_t>(W);
    r.frame.height = static_cast<uint16_t>(H);
    r.byteCount = static_cast<int32_t>(W * H + (W * H) / 2);
    return r;
}

int makeEvenDown(int v) { return (v & 1) ? v - 1 : v; }
int makeEvenUp(int v) { return (v & 1) ? v + 1 : v; }

// The work buffers hold 320 x 240 pixels. A scaled frame larger than that
// shrinks, keeping its shape, until it fits; an output window larger than
// that keeps its width and loses rows (or, when a single row pair would not
// fit, columns). Sizes stay even.
void boundToWorkBuffers(PaintLayout* l, LONG workPixels) {
    if (l->scaled && static_cast<int64_t>(l->tW) * l->tH > workPixels) {
        const int oldW = l->tW, oldH = l->tH;
        int lo = 0, hi = 1 << 16;
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            const int64_t w = (static_cast<int64_t>(oldW) * mid) >> 16, h = (static_cast<int64_t>(oldH) * mid) >> 16;
            if (makeEvenDown(static_cast<int>(w)) * static_cast<int64_t>(makeEvenDown(static_cast<int>(h))) <= workPixels)
                lo = mid;
            else
                hi = mid - 1;
        }
        l->tW = makeEvenDown(static_cast<int>((static_cast<int64_t>(oldW) * lo) >> 16));
        l->tH = makeEvenDown(static_cast<int>((static_cast<int64_t>(oldH) * lo) >> 16));
        if (l->outW == oldW && l->outH == oldH) {
            l->outW = l->tW;
            l->outH = l->tH;
        } else if (l->outW == oldH && l->outH == oldW) {
            l->outW = l->tH;
            l->outH = l->tW;
        }
    }
    if (l->outW > 0 && l->outH > 0 && static_cast<int64_t>(l->outW) * l->outH > workPixels) {
        if (l->outW > workPixels / 2) l->outW = static_cast<int>(workPixels / 2);
        l->outH = std::min(l->outH, makeEvenDown(static_cast<int>(workPixels / l->outW)));
    }
}

} // namespace

HRESULT VideoRendererFilter::PaintSample(IMediaSample* sample) {
    if (sample == nullptr) return S_OK;
    std::lock_guard<std::mutex> paint(paintLock_);
    PaintLayout l{};
    lastLayout_ = l;
    if (rgbBuffer == nullptr || scaledBuffer == nullptr || videoWidth <= 0 || videoHeight <= 0) return S_OK;

    BYTE* data = nullptr;
    sample->GetPointer(&data);
    // A buffer shorter than one frame (a foreign allocator's) would be
    // read past its end: it is not painted.
    if (data == nullptr || sample->GetSize() < videoWidth * videoHeight + (videoWidth * videoHeight) / 2) return S_OK;
    const FrameRecord source = describe(data, videoWidth, videoHeight);

    DEVMODEW mode{};
    mode.dmSize = 192;
    mode.dmFields = DM_DISPLAYORIENTATION;
    l.orientation = ChangeDisplaySettingsExW(nullptr, &mode, nullptr, CDS_TEST, nullptr) == DISP_CHANGE_SUCCESSFUL
                        ? static_cast<int>(mode.dmDisplayOrientation)
                        : DMDO_0;
    l.screenW = GetSystemMetrics(SM_CXSCREEN);
    l.screenH = GetSystemMetrics(SM_CYSCREEN);
    LONG left = 0, top = 0, winW = 0, winH = 0;
    window_.GetWindowPosition(&left, &top, &winW, &winH);
    l.winW = winW;
    l.winH = winH;
    if (l.winW > l.screenW && l.winH > l.screenH) {
        lastLayout_ = l;
        return S_OK;
    }

    LONG dL = 0, dT = 0, dW = 0, dH = 0;
    window_.GetDestinationPosition(&dL, &dT, &dW, &dH);
    l.dL = dL;
    l.dT = dT;
    l.dW = dW;
    l.dH = dH;
    if (videoWidth > l.winW || videoHeight > l.winH) {
        l.dT = 0;
        l.dH = l.winH;
        l.dW = static_cast<int>(l.winH * aspectRatio);
        l.dL = (l.winW >> 1) - (l.dW >> 1);
    }
    if (l.dW == 0 || l.dH == 0) {
        l.dL = l.dT = 0;
        l.dW = l.winW;
        l.dH = l.winH;
        l.destDefaulted = true;
    }
    l.dW = makeEvenDown(l.dW);
    l.dH = makeEvenDown(l.dH);
    l.winW = makeEvenDown(l.winW);
    l.winH = makeEvenDown(l.winH);

    l.srcX = l.srcY = 0;
    l.srcW = videoWidth;
    l.srcH = videoHeight;
    l.outW = l.dW;
    l.outH = l.dH;
    l.posX = l.dL;
    l.posY = l.dT;
    l.rotationCode = 0;
    l.scaled = false;

    const int degrees = rotationDegrees;
    const bool quarter = degrees == 90 || degrees == 270;
    HDC dc = window_.GetWindowHDC();
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    l.fullScreen = l.winW == l.screenW && l.winH == l.screenH;

    if (l.fullScreen) {
        if (fullScreenBackgroundPainted == 0) {
            if (window_.GetOwnerWindow() == nullptr) {
                const RECT rc{0, 0, l.winW, l.winH};
                FillRect(dc, &rc, black);
            }
            fullScreenBackgroundPainted = 1;
        }
        if (l.orientation == DMDO_0) {
            const bool portrait = l.screenW < l.screenH;
            l.rotationCode = RotationCodeFor(portrait ? 1 : 0, degrees);
            l.scaled = true;
            if (quarter) {
                l.tW = portrait ? l.winW : l.winH;
                l.tH = static_cast<int>(videoHeight * l.tW / videoWidth);
            } else {
                l.tW = fitWidth;
                l.tH = fitHeight;
            }
            if ((portrait && quarter) || (l.screenW > l.screenH && !quarter)) {
                l.outW = l.tW;
                l.outH = l.tH;
            } else {
                l.outW = l.tH;
                l.outH = l.tW;
            }
            l.posX = (l.winW - l.outW) >> 1;
            l.posY = (l.winH - l.outH) >> 1;
        } else if (l.orientation == DMDO_90 || l.orientation == DMDO_270) {
            l.rotationCode = trayKeyPresent == 0 ? RotationCodeFor(0, degrees) : 0;
            l.scaled = true;
            if (quarter) {
                l.tW = l.winH;
                l.tH = static_cast<int>(videoHeight * l.winH / videoWidth);
                l.outW = l.tH;
                l.outH = l.winH;
            } else {
                l.tW = l.outW = fitWidth;
                l.tH = l.outH = fitHeight;
            }
            l.posX = (l.winW - l.outW) >> 1;
            l.posY = (l.winH - l.outH) >> 1;
        }
    } else {
        int rotW = videoWidth, rotH = videoHeight;
        if (quarter) {
            rotW = videoHeight;
            rotH = videoWidth;
            if (!(videoHeight > l.winW && videoWidth > l.winH)) {
                l.outW = l.dH;
                l.outH = l.dW;
            }
        }
        l.rotationCode = trayKeyPresent == 0 ? RotationCodeFor(0, degrees) : 0;
        if (rotW <= l.winW && rotH <= l.winH && !l.destDefaulted) {
            // Drawn at its own size into the destination rectangle.
        } else if (l.dL < 0 || l.dT < 0) {
            if (rotW > l.winW) {
                l.srcX = std::abs(l.dL);
                l.srcW = l.winW;
                l.posX = 0;
                if (quarter) l.outH = l.winW;
                else l.outW = l.winW;
            }
            if (rotH > l.winH) {
                l.srcY = std::abs(l.dT);
                l.srcH = l.winH;
                l.posY = 0;
                if (quarter) l.outW = l.winH;
                else l.outH = l.winH;
            }
            windowedBackgroundPainted = 0;
        } else {
            if (windowedBackgroundPainted == 0) {
                const RECT rc{0, 0, l.winW, l.winH};
                FillRect(dc, &rc, black);
            }
            windowedBackgroundPainted = 1;
            l.scaled = true;
            l.tW = l.dW;
            l.tH = l.dH;
            if (quarter) {
                l.outW = l.dH;
                l.outH = l.dW;
            } else {
                l.outW = l.dW;
                l.outH = l.dH;
            }
        }
        if (quarter) std::swap(l.posX, l.posY);
        fullScreenBackgroundPainted = 0;
    }

    boundToWorkBuffers(&l, kWorkPixels);
    if (l.outW <= 0 || l.outH <= 0 || (l.scaled && (l.tW < 2 || l.tH < 2))) {
        lastLayout_ = l;
        return S_OK;
    }

    const ImageFrame* from = &source.frame;
    FrameRecord scaled{};
    if (l.scaled) {
        scaled = describe(scaledBuffer, l.tW, l.tH);
        gScaleFrame(&source.frame, &scaled.frame);
        from = &scaled.frame;
        l.srcX = l.srcY = 0;
        l.srcW = l.tW;
        l.srcH = l.tH;
    }
    l.srcX = makeEvenUp(l.srcX);
    l.srcY = makeEvenUp(l.srcY);
    l.srcW = makeEvenUp(l.srcW);
    l.srcH = makeEvenUp(l.srcH);

    auto* rgb = reinterpret_cast<uint16_t*>(rgbBuffer);
    gYUV420toBGR565TopDown_Rotate(from, rgb, static_cast<uint16_t>(l.srcX), static_cast<uint16_t>(l.srcY),
                                  static_cast<uint16_t>(l.srcW), static_cast<uint16_t>(l.srcH), 0, 0,
                                  static_cast<uint16_t>(l.outW), static_cast<uint16_t>(l.outH),
                                  static_cast<uint8_t>(l.rotationCode));
    dibHeader.header.biWidth = l.outW;
    dibHeader.header.biHeight = l.outH;
    SetDIBitsToDevice(dc, l.posX, l.posY, static_cast<DWORD>(l.outW), static_cast<DWORD>(l.outH), 0, 0, 0,
                      static_cast<UINT>(l.outH), rgbBuffer, reinterpret_cast<const BITMAPINFO*>(&dibHeader),
                      DIB_RGB_COLORS);
    l.painted = true;
    lastLayout_ = l;
    return S_OK;
}
