// The SBR stage as the AAC core sees it: per-channel state, per-frame data,
// and the three calls the core makes. Low-power SBR itself is not built yet;
// until it is, the state holds what the core configures and the channel
// stage carries the core band to the output rate.
#pragma once

#include <cstdint>

struct BitReader;

struct SbrChannelState {
    int32_t sbrSampleRate; // twice the core rate (also when downsampled)
    uint8_t parseOnly;     // 1 for a state made by the configuration probe
    uint8_t noHeaderYet;
    uint8_t sbrRateIndex;  // index of sbrSampleRate in the rate table
    uint8_t outputMode;    // 2 = dual rate (2048 samples), 1 = downsampled (1024)
};

struct SbrFrameData {
    uint8_t channelIndex;   // which sbrChannel state the frame belongs to
    uint8_t elementType;    // 0 single channel element, 1 channel pair element
    uint8_t sbrDataPresent;
};

// Applies a rate factor (1 or 2) and the SBR rate to a state and resets it.
void SbrConfigureChannel(SbrChannelState* s, int32_t rateFactor, int32_t sbrRate, int32_t rateIndex);
void SbrResetChannels(SbrChannelState* const channels[2]);

// Parses one SBR extension payload. Returns bits read, or -1.
int32_t SbrParsePayload(SbrChannelState** slot, SbrFrameData* frame, BitReader* r, int32_t crc);

// Reads the channel's 1024 core samples at pcm[0], pcm[stride], ... and writes
// its output over them in place. Returns samples written (2048 or 1024).
int32_t SbrProcessChannel(SbrFrameData* frame, SbrChannelState* const channels[2], int16_t* pcm,
                          int32_t stride, int32_t* qmfBuffer);
