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

/* Layout conversions, turns and mirrors */

/* Lossless turns of whole planar frames. rotation: 0 none, 1 quarter turn
 * clockwise, 2 half turn, 3 quarter turn anticlockwise; any other value does
 * nothing. Only the plane pointers of dst are read; its size is W x H for codes
 * 0 and 2, H x W for codes 1 and 3. gRotateMonochromeFrame uses plane y only. */
PIXKIT_API void gRotateFrame(const ImageFrame* src, const ImageFrame* dst, uint8_t rotation);
PIXKIT_API void gRotate422Frame(const ImageFrame* src, const ImageFrame* dst, uint8_t rotation);
PIXKIT_API void gRotateMonochromeFrame(const ImageFrame* src, const ImageFrame* dst, uint8_t rotation);

/* Turn a window of an RGB565 picture (srcStride x srcHeight pixels) into a
 * dstStride x dstHeight picture, or into 24-bit B, G, R bytes (dstStride in
 * bytes) with a 2 x 2 ordered-dither expansion. Windows are clipped silently.
 * Returns 0, or -1 for a null pointer or a rotation above 3. */
PIXKIT_API int32_t gRotateRGB16(const uint16_t* src, uint16_t* dst, uint16_t srcStride, uint16_t srcHeight,
                                uint16_t srcX, uint16_t srcY, uint16_t width, uint16_t height, uint16_t dstX,
                                uint16_t dstY, uint16_t dstStride, uint16_t dstHeight, uint8_t rotation);
PIXKIT_API int32_t gRotateRGB16toBGR24(const uint16_t* src, uint8_t* dst, uint16_t srcStride,
                                       uint16_t srcHeight, uint16_t srcX, uint16_t srcY, uint16_t width,
                                       uint16_t height, uint16_t dstX, uint16_t dstY, uint16_t dstHeight,
                                       uint16_t dstStride, uint8_t rotation);

/* Mirrors. mode 1: rows reversed (vertical flip); mode 2: half turn; any other
 * value: each row reversed. gMirrorImageYUV works in place on src unless toDst
 * (low 8 bits) is 1; chroma 0 = 4:2:0, 1 = 4:2:2 planar. */
PIXKIT_API int32_t gMirrorImageRGB565(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height,
                                      int32_t mode);
PIXKIT_API int32_t gMirrorImageYUV(ImageFrame* src, ImageFrame* dst, int32_t chroma, int32_t mode,
                                   int32_t toDst);

/* RGB to planar YUV 4:2:0. "One buffer" destinations hold the luma plane, then
 * the Cb plane, then the Cr plane, rows packed. */
PIXKIT_API void gPvRGB565toYUV420(const uint16_t* src, const ImageFrame* dst, int32_t srcWidth,
                                  int32_t srcHeight);
PIXKIT_API void gPvxRGB565toYUV420_TopDown(const uint16_t* src, uint8_t* dst, int32_t width, int32_t height);
PIXKIT_API void gBGR24INTtoYUV420Planar(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height,
                                        int32_t srcStride);

/* Planar 4:2:0 to packed layouts. */
PIXKIT_API int32_t gYUV420toUYVY(const ImageFrame* src, uint8_t* dst, uint16_t dstStride, uint16_t dstHeight,
                                 uint16_t srcX, uint16_t srcY, uint16_t dstX, uint16_t dstY, uint16_t width,
                                 uint16_t height);
PIXKIT_API int32_t gYUV420toY41P(const ImageFrame* src, uint8_t* dst, uint16_t dstWidth);

/* 4:2:2 (planar or packed) to planar 4:2:0. */
PIXKIT_API int32_t gYUV422htoYUV420(const ImageFrame* src, ImageFrame* dst);
PIXKIT_API int32_t gYUV422toYUV420Ex(const ImageFrame* src, const ImageFrame* dst);
PIXKIT_API int32_t gYUV422toYUV420(const ImageFrame* src, const ImageFrame* dst, int32_t cropX, int32_t cropY,
                                   uint16_t cropW, uint16_t cropH);
PIXKIT_API int32_t gY1UY2VToYUV420(const uint8_t* src, ImageFrame* dst, uint16_t width, uint16_t height);
PIXKIT_API int32_t gY1UY2VToYV12(const uint8_t* src, ImageFrame* dst, uint16_t width, uint16_t height);
PIXKIT_API int32_t gUY1VY2ToYUV420(const uint8_t* src, ImageFrame* dst, uint16_t width, uint16_t height);
PIXKIT_API void YUY2toYUV420(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height);

#ifdef __cplusplus
}
#endif

#endif
