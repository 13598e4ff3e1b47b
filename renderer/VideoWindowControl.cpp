#include "VideoWindowControl.h"

#include "VideoRendererFilter.h"

VideoWindowControl::VideoWindowControl(VideoRendererFilter* filter, CCritSec* interfaceLock, HRESULT*)
    : CBaseControlWindow(filter, interfaceLock), CBaseControlVideo(filter, interfaceLock), filter_(filter) {}

VideoWindowControl::~VideoWindowControl() { DoneWithWindow(); }

HRESULT VideoWindowControl::QueryInterface(REFIID riid, void** ppv) { return filter_->GetOwner()->QueryInterface(riid, ppv); }
ULONG VideoWindowControl::AddRef() { return filter_->GetOwner()->AddRef(); }
ULONG VideoWindowControl::Release() { return filter_->GetOwner()->Release(); }

LPCWSTR VideoWindowControl::GetClassWindowStyles(DWORD* classStyles, DWORD* windowStyles, DWORD* windowStylesEx) {
    *classStyles = CS_HREDRAW | CS_VREDRAW;
    *windowStyles = WS_CLIPCHILDREN;
    *windowStylesEx = 0;
    return L"ParvixVideoRenderer";
}

LRESULT VideoWindowControl::OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_ACTIVE) {
            IBaseFilter* filter = nullptr;
            filter_->GetOwner()->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
            filter_->NotifyEvent(EC_ACTIVATE, static_cast<LONG_PTR>(wParam), reinterpret_cast<LONG_PTR>(filter));
            if (filter != nullptr) filter->Release();
            return 0;
        }
        break;
    case WM_CLOSE:
        filter_->NotifyEvent(EC_USERABORT, 0, 0);
        DoShowWindow(SW_HIDE);
        return CBaseControlWindow::OnReceiveMessage(hwnd, msg, wParam, lParam);
    case WM_ERASEBKGND: {
        LONG left = 0, top = 0, width = 0, height = 0;
        GetWindowPosition(&left, &top, &width, &height);
        const RECT rc{0, 0, left + width, top + height};
        FillRect(GetWindowHDC(), &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        const FILTER_STATE state = filter_->State();
        if (state == State_Stopped || state == State_Paused) {
            if (IMediaSample* sample = filter_->GetCurrentSample()) {
                filter_->PaintSample(sample);
                sample->Release();
            }
        }
        return 0;
    }
    case WM_SETCURSOR:
        if (IsCursorHiddenFlag()) {
            SetCursor(nullptr);
            return 0;
        }
        break;
    default:
        break;
    }
    return CBaseControlWindow::OnReceiveMessage(hwnd, msg, wParam, lParam);
}

RECT VideoWindowControl::GetDefaultRect() {
    RECT rc;
    GetSourceRect(&rc);
    return rc;
}

HRESULT VideoWindowControl::GetSourceRect(RECT* rc) {
    filter_->DrawImage()->GetSourceRect(rc);
    return S_OK;
}

HRESULT VideoWindowControl::SetSourceRect(RECT* rc) {
    filter_->DrawImage()->SetSourceRect(rc);
    return S_OK;
}

HRESULT VideoWindowControl::GetTargetRect(RECT* rc) {
    filter_->DrawImage()->GetTargetRect(rc);
    return S_OK;
}

HRESULT VideoWindowControl::SetTargetRect(RECT* rc) {
    filter_->DrawImage()->SetTargetRect(rc);
    return S_OK;
}

HRESULT VideoWindowControl::SetDefaultSourceRect() {
    const RECT rc{0, 0, filter_->LastVideoWidth(), filter_->LastVideoHeight()};
    filter_->DrawImage()->SetSourceRect(&rc);
    return S_OK;
}

HRESULT VideoWindowControl::SetDefaultTargetRect() {
    const RECT rc{0, 0, 0, 0};
    filter_->DrawImage()->SetTargetRect(&rc);
    return S_OK;
}

HRESULT VideoWindowControl::IsDefaultSourceRect() {
    RECT rc;
    filter_->DrawImage()->GetSourceRect(&rc);
    return rc.left == 0 && rc.top == 0 && rc.right == filter_->LastVideoWidth() &&
                   rc.bottom == filter_->LastVideoHeight()
               ? S_OK
               : S_FALSE;
}

HRESULT VideoWindowControl::IsDefaultTargetRect() {
    RECT rc;
    filter_->DrawImage()->GetTargetRect(&rc);
    return rc.left == 0 && rc.top == 0 && rc.right == 0 && rc.bottom == 0 ? S_OK : S_FALSE;
}

HRESULT VideoWindowControl::GetStaticImage(LONG* bufferSize, LONG* image) {
    IMediaSample* sample = filter_->GetCurrentSample();
    if (sample == nullptr) return E_UNEXPECTED;
    RECT source;
    GetSourceRect(&source);
    const HRESULT hr = CopyImage(sample, GetVideoFormat(), bufferSize, reinterpret_cast<BYTE*>(image), &source);
    sample->Release();
    return hr;
}

const VIDEOINFOHEADER* VideoWindowControl::GetVideoFormat() {
    const CMediaType& mt = filter_->CurrentType();
    if (mt.FormatLength() < sizeof(VIDEOINFOHEADER) || mt.Format() == nullptr) return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format());
}
