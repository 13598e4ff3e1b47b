// Raw data block and channel stream syntax.
//
// Parses the elements of one raw data block into FrameInfo and the channel
// spectra, and runs each channel's reconstruction as soon as its stream is
// parsed. Every malformed or unsupported field fails the whole block with -1
// before anything is written past an array.
#include <cstring>

#include "context.h"
#include "element.h"
#include "huffman.h"
#include "reconstruct.h"
#include "tables.h"
#include "tns_ltp.h"

namespace {

enum ElementId : uint32_t {
    kIdSce = 0,
    kIdCpe = 1,
    kIdCce = 2,
    kIdLfe = 3,
    kIdDse = 4,
    kIdPce = 5,
    kIdFil = 6,
    kIdEnd = 7,
};

enum ExtensionType : uint32_t {
    kExtFillData = 1,
    kExtDynamicRange = 11,
    kExtSbrData = 13,
    kExtSbrDataCrc = 14,
};

constexpr int32_t kProfileLtp = 3;
constexpr int32_t kMaxLtpBands = 40;
constexpr int32_t kMaxPulseLine = 1023;
constexpr int32_t kScratchOffset = kMaxChannels * kSpectrumWords;

inline int64_t bitPosition(const BitReader* r) {
    return static_cast<int64_t>(r->byteIndex) * 8 + r->bitIndex;
}

inline bool pastEnd(const BitReader* r) {
    return bitPosition(r) > static_cast<int64_t>(r->byteLength) * 8;
}

inline bool isShort(const IcsState* ics) { return ics->windowSequence == kEightShort; }

inline int32_t bandCountOf(const IcsState* ics, int32_t srIndex) {
    return isShort(ics) ? numShortBands(srIndex) : numLongBands(srIndex);
}

inline const uint16_t* offsetsOf(const IcsState* ics, int32_t srIndex) {
    return isShort(ics) ? shortOffsets(srIndex) : longOffsets(srIndex);
}

void readLtpData(BitReader* r, LtpData* ltp, const IcsState* ics, int32_t longBands) {
    ltp->lag = static_cast<uint16_t>(readBits(r, 11));
    ltp->coef = static_cast<uint8_t>(readBits(r, 3));
    std::memset(ltp->longUsed, 0, sizeof(ltp->longUsed));
    if (isShort(ics)) {
        for (int32_t w = 0; w < 8; ++w) {
            ltp->shortUsed[w] = static_cast<uint8_t>(readBits(r, 1));
            ltp->shortLagPresent[w] = 0;
            ltp->shortLag[w] = 0;
            if (ltp->shortUsed[w] == 0) continue;
            ltp->shortLagPresent[w] = static_cast<uint8_t>(readBits(r, 1));
            if (ltp->shortLagPresent[w]) ltp->shortLag[w] = static_cast<uint8_t>(readBits(r, 4));
        }
        return;
    }
    const int32_t used = ics->maxSfb < kMaxLtpBands ? ics->maxSfb : kMaxLtpBands;
    for (int32_t b = 0; b < used && b < longBands; ++b)
        ltp->longUsed[b] = static_cast<uint8_t>(readBits(r, 1));
}

// ics_info into e->ics[ch]; with a common window also into e->ics[1].
int32_t readIcsInfo(AacDecoder* d, ElementState* e, int32_t ch, bool commonWindow) {
    BitReader* r = d->reader;
    IcsState* ics = &e->ics[ch];
    const uint32_t head = readBits(r, 4);
    ics->icsReservedBit = static_cast<uint8_t>(head >> 3);
    ics->windowSequence = static_cast<uint8_t>((head >> 1) & 3);
    ics->windowShape = static_cast<uint8_t>(head & 1);
    ics->ltp.dataPresent = 0;
    ics->predictorDataPresent = 0;
    ics->numWindowGroups = 1;
    ics->windowGroupLength[0] = 1;
    ics->scaleFactorGrouping = 0;

    if (isShort(ics)) {
        const uint32_t v = readBits(r, 11);
        ics->maxSfb = static_cast<uint8_t>(v >> 7);
        ics->scaleFactorGrouping = static_cast<uint8_t>(v & 0x7F);
        if (ics->maxSfb > numShortBands(d->srIndex)) return -1;
        for (int32_t bit = 6; bit >= 0; --bit) {
            if ((ics->scaleFactorGrouping >> bit) & 1) {
                ics->windowGroupLength[ics->numWindowGroups - 1] += 1;
            } else {
                ics->windowGroupLength[ics->numWindowGroups] = 1;
                ics->numWindowGroups += 1;
            }
        }
    } else {
        const uint32_t v = readBits(r, 7);
        ics->maxSfb = static_cast<uint8_t>(v >> 1);
        ics->predictorDataPresent = static_cast<uint8_t>(v & 1);
        if (ics->maxSfb > numLongBands(d->srIndex)) return -1;
    }

    if (commonWindow) {
        IcsState* other = &e->ics[1];
        other->icsReservedBit = ics->icsReservedBit;
        other->windowSequence = ics->windowSequence;
        other->windowShape = ics->windowShape;
        other->maxSfb = ics->maxSfb;
        other->scaleFactorGrouping = ics->scaleFactorGrouping;
        other->predictorDataPresent = ics->predictorDataPresent;
        other->numWindowGroups = ics->numWindowGroups;
        std::memcpy(other->windowGroupLength, ics->windowGroupLength, 8);
        other->ltp.dataPresent = 0;
    }

    if (ics->predictorDataPresent) {
        // Only long-term prediction is supported; main-profile prediction is not.
        if (d->programInfo->objectType != kProfileLtp) return -1;
        const int32_t longBands = numLongBands(d->srIndex);
        ics->ltp.dataPresent = static_cast<uint8_t>(readBits(r, 1));
        if (ics->ltp.dataPresent) readLtpData(r, &ics->ltp, ics, longBands);
        if (commonWindow) {
            IcsState* other = &e->ics[1];
            other->ltp.dataPresent = static_cast<uint8_t>(readBits(r, 1));
            if (other->ltp.dataPresent) readLtpData(r, &other->ltp, other, longBands);
        }
    }
    return 0;
}

int32_t readSectionData(BitReader* r, IcsState* ics, int32_t bandCount) {
    const int32_t lengthBits = isShort(ics) ? 3 : 5;
    const uint32_t escape = isShort(ics) ? 7 : 31;
    for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
        uint8_t* cb = ics->codebook + g * bandCount;
        int32_t k = 0;
        while (k < ics->maxSfb) {
            const uint32_t book = readBits(r, 4);
            if (book == kReservedHcb) return -1;
            int32_t length = 0;
            uint32_t increment;
            do {
                increment = readBits(r, lengthBits);
                length += static_cast<int32_t>(increment);
                if (k + length > ics->maxSfb) return -1;
            } while (increment == escape);
            // Zero-length sections are harmless, but must not loop forever.
            if (pastEnd(r)) return -1;
            std::memset(cb + k, static_cast<int>(book), static_cast<size_t>(length));
            k += length;
        }
        std::memset(cb + k, kZeroHcb, static_cast<size_t>(bandCount - k));
    }
    return 0;
}

int32_t readPulseData(BitReader* r, IcsState* ics, int32_t srIndex) {
    PulseData* p = &ics->pulse;
    p->present = static_cast<uint8_t>(readBits(r, 1));
    if (!p->present) return 0;
    // Pulses address long-window lines only.
    if (isShort(ics)) return -1;
    const uint32_t v = readBits(r, 8);
    p->numberPulse = static_cast<uint8_t>(v >> 6);
    p->startSfb = static_cast<uint8_t>(v & 63);
    if (p->startSfb >= numLongBands(srIndex)) return -1;
    int32_t line = longOffsets(srIndex)[p->startSfb];
    for (int32_t i = 0; i <= p->numberPulse; ++i) {
        const uint32_t w = readBits(r, 9);
        p->offset[i] = static_cast<uint8_t>(w >> 4);
        p->amp[i] = static_cast<uint8_t>(w & 15);
        line += p->offset[i];
        if (line > kMaxPulseLine) return -1;
    }
    return 0;
}

void readTnsFilter(BitReader* r, TnsFilter* f, int32_t coefRes, int32_t lengthBits,
                   int32_t orderBits) {
    f->length = static_cast<uint8_t>(readBits(r, lengthBits));
    f->order = static_cast<uint8_t>(readBits(r, orderBits));
    f->direction = 0;
    f->coefCompress = 0;
    if (f->order == 0) return;
    f->direction = static_cast<uint8_t>(readBits(r, 1));
    f->coefCompress = static_cast<uint8_t>(readBits(r, 1));
    const int32_t bits = 3 + coefRes - f->coefCompress;
    for (int32_t i = 0; i < f->order; ++i) f->coef[i] = static_cast<int8_t>(readBits(r, bits));
}

void readTnsData(BitReader* r, IcsState* ics) {
    TnsData* t = &ics->tns;
    std::memset(t->nFilt, 0, sizeof(t->nFilt));
    std::memset(t->coefRes, 0, sizeof(t->coefRes));
    if (isShort(ics)) {
        for (int32_t w = 0; w < 8; ++w) {
            t->nFilt[w] = static_cast<uint8_t>(readBits(r, 1));
            if (t->nFilt[w] == 0) continue;
            t->coefRes[w] = static_cast<uint8_t>(readBits(r, 1));
            readTnsFilter(r, &t->filter[w][0], t->coefRes[w], 4, 3);
        }
        return;
    }
    t->nFilt[0] = static_cast<uint8_t>(readBits(r, 2));
    if (t->nFilt[0] == 0) return;
    t->coefRes[0] = static_cast<uint8_t>(readBits(r, 1));
    for (int32_t f = 0; f < t->nFilt[0]; ++f) readTnsFilter(r, &t->filter[0][f], t->coefRes[0], 6, 5);
}

// Quantised values of every band, group-interleaved for short windows.
int32_t readSpectralData(AacDecoder* d, IcsState* ics, int32_t bandCount,
                         const uint16_t* offsets, int32_t* spectrum) {
    int32_t* out = spectrum;
    const bool shortWindows = isShort(ics);
    for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
        const uint8_t* cb = ics->codebook + g * bandCount;
        const int32_t groupLength = shortWindows ? ics->windowGroupLength[g] : 1;
        for (int32_t b = 0; b < bandCount; ++b) {
            const int32_t width = (offsets[b + 1] - offsets[b]) * groupLength;
            const uint8_t book = cb[b];
            if (book == kZeroHcb || book >= kNoiseHcb) {
                std::memset(out, 0, sizeof(int32_t) * static_cast<size_t>(width));
                if (book == kNoiseHcb) ics->noiseBandsPresent = 1;
            } else if (decodeSpectralBand(d, book, width, out) != 0) {
                return -1;
            }
            out += width;
        }
    }
    return 0;
}

// global_gain has been read, and ics_info too.
int32_t readChannelStream(AacDecoder* d, ElementState* e, int32_t ch, int32_t* spectrum,
                          int32_t outChannel) {
    BitReader* r = d->reader;
    IcsState* ics = &e->ics[ch];
    const int32_t srIndex = d->srIndex;
    const int32_t bandCount = bandCountOf(ics, srIndex);
    const uint16_t* offsets = offsetsOf(ics, srIndex);

    if (readSectionData(r, ics, bandCount) != 0) return -1;
    if (decodeScaleFactors(d, e, ch, bandCount) != 0) return -1;
    if (readPulseData(r, ics, srIndex) != 0) return -1;
    ics->tnsDataPresent = static_cast<uint8_t>(readBits(r, 1));
    if (ics->tnsDataPresent) readTnsData(r, ics);
    ics->gainControlDataPresent = static_cast<uint8_t>(readBits(r, 1));
    if (ics->gainControlDataPresent) return -1; // SSR gain control is not supported
    ics->noiseBandsPresent = 0;
    if (readSpectralData(d, ics, bandCount, offsets, spectrum) != 0) return -1;
    if (d->probeOnly) return 0;

    if (ics->pulse.present) applyPulses(ics, spectrum, longOffsets(srIndex));
    inverseQuantise(ics, bandCount, offsets, spectrum);
    if (isShort(ics))
        reorderShortWindows(ics, bandCount, offsets, spectrum, d->workBuffer + kScratchOffset);
    if (ics->noiseBandsPresent)
        noiseSubstitution(d, e, ch, bandCount, offsets, spectrum, outChannel);
    return 0;
}

void recordChannel(AacDecoder* d, FrameInfo* info, const IcsState* ics, int32_t channel,
                   int32_t elementType) {
    info->windowSequence[channel] = ics->windowSequence;
    info->windowShape[channel] = ics->windowShape;
    info->prevWindowShape[channel] = d->prevWindowShape[channel];
    info->sbr[channel].channelIndex = static_cast<uint8_t>(channel);
    info->sbr[channel].elementType = static_cast<uint8_t>(elementType);
    info->sbr[channel].sbrDataPresent = 0;
}

void finishChannel(AacDecoder* d, IcsState* ics, int32_t* spectrum, int32_t channel) {
    if (ics->ltp.dataPresent) applyLtp(d, ics, spectrum, channel);
    if (ics->tnsDataPresent) applyTns(d->srIndex, ics, spectrum);
}

// Output channel of a single channel element, or -1. Tags are learned on
// first sight, one slot per channel position in the block.
int32_t channelOfTag(AacDecoder* d, int32_t tag, int32_t decoded) {
    if (d->elementTag[decoded] == 255) d->elementTag[decoded] = tag;
    if (tag == d->elementTag[0]) return 0;
    if (tag == d->elementTag[1]) return 1;
    return -1;
}

int32_t parseSingleChannel(AacDecoder* d, FrameInfo* info, int32_t* spectra, int32_t decoded,
                           uint32_t* decodedMask) {
    BitReader* r = d->reader;
    const int32_t channel = channelOfTag(d, static_cast<int32_t>(readBits(r, 4)), decoded);
    if (channel < 0) return -1;
    if (*decodedMask & (1u << channel)) return -1; // one element per channel
    ElementState e;
    std::memset(&e, 0, sizeof(e));
    e.kind = 1;
    IcsState* ics = &e.ics[0];
    ics->globalGain = static_cast<uint8_t>(readBits(r, 8));
    if (readIcsInfo(d, &e, 0, false) != 0) return -1;
    int32_t* spectrum = spectra + (d->probeOnly ? 0 : channel * kSpectrumWords);
    if (readChannelStream(d, &e, 0, spectrum, channel) != 0) return -1;
    if (!d->probeOnly) finishChannel(d, ics, spectrum, channel);
    recordChannel(d, info, ics, channel, 0);
    *decodedMask |= 1u << channel;
    return channel;
}

int32_t parseChannelPair(AacDecoder* d, FrameInfo* info, int32_t* spectra) {
    BitReader* r = d->reader;
    readBits(r, 4); // element_instance_tag: a pair always plays on channels 0 and 1
    ElementState e;
    std::memset(&e, 0, sizeof(e));
    e.kind = 2;
    e.commonWindow = static_cast<uint8_t>(readBits(r, 1));
    if (e.commonWindow) {
        if (readIcsInfo(d, &e, 0, true) != 0) return -1;
        e.msMaskPresent = static_cast<uint8_t>(readBits(r, 2));
        if (e.msMaskPresent == 1) {
            const IcsState* ics = &e.ics[0];
            const int32_t bandCount = bandCountOf(ics, d->srIndex);
            for (int32_t g = 0; g < ics->numWindowGroups; ++g)
                for (int32_t b = 0; b < ics->maxSfb; ++b)
                    e.msUsed[g * bandCount + b] = static_cast<uint8_t>(readBits(r, 1));
        }
    }
    for (int32_t ch = 0; ch < 2; ++ch) {
        e.ics[ch].globalGain = static_cast<uint8_t>(readBits(r, 8));
        if (!e.commonWindow && readIcsInfo(d, &e, ch, false) != 0) return -1;
        int32_t* spectrum = spectra + (d->probeOnly ? 0 : ch * kSpectrumWords);
        if (readChannelStream(d, &e, ch, spectrum, ch) != 0) return -1;
    }
    if (!d->probeOnly) {
        // Channel 1's layout drives the stereo tools: its short bands, or the
        // longer of the two long-window ranges.
        int32_t bandLimit = numShortBands(d->srIndex);
        if (!isShort(&e.ics[1]))
            bandLimit = e.ics[0].maxSfb > e.ics[1].maxSfb ? e.ics[0].maxSfb : e.ics[1].maxSfb;
        stereoProcess(bandLimit, &e, d->srIndex, spectra);
        for (int32_t ch = 0; ch < 2; ++ch)
            finishChannel(d, &e.ics[ch], spectra + ch * kSpectrumWords, ch);
    }
    for (int32_t ch = 0; ch < 2; ++ch) recordChannel(d, info, &e.ics[ch], ch, 1);
    return 0;
}

void skipDataStream(BitReader* r) {
    const uint32_t v = readBits(r, 13);
    int32_t count = static_cast<int32_t>(v & 255);
    if (count == 255) count += static_cast<int32_t>(readBits(r, 8));
    if ((v >> 8) & 1) byteAlign(r);
    skipBits(r, 8 * count);
}

void readDynamicRange(AacDecoder* d, BitReader* r, DrcInfo* drc) {
    if (readBits(r, 1)) skipBits(r, 8); // pce_instance_tag, reserved bits
    drc->excludedChannelsPresent = static_cast<uint8_t>(readBits(r, 1));
    if (drc->excludedChannelsPresent) {
        // Excluded channels are not honoured; the mask is kept for the first groups.
        int32_t group = 0;
        do {
            const uint8_t mask = static_cast<uint8_t>(readBits(r, 7));
            if (group < 8) drc->excludedMask[group] = mask;
            ++group;
        } while (readBits(r, 1) && !pastEnd(r));
    }
    drc->numBands = 1;
    if (readBits(r, 1)) {
        drc->numBands += static_cast<int32_t>(readBits(r, 8) >> 4);
        for (int32_t b = 0; b < drc->numBands; ++b) drc->bandTop[b] = static_cast<uint8_t>(readBits(r, 8));
    } else {
        drc->bandTop[0] = static_cast<uint8_t>(d->frameLength / 4 - 1);
    }
    drc->progRefLevelPresent = static_cast<uint8_t>(readBits(r, 1));
    // Without a level in this payload the last one transmitted still holds.
    if (drc->progRefLevelPresent) d->drcProgRefLevel = static_cast<uint8_t>(readBits(r, 8) >> 1);
    drc->progRefLevel = d->drcProgRefLevel;
    for (int32_t b = 0; b < drc->numBands; ++b) {
        const uint32_t v = readBits(r, 8);
        drc->dynRngSgn[b] = static_cast<uint8_t>(v >> 7);
        drc->dynRngCtl[b] = static_cast<uint8_t>(v & 127);
    }
}

// One extension payload of `bytes` bytes; returns the bytes used, or -1.
int32_t readExtensionPayload(AacDecoder* d, FrameInfo* info, int32_t channel, int32_t bytes) {
    BitReader* r = d->reader;
    const uint32_t type = readBits(r, 4);
    const int64_t bodyStart = bitPosition(r);
    const int64_t bodyBits = static_cast<int64_t>(bytes) * 8 - 4;
    switch (type) {
    case kExtDynamicRange:
        readDynamicRange(d, r, &info->drc);
        break;
    case kExtSbrData:
    case kExtSbrDataCrc: {
        // SBR data belong to the channel element before them; a fill element
        // ahead of every channel element has none to carry them.
        if (channel < 0) break;
        const int32_t crc = type == kExtSbrDataCrc ? 1 : 0;
        if (d->probeOnly) {
            // The probe's one parse-only state serves every channel.
            if (d->sbrChannel[0] == nullptr) break;
            const int32_t result = SbrParsePayload(&d->sbrChannel[0], &info->sbr[channel], r, crc);
            if ((result == 0 || result == kSbrNoHeaderYet) && bitPosition(r) - bodyStart <= bodyBits)
                d->sbrEnabled = 1;
        } else if (d->sbrEnabled) {
            // A payload the SBR parser refuses leaves its previous state in
            // force; the core goes on after the payload.
            SbrParsePayload(&d->sbrChannel[channel], &info->sbr[channel], r, crc);
        }
        break;
    }
    default: // fill data and unknown payloads
        break;
    }
    const int64_t rest = bodyBits - (bitPosition(r) - bodyStart);
    if (rest < 0) return -1; // the payload overran its own length
    skipBits(r, static_cast<int32_t>(rest));
    return bytes;
}

int32_t readFillElement(AacDecoder* d, FrameInfo* info, int32_t channel) {
    BitReader* r = d->reader;
    int32_t count = static_cast<int32_t>(readBits(r, 4));
    if (count == 15) count += static_cast<int32_t>(readBits(r, 8)) - 1;
    while (count > 0) {
        const int32_t used = readExtensionPayload(d, info, channel, count);
        if (used < 0) return -1;
        count -= used;
    }
    return 0;
}

} // namespace

int32_t parseRawDataBlock(AacDecoder* d, FrameInfo* info, int32_t* spectra) {
    BitReader* r = d->reader;
    info->channelCount = 0;
    info->prevWindowShape[0] = 0;
    std::memset(&info->drc, 0, sizeof(info->drc));
    // Only an SBR stage (or the probe looking for one) reads the SBR records.
    if (d->sbrEnabled || d->probeOnly)
        for (int32_t ch = 0; ch < kMaxChannels; ++ch) SbrInitFrame(&info->sbr[ch], ch);

    int32_t decoded = 0;
    uint32_t decodedMask = 0;
    int32_t fillChannel = -1;
    for (;;) {
        switch (readBits(r, 3)) {
        case kIdSce: {
            if (decoded >= kMaxChannels) return -1;
            const int32_t channel = parseSingleChannel(d, info, spectra, decoded, &decodedMask);
            if (channel < 0) return -1;
            fillChannel = channel;
            decoded += 1;
            break;
        }
        case kIdCpe:
            if (decoded != 0) return -1;
            if (parseChannelPair(d, info, spectra) != 0) return -1;
            decodedMask = 3;
            fillChannel = 0;
            decoded = 2;
            break;
        case kIdDse:
            skipDataStream(r);
            break;
        case kIdPce: {
            ProgramConfig pce;
            if (parseProgramConfig(r, d->srIndex, &pce) < 0) return -1;
            break;
        }
        case kIdFil:
            if (readFillElement(d, info, fillChannel) != 0) return -1;
            break;
        case kIdCce:
        case kIdLfe:
            readBits(r, 4);
            return -1; // coupling and LFE elements are not supported
        case kIdEnd:
        default:
            if (decoded == 0) return -1;
            // The channels decoded must be 0 (and 1), and no more than the
            // output holds; and the block must lie within the data.
            if (decodedMask != (decoded == 1 ? 1u : 3u)) return -1;
            if (!d->probeOnly && decoded > d->channels) return -1;
            if (pastEnd(r)) return -1;
            info->channelCount = static_cast<uint8_t>(decoded);
            return decoded;
        }
    }
}

int32_t parseProgramConfig(BitReader* r, int32_t requiredSrIndex, ProgramConfig* pce) {
    std::memset(pce, 0, sizeof(*pce));
    pce->elementInstanceTag = static_cast<uint8_t>(readBits(r, 4));
    pce->objectType = static_cast<uint8_t>(readBits(r, 2));
    pce->samplingFrequencyIndex = static_cast<uint8_t>(readBits(r, 4));
    pce->numFrontChannelElements = static_cast<uint8_t>(readBits(r, 4));
    pce->numSideChannelElements = static_cast<uint8_t>(readBits(r, 4));
    pce->numBackChannelElements = static_cast<uint8_t>(readBits(r, 4));
    pce->numLfeChannelElements = static_cast<uint8_t>(readBits(r, 2));
    pce->numAssocDataElements = static_cast<uint8_t>(readBits(r, 3));
    pce->numValidCcElements = static_cast<uint8_t>(readBits(r, 4));
    if (pce->objectType != 1 && pce->objectType != kProfileLtp) return -1;
    if (pce->samplingFrequencyIndex > 11) return -1;
    if (requiredSrIndex != 127 && pce->samplingFrequencyIndex != requiredSrIndex) return -1;
    if (pce->numFrontChannelElements > 2 || pce->numSideChannelElements > 2 ||
        pce->numBackChannelElements > 1 || pce->numLfeChannelElements != 0 ||
        pce->numValidCcElements != 0)
        return -1;

    pce->monoMixdownPresent = static_cast<uint8_t>(readBits(r, 1));
    if (pce->monoMixdownPresent) pce->monoMixdownElementNumber = static_cast<uint8_t>(readBits(r, 4));
    pce->stereoMixdownPresent = static_cast<uint8_t>(readBits(r, 1));
    if (pce->stereoMixdownPresent)
        pce->stereoMixdownElementNumber = static_cast<uint8_t>(readBits(r, 4));
    pce->matrixMixdownIdxPresent = static_cast<uint8_t>(readBits(r, 1));
    if (pce->matrixMixdownIdxPresent) {
        pce->matrixMixdownIdx = static_cast<uint8_t>(readBits(r, 2));
        pce->pseudoSurroundEnable = static_cast<uint8_t>(readBits(r, 1));
    }

    int32_t channels = 0;
    for (int32_t i = 0; i < pce->numFrontChannelElements; ++i) {
        pce->frontElementIsCpe[i] = static_cast<uint8_t>(readBits(r, 1));
        pce->frontElementTagSelect[i] = static_cast<uint8_t>(readBits(r, 4));
        channels += pce->frontElementIsCpe[i] + 1;
    }
    for (int32_t i = 0; i < pce->numSideChannelElements; ++i) {
        pce->sideElementIsCpe[i] = static_cast<uint8_t>(readBits(r, 1));
        pce->sideElementTagSelect[i] = static_cast<uint8_t>(readBits(r, 4));
        channels += pce->sideElementIsCpe[i] + 1;
    }
    for (int32_t i = 0; i < pce->numBackChannelElements; ++i) {
        pce->backElementIsCpe[i] = static_cast<uint8_t>(readBits(r, 1));
        pce->backElementTagSelect[i] = static_cast<uint8_t>(readBits(r, 4));
        channels += pce->backElementIsCpe[i] + 1;
    }
    for (int32_t i = 0; i < pce->numAssocDataElements; ++i)
        pce->assocDataElementTagSelect[i] = static_cast<uint8_t>(readBits(r, 4));
    byteAlign(r);
    skipBits(r, 8 * static_cast<int32_t>(readBits(r, 8))); // comment field
    if (channels < 1 || channels > 2) return -1;
    return channels;
}
