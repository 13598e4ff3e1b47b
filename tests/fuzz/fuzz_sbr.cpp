// Fuzz target: the SBR stage on its own. The first byte picks the rate,
// the output mode, the element type and the CRC flag; the rest is a run of
// SBR payloads parsed into one pair of channel states, each followed by the
// channel processing of whatever the payload left, so hostile headers and
// envelopes reach the band tables, the HF generator and the adjuster.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bitreader.h"
#include "sbr/sbr_internal.h"

namespace {

constexpr int32_t kSbrRates[9] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000};

struct Instance {
    SbrChannelState states[2];
    SbrChannelBuffers buffers[2];
    SbrFrameData frames[2];
    int32_t matrix[8192];
    int16_t pcm[2 * 2048];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static Instance in;
    const uint8_t selector = data[0];
    const int32_t rateIndex = selector % 9;
    const int32_t mode = (selector >> 4) & 1 ? 2 : 1;
    const int32_t elementType = (selector >> 5) & 1;
    const int32_t crc = (selector >> 6) & 1;
    SbrChannelState* table[2] = {&in.states[0], &in.states[1]};
    for (int i = 0; i < 2; ++i) {
        std::memset(&in.states[i], 0, sizeof(in.states[i]));
        SbrWireChannel(&in.states[i], &in.buffers[i]);
        SbrConfigureChannel(&in.states[i], mode, kSbrRates[rateIndex], rateIndex);
    }
    SbrResetChannels(table);

    // The payload bytes double as the core's PCM, so the signal is hostile too.
    std::vector<uint8_t> bytes(data + 1, data + size);
    BitReader r;
    start(&r, bytes.data(), static_cast<int32_t>(bytes.size()));
    for (int payload = 0; payload < 6 && r.bitsConsumed < 8 * static_cast<int32_t>(bytes.size()); ++payload) {
        const int32_t channels = elementType ? 2 : 1;
        for (int c = 0; c < 2; ++c) {
            SbrInitFrame(&in.frames[c], c);
            in.frames[c].elementType = static_cast<uint8_t>(elementType);
        }
        SbrParsePayload(table, in.frames, &r, crc);
        for (int32_t i = 0; i < 2 * 2048; ++i)
            in.pcm[i] = static_cast<int16_t>((bytes[(static_cast<size_t>(i) * 7 + payload) % bytes.size()] << 8) |
                                             bytes[(static_cast<size_t>(i) * 3) % bytes.size()]);
        for (int32_t c = 0; c < channels; ++c) SbrProcessChannel(&in.frames[c], table, in.pcm + c, 2, in.matrix);
    }
    return 0;
}
