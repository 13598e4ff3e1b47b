// The decoded PCM of every stream in tests/data, pinned by a checksum.
//
// Speed work restructures the hot loops; the output must stay the same to
// the bit. Each stream is decoded through the API and an FNV-1a 64 hash of
// its 16-bit little-endian PCM (the bytes of the WAV data chunk) is compared
// with the value recorded before the change. A stream added to tests/data
// without a recorded value fails too, so nothing goes unchecked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "decode_stream.h"
#include "stream_input.h"

namespace {

const std::string kData = SONADEC_TEST_DATA;

struct Pinned {
    const char* file;
    bool refused;       // configuration refused (Main profile, AOT 1, 960-sample frames)
    int32_t channels;
    int32_t rate;
    int64_t samples;    // interleaved
    uint64_t fnv;
};

// Recorded from the decoder at the start of the speed work; the same PCM the
// WAV checksums of that build describe.
const Pinned kPinned[] = {
#include "pcm_checksums.inc"
};

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

uint64_t fnv1a(const uint8_t* p, size_t n, uint64_t h = kFnvOffset) {
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= kFnvPrime;
    }
    return h;
}

uint64_t pcmHash(const std::vector<int16_t>& pcm) {
    uint64_t h = kFnvOffset;
    for (int16_t s : pcm) {
        const uint16_t u = static_cast<uint16_t>(s);
        const uint8_t b[2] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)};
        h = fnv1a(b, 2, h);
    }
    return h;
}

bool isStream(const std::filesystem::path& p) {
    const std::string ext = p.extension().string();
    return ext == ".adts" || ext == ".adif" || ext == ".idx";
}

std::vector<std::string> streamFiles() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kData))
        if (entry.is_regular_file() && isStream(entry.path()))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const Pinned* pinnedFor(const std::string& file) {
    for (const Pinned& p : kPinned)
        if (file == p.file) return &p;
    return nullptr;
}

TEST(PcmChecksum, HashIsFnv1a64OfTheLittleEndianSamples) {
    // Published FNV-1a 64 vectors.
    EXPECT_EQ(fnv1a(nullptr, 0), 0xcbf29ce484222325ull);
    EXPECT_EQ(fnv1a(reinterpret_cast<const uint8_t*>("a"), 1), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(fnv1a(reinterpret_cast<const uint8_t*>("foobar"), 6), 0x85944171f73967e8ull);
    // 0x6261 is "ab" in little-endian order.
    EXPECT_EQ(pcmHash({0x6261}), fnv1a(reinterpret_cast<const uint8_t*>("ab"), 2));
    // One sample changed by one LSB, or two samples swapped, changes the hash.
    const std::vector<int16_t> base = {0, 1, -1, 32767, -32767, 12, 13};
    std::vector<int16_t> changed = base;
    changed[3] = 32766;
    std::vector<int16_t> swapped = base;
    std::swap(swapped[5], swapped[6]);
    EXPECT_NE(pcmHash(base), pcmHash(changed));
    EXPECT_NE(pcmHash(base), pcmHash(swapped));
}

TEST(PcmChecksum, EveryStreamDecodesToItsRecordedPcm) {
    const std::vector<std::string> files = streamFiles();
    ASSERT_GE(files.size(), std::size(kPinned)) << "streams missing from " << kData;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        StreamInput in;
        std::string error;
        ASSERT_TRUE(loadStreamInput(kData + "/" + file, &in, &error)) << error;
        DecodedAudio audio;
        const bool configured = decodeWithApi(in, DecodeOptions{}, &audio, &error);
        const uint64_t hash = configured ? pcmHash(audio.pcm) : 0;
        const Pinned* pin = pinnedFor(file);
        if (pin == nullptr) {
            ADD_FAILURE() << "no recorded checksum; decoded: " << (configured ? "yes" : "refused")
                          << " " << outputChannels(audio) << " ch " << outputRate(audio) << " Hz "
                          << audio.pcm.size() << " samples fnv 0x" << std::hex << hash;
            continue;
        }
        if (pin->refused) {
            EXPECT_FALSE(configured);
            continue;
        }
        ASSERT_TRUE(configured) << error;
        EXPECT_EQ(outputChannels(audio), pin->channels);
        EXPECT_EQ(outputRate(audio), pin->rate);
        EXPECT_EQ(static_cast<int64_t>(audio.pcm.size()), pin->samples);
        EXPECT_EQ(hash, pin->fnv) << std::hex << "got 0x" << hash << " recorded 0x" << pin->fnv;
    }
}

} // namespace
