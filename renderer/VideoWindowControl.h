// The renderer's video window (IVideoWindow) and video control
// (IBasicVideo) in one object, with the renderer's message handling.
#pragma once

#include "streams.h"

class VideoRendererFilter;

class VideoWindowControl : public CBaseControlWindow, public CBaseControlVideo {
public:
    VideoWindowControl(VideoRendererFilter* filter, CCritSec* interfaceLock, HRESULT* hr);
    ~VideoWindowControl() override;

    // Both interfaces are the filter's.
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    LPCWSTR GetClassWindowStyles(DWORD* classStyles, DWORD* windowStyles, DWORD* windowStylesEx) override;
    LRESULT OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    RECT GetDefaultRect() override;

    HRESULT GetSourceRect(RECT* rc) override;
    HRESULT SetSourceRect(RECT* rc) override;
    HRESULT GetTargetRect(RECT* rc) override;
    HRESULT SetTargetRect(RECT* rc) override;
    HRESULT SetDefaultSourceRect() override;
    HRESULT SetDefaultTargetRect() override;
    HRESULT IsDefaultSourceRect() override;
    HRESULT IsDefaultTargetRect() override;
    HRESULT GetStaticImage(LONG* bufferSize, LONG* image) override;
    const VIDEOINFOHEADER* GetVideoFormat() override;

private:
    VideoRendererFilter* filter_;
};
