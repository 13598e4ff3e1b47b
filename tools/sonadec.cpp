// sonadec: command-line front end of the AAC decoder.
//   sonadec info IN               print the stream configuration
//   sonadec decode IN -o OUT.wav [--api] [--buffer BYTES] [--config-only]
//                                 decode to a 16-bit WAV file, through the
//                                 registered media object (the API directly
//                                 with --api, or when none is registered)
// IN is an ADTS or ADIF file, or an .idx file naming raw access units and
// their AudioSpecificConfig.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decode_stream.h"
#include "dmo_client.h"
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

struct DecodeRequest {
    const char* path = nullptr;
    const char* outPath = nullptr;
    bool api = false;
    bool configOnly = false; // the {0000A106-...} subtype: no probe unit
    size_t buffer = 4096;
};

void showMediaObjectProgress(size_t done, size_t total) {
    if (total > (1u << 20)) showProgress(static_cast<double>(done) / static_cast<double>(total), nullptr);
}

int decode(const DecodeRequest& req) {
    StreamInput in;
    if (!load(req.path, &in)) return 1;
    const bool longFile = in.bytes.size() > (1u << 20);
    std::vector<int16_t> pcm;
    int32_t channels = 0, rate = 0, frames = 0, failed = 0;
    AacStreamConfig shown{};
    std::string error, via;
    const auto t0 = std::chrono::steady_clock::now();
    bool done = false;
    if (!req.api) {
        MediaObjectAudio audio;
        std::string dmoError;
        if (decodeWithMediaObject(in, req.buffer, !req.configOnly, &audio, &dmoError, showMediaObjectProgress)) {
            pcm = std::move(audio.pcm);
            channels = audio.channels;
            rate = audio.sampleRate;
            frames = static_cast<int32_t>(audio.frames);
            failed = static_cast<int32_t>(audio.failedFrames);
            via = "media object (" + std::to_string(req.buffer) + "-byte input buffers)";
            done = true;
        } else {
            std::fprintf(stderr, "sonadec: media object: %s; decoding through the API\n", dmoError.c_str());
        }
    }
    if (!done) {
        DecodeOptions options;
        if (longFile) options.progress = showProgress;
        DecodedAudio audio;
        if (!decodeWithApi(in, options, &audio, &error)) {
            std::fprintf(stderr, "sonadec: %s: %s\n", req.path, error.c_str());
            return 1;
        }
        pcm = std::move(audio.pcm);
        channels = outputChannels(audio);
        rate = outputRate(audio);
        frames = audio.framesDecoded;
        failed = audio.failedCalls;
        shown = audio.config;
        via = "decoder API";
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (longFile) std::fprintf(stderr, "\r100.0%%\n");
    if (channels <= 0 || rate <= 0) {
        std::fprintf(stderr, "sonadec: %s: nothing decoded\n", req.path);
        return 1;
    }
    if (!writeWav(req.outPath, pcm, channels, rate)) {
        std::fprintf(stderr, "sonadec: cannot write %s\n", req.outPath);
        return 1;
    }
    std::printf("file:        %s\n", req.path);
    std::printf("form:        %s\n", streamFormName(in.form));
    if (shown.channels != 0)
        std::printf("profile:     %s%s\n", profileName(shown.profile), shown.extensionType == 5 ? " + SBR (HE-AAC)" : "");
    std::printf("output:      %d Hz, %d channel%s, 16-bit PCM\n", rate, channels, channels == 1 ? "" : "s");
    std::printf("through:     %s\n", via.c_str());
    const double duration = static_cast<double>(pcm.size()) / channels / rate;
    std::printf("decoded:     %d frames, %.3f s of audio", frames, duration);
    if (failed > 0) std::printf(", %d damaged frames skipped", failed);
    std::printf("\nspeed:       %.0fx realtime\n", seconds > 0 ? duration / seconds : 0.0);
    std::printf("wrote:       %s\n", req.outPath);
    return 0;
}

void usage() {
    std::fprintf(stderr,
                 "usage: sonadec info IN\n"
                 "       sonadec decode IN -o OUT.wav [--api] [--buffer BYTES] [--config-only]\n"
                 "IN: an ADTS (.aac/.adts) or ADIF file, or an .idx file of raw access units\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "info") == 0) return info(argv[2]);
    if (argc >= 5 && std::strcmp(argv[1], "decode") == 0 && std::strcmp(argv[3], "-o") == 0) {
        DecodeRequest req;
        req.path = argv[2];
        req.outPath = argv[4];
        for (int i = 5; i < argc; ++i) {
            if (std::strcmp(argv[i], "--api") == 0) {
                req.api = true;
            } else if (std::strcmp(argv[i], "--config-only") == 0) {
                req.configOnly = true;
            } else if (std::strcmp(argv[i], "--buffer") == 0 && i + 1 < argc) {
                const long n = std::strtol(argv[++i], nullptr, 10);
                if (n <= 0) {
                    usage();
                    return 2;
                }
                req.buffer = static_cast<size_t>(n);
            } else {
                usage();
                return 2;
            }
        }
        return decode(req);
    }
    usage();
    return 2;
}
