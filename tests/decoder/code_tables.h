// The standard's Huffman code tables, read from the CSV copies in the repo
// (not from the generated trees) for independent checks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

struct Code {
    int32_t index;
    uint32_t word;
    int32_t length;
};

// book 0 = scale factor codebook, 1..11 spectral books.
inline std::vector<Code> loadBook(int32_t book) {
    const std::string file = book == 0 ? "scalefactor_codebook.csv" : "huffman_codebooks.csv";
    std::vector<Code> codes;
    FILE* f = std::fopen((std::string(SONADEC_TABLE_DATA) + "/" + file).c_str(), "r");
    if (f == nullptr) return codes;
    char line[256];
    std::fgets(line, sizeof(line), f); // header
    while (std::fgets(line, sizeof(line), f) != nullptr) {
        char* p = line;
        int32_t b = 0;
        if (book != 0) b = static_cast<int32_t>(std::strtol(p, &p, 10)), ++p;
        Code c;
        c.index = static_cast<int32_t>(std::strtol(p, &p, 10));
        c.word = static_cast<uint32_t>(std::strtoul(p + 1, &p, 16));
        c.length = static_cast<int32_t>(std::strtol(p + 1, &p, 10));
        if (b == book) codes.push_back(c);
    }
    std::fclose(f);
    return codes;
}

inline Code codeOf(const std::vector<Code>& codes, int32_t index) {
    for (const Code& c : codes)
        if (c.index == index) return c;
    return Code{};
}

