// Fuzz target: the frame API over a stream. The first byte picks a
// configuration (one of a few real ones, or an ADTS stream), the rest is fed
// to AacDecDecodeFrame call after call, skipping a byte after each failure.
// The work per input is bounded (a few frames' worth of calls over the
// first bytes) so that the fuzzer tries many inputs rather than long ones.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "aacdec.h"

namespace {

constexpr size_t kMaxStreamBytes = 2048;
constexpr int kMaxCalls = 4;

AacStreamConfig pickConfig(uint8_t selector) {
    // Bits 0-2 and 6 pick the rate: the first eight as before, then the rest.
    static const int32_t kRates[16] = {8000,  16000, 22050, 24000, 32000, 44100, 48000, 96000,
                                       12000, 11025, 64000, 88200, 24000, 22050, 16000, 12000};
    AacStreamConfig c{};
    c.frameLength = 1024;
    c.sampleRate = kRates[(selector & 7) | ((selector >> 3) & 8)];
    c.channels = 1 + ((selector >> 3) & 1);
    c.profile = (selector >> 4) & 1 ? 3 : 1;
    c.outputSampleRate = c.sampleRate;
    if ((selector >> 5) & 1) {
        c.extensionType = 5;
        c.outputSampleRate = 2 * c.sampleRate;
    }
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> stream(data + 1, data + (size - 1 > kMaxStreamBytes ? 1 + kMaxStreamBytes : size));
    AacDecoder* d = nullptr;
    if (AacDecCreateHe(&d) != AAC_DEC_OK) return 0;
    AacStreamConfig cfg = pickConfig(data[0]);
    if (AacDecInit(d, &cfg) == AAC_DEC_OK) {
        std::vector<int16_t> pcm(cfg.outputBytesPerFrame / 2);
        size_t at = 0;
        for (int calls = 0; at < stream.size() && calls < kMaxCalls; ++calls) {
            // The rest of an exact-size block: a read past the end is caught.
            const int32_t left = static_cast<int32_t>(stream.size() - at);
            int32_t in = left;
            int32_t out = static_cast<int32_t>(pcm.size() * 2);
            const int32_t rc = AacDecDecodeFrame(d, stream.data() + at, &in, pcm.data(), &out);
            if (rc == AAC_DEC_OK && in > 0 && in <= left)
                at += static_cast<size_t>(in);
            else
                at += 1;
        }
    }
    AacDecDestroy(d);
    return 0;
}
