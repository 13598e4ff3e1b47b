#include "stream_reader.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

#include "mp4_module.h"
#include "unit_index.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

uint64_t fileSize(FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return 0;
    const long n = std::ftell(f);
    std::rewind(f);
    return n > 0 ? static_cast<uint64_t>(n) : 0;
}

bool endsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

class ByteFileReader final : public StreamReader {
public:
    ByteFileReader(File f, Form form, uint64_t size) : f_(std::move(f)), size_(size) { form_ = form; }
    size_t read(uint8_t* dst, size_t n) override {
        const size_t got = std::fread(dst, 1, n, f_.get());
        if (got < n && std::ferror(f_.get())) error_ = std::strerror(errno);
        done_ += got;
        return got;
    }
    bool nextUnit(std::vector<uint8_t>*) override { return false; }
    uint64_t done() const override { return done_; }
    uint64_t total() const override { return size_; }

private:
    File f_;
    uint64_t size_;
    uint64_t done_ = 0;
};

// Raw access units read one at a time from the unit file an index names.
class IndexReader final : public StreamReader {
public:
    bool open(const std::string& path, std::string* error) {
        UnitIndex index;
        if (!parseUnitIndex(path, &index, error)) return false;
        bin_.reset(std::fopen(index.binPath.c_str(), "rb"));
        if (!bin_) {
            *error = "cannot read " + index.binPath;
            return false;
        }
        if (index.totalBytes > fileSize(bin_.get())) {
            *error = path + ": unit sizes do not match " + index.binPath;
            return false;
        }
        asc_ = std::move(index.asc);
        sizes_ = std::move(index.unitSizes);
        form_ = kRawUnits;
        return true;
    }
    size_t read(uint8_t*, size_t) override { return 0; }
    bool nextUnit(std::vector<uint8_t>* unit) override {
        if (next_ >= sizes_.size()) return false;
        unit->resize(sizes_[next_]);
        if (std::fread(unit->data(), 1, unit->size(), bin_.get()) != unit->size()) {
            error_ = "short read of the unit file";
            return false;
        }
        ++next_;
        return true;
    }
    uint64_t done() const override { return next_; }
    uint64_t total() const override { return sizes_.size(); }
    uint64_t declaredUnits() const override { return sizes_.size(); }

private:
    File bin_;
    std::vector<uint32_t> sizes_;
    size_t next_ = 0;
};

// The MP4 module sits beside the executable (build tree) or in the install's
// library directory; loaded once, on the first MP4 input, and kept.
const SonadecMp4Module* loadMp4Module(std::string* whyNot) {
    static const SonadecMp4Module* module = nullptr;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        failure = "MP4 input is not available in this build";
        std::string dir;
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            dir.assign(exe, static_cast<size_t>(n));
            dir.erase(dir.rfind('/') + 1);
        }
        const std::string candidates[] = {dir + SONADEC_MP4_MODULE_NAME, dir + "../lib/" SONADEC_MP4_MODULE_NAME,
                                          dir + "../" SONADEC_MP4_LIBDIR "/" SONADEC_MP4_MODULE_NAME};
        for (const std::string& path : candidates) {
            if (dir.empty()) break;
            void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (h == nullptr) continue;
            auto entry = reinterpret_cast<SonadecMp4Entry>(dlsym(h, SONADEC_MP4_ENTRY));
            const SonadecMp4Module* m = entry != nullptr ? entry() : nullptr;
            if (m != nullptr && m->abi == SONADEC_MP4_ABI) {
                module = m;
                break;
            }
            failure = "MP4 input is not available in this build (" + path + " does not match this tool)";
            dlclose(h);
        }
    }
    if (module == nullptr && whyNot != nullptr) *whyNot = failure;
    return module;
}

class Mp4Reader final : public StreamReader {
public:
    explicit Mp4Reader(const SonadecMp4Module* api) : api_(api) {}
    ~Mp4Reader() override {
        if (m_ != nullptr) api_->close(m_);
    }
    bool open(File f, uint64_t size, std::string* error) {
        f_ = std::move(f);
        form_ = kMp4;
        char why[256];
        m_ = api_->open(
            [](void* fp, uint8_t* dst, size_t n) { return std::fread(dst, 1, n, static_cast<FILE*>(fp)); },
            [](void* fp, uint64_t at) -> int {
                return at <= static_cast<uint64_t>(LONG_MAX) &&
                       std::fseek(static_cast<FILE*>(fp), static_cast<long>(at), SEEK_SET) == 0;
            },
            f_.get(), size, why, sizeof why);
        if (m_ == nullptr) {
            *error = why;
            return false;
        }
        size_t n = 0;
        const uint8_t* asc = api_->config(m_, &n);
        asc_.assign(asc, asc + n);
        units_ = api_->unitCount(m_);
        return true;
    }
    size_t read(uint8_t*, size_t) override { return 0; }
    bool nextUnit(std::vector<uint8_t>* unit) override {
        const uint8_t* data = nullptr;
        size_t n = 0;
        const int rc = api_->nextUnit(m_, &data, &n);
        if (rc <= 0) {
            if (rc < 0) error_ = api_->lastError(m_);
            return false;
        }
        unit->assign(data, data + n);
        ++done_;
        return true;
    }
    uint64_t done() const override { return done_; }
    uint64_t total() const override { return units_ ? units_ : done_ + 1; }
    uint64_t declaredUnits() const override { return units_; }

private:
    const SonadecMp4Module* api_;
    SonadecMp4* m_ = nullptr;
    File f_;
    uint64_t units_ = 0;
    uint64_t done_ = 0;
};

// The first bytes of an ISO base media file: a top-level box type the MP4
// family starts with.
bool looksLikeMp4(const uint8_t* head, size_t n) {
    if (n < 8) return false;
    static const char* const kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot"};
    for (const char* t : kTypes)
        if (std::memcmp(head + 4, t, 4) == 0) return true;
    return false;
}

class MemoryReader final : public StreamReader {
public:
    explicit MemoryReader(const StreamInput& in) : in_(in) {
        form_ = in.form == StreamInput::kAdts ? kAdts : in.form == StreamInput::kAdif ? kAdif : kRawUnits;
        asc_ = in.asc;
    }
    size_t read(uint8_t* dst, size_t n) override {
        if (unitForm()) return 0;
        const size_t left = in_.bytes.size() - at_;
        if (n > left) n = left;
        std::memcpy(dst, in_.bytes.data() + at_, n);
        at_ += n;
        return n;
    }
    bool nextUnit(std::vector<uint8_t>* unit) override {
        if (!unitForm() || unit_ >= in_.unitSizes.size()) return false;
        const size_t n = in_.unitSizes[unit_++];
        unit->assign(in_.bytes.begin() + static_cast<std::ptrdiff_t>(at_),
                     in_.bytes.begin() + static_cast<std::ptrdiff_t>(at_ + n));
        at_ += n;
        return true;
    }
    uint64_t done() const override { return unitForm() ? unit_ : at_; }
    uint64_t total() const override { return unitForm() ? in_.unitSizes.size() : in_.bytes.size(); }
    uint64_t declaredUnits() const override { return unitForm() ? in_.unitSizes.size() : 0; }

private:
    const StreamInput& in_;
    size_t at_ = 0;
    size_t unit_ = 0;
};

} // namespace

std::unique_ptr<StreamReader> openStreamReader(const std::string& path, std::string* error) {
    if (endsWith(path, ".idx")) {
        auto r = std::make_unique<IndexReader>();
        if (!r->open(path, error)) return nullptr;
        return r;
    }
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const uint64_t size = fileSize(f.get());
    uint8_t head[8] = {};
    const size_t n = std::fread(head, 1, sizeof head, f.get());
    std::rewind(f.get());
    if (n == 0) {
        *error = path + " is empty";
        return nullptr;
    }
    if (n >= 4 && std::memcmp(head, "ADIF", 4) == 0)
        return std::make_unique<ByteFileReader>(std::move(f), StreamReader::kAdif, size);
    if (looksLikeMp4(head, n)) {
        std::string why;
        const SonadecMp4Module* api = loadMp4Module(&why);
        if (api == nullptr) {
            *error = path + ": " + why;
            return nullptr;
        }
        auto r = std::make_unique<Mp4Reader>(api);
        if (!r->open(std::move(f), size, &why)) {
            *error = path + ": " + why;
            return nullptr;
        }
        return r;
    }
    // ADTS, possibly after leading garbage; whether it is AAC at all is
    // settled when the stream is configured.
    return std::make_unique<ByteFileReader>(std::move(f), StreamReader::kAdts, size);
}

std::unique_ptr<StreamReader> memoryStreamReader(const StreamInput& in) { return std::make_unique<MemoryReader>(in); }

const char* streamReaderFormName(StreamReader::Form form) {
    switch (form) {
    case StreamReader::kAdts: return "ADTS";
    case StreamReader::kAdif: return "ADIF";
    case StreamReader::kRawUnits: return "raw access units";
    case StreamReader::kMp4: return "MP4 (first AAC track)";
    }
    return "?";
}

bool mp4InputSupported() { return loadMp4Module(nullptr) != nullptr; }
