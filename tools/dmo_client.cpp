#include "dmo_client.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "aacdec.h"
#include "mediaobj.h"
#include "stream_reader.h"

namespace {

const GUID kSubtypeAsc = {0x0000A106, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kSubtypeAscAndUnit = {0xF8C0A945, 0x71A6, 0x431B, {0x90, 0x56, 0x83, 0xA8, 0x4C, 0xCF, 0xCF, 0x50}};
const int32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

// An input or output buffer of fixed capacity.
class MemoryBuffer final : public UnknownImpl<IMediaBuffer, IID_IMediaBuffer> {
public:
    static MemoryBuffer* create(size_t capacity) {
        MemoryBuffer* b = new (std::nothrow) MemoryBuffer;
        if (b == nullptr) return nullptr;
        b->bytes_ = new (std::nothrow) BYTE[capacity ? capacity : 1];
        if (b->bytes_ == nullptr) {
            delete b;
            return nullptr;
        }
        b->max_ = static_cast<DWORD>(capacity);
        return b;
    }
    STDMETHOD(SetLength)(DWORD length) override {
        if (length > max_) return E_INVALIDARG;
        length_ = length;
        return S_OK;
    }
    STDMETHOD(GetMaxLength)(DWORD* maxLength) override {
        if (maxLength == nullptr) return E_POINTER;
        *maxLength = max_;
        return S_OK;
    }
    STDMETHOD(GetBufferAndLength)(BYTE** buffer, DWORD* length) override {
        if (buffer == nullptr && length == nullptr) return E_POINTER;
        if (buffer != nullptr) *buffer = bytes_;
        if (length != nullptr) *length = length_;
        return S_OK;
    }
    BYTE* data() { return bytes_; }
private:
    MemoryBuffer() = default;
    ~MemoryBuffer() override { delete[] bytes_; }
    BYTE* bytes_ = nullptr;
    DWORD max_ = 0;
    DWORD length_ = 0;
};

template <class T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p != nullptr) p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
};

std::vector<uint8_t> makeAsc(int32_t profile, int32_t srIndex, int32_t channels) {
    const uint32_t aot = static_cast<uint32_t>(profile + 1);
    const uint32_t bits = (aot << 11) | (static_cast<uint32_t>(srIndex) << 7) | (static_cast<uint32_t>(channels) << 3);
    return {static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
}

int32_t rateIndex(int32_t rate) {
    for (int32_t i = 0; i < 12; ++i)
        if (kRates[i] == rate) return i;
    return -1;
}

std::string hex(HRESULT hr) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(hr));
    return b;
}

} // namespace

bool prepareMediaObjectInput(const StreamInput& in, MediaObjectInput* out, std::string* error) {
    *out = MediaObjectInput{};
    const std::vector<uint8_t>& b = in.bytes;
    if (in.form == StreamInput::kRawUnits) {
        if (in.unitSizes.empty()) {
            *error = "no access units";
            return false;
        }
        AacStreamConfig cfg{};
        int32_t n = static_cast<int32_t>(in.asc.size());
        if (AacDecParseConfig(in.asc.data(), &n, &cfg, 0) != AAC_DEC_OK) {
            *error = "unsupported AudioSpecificConfig";
            return false;
        }
        size_t total = 0;
        for (uint32_t s : in.unitSizes) total += s;
        out->asc = in.asc;
        out->firstUnit.assign(b.begin(), b.begin() + in.unitSizes[0]);
        out->payload.assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(total));
        out->channels = cfg.channels;
        out->sampleRate = cfg.sampleRate;
        return true;
    }
    if (in.form == StreamInput::kAdif) {
        AacStreamConfig cfg{};
        int32_t n = static_cast<int32_t>(b.size());
        if (AacDecParseConfig(b.data(), &n, &cfg, 1) != AAC_DEC_OK || n <= 0 || static_cast<size_t>(n) > b.size()) {
            *error = "unsupported ADIF header";
            return false;
        }
        out->asc = makeAsc(cfg.profile, rateIndex(cfg.sampleRate), cfg.channels);
        out->payload.assign(b.begin() + n, b.end());
        const size_t unit = out->payload.size() < 8192 ? out->payload.size() : 8192;
        out->firstUnit.assign(out->payload.begin(), out->payload.begin() + static_cast<std::ptrdiff_t>(unit));
        out->channels = cfg.channels;
        out->sampleRate = cfg.sampleRate;
        return true;
    }
    // ADTS: the decoder keys its framing on the first bytes, so start the
    // stream at the first header.
    size_t start = 0;
    while (start + 7 <= b.size() && !(b[start] == 0xFF && (b[start + 1] & 0xF6) == 0xF0)) ++start;
    if (start + 7 > b.size()) {
        *error = "no ADTS header";
        return false;
    }
    const uint8_t* h = b.data() + start;
    const int32_t profile = h[2] >> 6;
    const int32_t srIndex = (h[2] >> 2) & 0x0F;
    int32_t channels = ((h[2] & 1) << 2) | (h[3] >> 6);
    const size_t frameLength = static_cast<size_t>(((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5));
    const size_t headerLength = (h[1] & 1) ? 7 : 9;
    if (srIndex > 11 || (profile != 1 && profile != 3)) {
        *error = "unsupported ADTS stream (profile or rate)";
        return false;
    }
    if (channels == 0) {
        AacStreamConfig cfg{};
        int32_t n = static_cast<int32_t>(b.size() - start);
        if (AacDecParseConfigProbe(h, &n, &cfg, 1, nullptr, 0) != AAC_DEC_OK) {
            *error = "cannot find the channel count of the ADTS stream";
            return false;
        }
        channels = cfg.channels;
    }
    out->asc = makeAsc(profile, srIndex, channels);
    out->payload.assign(b.begin() + static_cast<std::ptrdiff_t>(start), b.end());
    if (frameLength > headerLength && start + frameLength <= b.size())
        out->firstUnit.assign(h + headerLength, h + frameLength);
    out->channels = channels;
    out->sampleRate = kRates[srIndex];
    return true;
}

namespace {

// The bytes handed to the media object: the head read for the set-up, then
// the rest of the stream (byte forms) or its units back to back.
class PayloadFeed {
public:
    PayloadFeed(StreamReader& r, std::vector<uint8_t> head) : r_(r), pending_(std::move(head)) {}
    // Fills up to `n` bytes; fewer only at the end.
    size_t fill(uint8_t* dst, size_t n) {
        size_t got = 0;
        while (got < n) {
            if (at_ == pending_.size()) {
                at_ = 0;
                pending_.clear();
                if (r_.unitForm()) {
                    if (!r_.nextUnit(&pending_)) break;
                } else {
                    pending_.resize(n - got);
                    pending_.resize(r_.read(pending_.data(), pending_.size()));
                    if (pending_.empty()) break;
                }
            }
            const size_t take = std::min(n - got, pending_.size() - at_);
            std::memcpy(dst + got, pending_.data() + at_, take);
            at_ += take;
            got += take;
        }
        return got;
    }

private:
    StreamReader& r_;
    std::vector<uint8_t> pending_;
    size_t at_ = 0;
};

// Reads what the set-up needs: for byte forms the first 64 KiB, for unit
// forms the first unit; returns it as the in-memory form prepareMediaObjectInput takes.
bool readHead(StreamReader& r, StreamInput* head, std::string* error) {
    *head = StreamInput{};
    if (r.unitForm()) {
        head->form = StreamInput::kRawUnits;
        head->asc = r.asc();
        if (!r.nextUnit(&head->bytes)) {
            *error = r.error().empty() ? "no access units" : r.error();
            return false;
        }
        head->unitSizes.push_back(static_cast<uint32_t>(head->bytes.size()));
        return true;
    }
    head->form = r.form() == StreamReader::kAdif ? StreamInput::kAdif : StreamInput::kAdts;
    head->bytes.resize(1 << 16);
    size_t got = 0;
    while (got < head->bytes.size()) {
        const size_t n = r.read(head->bytes.data() + got, head->bytes.size() - got);
        if (n == 0) break;
        got += n;
    }
    head->bytes.resize(got);
    return true;
}

class CollectingSink final : public PcmSink {
public:
    explicit CollectingSink(std::vector<int16_t>* pcm) : pcm_(pcm) {}
    bool begin(int32_t, int32_t) override { return true; }
    bool write(const int16_t* s, size_t n) override {
        pcm_->insert(pcm_->end(), s, s + n);
        return true;
    }

private:
    std::vector<int16_t>* pcm_;
};

} // namespace

bool decodeWithMediaObject(const StreamInput& in, size_t inputBufferSize, bool useProbeSubtype, MediaObjectAudio* out,
                           std::string* error, const DecodeProgress& progress) {
    *out = MediaObjectAudio{};
    auto reader = memoryStreamReader(in);
    CollectingSink sink(&out->pcm);
    StreamDecodeStats stats;
    struct Relay {
        const DecodeProgress* p;
        size_t total;
    } relay{&progress, in.bytes.size()};
    StreamProgress relayProgress = nullptr;
    if (progress)
        relayProgress = [](uint64_t done, uint64_t total, void* user) {
            auto* r = static_cast<Relay*>(user);
            (*r->p)(static_cast<size_t>(done), static_cast<size_t>(total));
        };
    const bool ok = decodeStreamWithMediaObject(*reader, inputBufferSize, useProbeSubtype, sink, &stats, error,
                                                relayProgress, &relay);
    out->sampleRate = stats.sampleRate;
    out->channels = stats.channels;
    out->frames = stats.frames;
    out->failedFrames = stats.failedFrames;
    return ok;
}

bool decodeStreamWithMediaObject(StreamReader& reader, size_t inputBufferSize, bool useProbeSubtype, PcmSink& sink,
                                 StreamDecodeStats* stats, std::string* error, StreamProgress progress,
                                 void* progressUser) {
    *stats = StreamDecodeStats{};
    if (inputBufferSize == 0) {
        *error = "input buffer size 0";
        return false;
    }
    StreamInput head;
    if (!readHead(reader, &head, error)) return false;
    MediaObjectInput mi;
    if (!prepareMediaObjectInput(head, &mi, error)) return false;
    if (mi.channels < 1 || mi.channels > 2) {
        *error = "the media object takes mono or stereo streams only";
        return false;
    }
    if (mi.asc.size() + mi.firstUnit.size() > 0xFFFF) {
        *error = "configuration and first unit too long for a format block";
        return false;
    }

    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    struct Uninit {
        bool on;
        ~Uninit() {
            if (on) CoUninitialize();
        }
    } uninit{SUCCEEDED(init)};

    const GUID& subtype = useProbeSubtype ? kSubtypeAscAndUnit : kSubtypeAsc;
    const DMO_PARTIAL_MEDIATYPE wanted = {MEDIATYPE_Audio, subtype};
    CLSID clsid{};
    {
        ComPtr<IEnumDMO> list;
        DWORD fetched = 0;
        WCHAR* name = nullptr;
        HRESULT hr = DMOEnum(DMOCATEGORY_AUDIO_DECODER, 0, 1, &wanted, 0, nullptr, list.out());
        if (SUCCEEDED(hr)) hr = list->Next(1, &clsid, &name, &fetched);
        CoTaskMemFree(name);
        if (hr != S_OK || fetched != 1) {
            *error = "no AAC decoder media object is registered";
            return false;
        }
    }
    ComPtr<IMediaObject> mo;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaObject,
                                  reinterpret_cast<void**>(mo.out()));
    if (FAILED(hr)) {
        *error = "cannot create the media object: HRESULT " + hex(hr);
        return false;
    }

    // Input type: WAVEFORMATEX, then the codec data of the subtype.
    const size_t codec = useProbeSubtype ? 8 + mi.asc.size() + mi.firstUnit.size() : mi.asc.size();
    DMO_MEDIA_TYPE mt;
    if (FAILED(MoInitMediaType(&mt, static_cast<DWORD>(sizeof(WAVEFORMATEX) + codec)))) {
        *error = "out of memory";
        return false;
    }
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = subtype;
    mt.formattype = FORMAT_WaveFormatEx;
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = 0xA106;
    wfx.nChannels = static_cast<WORD>(mi.channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(mi.sampleRate);
    wfx.wBitsPerSample = 16;
    wfx.cbSize = static_cast<WORD>(codec);
    std::memcpy(mt.pbFormat, &wfx, sizeof wfx);
    BYTE* codecData = mt.pbFormat + sizeof wfx;
    if (useProbeSubtype) {
        const uint16_t a = static_cast<uint16_t>(mi.asc.size()), u = static_cast<uint16_t>(mi.firstUnit.size());
        const BYTE lengths[8] = {static_cast<BYTE>(a), static_cast<BYTE>(a >> 8), 0, 0,
                                 static_cast<BYTE>(u), static_cast<BYTE>(u >> 8), 0, 0};
        std::memcpy(codecData, lengths, 8);
        std::memcpy(codecData + 8, mi.asc.data(), mi.asc.size());
        if (!mi.firstUnit.empty()) std::memcpy(codecData + 8 + mi.asc.size(), mi.firstUnit.data(), mi.firstUnit.size());
    } else {
        std::memcpy(codecData, mi.asc.data(), mi.asc.size());
    }
    hr = mo->SetInputType(0, &mt, 0);
    MoFreeMediaType(&mt);
    if (hr != S_OK) {
        *error = "the media object refuses the input type: HRESULT " + hex(hr);
        return false;
    }
    DMO_MEDIA_TYPE outType;
    hr = mo->GetOutputType(0, 0, &outType);
    if (hr == S_OK) {
        if (outType.cbFormat >= sizeof(WAVEFORMATEX) && outType.pbFormat != nullptr) {
            WAVEFORMATEX pcm;
            std::memcpy(&pcm, outType.pbFormat, sizeof pcm);
            stats->sampleRate = static_cast<int32_t>(pcm.nSamplesPerSec);
            stats->channels = pcm.nChannels;
        }
        hr = mo->SetOutputType(0, &outType, 0);
        MoFreeMediaType(&outType);
    }
    DWORD frameBytes = 0, alignment = 0;
    if (hr == S_OK) hr = mo->GetOutputSizeInfo(0, &frameBytes, &alignment);
    if (hr != S_OK || stats->channels == 0 || frameBytes == 0) {
        *error = "cannot agree on the output type: HRESULT " + hex(hr);
        return false;
    }
    if (!sink.begin(stats->channels, stats->sampleRate)) {
        stats->sinkFailed = true;
        *error = "cannot write the output";
        return false;
    }

    MemoryBuffer* pcmBuffer = MemoryBuffer::create(frameBytes);
    if (pcmBuffer == nullptr) {
        *error = "out of memory";
        return false;
    }
    // Pulls frames until the media object wants more input.
    auto drain = [&]() {
        for (;;) {
            DMO_OUTPUT_DATA_BUFFER ob{};
            ob.pBuffer = pcmBuffer;
            pcmBuffer->SetLength(0);
            DWORD status = 0;
            const HRESULT r = mo->ProcessOutput(0, 1, &ob, &status);
            if (FAILED(r)) {
                ++stats->failedFrames;
                return;
            }
            if (r != S_OK) return;
            BYTE* data = nullptr;
            DWORD length = 0;
            pcmBuffer->GetBufferAndLength(&data, &length);
            if (length > 0) {
                if (!sink.write(reinterpret_cast<const int16_t*>(data), length / 2)) {
                    stats->sinkFailed = true;
                    return;
                }
                stats->samples += length / 2;
                ++stats->frames;
            }
            if (!(ob.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) return;
        }
    };

    PayloadFeed feed(reader, std::move(mi.payload));
    bool ok = true;
    bool first = true;
    for (;;) {
        // A fresh buffer each time: the media object may still hold the last one.
        MemoryBuffer* inBuffer = MemoryBuffer::create(inputBufferSize);
        if (inBuffer == nullptr) {
            *error = "out of memory";
            ok = false;
            break;
        }
        const size_t n = feed.fill(inBuffer->data(), inputBufferSize);
        if (n == 0) {
            inBuffer->Release();
            break;
        }
        inBuffer->SetLength(static_cast<DWORD>(n));
        hr = mo->ProcessInput(0, inBuffer, first ? DMO_INPUT_DATA_BUFFERF_TIME : 0, 0, 0);
        inBuffer->Release();
        first = false;
        if (FAILED(hr)) {
            *error = "ProcessInput failed: HRESULT " + hex(hr);
            ok = false;
            break;
        }
        drain();
        if (stats->sinkFailed) {
            *error = "cannot write the output";
            ok = false;
            break;
        }
        if (progress != nullptr) progress(reader.done(), reader.total(), progressUser);
    }
    if (ok && !reader.error().empty()) {
        *error = reader.error();
        ok = false;
    }
    if (ok) {
        // End of stream: whatever is still carried is the last frame.
        mo->Discontinuity(0);
        drain();
        if (stats->sinkFailed) {
            *error = "cannot write the output";
            ok = false;
        }
    }
    pcmBuffer->Release();
    mo->FreeStreamingResources();
    return ok;
}
