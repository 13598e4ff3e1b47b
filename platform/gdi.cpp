#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "internal.h"
#include "presenter.h"
#include "winuser.h"

namespace {

struct Window {
    std::wstring className;
    std::wstring name;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    HWND parent = nullptr;
    LONG_PTR userData = 0;
    std::thread::id owner;
    std::vector<uint16_t> surface;
};

struct SentMessage {
    MSG msg;
    LRESULT result = 0;
    bool done = false;
};

struct Queue {
    std::deque<MSG> posted;
    std::deque<SentMessage*> sent;
    bool quit = false;
    int quitCode = 0;
};

struct Brush {
    COLORREF color;
    bool stock;
};

// Every window of the process, their queues and classes; handles are
// serial numbers, so a stale handle finds nothing instead of freed memory.
struct Desktop {
    std::mutex lock;
    std::condition_variable changed;
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    std::map<std::thread::id, Queue> queues;
    std::map<std::wstring, WNDCLASSW> classes;
    uintptr_t nextHandle = 0x100;
    HWND foreground = nullptr;
    HCURSOR cursor = nullptr;
    Brush stockBrushes[5] = {{RGB(255, 255, 255), true}, {RGB(192, 192, 192), true}, {RGB(128, 128, 128), true},
                             {RGB(64, 64, 64), true},    {RGB(0, 0, 0), true}};
};

Desktop& desktop() {
    static Desktop d;
    return d;
}

uintptr_t idOf(HWND h) { return reinterpret_cast<uintptr_t>(h); }
HWND handleOf(uintptr_t id) { return reinterpret_cast<HWND>(id); }

Window* findLocked(Desktop& d, HWND h) {
    auto it = d.windows.find(idOf(h));
    return it == d.windows.end() ? nullptr : it->second.get();
}

std::wstring lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

uint16_t to565(COLORREF c) {
    const unsigned r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

// Handles the messages sent to windows of the calling thread; called with
// the desktop lock held, which it drops around each window procedure.
void deliverSentLocked(Desktop& d, std::unique_lock<std::mutex>& g, Queue* q) {
    while (!q->sent.empty()) {
        SentMessage* s = q->sent.front();
        q->sent.pop_front();
        Window* w = findLocked(d, s->msg.hwnd);
        WNDPROC proc = w ? w->proc : nullptr;
        g.unlock();
        const LRESULT r = proc ? proc(s->msg.hwnd, s->msg.message, s->msg.wParam, s->msg.lParam) : 0;
        g.lock();
        s->result = r;
        s->done = true;
        d.changed.notify_all();
    }
}

long envLong(const char* text, long fallback) {
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    return end == text ? fallback : v;
}

void screenSize(int* w, int* h) {
    *w = 240;
    *h = 320;
    const char* s = std::getenv("SONADEC_SCREEN");
    if (s == nullptr) return;
    char* end = nullptr;
    const long sw = std::strtol(s, &end, 10);
    if (end == s || (*end != 'x' && *end != 'X')) return;
    const char* hs = end + 1;
    const long sh = std::strtol(hs, &end, 10);
    if (end == hs || sw <= 0 || sh <= 0 || sw > 8192 || sh > 8192) return;
    *w = static_cast<int>(sw);
    *h = static_cast<int>(sh);
}

} // namespace

ATOM RegisterClassW(const WNDCLASSW* wc) {
    if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpfnWndProc == nullptr) return 0;
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    const std::wstring key = lower(wc->lpszClassName);
    if (d.classes.count(key)) return 0;
    WNDCLASSW copy = *wc;
    copy.lpszClassName = nullptr;
    copy.lpszMenuName = nullptr;
    d.classes[key] = copy;
    return static_cast<ATOM>(0xC000 + d.classes.size());
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
    if (className == nullptr) return FALSE;
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    const std::wstring key = lower(className);
    for (const auto& [id, w] : d.windows)
        if (lower(w->className) == key) return FALSE;
    return d.classes.erase(key) ? TRUE : FALSE;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU, HINSTANCE, LPVOID param) {
    if (className == nullptr || width < 0 || height < 0 || width > 8192 || height > 8192) return nullptr;
    Desktop& d = desktop();
    HWND h;
    WNDPROC proc;
    {
        std::lock_guard<std::mutex> g(d.lock);
        auto cls = d.classes.find(lower(className));
        if (cls == d.classes.end()) return nullptr;
        auto w = std::make_unique<Window>();
        w->className = className;
        w->name = windowName ? windowName : L"";
        w->proc = proc = cls->second.lpfnWndProc;
        w->style = style;
        w->exStyle = exStyle;
        w->x = x;
        w->y = y;
        w->width = width;
        w->height = height;
        w->parent = parent;
        w->owner = std::this_thread::get_id();
        w->surface.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
        h = handleOf(d.nextHandle++);
        d.windows[idOf(h)] = std::move(w);
        d.queues[std::this_thread::get_id()];
    }
    if (proc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(param)) == -1) {
        DestroyWindow(h);
        return nullptr;
    }
    return h;
}

BOOL DestroyWindow(HWND hwnd) {
    Desktop& d = desktop();
    WNDPROC proc;
    {
        std::lock_guard<std::mutex> g(d.lock);
        Window* w = findLocked(d, hwnd);
        if (w == nullptr || w->owner != std::this_thread::get_id()) return FALSE;
        proc = w->proc;
    }
    proc(hwnd, WM_DESTROY, 0, 0);
    std::lock_guard<std::mutex> g(d.lock);
    d.windows.erase(idOf(hwnd));
    if (d.foreground == hwnd) d.foreground = nullptr;
    // Messages still queued for it are dropped; senders waiting get 0.
    for (auto& [tid, q] : d.queues) {
        std::erase_if(q.posted, [&](const MSG& m) { return m.hwnd == hwnd; });
        for (auto it = q.sent.begin(); it != q.sent.end();) {
            if ((*it)->msg.hwnd == hwnd) {
                (*it)->done = true;
                it = q.sent.erase(it);
            } else {
                ++it;
            }
        }
    }
    d.changed.notify_all();
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    return findLocked(d, hwnd) != nullptr;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    for (const auto& [id, w] : d.windows) {
        if (className != nullptr && lower(w->className) != lower(className)) continue;
        if (windowName != nullptr && w->name != windowName) continue;
        return handleOf(id);
    }
    return nullptr;
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM, LPARAM) {
    switch (msg) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    default:
        return 0;
    }
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Desktop& d = desktop();
    std::unique_lock<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return 0;
    if (w->owner == std::this_thread::get_id()) {
        WNDPROC proc = w->proc;
        g.unlock();
        return proc(hwnd, msg, wParam, lParam);
    }
    SentMessage s;
    s.msg = MSG{hwnd, msg, wParam, lParam, 0, {0, 0}};
    d.queues[w->owner].sent.push_back(&s);
    d.changed.notify_all();
    // A sender that owns windows itself keeps answering messages sent to
    // them meanwhile, as the platform's does.
    auto own = d.queues.find(std::this_thread::get_id());
    while (!s.done) {
        if (own != d.queues.end() && !own->second.sent.empty()) deliverSentLocked(d, g, &own->second);
        else d.changed.wait(g);
    }
    return s.result;
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return FALSE;
    d.queues[w->owner].posted.push_back(MSG{hwnd, msg, wParam, lParam, GetTickCount(), {0, 0}});
    d.changed.notify_all();
    return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    for (auto& [tid, q] : d.queues) {
        if (static_cast<DWORD>(std::hash<std::thread::id>()(tid)) != threadId) continue;
        q.posted.push_back(MSG{nullptr, msg, wParam, lParam, GetTickCount(), {0, 0}});
        d.changed.notify_all();
        return TRUE;
    }
    return FALSE;
}

void PostQuitMessage(int exitCode) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Queue& q = d.queues[std::this_thread::get_id()];
    q.quit = true;
    q.quitCode = exitCode;
    d.changed.notify_all();
}

BOOL GetMessageW(MSG* msg, HWND, UINT, UINT) {
    if (msg == nullptr) return -1;
    Desktop& d = desktop();
    std::unique_lock<std::mutex> g(d.lock);
    Queue* q = &d.queues[std::this_thread::get_id()];
    for (;;) {
        deliverSentLocked(d, g, q);
        if (!q->posted.empty()) {
            *msg = q->posted.front();
            q->posted.pop_front();
            return msg->message == WM_QUIT ? FALSE : TRUE;
        }
        if (q->quit) {
            q->quit = false;
            *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, GetTickCount(), {0, 0}};
            return FALSE;
        }
        d.changed.wait(g);
    }
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr) return 0;
    Desktop& d = desktop();
    WNDPROC proc;
    {
        std::lock_guard<std::mutex> g(d.lock);
        Window* w = findLocked(d, msg->hwnd);
        if (w == nullptr) return 0;
        proc = w->proc;
    }
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LONG_PTR SetWindowLongW(HWND hwnd, int index, LONG_PTR value) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return 0;
    LONG_PTR old = 0;
    switch (index) {
    case GWL_STYLE:
        old = static_cast<LONG_PTR>(w->style);
        w->style = static_cast<DWORD>(value);
        break;
    case GWL_EXSTYLE:
        old = static_cast<LONG_PTR>(w->exStyle);
        w->exStyle = static_cast<DWORD>(value);
        break;
    case GWL_USERDATA:
        old = w->userData;
        w->userData = value;
        break;
    default:
        break;
    }
    return old;
}

LONG_PTR GetWindowLongW(HWND hwnd, int index) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return 0;
    switch (index) {
    case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    case GWL_USERDATA: return w->userData;
    default: return 0;
    }
}

BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return FALSE;
    if ((flags & SWP_NOMOVE) == 0) {
        w->x = x;
        w->y = y;
    }
    if ((flags & SWP_NOSIZE) == 0) {
        if (cx < 0 || cy < 0 || cx > 8192 || cy > 8192) return FALSE;
        if (cx != w->width || cy != w->height) {
            // The surface is laid anew, black, at the new size.
            w->width = cx;
            w->height = cy;
            w->surface.assign(static_cast<size_t>(cx) * static_cast<size_t>(cy), 0);
        }
    }
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
    return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER);
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
    if (rect == nullptr) return FALSE;
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return FALSE;
    *rect = RECT{w->x, w->y, w->x + w->width, w->y + w->height};
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
    if (rect == nullptr) return FALSE;
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return FALSE;
    *rect = RECT{0, 0, w->width, w->height};
    return TRUE;
}

BOOL ShowWindow(HWND hwnd, int cmdShow) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return FALSE;
    const BOOL wasVisible = (w->style & WS_VISIBLE) != 0;
    if (cmdShow == SW_HIDE) w->style &= ~WS_VISIBLE;
    else w->style |= WS_VISIBLE;
    return wasVisible;
}

BOOL IsWindowVisible(HWND hwnd) { return (static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & WS_VISIBLE) != 0; }

HWND SetParent(HWND child, HWND parent) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, child);
    if (w == nullptr) return nullptr;
    HWND old = w->parent;
    w->parent = parent;
    return old;
}

HWND GetParent(HWND hwnd) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    return w ? w->parent : nullptr;
}

BOOL SetForegroundWindow(HWND hwnd) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    if (findLocked(d, hwnd) == nullptr) return FALSE;
    d.foreground = hwnd;
    return TRUE;
}

HWND GetForegroundWindow() {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    return d.foreground;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL erase) {
    if (!IsWindow(hwnd)) return FALSE;
    if (erase) return PostMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(GetDC(hwnd)), 0);
    return TRUE;
}

HCURSOR SetCursor(HCURSOR cursor) {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    HCURSOR old = d.cursor;
    d.cursor = cursor;
    return old;
}

HCURSOR GetCursor() {
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    return d.cursor;
}

int GetSystemMetrics(int index) {
    int w, h;
    screenSize(&w, &h);
    switch (index) {
    case SM_CXSCREEN: return w;
    case SM_CYSCREEN: return h;
    default: return 0;
    }
}

LONG ChangeDisplaySettingsExW(LPCWSTR, DEVMODEW* mode, HWND, DWORD flags, LPVOID) {
    if (flags != CDS_TEST) return DISP_CHANGE_BADFLAGS;
    if (mode == nullptr) return DISP_CHANGE_BADPARAM;
    if (mode->dmFields & DM_DISPLAYORIENTATION) {
        switch (envLong(std::getenv("SONADEC_ORIENTATION"), 0)) {
        case 0: mode->dmDisplayOrientation = DMDO_0; break;
        case 90: mode->dmDisplayOrientation = DMDO_90; break;
        case 180: mode->dmDisplayOrientation = DMDO_180; break;
        case 270: mode->dmDisplayOrientation = DMDO_270; break;
        default: return DISP_CHANGE_BADMODE;
        }
    }
    int w, h;
    screenSize(&w, &h);
    if (mode->dmFields & DM_PELSWIDTH) mode->dmPelsWidth = static_cast<DWORD>(w);
    if (mode->dmFields & DM_PELSHEIGHT) mode->dmPelsHeight = static_cast<DWORD>(h);
    return DISP_CHANGE_SUCCESSFUL;
}

HGDIOBJ GetStockObject(int object) {
    if (object < 0 || object > BLACK_BRUSH) return nullptr;
    return &desktop().stockBrushes[object];
}

HBRUSH CreateSolidBrush(COLORREF color) { return new Brush{color, false}; }

BOOL DeleteObject(HGDIOBJ object) {
    Brush* b = static_cast<Brush*>(object);
    if (b == nullptr) return FALSE;
    if (!b->stock) delete b;
    return TRUE;
}

// A window's device context is its handle seen as a DC.
HDC GetDC(HWND hwnd) { return IsWindow(hwnd) ? reinterpret_cast<HDC>(hwnd) : nullptr; }

int ReleaseDC(HWND hwnd, HDC hdc) { return GetDC(hwnd) == hdc && hdc != nullptr ? 1 : 0; }

HWND WindowFromDC(HDC hdc) {
    HWND h = reinterpret_cast<HWND>(hdc);
    return IsWindow(h) ? h : nullptr;
}

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    if (rect == nullptr || brush == nullptr) return 0;
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, reinterpret_cast<HWND>(hdc));
    if (w == nullptr) return 0;
    const uint16_t px = to565(static_cast<Brush*>(brush)->color);
    const LONG x0 = std::max<LONG>(rect->left, 0), y0 = std::max<LONG>(rect->top, 0);
    const LONG x1 = std::min<LONG>(rect->right, w->width), y1 = std::min<LONG>(rect->bottom, w->height);
    for (LONG y = y0; y < y1; ++y)
        std::fill(w->surface.begin() + y * w->width + x0, w->surface.begin() + y * w->width + x1, px);
    return 1;
}

int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT colorUse) {
    if (bits == nullptr || info == nullptr || colorUse != DIB_RGB_COLORS) return 0;
    const BITMAPINFOHEADER& bh = info->bmiHeader;
    if (bh.biSize < sizeof(BITMAPINFOHEADER) || bh.biBitCount != 16 || bh.biWidth <= 0 || bh.biHeight == 0 ||
        bh.biWidth > 8192 || bh.biHeight > 8192 || bh.biHeight < -8192)
        return 0;
    bool is565 = false;
    if (bh.biCompression == BI_BITFIELDS) {
        DWORD masks[3];
        std::memcpy(masks, reinterpret_cast<const BYTE*>(info) + bh.biSize, sizeof masks);
        if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) is565 = true;
        else if (!(masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F)) return 0;
    } else if (bh.biCompression != BI_RGB) {
        return 0;
    }
    const bool bottomUp = bh.biHeight > 0;
    const LONG dibW = bh.biWidth, dibH = bottomUp ? bh.biHeight : -bh.biHeight;
    const size_t rowPixels = static_cast<size_t>(((dibW * 16 + 31) / 32) * 2);
    const uint16_t* src = static_cast<const uint16_t*>(bits);
    if (lines == 0 || startScan >= static_cast<UINT>(dibH)) return 0;
    const UINT lastScan = std::min<UINT>(startScan + lines, static_cast<UINT>(dibH));

    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, reinterpret_cast<HWND>(hdc));
    if (w == nullptr) return 0;
    const LONG h = static_cast<LONG>(std::min<DWORD>(height, 8192)), wd = static_cast<LONG>(std::min<DWORD>(width, 8192));
    for (LONG j = 0; j < h; ++j) {
        const LONG dy = yDest + j;
        if (dy < 0 || dy >= w->height) continue;
        // Scan lines count from the bottom of a bottom-up DIB, from the top
        // of a top-down one.
        const LONG scan = bottomUp ? ySrc + (h - 1 - j) : ySrc + j;
        if (scan < static_cast<LONG>(startScan) || scan >= static_cast<LONG>(lastScan)) continue;
        const uint16_t* row = src + static_cast<size_t>(scan - static_cast<LONG>(startScan)) * rowPixels;
        // The part of the row inside both the window and the DIB.
        const LONG i0 = std::max<LONG>({0, -xDest, -xSrc});
        const LONG i1 = std::min<LONG>({wd, w->width - xDest, dibW - xSrc});
        if (i0 >= i1) continue;
        uint16_t* out = w->surface.data() + static_cast<size_t>(dy) * static_cast<size_t>(w->width);
        if (is565) {
            std::memcpy(out + xDest + i0, row + xSrc + i0, static_cast<size_t>(i1 - i0) * sizeof(uint16_t));
            continue;
        }
        for (LONG i = i0; i < i1; ++i) {
            const uint16_t p = row[xSrc + i];
            // 555 pixels widen their green to six bits.
            out[xDest + i] = static_cast<uint16_t>(((p & 0x7FE0) << 1) | ((p >> 4) & 0x20) | (p & 0x1F));
        }
    }
    return static_cast<int>(lastScan - startScan);
}

BOOL CopyWindowSurface(HWND hwnd, std::vector<uint16_t>* pixels, int* width, int* height) {
    if (pixels == nullptr || width == nullptr || height == nullptr) return FALSE;
    Desktop& d = desktop();
    std::lock_guard<std::mutex> g(d.lock);
    Window* w = findLocked(d, hwnd);
    if (w == nullptr) return FALSE;
    *pixels = w->surface;
    *width = w->width;
    *height = w->height;
    return TRUE;
}
