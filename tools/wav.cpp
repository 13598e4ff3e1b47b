#include "wav.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

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

WavWriter::~WavWriter() { abandon(); }

bool WavWriter::open(const std::string& path, std::string* error) {
    path_ = path;
    if (path == "-") {
        toStdout_ = true;
        f_ = stdout;
        struct stat st {};
        seekable_ = fstat(fileno(stdout), &st) == 0 && S_ISREG(st.st_mode);
        return true;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            *error = "cannot write " + path + ": it is a folder";
            return false;
        }
        if (access(path.c_str(), W_OK) != 0) {
            *error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = dir + "." + base + ".partXXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; the result gets the usual mode.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    temp_ = pattern;
    f_ = fdopen(fd, "wb");
    if (f_ == nullptr) {
        close(fd);
        abandon();
        *error = "cannot write " + path;
        return false;
    }
    seekable_ = true;
    return true;
}

bool WavWriter::writeHeader(uint32_t riffSize, uint32_t dataSize) {
    std::vector<uint8_t> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    put32(&h, riffSize);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(&h, 16);
    put16(&h, 1);
    put16(&h, static_cast<uint32_t>(channels_));
    put32(&h, static_cast<uint32_t>(rate_));
    put32(&h, static_cast<uint32_t>(rate_ * channels_ * 2));
    put16(&h, static_cast<uint32_t>(channels_ * 2));
    put16(&h, 16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    put32(&h, dataSize);
    return std::fwrite(h.data(), 1, h.size(), f_) == h.size();
}

bool WavWriter::begin(int32_t channels, int32_t sampleRate) {
    if (f_ == nullptr) return false;
    channels_ = channels;
    rate_ = sampleRate;
    // A regular file given as standard output may already hold something.
    if (toStdout_ && seekable_) {
        const long at = std::ftell(f_);
        if (at < 0) seekable_ = false;
        else headerAt_ = at;
    }
    // Until patched, the sizes say "unknown": what a pipe keeps.
    if (!writeHeader(0xFFFFFFFFu, 0xFFFFFFFFu)) failed_ = true;
    return !failed_;
}

bool WavWriter::write(const int16_t* samples, size_t count) {
    if (f_ == nullptr || failed_) return false;
    if constexpr (std::endian::native == std::endian::little) {
        failed_ = std::fwrite(samples, 2, count, f_) != count;
    } else {
        uint8_t block[4096];
        for (size_t i = 0; i < count && !failed_;) {
            size_t n = 0;
            for (; n < sizeof block / 2 && i < count; ++n, ++i) {
                block[2 * n] = static_cast<uint8_t>(samples[i]);
                block[2 * n + 1] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) >> 8);
            }
            failed_ = std::fwrite(block, 1, 2 * n, f_) != 2 * n;
        }
    }
    dataBytes_ += 2 * static_cast<uint64_t>(count);
    return !failed_;
}

bool WavWriter::finish(std::string* error) {
    if (f_ == nullptr) {
        *error = "no output open";
        return false;
    }
    if (!failed_ && seekable_) {
        // Sizes beyond 32 bits cannot be told; they stay "unknown".
        const uint64_t riff = 36 + dataBytes_;
        const uint32_t riffSize = riff > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(riff);
        const uint32_t dataSize = dataBytes_ > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu : static_cast<uint32_t>(dataBytes_);
        if (std::fflush(f_) != 0 || std::fseek(f_, headerAt_, SEEK_SET) != 0 ||
            !writeHeader(riffSize, dataSize) || std::fseek(f_, 0, SEEK_END) != 0)
            failed_ = true;
    }
    if (std::fflush(f_) != 0) failed_ = true;
    if (toStdout_) {
        f_ = nullptr;
        if (failed_) *error = std::string("cannot write to standard output: ") + std::strerror(errno);
        return !failed_;
    }
    if (std::fclose(f_) != 0) failed_ = true;
    f_ = nullptr;
    if (failed_ || std::rename(temp_.c_str(), path_.c_str()) != 0) {
        *error = "cannot write " + path_ + ": " + std::strerror(errno);
        abandon();
        return false;
    }
    temp_.clear();
    return true;
}

void WavWriter::abandon() {
    if (f_ != nullptr && !toStdout_) std::fclose(f_);
    f_ = nullptr;
    if (!temp_.empty()) {
        std::remove(temp_.c_str());
        temp_.clear();
    }
}
