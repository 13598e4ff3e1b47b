// The Vistarend video renderer: YV12 frames scaled, turned and converted
// into the video window's 16-bit RGB 565 device context.
#pragma once

#include <mutex>

#include "VideoInputPin.h"
#include "VideoWindowControl.h"
#include "pixkit.h"
#include "streams.h"

// What one PaintSample decided, kept for inspection.
struct PaintLayout {
    int screenW, screenH, orientation, winW, winH;
    int dL, dT, dW, dH;
    bool destDefaulted;
    int srcX, srcY, srcW, srcH;
    int outW, outH, posX, posY;
    int rotationCode;
    bool scaled;
    int tW, tH;
    bool fullScreen;
    bool painted;
};

// Rotation code of a picture turned by `degrees` on top of the walk `base`.
int RotationCodeFor(int base, int degrees);

class VideoRendererFilter : public CBaseVideoRenderer, public IPropertyBag {
public:
    VideoRendererFilter(LPCWSTR name, LPUNKNOWN outer, HRESULT* hr);
    ~VideoRendererFilter() override;

    static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* hr);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    CBasePin* GetPin(int n) override;
    const AMOVIESETUP_FILTER* GetSetupData() override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    void PrepareRender() override;
    void OnReceiveFirstSample(IMediaSample* sample) override;
    HRESULT DoRenderSample(IMediaSample* sample) override;

    STDMETHOD(Read)(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) override;
    STDMETHOD(Write)(LPCOLESTR name, VARIANT* value) override;

    HRESULT PaintSample(IMediaSample* sample);

    // For the image allocator, the pin and the window control.
    CImageAllocator* ImageAllocator() { return &imageAllocator_; }
    CDrawImage* DrawImage() { return &drawImage_; }
    VideoWindowControl* WindowControl() { return &window_; }
    const CMediaType& CurrentType() const { return currentType_; }
    FILTER_STATE State() const { return m_State; }
    LONG LastVideoWidth() const { return lastVideoWidth; }
    LONG LastVideoHeight() const { return lastVideoHeight; }

    // Read-outs of the renderer's state.
    LONG VideoWidth() const { return videoWidth; }
    LONG VideoHeight() const { return videoHeight; }
    LONG FitWidth() const { return fitWidth; }
    LONG FitHeight() const { return fitHeight; }
    LONG RotationDegrees() const { return rotationDegrees; }
    bool TrayKeyPresent() const { return trayKeyPresent != 0; }
    bool WindowedBackgroundPainted() const { return windowedBackgroundPainted != 0; }
    bool FullScreenBackgroundPainted() const { return fullScreenBackgroundPainted != 0; }
    const BYTE* RgbBuffer() const { return rgbBuffer; }
    const BYTE* ScaledBuffer() const { return scaledBuffer; }
    PaintLayout LastLayout();

    static constexpr LONG kRgbBufferBytes = 153600;
    static constexpr LONG kScaledBufferBytes = 115200;
    static constexpr LONG kWorkPixels = 76800;

private:
    LONG readTrayRotation();

    // Members in the order of construction.
    CImageAllocator imageAllocator_;
    VideoInputPin inputPin_;
    CImageDisplay display_;
    CMediaType currentType_;
    VideoWindowControl window_;
    CImagePalette palette_;
    CDrawImage drawImage_;

    LONG lastVideoWidth = 0, lastVideoHeight = 0;
    double aspectRatio = 0;
    LONG videoWidth = 0, videoHeight = 0;
    LONG fitWidth = 0, fitHeight = 0;
    BYTE* rgbBuffer = nullptr;
    BYTE* scaledBuffer = nullptr;
    LONG windowedBackgroundPainted = 0;
    LONG fullScreenBackgroundPainted = 0;
    std::atomic<LONG> rotationDegrees{0};
    LONG trayKeyPresent = 0;
    struct {
        BITMAPINFOHEADER header;
        DWORD masks[3];
    } dibHeader;

    // Paints from the streaming and the window thread take turns: they
    // share the work buffers, the DIB header and the border flags.
    std::mutex paintLock_;
    PaintLayout lastLayout_{};
};
