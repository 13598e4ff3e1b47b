// Fuzz target: the media object as a player drives it. The input gives an
// input type (codec data whose length fields may lie), then a stream that is
// fed in random pieces with Flush and Discontinuity interleaved; output is
// pulled with ProcessOutput after each piece.
//   byte 0: bit 0 subtype (configuration only / configuration and first unit),
//           bit 1 honest fields (tag, rate, sizes, lengths), bits 2..7 seed of the pieces
//   byte 1: nChannels, byte 2: configuration length (0..63), byte 3: unit length
//   then the configuration, the unit, and the stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "PvdAACDecoder.h"

namespace {

const GUID kSubAsc = {0x0000A106, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kSubAscUnit = {0xF8C0A945, 0x71A6, 0x431B, {0x90, 0x56, 0x83, 0xA8, 0x4C, 0xCF, 0xCF, 0x50}};

constexpr size_t kMaxStreamBytes = 4096;
constexpr int kMaxOutputCalls = 48;

class Buffer final : public UnknownImpl<IMediaBuffer, IID_IMediaBuffer> {
public:
    Buffer(const uint8_t* p, size_t n, size_t max) : bytes_(p, p + n), length_(static_cast<DWORD>(n)) {
        bytes_.resize(max > n ? max : n ? n : 1);
    }
    STDMETHOD(SetLength)(DWORD l) override {
        if (l > bytes_.size()) return E_INVALIDARG;
        length_ = l;
        return S_OK;
    }
    STDMETHOD(GetMaxLength)(DWORD* m) override {
        *m = static_cast<DWORD>(bytes_.size());
        return S_OK;
    }
    STDMETHOD(GetBufferAndLength)(BYTE** b, DWORD* l) override {
        if (b) *b = bytes_.data();
        if (l) *l = length_;
        return S_OK;
    }
private:
    ~Buffer() override = default;
    std::vector<BYTE> bytes_;
    DWORD length_;
};

struct Rng {
    uint32_t s;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
};

void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const bool unitSubtype = data[0] & 1;
    const bool honest = data[0] & 2;
    Rng rng{0x9E3779B9u ^ (static_cast<uint32_t>(data[0]) << 8) ^ static_cast<uint32_t>(size)};
    const size_t ascLen = data[2] & 63;
    const size_t unitLen = unitSubtype ? data[3] : 0;
    size_t at = 4;
    if (size < at + ascLen + unitLen) return 0;
    const uint8_t* asc = data + at;
    at += ascLen;
    const uint8_t* unit = data + at;
    at += unitLen;
    const uint8_t* stream = data + at;
    size_t streamLen = size - at;
    if (streamLen > kMaxStreamBytes) streamLen = kMaxStreamBytes;

    // The format block, its length fields true or not, its size cut or not.
    const size_t head = unitSubtype ? 26 : 18;
    std::vector<uint8_t> format(head + ascLen + unitLen, 0);
    // An honest block has the tag, a rate and 16 bits; a dishonest one may
    // carry any tag, rate, byte rate, alignment and sample size.
    static const uint32_t kRates[] = {44100, 8000, 22050, 48000, 96000, 0, 7350, 0xFFFFFFFFu};
    const uint32_t rate = honest ? 44100 : (rng.next() & 1) ? kRates[rng.next() % 8] : rng.next();
    put16(format, 0, honest || (rng.next() & 1) ? 0xA106 : rng.next() & 0xFFFF);
    put16(format, 2, data[1]);
    put16(format, 4, rate & 0xFFFF);
    put16(format, 6, rate >> 16);
    if (!honest) {
        put16(format, 8, rng.next() & 0xFFFF);
        put16(format, 10, rng.next() & 0xFFFF);
        put16(format, 12, rng.next() & 0xFF);
    }
    put16(format, 14, honest || (rng.next() & 1) ? 16 : rng.next() & 0xFF);
    put16(format, 16, honest ? (unitSubtype ? 8 + ascLen + unitLen : ascLen) : rng.next() & 0xFFFF);
    if (unitSubtype) {
        put16(format, 18, honest ? ascLen : rng.next() & 0xFF);
        put16(format, 22, honest ? unitLen : rng.next() & 0x1FF);
    }
    if (ascLen) std::memcpy(format.data() + head, asc, ascLen);
    if (unitLen) std::memcpy(format.data() + head + ascLen, unit, unitLen);
    if (!honest && (rng.next() & 1)) format.resize(rng.next() % (format.size() + 1));

    IMediaObject* mo = nullptr;
    if (CPvdAACDecoder::CreateInstance(nullptr, IID_IMediaObject, reinterpret_cast<void**>(&mo)) != S_OK) return 0;
    DMO_MEDIA_TYPE in{};
    in.majortype = MEDIATYPE_Audio;
    in.subtype = unitSubtype ? kSubAscUnit : kSubAsc;
    in.formattype = FORMAT_WaveFormatEx;
    in.cbFormat = static_cast<ULONG>(format.size());
    in.pbFormat = format.empty() ? nullptr : format.data();
    DMO_MEDIA_TYPE out{};
    DWORD frameBytes = 0, align = 0;
    bool ready = false;
    if (mo->SetInputType(0, &in, 0) == S_OK && mo->GetOutputType(0, 0, &out) == S_OK) {
        ready = mo->SetOutputType(0, &out, 0) == S_OK && mo->GetOutputSizeInfo(0, &frameBytes, &align) == S_OK;
        MoFreeMediaType(&out);
    }
    if (ready && frameBytes > 0 && frameBytes <= 16384) {
        Buffer* pcm = new Buffer(nullptr, 0, frameBytes);
        int outputCalls = 0;
        auto drain = [&] {
            for (int i = 0; i < 8 && outputCalls < kMaxOutputCalls; ++i, ++outputCalls) {
                DMO_OUTPUT_DATA_BUFFER ob{pcm, 0, 0, 0};
                DWORD status = 0;
                const HRESULT hr = mo->ProcessOutput(0, 1, &ob, &status);
                if (hr != S_OK) {
                    DWORD f = 0;
                    mo->GetInputStatus(0, &f);
                    if (f & DMO_INPUT_STATUSF_ACCEPT_DATA) return;
                } else if (!(ob.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) {
                    return;
                }
            }
        };
        static const size_t kPieces[] = {1, 2, 3, 7, 13, 64, 200, 700, 1500, 4096};
        size_t pos = 0;
        while (pos < streamLen && outputCalls < kMaxOutputCalls) {
            const uint32_t op = rng.next() % 16;
            if (op == 0) {
                mo->Flush();
            } else if (op == 1) {
                mo->Discontinuity(0);
                drain();
            } else {
                size_t n = kPieces[rng.next() % 10];
                if (n > streamLen - pos) n = streamLen - pos;
                Buffer* b = new Buffer(stream + pos, n, 0);
                const DWORD flags = (rng.next() & 3) == 0 ? DMO_INPUT_DATA_BUFFERF_TIME : 0;
                if (mo->ProcessInput(0, b, flags, static_cast<REFERENCE_TIME>(pos) * 1000, 0) == S_OK) pos += n;
                b->Release();
                drain();
                // A client that stops pulling must still be able to go on.
                DWORD f = 0;
                mo->GetInputStatus(0, &f);
                if (!(f & DMO_INPUT_STATUSF_ACCEPT_DATA)) mo->Flush();
            }
        }
        mo->Discontinuity(0);
        drain();
        pcm->Release();
    }
    mo->Release();
    return 0;
}
