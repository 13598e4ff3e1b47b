// SBR frequency band tables: master, high/low resolution, noise, patch and
// limiter tables, derived from the header whenever it changes.
//
// A hostile header must not leave a table that sends a later stage out of its
// arrays, so every builder checks its result and a table update is built into
// a copy of the state and committed as a whole or not at all.
#include <cstdint>
#include <cstring>

#include "fixedpoint.h"
#include "sbr/sbr_internal.h"
#include "sbr/sbr_tables.h"

namespace {

constexpr int32_t kFail = -3;
constexpr uint32_t kLog2Of2449 = 626341084u;      // log2(2.2449) in Q29: one region up to here
constexpr uint32_t kWarpReciprocal = 25191u;      // 1 / 1.3 in Q15, as the band rule states
constexpr uint32_t kLimiterThreshold = 263066746u; // 0.49 * 64 in Q23
constexpr int32_t kMaxSourceBand = 32;            // the analysis bank yields bands 0..31

// floor(a / b) for b > 0 by restoring division: only table building divides,
// and the target has no divide instruction.
uint32_t divideU32(uint32_t a, uint32_t b) {
    uint32_t q = 0;
    uint64_t r = 0;
    for (int32_t i = 31; i >= 0; --i) {
        r = (r << 1) | ((a >> i) & 1u);
        if (r >= b) {
            r -= b;
            q |= 1u << i;
        }
    }
    return q;
}

void sortAscending(uint8_t* v, int32_t n) {
    for (int32_t i = 1; i < n; ++i) {
        const uint8_t x = v[i];
        int32_t j = i - 1;
        while (j >= 0 && v[j] > x) {
            v[j + 1] = v[j];
            --j;
        }
        v[j + 1] = x;
    }
}

uint32_t log2Q29(uint32_t n) { return SbrLog2(n); }

// Twice the nearest integer of half of a positive Q25 value.
int32_t evenNearest(uint32_t q25) {
    return static_cast<int32_t>(((static_cast<uint64_t>(q25) + (1u << 25)) >> 25) & ~1ull);
}

// Widths of `bands` logarithmic bands from `lo` to `hi`, sorted ascending.
// Edges are nint(lo * 2^(i * log2(hi / lo) / bands)); false when a width
// would not fit a byte or be negative.
bool logWidths(int32_t lo, int32_t hi, int32_t bands, uint8_t* widths) {
    const uint32_t span = log2Q29(static_cast<uint32_t>(hi)) - log2Q29(static_cast<uint32_t>(lo));
    const uint32_t step = divideU32(span, static_cast<uint32_t>(bands));
    const uint32_t base = log2Q29(static_cast<uint32_t>(lo));
    uint32_t exponent = 0;
    int32_t previous = lo;
    for (int32_t i = 0; i < bands; ++i) {
        exponent += step;
        const uint32_t total = base + exponent;
        const int32_t edge = static_cast<int32_t>(
            SbrPow2(static_cast<int32_t>(total >> 29), (total >> 13) & 0xFFFFu));
        if (edge < previous || edge - previous > 255) return false;
        widths[i] = static_cast<uint8_t>(edge - previous);
        previous = edge;
    }
    sortAscending(widths, bands);
    return true;
}

// 1 <= n <= 64 bands, first edge >= 1, strictly ascending up to at most 64.
bool masterValid(const uint8_t* m, int32_t n) {
    if (n < 1 || n > kSbrMaxMaster || m[0] < 1 || m[n] > 64) return false;
    for (int32_t i = 0; i < n; ++i)
        if (m[i + 1] <= m[i]) return false;
    return true;
}

// Index of highTable in the state's own master table, -1 when it points
// elsewhere (a pair's second channel reads the first channel's table).
int32_t xoverOf(const SbrChannelState* c) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(c->highTable);
    const uintptr_t base = reinterpret_cast<uintptr_t>(c->masterTable);
    if (at < base || at > base + kSbrMaxMaster) return -1;
    return static_cast<int32_t>(at - base);
}

// Everything a later stage relies on, checked on a complete candidate.
bool bandSetValid(const SbrChannelState* c) {
    if (c->sbrRateIndex > 8 || !masterValid(c->masterTable, c->numMaster)) return false;
    const int32_t xover = xoverOf(c);
    if (xover < 0 || xover >= c->numMaster || c->numHigh != c->numMaster - xover) return false;
    const int32_t k0 = c->masterTable[0];
    const int32_t kx = c->highTable[0];
    const int32_t k2 = c->highTable[c->numHigh];
    if (k2 != c->k2 || k0 > kMaxSourceBand || kx > kMaxSourceBand) return false;
    const int32_t m = k2 - kx;
    if (c->numHigh < 1 || c->numHigh > kSbrMaxBands || m > kSbrMaxBands) return false;
    if (c->numLow < 1 || c->numLow > kSbrMaxLow || c->lowTable[0] != kx ||
        c->lowTable[c->numLow] != k2)
        return false;
    for (int32_t i = 0; i < c->numLow; ++i)
        if (c->lowTable[i + 1] <= c->lowTable[i]) return false;
    if (c->numNoise < 1 || c->numNoise > kSbrMaxNoiseBands || c->noiseTable[0] != 0 ||
        c->noiseTable[c->numNoise] != m)
        return false;
    for (int32_t i = 0; i < c->numNoise; ++i)
        if (c->noiseTable[i + 1] < c->noiseTable[i]) return false;
    for (int32_t b = 0; b < m; ++b) {
        const int32_t j = c->noiseBandOfBand[b];
        if (j >= c->numNoise || b < c->noiseTable[j] || b >= c->noiseTable[j + 1]) return false;
    }
    if (c->numPatches < 1 || c->numPatches > kSbrMaxPatches) return false;
    int32_t target = kx;
    for (int32_t p = 0; p < c->numPatches; ++p) {
        const int32_t start = c->patchStart[p];
        const int32_t count = c->patchCount[p];
        if (count < 1 || start < 1 || start + count > k0) return false;
        target += count;
    }
    return target <= k2;
}

bool limiterValid(const uint8_t* lim, int32_t n, int32_t m) {
    if (n < 1 || n > kSbrMaxLimiter || lim[n] > m) return false;
    for (int32_t i = 0; i < n; ++i)
        if (lim[i + 1] <= lim[i]) return false;
    return true;
}

// The limiter table of a state whose band and patch tables are valid.
int32_t buildLimiter(const SbrChannelState* s, uint8_t* out, uint8_t* count) {
    const int32_t kx = s->highTable[0];
    const int32_t m = s->k2 - kx;
    if (s->bs_limiter_bands == 0) {
        out[0] = 0;
        out[1] = static_cast<uint8_t>(s->lowTable[s->numLow] - kx);
        *count = 1;
        return limiterValid(out, 1, m) ? 0 : kFail;
    }
    if (s->bs_limiter_bands > 3 || s->numLow > kSbrMaxLow || s->numPatches > kSbrMaxPatches)
        return kFail;
    const uint32_t perOctave = 64u * s->bs_limiter_bands;

    uint8_t borders[kSbrMaxPatches + 1];
    int32_t numBorders = s->numPatches + 1;
    borders[0] = static_cast<uint8_t>(kx);
    for (int32_t p = 0; p < s->numPatches; ++p)
        borders[p + 1] = static_cast<uint8_t>(borders[p] + s->patchCount[p]);

    uint8_t lim[kSbrMaxLow + 1 + kSbrMaxPatches];
    int32_t n = 0;
    {
        int32_t i = 0, j = 1;
        while (i <= s->numLow || j < numBorders) {
            if (j >= numBorders || (i <= s->numLow && s->lowTable[i] <= borders[j]))
                lim[n++] = s->lowTable[i++];
            else
                lim[n++] = borders[j++];
        }
    }
    const uint8_t top = lim[n - 1];
    auto isBorder = [&](uint8_t v) {
        for (int32_t p = 0; p < numBorders; ++p)
            if (borders[p] == v) return true;
        return false;
    };
    auto remove = [&](int32_t at) {
        for (int32_t i = at; i + 1 < n; ++i) lim[i] = lim[i + 1];
        --n;
    };
    int32_t k = 1;
    while (k < n) {
        const uint32_t octaves = (log2Q29(lim[k]) - log2Q29(lim[k - 1])) >> 6;
        if (static_cast<uint64_t>(perOctave) * octaves >= kLimiterThreshold) {
            ++k;
        } else if (lim[k] == lim[k - 1]) {
            remove(k);
        } else if (isBorder(lim[k]) || lim[k] == top) {
            // The top edge stays like a patch border, so the limiter bands
            // always reach k2 (it is no patch border once patches were cut).
            if (isBorder(lim[k - 1]))
                ++k;
            else
                remove(k - 1);
        } else {
            remove(k);
        }
    }
    if (n - 1 < 1 || n - 1 > kSbrMaxLimiter) return kFail;
    for (int32_t i = 0; i < n; ++i) {
        if (lim[i] < kx) return kFail;
        out[i] = static_cast<uint8_t>(lim[i] - kx);
    }
    *count = static_cast<uint8_t>(n - 1);
    return limiterValid(out, n - 1, m) ? 0 : kFail;
}

} // namespace

// Unsigned Q29: log2(64) needs all 32 bits.
uint32_t SbrLog2(uint32_t n) {
    if (n == 0) return 0;
    const int32_t zeros = __builtin_ctz(n);
    uint32_t odd = n >> zeros;
    int32_t exponent = zeros;
    if (odd >= 64) {
        // Not met by the band rules: keep the top six bits, an approximation.
        const int32_t drop = 26 - __builtin_clz(odd);
        odd = (odd >> drop) | 1u;
        exponent += drop;
    }
    return (static_cast<uint32_t>(exponent) << 29) + kSbrLog2Odd[odd >> 1];
}

uint32_t SbrPow2(int32_t intPart, uint32_t frac16) {
    // Shifts past 33 or below -1 give the same 0 or saturated result.
    int64_t shift = 31 - static_cast<int64_t>(intPart) - (frac16 >> 16);
    shift = shift < -1 ? -1 : shift > 33 ? 33 : shift;
    const uint32_t segment = (frac16 >> 10) & 63u;
    const uint32_t within = frac16 & 1023u;
    const uint32_t lo = kSbrPow2Table[segment];
    const uint32_t hi = kSbrPow2Table[segment + 1];
    // Unsigned Q31: the table value in Q15 widened by 16 bits, the
    // interpolation exact in the 16 new bits.
    const uint32_t q31 = (lo << 16) + (((hi - lo) * within) << 6);
    return FxShiftRightRoundU(q31, static_cast<int32_t>(shift));
}

int32_t SbrBuildMasterTable(SbrChannelState* s) {
    const int32_t rate = s->sbrRateIndex;
    if (rate > 8 || s->bs_start_freq > 15 || s->bs_stop_freq > 15 || s->bs_freq_scale > 3)
        return kFail;
    const int32_t k0 = kSbrStartMin[rate] + kSbrStartOffset[kSbrStartOffsetRow[rate]][s->bs_start_freq];
    int32_t k2;
    if (s->bs_stop_freq == 14)
        k2 = 2 * k0 < 64 ? 2 * k0 : 64;
    else if (s->bs_stop_freq == 15)
        k2 = 3 * k0 < 64 ? 3 * k0 : 64;
    else
        k2 = kSbrStopTable[rate][s->bs_stop_freq];

    // Rate indices 0..3 are 48 kHz and up, 4 is 44.1 kHz, 5..8 are 32 kHz and below.
    const int32_t maxSpan = rate <= 3 ? 32 : rate == 4 ? 35 : 48;
    if (k2 - k0 > maxSpan) return kFail;
    if (k2 <= k0) {
        s->numMaster = 0;
        return kFail;
    }

    uint8_t widths[kSbrMaxMaster];
    int32_t numBands;
    if (s->bs_freq_scale == 0) {
        const int32_t dk = s->bs_alter_scale != 0 ? 2 : 1;
        numBands = dk == 2 ? 2 * ((k2 - k0 + 2) >> 2) : (k2 - k0) & ~1;
        if (numBands < 1 || numBands > kSbrMaxMaster) return kFail;
        for (int32_t i = 0; i < numBands; ++i) widths[i] = static_cast<uint8_t>(dk);
        int32_t diff = k2 - (k0 + numBands * dk);
        if (diff < -numBands || diff > numBands) return kFail;
        for (int32_t i = 0; diff < 0; ++i, ++diff) --widths[i];
        for (int32_t i = numBands - 1; diff > 0; --i, --diff) ++widths[i];
    } else {
        const uint32_t bands = kSbrBandsPerOctave[s->bs_freq_scale - 1];
        const uint32_t r = log2Q29(static_cast<uint32_t>(k2)) - log2Q29(static_cast<uint32_t>(k0));
        const bool twoRegions = r > kLog2Of2449;
        const int32_t k1 = twoRegions ? 2 * k0 : k2;

        const uint32_t span0 = log2Q29(static_cast<uint32_t>(k1)) - log2Q29(static_cast<uint32_t>(k0));
        const int32_t numBands0 = evenNearest(bands * (span0 >> 4));
        if (numBands0 < 1 || numBands0 > kSbrMaxMaster) return kFail;
        if (!logWidths(k0, k1, numBands0, widths)) return kFail;
        numBands = numBands0;

        if (twoRegions) {
            const uint32_t span1 =
                log2Q29(static_cast<uint32_t>(k2)) - log2Q29(static_cast<uint32_t>(k1));
            uint32_t q25 = bands * (span1 >> 4);
            if (s->bs_alter_scale != 0)
                q25 = static_cast<uint32_t>((static_cast<uint64_t>(q25) * kWarpReciprocal) >> 15);
            const int32_t numBands1 = evenNearest(q25);
            if (numBands1 < 1 || numBands0 + numBands1 > kSbrMaxMaster) return kFail;
            uint8_t* w1 = widths + numBands0;
            if (!logWidths(k1, k2, numBands1, w1)) return kFail;
            const int32_t largest0 = widths[numBands0 - 1];
            if (w1[0] < largest0) {
                const int32_t half = (w1[numBands1 - 1] - w1[0]) >> 1;
                const int32_t change = largest0 - w1[0] < half ? largest0 - w1[0] : half;
                w1[0] = static_cast<uint8_t>(w1[0] + change);
                w1[numBands1 - 1] = static_cast<uint8_t>(w1[numBands1 - 1] - change);
                sortAscending(w1, numBands1);
            }
            numBands += numBands1;
        }
    }

    uint8_t table[kSbrMaxMaster + 1];
    table[0] = static_cast<uint8_t>(k0);
    int32_t edge = k0;
    for (int32_t i = 0; i < numBands; ++i) {
        edge += widths[i];
        if (edge > 64) return kFail;
        table[i + 1] = static_cast<uint8_t>(edge);
    }
    // Zero-width bands (a low k0 with many bands per octave) or a table that
    // misses k2 would leave bands no later stage can handle.
    if (edge != k2 || !masterValid(table, numBands)) return kFail;
    std::memcpy(s->masterTable, table, static_cast<size_t>(numBands + 1));
    s->numMaster = static_cast<uint8_t>(numBands);
    s->k2 = static_cast<uint8_t>(k2);
    return 0;
}

int32_t SbrBuildBandTables(SbrChannelState* s) {
    const int32_t numMaster = s->numMaster;
    const int32_t xover = s->bs_xover_band;
    if (xover >= numMaster || !masterValid(s->masterTable, numMaster)) return kFail;
    const uint8_t* high = s->masterTable + xover;
    const int32_t numHigh = numMaster - xover;
    const int32_t kx = high[0];
    const int32_t k2 = high[numHigh];
    const int32_t m = k2 - kx;
    if (kx > kMaxSourceBand || numHigh > kSbrMaxBands || m > kSbrMaxBands) return kFail;
    const int32_t numLow = numHigh - (numHigh >> 1);

    uint8_t low[kSbrMaxLow + 1];
    low[0] = high[0];
    for (int32_t i = 1; i <= numLow; ++i) low[i] = high[2 * i - (numHigh & 1)];

    int32_t numNoise = 1;
    if (s->bs_noise_bands != 0) {
        const uint32_t octaves = log2Q29(static_cast<uint32_t>(k2)) - log2Q29(static_cast<uint32_t>(kx));
        // 64 bits: three bands per octave over more than 2.67 octaves exceeds 2^32.
        const uint64_t q29 = static_cast<uint64_t>(s->bs_noise_bands) * octaves + (1u << 28);
        const uint64_t rounded = q29 >> 29;
        numNoise = rounded < 1 ? 1 : rounded > kSbrMaxNoiseBands ? kSbrMaxNoiseBands
                                                                 : static_cast<int32_t>(rounded);
    }
    uint8_t noise[kSbrMaxNoiseBands + 1];
    noise[0] = 0;
    int32_t x = 0;
    for (int32_t i = 1; i <= numNoise; ++i) {
        x += (kSbrNoiseReciprocal[numNoise - i] * (numLow - x)) >> 7;
        noise[i] = static_cast<uint8_t>(low[x] - low[0]);
    }
    uint8_t bandMap[kSbrMaxBands];
    for (int32_t b = 0, j = 0; b < m; ++b) {
        while (j < numNoise - 1 && b >= noise[j + 1]) ++j;
        bandMap[b] = static_cast<uint8_t>(j);
    }

    s->numHigh = static_cast<uint8_t>(numHigh);
    s->numLow = static_cast<uint8_t>(numLow);
    s->highTable = high;
    s->k2 = static_cast<uint8_t>(k2);
    std::memcpy(s->lowTable, low, static_cast<size_t>(numLow + 1));
    s->numNoise = static_cast<uint8_t>(numNoise);
    std::memcpy(s->noiseTable, noise, static_cast<size_t>(numNoise + 1));
    std::memcpy(s->noiseBandOfBand, bandMap, static_cast<size_t>(m));
    return 0;
}

int32_t SbrBuildPatches(SbrChannelState* s) {
    const int32_t numMaster = s->numMaster;
    if (s->sbrRateIndex > 8 || !masterValid(s->masterTable, numMaster)) return kFail;
    const uint8_t* master = s->masterTable;
    const int32_t k0 = master[0];
    const int32_t kx = s->highTable[0];
    const int32_t k2 = master[numMaster];
    const int32_t goal = kSbrGoalSb[s->sbrRateIndex];

    int32_t k = numMaster;
    if (goal < k2) {
        k = 0;
        while (master[k] < goal) ++k;
    }
    // Each patch with bands moves usb up, so there are at most 64; a third
    // empty patch in a row means the rule can make no progress (a master band
    // wider than the low band).
    uint8_t start[64];
    uint8_t count[64];
    int32_t patches = 0;
    int32_t msb = k0;
    int32_t usb = kx;
    int32_t empty = 0;
    int32_t sb;
    do {
        int32_t j = k + 1;
        int32_t odd;
        do {
            --j;
            sb = master[j];
            odd = (sb + k0) & 1;
        } while (j > 0 && sb > k0 - 1 + msb - odd);
        const int32_t bands = sb - usb > 0 ? sb - usb : 0;
        if (patches >= 64) return kFail;
        start[patches] = static_cast<uint8_t>(k0 - odd - bands);
        count[patches] = static_cast<uint8_t>(bands);
        if (bands > 0) {
            ++patches;
            usb = msb = sb;
            empty = 0;
        } else {
            msb = kx;
            if (++empty >= 3) return kFail;
        }
        if (sb == master[k]) k = numMaster;
    } while (sb != k2);

    if (patches > 1 && count[patches - 1] < 3) --patches;
    if (patches > kSbrMaxPatches) patches = kSbrMaxPatches;
    if (patches < 1) return kFail;
    for (int32_t p = 0; p < patches; ++p)
        if (start[p] < 1 || start[p] + count[p] > k0) return kFail;
    std::memcpy(s->patchStart, start, static_cast<size_t>(patches));
    std::memcpy(s->patchCount, count, static_cast<size_t>(patches));
    s->numPatches = static_cast<uint8_t>(patches);
    return 0;
}

int32_t SbrUpdateTables(SbrChannelState* s) {
    SbrChannelState c = *s;
    c.highTable = c.masterTable;
    // The master table is rebuilt whatever masterPending says: after a refused
    // update the parser's next header clears the flag although the master in
    // force is not the one of the header's start and stop values. Where the
    // flag is right, the rebuild gives the table already in force.
    const bool freshMaster = SbrBuildMasterTable(&c) == 0;
    // A refused master leaves the previous one in force, if there is one.
    if (!freshMaster && s->numHigh == 0) return kFail;
    if (!freshMaster) {
        std::memcpy(c.masterTable, s->masterTable, sizeof(c.masterTable));
        c.numMaster = s->numMaster;
        c.k2 = s->k2;
    }
    if (SbrBuildBandTables(&c) != 0 || SbrBuildPatches(&c) != 0 || !bandSetValid(&c)) return kFail;
    // The limiter table must fit the new bands even if no rebuild follows.
    uint8_t limiter[kSbrMaxLimiter + 1];
    uint8_t numLimiter = 0;
    if (buildLimiter(&c, limiter, &numLimiter) != 0) return kFail;

    std::memcpy(s->masterTable, c.masterTable, sizeof(s->masterTable));
    s->numMaster = c.numMaster;
    s->k2 = c.k2;
    s->numHigh = c.numHigh;
    s->highTable = s->masterTable + (c.highTable - c.masterTable);
    std::memcpy(s->lowTable, c.lowTable, sizeof(s->lowTable));
    s->numLow = c.numLow;
    std::memcpy(s->noiseTable, c.noiseTable, sizeof(s->noiseTable));
    s->numNoise = c.numNoise;
    std::memcpy(s->noiseBandOfBand, c.noiseBandOfBand, sizeof(s->noiseBandOfBand));
    std::memcpy(s->patchStart, c.patchStart, sizeof(s->patchStart));
    std::memcpy(s->patchCount, c.patchCount, sizeof(s->patchCount));
    s->numPatches = c.numPatches;
    std::memcpy(s->limiterTable, limiter, static_cast<size_t>(numLimiter + 1));
    s->numLimiter = numLimiter;
    s->masterPending = 0;
    return 0;
}

int32_t SbrBuildLimiterTable(SbrChannelState* s) {
    if (s->numHigh == 0 || !bandSetValid(s)) return kFail;
    uint8_t limiter[kSbrMaxLimiter + 1];
    uint8_t numLimiter = 0;
    if (buildLimiter(s, limiter, &numLimiter) != 0) return kFail;
    std::memcpy(s->limiterTable, limiter, static_cast<size_t>(numLimiter + 1));
    s->numLimiter = numLimiter;
    return 0;
}
