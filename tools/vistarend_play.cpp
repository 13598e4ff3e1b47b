// Plays YV12 video through the registered Vistarend renderer: a Y4M file, a
// raw YV12 file of a given size, or a moving test pattern, delivered by a
// source filter against the system reference clock. Writes PNG pictures of
// the video window and prints how many frames were shown, late and dropped.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "graph.h"
#include "presenter.h"

namespace {

const CLSID kRenderer = {0x90A0ACB7, 0x6A89, 0x46C8, {0xBB, 0x4D, 0x38, 0x99, 0xFF, 0xDD, 0x2B, 0xE5}};

struct Options {
    std::string y4m, yv12, module = VISTAREND_DEFAULT_MODULE, png;
    int width = 0, height = 0, frames = 0, fps = 25, every = 1, rotation = -1;
    bool pattern = false, haveWindow = false, haveDest = false, live = false;
    LONG window[4] = {0, 0, 0, 0}, dest[4] = {0, 0, 0, 0};
};

void usage() {
    std::fprintf(stderr,
                 "usage: vistarend-play (--y4m FILE | --yv12 FILE --size WxH | --pattern WxH) [options]\n"
                 "  --frames N            frames to play (pattern default 50; files: all)\n"
                 "  --fps N               frame rate of raw and pattern input (default 25)\n"
                 "  --screen WxH          screen size (default 240x320)\n"
                 "  --orientation DEG     display orientation 0, 90, 180 or 270\n"
                 "  --window X,Y,W,H      video window (default: the whole screen)\n"
                 "  --dest L,T,W,H        destination rectangle in the window\n"
                 "  --rotation DEG        the renderer's SetRotation property\n"
                 "  --png PREFIX          write PREFIX-NNNN.png of the window after frames shown\n"
                 "  --every K             only every K-th frame (default 1)\n"
                 "  --live                show the window in an X11 window (needs DISPLAY)\n"
                 "  --module PATH         the renderer module to register and use\n");
}

bool parseSize(const char* s, int* w, int* h) { return std::sscanf(s, "%dx%d", w, h) == 2 && *w > 0 && *h > 0; }

bool parseRect(const char* s, LONG* r) {
    int a, b, c, d;
    if (std::sscanf(s, "%d,%d,%d,%d", &a, &b, &c, &d) != 4) return false;
    r[0] = a;
    r[1] = b;
    r[2] = c;
    r[3] = d;
    return true;
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto need = [&]() {
            if (v == nullptr) return false;
            ++i;
            return true;
        };
        if (a == "--y4m" && need()) o->y4m = v;
        else if (a == "--yv12" && need()) o->yv12 = v;
        else if (a == "--size" && need()) {
            if (!parseSize(v, &o->width, &o->height)) return false;
        } else if (a == "--pattern" && need()) {
            o->pattern = true;
            if (!parseSize(v, &o->width, &o->height)) return false;
        } else if (a == "--frames" && need()) o->frames = std::atoi(v);
        else if (a == "--fps" && need()) o->fps = std::atoi(v);
        else if (a == "--every" && need()) o->every = std::max(1, std::atoi(v));
        else if (a == "--screen" && need()) setenv("SONADEC_SCREEN", v, 1);
        else if (a == "--orientation" && need()) setenv("SONADEC_ORIENTATION", v, 1);
        else if (a == "--window" && need()) o->haveWindow = parseRect(v, o->window);
        else if (a == "--dest" && need()) o->haveDest = parseRect(v, o->dest);
        else if (a == "--rotation" && need()) o->rotation = std::atoi(v);
        else if (a == "--png" && need()) o->png = v;
        else if (a == "--module" && need()) o->module = v;
        else if (a == "--live") o->live = true;
        else return false;
    }
    const int inputs = (o->y4m.empty() ? 0 : 1) + (o->yv12.empty() ? 0 : 1) + (o->pattern ? 1 : 0);
    return inputs == 1 && o->fps > 0 && (o->y4m.empty() ? o->width > 0 : true);
}

// Frames in YV12 order (Y, V, U), read one at a time.
class FrameReader {
public:
    virtual ~FrameReader() = default;
    virtual bool next(std::vector<BYTE>* frame) = 0;
    int width = 0, height = 0, fpsNum = 25, fpsDen = 1;
};

class RawReader : public FrameReader {
public:
    RawReader(FILE* f, int w, int h) : f_(f) {
        width = w;
        height = h;
    }
    ~RawReader() override { std::fclose(f_); }
    bool next(std::vector<BYTE>* frame) override {
        frame->resize(static_cast<size_t>(width * height + (width * height) / 2));
        return std::fread(frame->data(), 1, frame->size(), f_) == frame->size();
    }
private:
    FILE* f_;
};

class Y4mReader : public FrameReader {
public:
    explicit Y4mReader(FILE* f) : f_(f) {}
    ~Y4mReader() override { std::fclose(f_); }
    // Reads the stream header; only 4:2:0 streams are played.
    bool open(std::string* error) {
        std::string header;
        if (!readLine(&header) || header.rfind("YUV4MPEG2 ", 0) != 0) {
            *error = "not a YUV4MPEG2 stream";
            return false;
        }
        size_t pos = 10;
        while (pos < header.size()) {
            size_t end = header.find(' ', pos);
            if (end == std::string::npos) end = header.size();
            const std::string tag = header.substr(pos, end - pos);
            pos = end + 1;
            if (tag.empty()) continue;
            if (tag[0] == 'W') width = std::atoi(tag.c_str() + 1);
            else if (tag[0] == 'H') height = std::atoi(tag.c_str() + 1);
            else if (tag[0] == 'F') std::sscanf(tag.c_str() + 1, "%d:%d", &fpsNum, &fpsDen);
            else if (tag[0] == 'C' && tag.rfind("C420", 0) != 0) {
                *error = "colour space " + tag.substr(1) + " is not 4:2:0";
                return false;
            }
        }
        if (width <= 0 || height <= 0 || width > 8192 || height > 8192 || fpsNum <= 0 || fpsDen <= 0) {
            *error = "bad stream header";
            return false;
        }
        return true;
    }
    bool next(std::vector<BYTE>* frame) override {
        std::string line;
        if (!readLine(&line) || line.rfind("FRAME", 0) != 0) return false;
        const size_t luma = static_cast<size_t>(width * height), chroma = static_cast<size_t>((width / 2) * (height / 2));
        frame->assign(luma + 2 * chroma, 128);
        // The file holds Y, Cb, Cr; YV12 has Cr before Cb.
        return std::fread(frame->data(), 1, luma, f_) == luma &&
               std::fread(frame->data() + luma + chroma, 1, chroma, f_) == chroma &&
               std::fread(frame->data() + luma, 1, chroma, f_) == chroma;
    }
private:
    bool readLine(std::string* line) {
        line->clear();
        for (int c; (c = std::fgetc(f_)) != EOF;) {
            if (c == '\n') return true;
            if (line->size() > 4096) return false;
            line->push_back(static_cast<char>(c));
        }
        return false;
    }
    FILE* f_;
};

// Colour bars scrolling sideways under a white square that bounces.
class PatternReader : public FrameReader {
public:
    PatternReader(int w, int h, int frames) : frames_(frames) {
        width = w & ~1;
        height = h & ~1;
    }
    bool next(std::vector<BYTE>* frame) override {
        if (index_ >= frames_) return false;
        static const BYTE kBars[8][3] = {{235, 128, 128}, {210, 16, 146},  {170, 166, 16}, {145, 54, 34},
                                         {106, 202, 222}, {81, 90, 240},   {41, 240, 110}, {16, 128, 128}};
        const int w = width, h = height, cw = w / 2, ch = h / 2;
        frame->assign(static_cast<size_t>(w * h + 2 * cw * ch), 0);
        BYTE* y = frame->data();
        BYTE* v = y + w * h;
        BYTE* u = v + cw * ch;
        const int shift = index_ * 4;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) y[r * w + c] = kBars[((c + shift) * 8 / w) % 8][0];
        for (int r = 0; r < ch; ++r)
            for (int c = 0; c < cw; ++c) {
                const BYTE* bar = kBars[((2 * c + shift) * 8 / w) % 8];
                u[r * cw + c] = bar[1];
                v[r * cw + c] = bar[2];
            }
        const int side = std::max(4, std::min(w, h) / 4) & ~1;
        const int span = std::max(1, h - side);
        int top = (index_ * 6) % (2 * span);
        if (top >= span) top = 2 * span - top;
        const int left = (w - side) / 2 & ~1;
        for (int r = top & ~1; r < (top & ~1) + side && r < h; ++r)
            for (int c = left; c < left + side; ++c) {
                y[r * w + c] = 235;
                u[(r / 2) * cw + c / 2] = 128;
                v[(r / 2) * cw + c / 2] = 128;
            }
        ++index_;
        return true;
    }
private:
    int frames_;
    int index_ = 0;
};

HRESULT callModule(const std::string& path, const char* name) {
    const std::wstring w(path.begin(), path.end());
    HMODULE m = LoadLibraryW(w.c_str());
    if (m == nullptr) return CO_E_DLLNOTFOUND;
    auto f = reinterpret_cast<HRESULT (*)()>(GetProcAddress(m, name));
    const HRESULT hr = f ? f() : CO_E_ERRORINDLL;
    FreeLibrary(m);
    return hr;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        usage();
        return 2;
    }
    std::unique_ptr<FrameReader> reader;
    if (!o.y4m.empty()) {
        FILE* f = std::fopen(o.y4m.c_str(), "rb");
        if (f == nullptr) {
            std::fprintf(stderr, "cannot open %s\n", o.y4m.c_str());
            return 1;
        }
        auto y4m = std::make_unique<Y4mReader>(f);
        std::string error;
        if (!y4m->open(&error)) {
            std::fprintf(stderr, "%s: %s\n", o.y4m.c_str(), error.c_str());
            return 1;
        }
        reader = std::move(y4m);
    } else if (!o.yv12.empty()) {
        FILE* f = std::fopen(o.yv12.c_str(), "rb");
        if (f == nullptr) {
            std::fprintf(stderr, "cannot open %s\n", o.yv12.c_str());
            return 1;
        }
        reader = std::make_unique<RawReader>(f, o.width, o.height);
        reader->fpsNum = o.fps;
    } else {
        reader = std::make_unique<PatternReader>(o.width, o.height, o.frames > 0 ? o.frames : 50);
        reader->fpsNum = o.fps;
    }
    if (!o.png.empty() && !PngWriterAvailable()) {
        std::fprintf(stderr, "this build has no PNG writer (libpng)\n");
        return 1;
    }

    HRESULT hr = callModule(o.module, "DllRegisterServer");
    if (FAILED(hr)) {
        std::fprintf(stderr, "registering %s failed: 0x%08X\n", o.module.c_str(), static_cast<unsigned>(hr));
        return 1;
    }
    CoInitialize(nullptr);
    IBaseFilter* renderer = nullptr;
    hr = CoCreateInstance(kRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&renderer));
    if (FAILED(hr)) {
        std::fprintf(stderr, "creating the renderer failed: 0x%08X\n", static_cast<unsigned>(hr));
        CoUninitialize();
        return 1;
    }
    int status = 0;
    {
        SimpleGraph graph;
        auto* source = new YuvSource(reader->width, reader->height);
        graph.AddFilter(source, L"source");
        graph.AddFilter(renderer, L"Parvix Video Renderer");
        IEnumPins* pins = nullptr;
        IPin* input = nullptr;
        renderer->EnumPins(&pins);
        pins->Next(1, &input, nullptr);
        pins->Release();
        hr = graph.ConnectDirect(source->OutputPin(), input, nullptr);
        input->Release();
        IVideoWindow* window = nullptr;
        IBasicVideo* video = nullptr;
        IPropertyBag* bag = nullptr;
        IQualProp* quality = nullptr;
        renderer->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window));
        renderer->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&video));
        renderer->QueryInterface(IID_IPropertyBag, reinterpret_cast<void**>(&bag));
        renderer->QueryInterface(IID_IQualProp, reinterpret_cast<void**>(&quality));
        if (FAILED(hr)) {
            std::fprintf(stderr, "connecting %dx%d YV12 failed: 0x%08X\n", reader->width, reader->height,
                         static_cast<unsigned>(hr));
            status = 1;
        } else {
            if (o.haveWindow) window->SetWindowPosition(o.window[0], o.window[1], o.window[2], o.window[3]);
            else window->SetWindowPosition(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
            if (o.haveDest) video->SetDestinationPosition(o.dest[0], o.dest[1], o.dest[2], o.dest[3]);
            if (o.rotation >= 0) {
                VARIANT v;
                VariantInit(&v);
                v.vt = VT_UI4;
                v.ulVal = static_cast<ULONG>(o.rotation);
                if (FAILED(bag->Write(L"SetRotation", &v)))
                    std::fprintf(stderr, "rotation %d refused; playing at the registry's\n", o.rotation);
            }
            HWND hwnd = FindWindowW(L"ParvixVideoRenderer", nullptr);
            X11Presenter* live = o.live ? OpenX11Presenter(hwnd, "vistarend-play") : nullptr;
            if (o.live && live == nullptr)
                std::fprintf(stderr, "no live window: %s\n",
                             X11PresenterAvailable() ? "DISPLAY names no display" : "this build has no X11");
            HRESULT init = S_OK;
            auto* clock = new CSystemClock(L"system clock", nullptr, &init);
            clock->AddRef();
            graph.SetClock(clock);
            graph.Pause();
            REFERENCE_TIME now = 0;
            clock->GetTime(&now);
            // A little head room for the first frame.
            graph.Run(now + 100 * MILLISECONDS);
            const REFERENCE_TIME duration = static_cast<REFERENCE_TIME>(UNITS) * reader->fpsDen / reader->fpsNum;
            std::vector<BYTE> frame;
            int n = 0, refused = 0;
            while ((o.frames <= 0 || n < o.frames) && reader->next(&frame)) {
                const REFERENCE_TIME start = n * duration, end = start + duration;
                if (source->DeliverFrame(frame.data(), start, end) != S_OK) ++refused;
                if (live != nullptr) PresentX11(live);
                if (!o.png.empty() && n % o.every == 0) {
                    char name[32];
                    std::snprintf(name, sizeof name, "-%04d.png", n);
                    SaveWindowPng(hwnd, (o.png + name).c_str());
                }
                ++n;
            }
            source->DeliverEndOfStream();
            graph.WaitForEvent(EC_COMPLETE, 10000);
            graph.Stop();
            int shown = 0, dropped = 0;
            quality->get_FramesDrawn(&shown);
            quality->get_FramesDroppedInRenderer(&dropped);
            std::printf("%dx%d, %d frames delivered: %d shown, %ld late, %d dropped\n", reader->width, reader->height,
                        n, shown, static_cast<long>(source->LateNotifications()), dropped + refused);
            graph.SetClock(nullptr);
            clock->Release();
            CloseX11Presenter(live);
        }
        quality->Release();
        bag->Release();
        video->Release();
        window->Release();
        graph.Clear();
    }
    renderer->Release();
    CoUninitialize();
    return status;
}
