// Scaling of 8-bit planes and RGB565 pictures.
#include "pixkit.h"
#include "pixel.h"
#include "scale.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace pixkit {
namespace {

const auto& kScale = kScaleTables;

#if !defined(__arm__)

// Destination columns handled per pass of the plane scaler (bounds the
// per-column tables and the filtered rows on the stack).
constexpr int kColumnChunk = 1024;

// The four-tap sum factors into a horizontal and a vertical two-tap blend,
// the weights being products: ((8 - fy) x H(y0) + fy x H(y1)) >> 6 with
// H(y) = (8 - fx) x S(x0, y) + fx x S(x1, y). H is at most 2040 and the sum at
// most 16320, so every stage fits 16-bit lanes.
struct ColumnTaps {
    int left[kColumnChunk];
    int right[kColumnChunk];
    uint16_t wLeft[kColumnChunk];   // 8 - fx
    uint16_t wRight[kColumnChunk];  // fx
    uint16_t xPair[kColumnChunk];   // bytes 8 - fx, fx: the weights of an adjacent tap pair
};

// Horizontal blend of one source row at arbitrary taps.
PIXKIT_KERNEL void filterRow(const uint8_t* __restrict row, const ColumnTaps& t, uint16_t* __restrict out, int n) {
    for (int c = 0; c < n; ++c) out[c] = uint16_t(t.wLeft[c] * row[t.left[c]] + t.wRight[c] * row[t.right[c]]);
}

// Vector loops run in blocks of a constant count, each one straight vector
// sequence; the last block overlaps its predecessor instead of leaving a
// scalar tail (the outputs never feed the inputs).
constexpr int kVectorBlock = 64;

// Start of the block after the one at c over columns .. n - 1, -1 after the
// last; blocks after the first start on multiples of the block size, so that
// their stores stay aligned with the rows.
inline int nextBlock(int c, int n) {
    if (c + kVectorBlock >= n) return -1;
    return std::min((c + kVectorBlock) & ~(kVectorBlock - 1), n - kVectorBlock);
}

// a x (8 - f) + b x f, computed as 8 a + f x (b - a): one multiplication,
// and every term fits a signed 16-bit lane for a, b up to 2040.
PIXKIT_KERNEL int16_t lerp8(int16_t a, int16_t b, int16_t f) { return int16_t((a << 3) + f * int16_t(b - a)); }

PIXKIT_KERNEL void blendFilteredRun(const uint16_t* __restrict top, const uint16_t* __restrict bottom,
                                    uint8_t* __restrict out, int16_t fy, int m) {
    for (int c = 0; c < m; ++c) out[c] = uint8_t(lerp8(int16_t(top[c]), int16_t(bottom[c]), fy) >> 6);
}

PIXKIT_KERNEL void blendFiltered(const uint16_t* top, const uint16_t* bottom, uint8_t* out, int fy, int n) {
    if (n < kVectorBlock) return blendFilteredRun(top, bottom, out, int16_t(fy), n);
    for (int c = 0; c >= 0; c = nextBlock(c, n))
        blendFilteredRun(top + c, bottom + c, out + c, int16_t(fy), kVectorBlock);
}

// Columns c >= 1 have their taps at base + kStride x c and kGap further: the
// 2:1 and 4:1 reductions. The fixed pattern lets the vectoriser load the taps
// as strided runs instead of one at a time.
template <int kStride, int kGap>
PIXKIT_KERNEL void blendRegularRun(const uint8_t* __restrict top, const uint8_t* __restrict bottom,
                                   const uint16_t* __restrict fx, uint8_t* __restrict out, int16_t fy, int m) {
    for (int c = 0; c < m; ++c) {
        const int16_t l = lerp8(top[kStride * c], bottom[kStride * c], fy);
        const int16_t r = lerp8(top[kStride * c + kGap], bottom[kStride * c + kGap], fy);
        out[c] = uint8_t(lerp8(l, r, int16_t(fx[c])) >> 6);
    }
}

// The 2:1 taps are adjacent byte pairs: read as 16-bit words, each column's
// two taps are the word's halves, already in 16-bit lanes.
template <>
PIXKIT_KERNEL void blendRegularRun<2, 1>(const uint8_t* __restrict top, const uint8_t* __restrict bottom,
                                         const uint16_t* __restrict fx, uint8_t* __restrict out, int16_t fy,
                                         int m) {
    constexpr bool kLittle = std::endian::native == std::endian::little;
    const int16_t wt = int16_t(8 - fy);
    for (int c = 0; c < m; ++c) {
        uint16_t tp, bp;
        std::memcpy(&tp, top + 2 * c, 2);
        std::memcpy(&bp, bottom + 2 * c, 2);
        const int16_t t0 = int16_t(kLittle ? tp & 0xFF : tp >> 8);
        const int16_t t1 = int16_t(kLittle ? tp >> 8 : tp & 0xFF);
        const int16_t b0 = int16_t(kLittle ? bp & 0xFF : bp >> 8);
        const int16_t b1 = int16_t(kLittle ? bp >> 8 : bp & 0xFF);
        const int16_t l = int16_t(wt * t0 + fy * b0);
        const int16_t r = int16_t(wt * t1 + fy * b1);
        out[c] = uint8_t(lerp8(l, r, int16_t(fx[c])) >> 6);
    }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(PIXKIT_NO_CLONES)
#define PIXKIT_BYTE_PAIR_KERNEL 1
// The 2:1 taps of one run as byte pairs: column c's taps are bytes x + 2c and
// x + 2c + 1 of each row, and its four weights the byte pairs wTop = (8 - fy)
// (8 - fx, fx) and wBottom = fy (8 - fx, fx), so the whole sum is two byte
// multiply-adds (each pair sum at most 255 x 8 (8 - fy) or 255 x 8 fy, their
// total at most 16320: nothing saturates). With shiftedHead, x is one byte
// before the data (a first column whose left tap has weight 0, see
// scaleBytePairs): the first block is loaded from x + 1 and moved up a byte.
struct BytePairRun {
    ptrdiff_t x;  // of the first column's left tap, from the start of the rows
    const uint16_t* wTop;
    const uint16_t* wBottom;
    int c0;
    int m;  // columns: at least one block of the kernel, one more column with shiftedHead
    bool shiftedHead;
};

// A destination row: its two source rows, where the run's output goes, and
// the offset of later taps, for the prefetch. The streaming kernels take one
// row, or two of the same fy, which share each weight load.
struct BytePairRow {
    const uint8_t* top;
    const uint8_t* bottom;
    uint8_t* out;
    ptrdiff_t ahead;
};

// Inlined where a function of their target flattens its calls.
#define PIXKIT_AVX512 __attribute__((target("avx512bw"))) inline
#define PIXKIT_AVX2 __attribute__((target("avx2"))) inline

PIXKIT_AVX512 void blendBlockAvx512(__m512i t, __m512i b, __m512i wTop, __m512i wBottom, uint8_t* out) {
    const __m512i sum = _mm512_add_epi16(_mm512_maddubs_epi16(t, wTop), _mm512_maddubs_epi16(b, wBottom));
    const __m256i bytes = _mm512_maskz_cvtepi16_epi8(~__mmask32(0), _mm512_srli_epi16(sum, 6));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
}

PIXKIT_AVX512 void blendAtAvx512(const BytePairRun& run, const BytePairRow& row, int c, __m512i wt, __m512i wb) {
    const uint8_t* top = row.top + (run.x + 2 * c);
    const uint8_t* bottom = row.bottom + (run.x + 2 * c);
    _mm_prefetch(reinterpret_cast<const char*>(top + row.ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(bottom + row.ahead), _MM_HINT_T0);
    blendBlockAvx512(_mm512_loadu_si512(top), _mm512_loadu_si512(bottom), wt, wb, row.out + c);
}

// The rows of one plane's call, for the kernels that walk rows themselves.
struct PlaneRows {
    const uint8_t* src;
    uint8_t* dst;
    int srcWidth, dstWidth, dstHeight, j0, winY, lastY, sy;
    uint64_t stepY;
    int firstRow(int i) const { return winY + int(((uint64_t(i) * stepY) >> 18) << sy); }
    int phase(int i) const { return int((uint64_t(i) * stepY) >> 15) & 7; }
    // Row i with its output at column c0; the prefetch reaches `lead` rows on.
    BytePairRow row(int i, int c0, int lead) const {
        const int y0 = firstRow(i), y1 = std::min(y0 + (1 << sy), lastY);
        const int next = i + lead;
        return BytePairRow{src + size_t(y0) * srcWidth, src + size_t(y1) * srcWidth,
                           dst + size_t(i) * dstWidth + j0 + c0,
                           next < dstHeight ? ptrdiff_t(firstRow(next) - y0) * srcWidth : 0};
    }
};

// Rows i .. end - 1 of one fy over a run of kBlocks blocks (the last one moved
// back to overlap its predecessor): the weights stay in registers for all of
// them, and each row is one straight sequence.
constexpr int kHeldBlocks = 10;
template <int kBlocks>
PIXKIT_AVX512 void blendHeldAvx512(const BytePairRun& run, const PlaneRows& rows, int i, int end) {
    __m512i wt[kBlocks], wb[kBlocks];
    int at[kBlocks];
#pragma GCC unroll 16
    for (int k = 0; k < kBlocks; ++k) {
        at[k] = std::min(32 * k, run.m - 32);
        wt[k] = _mm512_loadu_si512(run.wTop + at[k]);
        wb[k] = _mm512_loadu_si512(run.wBottom + at[k]);
    }
    for (; i < end; ++i) {
        const BytePairRow row = rows.row(i, run.c0, 2);
#pragma GCC unroll 16
        for (int k = 0; k < kBlocks; ++k) blendAtAvx512(run, row, at[k], wt[k], wb[k]);
    }
}

template <int... kBlocks>
PIXKIT_AVX512 void blendHeldAvx512(const BytePairRun& run, const PlaneRows& rows, int i, int end,
                                   std::integer_sequence<int, kBlocks...>) {
    const int blocks = (run.m + 31) / 32;
    ((blocks == kBlocks + 1 ? blendHeldAvx512<kBlocks + 1>(run, rows, i, end) : void()), ...);
}

PIXKIT_AVX2 __m256i load256(const void* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// Byte i of the result is byte i - 1 of the 32 at p; byte 0 is 0.
PIXKIT_AVX2 __m256i loadShiftedUpAvx2(const uint8_t* p) {
    const __m256i v = load256(p);
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15);
}

PIXKIT_AVX2 void blendBlockAvx2(__m256i t, __m256i b, __m256i wTop, __m256i wBottom, uint8_t* out) {
    const __m256i sum = _mm256_add_epi16(_mm256_maddubs_epi16(t, wTop), _mm256_maddubs_epi16(b, wBottom));
    const __m256i value = _mm256_srli_epi16(sum, 6);
    // The pack works per 128-bit lane; the permute brings the lanes' bytes together.
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(value, value), 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
}

// The same in blocks of 16.
PIXKIT_AVX2 void blendHeadAvx2(const BytePairRun& run, const BytePairRow& row, __m256i wt, __m256i wb) {
    blendBlockAvx2(loadShiftedUpAvx2(row.top + (run.x + 1)), loadShiftedUpAvx2(row.bottom + (run.x + 1)), wt, wb,
                   row.out);
}

PIXKIT_AVX2 void blendAtAvx2(const BytePairRun& run, const BytePairRow& row, int c, __m256i wt, __m256i wb) {
    const uint8_t* top = row.top + (run.x + 2 * c);
    const uint8_t* bottom = row.bottom + (run.x + 2 * c);
    if ((c & 31) == 0) {
        _mm_prefetch(reinterpret_cast<const char*>(top + row.ahead), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(bottom + row.ahead), _MM_HINT_T0);
    }
    blendBlockAvx2(load256(top), load256(bottom), wt, wb, row.out + c);
}

template <int kRows>
PIXKIT_AVX2 void blendBytePairsAvx2(const BytePairRun& run, BytePairRow row0, BytePairRow row1) {
    constexpr int kBlock = 16;
    int c = 0;
    if (run.shiftedHead) {
        const __m256i wt = load256(run.wTop), wb = load256(run.wBottom);
        blendHeadAvx2(run, row0, wt, wb);
        if (kRows == 2) blendHeadAvx2(run, row1, wt, wb);
        c = kBlock;
    }
    for (;; c += kBlock) {
        if (c + kBlock > run.m) c = run.m - kBlock;
        const __m256i wt = load256(run.wTop + c), wb = load256(run.wBottom + c);
        blendAtAvx2(run, row0, c, wt, wb);
        if (kRows == 2) blendAtAvx2(run, row1, c, wt, wb);
        if (c + kBlock >= run.m) return;
    }
}
#endif

// Runs of columns whose taps lie kStride apart, each tap pair kGap wide: the
// 2:1 and 4:1 reductions and ratios near them, whose taps step by exactly
// kStride except where the rounding of the position slips by one column.
constexpr int kMaxRuns = 32;
struct TapRuns {
    int stride;  // 0: the columns follow no such pattern
    int count;
    int begin[kMaxRuns + 1];  // run k covers columns begin[k] .. begin[k + 1] - 1
};

PIXKIT_KERNEL TapRuns regularRuns(const ColumnTaps& t, int n) {
    TapRuns runs{0, 0, {}};
    if (n < 2) return runs;
    const int gap = t.right[0] - t.left[0];
    const int stride = 2 * gap;
    if (gap != 1 && gap != 2) return runs;
    // Counted first, in loops the vectoriser takes whole; then the places of
    // the few breaks.
    int offGap = 0, breaks = 0;
    for (int c = 0; c < n; ++c) offGap += t.right[c] - t.left[c] != gap;
    for (int c = 1; c < n; ++c) breaks += t.left[c] != t.left[c - 1] + stride;
    if (offGap || breaks >= kMaxRuns) return runs;
    runs.begin[0] = 0;
    for (int c = 1; runs.count < breaks; ++c)
        if (t.left[c] != t.left[c - 1] + stride) runs.begin[++runs.count] = c;
    runs.begin[++runs.count] = n;
    runs.stride = stride;
    return runs;
}

// Columns c0 .. c0 + m - 1 of one run, in blocks of kVectorBlock, the last one
// moved back to overlap its predecessor.
template <int kStride, int kGap>
PIXKIT_KERNEL void blendRun(const uint8_t* top, const uint8_t* bottom, const ColumnTaps& t, uint8_t* out, int fy,
                            int c0, int m) {
    auto block = [&](int c, int k) {
        const int x = t.left[c];
        blendRegularRun<kStride, kGap>(top + x, bottom + x, t.wRight + c, out + c, int16_t(fy), k);
    };
    if (m < kVectorBlock) return block(c0, m);
    for (int c = 0;; c += kVectorBlock) {
        if (c + kVectorBlock >= m) return block(c0 + m - kVectorBlock, kVectorBlock);
        block(c0 + c, kVectorBlock);
    }
}

#if defined(PIXKIT_BYTE_PAIR_KERNEL)
// The 2:1 pattern through the byte-pair kernels, flattened into one copy for
// AVX-512 and one for AVX2.
template <bool kAvx512>
inline void scaleBytePairs(const uint8_t* src, uint8_t* dst, int srcWidth, int dstWidth, int dstHeight, int winY,
                           int lastY, int sy, uint64_t stepY, const ColumnTaps& t, int j0, const TapRuns& runs) {
    // Per column the byte pairs of the top and bottom row's weights at fy =
    // weightsFy; each run's on 64-byte lines, so that the streaming kernels'
    // weight loads never straddle two.
    constexpr int kLine = 32;  // weight pairs per 64 bytes
    alignas(64) uint16_t weights[2][kColumnChunk + kMaxRuns * kLine];
    int weightsFy = -1;
    // The runs, those wider than the held kernel's blocks cut in even pieces.
    constexpr int kMaxPieces = kMaxRuns + kColumnChunk / (32 * kHeldBlocks) + 1;
    BytePairRun list[kMaxPieces];
    int weightsAt[kMaxPieces];
    bool joined[kMaxPieces];
    int count = 0;
    for (int r = 0, at = 0; r < runs.count; ++r) {
        int c0 = runs.begin[r], m = runs.begin[r + 1] - c0, x = t.left[c0];
        // A first column with fx = 0 has taps (x, x + 1) and weights (8, 0):
        // the taps (x - 1, x) with weights (0, 8) give the same sum and
        // continue the stride of the run after it, so the column joins that
        // run (at 2:1 the rows then keep a single run). Its left tap may lie
        // before the plane (see below).
        // (A shifted first block takes one column more than a block of 16.)
        const bool join = r == 0 && m == 1 && runs.count > 1 && t.wRight[0] == 0 && t.left[1] == x + 1 &&
                          runs.begin[2] >= 16 + 1;
        if (join) {
            ++r;
            m = runs.begin[r + 1];
            --x;
        }
        const int pieces = kAvx512 ? (m + 32 * kHeldBlocks - 1) / (32 * kHeldBlocks) : 1;
        for (int k = 0, from = 0; k < pieces; ++k) {
            const int to = m * (k + 1) / pieces;
            weightsAt[count] = at + from;
            joined[count] = join && k == 0;
            list[count++] = {x + 2 * from, weights[0] + at + from, weights[1] + at + from, c0 + from, to - from,
                             false};
            from = to;
        }
        at += (m + kLine - 1) / kLine * kLine;
    }
    const auto setWeights = [&](int fy) {
        for (int r = 0; r < count; ++r) {
            const BytePairRun& run = list[r];
            uint16_t* w0 = weights[0] + weightsAt[r];
            uint16_t* w1 = weights[1] + weightsAt[r];
            for (int c = 0; c < run.m; ++c) {
                w0[c] = uint16_t(t.xPair[run.c0 + c] * (8 - fy));
                w1[c] = uint16_t(t.xPair[run.c0 + c] * fy);
            }
            if (joined[r]) w0[0] = uint16_t((8 - fy) << 11), w1[0] = uint16_t(fy << 11);  // (0, 8)
        }
        weightsFy = fy;
    };
    const PlaneRows plane{src, dst, srcWidth, dstWidth, dstHeight, j0, winY, lastY, sy, stepY};
    // Rows from .. end - 1 of one fy through the streaming kernels, two at a
    // time; the prefetch reaches the next call's rows.
    const auto stream = [&](const BytePairRun& run, int from, int end, int fy) {
        for (int i = from; i < end; i += 2) {
            const int rows = std::min(2, end - i);
            const BytePairRow row0 = plane.row(i, run.c0, rows);
            const BytePairRow row1 = rows == 2 ? plane.row(i + 1, run.c0, 2) : BytePairRow{};
            if (run.m >= 16 + run.shiftedHead) {
                rows == 2 ? blendBytePairsAvx2<2>(run, row0, row1) : blendBytePairsAvx2<1>(run, row0, row1);
                continue;
            }
            for (int k = 0; k < rows; ++k) {
                const BytePairRow row = plane.row(i + k, 0, rows);
                for (int c = run.c0; c < run.c0 + run.m; ++c) {
                    const int h0 = t.wLeft[c] * row.top[t.left[c]] + t.wRight[c] * row.top[t.right[c]];
                    const int h1 = t.wLeft[c] * row.bottom[t.left[c]] + t.wRight[c] * row.bottom[t.right[c]];
                    row.out[c] = uint8_t(((8 - fy) * h0 + fy * h1) >> 6);
                }
            }
        }
    };
    for (int i = 0; i < dstHeight;) {
        // The rows of one fy (it changes every few rows at most) share the weights.
        const int fy = plane.phase(i);
        int end = i + 1;
        while (end < dstHeight && plane.phase(end) == fy) ++end;
        if (fy != weightsFy) setWeights(fy);
        for (int r = 0; r < count; ++r) {
            // A joined first column's left tap lies before the plane only on
            // rows that start on its first row (more than one where the rows
            // are enlarged): those load the first block shifted.
            int from = i;
            while (joined[r] && from < end && ptrdiff_t(size_t(plane.firstRow(from)) * srcWidth) + list[r].x < 0)
                ++from;
            if (from > i) {
                BytePairRun shifted = list[r];
                shifted.shiftedHead = true;
                stream(shifted, i, from, fy);
            }
            if constexpr (kAvx512) {
                if (list[r].m >= 32) {
                    blendHeldAvx512(list[r], plane, from, end, std::make_integer_sequence<int, kHeldBlocks>());
                    continue;
                }
            }
            stream(list[r], from, end, fy);
        }
        i = end;
    }
}

#define PIXKIT_BYTE_PAIR_ARGS                                                                                   \
    const uint8_t *src, uint8_t *dst, int srcWidth, int dstWidth, int dstHeight, int winY, int lastY, int sy, \
        uint64_t stepY, const ColumnTaps &t, int j0, const TapRuns &runs
__attribute__((target("avx512bw"), flatten)) void scaleBytePairsAvx512(PIXKIT_BYTE_PAIR_ARGS) {
    scaleBytePairs<true>(src, dst, srcWidth, dstWidth, dstHeight, winY, lastY, sy, stepY, t, j0, runs);
}
__attribute__((target("avx2"), flatten)) void scaleBytePairsAvx2(PIXKIT_BYTE_PAIR_ARGS) {
    scaleBytePairs<false>(src, dst, srcWidth, dstWidth, dstHeight, winY, lastY, sy, stepY, t, j0, runs);
}
#endif

PIXKIT_VECTOR_CLONES void scaleColumns(const uint8_t* src, uint8_t* dst, int srcWidth, int dstWidth,
                                       int dstHeight, int winY, int lastY, int sy, uint64_t stepY,
                                       const ColumnTaps& t, int j0, int n) {
    const TapRuns runs = regularRuns(t, n);
#if defined(PIXKIT_BYTE_PAIR_KERNEL)
#if defined(PIXKIT_WIDEST_CLONE_AVX2)
    const bool avx512 = false;
#else
    const bool avx512 = __builtin_cpu_supports("avx512bw");
#endif
    if (runs.stride == 2 && avx512)
        return scaleBytePairsAvx512(src, dst, srcWidth, dstWidth, dstHeight, winY, lastY, sy, stepY, t, j0, runs);
    if (runs.stride == 2 && __builtin_cpu_supports("avx2"))
        return scaleBytePairsAvx2(src, dst, srcWidth, dstWidth, dstHeight, winY, lastY, sy, stepY, t, j0, runs);
#endif
    // Filtered rows, each kept while the next destination row still uses it.
    uint16_t filtered[2][kColumnChunk];
    int filteredRow[2] = {-1, -1};
    for (int i = 0; i < dstHeight; ++i) {
        const uint64_t pos = (uint64_t(i) * stepY) >> 15;
        const int y0 = winY + int((pos >> 3) << sy);
        const int y1 = std::min(y0 + (1 << sy), lastY);
        const int fy = int(pos & 7);
        const uint8_t* top = src + size_t(y0) * srcWidth;
        const uint8_t* bottom = src + size_t(y1) * srcWidth;
        uint8_t* out = dst + size_t(i) * dstWidth + j0;
        if (runs.stride) {
            for (int r = 0; r < runs.count; ++r) {
                const int c0 = runs.begin[r], m = runs.begin[r + 1] - c0;
                if (runs.stride == 2)
                    blendRun<2, 1>(top, bottom, t, out, fy, c0, m);
                else
                    blendRun<4, 2>(top, bottom, t, out, fy, c0, m);
            }
            continue;
        }
        int slot0 = filteredRow[0] == y0 ? 0 : filteredRow[1] == y0 ? 1 : -1;
        if (slot0 < 0) {
            // Reuse the slot that does not hold y1.
            slot0 = filteredRow[0] == y1 ? 1 : 0;
            filterRow(top, t, filtered[slot0], n);
            filteredRow[slot0] = y0;
        }
        int slot1 = filteredRow[slot0] == y1 ? slot0 : filteredRow[1 - slot0] == y1 ? 1 - slot0 : -1;
        if (slot1 < 0) {
            slot1 = 1 - slot0;
            filterRow(bottom, t, filtered[slot1], n);
            filteredRow[slot1] = y1;
        }
        blendFiltered(filtered[slot0], filtered[slot1], out, fy, n);
    }
}

#endif  // !__arm__

}  // namespace

#if !defined(__arm__)
namespace {

// Columns j0 .. j0 + n - 1's taps and weights; in 32-bit arithmetic, which
// the vectoriser takes, wherever the positions fit it.
PIXKIT_VECTOR_CLONES void fillColumnTaps(const PlaneScale& p, int j0, int n, ColumnTaps& taps) {
    const int winX = p.winX, lastX = p.lastX, sx = p.sx;
    const auto tap = [&](int c, int pos) PIXKIT_LAMBDA_KERNEL {
        const int x0 = winX + ((pos >> 3) << sx);
        // Only a one-column window has its second tap outside; its weight is 0 there.
        taps.left[c] = x0;
        taps.right[c] = std::min(x0 + (1 << sx), lastX);
        taps.wLeft[c] = uint16_t(8 - (pos & 7));
        taps.wRight[c] = uint16_t(pos & 7);
        taps.xPair[c] = uint16_t((8 - (pos & 7)) | (pos & 7) << 8);
    };
    if (uint64_t(j0 + n) * p.stepX < (uint64_t(1) << 32)) {
        const uint32_t step = uint32_t(p.stepX);
        for (int c = 0; c < n; ++c) tap(c, int((uint32_t(j0 + c) * step) >> 15));
    } else {
        for (int c = 0; c < n; ++c) tap(c, p.columnPosition(j0 + c));
    }
}

void vectorScalePlane(const PlaneScale& p) {
    ColumnTaps taps;
    for (int j0 = 0; j0 < p.dstWidth; j0 += kColumnChunk) {
        const int n = std::min(kColumnChunk, p.dstWidth - j0);
        fillColumnTaps(p, j0, n, taps);
        scaleColumns(p.src, p.dst, p.srcWidth, p.dstWidth, p.dstHeight, p.winY, p.lastY, p.sy, p.stepY, taps, j0, n);
    }
}

}  // namespace
#endif

void scalePlane(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                int winX, int winY, int winWidth, int winHeight) {
    PlaneScale job;
    if (!planeScaleOf(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, winX, winY, winWidth, winHeight, job))
        return;
#if defined(__arm__)
    armScalePlane(job);
#else
    vectorScalePlane(job);
#endif
}

void scaleRgb565(const uint16_t* src, uint16_t* dst, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                 int winX, int winY, int winWidth, int winHeight) {
    if (!src || !dst || dstWidth <= 0 || dstHeight <= 0) return;
    if (winX < 0 || winY < 0 || winX >= srcWidth || winY >= srcHeight || winWidth <= 0 || winHeight <= 0) return;
    winWidth = std::min(winWidth, srcWidth - winX);
    winHeight = std::min(winHeight, srcHeight - winY);
    const uint64_t stepX = (uint64_t(winWidth) << 18) / uint64_t(dstWidth);
    const uint64_t stepY = (uint64_t(winHeight) << 18) / uint64_t(dstHeight);

    const auto tap = biasedTap;

    // The last column and row are copies of their neighbours, not interpolated.
    const int cols = dstWidth > 1 ? dstWidth - 1 : 1;
    const int rowsOut = dstHeight > 1 ? dstHeight - 1 : 1;
    for (int i = 0; i < rowsOut; ++i) {
        const BiasedTap ty = tap(i, stepY, winHeight);
        const uint16_t* r0 = src + size_t(winY + ty.first) * srcWidth + winX;
        const uint16_t* r1 = src + size_t(winY + ty.second) * srcWidth + winX;
        uint16_t* out = dst + size_t(i) * dstWidth;
        for (int j = 0; j < cols; ++j) {
            const BiasedTap tx = tap(j, stepX, winWidth);
            const int k = 8 * ty.phase + tx.phase;
            const int w0 = kScale.weights[k], w1 = kScale.weights[64 + k];
            const int w2 = kScale.weights[128 + k], w3 = kScale.weights[192 + k];
            const int p0 = r0[tx.first], p1 = r0[tx.second], p2 = r1[tx.first], p3 = r1[tx.second];
            auto field = [&](int shift, int mask) {
                return ((w0 * ((p0 >> shift) & mask) + w1 * ((p1 >> shift) & mask) + w2 * ((p2 >> shift) & mask) +
                         w3 * ((p3 >> shift) & mask)) >>
                        6);
            };
            out[j] = uint16_t((field(11, 31) << 11) | (field(5, 63) << 5) | field(0, 31));
        }
        if (dstWidth > 1) out[dstWidth - 1] = out[dstWidth - 2];
    }
    if (dstHeight > 1)
        std::memcpy(dst + size_t(dstHeight - 1) * dstWidth, dst + size_t(dstHeight - 2) * dstWidth,
                    sizeof(uint16_t) * dstWidth);
}

}  // namespace pixkit

using namespace pixkit;

extern "C" {

PIXKIT_API void gScaleFrame(const ImageFrame* src, ImageFrame* dst) {
    if (!src || !dst) return;
    const int w = src->width, h = src->height, dw = dst->width, dh = dst->height;
    scalePlane(src->y, dst->y, w, h, dw, dh, 0, 0, w, h);
    if (src->u && dst->u) scalePlane(src->u, dst->u, w / 2, h / 2, dw / 2, dh / 2, 0, 0, w / 2, h / 2);
    if (src->v && dst->v) scalePlane(src->v, dst->v, w / 2, h / 2, dw / 2, dh / 2, 0, 0, w / 2, h / 2);
}

PIXKIT_API void gScaleCroppedFrame(const ImageFrame* src, ImageFrame* dst, int32_t cropX, int32_t cropY,
                                   uint16_t cropW, uint16_t cropH) {
    // A negative corner would halve toward 0 and let the chroma run where luma refused.
    if (!src || !dst || cropX < 0 || cropY < 0) return;
    const int w = src->width, h = src->height, dw = dst->width, dh = dst->height;
    scalePlane(src->y, dst->y, w, h, dw, dh, cropX, cropY, cropW, cropH);
    scalePlane(src->u, dst->u, w / 2, h / 2, dw / 2, dh / 2, cropX / 2, cropY / 2, cropW / 2, cropH / 2);
    scalePlane(src->v, dst->v, w / 2, h / 2, dw / 2, dh / 2, cropX / 2, cropY / 2, cropW / 2, cropH / 2);
}

PIXKIT_API void gScaleCroppedFrameYUV422(const ImageFrame* src, ImageFrame* dst, int32_t cropX, int32_t cropY,
                                         uint16_t cropW, uint16_t cropH) {
    if (!src || !dst || cropX < 0 || cropY < 0) return;
    const int w = src->width, h = src->height, dw = dst->width, dh = dst->height;
    scalePlane(src->y, dst->y, w, h, dw, dh, cropX, cropY, cropW, cropH);
    scalePlane(src->u, dst->u, w / 2, h, dw / 2, dh, cropX / 2, cropY, cropW / 2, cropH);
    scalePlane(src->v, dst->v, w / 2, h, dw / 2, dh, cropX / 2, cropY, cropW / 2, cropH);
}

PIXKIT_API void gScaleRGB565Frame(const uint16_t* src, uint16_t* dst, int32_t srcWidth, int32_t srcHeight,
                                  int32_t dstWidth, int32_t dstHeight) {
    scaleRgb565(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, 0, 0, srcWidth, srcHeight);
}

PIXKIT_API void gScaleRGB565CroppedFrame(const uint16_t* src, uint16_t* dst, int32_t srcWidth, int32_t srcHeight,
                                         int32_t dstWidth, int32_t dstHeight, int32_t cropX, int32_t cropY,
                                         int32_t cropW, int32_t cropH) {
    scaleRgb565(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, cropX, cropY, cropW, cropH);
}

}  // extern "C"
