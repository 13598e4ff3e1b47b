// Raw data block syntax on hand-built blocks: element order and tags, the
// ics_info, section, pulse, TNS and LTP fields (checked through the exact
// bit consumption and, in probe mode, the quantised spectra), fill and data
// stream elements, dynamic range data, the program configuration element
// and every refusal guard.
#include <gtest/gtest.h>

#include <cstring>

#include "bitwriter.h"
#include "code_tables.h"
#include "context.h"
#include "element.h"

namespace {

constexpr int32_t kSr44100 = 4;

struct Block {
    AacDecoder* d = nullptr;
    FrameInfo info{};
    explicit Block(int32_t channels, int32_t profile = 1) {
        EXPECT_EQ(AacDecCreate(&d), AAC_DEC_OK);
        AacStreamConfig c{};
        c.frameLength = 1024;
        c.sampleRate = 44100;
        c.channels = channels;
        c.profile = profile;
        c.outputSampleRate = 44100;
        EXPECT_EQ(AacDecInit(d, &c), AAC_DEC_OK);
    }
    ~Block() { AacDecDestroy(d); }
    int32_t parse(const BitWriter& w) {
        start(d->reader, w.bytes.data(), static_cast<int32_t>(w.bytes.size()));
        std::memset(&info, 0x5A, sizeof(info));
        return parseRawDataBlock(d, &info, d->workBuffer);
    }
    int32_t consumed() const { return d->reader->bitsConsumed; }
};

void putEnd(BitWriter& w) { w.put(7, 3); }

// ics_info of a long window: reserved bit 0, sequence, shape, max_sfb, predictor.
void putLongInfo(BitWriter& w, int32_t maxSfb, int32_t shape = 0, int32_t predictor = 0) {
    w.put(static_cast<uint32_t>((kOnlyLong << 1) | shape), 4);
    w.put(static_cast<uint32_t>((maxSfb << 1) | predictor), 7);
}

// Pulse, TNS and gain control flags all 0.
void putNoTools(BitWriter& w) { w.put(0, 3); }

// A single channel element with no spectral bands.
void putEmptySce(BitWriter& w, int32_t tag, int32_t shape = 0) {
    w.put(0, 3);
    w.put(static_cast<uint32_t>(tag), 4);
    w.put(100, 8);
    putLongInfo(w, 0, shape);
    putNoTools(w);
}

void putEmptyCpe(BitWriter& w) {
    w.put(1, 3);
    w.put(0, 4);
    w.put(1, 1); // common window
    putLongInfo(w, 0);
    w.put(0, 2); // ms_mask_present
    for (int ch = 0; ch < 2; ++ch) {
        w.put(100, 8);
        putNoTools(w);
    }
}

TEST(Syntax, ElementTagsChooseTheChannel) {
    Block b(2);
    BitWriter first;
    putEmptySce(first, 3, 0);
    putEmptySce(first, 5, 1);
    putEnd(first);
    ASSERT_EQ(b.parse(first), 2);
    EXPECT_EQ(b.d->elementTag[0], 3);
    EXPECT_EQ(b.d->elementTag[1], 5);
    EXPECT_EQ(b.info.channelCount, 2);
    EXPECT_EQ(b.info.windowShape[0], 0);
    EXPECT_EQ(b.info.windowShape[1], 1);
    EXPECT_EQ(b.info.sbr[1].channelIndex, 1);
    EXPECT_EQ(b.info.sbr[1].elementType, 0);

    // Tag 5 first now: it still plays on channel 1.
    BitWriter swapped;
    putEmptySce(swapped, 5, 1);
    putEmptySce(swapped, 3, 0);
    putEnd(swapped);
    ASSERT_EQ(b.parse(swapped), 2);
    EXPECT_EQ(b.info.windowShape[0], 0);
    EXPECT_EQ(b.info.windowShape[1], 1);
    EXPECT_EQ(b.consumed(), swapped.bits);

    BitWriter unknown;
    putEmptySce(unknown, 7);
    putEnd(unknown);
    EXPECT_EQ(b.parse(unknown), -1);

    // Channel 1 alone, or channel 0 twice, leaves a channel undecoded.
    BitWriter alone;
    putEmptySce(alone, 5);
    putEnd(alone);
    EXPECT_EQ(b.parse(alone), -1);
    BitWriter twice;
    putEmptySce(twice, 3);
    putEmptySce(twice, 3);
    putEnd(twice);
    EXPECT_EQ(b.parse(twice), -1);
}

TEST(Syntax, ElementOrderAndUnsupportedElements) {
    struct Case {
        const char* name;
        int32_t channels;
        void (*build)(BitWriter&);
        int32_t rc;
    } cases[] = {
        {"mono", 1, [](BitWriter& w) { putEmptySce(w, 0); }, 1},
        {"stereo pair", 2, [](BitWriter& w) { putEmptyCpe(w); }, 2},
        {"nothing", 2, [](BitWriter&) {}, -1},
        {"pair after single", 2, [](BitWriter& w) { putEmptySce(w, 0); putEmptyCpe(w); }, -1},
        {"single after pair", 2, [](BitWriter& w) { putEmptyCpe(w); putEmptySce(w, 0); }, -1},
        {"third single", 2,
         [](BitWriter& w) { putEmptySce(w, 0); putEmptySce(w, 1); putEmptySce(w, 0); }, -1},
        {"pair in a mono stream", 1, [](BitWriter& w) { putEmptyCpe(w); }, -1},
        {"two singles in a mono stream", 1,
         [](BitWriter& w) { putEmptySce(w, 0); putEmptySce(w, 1); }, -1},
        {"coupling", 2, [](BitWriter& w) { putEmptySce(w, 0); w.put(2, 3); w.put(0, 4); }, -1},
        {"LFE", 2, [](BitWriter& w) { putEmptySce(w, 0); w.put(3, 3); w.put(0, 4); }, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Block b(c.channels);
        BitWriter w;
        c.build(w);
        putEnd(w);
        EXPECT_EQ(b.parse(w), c.rc);
        if (c.rc > 0) {
            EXPECT_EQ(b.consumed(), w.bits);
            EXPECT_EQ(b.info.drc.numBands, 0);
        }
    }
}

TEST(Syntax, FillAndDataStreamLengths) {
    Block b(1);
    // count 15 + esc_count 0: 14 bytes, the first holding the fill type.
    BitWriter fill;
    putEmptySce(fill, 0);
    fill.put(6, 3);
    fill.put(15, 4);
    fill.put(0, 8);
    fill.put(1, 4); // EXT_FILL_DATA
    fill.put(0xF, 4);
    for (int i = 0; i < 13; ++i) fill.put(0xFF, 8);
    const int64_t fillEnd = fill.bits;
    putEnd(fill);
    fill.put(0xFF, 8);
    ASSERT_EQ(b.parse(fill), 1);
    EXPECT_EQ(b.consumed(), fillEnd + 3);

    // count 255 + esc_count 3: 258 bytes, after byte alignment.
    BitWriter dse;
    putEmptySce(dse, 0);
    dse.put(4, 3);
    dse.put(0, 4); // tag
    dse.put(1, 1); // align
    dse.put(255, 8);
    dse.put(3, 8);
    dse.align();
    for (int i = 0; i < 258; ++i) dse.put(0xFF, 8);
    const int64_t dseEnd = dse.bits;
    putEnd(dse);
    ASSERT_EQ(b.parse(dse), 1);
    EXPECT_EQ(b.consumed(), dseEnd + 3);

    // Unknown extension payloads are skipped whole; payloads chain within the count.
    BitWriter chain;
    putEmptySce(chain, 0);
    chain.put(6, 3);
    chain.put(3, 4);
    chain.put(2, 4); // EXT_DATA_ELEMENT-like, unknown here: 3 bytes
    chain.put(0xFFFFF, 20);
    putEnd(chain);
    ASSERT_EQ(b.parse(chain), 1);
    EXPECT_EQ(b.consumed(), chain.bits);
}

// A fill element with one dynamic range payload; returns nothing, writes
// the payload padded to its byte count.
void putDrc(BitWriter& w, bool bands, bool level, int32_t extraBytes = 0) {
    BitWriter p;
    p.put(11, 4);
    p.put(0, 1); // pce_tag_present
    p.put(1, 1); // excluded_chns_present
    p.put(0x55, 7);
    p.put(1, 1); // additional_excluded_chns
    p.put(0x2A, 7);
    p.put(0, 1);
    p.put(bands ? 1 : 0, 1);
    if (bands) {
        p.put(0x1F, 8); // one more band; interpolation scheme ignored
        p.put(10, 8);
        p.put(255, 8);
    }
    p.put(level ? 1 : 0, 1);
    if (level) p.put((40 << 1) | 1, 8);
    p.put(0x80 | 12, 8);
    if (bands) p.put(5, 8);
    p.align();
    for (int32_t i = 0; i < extraBytes; ++i) p.put(0xFF, 8);
    const int32_t count = static_cast<int32_t>(p.bytes.size());
    w.put(6, 3);
    w.put(static_cast<uint32_t>(count), 4);
    for (uint8_t byte : p.bytes) w.put(byte, 8);
}

TEST(Syntax, DynamicRangeData) {
    Block b(1);
    BitWriter w;
    putEmptySce(w, 0);
    putDrc(w, true, true, 2);
    putEnd(w);
    ASSERT_EQ(b.parse(w), 1);
    EXPECT_EQ(b.consumed(), w.bits);
    const DrcInfo& drc = b.info.drc;
    EXPECT_EQ(drc.excludedChannelsPresent, 1);
    EXPECT_EQ(drc.excludedMask[0], 0x55);
    EXPECT_EQ(drc.excludedMask[1], 0x2A);
    ASSERT_EQ(drc.numBands, 2);
    EXPECT_EQ(drc.bandTop[0], 10);
    EXPECT_EQ(drc.bandTop[1], 255);
    EXPECT_EQ(drc.progRefLevelPresent, 1);
    EXPECT_EQ(drc.progRefLevel, 40);
    EXPECT_EQ(drc.dynRngSgn[0], 1);
    EXPECT_EQ(drc.dynRngCtl[0], 12);
    EXPECT_EQ(drc.dynRngSgn[1], 0);
    EXPECT_EQ(drc.dynRngCtl[1], 5);

    // No level and no bands: the last level holds, one band over the spectrum.
    b.d->frameCount += 1; // as the frame API does after each decoded block
    BitWriter next;
    putEmptySce(next, 0);
    putDrc(next, false, false);
    putEnd(next);
    ASSERT_EQ(b.parse(next), 1);
    EXPECT_EQ(b.info.drc.progRefLevelPresent, 0);
    EXPECT_EQ(b.info.drc.progRefLevel, 40);
    EXPECT_EQ(b.info.drc.numBands, 1);
    EXPECT_EQ(b.info.drc.bandTop[0], 255);

    // A payload whose fields run past its own byte count.
    BitWriter over;
    putEmptySce(over, 0);
    over.put(6, 3);
    over.put(1, 4);
    over.put(11, 4);
    over.put(0x0F, 4); // pce tag present, excluded channels, bands, ...: more than 4 bits
    over.put(0, 32);
    putEnd(over);
    EXPECT_EQ(b.parse(over), -1);
}

TEST(Syntax, SbrPayloads) {
    BitWriter w;
    putEmptySce(w, 0);
    w.put(6, 3);
    w.put(4, 4);
    w.put(13, 4); // EXT_SBR_DATA
    w.put(0xABCDEF, 28);
    putEnd(w);
    {
        Block b(1); // plain instance: the payload is skipped
        ASSERT_EQ(b.parse(w), 1);
        EXPECT_EQ(b.consumed(), w.bits);
        EXPECT_EQ(b.d->sbrEnabled, 0);
        EXPECT_EQ(b.info.sbr[0].sbrDataPresent, 0);
    }
    {
        // The probe parses it with a parse-only state: no header yet, but
        // SBR data are there.
        Block b(1);
        SbrChannelState probeState{};
        SbrChannelBuffers probeBuffers{};
        SbrWireChannel(&probeState, &probeBuffers);
        SbrResetChannel(&probeState);
        probeState.parseOnly = 1;
        b.d->sbrChannel[0] = &probeState;
        b.d->probeOnly = 1;
        ASSERT_EQ(b.parse(w), 1);
        EXPECT_EQ(b.consumed(), w.bits);
        EXPECT_EQ(b.d->sbrEnabled, 1);
        EXPECT_EQ(probeState.noHeaderYet, 1);
        b.d->sbrChannel[0] = nullptr;
    }
    {
        // Ahead of every channel element the payload belongs to none.
        BitWriter early;
        early.put(6, 3);
        early.put(4, 4);
        early.put(13, 4);
        early.put(0xABCDEF, 28);
        putEmptySce(early, 0);
        putEnd(early);
        Block b(1);
        SbrChannelState probeState{};
        SbrChannelBuffers probeBuffers{};
        SbrWireChannel(&probeState, &probeBuffers);
        SbrResetChannel(&probeState);
        probeState.parseOnly = 1;
        b.d->sbrChannel[0] = &probeState;
        b.d->probeOnly = 1;
        ASSERT_EQ(b.parse(early), 1);
        EXPECT_EQ(b.consumed(), early.bits);
        EXPECT_EQ(b.d->sbrEnabled, 0);
        EXPECT_EQ(b.info.sbr[0].sbrDataPresent, 0);
        EXPECT_EQ(b.info.sbr[0].numEnvelopes, 1);
        b.d->sbrChannel[0] = nullptr;
    }
}

// Short windows, grouping 1,0,1,1,0,1,1: groups of 2, 3 and 3 windows. One
// band per group, coded with book 1; probe mode keeps the quantised values,
// which come out group-interleaved: 8, 12 and 12 values.
TEST(Syntax, ShortWindowGroupsAndSpectralLayout) {
    const std::vector<Code> sf = loadBook(0);
    const std::vector<Code> book1 = loadBook(1);
    const Code& zero = codeOf(book1, 40);   // (0, 0, 0, 0)
    const Code& last = codeOf(book1, 41);   // (0, 0, 0, 1)
    const Code& first = codeOf(book1, 67);  // (1, 0, 0, 0)
    BitWriter w;
    w.put(0, 3);
    w.put(0, 4);
    w.put(100, 8);
    w.put(kEightShort << 1, 4);
    w.put(1, 4);        // max_sfb
    w.put(0x5B, 7);     // 1011011
    for (int g = 0; g < 3; ++g) {
        w.put(1, 4);    // sect_cb
        w.put(1, 3);    // sect_len
    }
    for (int g = 0; g < 3; ++g) w.put(codeOf(sf, 60 + g).word, codeOf(sf, 60 + g).length);
    putNoTools(w);
    const int32_t quads[3] = {2, 3, 3};
    for (int g = 0; g < 3; ++g)
        for (int q = 0; q < quads[g]; ++q) {
            const Code& c = q == 0 ? first : (q == quads[g] - 1 ? last : zero);
            w.put(c.word, c.length);
        }
    putEnd(w);

    Block b(1);
    b.d->probeOnly = 1;
    ASSERT_EQ(b.parse(w), 1);
    EXPECT_EQ(b.consumed(), w.bits);
    EXPECT_EQ(b.info.windowSequence[0], kEightShort);
    const int32_t* s = b.d->workBuffer;
    // Group g starts at 128 x (windows before it); its band 0 spans 4 x length.
    const int32_t starts[3] = {0, 256, 640};
    for (int g = 0; g < 3; ++g) {
        SCOPED_TRACE(g);
        const int32_t width = 4 * (g == 0 ? 2 : 3);
        EXPECT_EQ(s[starts[g]], 1);
        EXPECT_EQ(s[starts[g] + width - 1], 1);
        for (int32_t k = 1; k < width - 1; ++k) EXPECT_EQ(s[starts[g] + k], 0);
        // The remaining short bands of the group are zero.
        for (int32_t k = width; k < 128 * (g == 0 ? 2 : 3); ++k) ASSERT_EQ(s[starts[g] + k], 0);
    }
}

TEST(Syntax, LongWindowToolsAreParsed) {
    // LTP stream: predictor data with LTP for max_sfb 3, sections, scale
    // factors, three pulses ending at line 1021 past band 48, and TNS.
    const std::vector<Code> sf = loadBook(0);
    BitWriter w;
    w.put(0, 3);
    w.put(0, 4);
    w.put(100, 8);
    putLongInfo(w, 3, 1, 1);
    w.put(1, 1);        // ltp_data_present
    w.put(1000, 11);    // ltp_lag
    w.put(5, 3);        // ltp_coef
    w.put(0x5, 3);      // ltp_long_used for 3 bands
    w.put(0, 4);        // one zero section over the 3 bands
    w.put(3, 5);
    w.put(1, 1);        // pulse_data_present
    w.put((2 << 6) | 48, 8);
    for (int i = 0; i < 3; ++i) w.put((31 << 4) | 7, 9);
    w.put(1, 1);        // tns_data_present
    w.put(1, 2);        // n_filt
    w.put(1, 1);        // coef_res
    w.put(10, 6);
    w.put(3, 5);
    w.put(1, 1);        // direction
    w.put(0, 1);        // coef_compress
    w.put(0xA5F, 12);   // 3 coefficients of 4 bits
    w.put(0, 1);        // gain control
    putEnd(w);
    Block b(1, 3);
    b.d->probeOnly = 1;
    ASSERT_EQ(b.parse(w), 1);
    EXPECT_EQ(b.consumed(), w.bits);
    EXPECT_EQ(b.info.windowShape[0], 1);

    // The same element in an LC stream: main-profile prediction is refused.
    Block lc(1, 1);
    lc.d->probeOnly = 1;
    EXPECT_EQ(lc.parse(w), -1);
}

TEST(Syntax, CommonWindowPairWithMsMaskAndLtp) {
    BitWriter w;
    w.put(1, 3);
    w.put(0, 4);
    w.put(1, 1);
    putLongInfo(w, 2, 0, 1);
    for (int ch = 0; ch < 2; ++ch) {
        w.put(1, 1);
        w.put(2047, 11);
        w.put(7, 3);
        w.put(ch == 0 ? 3 : 0, 2); // ltp_long_used of 2 bands
    }
    w.put(1, 2);    // ms_mask_present 1: a bit per band
    w.put(0x2, 2);
    for (int ch = 0; ch < 2; ++ch) {
        w.put(90, 8);
        w.put(0, 4);
        w.put(2, 5);
        putNoTools(w);
    }
    putEnd(w);
    Block b(2, 3);
    b.d->probeOnly = 1;
    ASSERT_EQ(b.parse(w), 2);
    EXPECT_EQ(b.consumed(), w.bits);
    EXPECT_EQ(b.info.sbr[0].elementType, 1);
    EXPECT_EQ(b.info.sbr[1].elementType, 1);
    EXPECT_EQ(b.info.sbr[1].channelIndex, 1);
}

// A long-window single channel element with the given fields after ics_info.
struct Guard {
    const char* name;
    int32_t windowSequence, maxSfb;
    void (*body)(BitWriter&);
    int32_t rc;
};

TEST(Syntax, GuardsRefuseFieldsOutsideTheArrays) {
    const Guard guards[] = {
        {"long max_sfb 49 of 49", kOnlyLong, 49,
         [](BitWriter& w) { w.put(0, 4); w.put(31, 5); w.put(18, 5); putNoTools(w); }, 1},
        {"long max_sfb 50 of 49", kOnlyLong, 50, [](BitWriter&) {}, -1},
        {"short max_sfb 15 of 14", kEightShort, 15, [](BitWriter&) {}, -1},
        {"section past max_sfb", kOnlyLong, 2,
         [](BitWriter& w) { w.put(0, 4); w.put(3, 5); putNoTools(w); }, -1},
        {"escaped section past max_sfb", kOnlyLong, 40,
         [](BitWriter& w) { w.put(0, 4); w.put(31, 5); w.put(10, 5); putNoTools(w); }, -1},
        {"reserved codebook 12", kOnlyLong, 1,
         [](BitWriter& w) { w.put(12, 4); w.put(1, 5); putNoTools(w); }, -1},
        {"pulses up to line 1023", kOnlyLong, 0,
         [](BitWriter& w) {
             w.put(1, 1);
             w.put((3 << 6) | 48, 8);
             for (int i = 0; i < 3; ++i) w.put(31 << 4, 9);
             w.put(2 << 4, 9);
             w.put(0, 2);
         }, 1},
        {"pulse at line 1024", kOnlyLong, 0,
         [](BitWriter& w) {
             w.put(1, 1);
             w.put((3 << 6) | 48, 8);
             for (int i = 0; i < 3; ++i) w.put(31 << 4, 9);
             w.put(3 << 4, 9);
             w.put(0, 2);
         }, -1},
        {"pulse start past the bands", kOnlyLong, 0,
         [](BitWriter& w) { w.put(1, 1); w.put(49, 8); w.put(0, 9); w.put(0, 2); }, -1},
        {"pulses in short windows", kEightShort, 0,
         [](BitWriter& w) { w.put(1, 1); w.put(0, 8); w.put(0, 9); w.put(0, 2); }, -1},
        {"gain control", kOnlyLong, 0, [](BitWriter& w) { w.put(1, 3); }, -1},
    };
    for (const Guard& g : guards) {
        SCOPED_TRACE(g.name);
        BitWriter w;
        w.put(0, 3);
        w.put(0, 4);
        w.put(100, 8);
        w.put(static_cast<uint32_t>(g.windowSequence << 1), 4);
        if (g.windowSequence == kEightShort) {
            w.put(static_cast<uint32_t>(g.maxSfb), 4);
            w.put(0, 7);
        } else {
            w.put(static_cast<uint32_t>(g.maxSfb << 1), 7);
        }
        g.body(w);
        putEnd(w);
        Block b(1);
        b.d->probeOnly = 1;
        EXPECT_EQ(b.parse(w), g.rc);
        if (g.rc > 0) {
            EXPECT_EQ(b.consumed(), w.bits);
        }
    }
}

TEST(Syntax, BlockMustLieWithinTheData) {
    BitWriter w;
    putEmptySce(w, 0);
    // No END: the zero bits past the end read as further elements.
    Block b(2);
    EXPECT_EQ(b.parse(w), -1);
    // A data stream element that skips past the end.
    BitWriter dse;
    putEmptySce(dse, 0);
    dse.put(4, 3);
    dse.put(0, 5);
    dse.put(200, 8);
    putEnd(dse);
    EXPECT_EQ(b.parse(dse), -1);
}

// program_config_element: front elements, then alignment and a comment.
void putPce(BitWriter& w, int32_t objectType, int32_t srIndex, int32_t front, int32_t side,
            int32_t lfe, bool frontPair) {
    w.put(1, 4);
    w.put(static_cast<uint32_t>(objectType), 2);
    w.put(static_cast<uint32_t>(srIndex), 4);
    w.put(static_cast<uint32_t>(front), 4);
    w.put(static_cast<uint32_t>(side), 4);
    w.put(0, 4);
    w.put(static_cast<uint32_t>(lfe), 2);
    w.put(1, 3); // one associated data element
    w.put(0, 4);
    w.put(1, 1); // mono mixdown
    w.put(2, 4);
    w.put(0, 1);
    w.put(1, 1); // matrix mixdown
    w.put(3, 3);
    for (int32_t i = 0; i < front; ++i) {
        w.put(frontPair ? 1 : 0, 1);
        w.put(static_cast<uint32_t>(i), 4);
    }
    for (int32_t i = 0; i < side; ++i) w.put(static_cast<uint32_t>(i), 5);
    for (int32_t i = 0; i < lfe; ++i) w.put(0, 4);
    w.put(9, 4);
    w.align();
    w.put(3, 8);
    w.put(0xABCDEF, 24);
}

TEST(Syntax, ProgramConfig) {
    struct Case {
        const char* name;
        int32_t objectType, srIndex, front, side, lfe;
        bool pair;
        int32_t required, rc;
    } cases[] = {
        {"one pair", 1, 4, 1, 0, 0, true, 127, 2},
        {"one single, LTP", 3, 11, 1, 0, 0, false, 11, 1},
        {"two singles", 1, 4, 2, 0, 0, false, 4, 2},
        {"pair and side single", 1, 4, 1, 1, 0, true, 127, -1},
        {"no channels", 1, 4, 0, 0, 0, false, 127, -1},
        {"LFE", 1, 4, 1, 0, 1, false, 127, -1},
        {"main profile", 0, 4, 1, 0, 0, true, 127, -1},
        {"other rate", 1, 3, 1, 0, 0, true, 4, -1},
        {"rate index 12", 1, 12, 1, 0, 0, true, 127, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitWriter w;
        putPce(w, c.objectType, c.srIndex, c.front, c.side, c.lfe, c.pair);
        BitReader r;
        start(&r, w.bytes.data(), static_cast<int32_t>(w.bytes.size()));
        ProgramConfig pce;
        EXPECT_EQ(parseProgramConfig(&r, c.required, &pce), c.rc);
        if (c.rc < 0) continue;
        EXPECT_EQ(r.bitsConsumed, w.bits);
        EXPECT_EQ(pce.elementInstanceTag, 1);
        EXPECT_EQ(pce.objectType, c.objectType);
        EXPECT_EQ(pce.samplingFrequencyIndex, c.srIndex);
        EXPECT_EQ(pce.numFrontChannelElements, c.front);
        EXPECT_EQ(pce.frontElementIsCpe[0], c.pair ? 1 : 0);
        EXPECT_EQ(pce.monoMixdownPresent, 1);
        EXPECT_EQ(pce.monoMixdownElementNumber, 2);
        EXPECT_EQ(pce.matrixMixdownIdxPresent, 1);
        EXPECT_EQ(pce.matrixMixdownIdx, 1);
        EXPECT_EQ(pce.pseudoSurroundEnable, 1);
        EXPECT_EQ(pce.numAssocDataElements, 1);
        EXPECT_EQ(pce.assocDataElementTagSelect[0], 9);
    }

    // In a block, a program configuration element must carry the stream's rate.
    Block b(2);
    BitWriter ok;
    ok.put(5, 3);
    putPce(ok, 1, kSr44100, 1, 0, 0, true);
    putEmptyCpe(ok);
    putEnd(ok);
    ASSERT_EQ(b.parse(ok), 2);
    EXPECT_EQ(b.consumed(), ok.bits);
    BitWriter other;
    other.put(5, 3);
    putPce(other, 1, 3, 1, 0, 0, true);
    putEmptyCpe(other);
    putEnd(other);
    EXPECT_EQ(b.parse(other), -1);
}

} // namespace
