#include <algorithm>
#include <cstring>

#include "streams.h"

// The image allocator, display, palette and drawing objects.

CImageAllocator::CImageAllocator(CBaseFilter* filter, LPCWSTR name, HRESULT* hr)
    : CMemAllocator(name, nullptr, hr), m_pFilter(filter) {}

// Owned by its filter, it lives as long as the filter.
ULONG CImageAllocator::NonDelegatingAddRef() { return static_cast<IBaseFilter*>(m_pFilter)->AddRef(); }
ULONG CImageAllocator::NonDelegatingRelease() { return static_cast<IBaseFilter*>(m_pFilter)->Release(); }

void CImageAllocator::NotifyMediaType(const CMediaType* mt) {
    CAutoLock lock(&m_cs);
    m_lFrameSize = 0;
    if (mt == nullptr || mt->FormatLength() < sizeof(VIDEOINFOHEADER) || mt->Format() == nullptr) return;
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt->Format(), sizeof vih);
    const int64_t w = vih.bmiHeader.biWidth, h = vih.bmiHeader.biHeight < 0 ? -int64_t{vih.bmiHeader.biHeight}
                                                                           : int64_t{vih.bmiHeader.biHeight};
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return;
    m_lFrameSize = static_cast<LONG>(w * h + (w * h) / 2);
}

HRESULT CImageAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (request == nullptr || actual == nullptr) return E_POINTER;
    ALLOCATOR_PROPERTIES adjusted = *request;
    {
        CAutoLock lock(&m_cs);
        if (adjusted.cbBuffer < m_lFrameSize) adjusted.cbBuffer = m_lFrameSize;
    }
    if (adjusted.cBuffers < 1) adjusted.cBuffers = 1;
    return CMemAllocator::SetProperties(&adjusted, actual);
}

CImageDisplay::CImageDisplay() : m_Display() {
    m_Display.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    m_Display.bmiHeader.biWidth = GetSystemMetrics(SM_CXSCREEN);
    m_Display.bmiHeader.biHeight = GetSystemMetrics(SM_CYSCREEN);
    m_Display.bmiHeader.biPlanes = 1;
    m_Display.bmiHeader.biBitCount = 16;
    m_Display.bmiHeader.biCompression = BI_BITFIELDS;
}

HRESULT CImageDisplay::NotifyMediaType(const CMediaType* mt) { return mt == nullptr ? E_POINTER : S_OK; }

CImagePalette::CImagePalette(CBaseFilter*, CCritSec*) {}
HRESULT CImagePalette::RemovePalette() { return S_OK; }
HRESULT CImagePalette::PreparePalette(const CMediaType* mt) { return mt == nullptr ? E_POINTER : S_FALSE; }
HRESULT CImagePalette::RealizePalette(HWND, BOOL) { return S_OK; }

CDrawImage::CDrawImage() = default;

void CDrawImage::SetDrawContext(HWND hwnd, HDC hdc) {
    CAutoLock lock(&m_lock);
    m_hwnd = hwnd;
    m_hdc = hdc;
}

void CDrawImage::NotifyMediaType(const CMediaType*) { ResetPaletteVersion(); }

void CDrawImage::NotifyAllocator(BOOL usingImageAllocator) {
    CAutoLock lock(&m_lock);
    m_bUsingImageAllocator = usingImageAllocator;
}

void CDrawImage::SetSourceRect(const RECT* rc) {
    CAutoLock lock(&m_lock);
    m_SourceRect = *rc;
}

void CDrawImage::SetTargetRect(const RECT* rc) {
    CAutoLock lock(&m_lock);
    m_TargetRect = *rc;
}

void CDrawImage::GetSourceRect(RECT* rc) {
    CAutoLock lock(&m_lock);
    *rc = m_SourceRect;
}

void CDrawImage::GetTargetRect(RECT* rc) {
    CAutoLock lock(&m_lock);
    *rc = m_TargetRect;
}

// The window and its thread.

namespace {
const UINT kDoneWithWindow = WM_USER + 0x3F0;

struct CreateParams {
    CBaseWindow* window;
};
} // namespace

CBaseWindow::CBaseWindow() = default;

CBaseWindow::~CBaseWindow() { DoneWithWindow(); }

LRESULT CBaseWindow::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) {
        auto* p = reinterpret_cast<CreateParams*>(lParam);
        SetWindowLongW(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(p->window));
        return 0;
    }
    auto* self = reinterpret_cast<CBaseWindow*>(GetWindowLongW(hwnd, GWL_USERDATA));
    if (msg == kDoneWithWindow) {
        DestroyWindow(hwnd);
        PostQuitMessage(0);
        return 0;
    }
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->OnReceiveMessage(hwnd, msg, wParam, lParam);
}

void CBaseWindow::threadMain(HANDLE ready) {
    DWORD classStyles = 0, styles = 0, stylesEx = 0;
    LPCWSTR className = GetClassWindowStyles(&classStyles, &styles, &stylesEx);
    WNDCLASSW wc{};
    wc.style = classStyles;
    wc.lpfnWndProc = WndProc;
    wc.lpszClassName = className;
    // A second window of the same class finds it registered.
    RegisterClassW(&wc);
    CreateParams params{this};
    m_hwnd = CreateWindowExW(stylesEx, className, L"", styles, 0, 0, 0, 0, nullptr, nullptr, nullptr, &params);
    m_hdc = m_hwnd ? GetDC(m_hwnd) : nullptr;
    m_hrCreate = m_hwnd ? S_OK : E_FAIL;
    SetEvent(ready);
    if (m_hwnd == nullptr) return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

HRESULT CBaseWindow::PrepareWindow() {
    if (m_hwnd != nullptr) return S_OK;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ready == nullptr) return E_OUTOFMEMORY;
    m_thread = std::thread([this, ready] { threadMain(ready); });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    if (FAILED(m_hrCreate)) {
        m_thread.join();
        return m_hrCreate;
    }
    return S_OK;
}

HRESULT CBaseWindow::DoneWithWindow() {
    if (!m_thread.joinable()) return S_FALSE;
    if (m_hwnd != nullptr) PostMessageW(m_hwnd, kDoneWithWindow, 0, 0);
    m_thread.join();
    m_hwnd = nullptr;
    m_hdc = nullptr;
    return S_OK;
}

LRESULT CBaseWindow::OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) {
        OnClose();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// The window stays for its filter: closing it only hides it.
BOOL CBaseWindow::OnClose() {
    ShowWindow(m_hwnd, SW_HIDE);
    return TRUE;
}

HRESULT CBaseWindow::CompleteConnect() {
    if (WindowPlaced()) return S_OK;
    const RECT rc = GetDefaultRect();
    SetWindowPos(m_hwnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top, SWP_NOMOVE | SWP_NOZORDER);
    return S_OK;
}

HRESULT CBaseWindow::DoShowWindow(LONG show) {
    ShowWindow(m_hwnd, static_cast<int>(show));
    return S_OK;
}

HRESULT CBaseWindow::DoSetWindowForeground(BOOL focus) {
    if (focus) SetForegroundWindow(m_hwnd);
    return S_OK;
}

// IVideoWindow.

CBaseControlWindow::CBaseControlWindow(CBaseFilter* filter, CCritSec* interfaceLock)
    : m_pFilter(filter), m_pInterfaceLock(interfaceLock) {}

HRESULT CBaseControlWindow::put_Caption(BSTR) { return E_NOTIMPL; }
HRESULT CBaseControlWindow::get_Caption(BSTR*) { return E_NOTIMPL; }

HRESULT CBaseControlWindow::put_WindowStyle(LONG style) {
    SetWindowLongW(m_hwnd, GWL_STYLE, static_cast<LONG_PTR>(static_cast<DWORD>(style)));
    return S_OK;
}

HRESULT CBaseControlWindow::get_WindowStyle(LONG* style) {
    if (style == nullptr) return E_POINTER;
    *style = static_cast<LONG>(GetWindowLongW(m_hwnd, GWL_STYLE));
    return S_OK;
}

HRESULT CBaseControlWindow::put_WindowStyleEx(LONG style) {
    SetWindowLongW(m_hwnd, GWL_EXSTYLE, static_cast<LONG_PTR>(static_cast<DWORD>(style)));
    return S_OK;
}

HRESULT CBaseControlWindow::get_WindowStyleEx(LONG* style) {
    if (style == nullptr) return E_POINTER;
    *style = static_cast<LONG>(GetWindowLongW(m_hwnd, GWL_EXSTYLE));
    return S_OK;
}

HRESULT CBaseControlWindow::put_AutoShow(LONG autoShow) {
    if (autoShow != OATRUE && autoShow != OAFALSE) return E_INVALIDARG;
    m_bAutoShow = autoShow == OATRUE;
    return S_OK;
}

HRESULT CBaseControlWindow::get_AutoShow(LONG* autoShow) {
    if (autoShow == nullptr) return E_POINTER;
    *autoShow = m_bAutoShow ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT CBaseControlWindow::put_Visible(LONG visible) {
    if (visible != OATRUE && visible != OAFALSE) return E_INVALIDARG;
    ShowWindow(m_hwnd, visible == OATRUE ? SW_SHOW : SW_HIDE);
    return S_OK;
}

HRESULT CBaseControlWindow::get_Visible(LONG* visible) {
    if (visible == nullptr) return E_POINTER;
    *visible = IsWindowVisible(m_hwnd) ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT CBaseControlWindow::put_Left(LONG left) {
    RECT rc;
    GetWindowRect(m_hwnd, &rc);
    return SetWindowPosition(left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
}

HRESULT CBaseControlWindow::get_Left(LONG* left) {
    if (left == nullptr) return E_POINTER;
    RECT rc;
    GetWindowRect(m_hwnd, &rc);
    *left = rc.left;
    return S_OK;
}

HRESULT CBaseControlWindow::put_Width(LONG width) {
    RECT rc;
    GetWindowRect(m_hwnd, &rc);
    return SetWindowPosition(rc.left, rc.top, width, rc.bottom - rc.top);
}

HRESULT CBaseControlWindow::get_Width(LONG* width) {
    if (width == nullptr) return E_POINTER;
    RECT rc;
    GetWindowRect(m_hwnd, &rc);
    *width = rc.right - rc.left;
    return S_OK;
}

HRESULT CBaseControlWindow::put_Top(LONG top) {
    RECT rc;
    GetWindowRect(m_hwnd, &rc);
    return SetWindowPosition(rc.left, top, rc.right - rc.left, rc.bottom - rc.top);
}

HRESULT CBaseControlWindow::get_Top(LONG* top) {
    if (top == nullptr) return E_POINTER;
    RECT rc;
    GetWindowRect(m_hwnd, &rc);
    *top = rc.top;
    return S_OK;
}

HRESULT CBaseControlWindow::put_Height(LONG height) {
    RECT rc;
    GetWindowRect(m_hwnd, &rc);
    return SetWindowPosition(rc.left, rc.top, rc.right - rc.left, height);
}

HRESULT CBaseControlWindow::get_Height(LONG* height) {
    if (height == nullptr) return E_POINTER;
    RECT rc;
    GetWindowRect(m_hwnd, &rc);
    *height = rc.bottom - rc.top;
    return S_OK;
}

HRESULT CBaseControlWindow::put_Owner(OAHWND owner) {
    HWND h = reinterpret_cast<HWND>(static_cast<intptr_t>(owner));
    if (h != nullptr && !IsWindow(h)) return E_INVALIDARG;
    m_hwndOwner = h;
    SetParent(m_hwnd, h);
    return S_OK;
}

HRESULT CBaseControlWindow::get_Owner(OAHWND* owner) {
    if (owner == nullptr) return E_POINTER;
    *owner = static_cast<OAHWND>(reinterpret_cast<intptr_t>(m_hwndOwner.load()));
    return S_OK;
}

HRESULT CBaseControlWindow::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
    if (width < 0 || height < 0 || width > 8192 || height > 8192) return E_INVALIDARG;
    if (!SetWindowPos(m_hwnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE)) return E_FAIL;
    m_bPlaced = TRUE;
    return S_OK;
}

HRESULT CBaseControlWindow::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
    RECT rc{0, 0, 0, 0};
    if (!GetWindowRect(m_hwnd, &rc)) return E_FAIL;
    *left = rc.left;
    *top = rc.top;
    *width = rc.right - rc.left;
    *height = rc.bottom - rc.top;
    return S_OK;
}

HRESULT CBaseControlWindow::SetWindowForeground(LONG focus) {
    if (focus != OATRUE && focus != OAFALSE) return E_INVALIDARG;
    return DoSetWindowForeground(focus == OATRUE);
}

HRESULT CBaseControlWindow::HideCursor(LONG hide) {
    m_bCursorHidden = hide != OAFALSE;
    return S_OK;
}

HRESULT CBaseControlWindow::IsCursorHidden(LONG* hidden) {
    if (hidden == nullptr) return E_POINTER;
    *hidden = m_bCursorHidden ? OATRUE : OAFALSE;
    return S_OK;
}

LRESULT CBaseControlWindow::OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return CBaseWindow::OnReceiveMessage(hwnd, msg, wParam, lParam);
}

HRESULT CBaseControlWindow::DoSetWindowToDefaultSize() { return CBaseWindow::CompleteConnect(); }

HRESULT CBaseControlWindow::OnVideoSizeChange() {
    LONG w = 0, h = 0;
    const RECT rc = GetDefaultRect();
    w = rc.right - rc.left;
    h = rc.bottom - rc.top;
    return m_pFilter->NotifyEvent(EC_VIDEO_SIZE_CHANGED, static_cast<LONG_PTR>((w & 0xFFFF) | (h << 16)), 0);
}

// IBasicVideo.

CBaseControlVideo::CBaseControlVideo(CBaseFilter* filter, CCritSec* interfaceLock)
    : m_pFilter(filter), m_pInterfaceLock(interfaceLock) {}

HRESULT CBaseControlVideo::CheckSourceRect(const RECT* rc) {
    const VIDEOINFOHEADER* vih = GetVideoFormat();
    if (vih == nullptr) return VFW_E_NOT_CONNECTED;
    const LONG w = vih->bmiHeader.biWidth, h = std::abs(vih->bmiHeader.biHeight);
    if (rc->left < 0 || rc->top < 0 || rc->right > w || rc->bottom > h || rc->left >= rc->right ||
        rc->top >= rc->bottom)
        return E_INVALIDARG;
    return S_OK;
}

HRESULT CBaseControlVideo::CheckTargetRect(const RECT* rc) {
    if (rc->right < rc->left || rc->bottom < rc->top) return E_INVALIDARG;
    return S_OK;
}

HRESULT CBaseControlVideo::get_SourceWidth(LONG* w) {
    LONG l, t, h;
    return w == nullptr ? E_POINTER : GetSourcePosition(&l, &t, w, &h);
}
HRESULT CBaseControlVideo::get_SourceHeight(LONG* h) {
    LONG l, t, w;
    return h == nullptr ? E_POINTER : GetSourcePosition(&l, &t, &w, h);
}
HRESULT CBaseControlVideo::get_DestinationWidth(LONG* w) {
    LONG l, t, h;
    return w == nullptr ? E_POINTER : GetDestinationPosition(&l, &t, w, &h);
}
HRESULT CBaseControlVideo::get_DestinationHeight(LONG* h) {
    LONG l, t, w;
    return h == nullptr ? E_POINTER : GetDestinationPosition(&l, &t, &w, h);
}

namespace {

// A rectangle as the position calls give it: corner, width and height.
HRESULT rectAsPosition(HRESULT got, const RECT& rc, LONG* left, LONG* top, LONG* width, LONG* height) {
    if (FAILED(got)) return got;
    *left = rc.left;
    *top = rc.top;
    *width = rc.right - rc.left;
    *height = rc.bottom - rc.top;
    return S_OK;
}

} // namespace

HRESULT CBaseControlVideo::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
    CAutoLock lock(m_pInterfaceLock);
    RECT rc{left, top, left + width, top + height};
    const HRESULT hr = CheckSourceRect(&rc);
    if (FAILED(hr)) return hr;
    return SetSourceRect(&rc);
}

HRESULT CBaseControlVideo::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
    RECT rc;
    return rectAsPosition(GetSourceRect(&rc), rc, left, top, width, height);
}

HRESULT CBaseControlVideo::SetDefaultSourcePosition() {
    CAutoLock lock(m_pInterfaceLock);
    return SetDefaultSourceRect();
}

HRESULT CBaseControlVideo::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
    CAutoLock lock(m_pInterfaceLock);
    RECT rc{left, top, left + width, top + height};
    const HRESULT hr = CheckTargetRect(&rc);
    if (FAILED(hr)) return hr;
    return SetTargetRect(&rc);
}

HRESULT CBaseControlVideo::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
    RECT rc;
    return rectAsPosition(GetTargetRect(&rc), rc, left, top, width, height);
}

HRESULT CBaseControlVideo::SetDefaultDestinationPosition() {
    CAutoLock lock(m_pInterfaceLock);
    return SetDefaultTargetRect();
}

HRESULT CBaseControlVideo::GetVideoSize(LONG* width, LONG* height) {
    if (width == nullptr || height == nullptr) return E_POINTER;
    const VIDEOINFOHEADER* vih = GetVideoFormat();
    if (vih == nullptr) return VFW_E_NOT_CONNECTED;
    *width = vih->bmiHeader.biWidth;
    *height = std::abs(vih->bmiHeader.biHeight);
    return S_OK;
}

HRESULT CBaseControlVideo::GetCurrentImage(LONG* bufferSize, LONG* image) {
    if (bufferSize == nullptr) return E_POINTER;
    return GetStaticImage(bufferSize, image);
}

HRESULT CBaseControlVideo::IsUsingDefaultSource() { return IsDefaultSourceRect(); }
HRESULT CBaseControlVideo::IsUsingDefaultDestination() { return IsDefaultTargetRect(); }

HRESULT CBaseControlVideo::CopyImage(IMediaSample* sample, const VIDEOINFOHEADER* format, LONG* bufferSize,
                                     BYTE* image, const RECT* source) {
    if (sample == nullptr || format == nullptr || bufferSize == nullptr || source == nullptr) return E_POINTER;
    const LONG W = format->bmiHeader.biWidth, H = std::abs(format->bmiHeader.biHeight);
    const LONG x0 = source->left & ~1, y0 = source->top & ~1;
    const LONG w = (source->right - x0) & ~1, h = (source->bottom - y0) & ~1;
    if (W <= 0 || H <= 0 || x0 < 0 || y0 < 0 || w <= 0 || h <= 0 || x0 + w > W || y0 + h > H) return E_INVALIDARG;
    const LONG needed = static_cast<LONG>(sizeof(BITMAPINFOHEADER)) + w * h + (w * h) / 2;
    if (image == nullptr) {
        *bufferSize = needed;
        return S_OK;
    }
    if (*bufferSize < needed) return E_OUTOFMEMORY;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    if (data == nullptr || sample->GetSize() < W * H + (W * H) / 2) return E_UNEXPECTED;
    BITMAPINFOHEADER bh = format->bmiHeader;
    bh.biWidth = w;
    bh.biHeight = h;
    bh.biSizeImage = static_cast<DWORD>(w * h + (w * h) / 2);
    BYTE* out = image;
    std::memcpy(out, &bh, sizeof bh);
    out += sizeof bh;
    for (LONG r = 0; r < h; ++r, out += w) std::memcpy(out, data + (y0 + r) * W + x0, static_cast<size_t>(w));
    const BYTE* planes[2] = {data + W * H, data + W * H + (W * H) / 4};
    for (const BYTE* plane : planes)
        for (LONG r = 0; r < h / 2; ++r, out += w / 2)
            std::memcpy(out, plane + (y0 / 2 + r) * (W / 2) + x0 / 2, static_cast<size_t>(w / 2));
    *bufferSize = needed;
    return S_OK;
}

HRESULT SendNotifyWindow(IPin* pin, HWND hwnd) {
    if (pin == nullptr) return E_POINTER;
    IMediaEventSink* sink = nullptr;
    if (FAILED(pin->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) return S_FALSE;
    sink->Notify(EC_NOTIFY_WINDOW, reinterpret_cast<LONG_PTR>(hwnd), 0);
    sink->Release();
    return S_OK;
}
