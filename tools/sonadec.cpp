// sonadec: command-line front end of the AAC decoder (see usage() and the
// README). The stream is read and the WAV written in pieces, so memory does
// not grow with the input's length.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

#include "decode_stream.h"
#include "dmo_client.h"
#include "stream_reader.h"
#include "wav.h"

#ifndef SONADEC_VERSION
#define SONADEC_VERSION "unknown"
#endif

namespace {

const char* const kUsage =
    "usage: sonadec decode IN -o OUT.wav [--api] [--buffer BYTES] [--config-only] [--quiet]\n"
    "       sonadec info IN\n"
    "       sonadec --help | --version\n"
    "\n"
    "IN is an ADTS (.aac/.adts), ADIF or MP4/M4A file, or an .idx file of raw\n"
    "access units. OUT.wav '-' writes the WAV to standard output.\n"
    "\n"
    "decode options, in any order:\n"
    "  -o, --output FILE  where the 16-bit WAV goes (written under a temporary\n"
    "                     name and renamed when complete)\n"
    "  --api              call the decoder API directly instead of the registered\n"
    "                     media object\n"
    "  --buffer BYTES     media object input buffer size (default 4096)\n"
    "  --config-only      media object input type without the first access unit\n"
    "                     (no SBR probe)\n"
    "  -q, --quiet        no progress line and no summary\n";

// The temporary output of the run, removed if the run is interrupted.
const char* volatile gTemporaryOutput = nullptr;

extern "C" void onSignal(int sig) {
    if (const char* p = gTemporaryOutput) unlink(p);
    _exit(128 + sig);
}

void catchInterruptions() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, onSignal);
}

const char* profileName(int32_t profile) {
    return profile == 1 ? "AAC-LC" : profile == 3 ? "AAC-LTP" : "unknown";
}

uint32_t bitsAt(const std::vector<uint8_t>& b, size_t bit, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit)
        v = (v << 1) | (bit / 8 < b.size() ? (b[bit / 8] >> (7 - bit % 8)) & 1u : 0u);
    return v;
}

uint32_t objectType(const std::vector<uint8_t>& asc) {
    const uint32_t aot = bitsAt(asc, 0, 5);
    return aot == 31 ? 32 + bitsAt(asc, 5, 6) : aot;
}

std::string objectTypeName(uint32_t aot) {
    switch (aot) {
    case 1: return "AAC Main";
    case 2: return "AAC-LC";
    case 3: return "AAC SSR";
    case 4: return "AAC-LTP";
    case 5: return "SBR";
    case 29: return "PS";
    default: return "object type " + std::to_string(aot);
    }
}

// ADTS header at `p` with `n` bytes in view: frame length, or 0 if none.
size_t adtsFrameLength(const uint8_t* p, size_t n) {
    if (n < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || ((p[2] >> 2) & 0x0F) > 12) return 0;
    const size_t len = ((p[3] & 3u) << 11) | (p[4] << 3) | (p[5] >> 5);
    return len >= 7 ? len : 0;
}

// Why a byte-form stream was refused: not AAC at all, or an AAC kind the
// decoder does not play.
std::string refusalOfBytes(const std::vector<uint8_t>& head, StreamReader::Form form) {
    if (form == StreamReader::kAdif) return "unsupported or damaged ADIF stream";
    for (size_t i = 0; i + 7 <= head.size(); ++i) {
        const size_t len = adtsFrameLength(head.data() + i, head.size() - i);
        if (len == 0) continue;
        // Two frames in a row, or one that ends the file, make it ADTS.
        const bool chained = i + len == head.size() ||
                             (i + len < head.size() && adtsFrameLength(head.data() + i + len, head.size() - i - len));
        if (!chained) continue;
        const uint32_t profile = head[i + 2] >> 6;
        if (profile != 1 && profile != 3)
            return "unsupported AAC stream: " + objectTypeName(profile + 1) + " is not decoded";
        return "unsupported or damaged AAC stream";
    }
    return "not an AAC stream (no ADTS, ADIF or MP4 form found)";
}

std::string refusalOfAsc(const std::vector<uint8_t>& asc) {
    const uint32_t aot = objectType(asc);
    if (aot != 2 && aot != 4 && aot != 5 && aot != 29)
        return "unsupported AAC stream: " + objectTypeName(aot) + " is not decoded";
    return "unsupported AudioSpecificConfig";
}

std::vector<uint8_t> readHead(StreamReader& r, size_t n) {
    std::vector<uint8_t> head(n);
    size_t got = 0;
    while (got < n) {
        const size_t k = r.read(head.data() + got, n - got);
        if (k == 0) break;
        got += k;
    }
    head.resize(got);
    return head;
}

std::unique_ptr<StreamReader> openInput(const char* path) {
    std::string error;
    auto r = openStreamReader(path, &error);
    if (!r) std::fprintf(stderr, "sonadec: %s\n", error.c_str());
    return r;
}

// Counts what a PCM sink is given, keeping nothing.
class CountingSink final : public PcmSink {
public:
    bool begin(int32_t, int32_t) override { return true; }
    bool write(const int16_t*, size_t) override { return true; }
};

int info(const char* path) {
    auto reader = openInput(path);
    if (!reader) return 1;
    const StreamReader::Form form = reader->form();
    AacStreamConfig cfg{};
    AacStreamConfig announced{};
    int32_t rc = AAC_DEC_ERROR;
    uint64_t frames = 0;
    const char* framesNote = "";
    if (reader->unitForm()) {
        std::vector<uint8_t> unit;
        const bool have = reader->nextUnit(&unit);
        int32_t bytes = static_cast<int32_t>(reader->asc().size());
        rc = AacDecParseConfigProbe(reader->asc().data(), &bytes, &cfg, 0, have ? unit.data() : nullptr,
                                    have ? static_cast<int32_t>(unit.size()) : 0);
        bytes = static_cast<int32_t>(reader->asc().size());
        AacDecParseConfig(reader->asc().data(), &bytes, &announced, 0);
        if (rc != AAC_DEC_OK) {
            std::fprintf(stderr, "sonadec: %s: %s\n", path, refusalOfAsc(reader->asc()).c_str());
            return 1;
        }
        frames = have ? 1 : 0;
        while (reader->nextUnit(&unit)) ++frames;
    } else {
        const std::vector<uint8_t> head = readHead(*reader, 1 << 16);
        size_t at = 0;
        if (form == StreamReader::kAdts) {
            while (at + 7 <= head.size() && adtsFrameLength(head.data() + at, head.size() - at) == 0) ++at;
        }
        int32_t bytes = static_cast<int32_t>(head.size() - std::min(at, head.size()));
        if (bytes > 0) rc = AacDecParseConfigProbe(head.data() + at, &bytes, &cfg, 1, nullptr, 0);
        if (rc != AAC_DEC_OK) {
            std::fprintf(stderr, "sonadec: %s: %s\n", path, refusalOfBytes(head, form).c_str());
            return 1;
        }
        reader = openInput(path);
        if (!reader) return 1;
        if (form == StreamReader::kAdts) {
            // Raw data blocks of every ADTS frame, read header to header.
            std::vector<uint8_t> carry;
            std::vector<uint8_t> block;
            for (;;) {
                block = readHead(*reader, 1 << 16);
                carry.insert(carry.end(), block.begin(), block.end());
                const bool last = block.empty();
                size_t i = 0;
                while (i + 7 <= carry.size()) {
                    const size_t len = adtsFrameLength(carry.data() + i, carry.size() - i);
                    if (len == 0) {
                        ++i;
                        continue;
                    }
                    if (i + len > carry.size() && !last) break;
                    frames += (carry[i + 6] & 3u) + 1;
                    i += len;
                }
                carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(std::min(i, carry.size())));
                if (last) break;
            }
        } else {
            CountingSink sink;
            StreamDecodeStats stats;
            std::string error;
            decodeStreamWithApi(*reader, sink, &stats, &error);
            frames = stats.frames;
            framesNote = " (raw data blocks decoded)";
        }
    }
    const char* sbr = "none";
    if (cfg.extensionType == 5) {
        if (announced.extensionType != 5) sbr = "implicit (found in the first frame)";
        else if (objectType(reader->asc()) == 5) sbr = "explicit, hierarchical";
        else sbr = "explicit, backward compatible";
    }
    const double seconds = cfg.sampleRate > 0 ? static_cast<double>(frames) * cfg.frameLength / cfg.sampleRate : 0.0;
    std::printf("file:        %s\n", path);
    std::printf("form:        %s\n", streamReaderFormName(form));
    std::printf("profile:     %s%s\n", profileName(cfg.profile), cfg.extensionType == 5 ? " + SBR (HE-AAC)" : "");
    std::printf("sbr:         %s\n", sbr);
    std::printf("core rate:   %d Hz\n", cfg.sampleRate);
    std::printf("output:      %d Hz, %d channel%s, %d bytes per frame\n", cfg.outputSampleRate, cfg.channels,
                cfg.channels == 1 ? "" : "s", cfg.outputBytesPerFrame);
    std::printf("frames:      %llu%s\n", static_cast<unsigned long long>(frames), framesNote);
    std::printf("duration:    %.3f s\n", seconds);
    return 0;
}

struct DecodeRequest {
    const char* path = nullptr;
    const char* outPath = nullptr;
    bool api = false;
    bool configOnly = false; // the {0000A106-...} subtype: no probe unit
    bool quiet = false;
    size_t buffer = 4096;
};

// Progress on a terminal only, and only once a run has lasted a second
// (SONADEC_PROGRESS_AFTER_MS sets another delay: the tests use 0).
std::chrono::milliseconds progressDelay() {
    const char* v = std::getenv("SONADEC_PROGRESS_AFTER_MS");
    return std::chrono::milliseconds(v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : 1000);
}

struct Progress {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::milliseconds delay = progressDelay();
    std::chrono::steady_clock::time_point last{};
    bool shown = false;
};

void showProgress(uint64_t done, uint64_t total, void* user) {
    auto* p = static_cast<Progress*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (now - p->start < p->delay || now - p->last < std::chrono::milliseconds(200)) return;
    p->last = now;
    p->shown = true;
    const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
    std::fprintf(stderr, "\rdecoding %5.1f%%", fraction > 1.0 ? 100.0 : fraction * 100.0);
    std::fflush(stderr);
}

class WavSink final : public PcmSink {
public:
    explicit WavSink(WavWriter& w) : w_(w) {}
    bool begin(int32_t channels, int32_t rate) override { return w_.begin(channels, rate); }
    bool write(const int16_t* s, size_t n) override { return w_.write(s, n); }

private:
    WavWriter& w_;
};

std::string refusal(const char* path) {
    std::string error;
    auto r = openStreamReader(path, &error);
    if (!r) return error;
    if (r->unitForm()) return refusalOfAsc(r->asc());
    return refusalOfBytes(readHead(*r, 1 << 16), r->form());
}

int decode(const DecodeRequest& req) {
    auto reader = openInput(req.path);
    if (!reader) return 1;
    const StreamReader::Form form = reader->form();
    WavWriter writer;
    std::string error;
    if (std::strcmp(req.outPath, "-") == 0 && isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, "sonadec: standard output is a terminal; redirect it or name a file with -o\n");
        return 1;
    }
    if (!writer.open(req.outPath, &error)) {
        std::fprintf(stderr, "sonadec: %s\n", error.c_str());
        return 1;
    }
    gTemporaryOutput = writer.temporaryPath();
    WavSink sink(writer);
    Progress progress;
    const bool showing = !req.quiet && isatty(STDERR_FILENO);
    StreamProgress progressFn = showing ? showProgress : nullptr;
    StreamDecodeStats stats;
    std::string via, fallback;
    const auto t0 = std::chrono::steady_clock::now();
    bool done = false, ok = false;
    if (!req.api) {
        ok = decodeStreamWithMediaObject(*reader, req.buffer, !req.configOnly, sink, &stats, &error, progressFn,
                                         &progress);
        // Only a set-up failure (nothing written yet) falls back to the API.
        if (ok || stats.sinkFailed || writer.dataBytes() > 0 || stats.channels > 0) {
            done = true;
            via = "media object (" + std::to_string(req.buffer) + "-byte input buffers)";
        } else {
            fallback = error;
            reader = openInput(req.path);
            if (!reader) return 1;
        }
    }
    if (!done) {
        ok = decodeStreamWithApi(*reader, sink, &stats, &error, progressFn, &progress);
        via = "decoder API";
        if (!ok && stats.channels == 0 && !stats.sinkFailed) error = refusal(req.path);
        // Told only when the API did what the media object could not.
        if (ok && !fallback.empty() && !req.quiet)
            std::fprintf(stderr, "sonadec: media object: %s; decoded through the API\n", fallback.c_str());
    }
    if (progress.shown) std::fprintf(stderr, "\r%20s\r", "");
    if (ok && stats.frames == 0) {
        ok = false;
        error = "no frame decoded";
    }
    if (ok && !writer.finish(&error)) ok = false;
    gTemporaryOutput = nullptr;
    if (!ok) {
        writer.abandon();
        std::fprintf(stderr, "sonadec: %s: %s\n", req.path, error.c_str());
        return 1;
    }
    if (req.quiet) return 0;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    FILE* o = std::strcmp(req.outPath, "-") == 0 ? stderr : stdout;
    const int32_t channels = stats.channels, rate = stats.sampleRate;
    std::fprintf(o, "file:        %s\n", req.path);
    std::fprintf(o, "form:        %s\n", streamReaderFormName(form));
    if (stats.config.channels != 0)
        std::fprintf(o, "profile:     %s%s\n", profileName(stats.config.profile),
                     stats.config.extensionType == 5 ? " + SBR (HE-AAC)" : "");
    std::fprintf(o, "output:      %d Hz, %d channel%s, 16-bit PCM\n", rate, channels, channels == 1 ? "" : "s");
    std::fprintf(o, "through:     %s\n", via.c_str());
    const double duration = static_cast<double>(stats.samples) / channels / rate;
    std::fprintf(o, "decoded:     %u frames, %.3f s of audio", stats.frames, duration);
    if (stats.failedFrames > 0) std::fprintf(o, ", %u damaged frames skipped", stats.failedFrames);
    std::fprintf(o, "\nspeed:       %.0fx realtime\n", seconds > 0 ? duration / seconds : 0.0);
    std::fprintf(o, "wrote:       %s\n", std::strcmp(req.outPath, "-") == 0 ? "standard output" : req.outPath);
    return 0;
}

int usageError(const std::string& why) {
    std::fprintf(stderr, "sonadec: %s\n%s", why.c_str(), kUsage);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("sonadec %s (MP4 input: %s)\n", SONADEC_VERSION, mp4InputSupported() ? "yes" : "no");
            return 0;
        }
    }
    if (args.empty()) return usageError("no command given");
    const std::string command = args[0];
    if (command == "info") {
        if (args.size() != 2) return usageError("info takes one input file");
        return info(args[1].c_str());
    }
    if (command != "decode") return usageError("unknown command '" + command + "'");
    DecodeRequest req;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" || a == "--output") {
            if (i + 1 >= args.size()) return usageError(a + " needs a file name");
            req.outPath = argv[1 + ++i];
        } else if (a == "--api") {
            req.api = true;
        } else if (a == "--config-only") {
            req.configOnly = true;
        } else if (a == "-q" || a == "--quiet") {
            req.quiet = true;
        } else if (a == "--buffer") {
            if (i + 1 >= args.size()) return usageError("--buffer needs a size");
            char* end = nullptr;
            const long n = std::strtol(args[++i].c_str(), &end, 10);
            if (n <= 0 || *end != '\0' || n > (64L << 20)) return usageError("bad --buffer size '" + args[i] + "'");
            req.buffer = static_cast<size_t>(n);
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option '" + a + "'");
        } else if (req.path == nullptr) {
            req.path = argv[1 + i];
        } else {
            return usageError("more than one input file");
        }
    }
    if (req.path == nullptr) return usageError("decode needs an input file");
    if (req.outPath == nullptr) return usageError("decode needs -o OUT.wav (or -o - for standard output)");
    catchInterruptions();
    return decode(req);
}
