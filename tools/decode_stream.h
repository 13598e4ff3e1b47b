// Decodes a whole stream through the decoder API, the way an embedding
// application would: configure from the stream's own header or
// AudioSpecificConfig, then one AacDecDecodeFrame call per raw data block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "aacdec.h"
#include "stream_input.h"

struct DecodedAudio {
    AacStreamConfig config{};          // after AacDecInit
    std::vector<int16_t> pcm;          // interleaved
    int64_t samples = 0;               // interleaved samples decoded (kept or not)
    int32_t framesDecoded = 0;
    int32_t failedCalls = 0;           // calls that returned -1 (bad bytes skipped)
    std::vector<int32_t> consumed;     // bytes consumed by each successful call
};

struct DecodeOptions {
    bool stopAtFirstError = false;
    // Count the samples but keep no PCM (benchmarks: output stays in one frame buffer).
    bool discardPcm = false;
    // Ask for SBR output at the core rate (the 32-band synthesis).
    bool singleRate = false;
    // Called now and then with the fraction of the input done (0..1).
    void (*progress)(double fraction, void* user) = nullptr;
    void* progressUser = nullptr;
};

// Returns true when the stream was configured (even if some frames then
// failed); false with *error set when it was refused.
bool decodeWithApi(const StreamInput& in, const DecodeOptions& options, DecodedAudio* out,
                   std::string* error);

int32_t outputChannels(const DecodedAudio& a);
int32_t outputRate(const DecodedAudio& a);

// ---- Streaming: input read piece by piece, PCM handed on frame by frame.

class StreamReader;

// Receives the decoded PCM: the format once, before any samples, then
// interleaved samples frame by frame. A false return stops the decode.
class PcmSink {
public:
    virtual ~PcmSink() = default;
    virtual bool begin(int32_t channels, int32_t sampleRate) = 0;
    virtual bool write(const int16_t* samples, size_t count) = 0;
};

struct StreamDecodeStats {
    AacStreamConfig config{};   // API path: after AacDecInit
    int32_t channels = 0;
    int32_t sampleRate = 0;
    uint64_t samples = 0;       // interleaved samples handed to the sink
    uint32_t frames = 0;        // frames that gave PCM
    uint32_t failedFrames = 0;  // frames (or calls) that failed and were skipped
    bool sinkFailed = false;    // the sink refused samples
};

// Progress: input done so far and its total, in the reader's units.
using StreamProgress = void (*)(uint64_t done, uint64_t total, void* user);

// Decodes through the decoder API, keeping a bounded window of the input in
// memory. False with *error when the stream cannot be configured, the
// reader fails or the sink refuses samples.
bool decodeStreamWithApi(StreamReader& reader, PcmSink& sink, StreamDecodeStats* stats, std::string* error,
                         StreamProgress progress = nullptr, void* progressUser = nullptr);
