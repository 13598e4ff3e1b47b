#include "wav.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace {

void put16(std::vector<uint8_t>* b, uint32_t v) {
    b->push_back(static_cast<uint8_t>(v));
    b->push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>* b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
uint32_t get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t get32(const uint8_t* p) { return get16(p) | (get16(p + 2) << 16); }

} // namespace

bool writeWav(const std::string& path, const std::vector<int16_t>& pcm, int32_t channels,
              int32_t sampleRate) {
    const uint32_t dataBytes = static_cast<uint32_t>(pcm.size() * 2);
    std::vector<uint8_t> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    put32(&h, 36 + dataBytes);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(&h, 16);
    put16(&h, 1);
    put16(&h, static_cast<uint32_t>(channels));
    put32(&h, static_cast<uint32_t>(sampleRate));
    put32(&h, static_cast<uint32_t>(sampleRate * channels * 2));
    put16(&h, static_cast<uint32_t>(channels * 2));
    put16(&h, 16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    put32(&h, dataBytes);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    if constexpr (std::endian::native == std::endian::little) {
        // The samples are already in the file's byte order: one block.
        ok = ok && std::fwrite(pcm.data(), 2, pcm.size(), f) == pcm.size();
    } else {
        std::vector<uint8_t> data(pcm.size() * 2);
        for (size_t i = 0; i < pcm.size(); ++i) {
            data[2 * i] = static_cast<uint8_t>(pcm[i]);
            data[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
        }
        ok = ok && std::fwrite(data.data(), 1, data.size(), f) == data.size();
    }
    return std::fclose(f) == 0 && ok;
}

bool readWav(const std::string& path, std::vector<int16_t>* pcm, int32_t* channels,
             int32_t* sampleRate) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<uint8_t> b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return false;
    size_t at = 12;
    bool haveFormat = false;
    while (at + 8 <= b.size()) {
        const uint32_t size = get32(&b[at + 4]);
        const size_t body = at + 8;
        if (body + size > b.size() && std::memcmp(&b[at], "data", 4) != 0) return false;
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && size >= 16) {
            // Plain PCM, or the extensible form (tag 0xFFFE) that high rates use.
            const uint32_t tag = get16(&b[body]);
            if ((tag != 1 && tag != 0xFFFE) || get16(&b[body + 14]) != 16) return false;
            *channels = static_cast<int32_t>(get16(&b[body + 2]));
            *sampleRate = static_cast<int32_t>(get32(&b[body + 4]));
            haveFormat = true;
        } else if (std::memcmp(&b[at], "data", 4) == 0 && haveFormat) {
            const size_t avail = std::min<size_t>(size, b.size() - body) / 2;
            pcm->resize(avail);
            for (size_t i = 0; i < avail; ++i)
                (*pcm)[i] = static_cast<int16_t>(get16(&b[body + 2 * i]));
            return true;
        }
        at = body + size + (size & 1);
    }
    return false;
}
