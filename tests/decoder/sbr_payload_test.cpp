// SBR payload parsing: grids, envelopes and noise floors bit by bit,
// their delta decoding and dequantisation, and the payload's header rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "bitreader.h"
#include "bitwriter.h"
#include "sbr/sbr_internal.h"
#include "sbr/sbr_tables.h"

namespace {

struct TestState {
    SbrChannelState s{};
    SbrChannelBuffers b{};
    TestState() {
        SbrWireChannel(&s, &b);
        SbrResetChannel(&s);
    }
};

// Eight high bands from QMF band 20 to 44, four low bands, two noise bands.
void giveTables(SbrChannelState* s) {
    const uint8_t master[] = {20, 22, 24, 26, 28, 32, 36, 40, 44};
    std::memcpy(s->masterTable, master, sizeof(master));
    s->numMaster = 8;
    s->highTable = s->masterTable;
    s->numHigh = 8;
    s->k2 = 44;
    const uint8_t low[] = {20, 24, 28, 36, 44};
    std::memcpy(s->lowTable, low, sizeof(low));
    s->numLow = 4;
    s->numNoise = 2;
    s->noiseTable[0] = 0;
    s->noiseTable[1] = 8;
    s->noiseTable[2] = 24;
}

struct Reader {
    BitReader r{};
    explicit Reader(const BitWriter& w) { start(&r, w.bytes.data(), static_cast<int32_t>(w.bytes.size())); }
};

// Codewords of the SBR Huffman tables, from the table data.
struct Codeword {
    uint32_t code;
    int32_t length;
};
std::map<std::string, std::map<int32_t, Codeword>> loadCodes() {
    std::map<std::string, std::map<int32_t, Codeword>> codes;
    std::ifstream f(std::string(SONADEC_TABLE_DATA) + "/sbr_huffman.csv");
    std::string line;
    std::getline(f, line);
    while (std::getline(f, line)) {
        std::stringstream ss(line);
        std::string name, index, value, hex, length;
        std::getline(ss, name, ',');
        std::getline(ss, index, ',');
        std::getline(ss, value, ',');
        std::getline(ss, hex, ',');
        std::getline(ss, length, ',');
        codes[name][std::stoi(value)] = {static_cast<uint32_t>(std::stoul(hex, nullptr, 16)), std::stoi(length)};
    }
    return codes;
}
void putCode(BitWriter& w, const std::map<int32_t, Codeword>& table, int32_t value) {
    const Codeword& c = table.at(value);
    w.put(c.code, c.length);
}

TEST(SbrPayload, GridClasses) {
    {   // FIXFIX, two envelopes of 8 slots, high resolution.
        BitWriter w;
        w.put(0, 2);
        w.put(1, 2);
        w.put(1, 1);
        Reader in(w);
        SbrFrameData f{};
        EXPECT_EQ(SbrParseGrid(&f, &in.r), 0);
        EXPECT_EQ(in.r.bitsConsumed, 5);
        EXPECT_EQ(f.numEnvelopes, 2);
        EXPECT_EQ(f.envBorders[0], 0);
        EXPECT_EQ(f.envBorders[1], 8);
        EXPECT_EQ(f.envBorders[2], 16);
        EXPECT_EQ(f.freqRes[0], 1);
        EXPECT_EQ(f.freqRes[1], 1);
        EXPECT_EQ(f.transientEnvelope, -1);
        EXPECT_EQ(f.numNoiseFloors, 2);
        EXPECT_EQ(f.noiseBorders[1], 8);
    }
    {   // FIXVAR: end border 18, relative borders 2 and 4 counted back, pointer 2.
        BitWriter w;
        w.put(1, 2);
        w.put(2, 2); // bs_var_bord_1
        w.put(2, 2); // bs_num_rel_1: three envelopes
        w.put(0, 2); // 2
        w.put(1, 2); // 4
        w.put(2, 2); // bs_pointer, 2 bits for three envelopes
        w.put(1, 1); // freq_res of envelope 2, 1, 0
        w.put(0, 1);
        w.put(1, 1);
        Reader in(w);
        SbrFrameData f{};
        EXPECT_EQ(SbrParseGrid(&f, &in.r), 0);
        EXPECT_EQ(in.r.bitsConsumed, w.bits);
        EXPECT_EQ(f.numEnvelopes, 3);
        const uint8_t borders[] = {0, 12, 16, 18};
        for (int l = 0; l < 4; ++l) EXPECT_EQ(f.envBorders[l], borders[l]) << l;
        EXPECT_EQ(f.freqRes[0], 1);
        EXPECT_EQ(f.freqRes[1], 0);
        EXPECT_EQ(f.freqRes[2], 1);
        EXPECT_EQ(f.transientEnvelope, 2);
        EXPECT_EQ(f.numNoiseFloors, 2);
        EXPECT_EQ(f.noiseBorders[0], 0);
        EXPECT_EQ(f.noiseBorders[1], 16);
        EXPECT_EQ(f.noiseBorders[2], 18);
    }
    {   // VARFIX: start border 1, one relative border of 6, pointer 0.
        BitWriter w;
        w.put(2, 2);
        w.put(1, 2);
        w.put(1, 2);
        w.put(2, 2);
        w.put(0, 2);
        w.put(0, 1);
        w.put(1, 1);
        Reader in(w);
        SbrFrameData f{};
        EXPECT_EQ(SbrParseGrid(&f, &in.r), 0);
        EXPECT_EQ(in.r.bitsConsumed, w.bits);
        EXPECT_EQ(f.envBorders[0], 1);
        EXPECT_EQ(f.envBorders[1], 7);
        EXPECT_EQ(f.envBorders[2], 16);
        EXPECT_EQ(f.transientEnvelope, -1);
        EXPECT_EQ(f.noiseBorders[1], 7); // middle index 1 for pointer 0
        EXPECT_EQ(f.freqRes[1], 1);
    }
    {   // VARVAR: 0..17, one border of 4 forwards and one of 2 backwards, pointer 1.
        BitWriter w;
        w.put(3, 2);
        w.put(0, 2);
        w.put(1, 2);
        w.put(1, 2);
        w.put(1, 2);
        w.put(1, 2); // start relative: 4
        w.put(0, 2); // end relative: 2
        w.put(1, 2); // pointer
        w.put(0, 3);
        Reader in(w);
        SbrFrameData f{};
        EXPECT_EQ(SbrParseGrid(&f, &in.r), 0);
        EXPECT_EQ(in.r.bitsConsumed, w.bits);
        const uint8_t borders[] = {0, 4, 15, 17};
        for (int l = 0; l < 4; ++l) EXPECT_EQ(f.envBorders[l], borders[l]) << l;
        EXPECT_EQ(f.transientEnvelope, 3);
        EXPECT_EQ(f.noiseBorders[1], 15); // middle L_E - 1
    }
}

TEST(SbrPayload, GridsBeyondFiveEnvelopesKeepTheLastGrid) {
    SbrFrameData f{};
    f.numEnvelopes = 2;
    f.envBorders[1] = 8;
    f.envBorders[2] = 16;
    f.bs_frame_class = 1;
    {   // FIXFIX with tmp 3: eight envelopes. Nothing after the count is read.
        BitWriter w;
        w.put(0, 2);
        w.put(3, 2);
        w.put(0xFFFF, 16);
        Reader in(w);
        EXPECT_EQ(SbrParseGrid(&f, &in.r), -3);
        EXPECT_EQ(in.r.bitsConsumed, 4);
        EXPECT_EQ(f.bs_frame_class, 0);
        EXPECT_EQ(f.numEnvelopes, 2);
        EXPECT_EQ(f.envBorders[1], 8);
    }
    {   // VARVAR with 3 + 2 relative borders: six envelopes.
        BitWriter w;
        w.put(3, 2);
        w.put(0, 4);
        w.put(3, 2);
        w.put(2, 2);
        w.put(0xFFFF, 16);
        Reader in(w);
        EXPECT_EQ(SbrParseGrid(&f, &in.r), -3);
        EXPECT_EQ(in.r.bitsConsumed, 10);
        EXPECT_EQ(f.bs_frame_class, 3);
        EXPECT_EQ(f.numEnvelopes, 2);
        EXPECT_EQ(f.envBorders[2], 16);
    }
}

TEST(SbrPayload, GridsThatCannotBeAppliedAreReadButRefused) {
    // FIXVAR ending at 16 with relative borders 8 + 8 + 8: the first border
    // would lie before the frame. Every bit is read, the counts stand.
    BitWriter w;
    w.put(1, 2);
    w.put(0, 2);
    w.put(3, 2);
    w.put(3, 2);
    w.put(3, 2);
    w.put(3, 2);
    w.put(0, 3); // pointer
    w.put(0, 4); // freq_res
    Reader in(w);
    SbrFrameData f{};
    EXPECT_EQ(SbrParseGrid(&f, &in.r), -4);
    EXPECT_EQ(in.r.bitsConsumed, w.bits);
    EXPECT_EQ(f.numEnvelopes, 4);
    EXPECT_EQ(f.numNoiseFloors, 2);
    for (int l = 0; l < 4; ++l) EXPECT_LT(f.envBorders[l], f.envBorders[l + 1]);

    // A pointer past the envelopes: FIXVAR with four envelopes, pointer 7.
    BitWriter p;
    p.put(1, 2);
    p.put(0, 2);
    p.put(3, 2);
    p.put(0, 6);
    p.put(7, 3);
    p.put(0, 4);
    Reader in2(p);
    EXPECT_EQ(SbrParseGrid(&f, &in2.r), -4);
    EXPECT_EQ(in2.r.bitsConsumed, p.bits);
    EXPECT_EQ(f.transientEnvelope, -1);
}

TEST(SbrPayload, EnvelopeAndNoiseValues) {
    const auto codes = loadCodes();
    TestState t;
    giveTables(&t.s);
    {   // A coupled pair's balance at 1.5 dB: 6-bit start value, stored doubled.
        SbrFrameData f{};
        f.bs_frame_class = 0;
        f.numEnvelopes = 1;
        f.freqRes[0] = 0;
        BitWriter w;
        w.put(13, 6);
        putCode(w, codes.at("f_huffman_env_bal_1_5dB"), 1);
        putCode(w, codes.at("f_huffman_env_bal_1_5dB"), -2);
        putCode(w, codes.at("f_huffman_env_bal_1_5dB"), 0);
        Reader in(w);
        SbrParseEnvelope(&t.s, &f, &in.r, 1);
        EXPECT_EQ(in.r.bitsConsumed, w.bits);
        EXPECT_EQ(f.ampResInUse, 0); // FIXFIX with one envelope: always 1.5 dB
        EXPECT_EQ(f.envelope[0][0], 26);
        EXPECT_EQ(f.envelope[0][1], 2);
        EXPECT_EQ(f.envelope[0][2], -4);
        EXPECT_EQ(f.envelope[0][3], 0);
    }
    {   // Level at 3.0 dB, two envelopes: frequency then time direction.
        SbrFrameData f{};
        t.s.bs_amp_res = 1;
        f.bs_frame_class = 0;
        f.numEnvelopes = 2;
        f.freqRes[0] = 0;
        f.freqRes[1] = 1;
        f.bs_df_env[1] = 1;
        BitWriter w;
        w.put(40, 6);
        for (int k = 1; k < 4; ++k) putCode(w, codes.at("f_huffman_env_3_0dB"), k);
        for (int k = 0; k < 8; ++k) putCode(w, codes.at("t_huffman_env_3_0dB"), k - 4);
        Reader in(w);
        SbrParseEnvelope(&t.s, &f, &in.r, 0);
        EXPECT_EQ(in.r.bitsConsumed, w.bits);
        EXPECT_EQ(f.ampResInUse, 1);
        SbrDecodeEnvelopeDeltas(&t.s, &f);
        const int32_t low[] = {40, 41, 43, 46};
        for (int k = 0; k < 4; ++k) EXPECT_EQ(f.envelope[0][k], low[k]) << k;
        // Each high band adds the low band holding it: 20,22 | 24,26 | 28,32 | 36,40.
        const int32_t high[] = {40 - 4, 40 - 3, 41 - 2, 41 - 1, 43, 43 + 1, 46 + 2, 46 + 3};
        for (int k = 0; k < 8; ++k) EXPECT_EQ(f.envelope[1][k], high[k]) << k;
        EXPECT_EQ(t.s.prevFreqRes, 1);
        for (int k = 0; k < 8; ++k) EXPECT_EQ(t.s.prevEnvelope[k], high[k]);
    }
    {   // The next frame, low resolution in time: each low band takes the high
        // band that starts with it.
        SbrFrameData f{};
        f.numEnvelopes = 1;
        f.freqRes[0] = 0;
        f.bs_df_env[0] = 1;
        for (int k = 0; k < 4; ++k) f.envelope[0][k] = 1;
        SbrDecodeEnvelopeDeltas(&t.s, &f);
        const int32_t expect[] = {37, 40, 44, 49};
        for (int k = 0; k < 4; ++k) EXPECT_EQ(f.envelope[0][k], expect[k]) << k;
        EXPECT_EQ(t.s.prevFreqRes, 0);
    }
    {   // Noise: 5-bit start, deltas from the envelope table; then time deltas.
        SbrFrameData f{};
        f.numNoiseFloors = 2;
        f.bs_df_noise[1] = 1;
        BitWriter w;
        w.put(9, 5);
        putCode(w, codes.at("f_huffman_env_3_0dB"), -3);
        putCode(w, codes.at("t_huffman_noise_3_0dB"), 2);
        putCode(w, codes.at("t_huffman_noise_3_0dB"), 0);
        Reader in(w);
        SbrParseNoise(&t.s, &f, &in.r, 0);
        EXPECT_EQ(in.r.bitsConsumed, w.bits);
        SbrDecodeNoiseDeltas(&t.s, &f);
        EXPECT_EQ(f.noise[0][0], 9);
        EXPECT_EQ(f.noise[0][1], 6);
        EXPECT_EQ(f.noise[1][0], 11);
        EXPECT_EQ(f.noise[1][1], 6);
        EXPECT_EQ(t.s.prevNoise[0], 11);
        EXPECT_EQ(t.s.prevNoise[1], 6);
    }
}

TEST(SbrPayload, Dequantisation) {
    TestState t;
    giveTables(&t.s);
    SbrFrameData f{};
    f.numEnvelopes = 1;
    f.freqRes[0] = 0;
    f.numNoiseFloors = 2;
    f.ampResInUse = 0;
    const int32_t e[] = {10, 11, 55, 56};
    std::memcpy(f.envelope[0], e, sizeof(e));
    const int32_t q[] = {6, 31, 0, 30};
    std::memcpy(f.noise[0], q, 2 * sizeof(int32_t));
    std::memcpy(f.noise[1], q + 2, 2 * sizeof(int32_t));
    SbrDequantise(&t.s, &f);
    // A quarter of 64 x 2^(e/2): 2^9, sqrt(2) 2^9, and saturation from 2^32 on.
    EXPECT_EQ(static_cast<uint32_t>(f.envelope[0][0]), 512u);
    EXPECT_EQ(static_cast<uint32_t>(f.envelope[0][1]), 0xB504F333u >> 22);
    EXPECT_EQ(static_cast<uint32_t>(f.envelope[0][2]), 0xB504F333u >> 0);
    EXPECT_EQ(static_cast<uint32_t>(f.envelope[0][3]), 0xFFFFFFFFu);
    // Noise floors 2^(6 - q) in Q25.
    EXPECT_EQ(static_cast<uint32_t>(f.noise[0][0]), 1u << 25);
    EXPECT_EQ(f.noise[0][1], 0);
    EXPECT_EQ(static_cast<uint32_t>(f.noise[1][0]), 0x80000000u);
    EXPECT_EQ(f.noise[1][1], 2);

    // At 3.0 dB every index is a whole step; out-of-range indices stay finite.
    SbrFrameData g{};
    g.numEnvelopes = 1;
    g.freqRes[0] = 0;
    g.numNoiseFloors = 1;
    g.ampResInUse = 1;
    const int32_t e3[] = {5, -4, -5, 28};
    std::memcpy(g.envelope[0], e3, sizeof(e3));
    g.noise[0][0] = -1;
    SbrDequantise(&t.s, &g);
    EXPECT_EQ(g.envelope[0][0], 512);
    EXPECT_EQ(g.envelope[0][1], 1);
    EXPECT_EQ(g.envelope[0][2], 0);
    EXPECT_EQ(static_cast<uint32_t>(g.envelope[0][3]), 0xFFFFFFFFu);
    EXPECT_EQ(static_cast<uint32_t>(g.noise[0][0]), 0xFFFFFFFFu);
}

// Left 2E / (1 + 2^x), right 2E / (1 + 2^-x), for the pan offset x.
void expectPanned(uint32_t left, uint32_t right, double energy, double x) {
    const double l = std::min(2 * energy / (1 + std::pow(2.0, x)), 4294967295.0);
    const double r = std::min(2 * energy / (1 + std::pow(2.0, -x)), 4294967295.0);
    EXPECT_NEAR(left, l, 2 + 1e-6 * l) << x;
    EXPECT_NEAR(right, r, 2 + 1e-6 * r) << x;
}

TEST(SbrPayload, CoupledDequantisation) {
    TestState t;
    giveTables(&t.s);
    for (int32_t ampRes : {0, 1}) {
        for (int32_t balance = 0; balance <= 24; ++balance) {
            SbrFrameData left{};
            SbrFrameData right{};
            left.numEnvelopes = right.numEnvelopes = 1;
            left.numNoiseFloors = right.numNoiseFloors = 1;
            left.ampResInUse = static_cast<uint8_t>(ampRes);
            // An odd level at 1.5 dB: the energy carries sqrt(2).
            const int32_t level = ampRes ? 10 : 21;
            for (int k = 0; k < 4; ++k) {
                left.envelope[0][k] = level;
                right.envelope[0][k] = 2 * balance; // stored doubled
            }
            left.noise[0][0] = left.noise[0][1] = 6;
            right.noise[0][0] = right.noise[0][1] = balance;
            SbrDequantiseCoupled(&t.s, &left, &right);
            const double energy = ampRes ? 16384.0 : static_cast<double>(0xB504F333u >> 17);
            // At 1.5 dB the doubling is undone; at 3.0 dB the doubled value pans.
            const double offset = 12 - (ampRes ? 2 * balance : balance);
            expectPanned(static_cast<uint32_t>(left.envelope[0][3]), static_cast<uint32_t>(right.envelope[0][3]),
                         energy, offset);
            expectPanned(static_cast<uint32_t>(left.noise[0][1]), static_cast<uint32_t>(right.noise[0][1]),
                         33554432.0, 12 - balance);
        }
    }
    // Noise levels past 30, or stored balances past 24, silence both channels.
    SbrFrameData left{};
    SbrFrameData right{};
    left.numNoiseFloors = right.numNoiseFloors = 1;
    left.numEnvelopes = right.numEnvelopes = 1;
    left.noise[0][0] = 31;
    right.noise[0][0] = 12;
    left.noise[0][1] = 3;
    right.noise[0][1] = 26;
    SbrDequantiseCoupled(&t.s, &left, &right);
    EXPECT_EQ(left.noise[0][0], 0);
    EXPECT_EQ(right.noise[0][0], 0);
    EXPECT_EQ(left.noise[0][1], 0);
    EXPECT_EQ(right.noise[0][1], 0);
}

TEST(SbrPayload, NoHeaderYetReadsNothingMore) {
    for (int32_t crc : {0, 1}) {
        TestState t;
        SbrChannelState* slot[2] = {&t.s, nullptr};
        SbrFrameData f{};
        BitWriter w;
        if (crc) w.put(0x3FF, 10);
        w.put(0, 1);
        w.put(0xFFFFFF, 24);
        Reader in(w);
        EXPECT_EQ(SbrParsePayload(slot, &f, &in.r, crc), kSbrNoHeaderYet);
        EXPECT_EQ(in.r.bitsConsumed, crc ? 11 : 1);
        EXPECT_EQ(t.s.crcPresent, crc);
        EXPECT_EQ(t.s.noHeaderYet, 1);
        EXPECT_EQ(f.sbrDataPresent, 0);
    }
}

// A header: amp_res, start, stop, xover, then the optional groups.
void putHeader(BitWriter& w, int ampRes, int start, int stop, int xover, int extra1Fields = -1,
               int extra2Fields = -1) {
    w.put(static_cast<uint32_t>(ampRes), 1);
    w.put(static_cast<uint32_t>(start), 4);
    w.put(static_cast<uint32_t>(stop), 4);
    w.put(static_cast<uint32_t>(xover), 3);
    w.put(0, 2);
    w.put(extra1Fields >= 0 ? 1 : 0, 1);
    w.put(extra2Fields >= 0 ? 1 : 0, 1);
    if (extra1Fields >= 0) w.put(static_cast<uint32_t>(extra1Fields), 5); // freq_scale 2, alter 1, noise 2
    if (extra2Fields >= 0) w.put(static_cast<uint32_t>(extra2Fields), 6); // limiter 2, gains 2, interpol, smoothing
}

TEST(SbrPayload, HeaderChangesAndKeptFields) {
    TestState t;
    {
        BitWriter w;
        putHeader(w, 0, 5, 0, 0, (1 << 3) | (0 << 2) | 3, (1 << 4) | (3 << 2) | 0);
        Reader in(w);
        SbrParseHeader(&t.s, &in.r);
        EXPECT_EQ(in.r.bitsConsumed, w.bits);
        // The reset values differ in alter_scale (2), so this is a master change.
        EXPECT_EQ(t.s.masterPending, 1);
        EXPECT_EQ(t.s.resetPending, 1);
        EXPECT_EQ(t.s.limiterPending, 1);
        EXPECT_EQ(t.s.bs_freq_scale, 1);
        EXPECT_EQ(t.s.bs_alter_scale, 0);
        EXPECT_EQ(t.s.bs_noise_bands, 3);
        EXPECT_EQ(t.s.bs_limiter_bands, 1);
        EXPECT_EQ(t.s.bs_limiter_gains, 3);
        EXPECT_EQ(t.s.bs_interpol_freq, 0);
    }
    {   // No optional groups: their fields keep their values; nothing changed.
        BitWriter w;
        putHeader(w, 1, 5, 0, 0);
        Reader in(w);
        SbrParseHeader(&t.s, &in.r);
        EXPECT_EQ(in.r.bitsConsumed, 16);
        EXPECT_EQ(t.s.bs_amp_res, 1);
        EXPECT_EQ(t.s.bs_freq_scale, 1);
        EXPECT_EQ(t.s.bs_noise_bands, 3);
        EXPECT_EQ(t.s.bs_limiter_bands, 1);
        EXPECT_EQ(t.s.masterPending, 0);
        EXPECT_EQ(t.s.resetPending, 0);
        EXPECT_EQ(t.s.limiterPending, 0);
    }
    {   // A new crossover resets without a new master table.
        BitWriter w;
        putHeader(w, 1, 5, 0, 1);
        Reader in(w);
        SbrParseHeader(&t.s, &in.r);
        EXPECT_EQ(t.s.masterPending, 0);
        EXPECT_EQ(t.s.resetPending, 1);
        EXPECT_EQ(t.s.limiterPending, 1);
    }
    {   // A new limiter density alone only rebuilds the limiter table.
        BitWriter w;
        putHeader(w, 1, 5, 0, 1, -1, (2 << 4) | (3 << 2));
        Reader in(w);
        SbrParseHeader(&t.s, &in.r);
        EXPECT_EQ(t.s.masterPending, 0);
        EXPECT_EQ(t.s.resetPending, 0);
        EXPECT_EQ(t.s.limiterPending, 1);
    }
}

// One single-channel payload with a first header: tables built, data present.
BitWriter singleChannelPayload() {
    BitWriter w;
    w.put(1, 1); // header
    putHeader(w, 1, 5, 9, 0, (2 << 3) | (0 << 2) | 2, (2 << 4) | (2 << 2) | (1 << 1) | 1);
    w.put(0, 1); // bs_data_extra
    w.put(0, 2); // FIXFIX
    w.put(0, 2); // one envelope
    w.put(1, 1); // high resolution
    w.put(0, 1); // df_env
    w.put(0, 1); // df_noise
    return w;
}

TEST(SbrPayload, FirstHeaderBuildsEveryTableAndExtensionsAreSkipped) {
    const auto codes = loadCodes();
    for (int extensionBytes : {-1, 0, 3, 14, 15, 40}) {
        TestState t;
        t.s.sbrSampleRate = 44100;
        t.s.sbrRateIndex = 4;
        t.s.outputMode = 2;
        SbrChannelState* slot[2] = {&t.s, nullptr};
        BitWriter w = singleChannelPayload();
        // Tables are known only after the header: build the rest from them.
        {
            TestState probe;
            probe.s.sbrSampleRate = 44100;
            probe.s.sbrRateIndex = 4;
            BitWriter h;
            putHeader(h, 1, 5, 9, 0, (2 << 3) | (0 << 2) | 2, (2 << 4) | (2 << 2) | (1 << 1) | 1);
            Reader in(h);
            SbrParseHeader(&probe.s, &in.r);
            SbrUpdateTables(&probe.s);
            SbrBuildLimiterTable(&probe.s);
            ASSERT_GT(probe.s.numHigh, 0);
            for (int i = 0; i < probe.s.numNoise; ++i) w.put(0, 2); // invf
            // FIXFIX with one envelope: 1.5 dB; 7-bit start value.
            w.put(50, 7);
            for (int k = 1; k < probe.s.numHigh; ++k) putCode(w, codes.at("f_huffman_env_1_5dB"), 0);
            w.put(10, 5);
            for (int k = 1; k < probe.s.numNoise; ++k) putCode(w, codes.at("f_huffman_env_3_0dB"), 0);
            w.put(0, 1); // add_harmonic_flag
            if (extensionBytes < 0) {
                w.put(0, 1);
            } else {
                w.put(1, 1);
                if (extensionBytes >= 15) {
                    w.put(15, 4);
                    w.put(static_cast<uint32_t>(extensionBytes - 15), 8);
                } else {
                    w.put(static_cast<uint32_t>(extensionBytes), 4);
                }
                for (int i = 0; i < extensionBytes; ++i) w.put(0xA5, 8);
            }
        }
        const int64_t payloadBits = w.bits;
        w.put(0x5A5A, 16);
        Reader in(w);
        SbrFrameData f{};
        f.numEnvelopes = 1;
        EXPECT_EQ(SbrParsePayload(slot, &f, &in.r, 0), 0);
        EXPECT_EQ(in.r.bitsConsumed, payloadBits) << extensionBytes;
        EXPECT_EQ(t.s.noHeaderYet, 0);
        EXPECT_EQ(t.s.resetPending, 0);
        EXPECT_EQ(t.s.masterPending, 0);
        EXPECT_GT(t.s.numHigh, 0);
        EXPECT_GT(t.s.numLimiter, 0);
        EXPECT_EQ(f.sbrDataPresent, 1);
        EXPECT_EQ(static_cast<uint32_t>(f.envelope[0][0]), 1u << 29);
        EXPECT_EQ(static_cast<uint32_t>(f.noise[0][0]), 1u << 21);
    }
}

} // namespace
