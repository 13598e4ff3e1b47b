// sonadec: command-line front end of the AAC decoder.
//   sonadec info IN               print the stream configuration
//   sonadec decode IN -o OUT.wav  decode to a 16-bit WAV file
// IN is an ADTS or ADIF file, or an .idx file naming raw access units and
// their AudioSpecificConfig.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "decode_stream.h"
#include "stream_input.h"
#include "wav.h"

namespace {

const char* profileName(int32_t profile) {
    return profile == 1 ? "AAC-LC" : profile == 3 ? "AAC-LTP" : "unknown";
}

void printFormat(const char* path, const StreamInput& in, const AacStreamConfig& cfg) {
    std::printf("file:        %s\n", path);
    std::printf("form:        %s\n", streamFormName(in.form));
    std::printf("profile:     %s%s\n", profileName(cfg.profile),
                cfg.extensionType == 5 ? " + SBR (HE-AAC)" : "");
    std::printf("core rate:   %d Hz\n", cfg.sampleRate);
    std::printf("output:      %d Hz, %d channel%s, %d bytes per frame\n", cfg.outputSampleRate,
                cfg.channels, cfg.channels == 1 ? "" : "s", cfg.outputBytesPerFrame);
}

bool load(const char* path, StreamInput* in) {
    std::string error;
    if (!loadStreamInput(path, in, &error)) {
        std::fprintf(stderr, "sonadec: %s\n", error.c_str());
        return false;
    }
    return true;
}

int info(const char* path) {
    StreamInput in;
    if (!load(path, &in)) return 1;
    AacStreamConfig cfg{};
    int32_t bytes = 0;
    int32_t rc;
    if (in.form == StreamInput::kRawUnits) {
        bytes = static_cast<int32_t>(in.asc.size());
        rc = AacDecParseConfigProbe(in.asc.data(), &bytes, &cfg, 0, in.bytes.data(),
                                    in.unitSizes.empty() ? 0 : static_cast<int32_t>(in.unitSizes[0]));
    } else {
        size_t at = 0;
        while (in.form == StreamInput::kAdts && at + 1 < in.bytes.size() &&
               !(in.bytes[at] == 0xFF && (in.bytes[at + 1] & 0xF0) == 0xF0))
            ++at;
        bytes = static_cast<int32_t>(in.bytes.size() - at);
        rc = AacDecParseConfigProbe(in.bytes.data() + at, &bytes, &cfg, 1, nullptr, 0);
    }
    if (rc != AAC_DEC_OK) {
        std::fprintf(stderr, "sonadec: %s: not a stream this decoder plays\n", path);
        return 1;
    }
    printFormat(path, in, cfg);
    return 0;
}

void showProgress(double fraction, void*) {
    std::fprintf(stderr, "\r%5.1f%%", fraction * 100.0);
    std::fflush(stderr);
}

int decode(const char* path, const char* outPath) {
    StreamInput in;
    if (!load(path, &in)) return 1;
    DecodeOptions options;
    const bool longFile = in.bytes.size() > (1u << 20);
    if (longFile) options.progress = showProgress;
    DecodedAudio audio;
    std::string error;
    const auto t0 = std::chrono::steady_clock::now();
    if (!decodeWithApi(in, options, &audio, &error)) {
        std::fprintf(stderr, "sonadec: %s: %s\n", path, error.c_str());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (longFile) std::fprintf(stderr, "\r100.0%%\n");
    const int32_t channels = outputChannels(audio);
    const int32_t rate = outputRate(audio);
    if (!writeWav(outPath, audio.pcm, channels, rate)) {
        std::fprintf(stderr, "sonadec: cannot write %s\n", outPath);
        return 1;
    }
    printFormat(path, in, audio.config);
    const double duration = static_cast<double>(audio.pcm.size()) / channels / rate;
    std::printf("decoded:     %d frames, %.3f s of audio", audio.framesDecoded, duration);
    if (audio.failedCalls > 0) std::printf(", %d damaged frames skipped", audio.failedCalls);
    std::printf("\nspeed:       %.0fx realtime\n", seconds > 0 ? duration / seconds : 0.0);
    std::printf("wrote:       %s\n", outPath);
    return 0;
}

void usage() {
    std::fprintf(stderr,
                 "usage: sonadec info IN\n"
                 "       sonadec decode IN -o OUT.wav\n"
                 "IN: an ADTS (.aac/.adts) or ADIF file, or an .idx file of raw access units\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "info") == 0) return info(argv[2]);
    if (argc == 5 && std::strcmp(argv[1], "decode") == 0 && std::strcmp(argv[3], "-o") == 0)
        return decode(argv[2], argv[4]);
    usage();
    return 2;
}
