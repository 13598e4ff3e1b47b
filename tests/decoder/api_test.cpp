// The frame API's rules that hold whatever the stages behind it do.
#include "aacdec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "context.h"

namespace {

AacStreamConfig lcConfig(int32_t rate, int32_t channels) {
    AacStreamConfig c{};
    c.frameLength = 1024;
    c.sampleRate = rate;
    c.channels = channels;
    c.profile = 1;
    c.outputSampleRate = rate;
    return c;
}

struct Decoder {
    AacDecoder* d = nullptr;
    explicit Decoder(bool he = false) { EXPECT_EQ(he ? AacDecCreateHe(&d) : AacDecCreate(&d), 0); }
    ~Decoder() { AacDecDestroy(d); }
};

// A 7-byte ADTS header (protection absent) for the given fields.
std::vector<uint8_t> adtsHeader(int profile, int srIndex, int channelConfig, int frameLength,
                                int blocks = 0, int layer = 0) {
    std::vector<uint8_t> h(7);
    h[0] = 0xFF;
    h[1] = static_cast<uint8_t>(0xF0 | (layer << 1) | 1);
    h[2] = static_cast<uint8_t>((profile << 6) | (srIndex << 2) | (channelConfig >> 2));
    h[3] = static_cast<uint8_t>(((channelConfig & 3) << 6) | (frameLength >> 11));
    h[4] = static_cast<uint8_t>((frameLength >> 3) & 0xFF);
    h[5] = static_cast<uint8_t>(((frameLength & 7) << 5) | 0x1F);
    h[6] = static_cast<uint8_t>(0xFC | blocks);
    return h;
}

TEST(DecoderApi, CreateAndDestroy) {
    EXPECT_EQ(AacDecCreate(nullptr), AAC_DEC_ERR_NOMEM);
    EXPECT_EQ(AacDecCreateHe(nullptr), AAC_DEC_ERR_NOMEM);
    EXPECT_EQ(AacDecDestroy(nullptr), AAC_DEC_ERROR);
    AacDecoder* d = nullptr;
    ASSERT_EQ(AacDecCreate(&d), AAC_DEC_OK);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->frameCount, 0);
    EXPECT_EQ(d->sbrChannel[0], nullptr);
    EXPECT_EQ(d->sbrChannel[1], nullptr);
    EXPECT_NE(d->decodeOp, nullptr);
    EXPECT_NE(d->releaseOp, nullptr);
    EXPECT_NE(d->configureOp, nullptr);
    EXPECT_EQ(d->reserved[0], nullptr);
    EXPECT_EQ(AacDecDestroy(d), AAC_DEC_OK);
    ASSERT_EQ(AacDecCreateHe(&d), AAC_DEC_OK);
    EXPECT_NE(d->sbrChannel[0], nullptr);
    EXPECT_NE(d->sbrChannel[1], nullptr);
    EXPECT_EQ(AacDecDestroy(d), AAC_DEC_OK);
}

TEST(DecoderApi, DecodeRefusedUntilConfigured) {
    Decoder dec;
    uint8_t data[16] = {};
    int16_t pcm[4096];
    int32_t in = 16, out = sizeof pcm;
    EXPECT_EQ(AacDecDecodeFrame(dec.d, data, &in, pcm, &out), AAC_DEC_ERROR);
    EXPECT_EQ(in, 16);
    EXPECT_EQ(AacDecDecodeFrame(nullptr, data, &in, pcm, &out), AAC_DEC_ERROR);
    AacStreamConfig c = lcConfig(44100, 2);
    ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
    EXPECT_EQ(AacDecDecodeFrame(dec.d, nullptr, &in, pcm, &out), AAC_DEC_ERROR);
    EXPECT_EQ(AacDecDecodeFrame(dec.d, data, &in, nullptr, &out), AAC_DEC_ERROR);
}

TEST(DecoderApi, InitRefusals) {
    Decoder dec;
    AacStreamConfig c = lcConfig(44100, 2);
    EXPECT_EQ(AacDecInit(nullptr, &c), AAC_DEC_ERROR);
    for (int ch : {0, 3, 15, -1}) {
        c = lcConfig(44100, ch);
        EXPECT_EQ(AacDecInit(dec.d, &c), AAC_DEC_ERROR) << ch;
    }
    c = lcConfig(44000, 2);
    EXPECT_EQ(AacDecInit(dec.d, &c), AAC_DEC_ERROR);
    c = lcConfig(2147483647, 2); // the search stop entry is not a rate
    EXPECT_EQ(AacDecInit(dec.d, &c), AAC_DEC_ERROR);
    c = lcConfig(44100, 2);
    c.frameLength = 960;
    EXPECT_EQ(AacDecInit(dec.d, &c), AAC_DEC_ERROR);
    for (int profile : {0, 2, 4}) {
        c = lcConfig(44100, 2);
        c.profile = profile;
        EXPECT_EQ(AacDecInit(dec.d, &c), AAC_DEC_ERROR) << profile;
    }
    c = lcConfig(44100, 2);
    c.extensionType = 2;
    EXPECT_EQ(AacDecInit(dec.d, &c), AAC_DEC_ERROR);
    EXPECT_EQ(dec.d->frameCount, 0); // nothing was configured
    c = lcConfig(44100, 2);
    c.profile = 3;
    EXPECT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
    EXPECT_EQ(dec.d->frameCount, 1);
}

TEST(DecoderApi, InitResultsPlainAndHe) {
    for (int32_t rate : {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000}) {
        Decoder dec;
        AacStreamConfig c = lcConfig(rate, 2);
        ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
        EXPECT_EQ(c.outputSampleRate, rate);
        EXPECT_EQ(c.singleRateOutput, 1);
        EXPECT_EQ(c.outputBytesPerFrame, 4096);
        EXPECT_EQ(kSampleRates[dec.d->srIndex], rate);
    }
    {   // HE-AAC, 24000 Hz core: twice the rate and 8192 bytes for stereo.
        Decoder dec(true);
        AacStreamConfig c = lcConfig(24000, 2);
        c.extensionType = 5;
        c.outputSampleRate = 48000;
        c.singleRateOutput = 0;
        ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
        EXPECT_EQ(c.outputSampleRate, 48000);
        EXPECT_EQ(c.outputBytesPerFrame, 8192);
        EXPECT_EQ(c.singleRateOutput, 0);
        EXPECT_EQ(dec.d->outputFrameLength, 2048);
        EXPECT_EQ(dec.d->sbrEnabled, 1);
        EXPECT_EQ(dec.d->sbrChannel[0]->sbrSampleRate, 48000);
        EXPECT_EQ(dec.d->sbrChannel[1]->sbrRateIndex, 3);
    }
    {   // 32000 Hz core: factor 1.
        Decoder dec(true);
        AacStreamConfig c = lcConfig(32000, 2);
        c.extensionType = 5;
        c.outputSampleRate = 64000;
        ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
        EXPECT_EQ(c.outputSampleRate, 32000);
        EXPECT_EQ(c.outputBytesPerFrame, 4096);
        EXPECT_EQ(c.singleRateOutput, 1);
    }
    {   // A signalled single rate keeps the core rate; mono halves the bytes.
        Decoder dec(true);
        AacStreamConfig c = lcConfig(22050, 1);
        c.extensionType = 5;
        c.singleRateOutput = 1;
        ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
        EXPECT_EQ(c.outputSampleRate, 22050);
        EXPECT_EQ(c.outputBytesPerFrame, 2048);
    }
    // Cores from 64000 Hz up would need SBR tables past 96000 Hz: they play
    // without SBR, at the core rate, and 48000 Hz is the fastest with it.
    for (int32_t rate : {96000, 88200, 64000}) {
        Decoder dec(true);
        AacStreamConfig c = lcConfig(rate, 2);
        c.extensionType = 5;
        c.outputSampleRate = 2 * rate;
        ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
        EXPECT_EQ(c.outputSampleRate, rate);
        EXPECT_EQ(c.singleRateOutput, 1);
        EXPECT_EQ(dec.d->sbrEnabled, 0);
        EXPECT_EQ(dec.d->outputFrameLength, 1024);
    }
    {
        Decoder dec(true);
        AacStreamConfig c = lcConfig(48000, 1);
        c.extensionType = 5;
        ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
        EXPECT_EQ(dec.d->sbrEnabled, 1);
        EXPECT_EQ(dec.d->sbrChannel[0]->sbrRateIndex, 0);
        EXPECT_EQ(c.outputSampleRate, 48000);
    }
    {   // SBR signalled but a plain instance: core rate only.
        Decoder dec(false);
        AacStreamConfig c = lcConfig(24000, 2);
        c.extensionType = 5;
        c.outputSampleRate = 48000;
        ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
        EXPECT_EQ(c.outputSampleRate, 24000);
        EXPECT_EQ(c.outputBytesPerFrame, 4096);
        EXPECT_EQ(dec.d->sbrEnabled, 0);
    }
}

TEST(DecoderApi, InitClearsHistoryAndLearnedState) {
    Decoder dec;
    AacStreamConfig c = lcConfig(48000, 2);
    ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
    dec.d->overlap[5] = 77;
    dec.d->ltpHistory[4095] = 9;
    dec.d->elementTag[0] = 3;
    dec.d->prevWindowShape[1] = 1;
    dec.d->noiseSeed[0] = 1234;
    dec.d->frameCount = 40;
    ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
    EXPECT_EQ(dec.d->overlap[5], 0);
    EXPECT_EQ(dec.d->ltpHistory[4095], 0);
    EXPECT_EQ(dec.d->elementTag[0], 255);
    EXPECT_EQ(dec.d->elementTag[1], 255);
    EXPECT_EQ(dec.d->prevWindowShape[1], 0);
    EXPECT_EQ(dec.d->noiseSeed[0], 0);
    EXPECT_EQ(dec.d->frameCount, 1);
    EXPECT_EQ(dec.d->adtsBlocksLeft, -1);
}

class AdtsEntry : public ::testing::Test {
protected:
    void SetUp() override {
        AacStreamConfig c = lcConfig(44100, 2);
        ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
    }
    int32_t decode(const std::vector<uint8_t>& data, int32_t* consumed, int32_t pcmBytes) {
        *consumed = static_cast<int32_t>(data.size());
        std::vector<int16_t> pcm(pcmBytes / 2 + 1);
        int32_t out = pcmBytes;
        return AacDecDecodeFrame(dec.d, data.data(), consumed, pcm.data(), &out);
    }
    Decoder dec;
};

TEST_F(AdtsEntry, OutputBufferOneByteShort) {
    auto frame = adtsHeader(1, 4, 2, 20);
    frame.resize(20, 0);
    int32_t consumed = 0;
    EXPECT_EQ(decode(frame, &consumed, 4095), AAC_DEC_ERR_OUTPUT_TOO_SMALL);
    EXPECT_EQ(consumed, 20); // nothing consumed
    EXPECT_EQ(dec.d->frameCount, 1);
    EXPECT_EQ(dec.d->adtsMode, 1);
    // The retry reads the same header again.
    EXPECT_EQ(dec.d->adtsBlocksLeft, -1);
}

TEST_F(AdtsEntry, HeaderRefusals) {
    int32_t consumed = 0;
    for (auto frame : {adtsHeader(0, 4, 2, 20), adtsHeader(2, 4, 2, 20), adtsHeader(1, 12, 2, 20),
                       adtsHeader(1, 15, 2, 20), adtsHeader(1, 4, 3, 20), adtsHeader(1, 4, 7, 20)}) {
        frame.resize(20, 0);
        EXPECT_EQ(decode(frame, &consumed, 8192), AAC_DEC_ERROR);
        EXPECT_EQ(consumed, 20);
        EXPECT_EQ(dec.d->adtsBlocksLeft, -1);
    }
}

TEST_F(AdtsEntry, NoSyncInTheBufferFails) {
    std::vector<uint8_t> junk(300, 0x12);
    junk[299] = 0xFF; // a lone 0xFF at the end is no sync word
    int32_t consumed = 0;
    EXPECT_EQ(decode(junk, &consumed, 8192), AAC_DEC_ERROR);
    EXPECT_EQ(consumed, 300);
    std::vector<uint8_t> empty;
    EXPECT_EQ(decode(empty, &consumed, 8192), AAC_DEC_ERROR);
}

TEST(DecoderApi, AdtsModeIsDecidedOnTheFirstFrameOnly) {
    Decoder dec;
    AacStreamConfig c = lcConfig(44100, 2);
    ASSERT_EQ(AacDecInit(dec.d, &c), AAC_DEC_OK);
    dec.d->frameCount = 2; // as after one decoded raw block
    auto frame = adtsHeader(1, 4, 2, 64);
    frame.resize(64, 0);
    int16_t pcm[4096];
    int32_t in = 64, out = sizeof pcm;
    AacDecDecodeFrame(dec.d, frame.data(), &in, pcm, &out);
    EXPECT_EQ(dec.d->adtsMode, 0);
    EXPECT_EQ(dec.d->adtsBlocksLeft, -1);
}

TEST(DecoderApi, ConfigurationOnlyThroughInit) {
    // The instance is configured through AacDecInit alone: a decoder given a
    // perfect ADTS stream still refuses it until it is initialised.
    Decoder dec;
    auto frame = adtsHeader(1, 4, 2, 64);
    frame.resize(64, 0);
    int16_t pcm[4096];
    int32_t in = 64, out = sizeof pcm;
    EXPECT_EQ(AacDecDecodeFrame(dec.d, frame.data(), &in, pcm, &out), AAC_DEC_ERROR);
    EXPECT_EQ(dec.d->adtsMode, 0);
}

} // namespace

namespace {

std::vector<uint8_t> readStream(const char* name) {
    std::ifstream f(std::string(SONADEC_TEST_DATA) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

size_t adtsLength(const std::vector<uint8_t>& s, size_t at) {
    return ((s[at + 3] & 3u) << 11) | (s[at + 4] << 3) | (s[at + 5] >> 5);
}

} // namespace

// Calls that fail on a frame cut short (as a caller streaming the data would
// make) change nothing: the noise generator, the learned element tags and the
// header state stay, and the PCM is that of a decoder that never saw them.
TEST(DecoderApi, AFailedCallLeavesTheDecoderAsItWas) {
    const std::vector<uint8_t> s = readStream("lc_ff_24000_st_pns.adts");
    ASSERT_GT(s.size(), 4000u);
    AacStreamConfig c{};
    int32_t n = static_cast<int32_t>(s.size());
    ASSERT_EQ(AacDecParseConfig(s.data(), &n, &c, 1), 0);
    Decoder plain, tried;
    AacStreamConfig c2 = c;
    ASSERT_EQ(AacDecInit(plain.d, &c), 0);
    ASSERT_EQ(AacDecInit(tried.d, &c2), 0);
    std::vector<int16_t> a(4096), b(4096);
    size_t at = 0;
    int frames = 0, failures = 0;
    while (at + 7 <= s.size() && frames < 40) {
        const size_t len = adtsLength(s, at);
        if (at + len > s.size()) break;
        for (size_t cut : {len / 3, len / 2, len - 1}) {
            const int32_t seed0 = tried.d->noiseSeed[0], seed1 = tried.d->noiseSeed[1];
            const int32_t tag0 = tried.d->elementTag[0], tag1 = tried.d->elementTag[1];
            int32_t in = static_cast<int32_t>(cut), out = 8192;
            if (AacDecDecodeFrame(tried.d, s.data() + at, &in, b.data(), &out) != AAC_DEC_OK) {
                ++failures;
                EXPECT_EQ(in, static_cast<int32_t>(cut));
                EXPECT_EQ(tried.d->noiseSeed[0], seed0);
                EXPECT_EQ(tried.d->noiseSeed[1], seed1);
                EXPECT_EQ(tried.d->elementTag[0], tag0);
                EXPECT_EQ(tried.d->elementTag[1], tag1);
                EXPECT_EQ(tried.d->adtsBlocksLeft, -1);
            }
        }
        int32_t inA = static_cast<int32_t>(len), outA = 8192, inB = inA, outB = 8192;
        ASSERT_EQ(AacDecDecodeFrame(plain.d, s.data() + at, &inA, a.data(), &outA), AAC_DEC_OK);
        ASSERT_EQ(AacDecDecodeFrame(tried.d, s.data() + at, &inB, b.data(), &outB), AAC_DEC_OK);
        ASSERT_EQ(inA, inB);
        ASSERT_EQ(outA, outB);
        ASSERT_EQ(std::memcmp(a.data(), b.data(), static_cast<size_t>(outA)), 0) << "frame " << frames;
        at += len;
        ++frames;
    }
    EXPECT_EQ(frames, 40);
    EXPECT_GT(failures, 60);
}

// A multi-block frame whose first block breaks: the next call reads the
// next frame's header, not its bytes as a second block.
TEST_F(AdtsEntry, ABlockThatBreaksEndsItsFrame) {
    const std::vector<uint8_t> s = readStream("lc_ff_22050_mo.2blk.adts");
    ASSERT_GT(s.size(), 2000u);
    AacStreamConfig c{};
    int32_t n = static_cast<int32_t>(s.size());
    ASSERT_EQ(AacDecParseConfig(s.data(), &n, &c, 1), 0);
    ASSERT_EQ(AacDecInit(dec.d, &c), 0);
    ASSERT_EQ(s[6] & 3, 1); // two blocks per frame
    std::vector<uint8_t> bad(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(adtsLength(s, 0)));
    bad[7] = 0xE0; // an END element first: nothing decoded
    int32_t consumed = 0;
    EXPECT_EQ(decode(bad, &consumed, 8192), AAC_DEC_ERROR);
    EXPECT_EQ(dec.d->adtsBlocksLeft, -1);
    // The next frame decodes from its header.
    const std::vector<uint8_t> next(s.begin() + static_cast<std::ptrdiff_t>(adtsLength(s, 0)), s.end());
    EXPECT_EQ(decode(next, &consumed, 8192), AAC_DEC_OK);
    EXPECT_EQ(dec.d->adtsBlocksLeft, 0);
}

// A block that runs past its frame's aac_frame_length has read the next
// frame's bits: that frame fails and leaves the decoder as it was, and the
// next call looks for a header. Declared one byte short of where its block
// ends, the first frame of a clean stream fails; the true one then decodes
// as on a fresh decoder.
TEST_F(AdtsEntry, ABlockRunningPastItsFrameLengthFailsItsFrame) {
    const std::vector<uint8_t> s = readStream("lc_ff_48000_st_ms.adts");
    AacStreamConfig c{};
    int32_t n = static_cast<int32_t>(s.size());
    ASSERT_EQ(AacDecParseConfig(s.data(), &n, &c, 1), 0);
    ASSERT_EQ(AacDecInit(dec.d, &c), 0);
    Decoder fresh;
    ASSERT_EQ(AacDecInit(fresh.d, &c), 0);
    std::vector<int16_t> expected(4096), got(4096);
    int32_t blockEnd = static_cast<int32_t>(s.size()), expectedBytes = 8192;
    ASSERT_EQ(AacDecDecodeFrame(fresh.d, s.data(), &blockEnd, expected.data(), &expectedBytes), AAC_DEC_OK);
    ASSERT_LE(static_cast<size_t>(blockEnd), adtsLength(s, 0));

    std::vector<uint8_t> lying = s;
    const uint32_t declared = static_cast<uint32_t>(blockEnd - 1);
    lying[3] = static_cast<uint8_t>((lying[3] & 0xFC) | (declared >> 11));
    lying[4] = static_cast<uint8_t>(declared >> 3);
    lying[5] = static_cast<uint8_t>((lying[5] & 0x1F) | ((declared & 7) << 5));
    int32_t consumed = 0;
    EXPECT_EQ(decode(lying, &consumed, 8192), AAC_DEC_ERROR);
    EXPECT_EQ(dec.d->adtsBlocksLeft, -1);

    int32_t in = static_cast<int32_t>(s.size()), out = 8192;
    ASSERT_EQ(AacDecDecodeFrame(dec.d, s.data(), &in, got.data(), &out), AAC_DEC_OK);
    EXPECT_EQ(in, blockEnd);
    ASSERT_EQ(out, expectedBytes);
    EXPECT_EQ(std::memcmp(got.data(), expected.data(), static_cast<size_t>(out)), 0);
}
