// sonadec: command-line front end of the AAC decoder.
//   sonadec info IN    print the stream configuration
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aacdec.h"

namespace {

bool readFile(const char* path, std::vector<uint8_t>* out) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    std::fclose(f);
    return true;
}

const char* profileName(int32_t profile) {
    return profile == 1 ? "AAC-LC" : profile == 3 ? "AAC-LTP" : "unknown";
}

int info(const char* path) {
    std::vector<uint8_t> data;
    if (!readFile(path, &data)) {
        std::fprintf(stderr, "sonadec: cannot read %s\n", path);
        return 1;
    }
    AacStreamConfig cfg{};
    int32_t bytes = static_cast<int32_t>(data.size());
    if (AacDecParseConfigProbe(data.data(), &bytes, &cfg, 1, nullptr, 0) != AAC_DEC_OK) {
        std::fprintf(stderr, "sonadec: %s: not a supported ADTS or ADIF stream\n", path);
        return 1;
    }
    const bool adif = data.size() >= 4 && std::memcmp(data.data(), "ADIF", 4) == 0;
    std::printf("file:            %s\n", path);
    std::printf("form:            %s\n", adif ? "ADIF" : "ADTS");
    std::printf("profile:         %s%s\n", profileName(cfg.profile),
                cfg.extensionType == 5 ? " + SBR (HE-AAC)" : "");
    std::printf("core rate:       %d Hz\n", cfg.sampleRate);
    std::printf("output rate:     %d Hz\n", cfg.outputSampleRate);
    std::printf("channels:        %d\n", cfg.channels);
    std::printf("bytes per frame: %d\n", cfg.outputBytesPerFrame);
    std::printf("header bytes:    %d\n", bytes);
    return 0;
}

void usage() { std::fprintf(stderr, "usage: sonadec info IN\n"); }

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "info") == 0) return info(argv[2]);
    usage();
    return 2;
}
