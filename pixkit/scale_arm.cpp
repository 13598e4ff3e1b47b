// The general plane scaler for 32-bit ARM cores without SIMD. Each destination
// row first blends its two source rows over the columns it reads, then each
// destination sample blends two of those horizontally, both as plain integer
// sums of products; the result equals the four-tap sum exactly, as the
// weights are products of the phases.
#include "scale.h"

#if defined(__arm__)

#include <cstddef>

namespace pixkit {
namespace {

// Destination columns per pass; their taps span at most 3 x as many source
// columns, as taps one column apart serve ratios below 3.
constexpr int kChunk = 256;
constexpr int kMaxPairs = 3 * kChunk + 2;

// A destination column's left tap, as an index into the row's pairs, and its
// weights packed for one multiplication: fx at 2^10, 8 - fx at 2^26.
struct ColumnTap {
    int32_t pair;
    uint32_t weight;
};

// pairs[k] holds V(k) in the low half and V(k + 1) in the high one, where
// V(x) = (8 - fy) top[x] + fy bottom[x] (at most 2040); `edge` marks a last
// pair whose right tap is the window's last column itself. Eight samples per
// pass keep the loop's own count and pointer steps out of most samples.
// Kept out of line: inlined, the pair buffer costs a register the loops need.
[[gnu::noinline]] void blendRows(const uint8_t* __restrict top, const uint8_t* __restrict bottom, unsigned fy,
                                 int count, bool edge, uint32_t* __restrict pairs) {
    const unsigned wt = 8 - fy;
    unsigned v = wt * top[0] + fy * bottom[0];
    ++top, ++bottom;
    const int full = edge ? count - 1 : count;  // pairs whose right tap is read
    for (int passes = full >> 3; passes != 0; --passes) {
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) {
            const unsigned next = wt * top[k] + fy * bottom[k];
            pairs[k] = v | next << 16;
            v = next;
        }
        top += 8, bottom += 8, pairs += 8;
    }
    for (int k = full & ~7; k < full; ++k) {
        const unsigned next = wt * *top++ + fy * *bottom++;
        *pairs++ = v | next << 16;
        v = next;
    }
    if (edge) *pairs = v | v << 16;
}

// (V(l) + V(l + 1) 2^16) (fx 2^10 + (8 - fx) 2^26), as a 64-bit product, has
// (8 - fx) V(l) + fx V(l + 1) (at most 16320) at 2^26 with nothing below 2^24
// beside it (V(l) fx 2^10), and V(l + 1) (8 - fx) at 2^42: its high word's low
// byte is the sample, four-tap sum over 64, which a byte store keeps without
// any shift.
inline uint8_t blendColumn(const uint32_t* pairs, const ColumnTap& tap) {
    return uint8_t((uint64_t(pairs[tap.pair]) * tap.weight) >> 32);
}

[[gnu::noinline]] void blendColumns(const uint32_t* __restrict pairs, const ColumnTap* __restrict taps,
                                    uint8_t* __restrict out, int n) {
    for (int passes = n >> 3; passes != 0; --passes) {
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) out[k] = blendColumn(pairs, taps[k]);
        taps += 8, out += 8;
    }
    for (int c = n & ~7; c < n; ++c) *out++ = blendColumn(pairs, *taps++);
}

}  // namespace

void armScalePlane(const PlaneScale& p) {
    // Reductions of 3:1 and more skip columns; they are rare on this path.
    if (p.sx != 0) return referenceScalePlane(p);
    ColumnTap taps[kChunk];
    uint32_t pairs[kMaxPairs];
    for (int j0 = 0; j0 < p.dstWidth; j0 += kChunk) {
        const int n = std::min(kChunk, p.dstWidth - j0);
        const int first = p.winX + (p.columnPosition(j0) >> 3);
        int lastLeft = first;
        for (int c = 0; c < n; ++c) {
            const int pX = p.columnPosition(j0 + c);
            const unsigned fx = unsigned(pX & 7);
            lastLeft = p.winX + (pX >> 3);
            taps[c] = {lastLeft - first, fx << 10 | (8 - fx) << 26};
        }
        const int count = lastLeft - first + 1;
        const bool edge = lastLeft == p.lastX;
        for (int i = 0; i < p.dstHeight; ++i) {
            const int pY = p.rowPosition(i);
            const int y0 = p.winY + ((pY >> 3) << p.sy);
            // Only a one-row window has its second tap outside; its weight is 0 there.
            const int y1 = std::min(y0 + (1 << p.sy), p.lastY);
            blendRows(p.src + ptrdiff_t(y0) * p.srcWidth + first, p.src + ptrdiff_t(y1) * p.srcWidth + first,
                      unsigned(pY & 7), count, edge, pairs);
            blendColumns(pairs, taps, p.dst + ptrdiff_t(i) * p.dstWidth + j0, n);
        }
    }
}

}  // namespace pixkit

#endif  // __arm__
