// Decoder throughput on the 60 s benchmark streams, decoded from memory on
// one thread: x realtime, median of several runs, beside FFmpeg's aac
// decoder with 16-bit interleaved output when libavcodec is available.
//   decoder_bench [STREAM_DIR] [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "decode_stream.h"
#include "stream_input.h"

#ifdef SONADEC_HAVE_AVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}
#endif

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

#ifdef SONADEC_HAVE_AVCODEC
// Decodes the ADTS stream with FFmpeg, converting each frame to interleaved
// int16 in one frame buffer, as our decoder delivers it. Returns samples per
// channel, or -1.
long decodeWithFfmpeg(const std::vector<uint8_t>& adts, std::vector<int16_t>* pcm) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) return -1;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (ctx == nullptr || avcodec_open2(ctx, codec, nullptr) < 0) return -1;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    long samples = 0;
    pcm->clear();
    for (size_t at = 0; at + 7 <= adts.size();) {
        const uint8_t* h = &adts[at];
        const int len = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
        if (len < 7 || at + static_cast<size_t>(len) > adts.size()) break;
        pkt->data = const_cast<uint8_t*>(h);
        pkt->size = len;
        at += static_cast<size_t>(len);
        if (avcodec_send_packet(ctx, pkt) < 0) continue;
        while (avcodec_receive_frame(ctx, frame) == 0) {
            const int ch = frame->ch_layout.nb_channels;
            const int n = frame->nb_samples;
            if (pcm->size() < static_cast<size_t>(n) * ch) pcm->resize(static_cast<size_t>(n) * ch);
            int16_t* out = pcm->data();
            for (int c = 0; c < ch; ++c) {
                const float* src = reinterpret_cast<const float*>(frame->extended_data[c]);
                for (int i = 0; i < n; ++i) {
                    float v = src[i] * 32768.0f;
                    v = v > 32767.0f ? 32767.0f : v < -32768.0f ? -32768.0f : v;
                    out[i * ch + c] = static_cast<int16_t>(v);
                }
            }
            samples += n;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return samples;
}
#endif

} // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : SONADEC_BENCH_STREAMS;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const char* streams[] = {"lc_stereo_44k_128k.aac", "lc_mono_44k_64k.aac", "he_stereo_48k_48k.aac"};
    std::printf("%-26s %12s %12s %8s\n", "stream", "sonadec x", "ffmpeg x", "ratio");
    for (const char* name : streams) {
        StreamInput in;
        std::string error;
        if (!loadStreamInput(dir + "/" + name, &in, &error)) {
            std::printf("%-26s skipped: %s\n", name, error.c_str());
            continue;
        }
        std::vector<double> ours;
        DecodedAudio audio;
        DecodeOptions options;
        options.discardPcm = true;
        double duration = 0;
        for (int r = 0; r < runs; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            if (!decodeWithApi(in, options, &audio, &error)) break;
            const double s = seconds(t0);
            duration = static_cast<double>(audio.samples) / audio.config.channels /
                       audio.config.outputSampleRate;
            ours.push_back(duration / s);
        }
        if (ours.empty()) {
            std::printf("%-26s refused: %s\n", name, error.c_str());
            continue;
        }
        double peer = 0;
#ifdef SONADEC_HAVE_AVCODEC
        std::vector<double> theirs;
        std::vector<int16_t> pcm;
        for (int r = 0; r < runs; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            const long n = decodeWithFfmpeg(in.bytes, &pcm);
            const double s = seconds(t0);
            if (n <= 0) break;
            theirs.push_back(static_cast<double>(n) / audio.config.outputSampleRate / s);
        }
        if (!theirs.empty()) peer = median(theirs);
#endif
        const double mine = median(ours);
        if (peer > 0)
            std::printf("%-26s %12.0f %12.0f %8.2f\n", name, mine, peer, mine / peer);
        else
            std::printf("%-26s %12.0f %12s %8s\n", name, mine, "-", "-");
    }
    return 0;
}
