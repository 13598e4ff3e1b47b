// Spectral reconstruction, TNS and LTP: exact values of the design and
// comparisons with direct double-precision formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "aacdec.h"
#include "context.h"
#include "element.h"
#include "reconstruct.h"
#include "recon_tables.h"
#include "tables.h"
#include "tns_ltp.h"

namespace {

TEST(ReconTables, ExactEntries) {
    EXPECT_EQ(kPow43[8], 8388607);
    EXPECT_EQ(kPow43[27], 42467327);
    EXPECT_EQ(kPow43[64], 134217727);
    EXPECT_EQ(kPow43[125], 327679999);
    EXPECT_EQ(kPow43[216], 679477247);
    EXPECT_EQ(kPow43[1], 1 << 19);
    EXPECT_EQ(kDrcGain[0], 262143);
    EXPECT_EQ(kDrcGain[6], 524287);
    EXPECT_EQ(kDrcGain[72], 1073741792);
    EXPECT_EQ(kDrcGain[73], 1205234411);
    const uint8_t log2Step[32] = {0, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4,
                                  5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    EXPECT_EQ(0, std::memcmp(kLog2Step, log2Step, 32));
    EXPECT_EQ(kQuarterGain[1], 0x6BA27E64);
    EXPECT_EQ(kQuarterGain[2], 0x5A8279C2);
    EXPECT_EQ(kQuarterGain[3], 0x4C1BF883);
    EXPECT_EQ(kQuarterGain[4], 0x7FFFFFFF);
    const int32_t q30[4] = {0x40000000, 0x4C1BF829, 0x5A82799A, 0x6BA27E65};
    EXPECT_EQ(0, std::memcmp(kQuarterGainQ30, q30, sizeof q30));
    const int32_t prescale[4] = {922333504, 652188288, 532509504, 461166752};
    EXPECT_EQ(0, std::memcmp(kNoisePrescale, prescale, sizeof prescale));
    const int32_t ltp[8] = {612922972, 747985734, 872956398, 978505219,
                            1057528322, 1146642451, 1282693057, 1470524861};
    EXPECT_EQ(0, std::memcmp(kLtpCoef, ltp, sizeof ltp));
    EXPECT_EQ(kFftCos[64], 0x5A827999);
    EXPECT_EQ(kBitReverse[1], 128);
    EXPECT_EQ(kBitReverse[0x0F], 0xF0);
}

TEST(ReciprocalQ30, Examples) {
    EXPECT_EQ(reciprocalQ30(0x50000000), 1717986902);
    EXPECT_EQ(reciprocalQ30(0x60000000), 1431655758);
    for (int64_t x = 0x40000000; x < 0x80000000; x += 0x123457) {
        const double want = std::ldexp(1.0, 61) / static_cast<double>(x);
        EXPECT_NEAR(reciprocalQ30(static_cast<int32_t>(x)), std::min(want, 2147483647.0), 32.0) << x;
    }
}

// One long window, one band covering lines [0, width).
IcsState longIcs(int32_t sf, uint8_t cb = 1) {
    IcsState ics{};
    ics.windowSequence = kOnlyLong;
    ics.numWindowGroups = 1;
    ics.windowGroupLength[0] = 1;
    ics.codebook[0] = cb;
    ics.scaleFactor[0] = static_cast<int16_t>(sf);
    return ics;
}

TEST(InverseQuantise, ExactExamples) {
    const uint16_t off[2] = {0, 4};
    int32_t quantised[4] = {1, -1, 8, 0};
    IcsState ics = longIcs(100);
    inverseQuantise(&ics, 1, off, quantised);
    EXPECT_EQ(quantised[0], 7);
    EXPECT_EQ(quantised[1], -7);
    EXPECT_EQ(quantised[3], 0);

    // Scale factor 164: shift 0, gain one unit below 1.0 on pow43[8] = 8388607.
    int32_t coefs2[4] = {8, 0, 0, 0};
    IcsState ics2 = longIcs(164);
    inverseQuantise(&ics2, 1, off, coefs2);
    EXPECT_EQ(coefs2[0], static_cast<int32_t>((8388607LL * 0x7FFFFFFF) >> 31));

    int32_t coefs3[4] = {100, -3000, 8191, 1};
    IcsState ics3 = longIcs(35);
    inverseQuantise(&ics3, 1, off, coefs3);
    for (int32_t v : coefs3) EXPECT_EQ(v, 0);

    // Noise and intensity bands are left alone.
    int32_t coefs4[4] = {5, 5, 5, 5};
    IcsState ics4 = longIcs(100, kIntensityHcb);
    inverseQuantise(&ics4, 1, off, coefs4);
    EXPECT_EQ(coefs4[0], 5);
}

TEST(InverseQuantise, MatchesPowerLawOverTheWholeRange) {
    const uint16_t off[2] = {0, 64};
    for (int32_t sf : {60, 100, 123, 164, 200}) {
        for (int32_t base : {0, 200, 1000, 4000, 8128}) {
            std::vector<int32_t> quantised(64);
            for (int i = 0; i < 64; ++i) quantised[i] = (i & 1 ? -1 : 1) * (base + i);
            const std::vector<int32_t> q = quantised;
            IcsState ics = longIcs(sf, 11);
            inverseQuantise(&ics, 1, off, quantised.data());
            for (int i = 0; i < 64; ++i) {
                const double a = std::abs(q[i]);
                const double want = (q[i] < 0 ? -1 : 1) * std::pow(a, 4.0 / 3.0) *
                                    std::pow(2.0, (sf - 100) / 4.0) * 8.0;
                if (std::fabs(want) >= 2147483648.0) continue; // beyond the coefficient range
                EXPECT_NEAR(quantised[i], want, std::fabs(want) * (a < 256 ? 2e-6 : 4e-5) + 2.0) << sf << " q " << q[i];
            }
        }
    }
}

TEST(Pulses, GrowMagnitudeAndStopAtTheFrameEnd) {
    IcsState ics{};
    ics.pulse.present = 1;
    ics.pulse.numberPulse = 2;
    ics.pulse.startSfb = 1;
    ics.pulse.offset[0] = 3;
    ics.pulse.offset[1] = 0;
    ics.pulse.offset[2] = 31;
    ics.pulse.amp[0] = 2;
    ics.pulse.amp[1] = 5;
    ics.pulse.amp[2] = 4;
    const uint16_t off[3] = {0, 1000, 1024};
    std::vector<int32_t> quantised(1024, 0);
    quantised[1003] = -1;
    applyPulses(&ics, quantised.data(), off);
    EXPECT_EQ(quantised[1003], -8); // -1 - 2, then - 5
    for (int i = 0; i < 1024; ++i)
        if (i != 1003) {
            EXPECT_EQ(quantised[i], 0); // the third pulse lies past line 1023
        }
}

TEST(ReorderShortWindows, GroupOrderToWindowOrder) {
    IcsState ics{};
    ics.windowSequence = kEightShort;
    ics.numWindowGroups = 3;
    ics.windowGroupLength[0] = 2;
    ics.windowGroupLength[1] = 3;
    ics.windowGroupLength[2] = 3;
    const uint16_t off[3] = {0, 16, 128};
    std::vector<int32_t> quantised(1024), scratch(1024);
    // Each value encodes (window, line) at its group-interleaved position.
    int32_t pos = 0, window = 0;
    for (int g = 0; g < 3; ++g) {
        const int len = ics.windowGroupLength[g];
        for (int k = 0; k < 2; ++k)
            for (int w = 0; w < len; ++w)
                for (int l = off[k]; l < off[k + 1]; ++l) quantised[pos++] = (window + w) * 1000 + l;
        window += len;
    }
    reorderShortWindows(&ics, 2, off, quantised.data(), scratch.data());
    for (int w = 0; w < 8; ++w)
        for (int l = 0; l < 128; ++l) ASSERT_EQ(quantised[128 * w + l], w * 1000 + l);
}

struct PnsFixture {
    AacDecoder dec{};
    std::vector<int32_t> work = std::vector<int32_t>(kWorkBufferWords, 0);
    ElementState e{};
    PnsFixture() { dec.workBuffer = work.data(); }
};

TEST(NoiseSubstitution, BandEnergyAndSeedCarry) {
    PnsFixture f;
    f.e.kind = 1;
    f.e.ics[0] = longIcs(0, kNoiseHcb);
    const uint16_t off[4] = {0, 32, 48, 52};
    IcsState& ics = f.e.ics[0];
    ics.codebook[1] = kNoiseHcb;
    ics.codebook[2] = kNoiseHcb;
    ics.ltp.dataPresent = 1;
    ics.ltp.longUsed[0] = ics.ltp.longUsed[1] = 1;
    for (int32_t energy : {20, 40, 61, 85}) {
        ics.scaleFactor[0] = static_cast<int16_t>(energy);
        ics.scaleFactor[1] = static_cast<int16_t>(energy + 1);
        ics.scaleFactor[2] = static_cast<int16_t>(energy + 2);
        const int32_t seedBefore = f.dec.noiseSeed[0];
        noiseSubstitution(&f.dec, &f.e, 0, 3, off, f.work.data(), 0);
        EXPECT_NE(f.dec.noiseSeed[0], seedBefore);
        for (int b = 0; b < 3; ++b) {
            double sum = 0;
            for (int i = off[b]; i < off[b + 1]; ++i) sum += double(f.work[i]) * f.work[i];
            // 2^(e/2) on the ISO scale, times 8^2 for the spectrum scale.
            const double want = 64.0 * std::pow(2.0, (energy + b) / 2.0);
            EXPECT_NEAR(sum / want, 1.0, energy < 40 ? 0.02 : 2e-3) << energy << " band " << b;
        }
        EXPECT_EQ(ics.ltp.longUsed[0], 0);
    }
    ics.scaleFactor[0] = 88; // octave shift of 22: zero band
    noiseSubstitution(&f.dec, &f.e, 0, 1, off, f.work.data(), 0);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(f.work[i], 0);
}

TEST(NoiseSubstitution, GeneratorIsTheLcg) {
    PnsFixture f;
    f.e.kind = 1;
    f.e.ics[0] = longIcs(40, kNoiseHcb);
    const uint16_t off[2] = {0, 4};
    f.dec.noiseSeed[1] = 12345;
    noiseSubstitution(&f.dec, &f.e, 0, 1, off, f.work.data(), 1);
    uint32_t x = 12345;
    for (int i = 0; i < 4; ++i) x = 1664525u * x + 1013904223u;
    EXPECT_EQ(static_cast<uint32_t>(f.dec.noiseSeed[1]), x);
    EXPECT_EQ(f.dec.noiseSeed[0], 0);
}

TEST(NoiseSubstitution, CorrelatedBandsReuseChannelZeroNoise) {
    PnsFixture f;
    f.e.kind = 2;
    f.e.msMaskPresent = 1;
    f.e.msUsed[0] = 1;
    f.e.ics[0] = longIcs(30, kNoiseHcb);
    f.e.ics[0].codebook[1] = kNoiseHcb;
    f.e.ics[0].scaleFactor[1] = 30;
    f.e.ics[1] = longIcs(50, kNoiseHcb);
    f.e.ics[1].codebook[1] = kNoiseHcb;
    f.e.ics[1].scaleFactor[1] = 50;
    const uint16_t off[3] = {0, 16, 32};
    noiseSubstitution(&f.dec, &f.e, 0, 2, off, f.work.data(), 0);
    noiseSubstitution(&f.dec, &f.e, 1, 2, off, f.work.data() + 1024, 1);
    const double ratio = std::pow(2.0, (50 - 30) / 4.0);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(f.work[1024 + i], f.work[i] * ratio, std::fabs(f.work[i] * ratio) * 1e-3 + 4);
    int same = 0;
    for (int i = 16; i < 32; ++i)
        same += std::fabs(f.work[1024 + i] - f.work[i] * ratio) < std::fabs(f.work[i] * ratio) * 0.01 + 4;
    EXPECT_LT(same, 3); // band 1 has no M/S flag: independent noise
}

TEST(StereoProcess, MidSideAndIntensityAgainstDirectFormulas) {
    ElementState e{};
    e.kind = 2;
    e.msMaskPresent = 1;
    e.msUsed[0] = 1;
    e.msUsed[2] = 1;
    e.msUsed[3] = 1;
    e.ics[0] = longIcs(100, 1);
    e.ics[1] = longIcs(100, 1);
    IcsState& r = e.ics[1];
    r.codebook[1] = 1;             // no M/S flag: untouched
    r.codebook[2] = kIntensityHcb;  // in phase, M/S flag inverts
    r.codebook[3] = kIntensityHcb2; // out of phase, inverted back
    r.codebook[4] = kIntensityHcb;
    r.scaleFactor[2] = 5;
    r.scaleFactor[3] = -7;
    r.scaleFactor[4] = 130; // shift 32: cleared
    const uint16_t off[6] = {0, 8, 16, 24, 32, 40};
    std::mt19937 rng(1);
    std::uniform_int_distribution<int32_t> dist(-(1 << 24), 1 << 24);
    std::vector<int32_t> spectra(2048);
    for (auto& v : spectra) v = dist(rng);
    const std::vector<int32_t> in = spectra;
    stereoProcessBands(5, &e, 5, off, spectra.data());
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(spectra[i], in[i] + in[1024 + i]);
        EXPECT_EQ(spectra[1024 + i], in[i] - in[1024 + i]);
    }
    for (int i = 8; i < 16; ++i) {
        EXPECT_EQ(spectra[i], in[i]);
        EXPECT_EQ(spectra[1024 + i], in[1024 + i]);
    }
    for (int i = 16; i < 32; ++i) {
        EXPECT_EQ(spectra[i], in[i]); // left of an intensity band is kept
        const double p = i < 24 ? 5 : -7;
        // In phase inverted by the M/S flag, then out of phase inverted back.
        const double want = (i < 24 ? -1.0 : 1.0) * in[i] * std::pow(2.0, -p / 4);
        EXPECT_NEAR(spectra[1024 + i], want, std::fabs(want) * 1e-7 + 2) << i;
    }
    for (int i = 32; i < 40; ++i) EXPECT_EQ(spectra[1024 + i], 0);
}

TEST(Drc, WithoutAReferenceLevelEverSentTheGainsApplyUnscaled) {
    // The level a freshly configured decoder assumes.
    AacDecoder* d = nullptr;
    ASSERT_EQ(AacDecCreate(&d), 0);
    AacStreamConfig c{};
    c.frameLength = 1024;
    c.sampleRate = 44100;
    c.channels = 2;
    c.profile = 1;
    ASSERT_EQ(AacDecInit(d, &c), 0);
    const uint8_t level = d->drcProgRefLevel;
    AacDecDestroy(d);

    DrcInfo drc{};
    drc.numBands = 2;
    drc.bandTop[0] = 1; // lines 0..7: no compression sent
    drc.bandTop[1] = 3; // lines 8..15: 6 dB of compression
    drc.progRefLevel = level;
    drc.dynRngSgn[1] = 1;
    drc.dynRngCtl[1] = 24;
    std::vector<int32_t> spectrum(1024, 1 << 24);
    applyDrc(&drc, spectrum.data());
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(spectrum[i], 1 << 24, 16.0) << i;
    for (int i = 8; i < 16; ++i) EXPECT_NEAR(spectrum[i], 1 << 23, 16.0) << i;
    for (int i = 16; i < 1024; ++i) EXPECT_EQ(spectrum[i], 1 << 24);
}

TEST(Drc, GainAgainstTheFormulaAndBounded) {
    DrcInfo drc{};
    drc.numBands = 2;
    drc.bandTop[0] = 1;  // lines 0..7
    drc.bandTop[1] = 3;  // lines 8..15
    drc.progRefLevel = 84;
    drc.dynRngSgn[0] = 1;
    drc.dynRngCtl[0] = 24;
    drc.dynRngSgn[1] = 0;
    drc.dynRngCtl[1] = 40;
    std::vector<int32_t> quantised(1024, 1 << 24);
    drc.bandTop[1] = 3;
    applyDrc(&drc, quantised.data());
    // 2^((prog_ref_level +- dyn_rng_ctl - 168) / 24), both in steps of 4.
    const double g0 = std::pow(2.0, ((84 / 4) * 4 + ((168 - 24) / 4) * 4) / 24.0 - 14);
    const double g1 = std::pow(2.0, ((84 / 4) * 4 + ((168 + 40) / 4) * 4) / 24.0 - 14);
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(quantised[i], (1 << 24) * g0, 16.0);
    for (int i = 8; i < 16; ++i) EXPECT_NEAR(quantised[i], (1 << 24) * g1, 16.0);
    for (int i = 16; i < 1024; ++i) EXPECT_EQ(quantised[i], 1 << 24);

    // Boost beyond unity is held just below 1.0 instead of overflowing.
    drc.numBands = 1;
    drc.bandTop[0] = 255;
    drc.progRefLevel = 127;
    drc.dynRngSgn[0] = 0;
    drc.dynRngCtl[0] = 127;
    std::vector<int32_t> loud(1024, -(1 << 30));
    applyDrc(&drc, loud.data());
    const int32_t unity = static_cast<int32_t>(((-(int64_t{1} << 30)) * 0x7FFFFFFF) >> 32) * 2;
    for (int32_t v : loud) EXPECT_EQ(v, unity);
}

TEST(Tns, CoefficientsAndStepUp) {
    // 4-bit resolution, index 7 and -7 (field 1001).
    EXPECT_EQ(tnsReflection(7, 1, 0), 16685307);
    EXPECT_EQ(tnsReflection(9, 1, 0), -16136755);
    // coef_compress narrows the field only: 3-bit field 111 is -1 in the 4-bit table.
    EXPECT_EQ(tnsReflection(7, 1, 1), kTnsCoef4[15]);
    EXPECT_EQ(tnsReflection(3, 0, 0), kTnsCoef3[3]);
    EXPECT_EQ(tnsReflection(4, 0, 0), kTnsCoef3[4]); // -4 at 3 bits
    for (int i = -8; i < 8; ++i) {
        const double d = i >= 0 ? 7.5 : 8.5;
        EXPECT_EQ(kTnsCoef4[i & 15], static_cast<int32_t>(std::sin(i / d * M_PI / 2) * 0xFFFFFF));
    }
    int32_t a[13];
    const int32_t k1[1] = {16685307};
    tnsDirectForm(k1, 1, a);
    EXPECT_EQ(a[0], 0xFFFFFF);
    EXPECT_EQ(a[1], 16685306); // one unit below k for positive k
    const int32_t k2[1] = {-16136755};
    tnsDirectForm(k2, 1, a);
    EXPECT_EQ(a[1], static_cast<int32_t>((int64_t{-16136755} * 0xFFFFFF) >> 24));

    // Order 3 against the recursion in 64-bit integers.
    const int32_t k3[3] = {12467900, -11302736, 6823908};
    tnsDirectForm(k3, 3, a);
    int64_t r[4] = {0xFFFFFF, 0, 0, 0};
    for (int m = 1; m <= 3; ++m) {
        int64_t prev[4];
        std::memcpy(prev, r, sizeof r);
        for (int i = 1; i <= m; ++i) r[i] = prev[i] + ((k3[m - 1] * prev[m - i]) >> 24);
    }
    for (int i = 0; i <= 3; ++i) EXPECT_EQ(a[i], r[i]);
}

TEST(Tns, FilterAgainstDirectFormulaAndAnalysisRoundTrip) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> dist(-(1 << 22), 1 << 22);
    const int32_t k[8] = {12467900, -11302736, 6823908, -3082805, 9861399, -6060629, 3488179, 0};
    int32_t a[13];
    tnsDirectForm(k, 8, a);
    for (int dir = 0; dir < 2; ++dir) {
        std::vector<int32_t> x(200);
        for (auto& v : x) v = dist(rng);
        const std::vector<int32_t> in = x;
        tnsFilterRange(x.data(), 20, 180, dir, a, 8, true);
        // Direct all-pole formula over the walking order.
        std::vector<int64_t> y;
        for (int c = 0; c < 160; ++c) {
            const int n = dir ? 179 - c : 20 + c;
            int64_t acc = 0;
            for (int i = 1; i <= 8 && c - i >= 0; ++i) acc += int64_t{a[i]} * y[c - i];
            y.push_back(in[n] - (acc >> 24));
            ASSERT_EQ(x[n], y.back()) << dir << " " << n;
        }
        EXPECT_EQ(x[19], in[19]);
        EXPECT_EQ(x[180], in[180]);
        tnsFilterRange(x.data(), 20, 180, dir, a, 8, false);
        EXPECT_EQ(x, in); // the analysis filter undoes the synthesis exactly
    }
}

TEST(Tns, SumBeyondSixtyFourBitsWraps) {
    // Full-scale coefficients and states: twelve products of about 2^62 leave
    // the 64-bit range; the sum wraps modulo 2^64 (checked against a 128-bit
    // style model built from two 64-bit halves).
    int32_t a[13];
    for (int i = 0; i < 13; ++i) a[i] = INT32_MAX - i;
    std::vector<int32_t> x(64, INT32_MIN);
    const std::vector<int32_t> in = x;
    tnsFilterRange(x.data(), 0, 64, 0, a, 12, false);
    std::vector<int32_t> ref;
    for (int c = 0; c < 64; ++c) {
        uint64_t acc = 0;
        for (int i = 1; i <= 12 && c - i >= 0; ++i)
            acc += static_cast<uint64_t>(int64_t{a[i]} * in[c - i]);
        const int32_t t = static_cast<int32_t>(static_cast<int64_t>(acc) >> 24);
        ref.push_back(static_cast<int32_t>(static_cast<uint32_t>(in[c]) + static_cast<uint32_t>(t)));
        ASSERT_EQ(x[c], ref.back()) << c;
    }
}

TEST(Tns, OrdersAboveTheMaximumAreClamped) {
    if (numLongBands(4) == 0) GTEST_SKIP() << "band tables not generated yet";
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> dist(-(1 << 22), 1 << 22);
    for (uint8_t seq : {uint8_t(kOnlyLong), uint8_t(kEightShort)}) {
        IcsState ics{};
        ics.windowSequence = seq;
        ics.maxSfb = seq == kEightShort ? 14 : 49;
        const int32_t windows = seq == kEightShort ? 8 : 1;
        for (int w = 0; w < windows; ++w) {
            ics.tns.nFilt[w] = 1;
            ics.tns.coefRes[w] = 1;
            ics.tns.filter[w][0].length = 40;
            ics.tns.filter[w][0].order = 15;
            for (int i = 0; i < 15; ++i) ics.tns.filter[w][0].coef[i] = static_cast<int8_t>((i * 5 + 3) & 15);
        }
        IcsState clamped = ics;
        for (int w = 0; w < windows; ++w) clamped.tns.filter[w][0].order = seq == kEightShort ? 7 : 12;
        std::vector<int32_t> x(1024);
        for (auto& v : x) v = dist(rng);
        std::vector<int32_t> y = x;
        const std::vector<int32_t> in = x;
        applyTns(4, &ics, x.data());
        applyTns(4, &clamped, y.data());
        EXPECT_EQ(x, y);
        EXPECT_NE(x, in);
    }
}

TEST(Ltp, EstimateAtLagZeroAnd2047) {
    std::vector<int16_t> history(2048);
    std::vector<int32_t> overlap(1024), est(2048);
    for (int i = 0; i < 2048; ++i) history[i] = static_cast<int16_t>(i * 7 - 5000);
    for (int i = 0; i < 1024; ++i) overlap[i] = (i + 1) * 1000 - 300000;
    const int64_t g = kLtpCoef[3];
    ltpEstimate(history.data(), overlap.data(), 0, 3, est.data());
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(est[i], (g * overlap[i]) >> 28);
    for (int i = 1024; i < 2048; ++i) ASSERT_EQ(est[i], 0);
    ltpEstimate(history.data(), overlap.data(), 2047, 3, est.data());
    for (int i = 0; i < 2047; ++i) ASSERT_EQ(est[i], (g * history[1 + i]) >> 23);
    EXPECT_EQ(est[2047], (g * overlap[0]) >> 28);
    // Both parts on the PCM x 2^7 scale: a sample of 1000 and an overlap of 1000 << 5.
    std::fill(history.begin(), history.end(), 1000);
    std::fill(overlap.begin(), overlap.end(), 1000 << 5);
    ltpEstimate(history.data(), overlap.data(), 1024, 7, est.data());
    EXPECT_NEAR(est[0], est[1500], 2);
}

TEST(Ltp, PredictionOfASteadyToneIsAddedInUsedBandsOnly) {
    if (numLongBands(4) == 0) GTEST_SKIP() << "band tables not generated yet";
    std::vector<int32_t> work(kWorkBufferWords, 0), overlap(2048, 0);
    std::vector<int16_t> history(4096, 0);
    AacDecoder d{};
    d.workBuffer = work.data();
    d.overlap = overlap.data();
    d.ltpHistory = history.data();
    d.srIndex = 4;
    for (int i = 0; i < 2048; ++i)
        history[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * i / 44100.0));
    IcsState ics{};
    ics.windowSequence = kOnlyLong;
    ics.maxSfb = 49;
    ics.ltp.dataPresent = 1;
    ics.ltp.lag = 1024;
    ics.ltp.coef = 4;
    for (int b = 0; b < 20; ++b) ics.ltp.longUsed[b] = 1;
    std::vector<int32_t> quantised(1024, 0);
    applyLtp(&d, &ics, quantised.data(), 0);
    const uint16_t* off = longOffsets(4);
    int32_t peak = 0;
    for (int i = 0; i < off[20]; ++i) peak = std::max(peak, std::abs(quantised[i]));
    for (int i = off[20]; i < 1024; ++i) ASSERT_EQ(quantised[i], 0);
    EXPECT_GT(peak, 1 << 20);
}

} // namespace
