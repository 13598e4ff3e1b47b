// Paints one 176 x 144 frame FRAMES times, full screen on a 240 x 320
// portrait screen at the given rotation, through the renderer's
// PaintSample: the workload whose instructions tools/arm_paint_insn_count.sh
// counts under qemu-arm.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "VideoRendererFilter.h"
#include "graph.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vistarend-paint-count ROTATION FRAMES\n");
        return 2;
    }
    const ULONG rotation = static_cast<ULONG>(std::atoi(argv[1]));
    const int frames = std::atoi(argv[2]);
    setenv("SONADEC_SCREEN", "240x320", 1);
    setenv("SONADEC_ORIENTATION", "0", 1);
    // A registry of its own, gone afterwards.
    const std::string registry = "/tmp/vistarend-paint-count-" + std::to_string(getpid()) + ".db";
    setenv("SONADEC_REGISTRY", registry.c_str(), 1);

    int status = 0;
    {
        HRESULT hr = S_OK;
        auto* filter = static_cast<VideoRendererFilter*>(VideoRendererFilter::CreateInstance(nullptr, &hr));
        IBaseFilter* base = nullptr;
        filter->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base));
        SimpleGraph graph;
        auto* source = new YuvSource(176, 144);
        graph.AddFilter(source, L"source");
        graph.AddFilter(base, L"renderer");
        IVideoWindow* window = nullptr;
        IPropertyBag* bag = nullptr;
        base->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window));
        base->QueryInterface(IID_IPropertyBag, reinterpret_cast<void**>(&bag));
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_UI4;
        v.ulVal = rotation;
        if (FAILED(graph.ConnectDirect(source->OutputPin(), filter->GetPin(0), nullptr)) ||
            FAILED(window->SetWindowPosition(0, 0, 240, 320)) || FAILED(bag->Write(L"SetRotation", &v)) ||
            FAILED(graph.Pause())) {
            std::fprintf(stderr, "vistarend-paint-count: cannot set up the renderer\n");
            status = 1;
        } else {
            IMemAllocator* allocator = filter->ImageAllocator();
            IMediaSample* sample = nullptr;
            if (SUCCEEDED(allocator->GetBuffer(&sample, nullptr, nullptr, 0))) {
                BYTE* data = nullptr;
                sample->GetPointer(&data);
                for (LONG i = 0; i < source->FrameBytes(); ++i) data[i] = static_cast<BYTE>(i * 7);
                for (int i = 0; i < frames; ++i) filter->PaintSample(sample);
                sample->Release();
            }
            const PaintLayout l = filter->LastLayout();
            std::printf("rotation %lu: code %d, output %dx%d at (%d, %d), %d frames\n", static_cast<unsigned long>(rotation),
                        l.rotationCode, l.outW, l.outH, l.posX, l.posY, frames);
        }
        bag->Release();
        window->Release();
        graph.Clear();
        base->Release();
    }
    unlink(registry.c_str());
    unlink((registry + "-wal").c_str());
    unlink((registry + "-shm").c_str());
    return status;
}
