// MSB-first bit writer for building test bitstreams.
#pragma once

#include <cstdint>
#include <vector>

struct BitWriter {
    std::vector<uint8_t> bytes;
    int64_t bits = 0;

    void put(uint32_t value, int32_t n) {
        for (int32_t i = n - 1; i >= 0; --i) {
            if (bits % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
            ++bits;
        }
    }
    void align() {
        while (bits % 8 != 0) put(0, 1);
    }
};
