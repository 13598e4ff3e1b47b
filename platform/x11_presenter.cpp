#include <cstdlib>
#include <string>

#include "presenter.h"

#ifdef SONADEC_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>

struct X11Presenter {
    Display* display;
    Window window;
    GC gc;
    HWND source;
    int width, height;
};

namespace {

// 565 channels widened by repeating their top bits, as the PNG writer does.
unsigned long toPixel(uint16_t p, const Visual* v) {
    const unsigned r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
    const unsigned r8 = (r << 3) | (r >> 2), g8 = (g << 2) | (g >> 4), b8 = (b << 3) | (b >> 2);
    auto place = [](unsigned value, unsigned long mask) {
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0) {
            mask >>= 1;
            ++shift;
        }
        int bits = 0;
        while (mask & 1) {
            mask >>= 1;
            ++bits;
        }
        return static_cast<unsigned long>(bits >= 8 ? value << (bits - 8) : value >> (8 - bits)) << shift;
    };
    return place(r8, v->red_mask) | place(g8, v->green_mask) | place(b8, v->blue_mask);
}

unsigned channel(unsigned long pixel, unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    int bits = 0;
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
    const unsigned v = static_cast<unsigned>((pixel >> shift) & ((1ul << bits) - 1));
    return bits >= 8 ? v >> (bits - 8) : v << (8 - bits);
}

} // namespace

bool X11PresenterAvailable() { return true; }

X11Presenter* OpenX11Presenter(HWND hwnd, const char* title) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0' || !IsWindow(hwnd)) return nullptr;
    Display* d = XOpenDisplay(name);
    if (d == nullptr) return nullptr;
    const int screen = DefaultScreen(d);
    if (DefaultDepth(d, screen) < 16) {
        XCloseDisplay(d);
        return nullptr;
    }
    RECT rc;
    GetClientRect(hwnd, &rc);
    const int w = rc.right > 0 ? rc.right : 1, h = rc.bottom > 0 ? rc.bottom : 1;
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = BlackPixel(d, screen);
    Window win = XCreateWindow(d, RootWindow(d, screen), 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                               CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XStoreName(d, win, title ? title : "vistarend");
    XSelectInput(d, win, ExposureMask);
    XMapRaised(d, win);
    // Drawing before the window is mapped would be lost.
    for (XEvent e;;) {
        XNextEvent(d, &e);
        if (e.type == Expose) break;
    }
    return new X11Presenter{d, win, XCreateGC(d, win, 0, nullptr), hwnd, w, h};
}

HRESULT PresentX11(X11Presenter* p) {
    if (p == nullptr) return E_POINTER;
    std::vector<uint16_t> px;
    int w = 0, h = 0;
    if (!CopyWindowSurface(p->source, &px, &w, &h) || w <= 0 || h <= 0) return E_FAIL;
    if (w != p->width || h != p->height) {
        XResizeWindow(p->display, p->window, static_cast<unsigned>(w), static_cast<unsigned>(h));
        p->width = w;
        p->height = h;
    }
    const int screen = DefaultScreen(p->display);
    Visual* visual = DefaultVisual(p->display, screen);
    XImage* image = XCreateImage(p->display, visual, static_cast<unsigned>(DefaultDepth(p->display, screen)), ZPixmap, 0,
                                 nullptr, static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
    if (image == nullptr) return E_OUTOFMEMORY;
    image->data = static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(h)));
    if (image->data == nullptr) {
        XDestroyImage(image);
        return E_OUTOFMEMORY;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            XPutPixel(image, x, y, toPixel(px[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)], visual));
    XPutImage(p->display, p->window, p->gc, image, 0, 0, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XDestroyImage(image);
    XSync(p->display, False);
    return S_OK;
}

HRESULT CaptureX11(X11Presenter* p, std::vector<uint8_t>* rgb, int* width, int* height) {
    if (p == nullptr || rgb == nullptr || width == nullptr || height == nullptr) return E_POINTER;
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(p->display, p->window, &attrs)) return E_FAIL;
    // The screen's pixels where the window lies, as a screenshot takes them.
    Window root = RootWindow(p->display, DefaultScreen(p->display)), child;
    int rx = 0, ry = 0;
    XTranslateCoordinates(p->display, p->window, root, 0, 0, &rx, &ry, &child);
    XImage* image = XGetImage(p->display, root, rx, ry, static_cast<unsigned>(attrs.width),
                              static_cast<unsigned>(attrs.height), AllPlanes, ZPixmap);
    if (image == nullptr) return E_FAIL;
    const Visual* v = attrs.visual;
    rgb->resize(static_cast<size_t>(attrs.width) * static_cast<size_t>(attrs.height) * 3);
    for (int y = 0; y < attrs.height; ++y)
        for (int x = 0; x < attrs.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            uint8_t* out = rgb->data() + (static_cast<size_t>(y) * static_cast<size_t>(attrs.width) + static_cast<size_t>(x)) * 3;
            out[0] = static_cast<uint8_t>(channel(pixel, v->red_mask));
            out[1] = static_cast<uint8_t>(channel(pixel, v->green_mask));
            out[2] = static_cast<uint8_t>(channel(pixel, v->blue_mask));
        }
    XDestroyImage(image);
    *width = attrs.width;
    *height = attrs.height;
    return S_OK;
}

void CloseX11Presenter(X11Presenter* p) {
    if (p == nullptr) return;
    XFreeGC(p->display, p->gc);
    XDestroyWindow(p->display, p->window);
    XCloseDisplay(p->display);
    delete p;
}

#else

bool X11PresenterAvailable() { return false; }
X11Presenter* OpenX11Presenter(HWND, const char*) { return nullptr; }
HRESULT PresentX11(X11Presenter*) { return E_NOTIMPL; }
HRESULT CaptureX11(X11Presenter*, std::vector<uint8_t>*, int*, int*) { return E_NOTIMPL; }
void CloseX11Presenter(X11Presenter*) {}

#endif
