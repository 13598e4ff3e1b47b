#include "stream_input.h"

#include <cstdio>
#include <cstring>

#include "unit_index.h"

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

bool loadIndex(const std::string& path, StreamInput* in, std::string* error) {
    UnitIndex index;
    if (!parseUnitIndex(path, &index, error)) return false;
    if (!readWholeFile(index.binPath, &in->bytes)) {
        *error = "cannot read " + index.binPath;
        return false;
    }
    if (index.totalBytes > in->bytes.size()) {
        *error = path + ": unit sizes do not match " + index.binPath;
        return false;
    }
    in->asc = std::move(index.asc);
    in->unitSizes = std::move(index.unitSizes);
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
