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
// weights packed for one multiplication: fx in the low half, 8 - fx in the high.
struct ColumnTap {
    int32_t pair;
    uint32_t weight;
};

// pairs[k] holds V(k) in the low half and V(k + 1) in the high one, where
// V(x) = (8 - fy) top[x] + fy bottom[x] (at most 2040); `edge` marks a last
// pair whose right tap is the window's last column itself. The loop is
// written out for the ARM core: four samples of each row per pass, their
// four pairs stored with one store-multiple.
void blendRows(const uint8_t* top, const uint8_t* bottom, unsigned fy, int count, bool edge, uint32_t* pairs) {
    const unsigned wt = 8 - fy;
    register unsigned prev asm("r4") = wt * top[0] + fy * bottom[0];
    ++top, ++bottom;
    const int full = edge ? count - 1 : count;  // pairs whose right tap is read
    const uint8_t* end = top + (full & ~3);
    if (top != end) {
        asm volatile(
            "1:\n\t"
            "ldrb r5, [%[top]], #1\n\t"
            "ldrb r9, [%[bottom]], #1\n\t"
            "mul r5, %[wt], r5\n\t"
            "mla r5, %[fy], r9, r5\n\t"
            "ldrb r6, [%[top]], #1\n\t"
            "ldrb r9, [%[bottom]], #1\n\t"
            "mul r6, %[wt], r6\n\t"
            "mla r6, %[fy], r9, r6\n\t"
            "ldrb r7, [%[top]], #1\n\t"
            "ldrb r9, [%[bottom]], #1\n\t"
            "mul r7, %[wt], r7\n\t"
            "mla r7, %[fy], r9, r7\n\t"
            "ldrb r8, [%[top]], #1\n\t"
            "ldrb r9, [%[bottom]], #1\n\t"
            "mul r8, %[wt], r8\n\t"
            "mla r8, %[fy], r9, r8\n\t"
            "orr r4, r4, r5, lsl #16\n\t"
            "orr r5, r5, r6, lsl #16\n\t"
            "orr r6, r6, r7, lsl #16\n\t"
            "orr r7, r7, r8, lsl #16\n\t"
            "stmia %[pairs]!, {r4, r5, r6, r7}\n\t"
            "mov r4, r8\n\t"
            "cmp %[top], %[end]\n\t"
            "bne 1b"
            : [top] "+r"(top), [bottom] "+r"(bottom), [pairs] "+r"(pairs), "+r"(prev)
            : [end] "r"(end), [wt] "r"(wt), [fy] "r"(fy)
            : "r5", "r6", "r7", "r8", "r9", "cc", "memory");
    }
    unsigned v = prev;
    for (int k = full & ~3; k < full; ++k) {
        const unsigned next = wt * *top++ + fy * *bottom++;
        *pairs++ = v | next << 16;
        v = next;
    }
    if (edge) *pairs = v | v << 16;
}

// (V(l) + V(l + 1) 2^16) (fx + (8 - fx) 2^16) has (8 - fx) V(l) + fx V(l + 1),
// at most 16320, in its high half: V(l) fx stays below 2^16 and does not carry
// into it, and the V(l + 1) (8 - fx) 2^32 term falls off the word. Four
// samples per pass, each column's tap and weights fetched by load-multiple.
void blendColumns(const uint32_t* pairs, const ColumnTap* taps, uint8_t* out, int n) {
    const uint8_t* end = out + (n & ~3);
    if (out != end) {
        asm volatile(
            "1:\n\t"
            "ldmia %[taps]!, {r4, r5, r6, r7}\n\t"
            "ldr r4, [%[pairs], r4, lsl #2]\n\t"
            "ldr r6, [%[pairs], r6, lsl #2]\n\t"
            "mul r4, r5, r4\n\t"
            "mul r6, r7, r6\n\t"
            "mov r4, r4, lsr #22\n\t"
            "mov r6, r6, lsr #22\n\t"
            "strb r4, [%[out]], #1\n\t"
            "strb r6, [%[out]], #1\n\t"
            "ldmia %[taps]!, {r4, r5, r6, r7}\n\t"
            "ldr r4, [%[pairs], r4, lsl #2]\n\t"
            "ldr r6, [%[pairs], r6, lsl #2]\n\t"
            "mul r4, r5, r4\n\t"
            "mul r6, r7, r6\n\t"
            "mov r4, r4, lsr #22\n\t"
            "mov r6, r6, lsr #22\n\t"
            "strb r4, [%[out]], #1\n\t"
            "strb r6, [%[out]], #1\n\t"
            "cmp %[out], %[end]\n\t"
            "bne 1b"
            : [taps] "+r"(taps), [out] "+r"(out)
            : [pairs] "r"(pairs), [end] "r"(end)
            : "r4", "r5", "r6", "r7", "cc", "memory");
    }
    for (int c = n & ~3; c < n; ++c, ++taps) *out++ = uint8_t((pairs[taps->pair] * taps->weight) >> 22);
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
            taps[c] = {lastLeft - first, fx | (8 - fx) << 16};
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
