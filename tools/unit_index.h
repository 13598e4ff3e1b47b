// The index form of raw access units: an .idx text file with the
// AudioSpecificConfig ("asc HEX"), the unit file ("bin NAME", beside the
// index), an optional unit count ("units N") and one unit length per line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct UnitIndex {
    std::vector<uint8_t> asc;
    std::vector<uint32_t> unitSizes;
    std::string binPath; // the unit file, resolved against the index's folder
    uint64_t totalBytes = 0;
};

// Largest unit length accepted: far above any AAC access unit, small enough
// that a hostile index cannot make a reader allocate without bound.
constexpr uint32_t kMaxUnitBytes = 1u << 20;

// Parses the index at `path`. Fails (with *error set) on unreadable files,
// bad lines, a missing asc or bin, a count that disagrees with the lines, or
// no units at all. The unit file itself is not opened.
bool parseUnitIndex(const std::string& path, UnitIndex* index, std::string* error);
