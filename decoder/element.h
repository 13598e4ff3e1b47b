// Per-element parse state: built on the stack for each channel element of a
// raw data block and discarded after it. A channel pair shares one record;
// everything per channel lives in ics[0] / ics[1].
#pragma once

#include <cstdint>

enum WindowSequence : uint8_t {
    kOnlyLong = 0,
    kLongStart = 1,
    kEightShort = 2,
    kLongStop = 3,
};

inline constexpr int32_t kMaxBands = 120; // 8 groups x 15 short bands, or 51 long bands
inline constexpr int32_t kMaxTnsFilters = 4;
inline constexpr int32_t kMaxLtpLongBands = 60;

enum SpecialCodebook : uint8_t {
    kZeroHcb = 0,
    kEscHcb = 11,
    kReservedHcb = 12,
    kNoiseHcb = 13,
    kIntensityHcb2 = 14, // out of phase
    kIntensityHcb = 15,  // in phase
};

struct PulseData {
    uint8_t present;
    uint8_t numberPulse;   // count - 1
    uint8_t startSfb;
    uint8_t offset[4];
    uint8_t amp[4];
};

struct TnsFilter {
    uint8_t length;
    uint8_t order;
    uint8_t direction;
    uint8_t coefCompress;
    int8_t coef[32];       // raw coefficient fields, as transmitted
};

struct TnsData {
    uint8_t nFilt[8];      // per window
    uint8_t coefRes[8];    // per window
    TnsFilter filter[8][kMaxTnsFilters];
};

struct LtpData {
    uint8_t dataPresent;
    uint16_t lag;          // 11 bits
    uint8_t coef;          // 3 bits
    uint8_t shortUsed[8];
    uint8_t shortLagPresent[8];
    uint8_t shortLag[8];
    uint8_t longUsed[kMaxLtpLongBands];
};

struct IcsState {
    uint8_t globalGain;
    uint8_t icsReservedBit;
    uint8_t windowSequence;
    uint8_t windowShape;
    uint8_t maxSfb;
    uint8_t scaleFactorGrouping;
    uint8_t predictorDataPresent;
    uint8_t numWindowGroups;        // 1..8
    uint8_t windowGroupLength[8];
    uint8_t codebook[kMaxBands];    // group x bandCount + band
    int16_t scaleFactor[kMaxBands]; // same indexing
    PulseData pulse;
    uint8_t tnsDataPresent;
    TnsData tns;
    uint8_t gainControlDataPresent;
    LtpData ltp;
    uint8_t noiseBandsPresent;      // set by the spectral data parser
};

struct ElementState {
    uint8_t kind;                   // 1 = single channel element, 2 = channel pair
    uint8_t commonWindow;
    uint8_t msMaskPresent;          // 2 bits
    uint8_t msUsed[kMaxBands];      // group x bandCount + band
    int32_t noiseState;             // running noise generator state of a channel's pass
    int32_t correlatedNoiseState;   // saved generator state for M/S-correlated noise bands
    IcsState ics[2];
};
