/* A small C program built against an installed Sonadec: decodes an ADTS
 * file with the decoder's C API and converts a grey YUV frame with Pixkit.
 * Prints "frames N samples M pixel 0xPPPP"; status 0 when both worked. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <aacdec.h>
#include <pixkit.h>

static int decodeFile(const char* path, long* frames, long* samples) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) return -1;
    static uint8_t data[1 << 20];
    const size_t size = fread(data, 1, sizeof data, f);
    fclose(f);
    AacDecoder* d = NULL;
    AacStreamConfig cfg;
    memset(&cfg, 0, sizeof cfg);
    int32_t bytes = (int32_t)size;
    if (AacDecCreateHe(&d) != AAC_DEC_OK) return -1;
    if (AacDecParseConfigProbe(data, &bytes, &cfg, 1, NULL, 0) != AAC_DEC_OK || AacDecInit(d, &cfg) != AAC_DEC_OK) {
        AacDecDestroy(d);
        return -1;
    }
    static int16_t pcm[8192];
    size_t at = 0;
    while (at < size) {
        int32_t in = (int32_t)(size - at), out = (int32_t)sizeof pcm;
        if (AacDecDecodeFrame(d, data + at, &in, pcm, &out) != AAC_DEC_OK || in <= 0) break;
        at += (size_t)in;
        *frames += 1;
        *samples += out / 2;
    }
    AacDecDestroy(d);
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: consumer FILE.adts\n");
        return 2;
    }
    long frames = 0, samples = 0;
    if (decodeFile(argv[1], &frames, &samples) != 0 || frames == 0) {
        fprintf(stderr, "consumer: decoding failed\n");
        return 1;
    }
    uint8_t y[16 * 16], u[8 * 8], v[8 * 8];
    memset(y, 128, sizeof y);
    memset(u, 128, sizeof u);
    memset(v, 128, sizeof v);
    ImageFrame src = {y, u, v, 16, 16};
    uint16_t rgb[16 * 16];
    memset(rgb, 0, sizeof rgb);
    if (gYUV420toBGR565TopDown_Rotate(&src, rgb, 0, 0, 16, 16, 0, 0, 16, 16, 0) != 0) {
        fprintf(stderr, "consumer: conversion failed\n");
        return 1;
    }
    /* Grey: equal red and blue, green twice as fine, the same everywhere. */
    const unsigned r = rgb[0] >> 11, g = (rgb[0] >> 5) & 63, b = rgb[0] & 31;
    for (int i = 1; i < 16 * 16; ++i)
        if (rgb[i] != rgb[0]) return 1;
    if (r == 0 || r != b || (g >> 1) != r) {
        fprintf(stderr, "consumer: grey came out as 0x%04x\n", rgb[0]);
        return 1;
    }
    printf("frames %ld samples %ld pixel 0x%04x\n", frames, samples, rgb[0]);
    return 0;
}
