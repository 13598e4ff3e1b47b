// The streaming paths of the tools against the whole-file ones: the API
// decode through a bounded window must give exactly the PCM of the decode
// of the whole file in memory, on every stream of tests/data (damaged ones
// included); MP4 files must give the PCM of their ADTS form; the WAV writer
// must round-trip and leave nothing behind when abandoned.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "decode_stream.h"
#include "dmo_client.h"
#include "stream_input.h"
#include "stream_reader.h"
#include "wav.h"

namespace {

const std::string kData = SONADEC_TEST_DATA;
const std::string kCliData = SONADEC_CLI_DATA;

class Collect final : public PcmSink {
public:
    bool begin(int32_t c, int32_t r) override {
        channels = c;
        rate = r;
        return true;
    }
    bool write(const int16_t* s, size_t n) override {
        pcm.insert(pcm.end(), s, s + n);
        return true;
    }
    std::vector<int16_t> pcm;
    int32_t channels = 0, rate = 0;
};

std::vector<std::string> streams() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(kData, ec)) {
        const std::string n = e.path().filename().string();
        for (const char* ext : {".adts", ".adif", ".idx"})
            if (n.size() > std::strlen(ext) && n.compare(n.size() - std::strlen(ext), std::strlen(ext), ext) == 0)
                names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool streamDecode(const std::string& path, Collect* out, StreamDecodeStats* stats) {
    std::string error;
    auto r = openStreamReader(path, &error);
    if (!r) return false;
    return decodeStreamWithApi(*r, *out, stats, &error);
}

TEST(StreamingApiDecode, GivesThePcmOfTheWholeFileDecodeOnEveryStream) {
    const auto names = streams();
    ASSERT_GT(names.size(), 40u);
    size_t decoded = 0;
    for (const std::string& n : names) {
        StreamInput in;
        std::string error;
        ASSERT_TRUE(loadStreamInput(kData + "/" + n, &in, &error)) << n << ": " << error;
        DecodedAudio whole;
        const bool wholeOk = decodeWithApi(in, DecodeOptions{}, &whole, &error);
        Collect got;
        StreamDecodeStats stats;
        const bool streamOk = streamDecode(kData + "/" + n, &got, &stats);
        EXPECT_EQ(streamOk, wholeOk) << n;
        if (!wholeOk || !streamOk) continue;
        ++decoded;
        EXPECT_EQ(stats.frames, static_cast<uint32_t>(whole.framesDecoded)) << n;
        EXPECT_EQ(stats.failedFrames, static_cast<uint32_t>(whole.failedCalls)) << n;
        EXPECT_EQ(got.channels, whole.config.channels) << n;
        EXPECT_EQ(got.rate, whole.config.outputSampleRate) << n;
        EXPECT_TRUE(got.pcm == whole.pcm) << n << ": " << got.pcm.size() << " samples against " << whole.pcm.size();
    }
    EXPECT_GT(decoded, 40u);
}

// Several copies of a stream back to back: longer than the window many times over.
TEST(StreamingApiDecode, LongInputThroughTheWindowEqualsTheWholeDecode) {
    StreamInput one;
    std::string error;
    ASSERT_TRUE(loadStreamInput(kData + "/lc_ff_16000_st_lr.dmg-headers.adts", &one, &error));
    StreamInput many = one;
    for (int i = 0; i < 30; ++i) many.bytes.insert(many.bytes.end(), one.bytes.begin(), one.bytes.end());
    DecodedAudio whole;
    ASSERT_TRUE(decodeWithApi(many, DecodeOptions{}, &whole, &error));
    auto reader = memoryStreamReader(many);
    Collect got;
    StreamDecodeStats stats;
    ASSERT_TRUE(decodeStreamWithApi(*reader, got, &stats, &error)) << error;
    EXPECT_GT(many.bytes.size(), 5u * 65536);
    EXPECT_EQ(stats.frames, static_cast<uint32_t>(whole.framesDecoded));
    EXPECT_TRUE(got.pcm == whole.pcm);
}

TEST(Mp4Input, GivesThePcmOfTheAdtsForm) {
    if (!mp4InputSupported()) GTEST_SKIP() << "built without MP4 input";
    for (const char* s : {"lc_ff_24000_st_pns", "he_fdk_48000_st", "he_fdk_24000_mo", "ltp_ff_44100_mo",
                          "lc_fdk_44100_st_crc"}) {
        Collect mp4, adts;
        StreamDecodeStats a, b;
        ASSERT_TRUE(streamDecode(kCliData + "/" + s + ".m4a", &mp4, &a)) << s;
        ASSERT_TRUE(streamDecode(kData + "/" + s + ".adts", &adts, &b)) << s;
        EXPECT_EQ(a.frames, b.frames) << s;
        EXPECT_GT(a.frames, 20u) << s;
        EXPECT_TRUE(mp4.pcm == adts.pcm) << s;
    }
}

TEST(Mp4Input, FirstAacTrackAndRefusals) {
    if (!mp4InputSupported()) GTEST_SKIP() << "built without MP4 input";
    std::string error;
    auto r = openStreamReader(kCliData + "/three_tracks.mp4", &error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->form(), StreamReader::kMp4);
    // lc_ff_22050_mo: AAC-LC, 22050 Hz (index 7), mono.
    ASSERT_EQ(r->asc().size(), 2u);
    EXPECT_EQ(r->asc()[0], 0x13);
    EXPECT_EQ(r->asc()[1], 0x88);
    Collect first, adts;
    StreamDecodeStats a, b;
    ASSERT_TRUE(decodeStreamWithApi(*r, first, &a, &error)) << error;
    ASSERT_TRUE(streamDecode(kData + "/lc_ff_22050_mo.adts", &adts, &b));
    EXPECT_TRUE(first.pcm == adts.pcm);

    EXPECT_FALSE(openStreamReader(kCliData + "/video_only.mp4", &error));
    EXPECT_NE(error.find("no AAC audio track"), std::string::npos) << error;
}

TEST(StreamReader, RefusesMissingAndEmptyFiles) {
    std::string error;
    EXPECT_FALSE(openStreamReader(kData + "/no-such-file.adts", &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    const std::string empty = testing::TempDir() + "/empty.aac";
    FILE* f = std::fopen(empty.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_FALSE(openStreamReader(empty, &error));
    EXPECT_NE(error.find("is empty"), std::string::npos) << error;
    std::remove(empty.c_str());
}

// The streaming reader and the whole-file loader share one index parser:
// they accept the same indexes with the same units and refuse the same
// faults with the same message.
TEST(StreamReader, IndexFormsAreReadAndRefusedAlikeByBothReaders) {
    const std::string dir = testing::TempDir();
    const std::string bin = dir + "/units.bin";
    FILE* b = std::fopen(bin.c_str(), "wb");
    ASSERT_NE(b, nullptr);
    const uint8_t bytes[7] = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(std::fwrite(bytes, 1, sizeof bytes, b), sizeof bytes);
    std::fclose(b);
    struct Case {
        const char* text;
        const char* error; // nullptr: accepted
    } cases[] = {
        {"# comment\nasc 1210\nbin units.bin\nunits 2\n3\n4\n", nullptr},
        {"asc 121\nbin units.bin\n3\n", "bad asc line"},
        {"asc 12zz\nbin units.bin\n3\n", "bad asc line"},
        {"asc 1210\n3\n", "names no bin file or no asc"},
        {"bin units.bin\n3\n", "names no bin file or no asc"},
        {"asc 1210\nbin units.bin\n3x\n", "bad line"},
        {"asc 1210\nbin units.bin\n-3\n", "bad line"},
        {"asc 1210\nbin units.bin\n1048577\n", "bad line"},
        {"asc 1210\nbin units.bin\nunits 3\n3\n4\n", "declares 3 units and lists 2"},
        {"asc 1210\nbin units.bin\n", "lists no access units"},
        {"asc 1210\nbin units.bin\n4\n4\n", "unit sizes do not match"},
        {"asc 1210\nbin missing.bin\n3\n", "cannot read"},
    };
    const std::string idx = dir + "/units.idx";
    for (const Case& c : cases) {
        FILE* f = std::fopen(idx.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(c.text, f);
        std::fclose(f);
        std::string streamError, loadError;
        auto reader = openStreamReader(idx, &streamError);
        StreamInput whole;
        const bool loaded = loadStreamInput(idx, &whole, &loadError);
        if (c.error == nullptr) {
            ASSERT_TRUE(reader) << c.text << streamError;
            ASSERT_TRUE(loaded) << c.text << loadError;
            EXPECT_EQ(reader->declaredUnits(), 2u);
            EXPECT_EQ(whole.unitSizes, (std::vector<uint32_t>{3, 4}));
            EXPECT_EQ(whole.asc, (std::vector<uint8_t>{0x12, 0x10}));
            EXPECT_EQ(reader->asc(), whole.asc);
            std::vector<uint8_t> unit;
            ASSERT_TRUE(reader->nextUnit(&unit));
            EXPECT_EQ(unit, (std::vector<uint8_t>{1, 2, 3}));
            ASSERT_TRUE(reader->nextUnit(&unit));
            EXPECT_EQ(unit, (std::vector<uint8_t>{4, 5, 6, 7}));
            EXPECT_FALSE(reader->nextUnit(&unit));
        } else {
            EXPECT_FALSE(reader) << c.text;
            EXPECT_FALSE(loaded) << c.text;
            EXPECT_NE(streamError.find(c.error), std::string::npos) << c.text << " -> " << streamError;
            EXPECT_EQ(loadError, streamError) << c.text;
        }
    }
    std::remove(idx.c_str());
    std::remove(bin.c_str());
}

TEST(WavWriter, WritesInBlocksPatchesSizesAndRenames) {
    const std::string path = testing::TempDir() + "/writer.wav";
    std::remove(path.c_str());
    std::vector<int16_t> pcm(10001);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i * 7919 - 32768);
    WavWriter w;
    std::string error;
    ASSERT_TRUE(w.open(path, &error)) << error;
    ASSERT_NE(w.temporaryPath(), nullptr);
    const std::string temp = w.temporaryPath();
    struct stat st {};
    EXPECT_NE(stat(path.c_str(), &st), 0) << "nothing under the final name before finish";
    ASSERT_TRUE(w.begin(1, 22050));
    ASSERT_TRUE(w.write(pcm.data(), 3));
    ASSERT_TRUE(w.write(pcm.data() + 3, 5000));
    ASSERT_TRUE(w.write(pcm.data() + 5003, pcm.size() - 5003));
    ASSERT_TRUE(w.finish(&error)) << error;
    EXPECT_NE(stat(temp.c_str(), &st), 0) << "temporary file renamed";
    std::vector<int16_t> back;
    int32_t ch = 0, rate = 0;
    ASSERT_TRUE(readWav(path, &back, &ch, &rate));
    EXPECT_EQ(ch, 1);
    EXPECT_EQ(rate, 22050);
    EXPECT_TRUE(back == pcm);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(44 + 2 * pcm.size()));
    // Same bytes as the whole-buffer writer.
    const std::string whole = testing::TempDir() + "/whole.wav";
    ASSERT_TRUE(writeWav(whole, pcm, 1, 22050));
    FILE* a = std::fopen(path.c_str(), "rb");
    FILE* b = std::fopen(whole.c_str(), "rb");
    ASSERT_TRUE(a && b);
    std::vector<char> x(st.st_size + 1), y(st.st_size + 1);
    EXPECT_EQ(std::fread(x.data(), 1, x.size(), a), static_cast<size_t>(st.st_size));
    EXPECT_EQ(std::fread(y.data(), 1, y.size(), b), static_cast<size_t>(st.st_size));
    EXPECT_TRUE(x == y);
    std::fclose(a);
    std::fclose(b);
    std::remove(path.c_str());
    std::remove(whole.c_str());
}

TEST(WavWriter, AbandonLeavesNothingAndKeepsAnOldFile) {
    const std::string path = testing::TempDir() + "/kept.wav";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("old", f);
    std::fclose(f);
    std::string temp;
    {
        WavWriter w;
        std::string error;
        ASSERT_TRUE(w.open(path, &error)) << error;
        temp = w.temporaryPath();
        const int16_t s[4] = {1, 2, 3, 4};
        ASSERT_TRUE(w.begin(2, 8000));
        ASSERT_TRUE(w.write(s, 4));
        // Destroyed unfinished: abandoned.
    }
    struct stat st {};
    EXPECT_NE(stat(temp.c_str(), &st), 0);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 3);
    std::remove(path.c_str());

    WavWriter w;
    std::string error;
    EXPECT_FALSE(w.open(testing::TempDir() + "/no/such/folder/x.wav", &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos);
}

} // namespace
