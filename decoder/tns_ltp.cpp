// Temporal noise shaping and long-term prediction.
#include "tns_ltp.h"

#include "filterbank.h"
#include "fixedpoint.h"
#include "recon_tables.h"
#include "tables.h"

namespace {

// Highest band TNS may reach per sampling index: long, short.
constexpr uint8_t kTnsMaxBands[12][2] = {{31, 9},  {31, 9},  {34, 10}, {40, 14}, {42, 14}, {51, 14},
                                         {46, 14}, {46, 14}, {42, 14}, {42, 14}, {42, 14}, {39, 14}};
constexpr int32_t kTnsMaxOrderLong = 12;
constexpr int32_t kTnsMaxOrderShort = 7;
constexpr int32_t kQ24One = 0xFFFFFF;

inline int32_t wrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

inline int32_t minOf(int32_t a, int32_t b) { return a < b ? a : b; }

} // namespace

int32_t tnsReflection(int32_t raw, int32_t coefRes, int32_t coefCompress) {
    const int32_t res = coefRes + 3;
    const int32_t bits = res - coefCompress;
    int32_t v = raw & ((1 << bits) - 1);
    if (v & (1 << (bits - 1))) v -= 1 << bits;
    return res == 3 ? kTnsCoef3[v & 7] : kTnsCoef4[v & 15];
}

void tnsDirectForm(const int32_t* k, int32_t order, int32_t* a) {
    a[0] = kQ24One;
    for (int32_t i = 1; i <= order; ++i) a[i] = 0;
    int32_t prev[kTnsMaxOrderLong + 1];
    for (int32_t m = 1; m <= order; ++m) {
        for (int32_t i = 0; i <= m; ++i) prev[i] = a[i];
        for (int32_t i = 1; i <= m; ++i)
            a[i] = wrapAdd(prev[i], static_cast<int32_t>((static_cast<int64_t>(k[m - 1]) * prev[m - i]) >> 24));
    }
}

void tnsFilterRange(int32_t* x, int32_t start, int32_t end, int32_t direction, const int32_t* a,
                    int32_t order, bool synthesis) {
    if (order > kTnsMaxOrderLong) order = kTnsMaxOrderLong;
    // hist[0] is the most recent filter state value.
    int32_t hist[kTnsMaxOrderLong] = {};
    const int32_t step = direction ? -1 : 1;
    int32_t n = direction ? end - 1 : start;
    for (int32_t c = start; c < end; ++c, n += step) {
        // A 64-bit accumulator that wraps as the multiply-accumulate hardware
        // does: hostile coefficients and states can exceed its range.
        uint64_t acc = 0;
        for (int32_t i = 0; i < order; ++i)
            acc += static_cast<uint64_t>(static_cast<int64_t>(a[i + 1]) * hist[i]);
        const int32_t in = x[n];
        const int32_t t = static_cast<int32_t>(static_cast<int64_t>(acc) >> 24);
        const int32_t y = synthesis ? wrapSub(in, t) : wrapAdd(in, t);
        for (int32_t i = order - 1; i > 0; --i) hist[i] = hist[i - 1];
        hist[0] = synthesis ? y : in;
        x[n] = y;
    }
}

namespace {

// Runs every transmitted filter over its range: the all-pole synthesis
// filter, or the all-zero analysis filter used on the LTP prediction.
void runTns(int32_t srIndex, const IcsState* ics, int32_t* spectrum, bool synthesis) {
    const bool isShort = ics->windowSequence == kEightShort;
    const int32_t windows = isShort ? 8 : 1;
    const int32_t bandCount = isShort ? numShortBands(srIndex) : numLongBands(srIndex);
    const uint16_t* off = isShort ? shortOffsets(srIndex) : longOffsets(srIndex);
    const int32_t maxOrder = isShort ? kTnsMaxOrderShort : kTnsMaxOrderLong;
    const int32_t limit = minOf(kTnsMaxBands[srIndex][isShort ? 1 : 0], minOf(ics->maxSfb, bandCount));
    const TnsData& tns = ics->tns;

    for (int32_t w = 0; w < windows; ++w) {
        int32_t* x = spectrum + 128 * w;
        int32_t top = bandCount;
        const int32_t filters = minOf(tns.nFilt[w], kMaxTnsFilters);
        for (int32_t f = 0; f < filters; ++f) {
            const TnsFilter& flt = tns.filter[w][f];
            const int32_t bottom = top - flt.length > 0 ? top - flt.length : 0;
            const int32_t order = minOf(flt.order, maxOrder);
            const int32_t start = off[minOf(bottom, limit)];
            const int32_t end = off[minOf(top, limit)];
            top = bottom;
            const int32_t size = end - start;
            if (order == 0 || size <= 0) continue;

            int32_t k[kTnsMaxOrderLong];
            for (int32_t i = 0; i < order; ++i)
                k[i] = tnsReflection(flt.coef[i], tns.coefRes[w], flt.coefCompress);
            int32_t a[kTnsMaxOrderLong + 1];
            tnsDirectForm(k, order, a);

            tnsFilterRange(x, start, end, flt.direction, a, order, synthesis);
        }
    }
}

} // namespace

void applyTns(int32_t srIndex, const IcsState* ics, int32_t* spectrum) {
    runTns(srIndex, ics, spectrum, true);
}

void ltpEstimate(const int16_t* history, const int32_t* overlap, int32_t lag, int32_t coef,
                 int32_t* est) {
    // est[i] = g * H[2048 - lag + i], H = history, overlap, zeros; both parts
    // land on the PCM x 2^7 scale.
    const int64_t g = kLtpCoef[coef & 7];
    lag &= 0x7FF;
    const int32_t fromOverlap = minOf(lag + kFrameLength, 2 * kFrameLength);
    for (int32_t i = 0; i < lag; ++i)
        est[i] = static_cast<int32_t>((g * history[2 * kFrameLength - lag + i]) >> 23);
    for (int32_t i = lag; i < fromOverlap; ++i)
        est[i] = static_cast<int32_t>((g * overlap[i - lag]) >> 28);
    for (int32_t i = fromOverlap; i < 2 * kFrameLength; ++i) est[i] = 0;
}

void applyLtp(AacDecoder* d, IcsState* ics, int32_t* spectrum, int32_t channel) {
    if (!ics->ltp.dataPresent || ics->windowSequence == kEightShort) return;
    int32_t* est = d->workBuffer + kMaxChannels * kSpectrumWords; // 2048
    int32_t* pred = est + 2 * kFrameLength;                       // 1024
    int32_t* fftScratch = pred + kFrameLength;                    // 1024
    const int16_t* history = d->ltpHistory + channel * 2 * kFrameLength;
    const int32_t* overlap = d->overlap + channel * kFrameLength;

    ltpEstimate(history, overlap, ics->ltp.lag, ics->ltp.coef, est);

    const int32_t prev = d->prevWindowShape[channel];
    const int32_t shape = ics->windowShape;
    const uint16_t* longPrev = prev == 1 ? kKbdLong : kSineLong;
    const uint16_t* longCur = shape == 1 ? kKbdLong : kSineLong;
    const uint16_t* shortPrev = prev == 1 ? kKbdShort : kSineShort;
    const uint16_t* shortCur = shape == 1 ? kKbdShort : kSineShort;
    auto win = [](int32_t v, uint16_t w) { return FxMulQ31(v, static_cast<int32_t>(w) << 16); };
    if (ics->windowSequence == kLongStop) {
        for (int32_t n = 0; n < 448; ++n) est[n] = 0;
        for (int32_t n = 0; n < 128; ++n) est[448 + n] = win(est[448 + n], shortPrev[n]);
    } else {
        for (int32_t n = 0; n < 1024; ++n) est[n] = win(est[n], longPrev[n]);
    }
    if (ics->windowSequence == kLongStart) {
        for (int32_t n = 0; n < 128; ++n) est[1472 + n] = win(est[1472 + n], shortCur[127 - n]);
        for (int32_t n = 1600; n < 2048; ++n) est[n] = 0;
    } else {
        for (int32_t n = 0; n < 1024; ++n) est[1024 + n] = win(est[1024 + n], longCur[1023 - n]);
    }

    forwardMdct(est, pred, fftScratch);
    if (ics->tnsDataPresent) runTns(d->srIndex, ics, pred, false);

    const int32_t bands = numLongBands(d->srIndex);
    const uint16_t* off = longOffsets(d->srIndex);
    for (int32_t b = 0; b < bands; ++b) {
        if (b < kMaxLtpLongBands && ics->ltp.longUsed[b]) continue;
        for (int32_t i = off[b]; i < off[b + 1]; ++i) pred[i] = 0;
    }
    for (int32_t i = off[bands]; i < kFrameLength; ++i) pred[i] = 0;
    for (int32_t i = 0; i < kFrameLength; ++i) spectrum[i] = wrapAdd(spectrum[i], pred[i] >> 3);
}

void updateLtpHistory(int16_t* history, const int16_t* pcm, int32_t stride, int32_t frameLength) {
    for (int32_t i = 0; i < frameLength; ++i) {
        history[i] = history[frameLength + i];
        history[frameLength + i] = pcm[i * stride];
    }
}
