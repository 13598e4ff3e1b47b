// Spectral reconstruction.
#include "reconstruct.h"

#include "fixedpoint.h"
#include "recon_tables.h"
#include "tables.h"

namespace {

inline int32_t wrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
// Plain shifts; counts of 32 or more shift every bit out instead of being undefined.
inline int32_t shiftLeft(int32_t v, int32_t n) {
    return n >= 32 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(v) << n);
}
inline int32_t shiftRight(int32_t v, int32_t n) { return n >= 32 ? (v < 0 ? -1 : 0) : v >> n; }

// 2^(s/4) as a shift (left when positive) and a Q31 fractional gain.
struct QuarterStep {
    int32_t gain;
    int32_t left;
    int32_t right;
};
inline QuarterStep quarterStep(int32_t s) {
    QuarterStep q;
    q.gain = kQuarterGain[4 - (s & 3)];
    q.left = s > 0 ? (s + 3) >> 2 : 0;
    q.right = s > 0 ? 0 : (-s) >> 2;
    return q;
}

// Magnitudes above the escape range (a pulse on an escape value) are held at
// 8191, the largest the interpolation tables cover.
constexpr int32_t kMaxQuant = 8191;

inline uint32_t magnitude(int32_t q) { return q < 0 ? 0u - static_cast<uint32_t>(q) : static_cast<uint32_t>(q); }

// Largest magnitude each spectral book codes (books 1-10).
constexpr int32_t kMaxLargestValue = 12;
constexpr uint8_t kLargestValue[kEscHcb] = {0, 1, 1, 2, 2, 4, 4, 7, 7, 12, 12};

// Coefficient magnitude of quantised magnitude a with the band's gain and
// shift st (2^(s/4), s = scale factor - 164) and big, the shift of
// 2^((s + 56) / 4) for the interpolated magnitudes of 256 and above.
inline int32_t coefficient(uint32_t a, const QuarterStep& st, const QuarterStep& big) {
    int32_t m;
    if (a < 256) {
        m = shiftRight(shiftLeft(kPow43[a], st.left), st.right);
    } else {
        if (a > static_cast<uint32_t>(kMaxQuant)) a = kMaxQuant;
        const int32_t h = kLog2Step[a >> 8];
        const int32_t b = static_cast<int32_t>(a >> h);
        const int32_t f = static_cast<int32_t>(a & ((1u << h) - 1));
        const int32_t u = kPow43[b] + (((kPow43[b + 1] - kPow43[b]) * f) >> h);
        const int32_t w = static_cast<int32_t>(
            (static_cast<uint64_t>(static_cast<uint32_t>(u)) * static_cast<uint32_t>(kPow43[1 << h])) >> 33);
        m = shiftRight(shiftLeft(w, big.left), big.right);
    }
    return FxMulQ31Exact(st.gain, m);
}

inline bool msActive(const ElementState* e, int32_t idx) {
    return e->msMaskPresent == 2 || (e->msMaskPresent == 1 && e->msUsed[idx] != 0);
}

struct WindowLayout {
    int32_t groups;
    const uint8_t* length;
    int32_t lineStep; // lines per window: 128 for short windows
};

constexpr uint8_t kOneWindow[1] = {1};

inline WindowLayout layoutOf(const IcsState* ics) {
    if (ics->windowSequence == kEightShort) {
        const int32_t groups = ics->numWindowGroups > 8 ? 8 : ics->numWindowGroups;
        return {groups, ics->windowGroupLength, 128};
    }
    return {1, kOneWindow, 0};
}

// Calls visit(idx, k, base) for bands 0 .. bands - 1 of every window of every
// group, in window order: idx indexes the group's side information, base is
// the window's first line in the de-interleaved spectrum.
template <class Visit>
inline void forEachWindowBand(const WindowLayout& layout, int32_t bandCount, int32_t bands, Visit visit) {
    int32_t window = 0;
    for (int32_t g = 0; g < layout.groups; ++g) {
        const int32_t len = layout.length[g];
        if (window + len > 8) break;
        for (int32_t w = 0; w < len; ++w) {
            const int32_t base = layout.lineStep * (window + w);
            for (int32_t k = 0; k < bands; ++k) visit(g * bandCount + k, k, base);
        }
        window += len;
    }
}

inline uint64_t sumOfSquares(const int32_t* v, int32_t width) {
    uint64_t sum = 0;
    for (int32_t i = 0; i < width; ++i) sum += static_cast<uint64_t>(static_cast<int64_t>(v[i]) * v[i]);
    return sum;
}

// Normalises a noise band (whose sum of squares is `sum`) to energy 2^60
// and scales it by 2^(e/4 - 27): band energy 2^(e/2) on the 8 x ISO
// spectrum scale. One pass: each line is normalised, then scaled.
void scaleNoiseBand(int32_t* v, int32_t width, int32_t energyIndex, uint64_t sum) {
    const int32_t octave = energyIndex >> 2;
    if (octave < 0 || octave >= 22) {
        for (int32_t i = 0; i < width; ++i) v[i] = 0;
        return;
    }
    const int32_t energy = static_cast<int32_t>(static_cast<uint32_t>(sum >> 32) << 1);
    const int32_t root = FxSqrtQ31(energy);
    const int32_t n = FxNorm(root);
    const int32_t r = shiftLeft(root, n);
    const int32_t g = r <= 0x3FFFFFFF ? 0x7FFFFFFF : reciprocalQ30(r);
    const int32_t gain2 = FxMulQ31(shiftLeft(1 << octave, 10), kQuarterGainQ30[energyIndex & 3]);
    for (int32_t i = 0; i < width; ++i) {
        const int32_t unit = shiftLeft(static_cast<int32_t>((static_cast<int64_t>(g) * v[i]) >> 32), n + 1);
        v[i] = static_cast<int32_t>((static_cast<int64_t>(gain2) * unit) >> 36);
    }
}


} // namespace

int32_t reciprocalQ30(int32_t x) {
    // 15-bit estimate of 2^29 / x from the top 16 bits, then one Newton step.
    const int64_t r = FxDiv15(0x3FFF, static_cast<uint32_t>(x >> 16));
    const int64_t e = 0x7FFFFFFF - ((r * x) >> 15);
    const int64_t d = (r * e) >> 15;
    if (d >= 0x40000000) return 0x7FFFFFFF;
    return static_cast<int32_t>(d << 1);
}

void applyPulses(const IcsState* ics, int32_t* spectrum, const uint16_t* longOffsets) {
    if (!ics->pulse.present) return;
    int32_t p = longOffsets[ics->pulse.startSfb];
    for (int32_t i = 0; i <= ics->pulse.numberPulse && i < 4; ++i) {
        p += ics->pulse.offset[i];
        if (p >= kFrameLength) return; // the syntax parser refuses such pulses
        const int32_t amp = ics->pulse.amp[i];
        spectrum[p] = spectrum[p] > 0 ? spectrum[p] + amp : spectrum[p] - amp;
    }
}

namespace {

// The bands of a channel that inverse quantisation touches, with the gain
// and shift of their scale factor; bands shifted out entirely are zeroed.
template <class Band>
inline void forEachQuantisedBand(const IcsState* ics, int32_t bandCount, const uint16_t* offsets,
                                 int32_t* spectrum, Band band) {
    const WindowLayout layout = layoutOf(ics);
    int32_t groupStart = 0;
    for (int32_t g = 0; g < layout.groups; ++g) {
        const int32_t len = layout.length[g];
        for (int32_t k = 0; k < bandCount; ++k) {
            const int32_t idx = g * bandCount + k;
            const uint8_t cb = ics->codebook[idx];
            if (cb == kZeroHcb || cb >= kNoiseHcb) continue;
            int32_t* v = spectrum + groupStart + len * offsets[k];
            const int32_t width = len * (offsets[k + 1] - offsets[k]);
            const int32_t s = ics->scaleFactor[idx] - 164;
            const QuarterStep st = quarterStep(s);
            if (st.left >= 32 || st.right >= 32) {
                for (int32_t i = 0; i < width; ++i) v[i] = 0;
                continue;
            }
            band(v, width, cb, s, st);
        }
        groupStart += 128 * len;
    }
}

inline void generalBand(int32_t* v, int32_t width, int32_t s, const QuarterStep& st) {
    const QuarterStep big = quarterStep(s + 56);
    for (int32_t i = 0; i < width; ++i) {
        const int32_t q = v[i];
        const int32_t c = coefficient(magnitude(q), st, big);
        v[i] = q < 0 ? wrapSub(0, c) : c;
    }
}

} // namespace

FX_VECTOR_CLONES void inverseQuantiseVector(const IcsState* ics, int32_t bandCount, const uint16_t* offsets,
                                            int32_t* spectrum) {
    forEachQuantisedBand(ics, bandCount, offsets, spectrum,
                         [](int32_t* v, int32_t width, uint8_t, int32_t s, const QuarterStep& st) {
        // Most bands hold only small values: a pass for the largest, then a
        // straight table loop the compiler can vectorise, the same arithmetic
        // as the general one.
        uint32_t largest = 0; // unsigned: a magnitude of -2^31 goes the long way
        for (int32_t i = 0; i < width; ++i) largest |= magnitude(v[i]);
        if (largest >= 256) return generalBand(v, width, s, st);
        const uint32_t left = static_cast<uint32_t>(st.left);
        const int32_t right = st.right;
        for (int32_t i = 0; i < width; ++i) {
            const int32_t q = v[i];
            const int32_t a = q < 0 ? -q : q;
            const int32_t m = static_cast<int32_t>(static_cast<uint32_t>(kPow43[a]) << left) >> right;
            const int32_t c = FxMulQ31Exact(st.gain, m);
            v[i] = q < 0 ? wrapSub(0, c) : c;
        }
    });
}

void inverseQuantiseScalar(const IcsState* ics, int32_t bandCount, const uint16_t* offsets, int32_t* spectrum) {
    forEachQuantisedBand(ics, bandCount, offsets, spectrum,
                         [](int32_t* v, int32_t width, uint8_t cb, int32_t s, const QuarterStep& st) {
        if (cb == kEscHcb) return generalBand(v, width, s, st);
        // Books 1-10 code magnitudes up to their largest value: those few
        // coefficients once per band from a table, anything above (a pulse)
        // the general way.
        const uint32_t lav = kLargestValue[cb];
        int32_t table[kMaxLargestValue + 1];
        for (uint32_t a = 0; a <= lav; ++a)
            table[a] = FxMulQ31Exact(st.gain, shiftRight(shiftLeft(kPow43[a], st.left), st.right));
        for (int32_t i = 0; i < width; ++i) {
            const int32_t q = v[i];
            const uint32_t a = magnitude(q);
            const int32_t c = a <= lav ? table[a] : coefficient(a, st, quarterStep(s + 56));
            v[i] = q < 0 ? wrapSub(0, c) : c;
        }
    });
}

void inverseQuantise(const IcsState* ics, int32_t bandCount, const uint16_t* offsets, int32_t* spectrum) {
    if constexpr (kFxVectorUnits)
        inverseQuantiseVector(ics, bandCount, offsets, spectrum);
    else
        inverseQuantiseScalar(ics, bandCount, offsets, spectrum);
}

void reorderShortWindows(const IcsState* ics, int32_t bandCount, const uint16_t* offsets,
                         int32_t* spectrum, int32_t* scratch) {
    const WindowLayout layout = layoutOf(ics);
    const int32_t* src = spectrum;
    int32_t window = 0;
    for (int32_t g = 0; g < layout.groups; ++g) {
        const int32_t len = layout.length[g];
        if (window + len > 8) break;
        for (int32_t k = 0; k < bandCount; ++k) {
            const int32_t width = offsets[k + 1] - offsets[k];
            for (int32_t w = 0; w < len; ++w) {
                int32_t* dst = scratch + 128 * (window + w) + offsets[k];
                for (int32_t i = 0; i < width; ++i) dst[i] = src[i];
                src += width;
            }
        }
        window += len;
        src = spectrum + 128 * window;
    }
    // Only the lines no band covers are cleared.
    for (int32_t w = 0; w < 8; ++w) {
        int32_t* dst = scratch + 128 * w;
        const int32_t from = w < window ? offsets[0] : 0;
        const int32_t to = w < window ? offsets[bandCount] : 0;
        for (int32_t i = 0; i < from; ++i) dst[i] = 0;
        for (int32_t i = to > from ? to : from; i < 128; ++i) dst[i] = 0;
    }
    for (int32_t i = 0; i < kFrameLength; ++i) spectrum[i] = scratch[i];
}

void noiseSubstitution(AacDecoder* d, ElementState* e, int32_t ch, int32_t bandCount,
                       const uint16_t* offsets, int32_t* spectrum, int32_t outChannel) {
    IcsState* ics = &e->ics[ch];
    const WindowLayout layout = layoutOf(ics);
    // In a pair, channel 1 bands flagged M/S reuse channel 0's noise when that
    // band is noise too (the spectra of a pair are adjacent).
    const bool pair = e->kind == 2 && ch == 1;
    const int32_t* partner = pair ? spectrum - kSpectrumWords : nullptr;
    uint32_t x = static_cast<uint32_t>(d->noiseSeed[outChannel]);
    forEachWindowBand(layout, bandCount, bandCount, [&](int32_t idx, int32_t k, int32_t base) {
        if (ics->codebook[idx] != kNoiseHcb) return;
        if (ics->ltp.dataPresent && k < kMaxLtpLongBands) ics->ltp.longUsed[k] = 0;
        int32_t* v = spectrum + base + offsets[k];
        const int32_t width = offsets[k + 1] - offsets[k];
        if (pair && msActive(e, idx) && e->ics[0].codebook[idx] == kNoiseHcb) {
            // Bring the copy to a common level first so that a quiet
            // partner band keeps its shape through the normalisation.
            const int32_t* src = partner + base + offsets[k];
            int32_t peak = 0;
            for (int32_t i = 0; i < width; ++i) peak |= src[i] < 0 ? ~src[i] : src[i];
            const int32_t up = FxNorm(peak) - 4;
            for (int32_t i = 0; i < width; ++i)
                v[i] = up >= 0 ? shiftLeft(src[i], up) : src[i] >> -up;
            scaleNoiseBand(v, width, ics->scaleFactor[idx], sumOfSquares(v, width));
        } else {
            int32_t pi = width / 4 - 1;
            pi = pi < 0 ? 0 : pi > 31 ? 31 : pi;
            const int32_t prescale = kNoisePrescale[pi];
            uint64_t sum = 0;
            for (int32_t i = 0; i < width; ++i) {
                x = 1664525u * x + 1013904223u;
                const int32_t n = FxMulQ31(static_cast<int32_t>(x), prescale);
                v[i] = n;
                sum += static_cast<uint64_t>(static_cast<int64_t>(n) * n);
            }
            scaleNoiseBand(v, width, ics->scaleFactor[idx], sum);
        }
    });
    d->noiseSeed[outChannel] = static_cast<int32_t>(x);
}

void stereoProcess(int32_t bandLimit, ElementState* e, int32_t srIndex, int32_t* spectra) {
    const bool isShort = e->ics[1].windowSequence == kEightShort;
    const int32_t bandCount = isShort ? numShortBands(srIndex) : numLongBands(srIndex);
    const uint16_t* off = isShort ? shortOffsets(srIndex) : longOffsets(srIndex);
    stereoProcessBands(bandLimit, e, bandCount, off, spectra);
}

void stereoProcessBands(int32_t bandLimit, ElementState* e, int32_t bandCount, const uint16_t* off,
                        int32_t* spectra) {
    const IcsState* ics = &e->ics[1];
    if (bandLimit > bandCount) bandLimit = bandCount;
    const WindowLayout layout = layoutOf(ics);
    int32_t* left = spectra;
    int32_t* right = spectra + kSpectrumWords;

    for (int32_t pass = 0; pass < 2; ++pass) { // M/S over all bands, then intensity
        forEachWindowBand(layout, bandCount, bandLimit, [&](int32_t idx, int32_t k, int32_t base) {
            const uint8_t cb = ics->codebook[idx];
            const bool ms = msActive(e, idx);
            int32_t* l = left + base + off[k];
            int32_t* r = right + base + off[k];
            const int32_t width = off[k + 1] - off[k];
            if (pass == 0) {
                if (!ms || cb >= kNoiseHcb) return;
                for (int32_t i = 0; i < width; ++i) {
                    const int32_t a = l[i], b = r[i];
                    l[i] = wrapAdd(a, b);
                    r[i] = wrapSub(a, b);
                }
                return;
            }
            if (cb != kIntensityHcb && cb != kIntensityHcb2) return;
            const bool negative = (cb == kIntensityHcb2) != ms;
            const int32_t p = ics->scaleFactor[idx];
            int32_t gain = kQuarterGain[4 - ((-p) & 3)];
            if (negative) gain = -gain;
            const int32_t rightShift = p >= 0 ? p >> 2 : 0;
            const int32_t leftShift = p >= 0 ? 0 : (-p + 3) >> 2;
            if (rightShift >= 32 || leftShift >= 32) {
                for (int32_t i = 0; i < width; ++i) r[i] = 0;
                return;
            }
            for (int32_t i = 0; i < width; ++i)
                r[i] = FxMulQ31Exact(gain, shiftLeft(l[i] >> rightShift, leftShift));
        });
    }
}

void applyDrc(const DrcInfo* drc, int32_t* spectrum) {
    const int32_t level = drc->progRefLevel > kDrcNoReferenceLevel ? kDrcNoReferenceLevel : drc->progRefLevel;
    const int32_t base = kDrcGain[level >> 2] << 6;
    int32_t line = 0;
    const int32_t bands = drc->numBands > 16 ? 16 : drc->numBands;
    for (int32_t b = 0; b < bands; ++b) {
        const int32_t ctl = drc->dynRngCtl[b] & 0x7F;
        const int32_t k = (drc->dynRngSgn[b] ? 168 - ctl : 168 + ctl) >> 2;
        // Gains of 1.0 and above do not fit the Q31 factor: hold them at unity.
        const int64_t wide = static_cast<int64_t>(FxMulQ31(kDrcGain[k], base)) << 6;
        const int32_t factor = wide > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(wide);
        int32_t end = (drc->bandTop[b] + 1) * 4;
        if (end > kFrameLength) end = kFrameLength;
        for (; line < end; ++line) spectrum[line] = FxMulQ31(spectrum[line], factor);
    }
}
