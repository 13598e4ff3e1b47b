#!/usr/bin/env python3
"""Writes decoder/sbr/sbr_tables.cpp: the SBR Huffman decoding trees, the
start-frequency offsets, the real parts of the noise table, and the small
tables of the frequency band rules.

Huffman trees: an array of node pairs of signed bytes, pair 0 the root; entry
[n][b] is the successor of pair n for bit b: a non-negative entry is the index
of the next pair, a negative one a leaf holding value - 64. Pairs are numbered
breadth first, so a child always lies after its parent.

The small tables are derived from the rules they stand for (nearest-integer
rounding of the stated quantities) and checked against the values the design
lists, so that a slip in either shows up here.

Usage: gen_sbr_tables.py [repo root]
"""
import csv
import os
import sys
from decimal import Decimal, getcontext
from fractions import Fraction

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
DATA = os.path.join(ROOT, "decoder", "tables", "data")
OUT = os.path.join(ROOT, "decoder", "sbr", "sbr_tables.cpp")
TOOL = "tools/gen_sbr_tables.py"

TREES = [
    ("t_huffman_env_1_5dB", 60), ("f_huffman_env_1_5dB", 60),
    ("t_huffman_env_bal_1_5dB", 24), ("f_huffman_env_bal_1_5dB", 24),
    ("t_huffman_env_3_0dB", 31), ("f_huffman_env_3_0dB", 31),
    ("t_huffman_env_bal_3_0dB", 12), ("f_huffman_env_bal_3_0dB", 12),
    ("t_huffman_noise_3_0dB", 31), ("t_huffman_noise_bal_3_0dB", 12),
]
PAIRS = [120, 120, 48, 48, 62, 62, 24, 24, 62, 24]

RATES = [96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000]

# CSV row label of the start offsets for each SBR rate index.
OFFSET_ROW_LABEL = [
    "fs_sbr_above_64000", "fs_sbr_above_64000",
    "fs_sbr_44100_to_64000", "fs_sbr_44100_to_64000", "fs_sbr_44100_to_64000",
    "fs_sbr_32000", "fs_sbr_24000", "fs_sbr_22050", "fs_sbr_16000",
]

# Values the design lists; the derivations below must reproduce them.
EXPECT_START_MIN = [7, 7, 10, 11, 12, 16, 16, 17, 24]
EXPECT_GOAL_SB = [21, 23, 32, 43, 46, 64, 85, 93, 128]
EXPECT_STOP = [
    [13, 15, 17, 19, 21, 24, 27, 31, 35, 39, 44, 50, 57, 64],
    [15, 17, 19, 21, 23, 26, 29, 33, 37, 41, 46, 51, 57, 64],
    [20, 22, 24, 26, 28, 31, 34, 37, 41, 45, 49, 54, 59, 64],
    [21, 23, 25, 27, 29, 32, 35, 38, 41, 45, 49, 54, 59, 64],
    [23, 25, 27, 29, 31, 34, 37, 40, 43, 47, 51, 55, 59, 64],
    [32, 34, 36, 38, 40, 42, 44, 46, 49, 52, 55, 58, 61, 64],
    [32, 34, 36, 38, 40, 42, 44, 46, 49, 52, 55, 58, 61, 64],
    [35, 36, 38, 40, 42, 44, 46, 48, 50, 52, 55, 58, 61, 64],
    [48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 60, 62, 64],
]

getcontext().prec = 60
LN2 = Decimal(2).ln()


def nint(x):
    """Nearest integer, halves upwards (all quantities here are positive)."""
    x = Fraction(x)
    return (x + Fraction(1, 2)).__floor__()


def bits(value, length):
    return format(value, "0%db" % length)


def build_tree(codes):
    """codes: {codeword bit string: value}. Returns the list of pairs."""
    for w in codes:
        for k in range(1, len(w)):
            if w[:k] in codes:
                raise SystemExit("codeword %s has prefix %s" % (w, w[:k]))
    if sum(Fraction(1, 2 ** len(w)) for w in codes) != 1:
        raise SystemExit("code is not complete")
    prefixes = {w[:k] for w in codes for k in range(len(w))}
    order = [""]
    number = {"": 0}
    pairs = []
    n = 0
    while n < len(order):
        node = []
        for b in "01":
            p = order[n] + b
            if p in codes:
                leaf = codes[p] - 64
                if not -128 <= leaf < 0:
                    raise SystemExit("leaf %d does not fit" % leaf)
                node.append(leaf)
            elif p in prefixes:
                number[p] = len(order)
                order.append(p)
                if number[p] > 127:
                    raise SystemExit("pair index too large")
                node.append(number[p])
            else:
                raise SystemExit("no codeword under %s" % p)
        pairs.append(node)
        n += 1
    return pairs


def decode(pairs, word):
    n = 0
    for i, b in enumerate(word):
        e = pairs[n][int(b)]
        if e < 0:
            return (e + 64, i + 1)
        n = e
    return None


def huffman_trees():
    tables = {name: {} for name, _ in TREES}
    with open(os.path.join(DATA, "sbr_huffman.csv")) as f:
        for r in csv.DictReader(f):
            name = r["table_name"]
            word = bits(int(r["codeword_hex"], 16), int(r["length"]))
            if word in tables[name]:
                raise SystemExit("%s: duplicate codeword" % name)
            tables[name][word] = int(r["value"])
    out = []
    for (name, lav), expect in zip(TREES, PAIRS):
        codes = tables[name]
        if sorted(codes.values()) != list(range(-lav, lav + 1)):
            raise SystemExit("%s: values are not -%d..%d" % (name, lav, lav))
        pairs = build_tree(codes)
        if len(pairs) != expect:
            raise SystemExit("%s: %d pairs, expected %d" % (name, len(pairs), expect))
        for word, value in codes.items():
            if decode(pairs, word) != (value, len(word)):
                raise SystemExit("%s: %s does not decode" % (name, word))
        out.append((name, pairs))
    return out


def start_offsets():
    rows = {}
    with open(os.path.join(DATA, "sbr_start_offsets.csv")) as f:
        for r in csv.DictReader(f):
            rows[r["row_label"]] = [int(v) for v in r["offsets"].split()]
    labels = list(rows)
    if len(labels) != 6 or any(len(v) != 16 for v in rows.values()):
        raise SystemExit("start offsets are not 6 x 16")
    row_of = [labels.index(label) for label in OFFSET_ROW_LABEL]
    return labels, [rows[label] for label in labels], row_of


def small_tables():
    start_min, stop_min, goal = [], [], []
    for fs in RATES:
        if fs < 32000:
            lo, hi = 3000, 6000
        elif fs < 64000:
            lo, hi = 4000, 8000
        else:
            lo, hi = 5000, 10000
        start_min.append(nint(Fraction(lo * 128, fs)))
        stop_min.append(nint(Fraction(hi * 128, fs)))
        goal.append(nint(Fraction(2048000, fs)))
    stop = []
    for smin in stop_min:
        edges = [nint(Decimal(smin) * (Decimal(64) / smin) ** (Decimal(i) / 13)) for i in range(14)]
        dk = sorted(edges[i + 1] - edges[i] for i in range(13))
        stop.append([min(64, smin + sum(dk[:n])) for n in range(14)])
    if start_min != EXPECT_START_MIN or goal != EXPECT_GOAL_SB or stop != EXPECT_STOP:
        raise SystemExit("small tables disagree with the listed values")

    log2_odd = [nint((Decimal(2 * i + 1).ln() / LN2) * 2 ** 29) for i in range(32)]
    if log2_odd[1] != 850920263:
        raise SystemExit("log2(3) in Q29 is %d" % log2_odd[1])
    pow2 = [min(65535, nint((Decimal(i) / 64 * LN2).exp() * 32768)) for i in range(65)]
    reciprocal = [nint(Fraction(128, n)) for n in range(1, 6)]
    return start_min, stop, goal, reciprocal, log2_odd, pow2


def noise_table():
    real = []
    with open(os.path.join(DATA, "sbr_noise_table.csv")) as f:
        for r in csv.DictReader(f):
            if int(r["index"]) != len(real):
                raise SystemExit("noise table out of order")
            v = Fraction(r["real"]) * 32768
            q = nint(v) if v >= 0 else -nint(-v)
            real.append(max(-32768, min(32767, q)))
    if len(real) != 512 or real[:3] != [-32751, 31822, 4630]:
        raise SystemExit("noise table does not start as expected")
    return real


def rows_of(values, per_line, fmt="%d"):
    return "".join("    " + ", ".join(fmt % v for v in values[k:k + per_line]) + ",\n"
                   for k in range(0, len(values), per_line))


def main():
    trees = huffman_trees()
    labels, offsets, row_of = start_offsets()
    start_min, stop, goal, reciprocal, log2_odd, pow2 = small_tables()
    noise = noise_table()

    with open(OUT, "w") as c:
        c.write("// Generated by %s from decoder/tables/data; do not edit.\n" % TOOL)
        c.write('#include "sbr/sbr_tables.h"\n\n')
        for i, (name, pairs) in enumerate(trees):
            c.write("const int8_t %s[%d][2] = {\n" % (name, len(pairs)))
            flat = ["{%d, %d}" % (a, b) for a, b in pairs]
            c.write(rows_of(flat, 8, "%s"))
            c.write("};\n")
            c.write("static_assert(sizeof(%s) / 2 == kSbrHuffmanPairs[%d]);\n\n" % (name, i))

        c.write("// Rows: %s.\n" % ", ".join(labels))
        c.write("const int8_t kSbrStartOffset[6][16] = {\n")
        for row in offsets:
            c.write("    {" + ", ".join("%d" % v for v in row) + "},\n")
        c.write("};\n\n")
        c.write("const uint8_t kSbrStartOffsetRow[9] = {%s};\n" % ", ".join(map(str, row_of)))
        c.write("const uint8_t kSbrStartMin[9] = {%s};\n\n" % ", ".join(map(str, start_min)))
        c.write("const uint8_t kSbrStopTable[9][14] = {\n")
        for row in stop:
            c.write("    {" + ", ".join(map(str, row)) + "},\n")
        c.write("};\n\n")
        c.write("const uint8_t kSbrGoalSb[9] = {%s};\n" % ", ".join(map(str, goal)))
        c.write("const uint8_t kSbrNoiseReciprocal[5] = {%s};\n" % ", ".join(map(str, reciprocal)))
        c.write("const uint8_t kSbrBandsPerOctave[3] = {12, 10, 8};\n\n")
        c.write("const uint32_t kSbrLog2Odd[32] = {\n" + rows_of(log2_odd, 6, "%du") + "};\n\n")
        c.write("const uint16_t kSbrPow2Table[65] = {\n" + rows_of(pow2, 12) + "};\n\n")
        c.write("const int16_t kSbrNoiseTableReal[512] = {\n" + rows_of(noise, 12) + "};\n")


if __name__ == "__main__":
    main()
