#include "mp4_demux.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace {

constexpr int kIoBufferSize = 32768;

int readPacket(void* opaque, uint8_t* buf, int size);
int64_t seekTo(void* opaque, int64_t offset, int whence);

} // namespace

struct Mp4Demuxer::State {
    Read read;
    Seek seek;
    uint64_t size = 0;
    uint64_t pos = 0;
    AVIOContext* io = nullptr;
    AVFormatContext* fmt = nullptr;
    AVPacket* packet = nullptr;

    ~State() {
        av_packet_free(&packet);
        avformat_close_input(&fmt);
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};

namespace {

int readPacket(void* opaque, uint8_t* buf, int size) {
    auto* s = static_cast<Mp4Demuxer::State*>(opaque);
    const size_t n = s->read(buf, static_cast<size_t>(size));
    if (n == 0) return AVERROR_EOF;
    s->pos += n;
    return static_cast<int>(n);
}

int64_t seekTo(void* opaque, int64_t offset, int whence) {
    auto* s = static_cast<Mp4Demuxer::State*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return static_cast<int64_t>(s->size);
    int64_t target;
    switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = static_cast<int64_t>(s->pos) + offset; break;
    case SEEK_END: target = static_cast<int64_t>(s->size) + offset; break;
    default: return -1;
    }
    if (target < 0 || static_cast<uint64_t>(target) > s->size || !s->seek(static_cast<uint64_t>(target))) return -1;
    s->pos = static_cast<uint64_t>(target);
    return target;
}

} // namespace

Mp4Demuxer::Mp4Demuxer() = default;
Mp4Demuxer::~Mp4Demuxer() = default;

bool Mp4Demuxer::open(Read read, Seek seek, uint64_t size, std::string* error) {
    // The library's own diagnostics would interleave with ours; its failures
    // come back as result codes.
    av_log_set_level(AV_LOG_QUIET);
    s_ = std::make_unique<State>();
    s_->read = std::move(read);
    s_->seek = std::move(seek);
    s_->size = size;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (buffer == nullptr) {
        *error = "out of memory";
        return false;
    }
    s_->io = avio_alloc_context(buffer, kIoBufferSize, 0, s_.get(), readPacket, nullptr, seekTo);
    if (s_->io == nullptr) {
        av_free(buffer);
        *error = "out of memory";
        return false;
    }
    s_->fmt = avformat_alloc_context();
    s_->packet = av_packet_alloc();
    if (s_->fmt == nullptr || s_->packet == nullptr) {
        *error = "out of memory";
        return false;
    }
    s_->fmt->pb = s_->io;
    s_->fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Only the ISO media demuxer: no probing of other container formats.
    const AVInputFormat* mp4 = av_find_input_format("mp4");
    if (mp4 == nullptr || avformat_open_input(&s_->fmt, nullptr, mp4, nullptr) < 0) {
        // avformat_open_input frees the context on failure.
        s_->fmt = nullptr;
        *error = "not a readable MP4 file";
        return false;
    }
    tracks_ = static_cast<int>(s_->fmt->nb_streams);
    for (unsigned i = 0; i < s_->fmt->nb_streams; ++i) {
        AVStream* st = s_->fmt->streams[i];
        const bool aac = track_ < 0 && st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                         st->codecpar->codec_id == AV_CODEC_ID_AAC;
        if (aac) track_ = static_cast<int>(i);
        else st->discard = AVDISCARD_ALL;
    }
    if (track_ < 0) {
        *error = tracks_ == 0 ? "the MP4 file has no tracks" : "the MP4 file has no AAC audio track";
        return false;
    }
    const AVCodecParameters* par = s_->fmt->streams[track_]->codecpar;
    if (par->extradata == nullptr || par->extradata_size <= 0) {
        *error = "the AAC track of the MP4 file carries no decoder configuration";
        return false;
    }
    asc_.assign(par->extradata, par->extradata + par->extradata_size);
    units_ = s_->fmt->streams[track_]->nb_frames > 0 ? static_cast<uint64_t>(s_->fmt->streams[track_]->nb_frames) : 0;
    return true;
}

bool Mp4Demuxer::nextUnit(std::vector<uint8_t>* unit) {
    if (!s_ || s_->fmt == nullptr || track_ < 0) return false;
    for (;;) {
        const int rc = av_read_frame(s_->fmt, s_->packet);
        if (rc < 0) {
            if (rc != AVERROR_EOF) error_ = "MP4 read error";
            return false;
        }
        const bool ours = s_->packet->stream_index == track_;
        if (ours) unit->assign(s_->packet->data, s_->packet->data + s_->packet->size);
        av_packet_unref(s_->packet);
        if (ours) return true;
    }
}
