#include "VideoInputPin.h"

#include "VideoRendererFilter.h"

VideoInputPin::VideoInputPin(VideoRendererFilter* filter, HRESULT* hr)
    : CRendererInputPin(filter, hr, L"Input"), filter_(filter) {}

HRESULT VideoInputPin::GetAllocator(IMemAllocator** allocator) {
    CAutoLock lock(filter_->InterfaceLock());
    if (allocator == nullptr) return E_POINTER;
    IMemAllocator* own = static_cast<IMemAllocator*>(filter_->ImageAllocator());
    if (m_pAllocator == nullptr) {
        m_pAllocator = own;
        m_pAllocator->AddRef();
    }
    own->AddRef();
    *allocator = own;
    return S_OK;
}

HRESULT VideoInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    CAutoLock lock(filter_->InterfaceLock());
    const HRESULT hr = CBaseInputPin::NotifyAllocator(allocator, readOnly);
    if (FAILED(hr)) return hr;
    filter_->DrawImage()->NotifyAllocator(FALSE);
    if (allocator == static_cast<IMemAllocator*>(filter_->ImageAllocator())) filter_->DrawImage()->NotifyAllocator(TRUE);
    return S_OK;
}
