// The kernels timed by bench/kernel_bench, each against a plain reference
// version of itself written here, on random input, bit for bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "bitreader.h"
#include "code_tables.h"
#include "element.h"
#include "huffman.h"
#include "recon_tables.h"
#include "reconstruct.h"
#include "tables.h"

namespace {

// ---- Huffman: a bit-at-a-time decoder over the code tables -----------------

struct PlainBits {
    const std::vector<uint8_t>* bytes;
    int64_t pos = 0;
    int64_t limit() const { return static_cast<int64_t>(bytes->size()) * 8; }
    // Bits past the end read as zero, as the reader defines them.
    uint32_t bit(int64_t at) const {
        if (at >= limit()) return 0;
        return ((*bytes)[static_cast<size_t>(at >> 3)] >> (7 - (at & 7))) & 1;
    }
    uint32_t take() { return bit(pos++); }
};

struct PlainBook {
    std::map<std::pair<int32_t, uint32_t>, int32_t> index; // (length, word) -> index
    int32_t dim, modulus, offset;
    bool unsignedValues;
};

PlainBook plainBook(int32_t book) {
    static const int32_t lav[12] = {0, 1, 1, 2, 2, 4, 4, 7, 7, 12, 12, 16};
    PlainBook p;
    for (const Code& c : loadBook(book)) p.index[{c.length, c.word}] = c.index;
    p.unsignedValues = !(book == 1 || book == 2 || book == 5 || book == 6);
    p.dim = book <= 4 ? 4 : 2;
    p.modulus = p.unsignedValues ? lav[book] + 1 : 2 * lav[book] + 1;
    p.offset = p.unsignedValues ? 0 : lav[book];
    return p;
}

// Decodes `count` values; 0 or -1 with the decoder's failure rule: a
// codeword (with its sign bits, for books 1-10) that ends past the data, an
// escape that does, or an escape prefix above 8.
int32_t plainDecode(const PlainBook& b, int32_t book, PlainBits* in, int32_t count, int32_t* out,
                    int64_t* consumed) {
    for (int32_t i = 0; i < count; i += b.dim) {
        uint32_t word = 0;
        int32_t length = 0;
        int32_t index = -1;
        while (index < 0) {
            word = (word << 1) | in->bit(in->pos + length);
            ++length;
            auto it = b.index.find({length, word});
            if (it != b.index.end()) index = it->second;
            if (length > 19) return -2; // not a complete code: a test fault
        }
        int32_t v[4];
        int32_t rest = index;
        for (int32_t k = b.dim - 1; k >= 0; --k) {
            v[k] = rest % b.modulus - b.offset;
            rest /= b.modulus;
        }
        if (book == kEscHcb) {
            if (in->pos + length > in->limit()) return -1;
            in->pos += length;
            bool negative[2];
            for (int32_t k = 0; k < 2; ++k) negative[k] = v[k] != 0 && in->take() != 0;
            for (int32_t k = 0; k < 2; ++k) {
                if (v[k] != 16) continue;
                int32_t ones = 0;
                while (in->bit(in->pos + ones) == 1 && ones <= 8) ++ones;
                if (ones > 8) return -1;
                in->pos += ones + 1;
                int32_t tail = 0;
                for (int32_t t = 0; t < ones + 4; ++t) tail = (tail << 1) | static_cast<int32_t>(in->take());
                v[k] = (1 << (ones + 4)) + tail;
            }
            if (in->pos > in->limit()) return -1;
            for (int32_t k = 0; k < 2; ++k) out[i + k] = negative[k] ? -v[k] : v[k];
            continue;
        }
        int32_t used = length;
        if (b.unsignedValues) {
            for (int32_t k = 0; k < b.dim; ++k) {
                if (v[k] == 0) continue;
                if (in->bit(in->pos + used) != 0) v[k] = -v[k];
                ++used;
            }
        }
        if (in->pos + used > in->limit()) return -1;
        in->pos += used;
        for (int32_t k = 0; k < b.dim; ++k) out[i + k] = v[k];
    }
    *consumed = in->pos;
    return 0;
}

// Random streams, cut at random lengths so that some runs end in the data.
TEST(KernelHuffman, EveryBookMatchesTheBitwiseDecoder) {
    std::mt19937 rng(2015);
    for (int32_t book = 1; book <= 11; ++book) {
        SCOPED_TRACE(book);
        const PlainBook plain = plainBook(book);
        ASSERT_FALSE(plain.index.empty());
        int32_t failures = 0;
        for (int32_t run = 0; run < 400; ++run) {
            const int32_t count = plain.dim * static_cast<int32_t>(1 + rng() % 64);
            std::vector<uint8_t> bytes(1 + rng() % 160);
            for (uint8_t& x : bytes) x = static_cast<uint8_t>(rng());
            // Escape books see long runs of ones now and then.
            if (book == kEscHcb && run % 3 == 0)
                for (size_t k = rng() % bytes.size(); k < bytes.size() && (rng() & 7); ++k) bytes[k] = 0xFF;
            const int32_t skip = static_cast<int32_t>(rng() % 8);
            PlainBits in{&bytes, skip};
            std::vector<int32_t> want(static_cast<size_t>(count));
            int64_t wantConsumed = 0;
            const int32_t wantRc = plainDecode(plain, book, &in, count, want.data(), &wantConsumed);
            ASSERT_NE(wantRc, -2);

            BitReader r;
            start(&r, bytes.data(), static_cast<int32_t>(bytes.size()));
            skipBits(&r, skip);
            std::vector<int32_t> got(static_cast<size_t>(count), 12345);
            const int32_t gotRc = decodeSpectralValues(&r, book, count, got.data());
            ASSERT_EQ(gotRc, wantRc) << "run " << run;
            if (wantRc != 0) {
                ++failures;
                continue;
            }
            EXPECT_EQ(r.bitsConsumed, wantConsumed) << "run " << run;
            EXPECT_EQ(got, want) << "run " << run;
        }
        // Both outcomes are exercised.
        EXPECT_GT(failures, 20);
        EXPECT_LT(failures, 380);
    }
}

// Every codeword of every book (with random sign and escape bits), at each
// bit offset in its first byte, with the data cut at every byte from none
// to all of it: the kernel fails exactly where the bitwise decoder does,
// and otherwise agrees on values and bits consumed.
TEST(KernelHuffman, EveryCodewordFailsExactlyWhereTheBitwiseDecoderDoes) {
    std::mt19937 rng(11);
    for (int32_t book = 1; book <= 11; ++book) {
        SCOPED_TRACE(book);
        const PlainBook plain = plainBook(book);
        int32_t failures = 0, successes = 0;
        for (const Code& c : loadBook(book)) {
            for (int32_t skip = 0; skip < 8; ++skip) {
                // skip bits, the codeword, then random bits (signs, escapes, and more).
                std::vector<uint8_t> full(8);
                for (uint8_t& x : full) x = static_cast<uint8_t>(rng());
                uint64_t word = 0;
                for (int32_t k = 0; k < 8; ++k) word = (word << 8) | full[static_cast<size_t>(k)];
                const int32_t at = 64 - skip - c.length;
                word = (word & ~(((uint64_t{1} << c.length) - 1) << at)) | (static_cast<uint64_t>(c.word) << at);
                for (int32_t k = 0; k < 8; ++k) full[static_cast<size_t>(k)] = static_cast<uint8_t>(word >> (56 - 8 * k));
                for (size_t cut = 0; cut <= full.size(); ++cut) {
                    const std::vector<uint8_t> bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
                    PlainBits in{&bytes, skip};
                    int32_t want[4] = {}, got[4] = {};
                    int64_t wantConsumed = 0;
                    const int32_t wantRc = plainDecode(plain, book, &in, plain.dim, want, &wantConsumed);
                    BitReader r;
                    start(&r, bytes.data(), static_cast<int32_t>(bytes.size()));
                    skipBits(&r, skip);
                    const int32_t gotRc = decodeSpectralValues(&r, book, plain.dim, got);
                    ASSERT_EQ(gotRc, wantRc) << "index " << c.index << " skip " << skip << " cut " << cut;
                    if (wantRc != 0) {
                        ++failures;
                        continue;
                    }
                    ++successes;
                    ASSERT_EQ(r.bitsConsumed, wantConsumed) << "index " << c.index;
                    for (int32_t k = 0; k < plain.dim; ++k) ASSERT_EQ(got[k], want[k]) << "index " << c.index;
                }
            }
        }
        EXPECT_GT(failures, 0);
        EXPECT_GT(successes, 0);
    }
}

// ---- Inverse quantisation: the rule with wide integers ----------------------

int64_t shifted(int64_t m, int32_t s) {
    // 2^(s/4) as a shift: left by ceil(s/4) for s > 0, right by floor(-s/4).
    if (s > 0) {
        const int32_t n = (s + 3) / 4;
        return n >= 32 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(m) << n);
    }
    const int32_t n = -s / 4;
    return n >= 32 ? (m < 0 ? -1 : 0) : (m >> n);
}

int32_t plainCoefficient(int32_t q, int32_t sf) {
    const int32_t s = sf - 164;
    const int32_t shift = s > 0 ? (s + 3) / 4 : -s / 4;
    if (shift >= 32) return 0;
    const int32_t gain = kQuarterGain[4 - (((s % 4) + 4) % 4)];
    int32_t a = q < 0 ? -q : q;
    if (a > 8191) a = 8191;
    int64_t m;
    if (a < 256) {
        m = shifted(kPow43[a], s);
    } else {
        const int32_t h = kLog2Step[a >> 8];
        const int32_t b = a >> h;
        const int32_t f = a % (1 << h);
        const int64_t u = kPow43[b] + ((static_cast<int64_t>(kPow43[b + 1] - kPow43[b]) * f) >> h);
        const int64_t w = static_cast<int64_t>((static_cast<uint64_t>(u) * static_cast<uint64_t>(kPow43[1 << h])) >> 33);
        m = shifted(w, s + 56);
    }
    const int32_t c = static_cast<int32_t>(static_cast<uint64_t>(static_cast<int64_t>(gain) * static_cast<int32_t>(m)) >> 31);
    return q < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(c)) : c;
}

TEST(KernelInverseQuantise, LongAndGroupedShortWindowsMatchTheRule) {
    std::mt19937 rng(164);
    for (int32_t run = 0; run < 300; ++run) {
        const int32_t sr = static_cast<int32_t>(rng() % 12);
        const bool isShort = run % 3 == 2;
        IcsState ics{};
        ics.windowSequence = isShort ? kEightShort : kOnlyLong;
        int32_t windows = 0;
        if (isShort) {
            while (windows < 8) {
                const int32_t len = std::min<int32_t>(1 + static_cast<int32_t>(rng() % 4), 8 - windows);
                ics.windowGroupLength[ics.numWindowGroups++] = static_cast<uint8_t>(len);
                windows += len;
            }
        } else {
            ics.numWindowGroups = 1;
            ics.windowGroupLength[0] = 1;
        }
        const int32_t bands = isShort ? numShortBands(sr) : numLongBands(sr);
        const uint16_t* off = isShort ? shortOffsets(sr) : longOffsets(sr);
        static const uint8_t books[] = {0, 1, 2, 5, 7, 9, 11, 11, 11, 13, 14, 15};
        for (int32_t i = 0; i < ics.numWindowGroups * bands; ++i) {
            ics.codebook[i] = books[rng() % std::size(books)];
            ics.scaleFactor[i] = static_cast<int16_t>(rng() % 256);
        }
        // Mostly small magnitudes (within the books' ranges), some escapes,
        // a few beyond 8191 (pulses).
        std::vector<int32_t> spectrum(1024);
        const int32_t range = run % 4 == 0 ? 8300 : run % 4 == 1 ? 300 : run % 4 == 2 ? 16 : 3;
        for (int32_t& q : spectrum) {
            const int32_t a = static_cast<int32_t>(rng() % static_cast<uint32_t>(range));
            q = (rng() & 1) ? -a : a;
        }
        std::vector<int32_t> want = spectrum;
        int32_t groupStart = 0;
        for (int32_t g = 0; g < ics.numWindowGroups; ++g) {
            const int32_t len = ics.windowGroupLength[g];
            for (int32_t k = 0; k < bands; ++k) {
                const uint8_t cb = ics.codebook[g * bands + k];
                if (cb == 0 || cb >= 13) continue;
                for (int32_t i = groupStart + len * off[k]; i < groupStart + len * off[k + 1]; ++i)
                    want[static_cast<size_t>(i)] = plainCoefficient(want[static_cast<size_t>(i)], ics.scaleFactor[g * bands + k]);
            }
            groupStart += 128 * len;
        }
        std::vector<int32_t> vector = spectrum, scalar = spectrum;
        inverseQuantise(&ics, bands, off, spectrum.data());
        inverseQuantiseVector(&ics, bands, off, vector.data());
        inverseQuantiseScalar(&ics, bands, off, scalar.data());
        ASSERT_EQ(spectrum, want) << "run " << run << " sr " << sr;
        ASSERT_EQ(vector, want) << "run " << run << " sr " << sr;
        ASSERT_EQ(scalar, want) << "run " << run << " sr " << sr;
    }
}

} // namespace
