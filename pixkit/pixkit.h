/* Pixkit: stateless frame functions (YUV/RGB conversion, scaling, rotation).
 * Plain C interface; every export has an undecorated name. */
#ifndef PIXKIT_PIXKIT_H
#define PIXKIT_PIXKIT_H

#include <stdint.h>

#if defined(PIXKIT_BUILD)
#define PIXKIT_API __attribute__((visibility("default")))
#else
#define PIXKIT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Frame descriptor. Field order and widths are part of the interface: the
 * renderer fills it field by field. Planes are tightly packed: luma rows are
 * `width` bytes, 4:2:0 chroma planes are width/2 x height/2, 4:2:2 planar
 * chroma planes width/2 x height. */
typedef struct ImageFrame {
    uint8_t* y; /* luma, or the only buffer of a packed frame */
    uint8_t* u; /* Cb */
    uint8_t* v; /* Cr */
    uint16_t width;
    uint16_t height;
} ImageFrame;

/* YUV 4:2:0 to RGB565 (blue in bits 0-4) into a display buffer of dstStride x
 * dstHeight pixels, with one of four destination walks (rotation 0..3).
 * Returns 0, or -1 having written nothing. */
PIXKIT_API int32_t gYUV420toBGR565TopDown_Rotate(const ImageFrame* src, uint16_t* dst, uint16_t srcX,
                                                 uint16_t srcY, uint16_t width, uint16_t height,
                                                 uint16_t dstX, uint16_t dstY, uint16_t dstStride,
                                                 uint16_t dstHeight, uint8_t rotation);

/* Bilinear scaling of whole or cropped planar frames to the destination's size. */
PIXKIT_API void gScaleFrame(const ImageFrame* src, ImageFrame* dst);
PIXKIT_API void gScaleCroppedFrame(const ImageFrame* src, ImageFrame* dst, int32_t cropX, int32_t cropY,
                                   uint16_t cropW, uint16_t cropH);
PIXKIT_API void gScaleCroppedFrameYUV422(const ImageFrame* src, ImageFrame* dst, int32_t cropX,
                                         int32_t cropY, uint16_t cropW, uint16_t cropH);

/* Fixed-ratio 4:2:0 scalers; the source window starts at (cropX, cropY) and its
 * size follows from the destination size. */
PIXKIT_API void gScaleCroppedFrame_downby2(const ImageFrame* src, ImageFrame* dst, int32_t cropX,
                                           int32_t cropY);
PIXKIT_API void gScaleCroppedFrame_upby2(const ImageFrame* src, ImageFrame* dst, int32_t cropX,
                                         int32_t cropY);
PIXKIT_API void gScaleCroppedFrame_upby4(const ImageFrame* src, ImageFrame* dst, int32_t cropX,
                                         int32_t cropY);
PIXKIT_API void gScaleCroppedFrame_downto3by3(const ImageFrame* src, ImageFrame* dst, int32_t cropX,
                                              int32_t cropY);

/* Bilinear scaling of RGB565 pictures, channel by channel. */
PIXKIT_API void gScaleRGB565Frame(const uint16_t* src, uint16_t* dst, int32_t srcWidth, int32_t srcHeight,
                                  int32_t dstWidth, int32_t dstHeight);
PIXKIT_API void gScaleRGB565CroppedFrame(const uint16_t* src, uint16_t* dst, int32_t srcWidth,
                                         int32_t srcHeight, int32_t dstWidth, int32_t dstHeight,
                                         int32_t cropX, int32_t cropY, int32_t cropW, int32_t cropH);

#ifdef __cplusplus
}
#endif

#endif
