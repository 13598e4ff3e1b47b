// Real streams from outside encoders against reference decodes. Each stream
// of the manifest is decoded through the decoder API and checked by what the
// manifest asks of it: decode (match the reference), refuse, or survive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "band_levels.h"
#include "decode_stream.h"
#include "stream_input.h"
#include "wav.h"

namespace {

const std::string kData = SONADEC_TEST_DATA;

struct StreamCase {
    std::map<std::string, std::string> field;
    const std::string& operator[](const std::string& k) const {
        static const std::string none = "-";
        auto it = field.find(k);
        return it == field.end() ? none : it->second;
    }
    std::string file() const { return (*this)["file"]; }
    bool sbr() const { return (*this)["sbr"] == "1"; }
    bool isAdts() const { return (*this)["form"] == "adts"; }
};

void PrintTo(const StreamCase& s, std::ostream* os) { *os << s.file(); }

std::vector<StreamCase> loadManifest() {
    std::vector<StreamCase> rows;
    std::ifstream f(kData + "/manifest.tsv");
    std::string line;
    std::vector<std::string> names;
    while (std::getline(f, line)) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string c;
        while (std::getline(ss, c, '\t')) cells.push_back(c);
        if (names.empty()) {
            names = cells;
            continue;
        }
        StreamCase row;
        for (size_t i = 0; i < names.size() && i < cells.size(); ++i) row.field[names[i]] = cells[i];
        rows.push_back(row);
    }
    return rows;
}

std::string testName(const testing::TestParamInfo<StreamCase>& info) {
    std::string n = info.param.file();
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

bool decodeFile(const std::string& file, DecodedAudio* out, std::string* error) {
    StreamInput in;
    if (!loadStreamInput(kData + "/" + file, &in, error)) return false;
    return decodeWithApi(in, DecodeOptions{}, out, error);
}

struct ChannelDiff {
    int maxDiff = 0;
    double rms = 0;
    double mean = 0;
    double rmsCentred = 0; // RMS about the mean difference
};

// Difference of `got` against `ref` per channel at lag 0, over the common length.
std::vector<ChannelDiff> compare(const std::vector<int16_t>& got, const std::vector<int16_t>& ref, int ch) {
    std::vector<ChannelDiff> d(ch);
    const size_t frames = std::min(got.size(), ref.size()) / ch;
    std::vector<double> sum(ch, 0.0), plain(ch, 0.0);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < ch; ++c) {
            const int e = got[i * ch + c] - ref[i * ch + c];
            d[c].maxDiff = std::max(d[c].maxDiff, std::abs(e));
            sum[c] += static_cast<double>(e) * e;
            plain[c] += e;
        }
    for (int c = 0; c < ch; ++c) {
        if (frames == 0) continue;
        d[c].rms = std::sqrt(sum[c] / frames);
        d[c].mean = plain[c] / frames;
        d[c].rmsCentred = std::sqrt(std::max(0.0, sum[c] / frames - d[c].mean * d[c].mean));
    }
    return d;
}

// The lag (samples per channel, got relative to ref) with the least squared difference.
int bestLag(const std::vector<int16_t>& got, const std::vector<int16_t>& ref, int ch, int range) {
    const long frames = static_cast<long>(std::min(got.size(), ref.size()) / ch);
    int best = 0;
    double bestErr = -1;
    // Lag 0 first, and only a strictly better lag replaces it (silence ties everywhere).
    for (int step = 0; step <= 2 * range; ++step) {
        const int lag = step == 0 ? 0 : (step % 2 ? (step + 1) / 2 : -(step / 2));
        double err = 0;
        for (long i = std::max(0L, -static_cast<long>(lag)); i < frames && i + lag < frames; i += 7) {
            const int e = got[(i + lag) * ch] - ref[i * ch];
            err += static_cast<double>(e) * e;
        }
        if (bestErr < 0 || err < bestErr) {
            bestErr = err;
            best = lag;
        }
    }
    return best;
}

double levelDb(const int16_t* p, size_t n) {
    double s = 0;
    for (size_t i = 0; i < n; ++i) s += static_cast<double>(p[i]) * p[i];
    return 10.0 * std::log10(s / std::max<size_t>(n, 1) + 1e-9);
}


// The lag of `got` against `ref` over a range wide enough for the SBR delays.
int wideLag(const std::vector<int16_t>& got, const std::vector<int16_t>& ref, int ch) {
    return bestLag(got, ref, ch, 2200);
}

struct RegionFigures {
    std::vector<double> coreDiff, sbrDiff, sbrFloatDiff;
    double sbrPower = 0, sbrPowerLp = 0, sbrPowerFloat = 0;
};

// Band levels of our output against both references, aligned by their lags,
// pooled over channels. Counted: bands within 50 dB of the frame's loudest
// band of the low-power reference and above -90 dBFS.
void collectLevels(const std::vector<int16_t>& got, const std::vector<int16_t>& lp, int lagLp,
                   const std::vector<int16_t>& fl, int lagFl, int ch, double rate, double coreNyquist,
                   RegionFigures* out) {
    using namespace bandlevels;
    const auto bands = sixthOctaves(rate / 2);
    const long frames = static_cast<long>(got.size() / ch) / kHop - 3;
    for (int c = 0; c < ch; ++c) {
        const auto a = analyse(got, ch, c, 2 * kHop, frames, rate, bands);
        const auto l = analyse(lp, ch, c, 2 * kHop - lagLp, frames, rate, bands);
        const auto f = analyse(fl, ch, c, 2 * kHop - lagFl, frames, rate, bands);
        for (size_t i = 0; i < a.size(); ++i) {
            const double loudest = *std::max_element(l[i].begin(), l[i].end());
            for (size_t b = 0; b < bands.size(); ++b) {
                if (l[i][b] < loudest - 50 || l[i][b] <= -90) continue;
                if (bands[b].low >= 200 && bands[b].high <= 0.6 * coreNyquist)
                    out->coreDiff.push_back(std::fabs(a[i][b] - l[i][b]));
                if (bands[b].low >= coreNyquist && bands[b].high <= 0.9 * rate / 2) {
                    out->sbrDiff.push_back(std::fabs(a[i][b] - l[i][b]));
                    out->sbrFloatDiff.push_back(std::fabs(f[i][b] - l[i][b]));
                    out->sbrPower += std::pow(10.0, a[i][b] / 10);
                    out->sbrPowerLp += std::pow(10.0, l[i][b] / 10);
                    out->sbrPowerFloat += std::pow(10.0, f[i][b] / 10);
                }
            }
        }
    }
}

std::string lowPowerReference(const StreamCase& s) {
    std::string name = s["reference"];
    return name.replace(name.find(".ref.wav"), 8, ".ref_lp.wav");
}

void checkHeLevels(const StreamCase& s, const DecodedAudio& got, const std::vector<int16_t>& ref, int refCh) {
    const int ch = outputChannels(got);
    const double rate = outputRate(got);
    ASSERT_EQ(refCh, ch) << s.file();
    std::vector<int16_t> lp;
    int32_t lpCh = 0, lpRate = 0;
    ASSERT_TRUE(readWav(kData + "/" + lowPowerReference(s), &lp, &lpCh, &lpRate)) << lowPowerReference(s);
    ASSERT_EQ(lpCh, ch);
    ASSERT_EQ(lpRate, outputRate(got));
    // Dual rate: 2048 samples per channel and frame.
    EXPECT_EQ(got.pcm.size(), static_cast<size_t>(got.framesDecoded) * 2048 * ch) << s.file();

    const int lagFl = wideLag(got.pcm, ref, ch);
    const int lagLp = wideLag(got.pcm, lp, ch);
    RegionFigures r;
    collectLevels(got.pcm, lp, lagLp, ref, lagFl, ch, rate, got.config.sampleRate / 2.0, &r);
    using bandlevels::percentile;
    const double coreMedian = percentile(r.coreDiff, 0.5);
    const double sbrMedian = percentile(r.sbrDiff, 0.5), sbrP90 = percentile(r.sbrDiff, 0.9);
    const double flMedian = percentile(r.sbrFloatDiff, 0.5), flP90 = percentile(r.sbrFloatDiff, 0.9);
    const double overall = 10 * std::log10((r.sbrPower + 1e-30) / (r.sbrPowerLp + 1e-30));
    const double flOverall = 10 * std::log10((r.sbrPowerFloat + 1e-30) / (r.sbrPowerLp + 1e-30));
    std::printf("[he] %-36s lag ref %5d lp %5d | core median %.2f dB (%zu) | SBR median %.2f p90 %.2f "
                "level %+.2f dB (%zu) | float decoder %.2f / %.2f, %+.2f dB\n",
                s.file().c_str(), lagFl, lagLp, coreMedian, r.coreDiff.size(), sbrMedian, sbrP90, overall,
                r.sbrDiff.size(), flMedian, flP90, flOverall);
    // Our output lines up with the floating-point reference; the low-power
    // reference comes one frame later.
    EXPECT_EQ(lagFl, 0) << s.file();
    EXPECT_EQ(lagLp, -2048) << s.file();
    ASSERT_FALSE(r.coreDiff.empty());
    ASSERT_FALSE(r.sbrDiff.empty());
    EXPECT_LE(coreMedian, 0.5) << s.file();
    EXPECT_LE(sbrMedian, std::max(1.5, 1.25 * flMedian)) << s.file();
    EXPECT_LE(sbrP90, flP90 + 2.0) << s.file();
    // Where the low-power reference holds energy that the floating-point
    // decoder does not (above the stop band of 44.1 kHz mono, for one), the
    // level only needs to be no farther from it than that decoder's.
    EXPECT_LE(std::fabs(overall), std::max(1.5, std::fabs(flOverall))) << s.file();
}

class StreamConformance : public testing::TestWithParam<StreamCase> {};

TEST_P(StreamConformance, BehavesAsTheManifestAsks) {
    const StreamCase& s = GetParam();
    const std::string action = s["action"];
    DecodedAudio got;
    std::string error;
    const bool configured = decodeFile(s.file(), &got, &error);

    if (action == "refuse") {
        EXPECT_TRUE(!configured || got.framesDecoded == 0) << s.file() << " decoded " << got.framesDecoded << " frames";
        std::printf("[stream] %-44s refused\n", s.file().c_str());
        return;
    }
    if (action == "survive") {
        // Reaching here without a crash or sanitizer report is the check; the
        // damaged frames were skipped and decoding picked up again.
        std::printf("[stream] %-44s survived: %d frames, %d failed calls\n", s.file().c_str(),
                    got.framesDecoded, got.failedCalls);
        if (s["derived_from"] != "-" && s.file().find("dmg") != std::string::npos) {
            EXPECT_TRUE(!configured || got.framesDecoded >= 0);
        }
        return;
    }

    ASSERT_TRUE(configured) << s.file() << ": " << error;
    EXPECT_EQ(got.failedCalls, 0) << s.file();
    EXPECT_EQ(outputRate(got), std::stoi(s["expected_output_rate"])) << s.file();
    const int ch = outputChannels(got);
    EXPECT_EQ(ch, std::stoi(s["expected_output_channels"])) << s.file();
    EXPECT_EQ(got.framesDecoded, std::stoi(s["frames"])) << s.file();

    // Derived forms must give exactly the PCM of the stream they came from
    // (streams rewritten with new content carry a reference of their own).
    if (s["derived_from"] != "-" && s["reference"] == s["derived_from"] + ".ref.wav") {
        DecodedAudio source;
        ASSERT_TRUE(decodeFile(s["derived_from"] + ".adts", &source, &error)) << error;
        EXPECT_EQ(got.pcm.size(), source.pcm.size()) << s.file();
        EXPECT_TRUE(got.pcm == source.pcm) << s.file() << " differs from " << s["derived_from"];
    }

    std::vector<int16_t> ref;
    int32_t refCh = 0, refRate = 0;
    ASSERT_TRUE(readWav(kData + "/" + s["reference"], &ref, &refCh, &refRate)) << s["reference"];
    if (s.sbr()) {
        ASSERT_EQ(refRate, outputRate(got));
        checkHeLevels(s, got, ref, refCh);
        return;
    }
    ASSERT_EQ(refCh, ch);
    ASSERT_EQ(refRate, outputRate(got));
    EXPECT_EQ(got.pcm.size(), ref.size()) << s.file();

    const int lag = bestLag(got.pcm, ref, ch, 64);
    const auto diff = compare(got.pcm, ref, ch);
    std::printf("[stream] %-44s lag %d", s.file().c_str(), lag);
    for (int c = 0; c < ch; ++c)
        std::printf("  ch%d max %d rms %.3f (mean %+.3f, about it %.3f)", c, diff[c].maxDiff, diff[c].rms,
                    diff[c].mean, diff[c].rmsCentred);

    if (s["reference_exact_possible"] == "1") {
        std::printf("\n");
        EXPECT_EQ(lag, 0) << s.file();
        // Eight-short-window output is truncated, not rounded, which puts a
        // mean offset of up to half an LSB on streams rich in short windows;
        // the RMS bound holds about that offset.
        for (int c = 0; c < ch; ++c) {
            EXPECT_LE(diff[c].maxDiff, 3) << s.file() << " channel " << c;
            EXPECT_LE(diff[c].rmsCentred, 0.6) << s.file() << " channel " << c;
            EXPECT_LE(std::fabs(diff[c].mean), 0.55) << s.file() << " channel " << c;
        }
        return;
    }
    // Noise substitution: random in every decoder, so compare levels.
    const size_t n = std::min(got.pcm.size(), ref.size());
    const double overall = levelDb(got.pcm.data(), n) - levelDb(ref.data(), n);
    double worstFrame = 0;
    const size_t frameSamples = 1024 * static_cast<size_t>(ch);
    for (size_t at = 0; at + frameSamples <= n; at += frameSamples) {
        const double refLevel = levelDb(ref.data() + at, frameSamples);
        if (refLevel < 10.0) continue; // below about 3 LSB RMS the level says nothing
        worstFrame = std::max(worstFrame, std::fabs(levelDb(got.pcm.data() + at, frameSamples) - refLevel));
    }
    std::printf("  level %+.2f dB, worst frame %.2f dB\n", overall, worstFrame);
    EXPECT_LE(std::fabs(overall), 0.5) << s.file();
    EXPECT_LE(worstFrame, 1.5) << s.file();
}

INSTANTIATE_TEST_SUITE_P(Manifest, StreamConformance, testing::ValuesIn(loadManifest()), testName);

// Each ADTS frame of a sound stream is one raw data block here, so every
// call must consume exactly aac_frame_length bytes.
TEST(StreamSyntax, EveryAdtsFrameConsumesItsFrameLength) {
    int streams = 0;
    long frames = 0;
    for (const StreamCase& s : loadManifest()) {
        if (s["action"] != "decode" || !s.isAdts() || s.file().find(".2blk") != std::string::npos ||
            s.file().find(".mid") != std::string::npos)
            continue;
        StreamInput in;
        std::string error;
        ASSERT_TRUE(loadStreamInput(kData + "/" + s.file(), &in, &error));
        std::vector<int32_t> lengths;
        for (size_t at = 0; at + 7 <= in.bytes.size();) {
            const uint8_t* h = &in.bytes[at];
            const int32_t len = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
            if (len <= 0) break;
            lengths.push_back(len);
            at += len;
        }
        DecodedAudio got;
        ASSERT_TRUE(decodeWithApi(in, DecodeOptions{}, &got, &error)) << s.file();
        ASSERT_EQ(got.consumed.size(), lengths.size()) << s.file();
        for (size_t i = 0; i < lengths.size(); ++i)
            ASSERT_EQ(got.consumed[i], lengths[i]) << s.file() << " frame " << i;
        ++streams;
        frames += static_cast<long>(lengths.size());
    }
    std::printf("[syntax] %d ADTS streams, %ld frames, each consumed exactly its frame length\n", streams, frames);
}

} // namespace

namespace {

// Band levels of channel 0 over the whole signal from `offset` on, from one
// transform of `size` points (the same resolution in Hz for both rates).
std::vector<double> wholeSignalLevels(const std::vector<int16_t>& pcm, int ch, double rate, size_t offset,
                                      size_t size, const std::vector<bandlevels::Band>& bands) {
    std::vector<std::complex<double>> x(size);
    for (size_t i = 0; i < size && (offset + i) * ch < pcm.size(); ++i) x[i] = pcm[(offset + i) * ch];
    bandlevels::fft(x);
    std::vector<double> levels;
    for (const auto& band : bands) {
        double p = 0;
        for (size_t k = static_cast<size_t>(std::ceil(band.low * size / rate));
             k <= static_cast<size_t>(band.high * size / rate) && k < size / 2; ++k)
            p += std::norm(x[k]);
        levels.push_back(10 * std::log10(p / static_cast<double>(size) + 1e-30));
    }
    return levels;
}

// Asked for output at the core rate, an HE stream goes through the 32-band
// synthesis: the same spectrum as the dual-rate output up to the core's
// Nyquist frequency, with the same timing, at half the samples.
TEST(HeDownsampled, MatchesDualRateBelowTheCoreNyquistFrequency) {
    for (const char* file : {"he_fdk_48000_st.adts", "he_fdk_24000_mo.adts"}) {
        StreamInput in;
        std::string error;
        ASSERT_TRUE(loadStreamInput(kData + "/" + file, &in, &error));
        DecodedAudio dual, single;
        ASSERT_TRUE(decodeWithApi(in, DecodeOptions{}, &dual, &error)) << error;
        DecodeOptions options;
        options.singleRate = true;
        ASSERT_TRUE(decodeWithApi(in, options, &single, &error)) << error;
        const int ch = outputChannels(single);
        ASSERT_EQ(outputRate(single), single.config.sampleRate) << file;
        ASSERT_EQ(outputRate(dual), 2 * single.config.sampleRate) << file;
        EXPECT_EQ(single.failedCalls, 0);
        EXPECT_EQ(single.pcm.size() * 2, dual.pcm.size()) << file;

        const double coreRate = single.config.sampleRate;
        const auto bands = bandlevels::sixthOctaves(0.9 * coreRate / 2);
        // Twice the points at twice the rate: the same bins in Hz.
        const size_t points = 65536;
        const auto a = wholeSignalLevels(single.pcm, ch, coreRate, 2048, points, bands);
        const auto b = wholeSignalLevels(dual.pcm, ch, 2 * coreRate, 4096, 2 * points, bands);
        // Both are levels of the same energy: the dual-rate spectrum holds it
        // in twice the points.
        const double loudest = *std::max_element(b.begin(), b.end());
        double worst = 0;
        int counted = 0;
        for (size_t i = 0; i < bands.size(); ++i) {
            if (bands[i].low < 200 || b[i] < loudest - 50 || b[i] < -90) continue;
            worst = std::max(worst, std::fabs(a[i] - (b[i] - 3.0103)));
            ++counted;
        }
        std::printf("[he] %-36s downsampled: %d bands from 0.2 to %.1f kHz, worst %.3f dB from dual rate\n", file,
                    counted, 0.9 * coreRate / 2000, worst);
        EXPECT_GT(counted, 8);
        EXPECT_LE(worst, 0.5) << file;
        // The 32-band synthesis keeps the time line: one core frame ahead of
        // the dual-rate output's decimation, nothing shifted.
        std::vector<int16_t> decimated;
        for (size_t i = 0; i + 2 * ch <= dual.pcm.size(); i += 2 * ch)
            for (int c = 0; c < ch; ++c) decimated.push_back(dual.pcm[i + c]);
        EXPECT_EQ(bestLag(single.pcm, decimated, ch, 64), 0) << file;
    }
}

} // namespace

namespace {

// Raw access units of an HE stream, each first offered cut short (the
// decode fails) and then whole: the PCM equals that of whole units only,
// so a failed decode leaves the SBR states as they were.
TEST(HeFailedDecode, LeavesTheSbrStatesAsTheyWere) {
    StreamInput in;
    std::string error;
    ASSERT_TRUE(loadStreamInput(kData + "/he_fdk_48000_st.plain.idx", &in, &error)) << error;
    DecodedAudio clean;
    ASSERT_TRUE(decodeWithApi(in, DecodeOptions{}, &clean, &error)) << error;

    AacStreamConfig cfg{};
    int32_t bytes = static_cast<int32_t>(in.asc.size());
    ASSERT_EQ(AacDecParseConfigProbe(in.asc.data(), &bytes, &cfg, 0, in.bytes.data(),
                                     static_cast<int32_t>(in.unitSizes[0])),
              AAC_DEC_OK);
    AacDecoder* d = nullptr;
    ASSERT_EQ(AacDecCreateHe(&d), AAC_DEC_OK);
    ASSERT_EQ(AacDecInit(d, &cfg), AAC_DEC_OK);
    std::vector<int16_t> pcm, frame(static_cast<size_t>(cfg.outputBytesPerFrame / 2));
    size_t offset = 0;
    int failed = 0;
    for (size_t u = 0; u < in.unitSizes.size(); ++u) {
        const int32_t size = static_cast<int32_t>(in.unitSizes[u]);
        for (int32_t cut : {size * 2 / 3, size - 1}) {
            int32_t n = cut, out = cfg.outputBytesPerFrame;
            if (AacDecDecodeFrame(d, in.bytes.data() + offset, &n, frame.data(), &out) != AAC_DEC_OK) ++failed;
        }
        int32_t n = size, out = cfg.outputBytesPerFrame;
        ASSERT_EQ(AacDecDecodeFrame(d, in.bytes.data() + offset, &n, frame.data(), &out), AAC_DEC_OK) << u;
        pcm.insert(pcm.end(), frame.begin(), frame.begin() + out / 2);
        offset += static_cast<size_t>(size);
    }
    AacDecDestroy(d);
    EXPECT_GT(failed, static_cast<int>(in.unitSizes.size()));
    EXPECT_TRUE(pcm == clean.pcm);
}

} // namespace
