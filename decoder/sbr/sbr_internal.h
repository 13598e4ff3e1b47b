// What the SBR stages share among themselves: the QMF work matrix layout, the
// scratch record behind it, and the entry points of each stage.
#pragma once

#include <cstdint>

#include "sbr/sbr.h"

// The QMF work matrix: rows of 40 columns (column n = envelope slot n - 2),
// rows 0..63 the bands, 64 and 65 spare (65 collects the leakage of a sinusoid
// in band k_x into band k_x - 1), then scratch.
inline constexpr int32_t kSbrQmfColumns = 40;
inline constexpr int32_t kSbrQmfBands = 64;
inline constexpr int32_t kSbrQmfRows = 66;
inline constexpr int32_t kSbrSpareRow = 65;
inline constexpr int32_t kSbrHistoryColumns = 8;   // t_HFGen: columns 0..7 carry the last frame
inline constexpr int32_t kSbrAdjustOffset = 2;     // t_HFAdj: slot s of the envelope grid is column s + 2
inline constexpr int32_t kSbrSlots = 32;           // QMF slots per frame
inline constexpr int32_t kSbrQmfHistoryWords = 528;

// Fixed-point subband samples are the standard's QMF values (analysis of
// 16-bit PCM with the factor 2 of its modulation) times 2^kSbrQmfScaleLog2.
// Analysis writes that scale, synthesis expects it, the adjuster's energies
// are derived from it.
inline constexpr int32_t kSbrQmfScaleLog2 = 8;

inline int32_t* sbrRow(int32_t* matrix, int32_t row) { return matrix + row * kSbrQmfColumns; }
inline const int32_t* sbrRow(const int32_t* matrix, int32_t row) {
    return matrix + row * kSbrQmfColumns;
}

inline constexpr int32_t kSbrAdjustScratchWords = 1536;

// Scratch behind the matrix rows, shared by HF generation and adjustment.
struct SbrScratch {
    uint32_t degree[kSbrQmfBands];      // degree of aliasing, unsigned Q31 (1.0 = 0x80000000)
    int32_t alpha0[32];                 // Q28
    int32_t alpha1[32];                 // Q28
    int32_t reflection[32];             // Q30, -1..1
    int16_t chirp[kSbrMaxNoiseBands];   // Q15
    int16_t pad[3];
    int32_t adjust[kSbrAdjustScratchWords]; // the adjuster's per-band arrays
};

inline SbrScratch* sbrScratch(int32_t* matrix) {
    return reinterpret_cast<SbrScratch*>(matrix + kSbrQmfRows * kSbrQmfColumns);
}
inline constexpr int32_t kSbrMatrixWords =
    kSbrQmfRows * kSbrQmfColumns + static_cast<int32_t>(sizeof(SbrScratch) / 4);

// k_x, the first SBR band; k2, the stop band.
inline int32_t sbrKx(const SbrChannelState* s) { return s->highTable[0]; }
inline int32_t sbrK2(const SbrChannelState* s) { return s->highTable[s->numHigh]; }

// Frequency band tables.
uint32_t SbrLog2(uint32_t n);                        // log2(n) in unsigned Q29; odd part of n below 64
uint32_t SbrPow2(int32_t intPart, uint32_t frac16);  // 2^(intPart + frac16 / 65536), rounded
int32_t SbrBuildMasterTable(SbrChannelState* s);
int32_t SbrBuildBandTables(SbrChannelState* s);
int32_t SbrBuildPatches(SbrChannelState* s);
int32_t SbrUpdateTables(SbrChannelState* s);
int32_t SbrBuildLimiterTable(SbrChannelState* s);

// Payload parsing.
int32_t SbrParseHeader(SbrChannelState* s, BitReader* r);
int32_t SbrParseSingleChannel(SbrChannelState* s, SbrFrameData* f, BitReader* r);
int32_t SbrParseChannelPair(SbrChannelState* const states[2], SbrFrameData f[2], BitReader* r);
int32_t SbrParseGrid(SbrFrameData* f, BitReader* r);
void SbrParseEnvelope(const SbrChannelState* s, SbrFrameData* f, BitReader* r, int32_t balance);
void SbrParseNoise(const SbrChannelState* s, SbrFrameData* f, BitReader* r, int32_t balance);
int32_t SbrHuffmanDecode(BitReader* r, const int8_t (*tree)[2]);
void SbrDecodeEnvelopeDeltas(SbrChannelState* s, SbrFrameData* f);
void SbrDecodeNoiseDeltas(SbrChannelState* s, SbrFrameData* f);
void SbrDequantise(const SbrChannelState* s, SbrFrameData* f);
void SbrDequantiseCoupled(const SbrChannelState* s, SbrFrameData* left, SbrFrameData* right);

// QMF banks. Analysis: 32 slots of 32 samples into columns 8..39 of rows
// 0..31. Synthesis: columns 2..33 of rows 0..63 (or 0..31) into 2048 (1024)
// samples, stride `channels`.
void SbrQmfAnalysis(SbrChannelState* s, const int16_t* pcm, int32_t* matrix, int32_t channels);
void SbrQmfSynthesis64(int32_t* history, const int32_t* matrix, int16_t* pcm, int32_t channels,
                       uint8_t* pos);
void SbrQmfSynthesis32(int32_t* history, const int32_t* matrix, int16_t* pcm, int32_t channels,
                       uint8_t* pos);

// HF generation and adjustment, on rows k_x .. k2 - 1.
void SbrHfGenerate(SbrChannelState* s, const SbrFrameData* f, int32_t* matrix, int32_t* rowKx,
                   SbrScratch* scratch);
void SbrHfAdjust(SbrChannelState* s, const SbrFrameData* f, int32_t* rowKx, SbrScratch* scratch);
