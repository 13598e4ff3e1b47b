// Huffman decoding against the standard's code tables (read from the CSV
// copies in the repo, not from the generated trees) and an independent
// model of how an index maps to values.
#include "huffman.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bitwriter.h"
#include "code_tables.h"
#include "huffman_lookup.h"
#include "huffman_trees.h"

namespace {

struct BookShape {
    int32_t dim, modulus, offset;
    bool unsignedValues;
};

BookShape shapeOf(int32_t book) {
    static const int32_t lav[12] = {0, 1, 1, 2, 2, 4, 4, 7, 7, 12, 12, 16};
    const bool uns = !(book == 1 || book == 2 || book == 5 || book == 6);
    return {book <= 4 ? 4 : 2, uns ? lav[book] + 1 : 2 * lav[book] + 1, uns ? 0 : lav[book], uns};
}

// Values of an index by plain division, as the code tables define them.
std::vector<int32_t> valuesOf(int32_t book, int32_t index) {
    const BookShape s = shapeOf(book);
    std::vector<int32_t> v(static_cast<size_t>(s.dim));
    int32_t rest = index;
    for (int32_t i = s.dim - 1; i >= 0; --i) {
        v[static_cast<size_t>(i)] = rest % s.modulus - s.offset;
        rest /= s.modulus;
    }
    return v;
}

struct Reading {
    AacDecoder d{};
    BitReader r{};
    explicit Reading(const BitWriter& w) {
        d.reader = &r;
        start(&r, w.bytes.data(), static_cast<int32_t>(w.bytes.size()));
    }
};

// Appends one codeword with its sign and escape bits; returns the values
// the decoder must produce.
std::vector<int32_t> encode(BitWriter& w, int32_t book, const Code& c, std::mt19937& rng) {
    std::vector<int32_t> v = valuesOf(book, c.index);
    w.put(c.word, c.length);
    if (!shapeOf(book).unsignedValues) return v;
    for (int32_t& x : v) {
        if (x == 0) continue;
        const uint32_t sign = rng() & 1;
        w.put(sign, 1);
        if (sign) x = -x;
    }
    if (book == kEscHcb) {
        for (int32_t& x : v) {
            if (x != 16 && x != -16) continue;
            const int32_t n = static_cast<int32_t>(rng() % 9);
            const uint32_t tail = rng() & ((1u << (n + 4)) - 1);
            w.put((1u << n) - 1, n);
            w.put(0, 1);
            w.put(tail, n + 4);
            const int32_t magnitude = (1 << (n + 4)) + static_cast<int32_t>(tail);
            x = x < 0 ? -magnitude : magnitude;
        }
    }
    return v;
}

TEST(HuffmanTrees, SizesFollowTheLayoutRule) {
    EXPECT_EQ(std::size(kScaleFactorTree), 260u);
    const size_t sizes[11] = {std::size(kSpectrumTree1), std::size(kSpectrumTree2),
                              std::size(kSpectrumTree3), std::size(kSpectrumTree4),
                              std::size(kSpectrumTree5), std::size(kSpectrumTree6),
                              std::size(kSpectrumTree7), std::size(kSpectrumTree8),
                              std::size(kSpectrumTree9), std::size(kSpectrumTree10),
                              std::size(kSpectrumTree11)};
    const size_t expected[11] = {204, 156, 156, 152, 164, 160, 124, 124, 336, 328, 544};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(sizes[i], expected[i]) << "book " << i + 1;
    // Spot entries: book 1 index 40 and scale factor index 60 are the 1-bit
    // codeword 0 (stored twice), book 11 index 0 the 4-bit codeword 0000.
    EXPECT_EQ(kSpectrumTree1[0], (1 << 10) | 40);
    EXPECT_EQ(kSpectrumTree1[1], (1 << 10) | 40);
    EXPECT_EQ(kScaleFactorTree[0], (1 << 10) | 60);
    EXPECT_EQ(kScaleFactorTree[1], (1 << 10) | 60);
    EXPECT_EQ(kSpectrumTree11[kSpectrumTree11[0] * 4], (4 << 10) | 0);
}

TEST(HuffmanTrees, DescriptorTable) {
    struct Row {
        int uns, dim, lav, maxLength;
        uint32_t reciprocal;
    };
    const Row rows[12] = {
        {1, 1, 0, 19, 0},           {0, 4, 1, 11, 0x2AC08312}, {0, 4, 1, 9, 0x2AC08312},
        {1, 4, 2, 16, 0x2AC08312},  {1, 4, 2, 12, 0x2AC08312}, {0, 2, 4, 13, 0x0E560418},
        {0, 2, 4, 11, 0x0E560418},  {1, 2, 7, 12, 0x10000000}, {1, 2, 7, 10, 0x10000000},
        {1, 2, 12, 15, 0x09DB22D0}, {1, 2, 12, 12, 0x09DB22D0}, {1, 2, 16, 12, 0x078D4FDF},
    };
    for (int b = 0; b < 12; ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(kCodebooks[b].unsignedValues, rows[b].uns);
        EXPECT_EQ(kCodebooks[b].dimension, rows[b].dim);
        EXPECT_EQ(kCodebooks[b].lav, rows[b].lav);
        EXPECT_EQ(kCodebooks[b].maxLength, rows[b].maxLength);
        EXPECT_EQ(static_cast<uint32_t>(kCodebooks[b].reciprocal), rows[b].reciprocal);
        int32_t longest = 0;
        for (const Code& c : loadBook(b)) longest = std::max(longest, c.length);
        EXPECT_EQ(longest, rows[b].maxLength);
    }
}

// The tree walk as the design states it: 2 bits per level from the root.
uint32_t treeWalk(const uint16_t* tree, uint32_t window) {
    uint32_t n = 0;
    uint32_t entry = tree[window >> 30];
    while (entry < 1024) {
        window <<= 2;
        n += entry;
        entry = tree[4 * n + (window >> 30)];
    }
    return entry;
}

// Every window of every book's longest codeword length (so every codeword
// and every bit pattern that follows it), with the bits beyond it clear and
// set: the first-level lookup gives exactly the leaf of the tree walk, and
// that leaf is the code table's codeword prefixing the window.
TEST(HuffmanTables, FirstLevelLookupIsTheTreeWalkForEveryWindow) {
    for (int32_t book = 0; book <= 11; ++book) {
        SCOPED_TRACE(book);
        const int32_t longest = kCodebooks[book].maxLength;
        const uint16_t* tree = kCodebooks[book].tree;
        // index of the codeword of each length and value, -1 where none.
        std::vector<std::vector<int32_t>> byLength(static_cast<size_t>(longest + 1));
        for (int32_t l = 1; l <= longest; ++l) byLength[static_cast<size_t>(l)].assign(size_t{1} << l, -1);
        for (const Code& c : loadBook(book)) byLength[static_cast<size_t>(c.length)][c.word] = c.index;
        int64_t checked = 0;
        for (uint32_t bits = 0; bits < (1u << longest); ++bits) {
            int32_t length = 1;
            while (byLength[static_cast<size_t>(length)][bits >> (longest - length)] < 0) ++length;
            const uint32_t want = (static_cast<uint32_t>(length) << 10) |
                                  static_cast<uint32_t>(byLength[static_cast<size_t>(length)][bits >> (longest - length)]);
            for (uint32_t fill : {0u, 0xFFFFFFFFu}) {
                const uint32_t window = (bits << (32 - longest)) | (fill >> longest);
                const uint32_t got = huffmanLookup(kFirstLevel[book], tree, window);
                ASSERT_EQ(got, treeWalk(tree, window)) << std::hex << "window 0x" << window;
                ASSERT_EQ(got, want) << std::hex << "window 0x" << window;
                ++checked;
            }
        }
        EXPECT_EQ(checked, int64_t{2} << longest);
    }
}

TEST(HuffmanTables, ValueTablesSplitTheIndexByTheModulus) {
    for (int32_t book = 1; book <= 11; ++book) {
        SCOPED_TRACE(book);
        const int32_t dim = shapeOf(book).dim;
        for (const Code& c : loadBook(book)) {
            const std::vector<int32_t> want = valuesOf(book, c.index);
            for (int32_t k = 0; k < dim; ++k)
                EXPECT_EQ(kSpectrumValues[book][dim * c.index + k], want[static_cast<size_t>(k)]) << c.index;
        }
    }
}

// Every codeword of every spectral book, each followed by random bits, and
// then all of them back to back in random order as one run of values.
TEST(HuffmanDecoding, EverySpectralCodewordRoundTrips) {
    std::mt19937 rng(5);
    for (int32_t book = 1; book <= 11; ++book) {
        SCOPED_TRACE(book);
        std::vector<Code> codes = loadBook(book);
        ASSERT_FALSE(codes.empty());
        const int32_t dim = shapeOf(book).dim;
        for (const Code& c : codes) {
            BitWriter w;
            const std::vector<int32_t> want = encode(w, book, c, rng);
            const int64_t used = w.bits;
            w.put(rng(), 32);
            Reading in(w);
            int32_t out[4] = {};
            ASSERT_EQ(decodeSpectralBand(&in.d, book, dim, out), 0) << "index " << c.index;
            EXPECT_EQ(in.r.bitsConsumed, used) << "index " << c.index;
            for (int32_t i = 0; i < dim; ++i) EXPECT_EQ(out[i], want[static_cast<size_t>(i)]);
        }
        std::shuffle(codes.begin(), codes.end(), rng);
        BitWriter w;
        std::vector<int32_t> want;
        for (const Code& c : codes) {
            const std::vector<int32_t> v = encode(w, book, c, rng);
            want.insert(want.end(), v.begin(), v.end());
        }
        const int64_t used = w.bits;
        Reading in(w);
        std::vector<int32_t> out(want.size());
        ASSERT_EQ(decodeSpectralBand(&in.d, book, static_cast<int32_t>(out.size()), out.data()), 0);
        EXPECT_EQ(in.r.bitsConsumed, used);
        EXPECT_EQ(out, want);
    }
}

IcsState& oneBandChannel(ElementState& e, uint8_t codebook, uint8_t globalGain) {
    e = ElementState{};
    IcsState& ics = e.ics[0];
    ics.numWindowGroups = 1;
    ics.globalGain = globalGain;
    ics.codebook[0] = codebook;
    return ics;
}

TEST(HuffmanDecoding, EveryScaleFactorCodewordRoundTrips) {
    std::mt19937 rng(7);
    const std::vector<Code> codes = loadBook(0);
    ASSERT_EQ(codes.size(), 121u);
    for (const Code& c : codes) {
        BitWriter w;
        w.put(c.word, c.length);
        w.put(rng(), 32);
        Reading in(w);
        ElementState e;
        IcsState& ics = oneBandChannel(e, 1, 100);
        ASSERT_EQ(decodeScaleFactors(&in.d, &e, 0, 1), 0);
        EXPECT_EQ(ics.scaleFactor[0], 100 + c.index - 60);
        EXPECT_EQ(in.r.bitsConsumed, c.length);
    }
}

TEST(HuffmanDecoding, ScaleFactorsIntensityAndNoise) {
    const std::vector<Code> sf = loadBook(0);
    // Bands: zero, scale factor +2, intensity -3, noise (raw 9 bits), noise -1,
    // intensity +1, scale factor -1.
    BitWriter w;
    w.put(codeOf(sf, 62).word, codeOf(sf, 62).length);
    w.put(codeOf(sf, 57).word, codeOf(sf, 57).length);
    w.put(300, 9);
    w.put(codeOf(sf, 59).word, codeOf(sf, 59).length);
    w.put(codeOf(sf, 61).word, codeOf(sf, 61).length);
    w.put(codeOf(sf, 59).word, codeOf(sf, 59).length);
    Reading in(w);
    ElementState e;
    IcsState& ics = oneBandChannel(e, 0, 120);
    const uint8_t books[7] = {0, 1, kIntensityHcb, kNoiseHcb, kNoiseHcb, kIntensityHcb2, 3};
    for (int i = 0; i < 7; ++i) ics.codebook[i] = books[i];
    ASSERT_EQ(decodeScaleFactors(&in.d, &e, 0, 7), 0);
    const int16_t want[7] = {0, 122, -3, 120 - 346 + 300, 120 - 346 + 300 - 1, -2, 121};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(ics.scaleFactor[i], want[i]) << i;
    EXPECT_EQ(in.r.bitsConsumed, w.bits);
}

TEST(HuffmanDecoding, ScaleFactorRangeGuards) {
    const std::vector<Code> sf = loadBook(0);
    const Code& up60 = codeOf(sf, 120);
    const Code& down60 = codeOf(sf, 0);
    struct Case {
        uint8_t book, gain;
        const Code* code;
        int32_t repeat;
        int32_t rc;
    } cases[] = {
        {1, 195, &up60, 1, 0},           // 255: the largest scale factor
        {1, 196, &up60, 1, -1},          // 256
        {1, 60, &down60, 1, 0},          // 0
        {1, 59, &down60, 1, -1},         // -1
        {kIntensityHcb, 0, &up60, 1, 60}, // +60 ... +120 is past 100
        {kIntensityHcb, 0, &up60, 2, -1},
        {kIntensityHcb, 0, &down60, 2, -120},
        {kIntensityHcb, 0, &down60, 3, -1}, // -180 is past -155
    };
    for (const Case& c : cases) {
        BitWriter w;
        for (int32_t i = 0; i < c.repeat; ++i) w.put(c.code->word, c.code->length);
        Reading in(w);
        ElementState e;
        IcsState& ics = oneBandChannel(e, c.book, c.gain);
        for (int32_t i = 0; i < c.repeat; ++i) ics.codebook[i] = c.book;
        const int32_t rc = decodeScaleFactors(&in.d, &e, 0, c.repeat);
        if (c.rc == -1) {
            EXPECT_EQ(rc, -1);
        } else {
            EXPECT_EQ(rc, 0);
            if (c.book == kIntensityHcb) {
                EXPECT_EQ(ics.scaleFactor[c.repeat - 1], c.rc);
            }
        }
    }
}

TEST(HuffmanDecoding, QuadWithoutSignsTakesOneBit) {
    // Book 3 index 0 (0,0,0,0) is the codeword 0: no sign bits follow.
    BitWriter w;
    w.put(0, 1);
    w.put(0x7F, 7);
    Reading in(w);
    int32_t out[4] = {9, 9, 9, 9};
    ASSERT_EQ(decodeSpectralBand(&in.d, 3, 4, out), 0);
    for (int32_t v : out) EXPECT_EQ(v, 0);
    EXPECT_EQ(in.r.bitsConsumed, 1);
}

TEST(HuffmanDecoding, EscapeRange) {
    const Code& esc = codeOf(loadBook(11), 16 * 17); // (16, 0)
    auto decode = [&](int32_t ones, uint32_t tail, int32_t* value) {
        BitWriter w;
        w.put(esc.word, esc.length);
        w.put(1, 1); // the sign of the first value: negative
        w.put((1u << ones) - 1, ones);
        w.put(0, 1);
        w.put(tail, ones + 4);
        w.put(0, 16);
        Reading in(w);
        int32_t out[2] = {};
        const int32_t rc = decodeSpectralBand(&in.d, 11, 2, out);
        *value = out[0];
        EXPECT_EQ(out[1], 0);
        return rc;
    };
    int32_t v = 0;
    ASSERT_EQ(decode(0, 0, &v), 0);
    EXPECT_EQ(v, -16);
    ASSERT_EQ(decode(0, 15, &v), 0);
    EXPECT_EQ(v, -31);
    ASSERT_EQ(decode(8, 4095, &v), 0);
    EXPECT_EQ(v, -8191);
    EXPECT_EQ(decode(9, 0, &v), -1);
}

// Both values escaped to their longest: 42 escape bits after the codeword
// and its two signs, more than one window holds, ending on the last bit.
TEST(HuffmanDecoding, TwoLongestEscapesInOnePair) {
    const Code& esc = codeOf(loadBook(11), 16 * 17 + 16); // (16, 16)
    BitWriter w;
    const int32_t pad = (8 - (esc.length + 2 + 2 * 21) % 8) % 8;
    w.put(0, pad); // skipped: the pair ends on the last bit
    w.put(esc.word, esc.length);
    w.put(1, 1); // first negative
    w.put(0, 1); // second positive
    w.put(0xFF, 8);
    w.put(0, 1);
    w.put(0xABC, 12);
    w.put(0xFF, 8);
    w.put(0, 1);
    w.put(0x001, 12);
    ASSERT_EQ(w.bits % 8, 0);
    int32_t out[2] = {};
    {
        Reading in(w);
        skipBits(&in.r, pad);
        in.r.bitsConsumed = 0;
        ASSERT_EQ(decodeSpectralBand(&in.d, 11, 2, out), 0);
        EXPECT_EQ(out[0], -(4096 + 0xABC));
        EXPECT_EQ(out[1], 4096 + 1);
        EXPECT_EQ(in.r.bitsConsumed, esc.length + 2 + 2 * 21);
    }
    BitWriter cut = w;
    cut.bytes.pop_back(); // the second escape's last bits are gone
    {
        Reading in(cut);
        skipBits(&in.r, pad);
        EXPECT_EQ(decodeSpectralBand(&in.d, 11, 2, out), -1);
    }
}

TEST(HuffmanDecoding, EndOfData) {
    // Book 1 index 40 is the 1-bit codeword 0 for (0,0,0,0): eight of them
    // fill exactly one byte.
    BitWriter w;
    w.put(0, 8);
    int32_t out[36];
    {
        Reading in(w);
        EXPECT_EQ(decodeSpectralBand(&in.d, 1, 32, out), 0);
        EXPECT_EQ(in.r.bitsConsumed, 8);
    }
    {
        Reading in(w);
        EXPECT_EQ(decodeSpectralBand(&in.d, 1, 36, out), -1);
    }
    // A sign bit past the end fails too: book 3 (1,0,0,0) needs one.
    const Code& one = codeOf(loadBook(3), 27);
    BitWriter s;
    s.put(0, 8 - one.length % 8);
    s.put(one.word, one.length);
    ASSERT_EQ(s.bits % 8, 0);
    {
        Reading in(s);
        EXPECT_EQ(decodeSpectralBand(&in.d, 3, 4 * (1 + (8 - one.length % 8)), out), -1);
    }
    // An escape whose extra bits run past the end.
    const Code& esc = codeOf(loadBook(11), 16 * 17);
    BitWriter e;
    e.put(esc.word, esc.length);
    e.put(0, 1);
    e.put(0x3F, 6); // prefix of six ones, then nothing
    {
        Reading in(e);
        EXPECT_EQ(decodeSpectralBand(&in.d, 11, 2, out), -1);
    }
    // A scale factor codeword past the end.
    BitWriter empty;
    Reading in(empty);
    ElementState st;
    oneBandChannel(st, 1, 100);
    EXPECT_EQ(decodeScaleFactors(&in.d, &st, 0, 1), -1);
}

} // namespace
