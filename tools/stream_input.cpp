#include "stream_input.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

bool readWholeFile(const std::string& path, std::vector<uint8_t>* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    std::fclose(f);
    return true;
}

bool parseHex(const std::string& hex, std::vector<uint8_t>* out) {
    if (hex.size() % 2 != 0) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(hex.c_str() + i, "%2x", &v) != 1) return false;
        out->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

bool loadIndex(const std::string& path, StreamInput* in, std::string* error) {
    std::ifstream f(path);
    std::string line, binName;
    long declared = -1;
    while (std::getline(f, line)) {
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#') continue;
        if (key == "asc") {
            std::string hex;
            words >> hex;
            if (!parseHex(hex, &in->asc)) {
                *error = "bad asc line in " + path;
                return false;
            }
        } else if (key == "bin") {
            words >> binName;
        } else if (key == "units") {
            words >> declared;
        } else {
            char* end = nullptr;
            const unsigned long size = std::strtoul(key.c_str(), &end, 10);
            if (end == nullptr || *end != '\0') {
                *error = "bad line in " + path + ": " + line;
                return false;
            }
            in->unitSizes.push_back(static_cast<uint32_t>(size));
        }
    }
    if (binName.empty() || in->asc.empty()) {
        *error = path + " names no bin file or no asc";
        return false;
    }
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    if (!readWholeFile(dir + binName, &in->bytes)) {
        *error = "cannot read " + dir + binName;
        return false;
    }
    uint64_t total = 0;
    for (uint32_t s : in->unitSizes) total += s;
    if (total > in->bytes.size() || (declared >= 0 && static_cast<size_t>(declared) != in->unitSizes.size())) {
        *error = path + ": unit sizes do not match " + binName;
        return false;
    }
    in->form = StreamInput::kRawUnits;
    return true;
}

} // namespace

bool loadStreamInput(const std::string& path, StreamInput* in, std::string* error) {
    *in = StreamInput{};
    std::vector<uint8_t> head;
    if (!readWholeFile(path, &head)) {
        *error = "cannot read " + path;
        return false;
    }
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".idx") == 0) return loadIndex(path, in, error);
    in->bytes = std::move(head);
    if (in->bytes.size() >= 4 && std::memcmp(in->bytes.data(), "ADIF", 4) == 0) {
        in->form = StreamInput::kAdif;
    } else {
        in->form = StreamInput::kAdts; // ADTS, possibly after leading garbage
    }
    return true;
}

const char* streamFormName(StreamInput::Form form) {
    switch (form) {
    case StreamInput::kAdts: return "ADTS";
    case StreamInput::kAdif: return "ADIF";
    case StreamInput::kRawUnits: return "raw access units";
    }
    return "?";
}
