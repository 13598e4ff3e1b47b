// SBR extension payload: header, grid, envelopes and noise floors of one or
// two channels, their delta decoding and dequantisation.
#include <cstring>

#include "bitreader.h"
#include "fixedpoint.h"
#include "sbr/sbr_internal.h"
#include "sbr/sbr_tables.h"

namespace {

enum FrameClass : uint8_t { kFixFix = 0, kFixVar = 1, kVarFix = 2, kVarVar = 3 };

constexpr int32_t kGridTooManyEnvelopes = -3;
constexpr int32_t kGridInvalid = -4;

// bs_pointer widths for L_E = 1..5: ceil(log2(L_E + 1)).
constexpr uint8_t kPointerBits[6] = {0, 1, 2, 2, 3, 3};

uint8_t readFlag(BitReader* r) { return static_cast<uint8_t>(readBits(r, 1)); }

// A state whose tables can carry SBR data: a first valid header has built them.
bool tablesUsable(const SbrChannelState* s) {
    return s->numHigh > 0 && s->numHigh <= kSbrMaxBands && s->numLow > 0 && s->numLow <= kSbrMaxLow &&
           s->numNoise >= 1 && s->numNoise <= kSbrMaxNoiseBands;
}

int32_t bandCount(const SbrChannelState* s, uint8_t freqRes) {
    const int32_t n = freqRes ? s->numHigh : s->numLow;
    return n > kSbrMaxBands ? kSbrMaxBands : n;
}

int32_t noiseCount(const SbrChannelState* s) {
    return s->numNoise > kSbrMaxNoiseBands ? kSbrMaxNoiseBands : s->numNoise;
}

void readRelativeBorders(BitReader* r, int32_t count, int32_t* out) {
    for (int32_t i = 0; i < count; ++i) out[i] = 2 * (static_cast<int32_t>(readBits(r, 2)) + 1);
}

void skipExtendedData(BitReader* r) {
    if (!readFlag(r)) return;
    int32_t size = static_cast<int32_t>(readBits(r, 4));
    if (size == 15) size += static_cast<int32_t>(readBits(r, 8));
    skipBits(r, 8 * size);
}

void readDtdf(BitReader* r, SbrFrameData* f) {
    for (int32_t l = 0; l < f->numEnvelopes; ++l) f->bs_df_env[l] = readFlag(r);
    for (int32_t q = 0; q < f->numNoiseFloors; ++q) f->bs_df_noise[q] = readFlag(r);
}

void readInvf(const SbrChannelState* s, BitReader* r, SbrFrameData* f) {
    for (int32_t i = 0; i < noiseCount(s); ++i) f->bs_invf_mode[i] = static_cast<uint8_t>(readBits(r, 2));
}

void readAddHarmonic(const SbrChannelState* s, BitReader* r, SbrFrameData* f) {
    f->bs_add_harmonic_flag = readFlag(r);
    std::memset(f->bs_add_harmonic, 0, sizeof(f->bs_add_harmonic));
    if (!f->bs_add_harmonic_flag) return;
    const int32_t n = bandCount(s, 1);
    for (int32_t i = 0; i < n; ++i) f->bs_add_harmonic[i] = readFlag(r);
}

void copyGrid(const SbrFrameData* from, SbrFrameData* to) {
    to->bs_frame_class = from->bs_frame_class;
    to->numEnvelopes = from->numEnvelopes;
    to->numNoiseFloors = from->numNoiseFloors;
    std::memcpy(to->envBorders, from->envBorders, sizeof(to->envBorders));
    std::memcpy(to->noiseBorders, from->noiseBorders, sizeof(to->noiseBorders));
    std::memcpy(to->freqRes, from->freqRes, sizeof(to->freqRes));
    to->transientEnvelope = from->transientEnvelope;
}

// Index of the band of `table` (count bands) that holds QMF band `band`.
int32_t bandHolding(const uint8_t* table, int32_t count, int32_t band) {
    for (int32_t k = 0; k < count; ++k)
        if (table[k] <= band && band < table[k + 1]) return k;
    return -1;
}

// Adds the reference envelope `ref` (resolution refRes) to `cur` (curRes).
void addTimeReference(const SbrChannelState* s, int32_t* cur, uint8_t curRes, const int32_t* ref,
                      uint8_t refRes) {
    const int32_t n = bandCount(s, curRes);
    if (curRes == refRes) {
        for (int32_t k = 0; k < n; ++k) cur[k] += ref[k];
    } else if (curRes == 1) {
        // Each high band takes the low band that contains it.
        for (int32_t j = 0; j < n; ++j) {
            const int32_t k = bandHolding(s->lowTable, bandCount(s, 0), s->highTable[j]);
            if (k >= 0) cur[j] += ref[k];
        }
    } else {
        // Each low band takes the high band that starts with it.
        const int32_t high = bandCount(s, 1);
        for (int32_t j = 0; j < n; ++j)
            for (int32_t k = 0; k < high; ++k)
                if (s->highTable[k] == s->lowTable[j]) {
                    cur[j] += ref[k];
                    break;
                }
    }
}

// Uncoupled energy of envelope index e at resolution ampRes: 64 x 2^(e/alpha) / 4.
uint32_t envelopeEnergy(int32_t e, int32_t ampRes) {
    const int32_t a = 1 - ampRes;
    const int32_t x = e >> a;
    if (x + 4 >= 32) return 0xFFFFFFFFu;
    if (a == 0 || (e & 1) == 0) return x + 4 < 0 ? 0 : 1u << (x + 4);
    return 27 - x > 31 ? 0 : 0xB504F333u >> (27 - x);
}

// Noise floor of index q in Q25: 2^(6 - q).
uint32_t noiseFloor(int32_t q) {
    if (q > 30) return 0;
    if (q < 0) return 0xFFFFFFFFu;
    return 1u << (31 - q);
}

// 1 / (1 + 2^-n) in unsigned Q32, n >= 0.
uint32_t panShare(int32_t n) {
    if (n == 0) return 0x80000000u;
    if (n >= 31) return 0xFFFFFFFFu;
    return FxDivU32(0x80000000u, 0x80000000u + (0x80000000u >> n));
}

// 2 x value x share, saturated.
uint32_t twiceScaled(uint32_t value, uint32_t share) {
    return FxShiftLeftSatU(FxMulHighU(value, share), 1);
}

// Splits 2 x total between the channels of a pair for the pan offset d:
// left = 2 total / (1 + 2^d), right = 2 total / (1 + 2^-d).
void pan(uint32_t total, int32_t d, uint32_t* left, uint32_t* right) {
    const uint32_t loud = panShare(d < 0 ? -d : d);
    const uint32_t quiet = d == 0 ? loud : static_cast<uint32_t>(0u - loud);
    *left = twiceScaled(total, d > 0 ? quiet : loud);
    *right = twiceScaled(total, d > 0 ? loud : quiet);
}

void parseDataOfPair(SbrChannelState* s0, SbrChannelState* s1, SbrFrameData* f, BitReader* r,
                     int32_t* gridResult) {
    if (f[0].bs_coupling) {
        gridResult[0] = SbrParseGrid(&f[0], r);
        gridResult[1] = gridResult[0];
        const bool decode = !s0->parseOnly && gridResult[0] == 0;
        copyGrid(&f[0], &f[1]);
        readDtdf(r, &f[0]);
        readDtdf(r, &f[1]);
        readInvf(s0, r, &f[0]);
        std::memcpy(f[1].bs_invf_mode, f[0].bs_invf_mode, sizeof(f[1].bs_invf_mode));
        SbrParseEnvelope(s0, &f[0], r, 0);
        if (decode) SbrDecodeEnvelopeDeltas(s0, &f[0]);
        SbrParseNoise(s0, &f[0], r, 0);
        if (decode) SbrDecodeNoiseDeltas(s0, &f[0]);
        SbrParseEnvelope(s1, &f[1], r, 1);
        if (decode) SbrDecodeEnvelopeDeltas(s1, &f[1]);
        SbrParseNoise(s1, &f[1], r, 1);
        if (decode) {
            SbrDecodeNoiseDeltas(s1, &f[1]);
            SbrDequantiseCoupled(s0, &f[0], &f[1]);
        }
    } else {
        gridResult[0] = SbrParseGrid(&f[0], r);
        gridResult[1] = SbrParseGrid(&f[1], r);
        const bool decode = !s0->parseOnly && gridResult[0] == 0 && gridResult[1] == 0;
        readDtdf(r, &f[0]);
        readDtdf(r, &f[1]);
        readInvf(s0, r, &f[0]);
        readInvf(s1, r, &f[1]);
        SbrParseEnvelope(s0, &f[0], r, 0);
        if (decode) SbrDecodeEnvelopeDeltas(s0, &f[0]);
        SbrParseEnvelope(s1, &f[1], r, 0);
        if (decode) SbrDecodeEnvelopeDeltas(s1, &f[1]);
        SbrParseNoise(s0, &f[0], r, 0);
        if (decode) SbrDecodeNoiseDeltas(s0, &f[0]);
        SbrParseNoise(s1, &f[1], r, 0);
        if (decode) {
            SbrDecodeNoiseDeltas(s1, &f[1]);
            SbrDequantise(s0, &f[0]);
            SbrDequantise(s1, &f[1]);
        }
    }
}

} // namespace

int32_t SbrHuffmanDecode(BitReader* r, const int8_t (*tree)[2]) {
    int32_t node = 0;
    for (;;) {
        const int32_t next = tree[node][readBits(r, 1)];
        if (next < 0) return next + 64;
        node = next;
    }
}

int32_t SbrParseHeader(SbrChannelState* s, BitReader* r) {
    const uint8_t ampRes = readFlag(r);
    const uint8_t startFreq = static_cast<uint8_t>(readBits(r, 4));
    const uint8_t stopFreq = static_cast<uint8_t>(readBits(r, 4));
    const uint8_t xoverBand = static_cast<uint8_t>(readBits(r, 3));
    skipBits(r, 2);
    const uint8_t extra1 = readFlag(r);
    const uint8_t extra2 = readFlag(r);

    bool masterChange = startFreq != s->bs_start_freq || stopFreq != s->bs_stop_freq;
    bool reset = false;
    bool limiterChange = false;
    if (extra1) {
        const uint8_t freqScale = static_cast<uint8_t>(readBits(r, 2));
        const uint8_t alterScale = readFlag(r);
        const uint8_t noiseBands = static_cast<uint8_t>(readBits(r, 2));
        masterChange = masterChange || freqScale != s->bs_freq_scale || alterScale != s->bs_alter_scale;
        reset = noiseBands != s->bs_noise_bands;
        s->bs_freq_scale = freqScale;
        s->bs_alter_scale = alterScale;
        s->bs_noise_bands = noiseBands;
    }
    if (extra2) {
        const uint8_t limiterBands = static_cast<uint8_t>(readBits(r, 2));
        limiterChange = limiterBands != s->bs_limiter_bands;
        s->bs_limiter_bands = limiterBands;
        s->bs_limiter_gains = static_cast<uint8_t>(readBits(r, 2));
        s->bs_interpol_freq = readFlag(r);
        s->bs_smoothing_mode = readFlag(r);
    }
    reset = reset || masterChange || xoverBand != s->bs_xover_band;

    s->bs_amp_res = ampRes;
    s->bs_start_freq = startFreq;
    s->bs_stop_freq = stopFreq;
    s->bs_xover_band = xoverBand;
    s->masterPending = static_cast<uint8_t>(masterChange);
    s->resetPending = static_cast<uint8_t>(reset);
    s->limiterPending = static_cast<uint8_t>(reset || limiterChange);
    return 0;
}

int32_t SbrParseGrid(SbrFrameData* f, BitReader* r) {
    const uint8_t frameClass = static_cast<uint8_t>(readBits(r, 2));
    f->bs_frame_class = frameClass;

    int32_t numEnv = 0;
    int32_t borders[kSbrMaxEnvelopes + 1] = {};
    uint8_t freqRes[kSbrMaxEnvelopes] = {};
    int32_t pointer = 0;
    int32_t transient = -1;
    int32_t middle = 0;

    switch (frameClass) {
    case kFixFix: {
        numEnv = 1 << readBits(r, 2);
        if (numEnv > kSbrMaxEnvelopes) return kGridTooManyEnvelopes;
        const uint8_t res = readFlag(r);
        for (int32_t l = 0; l < numEnv; ++l) freqRes[l] = res;
        const int32_t step = 16 / numEnv;
        for (int32_t l = 0; l <= numEnv; ++l) borders[l] = l * step;
        middle = numEnv / 2;
        break;
    }
    case kFixVar: {
        const int32_t varBord1 = static_cast<int32_t>(readBits(r, 2));
        const int32_t numRel1 = static_cast<int32_t>(readBits(r, 2));
        numEnv = numRel1 + 1;
        int32_t rel[4];
        readRelativeBorders(r, numRel1, rel);
        pointer = static_cast<int32_t>(readBits(r, kPointerBits[numEnv]));
        for (int32_t l = numEnv - 1; l >= 0; --l) freqRes[l] = readFlag(r);
        borders[0] = 0;
        borders[numEnv] = varBord1 + 16;
        for (int32_t i = 0; i < numRel1; ++i) borders[numEnv - 1 - i] = borders[numEnv - i] - rel[i];
        transient = pointer > 0 ? numEnv + 1 - pointer : -1;
        middle = pointer > 1 ? numEnv + 1 - pointer : numEnv - 1;
        break;
    }
    case kVarFix: {
        const int32_t varBord0 = static_cast<int32_t>(readBits(r, 2));
        const int32_t numRel0 = static_cast<int32_t>(readBits(r, 2));
        numEnv = numRel0 + 1;
        int32_t rel[4];
        readRelativeBorders(r, numRel0, rel);
        pointer = static_cast<int32_t>(readBits(r, kPointerBits[numEnv]));
        for (int32_t l = 0; l < numEnv; ++l) freqRes[l] = readFlag(r);
        borders[0] = varBord0;
        borders[numEnv] = 16;
        for (int32_t i = 0; i < numRel0; ++i) borders[i + 1] = borders[i] + rel[i];
        transient = pointer > 1 ? pointer - 1 : -1;
        middle = pointer == 0 ? 1 : (pointer == 1 ? numEnv - 1 : pointer - 1);
        break;
    }
    default: {
        const int32_t varBord0 = static_cast<int32_t>(readBits(r, 2));
        const int32_t varBord1 = static_cast<int32_t>(readBits(r, 2));
        const int32_t numRel0 = static_cast<int32_t>(readBits(r, 2));
        const int32_t numRel1 = static_cast<int32_t>(readBits(r, 2));
        numEnv = numRel0 + numRel1 + 1;
        if (numEnv > kSbrMaxEnvelopes) return kGridTooManyEnvelopes;
        int32_t rel0[4];
        int32_t rel1[4];
        readRelativeBorders(r, numRel0, rel0);
        readRelativeBorders(r, numRel1, rel1);
        pointer = static_cast<int32_t>(readBits(r, kPointerBits[numEnv]));
        for (int32_t l = 0; l < numEnv; ++l) freqRes[l] = readFlag(r);
        borders[0] = varBord0;
        borders[numEnv] = varBord1 + 16;
        for (int32_t i = 0; i < numRel0; ++i) borders[i + 1] = borders[i] + rel0[i];
        for (int32_t i = 0; i < numRel1; ++i) borders[numEnv - 1 - i] = borders[numEnv - i] - rel1[i];
        transient = pointer > 0 ? numEnv + 1 - pointer : -1;
        middle = pointer > 1 ? numEnv + 1 - pointer : numEnv - 1;
        break;
    }
    }

    // Every bit of the grid has been read. A grid whose envelopes do not
    // follow one another, or whose pointer lies outside them, cannot be
    // applied: its counts still say how the rest of the payload is laid out,
    // but the frame is then taken as carrying no SBR data.
    bool valid = pointer <= numEnv + 1 && transient >= -1 && transient <= numEnv;
    for (int32_t l = 0; l < numEnv; ++l) valid = valid && borders[l] < borders[l + 1];
    if (numEnv > 1) valid = valid && middle >= 0 && middle <= numEnv;
    if (!valid) {
        middle = numEnv / 2;
        for (int32_t l = 0; l <= numEnv; ++l) borders[l] = l;
        transient = -1;
    }

    f->numEnvelopes = static_cast<uint8_t>(numEnv);
    for (int32_t l = 0; l <= numEnv; ++l) f->envBorders[l] = static_cast<uint8_t>(borders[l]);
    for (int32_t l = 0; l < numEnv; ++l) f->freqRes[l] = freqRes[l];
    f->transientEnvelope = static_cast<int8_t>(transient);
    f->noiseBorders[0] = f->envBorders[0];
    if (numEnv == 1) {
        f->numNoiseFloors = 1;
        f->noiseBorders[1] = f->envBorders[1];
    } else {
        f->numNoiseFloors = 2;
        f->noiseBorders[1] = f->envBorders[middle];
        f->noiseBorders[2] = f->envBorders[numEnv];
    }
    return valid ? 0 : kGridInvalid;
}

void SbrParseEnvelope(const SbrChannelState* s, SbrFrameData* f, BitReader* r, int32_t balance) {
    f->ampResInUse = (f->bs_frame_class == kFixFix && f->numEnvelopes == 1) ? 0 : s->bs_amp_res;
    const bool fine = f->ampResInUse == 0;
    const int8_t (*timeTree)[2];
    const int8_t (*freqTree)[2];
    int32_t startBits;
    if (balance) {
        timeTree = fine ? t_huffman_env_bal_1_5dB : t_huffman_env_bal_3_0dB;
        freqTree = fine ? f_huffman_env_bal_1_5dB : f_huffman_env_bal_3_0dB;
        startBits = fine ? 6 : 5;
    } else {
        timeTree = fine ? t_huffman_env_1_5dB : t_huffman_env_3_0dB;
        freqTree = fine ? f_huffman_env_1_5dB : f_huffman_env_3_0dB;
        startBits = fine ? 7 : 6;
    }
    const int32_t shift = balance ? 1 : 0;
    for (int32_t l = 0; l < f->numEnvelopes; ++l) {
        const int32_t n = bandCount(s, f->freqRes[l]);
        int32_t* e = f->envelope[l];
        if (f->bs_df_env[l] == 0) {
            if (n == 0) continue;
            e[0] = static_cast<int32_t>(readBits(r, startBits)) << shift;
            for (int32_t k = 1; k < n; ++k) e[k] = SbrHuffmanDecode(r, freqTree) * (1 << shift);
        } else {
            for (int32_t k = 0; k < n; ++k) e[k] = SbrHuffmanDecode(r, timeTree) * (1 << shift);
        }
    }
}

void SbrParseNoise(const SbrChannelState* s, SbrFrameData* f, BitReader* r, int32_t balance) {
    const int8_t (*timeTree)[2] = balance ? t_huffman_noise_bal_3_0dB : t_huffman_noise_3_0dB;
    const int8_t (*freqTree)[2] = balance ? f_huffman_env_bal_3_0dB : f_huffman_env_3_0dB;
    const int32_t shift = balance ? 1 : 0;
    const int32_t n = noiseCount(s);
    for (int32_t q = 0; q < f->numNoiseFloors; ++q) {
        int32_t* v = f->noise[q];
        if (f->bs_df_noise[q] == 0) {
            v[0] = static_cast<int32_t>(readBits(r, 5)) << shift;
            for (int32_t k = 1; k < n; ++k) v[k] = SbrHuffmanDecode(r, freqTree) * (1 << shift);
        } else {
            for (int32_t k = 0; k < n; ++k) v[k] = SbrHuffmanDecode(r, timeTree) * (1 << shift);
        }
    }
}

void SbrDecodeEnvelopeDeltas(SbrChannelState* s, SbrFrameData* f) {
    for (int32_t l = 0; l < f->numEnvelopes; ++l) {
        int32_t* e = f->envelope[l];
        const int32_t n = bandCount(s, f->freqRes[l]);
        if (f->bs_df_env[l] == 0) {
            for (int32_t k = 1; k < n; ++k) e[k] += e[k - 1];
        } else if (l == 0) {
            addTimeReference(s, e, f->freqRes[0], s->prevEnvelope, s->prevFreqRes);
        } else {
            addTimeReference(s, e, f->freqRes[l], f->envelope[l - 1], f->freqRes[l - 1]);
        }
    }
    const int32_t last = f->numEnvelopes - 1;
    std::memcpy(s->prevEnvelope, f->envelope[last], sizeof(int32_t) * bandCount(s, f->freqRes[last]));
    s->prevFreqRes = f->freqRes[last];
}

void SbrDecodeNoiseDeltas(SbrChannelState* s, SbrFrameData* f) {
    const int32_t n = noiseCount(s);
    for (int32_t q = 0; q < f->numNoiseFloors; ++q) {
        int32_t* v = f->noise[q];
        const int32_t* ref = q == 0 ? s->prevNoise : f->noise[q - 1];
        if (f->bs_df_noise[q] == 0) {
            for (int32_t k = 1; k < n; ++k) v[k] += v[k - 1];
        } else {
            for (int32_t k = 0; k < n; ++k) v[k] += ref[k];
        }
    }
    std::memcpy(s->prevNoise, f->noise[f->numNoiseFloors - 1], sizeof(int32_t) * n);
}

void SbrDequantise(const SbrChannelState* s, SbrFrameData* f) {
    for (int32_t l = 0; l < f->numEnvelopes; ++l) {
        const int32_t n = bandCount(s, f->freqRes[l]);
        for (int32_t k = 0; k < n; ++k)
            f->envelope[l][k] = static_cast<int32_t>(envelopeEnergy(f->envelope[l][k], f->ampResInUse));
    }
    for (int32_t q = 0; q < f->numNoiseFloors; ++q)
        for (int32_t k = 0; k < noiseCount(s); ++k)
            f->noise[q][k] = static_cast<int32_t>(noiseFloor(f->noise[q][k]));
}

// The pair's level (left) and balance (right, stored doubled) become the
// energies of both channels, panned around the offset 12.
void SbrDequantiseCoupled(const SbrChannelState* s, SbrFrameData* left, SbrFrameData* right) {
    for (int32_t l = 0; l < left->numEnvelopes; ++l) {
        const int32_t n = bandCount(s, left->freqRes[l]);
        for (int32_t k = 0; k < n; ++k) {
            // The doubling is undone at 1.5 dB only.
            const int32_t balance = right->envelope[l][k] >> (1 - left->ampResInUse);
            uint32_t a;
            uint32_t b;
            pan(envelopeEnergy(left->envelope[l][k], left->ampResInUse), 12 - balance, &a, &b);
            left->envelope[l][k] = static_cast<int32_t>(a);
            right->envelope[l][k] = static_cast<int32_t>(b);
        }
    }
    for (int32_t q = 0; q < left->numNoiseFloors; ++q)
        for (int32_t k = 0; k < noiseCount(s); ++k) {
            const int32_t level = left->noise[q][k];
            const int32_t balance = right->noise[q][k]; // as stored, doubled
            uint32_t a = 0;
            uint32_t b = 0;
            if (level <= 30 && balance <= 24) pan(noiseFloor(level), 12 - balance, &a, &b);
            left->noise[q][k] = static_cast<int32_t>(a);
            right->noise[q][k] = static_cast<int32_t>(b);
        }
}

int32_t SbrParseSingleChannel(SbrChannelState* s, SbrFrameData* f, BitReader* r) {
    if (readFlag(r)) skipBits(r, 4);
    if (s->resetPending) {
        s->resetPending = 0;
        s->noiseIndex = 0;
        s->sinePhase = 1;
    }
    const int32_t grid = SbrParseGrid(f, r);
    readDtdf(r, f);
    readInvf(s, r, f);
    SbrParseEnvelope(s, f, r, 0);
    const bool decode = !s->parseOnly && grid == 0;
    if (decode) SbrDecodeEnvelopeDeltas(s, f);
    SbrParseNoise(s, f, r, 0);
    if (decode) {
        SbrDecodeNoiseDeltas(s, f);
        SbrDequantise(s, f);
    }
    readAddHarmonic(s, r, f);
    skipExtendedData(r);
    f->sbrDataPresent = static_cast<uint8_t>(grid == 0 && tablesUsable(s));
    return grid;
}

int32_t SbrParseChannelPair(SbrChannelState* const states[2], SbrFrameData f[2], BitReader* r) {
    SbrChannelState* s0 = states[0];
    if (readFlag(r)) skipBits(r, 8);
    const uint8_t coupling = readFlag(r);
    f[0].bs_coupling = f[1].bs_coupling = coupling;
    SbrChannelState* s1 = s0->parseOnly ? s0 : states[1];

    s1->bs_amp_res = s0->bs_amp_res;
    s1->bs_limiter_gains = s0->bs_limiter_gains;
    s1->bs_interpol_freq = s0->bs_interpol_freq;
    s1->bs_smoothing_mode = s0->bs_smoothing_mode;
    if (s0->resetPending && !s0->parseOnly) {
        s0->resetPending = 0;
        s0->noiseIndex = s1->noiseIndex = 0;
        s0->sinePhase = s1->sinePhase = 1;
        s1->masterTable[0] = s0->masterTable[0];
        s1->numLow = s0->numLow;
        s1->numHigh = s0->numHigh;
        s1->numNoise = s0->numNoise;
        s1->numPatches = s0->numPatches;
        s1->highTable = s0->highTable;
        std::memcpy(s1->lowTable, s0->lowTable, sizeof(s1->lowTable));
        std::memcpy(s1->noiseTable, s0->noiseTable, sizeof(s1->noiseTable));
        std::memcpy(s1->patchStart, s0->patchStart, sizeof(s1->patchStart));
        std::memcpy(s1->patchCount, s0->patchCount, sizeof(s1->patchCount));
        std::memcpy(s1->noiseBandOfBand, s0->noiseBandOfBand, sizeof(s1->noiseBandOfBand));
    }
    if (s0->limiterPending && !s0->parseOnly) {
        std::memcpy(s1->limiterTable, s0->limiterTable, sizeof(s1->limiterTable));
        s1->numLimiter = s0->numLimiter;
        s0->limiterPending = 0;
    }

    int32_t grid[2];
    parseDataOfPair(s0, s1, f, r, grid);
    readAddHarmonic(s0, r, &f[0]);
    readAddHarmonic(s1, r, &f[1]);
    skipExtendedData(r);
    const bool usable = tablesUsable(s0) && grid[0] == 0 && grid[1] == 0;
    f[0].sbrDataPresent = f[1].sbrDataPresent = static_cast<uint8_t>(usable);
    return grid[0] != 0 ? grid[0] : grid[1];
}

int32_t SbrParsePayload(SbrChannelState** slot, SbrFrameData* frame, BitReader* r, int32_t crcFlag) {
    if (slot == nullptr || slot[0] == nullptr || frame == nullptr || r == nullptr) return -1;
    SbrChannelState* s = slot[0];
    if (frame->elementType != 0 && !s->parseOnly && slot[1] == nullptr) return -1;
    s->crcPresent = static_cast<uint8_t>(crcFlag);
    if (crcFlag) skipBits(r, 10);
    const uint8_t headerFlag = readFlag(r);
    if (!headerFlag && s->noHeaderYet) return kSbrNoHeaderYet;
    s->noHeaderYet = 0;
    if (headerFlag) {
        SbrParseHeader(s, r);
        if (s->resetPending) SbrUpdateTables(s);
        if (s->limiterPending) SbrBuildLimiterTable(s);
    }
    if (frame->elementType == 0) {
        SbrParseSingleChannel(s, frame, r);
    } else {
        SbrChannelState* const pair[2] = {slot[0], s->parseOnly ? slot[0] : slot[1]};
        SbrParseChannelPair(pair, frame, r);
    }
    return 0;
}
