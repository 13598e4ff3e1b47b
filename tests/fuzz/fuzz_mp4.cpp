// Fuzz target: MP4 input as the CLI reads it. The bytes are an MP4 file
// parsed in memory by the demuxer; the first AAC track's configuration and
// a bounded number of its access units then go through the decoder API,
// every unit in a buffer of exactly its size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "aacdec.h"
#include "mp4_demux.h"

namespace {

// The decoder has its own targets; a few units show that what the demuxer
// hands on is decoded safely, and keep the run fast.
constexpr int kMaxUnits = 8;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t pos = 0;
    Mp4Demuxer demux;
    std::string error;
    const bool opened = demux.open(
        [&](uint8_t* dst, size_t n) {
            const size_t k = n < size - pos ? n : size - pos;
            std::memcpy(dst, data + pos, k);
            pos += k;
            return k;
        },
        [&](uint64_t at) {
            if (at > size) return false;
            pos = static_cast<size_t>(at);
            return true;
        },
        size, &error);
    if (!opened) return 0;
    std::vector<uint8_t> unit;
    const bool first = demux.nextUnit(&unit);
    const std::vector<uint8_t>& asc = demux.audioSpecificConfig();
    AacStreamConfig cfg{};
    int32_t bytes = static_cast<int32_t>(asc.size());
    AacDecoder* d = nullptr;
    if (AacDecParseConfigProbe(asc.data(), &bytes, &cfg, 0, first ? unit.data() : nullptr,
                               first ? static_cast<int32_t>(unit.size()) : 0) != AAC_DEC_OK ||
        AacDecCreateHe(&d) != AAC_DEC_OK)
        return 0;
    if (AacDecInit(d, &cfg) == AAC_DEC_OK) {
        std::vector<int16_t> pcm(static_cast<size_t>(cfg.outputBytesPerFrame) / 2);
        bool have = first;
        for (int n = 0; have && n < kMaxUnits; ++n) {
            // An exact-size copy, so a read past the unit is caught.
            std::vector<uint8_t> exact(unit);
            int32_t in = static_cast<int32_t>(exact.size());
            int32_t out = static_cast<int32_t>(pcm.size() * 2);
            AacDecDecodeFrame(d, exact.empty() ? nullptr : exact.data(), &in, pcm.data(), &out);
            have = demux.nextUnit(&unit);
        }
    }
    AacDecDestroy(d);
    return 0;
}
