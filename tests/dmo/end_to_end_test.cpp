// The media object path against the decoder API on the same bytes. While
// the decoder cannot decode frames both give nothing; the comparisons are
// made anyway and the cases then report themselves skipped.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "aacdec.h"
#include "decode_stream.h"
#include "dmo_client.h"
#include "dmo_fixture.h"

namespace {

struct ApiDecode {
    std::vector<int16_t> pcm;
    int32_t rate = 0, channels = 0;
    size_t maxFrame = 0;
    std::vector<size_t> ends;    // payload offset after each frame
    std::vector<size_t> pcmEnds; // samples after each frame
};

// Decodes the payload frame by frame until the end or the first failure.
ApiDecode decodeFramesWithApi(const MediaObjectInput& mi, bool probe) {
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
            r.ends.push_back(at);
            r.pcmEnds.push_back(r.pcm.size());
        }
    }
    if (d) AacDecDestroy(d);
    return r;
}


struct MoRun {
    std::vector<int16_t> pcm;
    int32_t frames = 0;
    int32_t failures = 0;
    bool configured = false;
};

// Feeds `payload` to a fresh media object in buffers ending at `cuts` (the
// last runs to the end), pulling output until it asks for more input, then
// drains it with a discontinuity, as a player does at the end.
MoRun runMediaObject(const MediaObjectInput& mi, bool probe, const std::vector<uint8_t>& payload,
                     const std::vector<size_t>& cuts) {
    MoRun r;
    IMediaObject* mo = nullptr;
    if (CoCreateInstance(kDecoderClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaObject,
                         reinterpret_cast<void**>(&mo)) != S_OK)
        return r;
    std::vector<BYTE> format = waveFormat(0xA106, static_cast<WORD>(mi.channels), static_cast<DWORD>(mi.sampleRate),
                                          probe ? unitCodecData(mi.asc, mi.firstUnit) : mi.asc);
    DMO_MEDIA_TYPE in = audioType(probe ? kSubAscUnit : kSubAsc, format);
    DMO_MEDIA_TYPE out{};
    DWORD frameBytes = 0, align = 0;
    if (mo->SetInputType(0, &in, 0) == S_OK && mo->GetOutputType(0, 0, &out) == S_OK) {
        r.configured = mo->SetOutputType(0, &out, 0) == S_OK && mo->GetOutputSizeInfo(0, &frameBytes, &align) == S_OK;
        MoFreeMediaType(&out);
    }
    if (!r.configured) {
        mo->Release();
        return r;
    }
    TestBuffer* pcm = TestBuffer::output(frameBytes);
    auto drain = [&] {
        for (int guard = 0; guard < 100000; ++guard) {
            DMO_OUTPUT_DATA_BUFFER ob{pcm, 0, 0, 0};
            pcm->SetLength(0);
            DWORD status = 0;
            const HRESULT hr = mo->ProcessOutput(0, 1, &ob, &status);
            if (FAILED(hr)) r.failures += 1;
            if (hr == S_OK && pcm->length() > 0) {
                BYTE* b = nullptr;
                DWORD n = 0;
                pcm->GetBufferAndLength(&b, &n);
                const int16_t* s = reinterpret_cast<const int16_t*>(b);
                r.pcm.insert(r.pcm.end(), s, s + n / 2);
                r.frames += 1;
            }
            if (hr != S_OK || !(ob.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) {
                DWORD f = 0;
                mo->GetInputStatus(0, &f);
                if (f & DMO_INPUT_STATUSF_ACCEPT_DATA) return;
            }
        }
        ADD_FAILURE() << "the media object never asked for more input";
    };
    size_t at = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(payload.size());
    for (size_t end : ends) {
        end = std::min(end, payload.size());
        if (end <= at) continue;
        TestBuffer* b = TestBuffer::input(std::vector<BYTE>(payload.begin() + at, payload.begin() + end));
        EXPECT_EQ(mo->ProcessInput(0, b, at == 0 ? DMO_INPUT_DATA_BUFFERF_TIME : 0, 0, 0), S_OK);
        b->Release();
        drain();
        at = end;
    }
    EXPECT_EQ(mo->Discontinuity(0), S_OK);
    drain();
    pcm->Release();
    mo->Release();
    return r;
}

std::vector<size_t> everyBytes(size_t step, size_t total) {
    std::vector<size_t> cuts;
    for (size_t at = step; at < total; at += step) cuts.push_back(at);
    return cuts;
}

// The streams of a directory that both paths can configure, damaged ones apart.
std::vector<std::string> streamsIn(const std::string& dir, bool damaged) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string n = e.path().filename().string();
        const std::string ext = e.path().extension().string();
        if (ext != ".adts" && ext != ".adif" && ext != ".idx") continue;
        if ((n.find(".dmg-") != std::string::npos) != damaged) continue;
        names.push_back(e.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
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
    const ApiDecode api = decodeFramesWithApi(mi, false);
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
    const ApiDecode api = decodeFramesWithApi(mi, false);
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
        const ApiDecode api = decodeFramesWithApi(mi, c.probe);
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

namespace {

bool isHe(const std::string& path) { return path.find("/he") != std::string::npos; }

// Every stream of `dir`: the media object gives the API's output for
// buffers of 1 byte up and for two buffers split at offsets inside the
// first frames. `offsetStep` 1 tries every offset.
void compareWithApi(const std::string& dir, size_t offsetStep, int* streams) {
    for (const std::string& path : streamsIn(dir, false)) {
        StreamInput s;
        std::string err;
        if (!loadStreamInput(path, &s, &err)) continue;
        MediaObjectInput mi;
        if (!prepareMediaObjectInput(s, &mi, &err)) continue;
        for (bool probe : {false, true}) {
            if (probe && !isHe(path)) continue;
            const ApiDecode api = decodeFramesWithApi(mi, probe);
            if (api.rate == 0 || api.ends.empty()) continue; // refused by both (checked elsewhere)
            *streams += 1;
            struct Plan {
                size_t size, frames;
            };
            for (const Plan& p : {Plan{1, 3}, Plan{2, 3}, Plan{3, 3}, Plan{7, 6}, Plan{13, 6}, Plan{64, 12},
                                  Plan{4096, api.ends.size()}}) {
                const size_t frames = std::min(p.frames, api.ends.size());
                const std::vector<uint8_t> prefix(mi.payload.begin(),
                                                  mi.payload.begin() + static_cast<std::ptrdiff_t>(api.ends[frames - 1]));
                const std::vector<int16_t> want(api.pcm.begin(),
                                                api.pcm.begin() + static_cast<std::ptrdiff_t>(api.pcmEnds[frames - 1]));
                const MoRun run = runMediaObject(mi, probe, prefix, everyBytes(p.size, prefix.size()));
                ASSERT_TRUE(run.configured) << path;
                ASSERT_EQ(run.pcm, want) << path << (probe ? " (probe subtype)" : "") << ", buffers of " << p.size;
            }
            // Two frames, cut anywhere in the first or just after it.
            const size_t frames = std::min<size_t>(2, api.ends.size());
            const std::vector<uint8_t> prefix(mi.payload.begin(),
                                              mi.payload.begin() + static_cast<std::ptrdiff_t>(api.ends[frames - 1]));
            const std::vector<int16_t> want(api.pcm.begin(),
                                            api.pcm.begin() + static_cast<std::ptrdiff_t>(api.pcmEnds[frames - 1]));
            const size_t last = std::min(prefix.size() - 1, api.ends[0] + 16);
            for (size_t cut = 1; cut <= last; cut += offsetStep) {
                const MoRun run = runMediaObject(mi, probe, prefix, {cut});
                ASSERT_EQ(run.pcm, want) << path << (probe ? " (probe subtype)" : "") << ", split at " << cut;
            }
        }
    }
}

struct Recovery {
    std::string name;
    int32_t api = 0, mediaObject = 0;
};

// Damaged streams: frames the API path recovers (skipping bad frames as
// the tools do) against the media object's, with ADTS in 4096- and
// 13-byte buffers and raw units one per buffer, as a demultiplexer gives them.
std::vector<Recovery> recoveries(const std::string& dir) {
    std::vector<Recovery> out;
    for (const std::string& path : streamsIn(dir, true)) {
        StreamInput s;
        std::string err;
        MediaObjectInput mi;
        if (!loadStreamInput(path, &s, &err) || !prepareMediaObjectInput(s, &mi, &err)) continue;
        DecodedAudio api;
        if (!decodeWithApi(s, DecodeOptions{}, &api, &err)) continue;
        std::vector<std::vector<size_t>> plans;
        if (s.form == StreamInput::kRawUnits) {
            std::vector<size_t> units;
            size_t at = 0;
            for (uint32_t n : s.unitSizes) units.push_back(at += n);
            plans.push_back(units);
        } else {
            plans.push_back(everyBytes(4096, mi.payload.size()));
            plans.push_back(everyBytes(13, mi.payload.size()));
        }
        for (const auto& cuts : plans) {
            // A first unit too damaged for the probe still plays under the plain subtype.
            MoRun run = runMediaObject(mi, true, mi.payload, cuts);
            if (!run.configured) run = runMediaObject(mi, false, mi.payload, cuts);
            Recovery r{std::filesystem::path(path).filename().string(), api.framesDecoded, run.frames};
            out.push_back(r);
        }
    }
    return out;
}

} // namespace

TEST_F(EndToEnd, EveryStreamGivesTheApiOutputWhateverTheBufferSize) {
    int streams = 0;
    compareWithApi(SONADEC_TEST_DATA, 41, &streams);
    EXPECT_GT(streams, 20);
}

TEST_F(EndToEnd, EverySplitOffsetOfTheFirstFramesGivesTheApiOutput) {
    // Every byte offset, for one stream of each kind of framing and tool.
    const std::string tmp = (std::filesystem::temp_directory_path() /
                             ("sonadec-split-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(tmp);
    for (const char* name : {"lc_ff_22050_mo.2blk.adts", "lc_fdk_44100_st_crc.adts", "lc_ff_24000_st_pns.adts",
                             "lc_ff_44100_st_is.adif", "he_fdk_48000_st.plain.idx", "he_fdk_48000_st.aus.bin"}) {
        const std::filesystem::path from = std::filesystem::path(SONADEC_TEST_DATA) / name;
        std::filesystem::copy_file(from, std::filesystem::path(tmp) / name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    int streams = 0;
    compareWithApi(tmp, 1, &streams);
    std::filesystem::remove_all(tmp);
    EXPECT_EQ(streams, 6); // the HE stream under both subtypes
}

TEST_F(EndToEnd, DamagedStreamsLoseAtMostAFewPercentMoreFramesThanTheApiPath) {
    const std::vector<Recovery> rs = recoveries(SONADEC_TEST_DATA);
    EXPECT_GE(rs.size(), 5u);
    for (const Recovery& r : rs) {
        std::printf("%-45s API %4d  media object %4d\n", r.name.c_str(), r.api, r.mediaObject);
        EXPECT_GE(r.mediaObject * 100, r.api * 95) << r.name; // less 5%, not rounded down
    }
}

// The same checks over a larger collection of streams outside the
// repository, when SONADEC_EXTRA_TESTDATA names it.
TEST_F(EndToEnd, ExtraStreamsWhenPresent) {
    const char* dir = std::getenv("SONADEC_EXTRA_TESTDATA");
    if (dir == nullptr || !std::filesystem::is_directory(dir)) GTEST_SKIP() << "SONADEC_EXTRA_TESTDATA not set";
    int streams = 0;
    compareWithApi(dir, 41, &streams);
    for (const Recovery& r : recoveries(dir)) {
        std::printf("%-45s API %4d  media object %4d\n", r.name.c_str(), r.api, r.mediaObject);
        EXPECT_GE(r.mediaObject * 100, r.api * 95) << r.name; // less 5%, not rounded down
    }
    std::printf("%d streams compared\n", streams);
}

namespace {

// The frames of an ADTS stream of several blocks per frame, with the byte
// length of each block as the decoder consumes it.
struct AdtsFrames {
    std::vector<std::vector<uint8_t>> headers;
    std::vector<std::vector<std::vector<uint8_t>>> blocks;
};

AdtsFrames splitBlocks(const std::vector<uint8_t>& s) {
    AdtsFrames f;
    AacStreamConfig cfg{};
    int32_t n = static_cast<int32_t>(s.size());
    AacDecoder* d = nullptr;
    if (AacDecParseConfig(s.data(), &n, &cfg, 1) != 0 || AacDecCreate(&d) != 0 || AacDecInit(d, &cfg) != 0) return f;
    std::vector<int16_t> pcm(4096);
    size_t at = 0;
    while (at + 7 <= s.size()) {
        const size_t len = ((s[at + 3] & 3u) << 11) | (s[at + 4] << 3) | (s[at + 5] >> 5);
        const int blocks = (s[at + 6] & 3) + 1;
        f.headers.emplace_back(s.begin() + at, s.begin() + at + 7);
        f.blocks.emplace_back();
        size_t pos = at;
        for (int b = 0; b < blocks; ++b) {
            int32_t in = static_cast<int32_t>(at + len - pos), out = 8192;
            if (AacDecDecodeFrame(d, s.data() + pos, &in, pcm.data(), &out) != 0) break;
            const size_t skip = b == 0 ? 7 : 0;
            f.blocks.back().emplace_back(s.begin() + pos + skip, s.begin() + pos + in);
            pos += in;
        }
        at += len;
    }
    AacDecDestroy(d);
    return f;
}

DecodedAudio decodeAdts(const std::vector<uint8_t>& bytes) {
    StreamInput s;
    s.form = StreamInput::kAdts;
    s.bytes = bytes;
    DecodedAudio a;
    std::string err;
    EXPECT_TRUE(decodeWithApi(s, DecodeOptions{}, &a, &err)) << err;
    return a;
}

// `bytes` (an ADTS stream of the form of `base`) through the media object in
// 5- and 4096-byte buffers: the frames and PCM of the API path, `api`.
void expectMediaObjectGives(const StreamInput& base, const std::vector<uint8_t>& bytes, const DecodedAudio& api) {
    StreamInput in = base;
    in.bytes = bytes;
    MediaObjectInput mi;
    std::string err;
    ASSERT_TRUE(prepareMediaObjectInput(in, &mi, &err)) << err;
    for (size_t size : {size_t{5}, size_t{4096}}) {
        const MoRun run = runMediaObject(mi, false, mi.payload, everyBytes(size, mi.payload.size()));
        EXPECT_EQ(run.frames, api.framesDecoded) << size;
        EXPECT_EQ(run.pcm, api.pcm) << size;
    }
}

} // namespace

TEST(AdtsBlocks, ProtectedFramesOfSeveralBlocksDecodeAsUnprotected) {
    StreamInput s;
    std::string err;
    ASSERT_TRUE(loadStreamInput(std::string(SONADEC_TEST_DATA) + "/lc_ff_22050_mo.2blk.adts", &s, &err)) << err;
    const AdtsFrames f = splitBlocks(s.bytes);
    ASSERT_GT(f.headers.size(), 10u);
    // Rebuild each frame with protection: block positions and a header CRC
    // after the header, a CRC after each block (values are not checked).
    std::vector<uint8_t> out;
    for (size_t i = 0; i < f.headers.size(); ++i) {
        const auto& blocks = f.blocks[i];
        if (blocks.size() != 2) break; // the stream's last frame is cut short
        const size_t length = 7 + 2 * (blocks.size() - 1) + 2 + blocks[0].size() + 2 + blocks[1].size() + 2;
        std::vector<uint8_t> h = f.headers[i];
        h[1] &= 0xFE;
        h[3] = static_cast<uint8_t>((h[3] & 0xFC) | (length >> 11));
        h[4] = static_cast<uint8_t>(length >> 3);
        h[5] = static_cast<uint8_t>((h[5] & 0x1F) | ((length & 7) << 5));
        out.insert(out.end(), h.begin(), h.end());
        const size_t second = blocks[0].size() + 2;
        out.push_back(static_cast<uint8_t>(second >> 8));
        out.push_back(static_cast<uint8_t>(second));
        out.push_back(0xA5);
        out.push_back(0x5A);
        for (const auto& b : blocks) {
            out.insert(out.end(), b.begin(), b.end());
            out.push_back(0x3C);
            out.push_back(0xC3);
        }
    }
    const DecodedAudio plain = decodeAdts(s.bytes);
    const DecodedAudio prot = decodeAdts(out);
    EXPECT_GE(prot.framesDecoded, plain.framesDecoded - 2);
    ASSERT_LE(prot.pcm.size(), plain.pcm.size());
    const std::vector<int16_t> head(plain.pcm.begin(), plain.pcm.begin() + static_cast<std::ptrdiff_t>(prot.pcm.size()));
    EXPECT_EQ(prot.failedCalls, 0);
    EXPECT_EQ(prot.pcm, head);
    // The media object frames them alike, in small and large buffers.
    TempRegistry reg;
    ASSERT_EQ(callModule("DllRegisterServer"), S_OK);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    expectMediaObjectGives(s, out, prot);
    CoUninitialize();
}

TEST(AdtsBlocks, AFailedFirstBlockCostsItsFrameAndNoMore) {
    TempRegistry reg;
    StreamInput s;
    std::string err;
    ASSERT_TRUE(loadStreamInput(std::string(SONADEC_TEST_DATA) + "/lc_ff_22050_mo.2blk.adts", &s, &err)) << err;
    const DecodedAudio clean = decodeAdts(s.bytes);
    // Frame 3's first block starts with an END element: it cannot decode.
    std::vector<uint8_t> bad = s.bytes;
    size_t at = 0;
    for (int i = 0; i < 3; ++i) at += ((bad[at + 3] & 3u) << 11) | (bad[at + 4] << 3) | (bad[at + 5] >> 5);
    bad[at + 7] = 0xE0;
    const DecodedAudio damaged = decodeAdts(bad);
    EXPECT_EQ(damaged.framesDecoded, clean.framesDecoded - 2);
    // The same through the media object, in small and large buffers.
    ASSERT_EQ(callModule("DllRegisterServer"), S_OK);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    expectMediaObjectGives(s, bad, damaged);
    // Frame 5's second block breaks instead: it alone is lost, and the
    // next frame is read from its header on both paths.
    const AdtsFrames f = splitBlocks(s.bytes);
    std::vector<uint8_t> late = s.bytes;
    at = 0;
    for (int i = 0; i < 5; ++i) at += ((late[at + 3] & 3u) << 11) | (late[at + 4] << 3) | (late[at + 5] >> 5);
    ASSERT_EQ(f.blocks[5].size(), 2u);
    late[at + 7 + f.blocks[5][0].size()] = 0xE0;
    const DecodedAudio lateApi = decodeAdts(late);
    EXPECT_EQ(lateApi.framesDecoded, clean.framesDecoded - 1);
    expectMediaObjectGives(s, late, lateApi);
    CoUninitialize();
}

// Raw access units of a noise-substitution stream, split anywhere: a unit
// tried before it is complete must not advance the noise generator.
TEST_F(EndToEnd, RawUnitsOfANoiseSubstitutionStreamDecodeAsUnsplit) {
    StreamInput s = load("lc_ff_24000_st_pns.adts");
    MediaObjectInput adts;
    std::string err;
    ASSERT_TRUE(prepareMediaObjectInput(s, &adts, &err)) << err;
    MediaObjectInput mi = adts;
    mi.payload.clear();
    std::vector<size_t> units;
    for (size_t at = 0; at + 7 <= adts.payload.size();) {
        const uint8_t* h = adts.payload.data() + at;
        const size_t len = ((h[3] & 3u) << 11) | (h[4] << 3) | (h[5] >> 5);
        const size_t hdr = (h[1] & 1) ? 7 : 9;
        if (at + len > adts.payload.size() || len <= hdr) break;
        mi.payload.insert(mi.payload.end(), h + hdr, h + len);
        units.push_back(mi.payload.size());
        at += len;
    }
    const ApiDecode api = decodeFramesWithApi(mi, false);
    ASSERT_GT(api.ends.size(), 30u);
    for (size_t size : {size_t{4096}, size_t{1000}, size_t{13}}) {
        const MoRun run = runMediaObject(mi, false, mi.payload, everyBytes(size, mi.payload.size()));
        EXPECT_EQ(run.pcm, api.pcm) << "buffers of " << size;
    }
    const MoRun one = runMediaObject(mi, false, mi.payload, units);
    EXPECT_EQ(one.pcm, api.pcm) << "one unit per buffer";
}
