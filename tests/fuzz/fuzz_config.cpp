// Fuzz target: the configuration parsers, with and without the trial decode.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "aacdec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t mode = data[0] & 1;
    const size_t split = 1 + (size > 2 ? data[1] % (size - 1) : 0);
    // Exact-size copies so that any read past what was given is caught.
    std::vector<uint8_t> head(data + 1, data + split);
    std::vector<uint8_t> unit(data + split, data + size);
    AacStreamConfig cfg{};
    int32_t bytes = static_cast<int32_t>(head.size());
    AacDecParseConfig(head.data(), &bytes, &cfg, mode);
    bytes = static_cast<int32_t>(head.size());
    AacStreamConfig probed{};
    if (AacDecParseConfigProbe(head.data(), &bytes, &probed, mode, unit.data(),
                               static_cast<int32_t>(unit.size())) == AAC_DEC_OK) {
        AacDecoder* d = nullptr;
        if (AacDecCreateHe(&d) == AAC_DEC_OK) {
            AacDecInit(d, &probed);
            AacDecDestroy(d);
        }
    }
    return 0;
}
