#!/usr/bin/env python3
"""Writes decoder/huffman_trees.h and decoder/huffman_trees.cpp: the scale
factor and spectral Huffman codes as trees of 4-way nodes, plus the codebook
descriptor table, and the fast-path tables derived from the trees.

Layout: node n occupies entries 4n..4n+3, indexed by the next 2 bits. An entry
below 1024 is the distance to a child node; 1024 or more is a leaf holding
(codeword length << 10) | codeword index. A codeword that ends on the first
bit of a node fills both entries sharing that bit. Nodes are numbered breadth
first, so children always lie after their parent.

First-level tables: for each tree, 2^FIRST_BITS entries indexed by the next
FIRST_BITS bits. Each holds what the tree walk holds after FIRST_BITS / 2
levels: the leaf, when the codeword is that short, or else the absolute
number (below 1024) of the node where the walk goes on. Built by walking the
trees themselves, so a lookup through them is the tree walk, shortened.

Value tables: the values of each codeword index, one signed byte per value
(dimension bytes per index), for the books sharing a modulus and offset.

Usage: gen_huffman_trees.py [repo root]
"""
import csv
import os
import sys
from fractions import Fraction

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
DATA = os.path.join(ROOT, "decoder", "tables", "data")

# Per spectral book: unsigned values, dimension, largest value or magnitude.
BOOKS = {
    1: (0, 4, 1), 2: (0, 4, 1), 3: (1, 4, 2), 4: (1, 4, 2),
    5: (0, 2, 4), 6: (0, 2, 4), 7: (1, 2, 7), 8: (1, 2, 7),
    9: (1, 2, 12), 10: (1, 2, 12), 11: (1, 2, 16),
}


def bits(value, length):
    return format(value, "0%db" % length) if length else ""


def build_tree(codes):
    """codes: list of (index, codeword bit string). Returns the entry list."""
    words = {}
    for index, word in codes:
        if word in words:
            raise SystemExit("duplicate codeword %s" % word)
        words[word] = index
    # Prefix-free and complete.
    for w in words:
        for k in range(1, len(w)):
            if w[:k] in words:
                raise SystemExit("codeword %s has prefix %s" % (w, w[:k]))
    if sum(Fraction(1, 2 ** len(w)) for w in words) != 1:
        raise SystemExit("code is not complete")

    def has_longer(prefix):
        return any(len(w) > len(prefix) and w.startswith(prefix) for w in words)

    nodes = [""]          # node number -> prefix
    number = {"": 0}
    entries = []
    n = 0
    while n < len(nodes):
        prefix = nodes[n]
        node = []
        for step in ("00", "01", "10", "11"):
            one = prefix + step[0]
            two = prefix + step
            if one in words:
                node.append((len(one) << 10) | words[one])
            elif two in words:
                node.append((len(two) << 10) | words[two])
            elif has_longer(two):
                if two not in number:
                    number[two] = len(nodes)
                    nodes.append(two)
                delta = number[two] - n
                if not 0 < delta < 1024:
                    raise SystemExit("child distance %d out of range" % delta)
                node.append(delta)
            else:
                raise SystemExit("no codeword under %s" % two)
        entries.extend(node)
        n += 1
    for e in entries:
        if e >= 1024 and (e & 1023) >= 1024:
            raise SystemExit("index too large")
    return entries


def walk(entries, word):
    """Decodes one padded codeword as the decoder does: (length, index)."""
    padded = word + "0" * 24
    n, used = 0, 0
    entry = entries[int(padded[0:2], 2)]
    used = 2
    while entry < 1024:
        n += entry
        entry = entries[4 * n + int(padded[used:used + 2], 2)]
        used += 2
    return entry >> 10, entry & 1023


FIRST_BITS = 8


def first_level(entries):
    """The tree walk's state after FIRST_BITS / 2 levels for every prefix."""
    table = []
    for prefix in range(1 << FIRST_BITS):
        bits_ = format(prefix, "0%db" % FIRST_BITS)
        n, level = 0, 1
        entry = entries[int(bits_[0:2], 2)]
        while entry < 1024 and level < FIRST_BITS // 2:
            n += entry
            entry = entries[4 * n + int(bits_[2 * level:2 * level + 2], 2)]
            level += 1
        if entry < 1024:
            entry = n + entry  # the node the walk continues at
            if not 0 < entry < 1024:
                raise SystemExit("node number %d out of range" % entry)
        table.append(entry)
    return table


def fast_walk(entries, first, word):
    """Decodes one padded codeword through the first-level table."""
    padded = word + "0" * 32
    entry = first[int(padded[0:FIRST_BITS], 2)]
    if entry >= 1024:
        return entry >> 10, entry & 1023
    n, used = entry, FIRST_BITS
    entry = entries[4 * n + int(padded[used:used + 2], 2)]
    used += 2
    while entry < 1024:
        n += entry
        entry = entries[4 * n + int(padded[used:used + 2], 2)]
        used += 2
    return entry >> 10, entry & 1023


# Value tables: (name, dimension, modulus, offset, books).
VALUE_TABLES = [
    ("kQuadValuesSigned", 4, 3, 1, (1, 2)),
    ("kQuadValuesUnsigned", 4, 3, 0, (3, 4)),
    ("kPairValuesSigned9", 2, 9, 4, (5, 6)),
    ("kPairValuesUnsigned8", 2, 8, 0, (7, 8)),
    ("kPairValuesUnsigned13", 2, 13, 0, (9, 10)),
    ("kPairValuesUnsigned17", 2, 17, 0, (11,)),
]


def values_of(index, dim, modulus, offset):
    v = []
    for _ in range(dim):
        v.append(index % modulus - offset)
        index //= modulus
    return v[::-1]


def reciprocal(modulus):
    # 1/m rounded up in the third decimal, then truncated to Q31: the product
    # with any index of the book, shifted down by 31, is the exact quotient.
    c = Fraction(-(-1000 // modulus), 1000)
    return (c * 2 ** 31).numerator // (c * 2 ** 31).denominator


def main():
    with open(os.path.join(DATA, "scalefactor_codebook.csv")) as f:
        sf = [(int(r["index"]), bits(int(r["codeword_hex"], 16), int(r["length"])))
              for r in csv.DictReader(f)]
    spectral = {b: [] for b in BOOKS}
    with open(os.path.join(DATA, "huffman_codebooks.csv")) as f:
        for r in csv.DictReader(f):
            spectral[int(r["codebook"])].append(
                (int(r["index"]), bits(int(r["codeword_hex"], 16), int(r["length"]))))

    trees = [("kScaleFactorTree", sf)] + [("kSpectrumTree%d" % b, spectral[b]) for b in BOOKS]
    built = []
    for name, codes in trees:
        entries = build_tree(codes)
        for index, word in codes:
            if walk(entries, word) != (len(word), index):
                raise SystemExit("%s: codeword %s does not decode" % (name, word))
        first = first_level(entries)
        for index, word in codes:
            if fast_walk(entries, first, word) != (len(word), index):
                raise SystemExit("%s: codeword %s does not decode through the first level" % (name, word))
        built.append((name, entries, max(len(w) for _, w in codes), first))

    descriptors = [(1, 1, 0, built[0][2], 0, built[0][0])]
    for b, (uns, dim, lav) in BOOKS.items():
        modulus = lav + 1 if uns else 2 * lav + 1
        rec = reciprocal(modulus)
        for index, _ in spectral[b]:
            q = index
            for _ in range(dim - 1):
                if (q * rec) >> 31 != q // modulus:
                    raise SystemExit("reciprocal of %d fails at %d" % (modulus, q))
                q //= modulus
        descriptors.append((uns, dim, lav, built[b][2], rec, built[b][0]))

    values = []
    for vname, dim, modulus, offset, books in VALUE_TABLES:
        count = modulus ** dim
        for b in books:
            uns, bdim, lav = BOOKS[b]
            if (bdim, lav + 1 if uns else 2 * lav + 1, 0 if uns else lav) != (dim, modulus, offset):
                raise SystemExit("%s does not fit book %d" % (vname, b))
            if max(i for i, _ in spectral[b]) >= count:
                raise SystemExit("book %d has indices beyond %s" % (b, vname))
        values.append((vname, dim, count, [x for i in range(count) for x in values_of(i, dim, modulus, offset)]))
    value_of_book = {b: vname for vname, _, _, _, books in VALUE_TABLES for b in books}

    tool = "tools/gen_huffman_trees.py"
    with open(os.path.join(ROOT, "decoder", "huffman_trees.h"), "w") as h:
        h.write("// Generated by %s from decoder/tables/data; do not edit.\n" % tool)
        h.write("// Huffman trees of 4-way nodes (see the generator for the layout).\n")
        h.write("#pragma once\n\n#include <cstdint>\n\n")
        for name, entries, _, _ in built:
            h.write("inline constexpr int32_t %sSize = %d;\n" % (name, len(entries)))
        h.write("\n")
        for name, entries, _, _ in built:
            h.write("extern const uint16_t %s[%d];\n" % (name, len(entries)))
        h.write("\n// First level of each tree: the walk after %d bits, a leaf or the node\n" % FIRST_BITS)
        h.write("// number where it goes on (below 1024). Index 0 is the scale factor tree.\n")
        h.write("inline constexpr int32_t kFirstLevelBits = %d;\n" % FIRST_BITS)
        h.write("extern const uint16_t kFirstLevel[12][%d];\n" % (1 << FIRST_BITS))
        h.write("\n// Values of each codeword index, one signed byte per value.\n")
        for vname, dim, count, _ in values:
            h.write("extern const int8_t %s[%d];\n" % (vname, dim * count))
        h.write("// Per spectral book (0 unused): its value table.\n")
        h.write("extern const int8_t* const kSpectrumValues[12];\n")

    with open(os.path.join(ROOT, "decoder", "huffman_trees.cpp"), "w") as c:
        c.write("// Generated by %s from decoder/tables/data; do not edit.\n" % tool)
        c.write('#include "huffman_trees.h"\n\n#include "huffman.h"\n\n')
        for name, entries, _, _ in built:
            c.write("const uint16_t %s[%d] = {\n" % (name, len(entries)))
            for k in range(0, len(entries), 12):
                c.write("    " + ", ".join("%d" % e for e in entries[k:k + 12]) + ",\n")
            c.write("};\n\n")
        c.write("const uint16_t kFirstLevel[12][%d] = {\n" % (1 << FIRST_BITS))
        for name, _, _, first in built:
            c.write("    {   // %s\n" % name)
            for k in range(0, len(first), 12):
                c.write("        " + ", ".join("%d" % e for e in first[k:k + 12]) + ",\n")
            c.write("    },\n")
        c.write("};\n\n")
        for vname, dim, count, flat in values:
            c.write("const int8_t %s[%d] = {\n" % (vname, dim * count))
            per_line = 6 * dim
            for k in range(0, len(flat), per_line):
                c.write("    " + ", ".join("%d" % e for e in flat[k:k + per_line]) + ",\n")
            c.write("};\n\n")
        c.write("const int8_t* const kSpectrumValues[12] = {\n    nullptr,\n")
        for b in BOOKS:
            c.write("    %s,\n" % value_of_book[b])
        c.write("};\n\n")
        c.write("const HuffmanCodebook kCodebooks[12] = {\n")
        for uns, dim, lav, maxlen, rec, name in descriptors:
            c.write("    {%d, %d, %d, %d, 0x%08X, %s},\n" % (uns, dim, lav, maxlen, rec, name))
        c.write("};\n")


if __name__ == "__main__":
    main()
