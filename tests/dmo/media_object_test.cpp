#include <fstream>
#include <iterator>

#include "aacdec.h"
#include "dmo_fixture.h"
#include "stream_input.h"

namespace {

const std::vector<BYTE> kLcStereo44100 = {0x12, 0x10};

std::vector<BYTE> readFile(const std::string& name) {
    std::ifstream f(std::string(SONADEC_TEST_DATA) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// Whether the decoder API decodes real frames yet (the syntax parser may
// still be missing): tests that need decoded output skip otherwise.
bool decoderDecodes() {
    const std::vector<BYTE> s = readFile("lc_ff_44100_st_is.adts");
    AacDecoder* d = nullptr;
    AacStreamConfig cfg{};
    int32_t n = static_cast<int32_t>(s.size());
    bool ok = AacDecCreate(&d) == 0 && AacDecParseConfig(s.data(), &n, &cfg, 1) == 0 && AacDecInit(d, &cfg) == 0;
    std::vector<int16_t> pcm(4096);
    int32_t bytes = static_cast<int32_t>(s.size()), pcmBytes = 8192;
    ok = ok && AacDecDecodeFrame(d, s.data(), &bytes, pcm.data(), &pcmBytes) == 0;
    if (d) AacDecDestroy(d);
    return ok;
}

class MediaObject : public RegisteredModule {
protected:
    void SetUp() override {
        RegisteredModule::SetUp();
        create();
        format = waveFormat(0xA106, 2, 44100, kLcStereo44100);
    }
    HRESULT setInput() {
        DMO_MEDIA_TYPE t = audioType(kSubAsc, format);
        return mo->SetInputType(0, &t, 0);
    }
    HRESULT setBoth() {
        HRESULT hr = setInput();
        if (hr != S_OK) return hr;
        DMO_MEDIA_TYPE out;
        hr = mo->GetOutputType(0, 0, &out);
        if (hr != S_OK) return hr;
        hr = mo->SetOutputType(0, &out, 0);
        MoFreeMediaType(&out);
        return hr;
    }
    WAVEFORMATEX outputFormat() {
        DMO_MEDIA_TYPE out{};
        WAVEFORMATEX w{};
        if (mo->GetOutputType(0, 0, &out) == S_OK) {
            std::memcpy(&w, out.pbFormat, sizeof w);
            MoFreeMediaType(&out);
        }
        return w;
    }
    std::vector<BYTE> format;
};

} // namespace

TEST_F(MediaObject, HasOneInputAndOneOutputStream) {
    DWORD in = 0, out = 0;
    ASSERT_EQ(mo->GetStreamCount(&in, &out), S_OK);
    EXPECT_EQ(in, 1u);
    EXPECT_EQ(out, 1u);
    EXPECT_EQ(mo->GetStreamCount(nullptr, &out), E_POINTER);
}

TEST_F(MediaObject, StreamInfoFlags) {
    DWORD f = 99;
    EXPECT_EQ(mo->GetInputStreamInfo(0, &f), S_OK);
    EXPECT_EQ(f, 0u);
    EXPECT_EQ(mo->GetOutputStreamInfo(0, &f), S_OK);
    EXPECT_EQ(f, 7u);
    EXPECT_EQ(mo->GetInputStreamInfo(1, &f), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetOutputStreamInfo(1, &f), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetInputStreamInfo(0, nullptr), E_POINTER);
}

TEST_F(MediaObject, StreamIndicesOtherThanZeroAreRefused) {
    DMO_MEDIA_TYPE t = audioType(kSubAsc, format);
    DWORD a, b, c;
    REFERENCE_TIME l;
    EXPECT_EQ(mo->SetInputType(1, &t, 0), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->SetOutputType(1, &t, 0), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetInputType(1, 0, &t), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetOutputType(1, 0, &t), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetInputCurrentType(1, &t), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetInputSizeInfo(1, &a, &b, &c), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetOutputSizeInfo(1, &a, &b), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetInputMaxLatency(1, &l), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->Discontinuity(1), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(mo->GetInputStatus(1, &a), DMO_E_INVALIDSTREAMINDEX);
}

TEST_F(MediaObject, InputTypesAreNotEnumerated) {
    DMO_MEDIA_TYPE t;
    EXPECT_EQ(mo->GetInputType(0, 0, &t), DMO_E_NO_MORE_ITEMS);
    EXPECT_EQ(mo->GetInputType(0, 5, &t), DMO_E_NO_MORE_ITEMS);
}

TEST_F(MediaObject, OutputTypeNeedsTheInputType) {
    DMO_MEDIA_TYPE t;
    EXPECT_EQ(mo->GetOutputType(0, 0, &t), static_cast<HRESULT>(-1));
    ASSERT_EQ(setInput(), S_OK);
    EXPECT_EQ(mo->GetOutputType(0, 1, &t), DMO_E_NO_MORE_ITEMS);
    EXPECT_EQ(mo->GetOutputType(0, 0, nullptr), E_POINTER);
}

TEST_F(MediaObject, StereoLc44100GivesItsPcmType) {
    ASSERT_EQ(setInput(), S_OK);
    DMO_MEDIA_TYPE out;
    ASSERT_EQ(mo->GetOutputType(0, 0, &out), S_OK);
    EXPECT_EQ(out.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(out.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(out.formattype, FORMAT_WaveFormatEx);
    EXPECT_EQ(out.cbFormat, 18u);
    WAVEFORMATEX w;
    std::memcpy(&w, out.pbFormat, sizeof w);
    MoFreeMediaType(&out);
    EXPECT_EQ(w.wFormatTag, 1);
    EXPECT_EQ(w.nChannels, 2);
    EXPECT_EQ(w.nSamplesPerSec, 44100u);
    EXPECT_EQ(w.nBlockAlign, 4);
    EXPECT_EQ(w.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(w.wBitsPerSample, 16);
    EXPECT_EQ(w.cbSize, 0);
}

TEST_F(MediaObject, OutputSizeIsOneFrame) {
    DWORD size = 0, align = 0, look = 0;
    EXPECT_EQ(mo->GetOutputSizeInfo(0, &size, &align), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(mo->GetInputSizeInfo(0, &size, &look, &align), DMO_E_TYPE_NOT_SET);
    ASSERT_EQ(setInput(), S_OK);
    EXPECT_EQ(mo->GetInputSizeInfo(0, &size, &look, &align), S_OK);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(look, 0u);
    EXPECT_EQ(align, 1u);
    EXPECT_EQ(mo->GetOutputSizeInfo(0, &size, &align), DMO_E_TYPE_NOT_SET);
    ASSERT_EQ(setBoth(), S_OK);
    EXPECT_EQ(mo->GetOutputSizeInfo(0, &size, &align), S_OK);
    EXPECT_EQ(size, 4096u);
    EXPECT_EQ(align, 1u);
}

TEST_F(MediaObject, RefusesWrongFormatTag) {
    format = waveFormat(0x00FF, 2, 44100, kLcStereo44100);
    EXPECT_EQ(setInput(), E_INVALIDARG);
}

TEST_F(MediaObject, RefusesThreeChannels) {
    format = waveFormat(0xA106, 3, 44100, kLcStereo44100);
    EXPECT_EQ(setInput(), E_INVALIDARG);
}

TEST_F(MediaObject, RefusesAFormatBlockShorterThan18Bytes) {
    format.resize(17);
    EXPECT_EQ(setInput(), E_INVALIDARG);
}

TEST_F(MediaObject, RefusesWrongMajorSubOrFormatType) {
    DMO_MEDIA_TYPE t = audioType(kSubAsc, format);
    t.majortype = GUID_NULL;
    EXPECT_EQ(mo->SetInputType(0, &t, 0), E_INVALIDARG);
    t = audioType(MEDIASUBTYPE_PCM, format);
    EXPECT_EQ(mo->SetInputType(0, &t, 0), E_INVALIDARG);
    t = audioType(kSubAsc, format);
    t.formattype = GUID_NULL;
    EXPECT_EQ(mo->SetInputType(0, &t, 0), E_INVALIDARG);
    t = audioType(kSubAsc, format);
    t.pbFormat = nullptr;
    EXPECT_EQ(mo->SetInputType(0, &t, 0), E_INVALIDARG);
}

TEST_F(MediaObject, RefusesACodecDataLengthBeyondTheFormatBlock) {
    format = waveFormat(0xA106, 2, 44100, kLcStereo44100);
    format[16] = 200; // cbSize claims 200 bytes of configuration
    EXPECT_EQ(setInput(), E_INVALIDARG);
}

TEST_F(MediaObject, RefusesLyingLengthsOfTheConfigurationAndUnitSubtype) {
    std::vector<BYTE> codec = unitCodecData(kLcStereo44100, {1, 2, 3});
    codec[4] = 0xFF; // unit length 255, only 3 bytes follow
    format = waveFormat(0xA106, 2, 44100, codec);
    DMO_MEDIA_TYPE t = audioType(kSubAscUnit, format);
    EXPECT_EQ(mo->SetInputType(0, &t, 0), E_INVALIDARG);
    format.resize(24); // too short to hold the two lengths
    t = audioType(kSubAscUnit, format);
    EXPECT_EQ(mo->SetInputType(0, &t, 0), E_INVALIDARG);
}

TEST_F(MediaObject, AConfigurationTheDecoderRejectsFailsTheType) {
    format = waveFormat(0xA106, 2, 44100, {0x0A, 0x10}); // object type 1 (Main)
    EXPECT_EQ(setInput(), static_cast<HRESULT>(-1));
}

TEST_F(MediaObject, SetTypeFlags) {
    DMO_MEDIA_TYPE t = audioType(kSubAsc, format);
    EXPECT_EQ(mo->SetInputType(0, &t, 4), E_INVALIDARG);
    EXPECT_EQ(mo->SetInputType(0, nullptr, 0), E_POINTER);
    EXPECT_EQ(mo->SetInputType(0, &t, DMO_SET_TYPEF_TEST_ONLY), S_OK);
    DMO_MEDIA_TYPE cur;
    EXPECT_EQ(mo->GetInputCurrentType(0, &cur), DMO_E_TYPE_NOT_SET);
    ASSERT_EQ(mo->SetInputType(0, &t, 0), S_OK);
    ASSERT_EQ(mo->GetInputCurrentType(0, &cur), S_OK);
    EXPECT_EQ(cur.cbFormat, format.size());
    MoFreeMediaType(&cur);
    EXPECT_EQ(mo->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR), S_OK);
    EXPECT_EQ(mo->GetInputCurrentType(0, &cur), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(mo->GetInputCurrentType(0, nullptr), E_POINTER);
}

TEST_F(MediaObject, ASetSlotAcceptsOnlyTheSameType) {
    ASSERT_EQ(setInput(), S_OK);
    EXPECT_EQ(setInput(), S_OK);
    std::vector<BYTE> other = waveFormat(0xA106, 1, 44100, {0x12, 0x08});
    DMO_MEDIA_TYPE t = audioType(kSubAsc, other);
    EXPECT_EQ(mo->SetInputType(0, &t, 0), DMO_E_INVALIDTYPE);
}

TEST_F(MediaObject, OutputTypeChecks) {
    std::vector<BYTE> pcm(18);
    DMO_MEDIA_TYPE t = audioType(MEDIASUBTYPE_PCM, pcm);
    EXPECT_EQ(mo->SetOutputType(0, &t, 0), DMO_E_INVALIDTYPE);
    ASSERT_EQ(setInput(), S_OK);
    DMO_MEDIA_TYPE bad = audioType(kSubAsc, pcm);
    EXPECT_EQ(mo->SetOutputType(0, &bad, 0), E_INVALIDARG);
    // Only the PCM format the object proposes: not an empty block, not
    // another rate, channel count or sample size, not a longer block.
    EXPECT_EQ(mo->SetOutputType(0, &t, 0), DMO_E_INVALIDTYPE);
    DMO_MEDIA_TYPE proposed;
    ASSERT_EQ(mo->GetOutputType(0, 0, &proposed), S_OK);
    std::vector<BYTE> good(proposed.pbFormat, proposed.pbFormat + proposed.cbFormat);
    MoFreeMediaType(&proposed);
    for (size_t field : {2u, 4u, 14u}) {
        std::vector<BYTE> other = good;
        other[field] ^= 0x01;
        DMO_MEDIA_TYPE o = audioType(MEDIASUBTYPE_PCM, other);
        EXPECT_EQ(mo->SetOutputType(0, &o, DMO_SET_TYPEF_TEST_ONLY), DMO_E_INVALIDTYPE) << field;
    }
    std::vector<BYTE> longer = good;
    longer.resize(40);
    DMO_MEDIA_TYPE l = audioType(MEDIASUBTYPE_PCM, longer);
    EXPECT_EQ(mo->SetOutputType(0, &l, 0), DMO_E_INVALIDTYPE);
    DMO_MEDIA_TYPE g = audioType(MEDIASUBTYPE_PCM, good);
    EXPECT_EQ(mo->SetOutputType(0, &g, 0), S_OK);
    DMO_MEDIA_TYPE cur;
    ASSERT_EQ(mo->GetOutputCurrentType(0, &cur), S_OK);
    MoFreeMediaType(&cur);
}

TEST_F(MediaObject, LatencyIsNotImplemented) {
    REFERENCE_TIME l;
    EXPECT_EQ(mo->GetInputMaxLatency(0, &l), E_NOTIMPL);
    EXPECT_EQ(mo->SetInputMaxLatency(0, 10), E_NOTIMPL);
}

TEST_F(MediaObject, StreamingCallsNeedBothTypes) {
    DWORD f;
    EXPECT_EQ(mo->GetInputStatus(0, &f), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(mo->Discontinuity(0), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(mo->AllocateStreamingResources(), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(mo->Flush(), DMO_E_TYPE_NOT_SET);
    TestBuffer* in = TestBuffer::input({1, 2, 3});
    EXPECT_EQ(mo->ProcessInput(0, in, 0, 0, 0), DMO_E_TYPE_NOT_SET);
    in->Release();
}

TEST_F(MediaObject, ProcessInputArguments) {
    ASSERT_EQ(setBoth(), S_OK);
    TestBuffer* in = TestBuffer::input({1, 2, 3});
    EXPECT_EQ(mo->ProcessInput(0, nullptr, 0, 0, 0), E_POINTER);
    EXPECT_EQ(mo->ProcessInput(0, in, 8, 0, 0), E_INVALIDARG);
    EXPECT_EQ(mo->ProcessInput(1, in, 0, 0, 0), DMO_E_INVALIDSTREAMINDEX);
    in->Release();
}

TEST_F(MediaObject, HoldsOneInputBufferAtATime) {
    ASSERT_EQ(setBoth(), S_OK);
    DWORD f = 0;
    ASSERT_EQ(mo->GetInputStatus(0, &f), S_OK);
    EXPECT_EQ(f, static_cast<DWORD>(DMO_INPUT_STATUSF_ACCEPT_DATA));
    TestBuffer* in = TestBuffer::input({1, 2, 3});
    ASSERT_EQ(mo->ProcessInput(0, in, 0, 0, 0), S_OK);
    EXPECT_EQ(in->references(), 2u);
    EXPECT_EQ(mo->ProcessInput(0, in, 0, 0, 0), DMO_E_NOTACCEPTING);
    ASSERT_EQ(mo->GetInputStatus(0, &f), S_OK);
    EXPECT_EQ(f, 0u);
    EXPECT_EQ(mo->Discontinuity(0), DMO_E_NOTACCEPTING);
    EXPECT_EQ(mo->Flush(), S_OK);
    EXPECT_EQ(in->references(), 1u);
    EXPECT_EQ(mo->Discontinuity(0), S_OK);
    in->Release();
}

TEST_F(MediaObject, ProcessOutputArguments) {
    ASSERT_EQ(setBoth(), S_OK);
    TestBuffer* out = TestBuffer::output(4096);
    DMO_OUTPUT_DATA_BUFFER ob{out, 0, 0, 0};
    DWORD status = 5;
    EXPECT_EQ(mo->ProcessOutput(0, 1, &ob, nullptr), E_POINTER);
    EXPECT_EQ(mo->ProcessOutput(0, 1, nullptr, &status), E_POINTER);
    EXPECT_EQ(mo->ProcessOutput(0, 2, &ob, &status), E_INVALIDARG);
    EXPECT_EQ(mo->ProcessOutput(2, 1, &ob, &status), E_INVALIDARG);
    EXPECT_EQ(mo->ProcessOutput(0, 1, &ob, &status), S_FALSE); // no input
    EXPECT_EQ(status, 0u);
    DMO_OUTPUT_DATA_BUFFER none{nullptr, 0, 0, 0};
    EXPECT_EQ(mo->ProcessOutput(0, 1, &none, &status), E_POINTER);
    out->Release();
}

TEST_F(MediaObject, AShortOutputBufferIsRefusedAndTheInputKept) {
    ASSERT_EQ(setBoth(), S_OK);
    TestBuffer* in = TestBuffer::input({1, 2, 3});
    ASSERT_EQ(mo->ProcessInput(0, in, 0, 0, 0), S_OK);
    TestBuffer* out = TestBuffer::output(4095);
    DMO_OUTPUT_DATA_BUFFER ob{out, 0, 0, 0};
    DWORD status;
    EXPECT_EQ(mo->ProcessOutput(0, 1, &ob, &status), static_cast<HRESULT>(AAC_DEC_ERR_OUTPUT_TOO_SMALL));
    EXPECT_EQ(in->references(), 2u);
    EXPECT_EQ(out->length(), 0u);
    out->Release();
    in->Release();
}

TEST_F(MediaObject, AnEmptyBufferGivesNothingAndIsReleased) {
    ASSERT_EQ(setBoth(), S_OK);
    TestBuffer* in = TestBuffer::input({});
    ASSERT_EQ(mo->ProcessInput(0, in, 0, 0, 0), S_OK);
    TestBuffer* out = TestBuffer::output(4096);
    DMO_OUTPUT_DATA_BUFFER ob{out, 0, 0, 0};
    DWORD status;
    EXPECT_EQ(mo->ProcessOutput(0, 1, &ob, &status), S_FALSE);
    EXPECT_EQ(in->references(), 1u);
    EXPECT_EQ(ob.dwStatus, 0u);
    out->Release();
    in->Release();
}

TEST_F(MediaObject, AFrameThatFailsToDecodeReturnsTheCodeAndDropsItsBuffer) {
    ASSERT_EQ(setBoth(), S_OK);
    // More than any frame may need, so it cannot be waiting for more data.
    TestBuffer* in = TestBuffer::input(std::vector<BYTE>(9000, 0xE7));
    ASSERT_EQ(mo->ProcessInput(0, in, 0, 0, 0), S_OK);
    TestBuffer* out = TestBuffer::output(4096);
    DMO_OUTPUT_DATA_BUFFER ob{out, 0, 0, 0};
    DWORD status;
    EXPECT_EQ(mo->ProcessOutput(0, 1, &ob, &status), static_cast<HRESULT>(-1));
    EXPECT_EQ(in->references(), 1u);
    DWORD f = 0;
    mo->GetInputStatus(0, &f);
    EXPECT_EQ(f, static_cast<DWORD>(DMO_INPUT_STATUSF_ACCEPT_DATA));
    out->Release();
    in->Release();
}

TEST_F(MediaObject, ATailThatMayContinueIsCarriedAndFailsAtTheDiscontinuity) {
    ASSERT_EQ(setBoth(), S_OK);
    TestBuffer* in = TestBuffer::input(std::vector<BYTE>(100, 0xE7));
    ASSERT_EQ(mo->ProcessInput(0, in, 0, 0, 0), S_OK);
    TestBuffer* out = TestBuffer::output(4096);
    DMO_OUTPUT_DATA_BUFFER ob{out, 0, 0, 0};
    DWORD status;
    EXPECT_EQ(mo->ProcessOutput(0, 1, &ob, &status), S_FALSE);
    EXPECT_EQ(in->references(), 1u);
    ASSERT_EQ(mo->Discontinuity(0), S_OK);
    EXPECT_EQ(mo->ProcessOutput(0, 1, &ob, &status), static_cast<HRESULT>(-1));
    EXPECT_EQ(mo->ProcessOutput(0, 1, &ob, &status), S_FALSE);
    out->Release();
    in->Release();
}

TEST_F(MediaObject, HeAacUnderTheConfigurationSubtypeStaysAtTheCoreRate) {
    StreamInput s;
    std::string err;
    ASSERT_TRUE(loadStreamInput(std::string(SONADEC_TEST_DATA) + "/he_fdk_48000_st.explicit_hier.idx", &s, &err)) << err;
    format = waveFormat(0xA106, 2, 24000, s.asc);
    ASSERT_EQ(setBoth(), S_OK);
    const WAVEFORMATEX w = outputFormat();
    EXPECT_EQ(w.nSamplesPerSec, 24000u);
    DWORD size = 0, align = 0;
    ASSERT_EQ(mo->GetOutputSizeInfo(0, &size, &align), S_OK);
    EXPECT_EQ(size, 4096u);
}

// Needs the SBR probe of the syntax parser to find the fill element.
TEST_F(MediaObject, HeAacFoundByTheProbeDoublesTheRate) {
    if (!decoderDecodes()) GTEST_SKIP() << "the decoder does not decode frames yet";
    StreamInput s;
    std::string err;
    ASSERT_TRUE(loadStreamInput(std::string(SONADEC_TEST_DATA) + "/he_fdk_48000_st.plain.idx", &s, &err)) << err;
    const std::vector<BYTE> unit(s.bytes.begin(), s.bytes.begin() + s.unitSizes[0]);
    format = waveFormat(0xA106, 2, 24000, unitCodecData(s.asc, unit));
    DMO_MEDIA_TYPE t = audioType(kSubAscUnit, format);
    ASSERT_EQ(mo->SetInputType(0, &t, 0), S_OK);
    EXPECT_EQ(outputFormat().nSamplesPerSec, 48000u);
    DMO_MEDIA_TYPE out;
    ASSERT_EQ(mo->GetOutputType(0, 0, &out), S_OK);
    ASSERT_EQ(mo->SetOutputType(0, &out, 0), S_OK);
    MoFreeMediaType(&out);
    DWORD size = 0, align = 0;
    ASSERT_EQ(mo->GetOutputSizeInfo(0, &size, &align), S_OK);
    EXPECT_EQ(size, 8192u);
}

namespace {
// The first two access units of the LC stereo 44100 Hz stream, raw.
std::vector<std::vector<BYTE>> firstUnits() {
    const std::vector<BYTE> s = readFile("lc_ff_44100_st_is.adts");
    std::vector<std::vector<BYTE>> units;
    size_t at = 0;
    for (int i = 0; i < 3 && at + 7 <= s.size(); ++i) {
        const size_t len = ((s[at + 3] & 3) << 11) | (s[at + 4] << 3) | (s[at + 5] >> 5);
        const size_t hdr = (s[at + 1] & 1) ? 7 : 9;
        units.emplace_back(s.begin() + at + hdr, s.begin() + at + len);
        at += len;
    }
    return units;
}
} // namespace

TEST_F(MediaObject, TwoUnitsInOneBufferGiveAnIncompleteFrameThenTheOther) {
    if (!decoderDecodes()) GTEST_SKIP() << "the decoder does not decode frames yet";
    ASSERT_EQ(setBoth(), S_OK);
    const auto units = firstUnits();
    std::vector<BYTE> both = units[0];
    both.insert(both.end(), units[1].begin(), units[1].end());
    TestBuffer* in = TestBuffer::input(both);
    ASSERT_EQ(mo->ProcessInput(0, in, DMO_INPUT_DATA_BUFFERF_TIME, 1000, 0), S_OK);
    TestBuffer* out = TestBuffer::output(4096);
    DMO_OUTPUT_DATA_BUFFER ob{out, 0, 0, 0};
    DWORD status;
    ASSERT_EQ(mo->ProcessOutput(0, 1, &ob, &status), S_OK);
    EXPECT_EQ(out->length(), 4096u);
    EXPECT_TRUE(ob.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE);
    EXPECT_EQ(ob.rtTimestamp, 1000);
    EXPECT_EQ(ob.rtTimelength, 232199);
    ASSERT_EQ(mo->ProcessOutput(0, 1, &ob, &status), S_OK);
    EXPECT_FALSE(ob.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE);
    EXPECT_EQ(ob.rtTimestamp, 1000 + 232199);
    EXPECT_EQ(in->references(), 1u);
    out->Release();
    in->Release();
}

TEST_F(MediaObject, EachInputTimeStampBecomesTheNextOutputTimeStamp) {
    if (!decoderDecodes()) GTEST_SKIP() << "the decoder does not decode frames yet";
    ASSERT_EQ(setBoth(), S_OK);
    const auto units = firstUnits();
    TestBuffer* out = TestBuffer::output(4096);
    for (size_t i = 0; i < units.size(); ++i) {
        TestBuffer* in = TestBuffer::input(units[i]);
        const REFERENCE_TIME t = 5000000 * static_cast<REFERENCE_TIME>(i + 1);
        ASSERT_EQ(mo->ProcessInput(0, in, DMO_INPUT_DATA_BUFFERF_TIME, t, 0), S_OK);
        DMO_OUTPUT_DATA_BUFFER ob{out, 0, 0, 0};
        DWORD status;
        ASSERT_EQ(mo->ProcessOutput(0, 1, &ob, &status), S_OK);
        EXPECT_EQ(ob.dwStatus, static_cast<DWORD>(DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH));
        EXPECT_EQ(ob.rtTimestamp, t);
        EXPECT_EQ(ob.rtTimelength, 232199);
        in->Release();
    }
    out->Release();
}

TEST_F(MediaObject, LyingFormatBlocksNeverCrash) {
    // Every length field of the configuration-plus-unit block, every size.
    std::vector<BYTE> codec = unitCodecData(kLcStereo44100, std::vector<BYTE>(40, 0x21));
    const std::vector<BYTE> full = waveFormat(0xA106, 2, 44100, codec);
    for (size_t size = 0; size <= full.size(); ++size)
        for (int field : {18, 19, 22, 23, 16}) {
            std::vector<BYTE> f(full.begin(), full.begin() + size);
            if (static_cast<size_t>(field) < f.size()) f[field] = 0xFF;
            for (const GUID* sub : {&kSubAsc, &kSubAscUnit}) {
                DMO_MEDIA_TYPE t = audioType(*sub, f);
                if (f.empty()) t.pbFormat = nullptr;
                const HRESULT hr = mo->SetInputType(0, &t, DMO_SET_TYPEF_TEST_ONLY);
                EXPECT_TRUE(hr == S_OK || FAILED(hr));
            }
        }
}

namespace {

struct Output {
    HRESULT hr;
    DWORD status;
    REFERENCE_TIME time;
    std::vector<BYTE> pcm;
};

// The first `frames` ADTS frames of a stream, whole.
std::vector<BYTE> adtsFrames(const std::string& name, int frames, std::vector<size_t>* ends = nullptr) {
    const std::vector<BYTE> s = readFile(name);
    size_t at = 0;
    for (int i = 0; i < frames && at + 7 <= s.size(); ++i) {
        at += ((s[at + 3] & 3) << 11) | (s[at + 4] << 3) | (s[at + 5] >> 5);
        if (ends) ends->push_back(at);
    }
    return std::vector<BYTE>(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(std::min(at, s.size())));
}

class Streaming : public MediaObject {
protected:
    void SetUp() override {
        MediaObject::SetUp();
        ASSERT_EQ(setBoth(), S_OK);
        out = TestBuffer::output(8192);
    }
    void TearDown() override {
        out->Release();
        MediaObject::TearDown();
    }
    HRESULT give(const std::vector<BYTE>& bytes, DWORD flags = 0, REFERENCE_TIME t = 0) {
        TestBuffer* in = TestBuffer::input(bytes);
        const HRESULT hr = mo->ProcessInput(0, in, flags, t, 0);
        in->Release();
        return hr;
    }
    Output pull() {
        DMO_OUTPUT_DATA_BUFFER ob{out, 0, 0, 0};
        out->SetLength(0);
        DWORD status = 0;
        Output o{mo->ProcessOutput(0, 1, &ob, &status), ob.dwStatus, ob.rtTimestamp, {}};
        BYTE* b = nullptr;
        DWORD n = 0;
        out->GetBufferAndLength(&b, &n);
        if (o.hr == S_OK) o.pcm.assign(b, b + n);
        return o;
    }
    // Everything the object gives until it wants input.
    std::vector<Output> pullAll() {
        std::vector<Output> all;
        for (int i = 0; i < 64; ++i) {
            all.push_back(pull());
            DWORD f = 0;
            mo->GetInputStatus(0, &f);
            if ((f & DMO_INPUT_STATUSF_ACCEPT_DATA) && !(all.back().status & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) break;
        }
        return all;
    }
    static std::vector<std::vector<BYTE>> pcmOf(const std::vector<Output>& os) {
        std::vector<std::vector<BYTE>> r;
        for (const Output& o : os)
            if (!o.pcm.empty()) r.push_back(o.pcm);
        return r;
    }
    TestBuffer* out = nullptr;
};

} // namespace

TEST_F(Streaming, ABadFrameCostsThatFrameOnly) {
    std::vector<size_t> ends;
    std::vector<BYTE> s = adtsFrames("lc_ff_44100_st_is.adts", 5, &ends);
    std::vector<BYTE> bad = s;
    bad[ends[1] + 7] = 0xE0; // frame 3's block starts with END
    ASSERT_EQ(give(bad), S_OK);
    const auto os = pullAll();
    EXPECT_EQ(pcmOf(os).size(), 4u);
    // The same bytes decoded frame by frame, the bad one skipped.
    ASSERT_EQ(mo->Flush(), S_OK);
    std::vector<std::vector<BYTE>> want;
    for (size_t i = 0; i < ends.size(); ++i) {
        const size_t from = i ? ends[i - 1] : 0;
        ASSERT_EQ(give(std::vector<BYTE>(bad.begin() + from, bad.begin() + ends[i])), S_OK);
        for (auto& p : pcmOf(pullAll())) want.push_back(p);
    }
    EXPECT_EQ(pcmOf(os), want);
}

TEST_F(Streaming, IncompleteExactlyWhileAnotherFrameIsInTheBuffer) {
    std::vector<size_t> ends;
    std::vector<BYTE> s = adtsFrames("lc_ff_44100_st_is.adts", 3, &ends);
    s.resize(ends[1] + (ends[2] - ends[1]) / 2); // two frames and half a third
    ASSERT_EQ(give(s), S_OK);
    Output a = pull();
    ASSERT_EQ(a.hr, S_OK);
    EXPECT_TRUE(a.status & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE);
    Output b = pull();
    ASSERT_EQ(b.hr, S_OK);
    EXPECT_FALSE(b.status & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE);
    DWORD f = 0;
    ASSERT_EQ(mo->GetInputStatus(0, &f), S_OK);
    EXPECT_EQ(f, static_cast<DWORD>(DMO_INPUT_STATUSF_ACCEPT_DATA)); // the half frame is carried
    EXPECT_EQ(pull().hr, S_FALSE);
}

TEST_F(Streaming, TheFirstTimeStampIsKeptWhenItsBufferHoldsNoWholeFrame) {
    const std::vector<BYTE> s = adtsFrames("lc_ff_44100_st_is.adts", 3);
    ASSERT_EQ(give(std::vector<BYTE>(s.begin(), s.begin() + 100), DMO_INPUT_DATA_BUFFERF_TIME, 777), S_OK);
    EXPECT_EQ(pull().hr, S_FALSE);
    ASSERT_EQ(give(std::vector<BYTE>(s.begin() + 100, s.end())), S_OK);
    const auto os = pullAll();
    ASSERT_FALSE(os.empty());
    ASSERT_EQ(os[0].hr, S_OK);
    EXPECT_TRUE(os[0].status & DMO_OUTPUT_DATA_BUFFERF_TIME);
    EXPECT_EQ(os[0].time, 777);
    ASSERT_GE(os.size(), 2u);
    EXPECT_EQ(os[1].time, 777 + 232199);
}

TEST_F(Streaming, DiscontinuityAndFlushRestartTheDecoder) {
    const std::vector<BYTE> s = adtsFrames("lc_ff_44100_st_is.adts", 4);
    ASSERT_EQ(give(s), S_OK);
    const auto first = pcmOf(pullAll());
    ASSERT_EQ(first.size(), 4u);
    // The same frames after a discontinuity decode as from a fresh start.
    ASSERT_EQ(mo->Discontinuity(0), S_OK);
    ASSERT_EQ(give(s), S_OK);
    EXPECT_EQ(pcmOf(pullAll()), first);
    // And after a flush in the middle of the stream.
    ASSERT_EQ(give(s), S_OK);
    pull();
    ASSERT_EQ(mo->Flush(), S_OK);
    ASSERT_EQ(give(s), S_OK);
    EXPECT_EQ(pcmOf(pullAll()), first);
}

TEST_F(Streaming, NewInputClearsTheDiscontinuity) {
    const std::vector<BYTE> s = adtsFrames("lc_ff_44100_st_is.adts", 3);
    // A tail carried past a discontinuity is drained on its own...
    ASSERT_EQ(give(std::vector<BYTE>(s.begin(), s.begin() + 50)), S_OK);
    EXPECT_EQ(pull().hr, S_FALSE);
    ASSERT_EQ(mo->Discontinuity(0), S_OK);
    // ...or, when input comes first, dropped: the new input starts afresh
    // and nothing of the old tail is drained later.
    ASSERT_EQ(give(s), S_OK);
    EXPECT_EQ(pcmOf(pullAll()).size(), 3u);
    EXPECT_EQ(pull().hr, S_FALSE);
    ASSERT_EQ(give(std::vector<BYTE>(s.begin(), s.begin() + 50)), S_OK);
    EXPECT_EQ(pull().hr, S_FALSE);
    EXPECT_EQ(pull().hr, S_FALSE); // carried, waiting: no discontinuity left to drain it
}

TEST_F(Streaming, AFlushInsideAMultiBlockFrameDoesNotTakeTheNextHeaderForABlock) {
    format = waveFormat(0xA106, 1, 22050, {0x13, 0x88}); // LC mono 22050
    mo->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
    mo->SetOutputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
    ASSERT_EQ(setBoth(), S_OK);
    const std::vector<BYTE> s = adtsFrames("lc_ff_22050_mo.2blk.adts", 4);
    ASSERT_EQ(s[6] & 3, 1);
    ASSERT_EQ(give(s), S_OK);
    const auto whole = pcmOf(pullAll());
    ASSERT_EQ(whole.size(), 8u);
    ASSERT_EQ(mo->Flush(), S_OK);
    // First block of the first frame only, then a seek back to the start.
    ASSERT_EQ(give(s), S_OK);
    ASSERT_EQ(pull().hr, S_OK);
    ASSERT_EQ(mo->Flush(), S_OK);
    ASSERT_EQ(give(s), S_OK);
    EXPECT_EQ(pcmOf(pullAll()), whole);
}
