// The renderer's input pin: the framework's, handing out the filter's own
// image allocator.
#pragma once

#include "streams.h"

class VideoRendererFilter;

class VideoInputPin : public CRendererInputPin {
public:
    VideoInputPin(VideoRendererFilter* filter, HRESULT* hr);
    STDMETHOD(GetAllocator)(IMemAllocator** allocator) override;
    STDMETHOD(NotifyAllocator)(IMemAllocator* allocator, BOOL readOnly) override;
private:
    VideoRendererFilter* filter_;
};
