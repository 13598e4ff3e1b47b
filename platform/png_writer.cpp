#include <cstdio>

#include "presenter.h"

#ifdef SONADEC_HAVE_PNG
#include <png.h>
#endif

bool PngWriterAvailable() {
#ifdef SONADEC_HAVE_PNG
    return true;
#else
    return false;
#endif
}

HRESULT SavePixelsPng(const std::vector<uint16_t>& pixels, int width, int height, const char* path) {
    if (path == nullptr || width <= 0 || height <= 0 ||
        pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        return E_INVALIDARG;
#ifdef SONADEC_HAVE_PNG
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return E_FAIL;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(f);
        return E_OUTOFMEMORY;
    }
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    // libpng reports its errors by a long jump back here.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return E_FAIL;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
            const unsigned r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
            row[static_cast<size_t>(x) * 3] = static_cast<png_byte>((r << 3) | (r >> 2));
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<png_byte>((g << 2) | (g >> 4));
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<png_byte>((b << 3) | (b >> 2));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 ? S_OK : E_FAIL;
#else
    return E_NOTIMPL;
#endif
}

HRESULT SaveWindowPng(HWND hwnd, const char* path) {
    std::vector<uint16_t> pixels;
    int w = 0, h = 0;
    if (!CopyWindowSurface(hwnd, &pixels, &w, &h)) return E_INVALIDARG;
    return SavePixelsPng(pixels, w, h, path);
}

HRESULT LoadPngRgb(const char* path, std::vector<uint8_t>* rgb, int* width, int* height) {
    if (path == nullptr || rgb == nullptr || width == nullptr || height == nullptr) return E_POINTER;
#ifdef SONADEC_HAVE_PNG
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) return E_FAIL;
    image.format = PNG_FORMAT_RGB;
    if (image.width > 8192 || image.height > 8192) {
        png_image_free(&image);
        return E_FAIL;
    }
    rgb->resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr)) {
        png_image_free(&image);
        return E_FAIL;
    }
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    return S_OK;
#else
    return E_NOTIMPL;
#endif
}
