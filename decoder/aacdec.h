/* Sonadec fixed-point AAC decoder: public C API.
 *
 * Calling order: create -> fill an AacStreamConfig (AacDecParseConfig or
 * AacDecParseConfigProbe) -> AacDecInit -> AacDecDecodeFrame repeatedly ->
 * AacDecDestroy. Every call returns one of the result codes below. */
#ifndef SONADEC_AACDEC_H
#define SONADEC_AACDEC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AAC_DEC_OK                    0
#define AAC_DEC_ERROR                 (-1)
#define AAC_DEC_ERR_NOMEM             (-2)
#define AAC_DEC_ERR_OUTPUT_TOO_SMALL  (-2002)

/* Stream description exchanged between the configuration parsers, AacDecInit
 * and the caller. Eight signed 32-bit fields, in this order. */
typedef struct AacStreamConfig {
    int32_t outputBytesPerFrame; /* PCM bytes one decoded frame produces */
    int32_t frameLength;         /* samples per channel per core frame: 1024 */
    int32_t sampleRate;          /* core sampling rate, Hz */
    int32_t channels;            /* 1 or 2; 0 = not known yet */
    int32_t profile;             /* audio object type - 1: 1 = LC, 3 = LTP */
    int32_t outputSampleRate;    /* rate of the PCM delivered, Hz */
    int32_t extensionType;       /* 0 = none, 5 = SBR */
    int32_t singleRateOutput;    /* 1 = PCM at the core rate, 0 = at twice it */
} AacStreamConfig;

typedef struct AacDecoder AacDecoder;

/* Plain instance (no SBR state). 0, or -2 for a null `out` or no memory. */
int32_t AacDecCreate(AacDecoder** out);
/* Instance with two SBR channel states (HE-AAC). 0 or -2. */
int32_t AacDecCreateHe(AacDecoder** out);
/* -1 for a null decoder, else frees the instance and returns 0. */
int32_t AacDecDestroy(AacDecoder* d);
/* Validates and applies a configuration, clearing all history. 0 or -1.
 * Writes back outputSampleRate, singleRateOutput and outputBytesPerFrame. */
int32_t AacDecInit(AacDecoder* d, AacStreamConfig* cfg);
/* Decodes one raw data block.
 * *inOutBytes: in = bytes at `data`, out = bytes consumed.
 * *inOutPcmBytes: in = capacity of `pcm` in bytes, out = bytes written.
 * 0, -1 (bad argument, bitstream error, lost sync, rate change; nothing
 * consumed) or -2002 (output buffer too small; nothing consumed). */
int32_t AacDecDecodeFrame(AacDecoder* d, const uint8_t* data, int32_t* inOutBytes,
                          int16_t* pcm, int32_t* inOutPcmBytes);

/* Fills `cfg` from an AudioSpecificConfig (mode 0) or from the start of an
 * ADTS or ADIF stream (any other mode). *inOutBytes: in = bytes at `data`,
 * out = header bytes consumed (also on failure). 0 or -1. */
int32_t AacDecParseConfig(const uint8_t* data, int32_t* inOutBytes, AacStreamConfig* cfg,
                          int32_t mode);
/* As AacDecParseConfig, then a trial decode of one access unit that finds
 * SBR the configuration does not announce and, for ADTS channel
 * configuration 0, the channel count. Mode 0 probes `unit`; other modes probe
 * the bytes after the header. 0 or -1. */
int32_t AacDecParseConfigProbe(const uint8_t* data, int32_t* inOutBytes, AacStreamConfig* cfg,
                               int32_t mode, const uint8_t* unit, int32_t unitBytes);

#ifdef __cplusplus
}
#endif

#endif
