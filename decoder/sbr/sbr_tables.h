// Constant SBR tables: the standard's Huffman trees, start offsets and noise
// table (generated from the ISO data), and the small tables of the band rules.
#pragma once

#include <cstdint>

// Huffman decoding trees: node pairs of signed bytes; pair n holds the
// successor for bit 0 and for bit 1; a non-negative entry is the next pair,
// a negative one a leaf whose value is entry + 64.
extern const int8_t t_huffman_env_1_5dB[][2];
extern const int8_t f_huffman_env_1_5dB[][2];
extern const int8_t t_huffman_env_bal_1_5dB[][2];
extern const int8_t f_huffman_env_bal_1_5dB[][2];
extern const int8_t t_huffman_env_3_0dB[][2];
extern const int8_t f_huffman_env_3_0dB[][2];
extern const int8_t t_huffman_env_bal_3_0dB[][2];
extern const int8_t f_huffman_env_bal_3_0dB[][2];
extern const int8_t t_huffman_noise_3_0dB[][2];
extern const int8_t t_huffman_noise_bal_3_0dB[][2];

// Pairs of each tree, in the order above.
inline constexpr int32_t kSbrHuffmanPairs[10] = {120, 120, 48, 48, 62, 62, 24, 24, 62, 24};

extern const int8_t kSbrStartOffset[6][16];   // rows by rate class, see kSbrStartOffsetRow
extern const uint8_t kSbrStartOffsetRow[9];   // row of each SBR rate index
extern const uint8_t kSbrStartMin[9];
extern const uint8_t kSbrStopTable[9][14];
extern const uint8_t kSbrGoalSb[9];
extern const uint8_t kSbrNoiseReciprocal[5];  // 128 / 1 .. 128 / 5, nearest
extern const uint8_t kSbrBandsPerOctave[3];   // bs_freq_scale 1..3
extern const uint32_t kSbrLog2Odd[32];        // log2 of 1, 3, .., 63 in Q29
extern const uint16_t kSbrPow2Table[65];      // 2^(i/64) in Q15, the last held at 65535
extern const int16_t kSbrNoiseTableReal[512]; // real parts of the noise table, Q15
