// What a window painted, for the eyes: its surface copied out, saved as a
// PNG file, or shown in a live X11 window. Not calls of the platform's own;
// they stand in for its display.
#pragma once

#include <vector>

#include "winuser.h"

// The window's RGB 565 surface, row after row from the top.
BOOL CopyWindowSurface(HWND hwnd, std::vector<uint16_t>* pixels, int* width, int* height);

// Whether this build has the PNG writer (libpng).
bool PngWriterAvailable();
// Writes the surface as an 8-bit RGB PNG; channels widened by repeating
// their top bits, so 0x1F becomes 0xFF. E_NOTIMPL without libpng.
HRESULT SaveWindowPng(HWND hwnd, const char* path);
HRESULT SavePixelsPng(const std::vector<uint16_t>& pixels, int width, int height, const char* path);

// A live X11 window showing a window's surface, when the build has Xlib
// and DISPLAY names a display; null otherwise.
struct X11Presenter;
bool X11PresenterAvailable();
X11Presenter* OpenX11Presenter(HWND hwnd, const char* title);
// Copies the surface as it is now into the X11 window (resized to it) and
// waits until the server has drawn it.
HRESULT PresentX11(X11Presenter* presenter);
// What the X server shows of the presenter's window, as 8-bit RGB rows.
HRESULT CaptureX11(X11Presenter* presenter, std::vector<uint8_t>* rgb, int* width, int* height);
void CloseX11Presenter(X11Presenter* presenter);

// A PNG file read back as 8-bit RGB rows (for comparisons).
HRESULT LoadPngRgb(const char* path, std::vector<uint8_t>* rgb, int* width, int* height);
