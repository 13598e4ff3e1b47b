#include "decode_stream.h"

namespace {

struct DecoderHandle {
    AacDecoder* d = nullptr;
    ~DecoderHandle() {
        if (d != nullptr) AacDecDestroy(d);
    }
};

// Offset of the first ADTS sync word at or after `from`, or the size when there is none.
size_t nextSync(const std::vector<uint8_t>& b, size_t from) {
    for (size_t i = from; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && (b[i + 1] & 0xF0) == 0xF0) return i;
    return b.size();
}

// Bytes to skip after a frame at `at` failed: the whole frame when a sound
// ADTS header stands there, else one byte (the decoder then searches the next sync).
size_t badFrameLength(const std::vector<uint8_t>& b, size_t at) {
    if (at + 7 > b.size() || b[at] != 0xFF || (b[at + 1] & 0xF0) != 0xF0) return 1;
    const size_t len = ((b[at + 3] & 3u) << 11) | (b[at + 4] << 3) | (b[at + 5] >> 5);
    return len >= 7 && at + len <= b.size() ? len : 1;
}

bool configure(const StreamInput& in, AacStreamConfig* cfg, size_t* payloadStart, std::string* error) {
    int32_t bytes = 0;
    int32_t rc = AAC_DEC_ERROR;
    *payloadStart = 0;
    switch (in.form) {
    case StreamInput::kRawUnits: {
        bytes = static_cast<int32_t>(in.asc.size());
        const uint8_t* unit = in.unitSizes.empty() ? nullptr : in.bytes.data();
        const int32_t unitBytes = in.unitSizes.empty() ? 0 : static_cast<int32_t>(in.unitSizes[0]);
        rc = AacDecParseConfigProbe(in.asc.data(), &bytes, cfg, 0, unit, unitBytes);
        break;
    }
    case StreamInput::kAdif:
        bytes = static_cast<int32_t>(in.bytes.size());
        rc = AacDecParseConfigProbe(in.bytes.data(), &bytes, cfg, 1, nullptr, 0);
        *payloadStart = static_cast<size_t>(bytes);
        break;
    case StreamInput::kAdts: {
        // Garbage before the first frame, or a first frame too damaged to
        // configure from, is skipped: the stream starts at the first sync
        // word whose frame configures.
        for (size_t sync = nextSync(in.bytes, 0); sync < in.bytes.size();
             sync = nextSync(in.bytes, sync + 1)) {
            bytes = static_cast<int32_t>(in.bytes.size() - sync);
            *cfg = AacStreamConfig{};
            rc = AacDecParseConfigProbe(in.bytes.data() + sync, &bytes, cfg, 1, nullptr, 0);
            if (rc == AAC_DEC_OK) {
                *payloadStart = sync;
                break;
            }
        }
        break;
    }
    }
    if (rc != AAC_DEC_OK) {
        *error = "stream configuration refused";
        return false;
    }
    return true;
}

} // namespace

bool decodeWithApi(const StreamInput& in, const DecodeOptions& options, DecodedAudio* out,
                   std::string* error) {
    *out = DecodedAudio{};
    AacStreamConfig cfg{};
    size_t offset = 0;
    if (!configure(in, &cfg, &offset, error)) return false;
    DecoderHandle h;
    if (AacDecCreateHe(&h.d) != AAC_DEC_OK) {
        *error = "out of memory";
        return false;
    }
    if (options.singleRate) cfg.singleRateOutput = 1;
    if (AacDecInit(h.d, &cfg) != AAC_DEC_OK) {
        *error = "configuration refused by the decoder";
        return false;
    }
    out->config = cfg;
    std::vector<int16_t> frame(static_cast<size_t>(cfg.outputBytesPerFrame) / 2 + 2048);
    const size_t total = in.bytes.size();
    size_t unit = 0;
    int32_t sinceProgress = 0;

    auto decodeAt = [&](size_t at, size_t bytes, int32_t* consumed) {
        *consumed = static_cast<int32_t>(bytes);
        int32_t pcmBytes = static_cast<int32_t>(frame.size() * 2);
        const int32_t rc = AacDecDecodeFrame(h.d, in.bytes.data() + at, consumed, frame.data(), &pcmBytes);
        if (rc == AAC_DEC_OK) {
            out->samples += pcmBytes / 2;
            if (!options.discardPcm)
                out->pcm.insert(out->pcm.end(), frame.begin(), frame.begin() + pcmBytes / 2);
            out->framesDecoded += 1;
            out->consumed.push_back(*consumed);
        } else {
            out->failedCalls += 1;
        }
        return rc;
    };

    while (true) {
        int32_t consumed = 0;
        if (in.form == StreamInput::kRawUnits) {
            if (unit >= in.unitSizes.size()) break;
            const int32_t rc = decodeAt(offset, in.unitSizes[unit], &consumed);
            offset += in.unitSizes[unit];
            unit += 1;
            if (rc != AAC_DEC_OK && options.stopAtFirstError) break;
        } else {
            if (offset >= total) break;
            const int32_t rc = decodeAt(offset, total - offset, &consumed);
            if (rc == AAC_DEC_OK) {
                // A block that consumed nothing cannot happen with a sound
                // stream; stepping on keeps a damaged one from looping.
                offset += consumed > 0 ? static_cast<size_t>(consumed) : 1;
            } else {
                // Raw data blocks of an ADIF stream have no sync word to find again.
                if (options.stopAtFirstError || in.form == StreamInput::kAdif) break;
                offset += badFrameLength(in.bytes, offset);
            }
        }
        if (options.progress != nullptr && ++sinceProgress == 256) {
            sinceProgress = 0;
            options.progress(static_cast<double>(offset) / static_cast<double>(total ? total : 1),
                             options.progressUser);
        }
    }
    return true;
}

int32_t outputChannels(const DecodedAudio& a) { return a.config.channels; }
int32_t outputRate(const DecodedAudio& a) { return a.config.outputSampleRate; }

#include <cstring>

#include "stream_reader.h"

namespace {

// The window keeps at least one whole ADTS frame (at most 8191 bytes) in
// view whenever the stream has one left.
constexpr size_t kWindow = 1 << 16;
constexpr size_t kKeepInView = 16384;

class Window {
public:
    explicit Window(StreamReader& r) : r_(r), bytes_(kWindow) {}
    // Moves the unread bytes to the front and reads until full or the end.
    void refill() {
        if (begin_ > 0) {
            std::memmove(bytes_.data(), bytes_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        while (!eof_ && end_ < bytes_.size()) {
            const size_t n = r_.read(bytes_.data() + end_, bytes_.size() - end_);
            if (n == 0) eof_ = true;
            end_ += n;
        }
    }
    const uint8_t* data() const { return bytes_.data() + begin_; }
    size_t size() const { return end_ - begin_; }
    bool eof() const { return eof_; }
    void skip(size_t n) { begin_ += n < size() ? n : size(); }

private:
    StreamReader& r_;
    std::vector<uint8_t> bytes_;
    size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
};

size_t syncIn(const uint8_t* b, size_t n, size_t from) {
    for (size_t i = from; i + 1 < n; ++i)
        if (b[i] == 0xFF && (b[i + 1] & 0xF0) == 0xF0) return i;
    return n;
}

size_t badFrameLengthIn(const uint8_t* b, size_t n) {
    if (n < 7 || b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) return 1;
    const size_t len = ((b[3] & 3u) << 11) | (b[4] << 3) | (b[5] >> 5);
    return len >= 7 && len <= n ? len : 1;
}

// Finds the configuration of a byte-form stream and leaves the window at
// its first frame (ADTS) or raw data block (ADIF).
bool configureBytes(StreamReader& reader, Window& w, AacStreamConfig* cfg) {
    w.refill();
    if (reader.form() == StreamReader::kAdif) {
        int32_t bytes = static_cast<int32_t>(w.size());
        if (AacDecParseConfigProbe(w.data(), &bytes, cfg, 1, nullptr, 0) != AAC_DEC_OK) return false;
        w.skip(static_cast<size_t>(bytes));
        return true;
    }
    // Garbage before the first frame, or a first frame too damaged to
    // configure from, is skipped: the stream starts at the first sync word
    // whose frame configures.
    for (;;) {
        for (size_t sync = syncIn(w.data(), w.size(), 0); sync < w.size(); sync = syncIn(w.data(), w.size(), sync + 1)) {
            if (!w.eof() && w.size() - sync < kKeepInView) {
                w.skip(sync);
                w.refill();
                sync = 0;
            }
            int32_t bytes = static_cast<int32_t>(w.size() - sync);
            *cfg = AacStreamConfig{};
            if (AacDecParseConfigProbe(w.data() + sync, &bytes, cfg, 1, nullptr, 0) == AAC_DEC_OK) {
                w.skip(sync);
                return true;
            }
        }
        if (w.eof()) return false;
        w.skip(w.size() > 1 ? w.size() - 1 : 0);
        w.refill();
    }
}

} // namespace

bool decodeStreamWithApi(StreamReader& reader, PcmSink& sink, StreamDecodeStats* stats, std::string* error,
                         StreamProgress progress, void* progressUser) {
    *stats = StreamDecodeStats{};
    AacStreamConfig cfg{};
    Window window(reader);
    std::vector<uint8_t> unit;
    bool haveUnit = false;
    if (reader.unitForm()) {
        haveUnit = reader.nextUnit(&unit);
        int32_t bytes = static_cast<int32_t>(reader.asc().size());
        if (AacDecParseConfigProbe(reader.asc().data(), &bytes, &cfg, 0, haveUnit ? unit.data() : nullptr,
                                   haveUnit ? static_cast<int32_t>(unit.size()) : 0) != AAC_DEC_OK) {
            *error = "stream configuration refused";
            return false;
        }
    } else if (!configureBytes(reader, window, &cfg)) {
        *error = reader.error().empty() ? "stream configuration refused" : reader.error();
        return false;
    }
    DecoderHandle h;
    if (AacDecCreateHe(&h.d) != AAC_DEC_OK) {
        *error = "out of memory";
        return false;
    }
    if (AacDecInit(h.d, &cfg) != AAC_DEC_OK) {
        *error = "configuration refused by the decoder";
        return false;
    }
    stats->config = cfg;
    stats->channels = cfg.channels;
    stats->sampleRate = cfg.outputSampleRate;
    if (!sink.begin(cfg.channels, cfg.outputSampleRate)) {
        stats->sinkFailed = true;
        *error = "cannot write the output";
        return false;
    }
    std::vector<int16_t> frame(static_cast<size_t>(cfg.outputBytesPerFrame) / 2 + 2048);
    uint32_t sinceProgress = 0;

    auto decode = [&](const uint8_t* data, size_t bytes, int32_t* consumed) {
        *consumed = static_cast<int32_t>(bytes);
        int32_t pcmBytes = static_cast<int32_t>(frame.size() * 2);
        const int32_t rc = AacDecDecodeFrame(h.d, data, consumed, frame.data(), &pcmBytes);
        if (rc != AAC_DEC_OK) {
            stats->failedFrames += 1;
            return false;
        }
        stats->frames += 1;
        stats->samples += static_cast<uint64_t>(pcmBytes / 2);
        if (!sink.write(frame.data(), static_cast<size_t>(pcmBytes / 2))) stats->sinkFailed = true;
        return true;
    };

    while (!stats->sinkFailed) {
        int32_t consumed = 0;
        if (reader.unitForm()) {
            if (!haveUnit) break;
            decode(unit.data(), unit.size(), &consumed);
            haveUnit = reader.nextUnit(&unit);
        } else {
            if (!window.eof() && window.size() < kKeepInView) window.refill();
            if (window.size() == 0) break;
            if (decode(window.data(), window.size(), &consumed)) {
                // A block that consumed nothing cannot happen with a sound
                // stream; stepping on keeps a damaged one from looping.
                window.skip(consumed > 0 ? static_cast<size_t>(consumed) : 1);
            } else {
                // Raw data blocks of an ADIF stream have no sync word to find again.
                if (reader.form() == StreamReader::kAdif) break;
                window.skip(badFrameLengthIn(window.data(), window.size()));
            }
        }
        if (progress != nullptr && ++sinceProgress == 64) {
            sinceProgress = 0;
            progress(reader.done(), reader.total(), progressUser);
        }
    }
    if (stats->sinkFailed) {
        *error = "cannot write the output";
        return false;
    }
    if (!reader.error().empty()) {
        *error = reader.error();
        return false;
    }
    return true;
}
