// Decoding through the registered AAC media object, as a media framework
// does: find it in the DMO registry, create it with CoCreateInstance,
// negotiate the types and stream the input in fixed-size buffers that do
// not line up with frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "decode_stream.h"
#include "stream_input.h"

struct MediaObjectAudio {
    std::vector<int16_t> pcm; // interleaved
    int32_t sampleRate = 0;
    int32_t channels = 0;
    uint32_t frames = 0;       // ProcessOutput calls that gave PCM
    uint32_t failedFrames = 0; // ProcessOutput calls that returned a failure
};

// What the media object is given for a stream: the AudioSpecificConfig,
// the first access unit (for the configuration-plus-unit subtype) and the
// bytes to stream (ADTS from the first sync word, ADIF without its header,
// raw units back to back).
struct MediaObjectInput {
    std::vector<uint8_t> asc;
    std::vector<uint8_t> firstUnit;
    std::vector<uint8_t> payload;
    int32_t channels = 0;
    int32_t sampleRate = 0;
};

bool prepareMediaObjectInput(const StreamInput& in, MediaObjectInput* out, std::string* error);

// Progress: bytes of the payload handed to the media object so far, and
// its total.
using DecodeProgress = std::function<void(size_t done, size_t total)>;

// Decodes `in` through the media object with input buffers of
// `inputBufferSize` bytes. `useProbeSubtype` selects the subtype
// {F8C0A945-...} (configuration and first access unit, SBR found by the
// probe); otherwise {0000A106-...} (configuration only). Frames that fail
// to decode are counted, not fatal. Returns false with *error when the
// media object cannot be found, created or configured.
bool decodeWithMediaObject(const StreamInput& in, size_t inputBufferSize, bool useProbeSubtype, MediaObjectAudio* out,
                           std::string* error, const DecodeProgress& progress = nullptr);

// Streaming form of the above: the stream is read piece by piece from
// `reader` and the PCM handed to `sink` frame by frame, so memory does not
// grow with the input. Set-up failures (nothing registered, type refused)
// return false before `sink.begin` is called.
bool decodeStreamWithMediaObject(StreamReader& reader, size_t inputBufferSize, bool useProbeSubtype, PcmSink& sink,
                                 StreamDecodeStats* stats, std::string* error, StreamProgress progress = nullptr,
                                 void* progressUser = nullptr);
