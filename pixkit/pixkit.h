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

/* Other YUV to RGB conversions. Each uses fixed-point coefficients for
 * ITU-R BT.601 or BT.709 colour; the RGB565 outputs dither as the display
 * conversion's codes 2 and 3 do. */

/* Planar 4:2:0 (or 4:2:2) window to RGB565 rows in memory order: code 0
 * upright, 1 and 3 the clockwise and anticlockwise quarter turns, 2 the half
 * turn. Clipped sizes are rounded down to even. gYUV420toRGB16Rotate returns 1
 * after converting, gYUV422toRGB16Rotate 0; both return -1 for a null pointer,
 * a rotation above 3 or a window starting outside the frame or destination. */
PIXKIT_API int32_t gYUV420toRGB16Rotate(const ImageFrame* src, uint16_t* dst, int32_t dstStride, int32_t dstHeight,
                                        int32_t dstX, int32_t dstY, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, int32_t rotation);
PIXKIT_API int32_t gYUV422toRGB16Rotate(const ImageFrame* src, uint16_t* dst, int32_t dstStride, int32_t dstHeight,
                                        int32_t dstX, int32_t dstY, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, int32_t rotation);

/* Planar 4:2:2 with the walks of gYUV420toBGR565TopDown_Rotate; for rotations
 * 1 and 3 dstHeight is the destination row length and dstStride the number of
 * rows. */
PIXKIT_API int32_t gYUV422HPlanartoBGR565TopDown_Rotate(const ImageFrame* src, uint16_t* dst, uint16_t srcX,
                                                        uint16_t srcY, uint16_t width, uint16_t height,
                                                        uint16_t dstX, uint16_t dstY, uint16_t dstStride,
                                                        uint16_t dstHeight, uint8_t rotation);

/* Whole frames from the source's top-left into packed rows of `width` rounded
 * down to even pixels; topDown (low 8 bits) zero writes the rows bottom-up. */
PIXKIT_API void gPvYUV420toRGB565TopDown(const ImageFrame* src, uint16_t* dst, int32_t width, int32_t height,
                                         int32_t topDown);
PIXKIT_API void gPvYUV420toRGB888TopDown(const ImageFrame* src, uint8_t* dst, int32_t width, int32_t height,
                                         int32_t topDown); /* bytes R, G, B */
PIXKIT_API void gYUV422HPlanartoBGR888TopDown(const ImageFrame* src, uint8_t* dst, int32_t width, int32_t height,
                                              int32_t topDown); /* bytes B, G, R */
PIXKIT_API void gYUV422HPlanartoRGB888TopDown(const ImageFrame* src, uint8_t* dst, int32_t width, int32_t height,
                                              int32_t topDown); /* the same function */

/* Whole 4:2:0 frame to B, G, R bytes, rows of dstStride bytes. Returns 0, or -1
 * for a null pointer or dstStride < 3 x width. */
PIXKIT_API int32_t gYUV420toBGR24(const ImageFrame* src, uint8_t* dst, int32_t dstStride);

/* Planar 4:4:4 to RGB565 rows of `width` pixels at dst->y. */
PIXKIT_API void gYUV444toRGB16(const ImageFrame* src, const ImageFrame* dst, int32_t width, int32_t height);

/* Packed 4:2:2 windows (src->y holds the frame, width / 2 groups of 4 bytes a
 * row) into a dstStride x dstHeight RGB565 buffer, topDown non-zero in memory
 * order, zero bottom-up. Return 0, or -2 for a null buffer; gVYUYtoRGB565
 * returns -16 and gYUYVtoRGB565 -1 when topDown is above 1. */
PIXKIT_API int32_t gUYVYtoRGB565(const ImageFrame* src, uint16_t* dst, int32_t srcX, int32_t srcY, int32_t width,
                                 int32_t height, int32_t dstX, int32_t dstY, int32_t dstStride, int32_t dstHeight,
                                 int32_t topDown);
PIXKIT_API int32_t gVYUYtoRGB565(const ImageFrame* src, uint16_t* dst, int32_t srcX, int32_t srcY, int32_t width,
                                 int32_t height, int32_t dstX, int32_t dstY, int32_t dstStride, int32_t dstHeight,
                                 int32_t topDown);
PIXKIT_API int32_t gYUYVtoRGB565(const ImageFrame* src, uint16_t* dst, int32_t srcX, int32_t srcY, int32_t width,
                                 int32_t height, int32_t dstX, int32_t dstY, int32_t dstStride, int32_t dstHeight,
                                 int32_t topDown);

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
 * bytes) with a 2 x 2 ordered-dither expansion. Windows are clipped silently
 * and move whole, odd sizes included. Returns 0, or -1 for a null pointer or a
 * rotation above 3. */
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
 * the Cb plane, then the Cr plane, rows packed. gBGR24INTtoYUV420Planar does
 * nothing when srcStride is below 3 x width. */
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
