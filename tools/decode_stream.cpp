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
