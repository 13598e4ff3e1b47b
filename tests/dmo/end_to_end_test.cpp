// The media object path against the decoder API on the same bytes. While
// the decoder cannot decode frames both give nothing; the comparisons are
// made anyway and the cases then report themselves skipped.
#include <algorithm>

#include "aacdec.h"
#include "dmo_client.h"
#include "dmo_fixture.h"

namespace {

struct ApiDecode {
    std::vector<int16_t> pcm;
    int32_t rate = 0, channels = 0;
    size_t maxFrame = 0;
};

// Decodes the payload frame by frame until the end or the first failure.
ApiDecode decodeWithApi(const MediaObjectInput& mi, bool probe) {
    ApiDecode r;
    AacDecoder* d = nullptr;
    AacStreamConfig cfg{};
    int32_t n = static_cast<int32_t>(mi.asc.size());
    int32_t rc = probe ? AacDecCreateHe(&d) : AacDecCreate(&d);
    if (rc == 0)
        rc = probe ? AacDecParseConfigProbe(mi.asc.data(), &n, &cfg, 0, mi.firstUnit.data(),
                                            static_cast<int32_t>(mi.firstUnit.size()))
                   : AacDecParseConfig(mi.asc.data(), &n, &cfg, 0);
    if (rc == 0) rc = AacDecInit(d, &cfg);
    if (rc == 0) {
        r.rate = cfg.outputSampleRate;
        r.channels = cfg.channels;
        std::vector<int16_t> frame(static_cast<size_t>(cfg.outputBytesPerFrame) / 2);
        size_t at = 0;
        while (at < mi.payload.size()) {
            int32_t bytes = static_cast<int32_t>(mi.payload.size() - at);
            int32_t pcmBytes = cfg.outputBytesPerFrame;
            if (AacDecDecodeFrame(d, mi.payload.data() + at, &bytes, frame.data(), &pcmBytes) != 0 || bytes <= 0 ||
                static_cast<size_t>(bytes) > mi.payload.size() - at)
                break;
            r.pcm.insert(r.pcm.end(), frame.begin(), frame.begin() + pcmBytes / 2);
            r.maxFrame = std::max(r.maxFrame, static_cast<size_t>(bytes));
            at += static_cast<size_t>(bytes);
        }
    }
    if (d) AacDecDestroy(d);
    return r;
}

class EndToEnd : public RegisteredModule {
protected:
    StreamInput load(const char* name) {
        StreamInput s;
        std::string err;
        EXPECT_TRUE(loadStreamInput(std::string(SONADEC_TEST_DATA) + "/" + name, &s, &err)) << err;
        return s;
    }
    // Cuts an ADTS stream after `frames` frames, to keep sweeps short.
    static void truncateAdts(StreamInput* s, int frames) {
        size_t at = 0;
        for (int i = 0; i < frames && at + 7 <= s->bytes.size(); ++i)
            at += ((s->bytes[at + 3] & 3) << 11) | (s->bytes[at + 4] << 3) | (s->bytes[at + 5] >> 5);
        s->bytes.resize(std::min(at, s->bytes.size()));
    }
};

} // namespace

TEST_F(EndToEnd, EveryBufferSizeFromTheLargestFrameUpGivesTheApiOutput) {
    StreamInput s = load("lc_ff_44100_st_is.adts");
    truncateAdts(&s, 24);
    MediaObjectInput mi;
    std::string err;
    ASSERT_TRUE(prepareMediaObjectInput(s, &mi, &err)) << err;
    const ApiDecode api = decodeWithApi(mi, false);
    const size_t from = api.maxFrame ? api.maxFrame : 700;
    for (size_t size = from; size < from + 400; size += 1) {
        MediaObjectAudio dmo;
        ASSERT_TRUE(decodeWithMediaObject(s, size, false, &dmo, &err)) << err;
        ASSERT_EQ(dmo.pcm, api.pcm) << "buffer size " << size;
    }
    if (api.pcm.empty()) GTEST_SKIP() << "the decoder does not decode frames yet";
}

TEST_F(EndToEnd, AFrameSplitAtEveryByteOffsetDecodesAsUnsplit) {
    StreamInput s = load("lc_ff_44100_st_is.adts");
    truncateAdts(&s, 4);
    MediaObjectInput mi;
    std::string err;
    ASSERT_TRUE(prepareMediaObjectInput(s, &mi, &err)) << err;
    const ApiDecode api = decodeWithApi(mi, false);
    // Two buffers whose boundary falls at each byte of the first frames.
    for (size_t cut = 1; cut < mi.payload.size(); ++cut) {
        MediaObjectAudio dmo;
        ASSERT_TRUE(decodeWithMediaObject(s, std::max(cut, mi.payload.size() - cut), false, &dmo, &err)) << err;
        ASSERT_EQ(dmo.pcm, api.pcm) << "cut at " << cut;
    }
    if (api.pcm.empty()) GTEST_SKIP() << "the decoder does not decode frames yet";
}

TEST_F(EndToEnd, OtherFormsGiveTheApiOutput) {
    struct Case {
        const char* name;
        bool probe;
    };
    bool anyDecoded = false;
    for (const Case& c : {Case{"lc_ff_44100_st_is.adif", false}, Case{"lc_ff_22050_mo.2blk.adts", false},
                          Case{"lc_ff_32000_mo_notns.mid517.adts", false}, Case{"he_fdk_48000_st.plain.idx", true},
                          Case{"he_fdk_48000_st.explicit_hier.idx", false}}) {
        StreamInput s = load(c.name);
        MediaObjectInput mi;
        std::string err;
        // The ADIF header's program configuration needs the syntax parser.
        if (!prepareMediaObjectInput(s, &mi, &err)) continue;
        const ApiDecode api = decodeWithApi(mi, c.probe);
        for (size_t size : {api.maxFrame + 1, api.maxFrame + 333, size_t{4096}}) {
            MediaObjectAudio dmo;
            const bool ok = decodeWithMediaObject(s, std::max<size_t>(size, 1600), c.probe, &dmo, &err);
            if (!ok && api.rate == 0) continue; // both refuse the configuration
            ASSERT_TRUE(ok) << c.name << ": " << err;
            ASSERT_EQ(dmo.pcm, api.pcm) << c.name << " buffer " << size;
        }
        anyDecoded = anyDecoded || !api.pcm.empty();
    }
    if (!anyDecoded) GTEST_SKIP() << "the decoder does not decode frames yet";
}

TEST_F(EndToEnd, DamagedStreamsNeverCrash) {
    for (const char* name : {"lc_ff_44100_st_is.dmg-trunc.adts", "he_fdk_48000_st.dmg-sbrflips.adts"}) {
        StreamInput s = load(name);
        for (size_t size : {size_t{1}, size_t{97}, size_t{1500}, size_t{10000}}) {
            MediaObjectAudio dmo;
            std::string err;
            decodeWithMediaObject(s, size, true, &dmo, &err);
            decodeWithMediaObject(s, size, false, &dmo, &err);
        }
    }
    // Random bytes after a valid header's configuration.
    StreamInput s = load("lc_ff_44100_st_is.adts");
    truncateAdts(&s, 6);
    uint32_t seed = 12345;
    for (size_t i = 7; i < s.bytes.size(); i += 13) {
        seed = seed * 1664525u + 1013904223u;
        s.bytes[i] = static_cast<uint8_t>(seed >> 24);
    }
    MediaObjectAudio dmo;
    std::string err;
    decodeWithMediaObject(s, 300, false, &dmo, &err);
    SUCCEED();
}
