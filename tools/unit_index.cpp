#include "unit_index.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

bool parseHex(const std::string& hex, std::vector<uint8_t>* out) {
    if (hex.empty() || hex.size() % 2 != 0) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(hex.c_str() + i, "%2x", &v) != 1) return false;
        out->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

} // namespace

bool parseUnitIndex(const std::string& path, UnitIndex* index, std::string* error) {
    *index = UnitIndex{};
    std::ifstream f(path);
    if (!f) {
        *error = "cannot read " + path;
        return false;
    }
    std::string line, binName;
    long declared = -1;
    while (std::getline(f, line)) {
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#') continue;
        if (key == "asc") {
            std::string hex;
            words >> hex;
            if (!parseHex(hex, &index->asc)) {
                *error = path + ": bad asc line";
                return false;
            }
        } else if (key == "bin") {
            words >> binName;
        } else if (key == "units") {
            words >> declared;
        } else {
            char* end = nullptr;
            const unsigned long size = std::strtoul(key.c_str(), &end, 10);
            if (end == nullptr || *end != '\0' || key[0] == '-' || size > kMaxUnitBytes) {
                *error = path + ": bad line: " + line;
                return false;
            }
            index->unitSizes.push_back(static_cast<uint32_t>(size));
            index->totalBytes += size;
        }
    }
    if (binName.empty() || index->asc.empty()) {
        *error = path + " names no bin file or no asc";
        return false;
    }
    if (declared >= 0 && static_cast<size_t>(declared) != index->unitSizes.size()) {
        *error = path + ": declares " + std::to_string(declared) + " units and lists " +
                 std::to_string(index->unitSizes.size());
        return false;
    }
    if (index->unitSizes.empty()) {
        *error = path + " lists no access units";
        return false;
    }
    const size_t slash = path.find_last_of('/');
    index->binPath = (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + binName;
    return true;
}
