// Real streams through the frame API: every ADTS frame must consume exactly
// its aac_frame_length bytes (plus any garbage skipped before it). This needs
// no reference decode and fails on any field the syntax parser misreads.
// Damaged copies must only ever give 0 or -1.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "aacdec.h"

namespace {

std::vector<uint8_t> readFile(const std::string& name) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen((std::string(SONADEC_TEST_DATA) + "/" + name).c_str(), "rb");
    if (f == nullptr) return bytes;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

// Streams marked "decode" in the test data manifest (AAC-LC and AAC-LTP, and
// the AAC-LC cores of the HE-AAC streams, whose SBR payloads are skipped).
const char* const kDecodeStreams[] = {
    "lc_ff_96000_st.adts",          "lc_ff_88200_mo.adts",
    "lc_ff_64000_st_fast.adts",     "lc_ff_48000_st_ms.adts",
    "lc_ff_44100_st_is.adts",       "lc_ff_32000_mo_notns.adts",
    "lc_ff_24000_st_pns.adts",      "lc_ff_22050_mo.adts",
    "lc_ff_16000_st_lr.adts",       "lc_ff_12000_mo.adts",
    "lc_ff_11025_st.adts",          "lc_ff_8000_mo.adts",
    "lc_ff_44100_mo_square.adts",   "lc_ff_48000_st_lowlevel.adts",
    "lc_ff_44100_st_silence.adts",  "lc_ff_44100_st_pce.adts",
    "ltp_ff_44100_mo.adts",         "ltp_ff_32000_st.adts",
    "lc_fdk_48000_st.adts",         "lc_fdk_44100_st_crc.adts",
    "lc_ff_22050_mo.2blk.adts",     "lc_ff_32000_mo_notns.mid517.adts",
    "ltp_ff_48000_mo_tones.adts",   "ltp_ff_48000_mo_tones_pred.adts",
    "ltp_ff_22050_st_tones.adts",   "ltp_ff_22050_st_tones_pred.adts",
    "ltp_ff_44100_st_tones_mix.adts", "ltp_ff_44100_st_tones_mix_pred.adts",
    "ltp_ff_44100_mo_pred.adts",    "he_fdk_48000_st.adts",
    "he_fdk_44100_mo.adts",         "he_fdk_32000_st.adts",
    "he_fdk_24000_mo.adts",         "he_fdk_32000_st.2blk.adts",
};

const char* const kDamagedStreams[] = {
    "lc_ff_44100_st_is.dmg-trunc.adts",    "lc_ff_48000_st_ms.dmg-flips.adts",
    "he_fdk_48000_st.dmg-sbrflips.adts",   "ltp_ff_44100_mo.dmg-randpayload.adts",
    "lc_ff_16000_st_lr.dmg-headers.adts",
};

struct Session {
    AacDecoder* d = nullptr;
    AacStreamConfig cfg{};
    ~Session() {
        if (d != nullptr) AacDecDestroy(d);
    }
    bool open(const std::vector<uint8_t>& s) {
        if (AacDecCreate(&d) != AAC_DEC_OK) return false;
        int32_t used = static_cast<int32_t>(s.size());
        if (AacDecParseConfig(s.data(), &used, &cfg, 1) != AAC_DEC_OK) return false;
        return AacDecInit(d, &cfg) == AAC_DEC_OK;
    }
};

size_t findSync(const std::vector<uint8_t>& s, size_t from) {
    for (size_t p = from; p + 1 < s.size(); ++p)
        if (s[p] == 0xFF && (s[p + 1] & 0xF0) == 0xF0) return p;
    return s.size();
}

TEST(StreamSyntax, EveryFrameConsumesItsAdtsLength) {
    std::vector<int16_t> pcm(2 * 2048);
    int streams = 0;
    long frames = 0;
    for (const char* name : kDecodeStreams) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> s = readFile(name);
        ASSERT_FALSE(s.empty()) << "missing test stream";
        Session session;
        ASSERT_TRUE(session.open(s));
        size_t pos = 0;
        int frame = 0;
        while (true) {
            const size_t sync = findSync(s, pos);
            if (sync + 7 > s.size()) break;
            const int32_t length = ((s[sync + 3] & 3) << 11) | (s[sync + 4] << 3) | (s[sync + 5] >> 5);
            const int32_t blocks = (s[sync + 6] & 3) + 1;
            ASSERT_LE(sync + length, s.size());
            size_t at = pos;
            for (int32_t b = 0; b < blocks; ++b) {
                int32_t in = static_cast<int32_t>(s.size() - at);
                int32_t out = static_cast<int32_t>(pcm.size() * 2);
                ASSERT_EQ(AacDecDecodeFrame(session.d, s.data() + at, &in, pcm.data(), &out),
                          AAC_DEC_OK)
                    << "frame " << frame << " block " << b;
                ASSERT_EQ(out, session.cfg.channels * 2048);
                at += static_cast<size_t>(in);
            }
            ASSERT_EQ(at, sync + static_cast<size_t>(length)) << "frame " << frame;
            pos = at;
            ++frame;
        }
        EXPECT_GT(frame, 0);
        frames += frame;
        ++streams;
    }
    std::printf("consumption check: %d streams, %ld ADTS frames\n", streams, frames);
}

TEST(StreamSyntax, DamagedStreamsOnlyFailCleanly) {
    std::vector<int16_t> pcm(2 * 2048);
    for (const char* name : kDamagedStreams) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> s = readFile(name);
        ASSERT_FALSE(s.empty()) << "missing test stream";
        Session session;
        if (!session.open(s)) continue; // a refused header is a clean failure too
        size_t pos = 0;
        int failures = 0;
        int successes = 0;
        while (pos < s.size()) {
            int32_t in = static_cast<int32_t>(s.size() - pos);
            int32_t out = static_cast<int32_t>(pcm.size() * 2);
            const int32_t rc = AacDecDecodeFrame(session.d, s.data() + pos, &in, pcm.data(), &out);
            ASSERT_TRUE(rc == AAC_DEC_OK || rc == AAC_DEC_ERROR) << rc;
            if (rc == AAC_DEC_OK) {
                ASSERT_GT(in, 0);
                ASSERT_LE(static_cast<size_t>(in), s.size() - pos);
                pos += static_cast<size_t>(in);
                ++successes;
            } else {
                // Skip to the next sync word after this position, as a caller would.
                pos = findSync(s, pos + 1);
                ++failures;
            }
        }
        EXPECT_GT(successes, 0);
        std::printf("%s: %d blocks decoded, %d refused\n", name, successes, failures);
    }
}

// Raw access units: an index file names the configuration, the unit file
// and each unit's length.
TEST(StreamSyntax, DamagedRawUnitsOnlyFailCleanly) {
    const std::vector<uint8_t> idx = readFile("lc_ff_48000_st_ms.plain.dmg-randpayload.idx");
    ASSERT_FALSE(idx.empty()) << "missing test stream";
    std::istringstream text(std::string(idx.begin(), idx.end()));
    std::string line, binName;
    std::vector<uint8_t> asc;
    std::vector<int32_t> lengths;
    while (std::getline(text, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("asc ", 0) == 0) {
            for (size_t i = 4; i + 1 < line.size(); i += 2)
                asc.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
        } else if (line.rfind("bin ", 0) == 0) {
            binName = line.substr(4);
        } else if (line.rfind("units ", 0) != 0) {
            lengths.push_back(std::atoi(line.c_str()));
        }
    }
    const std::vector<uint8_t> units = readFile(binName);
    ASSERT_FALSE(units.empty());
    AacDecoder* d = nullptr;
    ASSERT_EQ(AacDecCreate(&d), AAC_DEC_OK);
    AacStreamConfig cfg{};
    int32_t used = static_cast<int32_t>(asc.size());
    ASSERT_EQ(AacDecParseConfig(asc.data(), &used, &cfg, 0), AAC_DEC_OK);
    ASSERT_EQ(AacDecInit(d, &cfg), AAC_DEC_OK);
    std::vector<int16_t> pcm(2 * 2048);
    size_t pos = 0;
    int successes = 0;
    for (int32_t length : lengths) {
        ASSERT_LE(pos + static_cast<size_t>(length), units.size());
        int32_t in = length;
        int32_t out = static_cast<int32_t>(pcm.size() * 2);
        const int32_t rc = AacDecDecodeFrame(d, units.data() + pos, &in, pcm.data(), &out);
        ASSERT_TRUE(rc == AAC_DEC_OK || rc == AAC_DEC_ERROR) << rc;
        if (rc == AAC_DEC_OK) {
            EXPECT_LE(in, length);
            ++successes;
        }
        pos += static_cast<size_t>(length);
    }
    EXPECT_GT(successes, static_cast<int>(lengths.size() / 2));
    AacDecDestroy(d);
}

} // namespace
