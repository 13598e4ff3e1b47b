// The MP4 demuxer as a loadable module. The CLI loads it only when an input
// looks like MP4, so that runs on other forms never pay for the container
// library's start-up. Plain C across the boundary: the module and the tool
// share no C++ types.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define SONADEC_MP4_MODULE_NAME "libsonadec_mp4.so"
#define SONADEC_MP4_ENTRY "sonadecMp4Module"
// Raised whenever the table below changes shape.
#define SONADEC_MP4_ABI 1

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SonadecMp4 SonadecMp4;

// Reads up to n bytes at the current position; the count, 0 at the end.
typedef size_t (*SonadecMp4Read)(void* ctx, uint8_t* dst, size_t n);
// Moves to an absolute offset; non-zero on success.
typedef int (*SonadecMp4Seek)(void* ctx, uint64_t offset);

typedef struct SonadecMp4Module {
    uint32_t abi;
    // Parses the container and picks its first AAC track. Null with the
    // reason in err (always terminated) when it cannot.
    SonadecMp4* (*open)(SonadecMp4Read read, SonadecMp4Seek seek, void* ctx, uint64_t size, char* err,
                        size_t errSize);
    void (*close)(SonadecMp4* m);
    const uint8_t* (*config)(const SonadecMp4* m, size_t* n);
    // Access units the track declares, 0 when unknown.
    uint64_t (*unitCount)(const SonadecMp4* m);
    // The next access unit, valid until the next call: 1, or 0 at the end,
    // or -1 on a read error (see lastError).
    int (*nextUnit)(SonadecMp4* m, const uint8_t** data, size_t* n);
    const char* (*lastError)(const SonadecMp4* m);
} SonadecMp4Module;

typedef const SonadecMp4Module* (*SonadecMp4Entry)(void);

#ifdef __cplusplus
}
#endif
