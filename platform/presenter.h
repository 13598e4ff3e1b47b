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
