#include "VideoRendererFilter.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "guids.h"
#include "setup.h"
#include "winreg.h"

namespace {

// Formats the renderer can lay out: the fit arithmetic divides by both
// sizes and the frame records hold them in 16 bits.
constexpr LONG kMaxVideoSide = 8192;

bool readVideoSize(const AM_MEDIA_TYPE& mt, LONG* width, LONG* height) {
    if (mt.pbFormat == nullptr || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return false;
    std::memcpy(width, mt.pbFormat + 52, sizeof(LONG));
    std::memcpy(height, mt.pbFormat + 56, sizeof(LONG));
    return true;
}

} // namespace

int RotationCodeFor(int base, int degrees) {
    int code = base;
    if (degrees == 90) code = base + 1;
    else if (degrees == 180) code = base + 2;
    else if (degrees == 270) code = base + 3;
    if (code > 3) code -= 4;
    return code;
}

VideoRendererFilter::VideoRendererFilter(LPCWSTR name, LPUNKNOWN outer, HRESULT* hr)
    : CBaseVideoRenderer(CLSID_ParvixVideoRenderer, name, outer, hr),
      imageAllocator_(this, L"image allocator", hr),
      inputPin_(this, hr),
      display_(),
      currentType_(),
      window_(this, &m_InterfaceLock, hr),
      palette_(this, &m_InterfaceLock),
      drawImage_() {
    std::memset(&dibHeader, 0, sizeof dibHeader);
    dibHeader.header.biSize = 40;
    dibHeader.header.biPlanes = 1;
    dibHeader.header.biBitCount = 16;
    dibHeader.header.biCompression = BI_BITFIELDS;
    dibHeader.masks[0] = 0xF800;
    dibHeader.masks[1] = 0x07E0;
    dibHeader.masks[2] = 0x001F;
    const HRESULT created = window_.PrepareWindow();
    if (FAILED(created) && hr != nullptr) *hr = created;
}

VideoRendererFilter::~VideoRendererFilter() {
    // The window thread may be painting: end it before the buffers go.
    window_.DoneWithWindow();
    delete[] rgbBuffer;
    delete[] scaledBuffer;
}

CUnknown* VideoRendererFilter::CreateInstance(LPUNKNOWN outer, HRESULT* hr) {
    return new (std::nothrow) VideoRendererFilter(kVideoRendererName, outer, hr);
}

HRESULT VideoRendererFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(&window_), ppv);
    if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(&window_), ppv);
    if (riid == IID_IPropertyBag) return GetInterface(static_cast<IPropertyBag*>(this), ppv);
    return CBaseVideoRenderer::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* VideoRendererFilter::GetPin(int n) {
    if (n != 0) return nullptr;
    if (m_pInputPin == nullptr) m_pInputPin = &inputPin_;
    return &inputPin_;
}

const AMOVIESETUP_FILTER* VideoRendererFilter::GetSetupData() { return &kVideoRendererSetup; }

HRESULT VideoRendererFilter::CheckMediaType(const CMediaType* mt) {
    if (mt == nullptr) return E_POINTER;
    if (std::memcmp(mt->Type(), &MEDIATYPE_Video, sizeof(GUID)) != 0 ||
        std::memcmp(mt->Subtype(), &MEDIASUBTYPE_YV12, sizeof(GUID)) != 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // A format block too short for its sizes, or sizes the layout cannot
    // divide by, are refused before anything is read from them.
    LONG w = 0, h = 0;
    if (!readVideoSize(*mt, &w, &h) || w <= 0 || h <= 0 || w > kMaxVideoSide || h > kMaxVideoSide)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

LONG VideoRendererFilter::readTrayRotation() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"\\Services\\VIV", 0, 0, &key) != ERROR_SUCCESS) return 0;
    trayKeyPresent = 1;
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExW(key, L"RotationTray", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        value = 0;
    RegCloseKey(key);
    return value == 4 ? 180 : 0;
}

HRESULT VideoRendererFilter::SetMediaType(const CMediaType* mt) {
    if (mt == nullptr) return E_POINTER;
    CAutoLock lock(&m_InterfaceLock);
    currentType_ = *mt;
    display_.NotifyMediaType(&currentType_);
    drawImage_.NotifyMediaType(&currentType_);
    imageAllocator_.NotifyMediaType(&currentType_);

    LONG W = 0, H = 0;
    if (!readVideoSize(currentType_, &W, &H) || W <= 0 || H <= 0 || W > kMaxVideoSide || H > kMaxVideoSide)
        return VFW_E_TYPE_NOT_ACCEPTED;
    {
        std::lock_guard<std::mutex> paint(paintLock_);
        videoWidth = W;
        videoHeight = H;
        // Zeroed, so that no part of an output window the converter leaves
        // untouched shows stale memory.
        if (rgbBuffer == nullptr) rgbBuffer = new (std::nothrow) BYTE[kRgbBufferBytes]();
        if (rgbBuffer == nullptr) return E_FAIL;
        if (scaledBuffer == nullptr) scaledBuffer = new (std::nothrow) BYTE[kScaledBufferBytes]();
        if (scaledBuffer == nullptr) return E_FAIL;

        if (W <= 320 && H > 240) {
            fitHeight = 240;
            fitWidth = W * 240 / H;
        } else if (W > 320 && H <= 240) {
            fitWidth = 320;
            fitHeight = H * 320 / W;
        } else if (W > H) {
            fitWidth = 320;
            fitHeight = H * 320 / W;
            if (fitHeight > 240) {
                fitHeight = 240;
                fitWidth = W * 240 / H;
            }
        } else {
            fitHeight = 240;
            fitWidth = W * 240 / H;
            if (fitWidth > 320) {
                fitWidth = 320;
                fitHeight = H * 320 / W;
            }
        }
        if (fitWidth & 1) ++fitWidth;
        if (fitHeight & 1) ++fitHeight;
        aspectRatio = static_cast<double>(W) / static_cast<double>(H);
        rotationDegrees = readTrayRotation();
    }
    return S_OK;
}

HRESULT VideoRendererFilter::CompleteConnect(IPin* receivePin) {
    CAutoLock lock(&m_InterfaceLock);
    HRESULT hr = CBaseVideoRenderer::CompleteConnect(receivePin);
    if (FAILED(hr)) return hr;
    drawImage_.ResetPaletteVersion();
    LONG W = 0, H = 0;
    readVideoSize(currentType_, &W, &H);
    if (W == lastVideoWidth && H == lastVideoHeight) return S_OK;
    SendNotifyWindow(receivePin, window_.GetWindowHWND());
    drawImage_.SetDrawContext(window_.GetWindowHWND(), window_.GetWindowHDC());
    lastVideoWidth = W;
    lastVideoHeight = H;
    window_.SetDefaultSourceRect();
    window_.SetDefaultTargetRect();
    window_.OnVideoSizeChange();
    window_.CompleteConnect();
    return S_OK;
}

HRESULT VideoRendererFilter::BreakConnect() {
    CAutoLock lock(&m_InterfaceLock);
    const HRESULT hr = CBaseVideoRenderer::BreakConnect();
    if (FAILED(hr)) return hr;
    if (inputPin_.IsConnected()) SendNotifyWindow(inputPin_.GetConnected(), nullptr);
    palette_.RemovePalette();
    currentType_.ResetFormatBuffer();
    return S_OK;
}

HRESULT VideoRendererFilter::Active() {
    if (window_.IsAutoShowEnabled() && !m_bAbort) {
        window_.SetRepaintStatus(FALSE);
        window_.DoShowWindow(SW_SHOW);
        window_.DoSetWindowForeground(TRUE);
    }
    return CBaseVideoRenderer::Active();
}

void VideoRendererFilter::PrepareRender() {
    palette_.RealizePalette(window_.GetWindowHWND(), TRUE);
    CBaseVideoRenderer::PrepareRender();
}

void VideoRendererFilter::OnReceiveFirstSample(IMediaSample* sample) { PaintSample(sample); }

HRESULT VideoRendererFilter::DoRenderSample(IMediaSample* sample) {
    PaintSample(sample);
    return S_OK;
}

HRESULT VideoRendererFilter::Read(LPCOLESTR name, VARIANT* value, IErrorLog*) {
    if (name == nullptr || value == nullptr || std::wcscmp(name, L"SetRotation") != 0) return E_INVALIDARG;
    value->vt = VT_INT;
    value->intVal = rotationDegrees;
    return S_OK;
}

HRESULT VideoRendererFilter::Write(LPCOLESTR name, VARIANT* value) {
    if (name == nullptr || value == nullptr || std::wcscmp(name, L"SetRotation") != 0 || value->vt != VT_UI4)
        return E_INVALIDARG;
    const ULONG degrees = value->ulVal;
    if (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270) return E_INVALIDARG;
    rotationDegrees = static_cast<LONG>(degrees);
    return S_OK;
}

PaintLayout VideoRendererFilter::LastLayout() {
    std::lock_guard<std::mutex> paint(paintLock_);
    return lastLayout_;
}
