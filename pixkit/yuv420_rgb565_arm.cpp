// YUV 4:2:0 to RGB565 walks for 32-bit ARM cores without SIMD: per 2 x 2
// block the chroma increments once, then per pixel one table load per channel
// (clamp, truncation and field placement in one) and two pixels per store.
#include "pixel.h"
#include "yuv420_rgb565.h"

#if defined(__arm__)

#include <cstdint>

namespace pixkit {
namespace {

// One table of the three channels' values, each clamped to 0..255, truncated
// and moved to its field, so that one load per channel does all three. Each
// channel's index folds the -128 of the chroma samples into the table
// (floor((c - 128) / 2^k) = (c >> k) - 128 / 2^k), which leaves per block:
//   red:   Y + V + (V >> 1)               = Y + dR + 192
//   green: Y - (U >> 3) - (V >> 1) + 158  = Y - dG + 78
//   blue:  Y + 2 U - (U >> 3)             = Y + dB + 240
// The sections start where the block's offsets are ARM immediates, so that
// one base register serves all three.
constexpr int kRedStart = 0, kRedBias = 192;
constexpr int kGreenStart = 1280 - 158, kGreenBias = 78;
constexpr int kBlueStart = 1600, kBlueBias = 240;
constexpr int kTableSize = kBlueStart + 255 + 2 * 255 + 6 + 1;

struct ChannelTable {
    uint32_t entry[kTableSize];
};

constexpr ChannelTable makeChannelTable() {
    ChannelTable t{};
    // Red reaches 255 + 255 + 127 plus a dither of 6, green 255 + 158 + 3.
    for (int n = 0; n <= 255 + 255 + 127 + 6; ++n) t.entry[kRedStart + n] = pack565(clamp255(n - kRedBias), 0, 0);
    for (int n = 0; n <= 255 + 158 + 3; ++n) t.entry[kGreenStart + n] = pack565(0, clamp255(n - kGreenBias), 0);
    for (int n = 0; n < kTableSize - kBlueStart; ++n) t.entry[kBlueStart + n] = pack565(0, 0, clamp255(n - kBlueBias));
    return t;
}

constexpr ChannelTable kChannels = makeChannelTable();

// Two neighbouring destination pixels, the lower address in the low half.
typedef uint32_t __attribute__((may_alias)) PixelPair;

template <bool kWords>
inline void storePair(uint16_t* p, uint32_t pair) {
    if constexpr (kWords) {
        *reinterpret_cast<PixelPair*>(p) = pair;
    } else {
        p[0] = uint16_t(pair);
        p[1] = uint16_t(pair >> 16);
    }
}

// The three channel sections offset by one block's chroma: indexed by luma.
struct BlockTables {
    const uint32_t* r;
    const uint32_t* g;
    const uint32_t* b;
};

inline BlockTables blockTables(const uint32_t* table, unsigned u, unsigned v) {
    return {table + kRedStart + (v + (v >> 1)), table + kGreenStart + 158 - ((u >> 3) + (v >> 1)),
            table + kBlueStart + (2 * u - (u >> 3))};
}

template <bool kDithered, int kRow, int kCol>
inline uint32_t pixel(const BlockTables& t, int y) {
    constexpr Dither o = kDithered ? kDither[kRow][kCol] : Dither{0, 0, 0};
    return t.r[y + o.r] | t.g[y + o.g] | t.b[y + o.b];
}

// One row pair of the window, block by block. Each block's four pixels (a: top
// source row, b: bottom; 0: left column, 1: right) make two pixel pairs, stored
// at `out` and `out + across`; `out` then moves by `step`. Which pixels pair
// up, and in which order, is the walk's.
template <int kCode, bool kWords>
void convertRowPair(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, int blocks,
                    uint16_t* out, ptrdiff_t across, ptrdiff_t step) {
    constexpr bool kDithered = kCode >= 2;
    const uint32_t* table = kChannels.entry;
    for (const uint8_t* end = u + blocks; u != end; y0 += 2, y1 += 2, out += step) {
        const BlockTables t = blockTables(table, *u++, *v++);
        const uint32_t a0 = pixel<kDithered, 0, 0>(t, y0[0]);
        const uint32_t a1 = pixel<kDithered, 0, 1>(t, y0[1]);
        const uint32_t b0 = pixel<kDithered, 1, 0>(t, y1[0]);
        const uint32_t b1 = pixel<kDithered, 1, 1>(t, y1[1]);
        switch (kCode) {
        case 0:  // rows kept: a row pair per row
            storePair<kWords>(out, a0 | a1 << 16);
            storePair<kWords>(out + across, b0 | b1 << 16);
            break;
        case 1:  // transposed: a column pair per row
            storePair<kWords>(out, a0 | b0 << 16);
            storePair<kWords>(out + across, a1 | b1 << 16);
            break;
        case 2:  // columns reversed
            storePair<kWords>(out, a1 | a0 << 16);
            storePair<kWords>(out + across, b1 | b0 << 16);
            break;
        default:  // transposed, both reversed
            storePair<kWords>(out, b0 | a0 << 16);
            storePair<kWords>(out + across, b1 | a1 << 16);
            break;
        }
    }
}

template <int kCode, bool kWords>
void walk(const SourceWindow& win, const Rgb565Dest& dst) {
    const int w = win.width, h = win.height, s = dst.stride;
    for (int i = 0; i < h; i += 2) {
        const uint8_t* y0 = win.lumaRow(i);
        const uint8_t* y1 = win.lumaRow(i + 1);
        const uint8_t* u = win.uRow(i);
        const uint8_t* v = win.vRow(i);
        switch (kCode) {
        case 0: convertRowPair<0, kWords>(y0, y1, u, v, w / 2, dst.row(h - 1 - i), -s, 2); break;
        case 1: convertRowPair<1, kWords>(y0, y1, u, v, w / 2, dst.row(0) + i, s, 2 * ptrdiff_t(s)); break;
        case 2: convertRowPair<2, kWords>(y0, y1, u, v, w / 2, dst.row(i) + w - 2, s, -2); break;
        default:
            convertRowPair<3, kWords>(y0, y1, u, v, w / 2, dst.row(w - 1) + h - 2 - i, -s, -2 * ptrdiff_t(s));
            break;
        }
    }
}

template <int kCode>
void walkAligned(const SourceWindow& win, const Rgb565Dest& dst) {
    // Every pixel pair starts at an even offset from the window's corner: word
    // stores need that corner on a word and an even row length.
    if ((reinterpret_cast<uintptr_t>(dst.base) & 3) == 0 && (dst.stride & 1) == 0)
        walk<kCode, true>(win, dst);
    else
        walk<kCode, false>(win, dst);
}

}  // namespace

void armYuv420Walk(const SourceWindow& win, const Rgb565Dest& dst, int code) {
    switch (code) {
    case 0: walkAligned<0>(win, dst); break;
    case 1: walkAligned<1>(win, dst); break;
    case 2: walkAligned<2>(win, dst); break;
    default: walkAligned<3>(win, dst); break;
    }
}

}  // namespace pixkit

#endif  // __arm__
