// The exported codec functions: argument checks and their order, the frame size rules for every
// type and block size, staging (exact byte counts, nothing touched on failure) and the frames of
// the worked examples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "orvoaudio/voice.h"

namespace {

constexpr int16_t kAllTypes[] = {VOICE_G711_A,       VOICE_G711_U,       VOICE_ADPCM_DVI4,
                                 VOICE_ADPCM_IMA,    VOICE_G726_16K,     VOICE_G726_24K,
                                 VOICE_G726_32K,     VOICE_G726_40K,     VOICE_G726_16K_MSB,
                                 VOICE_G726_24K_MSB, VOICE_G726_32K_MSB, VOICE_G726_40K_MSB};
constexpr int16_t kUnsupportedTypes[] = {0, -1, 8, 34, 40, -32768, 32767, 100};
constexpr uint8_t kCanary = 0xC3;
constexpr int16_t kSampleCanary = 0x3C3C;
constexpr int kFrameCapacity = 484;

int G726Bits(int type) { return (type > 7 ? type - 32 : type) - 2; }
bool IsG726(int type) { return (type >= 4 && type <= 7) || (type >= 36 && type <= 39); }

int ExpectedLength(int type, int n)
{
    switch (type) {
    case VOICE_G711_A:
    case VOICE_G711_U:
        return n / 2;
    case VOICE_ADPCM_DVI4:
        return n / 4 + 2;
    case VOICE_ADPCM_IMA:
        return (n - 1) / 4 + 2;
    default:
        return n * G726Bits(type) / 16;
    }
}

// Samples decoded from a frame of `w` words, or -1 when the decoder refuses it.
int ExpectedDecoded(int type, int w)
{
    if (w == 0)
        return -1;
    if (type == VOICE_ADPCM_DVI4 || type == VOICE_ADPCM_IMA)
        return w < 2 || w > 122 ? -1 : (type == VOICE_ADPCM_DVI4 ? 4 * (w - 2) : 4 * w - 7);
    const int s = IsG726(type) ? 16 * w / G726Bits(type) : 2 * w;
    return s <= 481 && s % 80 == 0 ? s : -1;
}

std::vector<int16_t> Speech(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<int16_t> s(n);
    double phase = 0;
    for (int k = 0; k < n; ++k) {
        phase += 0.13 + 0.02 * u(rng);
        s[k] = static_cast<int16_t>(6000 * std::sin(phase) + 2500 * std::sin(3.1 * phase) + 200 * u(rng));
    }
    return s;
}

// Leaves a recognisable pattern in the stack below the caller, where the codec stages frames.
__attribute__((noinline)) void DirtyStack()
{
    volatile uint8_t junk[8192];
    for (auto &b : junk)
        b = 0xFF;
}

VoiceCodecState Encoder(int16_t type)
{
    VoiceCodecState st;
    std::memset(&st, 0x5D, sizeof st);
    EXPECT_EQ(HI_VOICE_EncReset(&st, type), 0);
    return st;
}

VoiceCodecState Decoder(int16_t type)
{
    VoiceCodecState st;
    std::memset(&st, 0x6E, sizeof st);
    EXPECT_EQ(HI_VOICE_DecReset(&st, type), 0);
    return st;
}

bool SameBytes(const VoiceCodecState &a, const VoiceCodecState &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(VoiceApi, ResetChecksAndStoresTheType)
{
    EXPECT_EQ(HI_VOICE_EncReset(nullptr, VOICE_G711_U), HI_ERR_VOICE_NULL_STATE);
    EXPECT_EQ(HI_VOICE_DecReset(nullptr, 99), HI_ERR_VOICE_NULL_STATE);
    for (int16_t type : kUnsupportedTypes) {
        VoiceCodecState st{};
        EXPECT_EQ(HI_VOICE_EncReset(&st, type), HI_ERR_VOICE_ENC_TYPE);
        EXPECT_EQ(st.type, type);
        EXPECT_EQ(HI_VOICE_DecReset(&st, type), HI_ERR_VOICE_DEC_TYPE);
        EXPECT_EQ(st.type, type);
    }
    for (int16_t type : kAllTypes) {
        VoiceCodecState st;
        std::memset(&st, 0xAB, sizeof st);
        EXPECT_EQ(HI_VOICE_EncReset(&st, type), 0);
        EXPECT_EQ(st.type, type);
    }
    // G.711 sets only the type.
    VoiceCodecState st;
    std::memset(&st, 0xAB, sizeof st);
    VoiceCodecState before = st;
    ASSERT_EQ(HI_VOICE_DecReset(&st, VOICE_G711_A), 0);
    before.type = VOICE_G711_A;
    EXPECT_TRUE(SameBytes(st, before));
    // ADPCM clears predictor and index.
    ASSERT_EQ(HI_VOICE_EncReset(&st, VOICE_ADPCM_IMA), 0);
    EXPECT_EQ(st.family.adpcm.predicted, 0);
    EXPECT_EQ(st.family.adpcm.step_index, 0);
}

TEST(VoiceApi, EncodeCheckOrder)
{
    VoiceCodecState good = Encoder(VOICE_G711_U);
    VoiceCodecState bad = good;
    bad.type = 8;
    int16_t pcm[481] = {};
    uint8_t frame[kFrameCapacity];
    struct Case {
        VoiceCodecState *state;
        const int16_t *samples;
        void *frame;
        int16_t count;
        int32_t expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 0, HI_ERR_VOICE_NULL_STATE},
        {nullptr, pcm, frame, 160, HI_ERR_VOICE_NULL_STATE},
        {&bad, nullptr, nullptr, 0, HI_ERR_VOICE_NULL_INPUT},
        {&bad, pcm, nullptr, 0, HI_ERR_VOICE_NULL_OUTPUT},
        {&bad, pcm, frame, 0, HI_ERR_VOICE_ENC_SAMPLES},
        {&good, pcm, frame, 0, HI_ERR_VOICE_ENC_SAMPLES},
        {&good, pcm, frame, -1, HI_ERR_VOICE_ENC_SAMPLES},
        {&good, pcm, frame, -32768, HI_ERR_VOICE_ENC_SAMPLES},
        {&good, pcm, frame, 482, HI_ERR_VOICE_ENC_SAMPLES},
        {&good, pcm, frame, 32767, HI_ERR_VOICE_ENC_SAMPLES},
        {&bad, pcm, frame, 160, HI_ERR_VOICE_ENC_TYPE},
        {&good, pcm, frame, 481, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << c.count);
        std::memset(frame, kCanary, sizeof frame);
        EXPECT_EQ(HI_VOICE_EncodeFrame(c.state, c.samples, c.frame, c.count), c.expected);
        if (c.expected != 0) {
            EXPECT_TRUE(std::all_of(frame, frame + sizeof frame, [](uint8_t b) { return b == kCanary; }));
        }
    }
}

TEST(VoiceApi, EncodeFailureLeavesStateAndFrameAlone)
{
    for (int16_t type : kAllTypes) {
        VoiceCodecState st = Encoder(type);
        const std::vector<int16_t> pcm = Speech(481, 5);
        uint8_t frame[kFrameCapacity];
        ASSERT_EQ(HI_VOICE_EncodeFrame(&st, pcm.data(), frame, 160), 0); // move the state on
        const VoiceCodecState before = st;
        std::memset(frame, kCanary, sizeof frame);
        EXPECT_EQ(HI_VOICE_EncodeFrame(&st, pcm.data(), frame, 482), HI_ERR_VOICE_ENC_SAMPLES);
        EXPECT_EQ(HI_VOICE_EncodeFrame(&st, pcm.data(), frame, 0), HI_ERR_VOICE_ENC_SAMPLES);
        EXPECT_TRUE(SameBytes(st, before)) << type;
        EXPECT_TRUE(std::all_of(frame, frame + sizeof frame, [](uint8_t b) { return b == kCanary; }));
    }
}

TEST(VoiceApi, DecodeCheckOrder)
{
    VoiceCodecState good = Decoder(VOICE_G711_U);
    VoiceCodecState bad = good;
    bad.type = 8;
    int16_t out[481];
    int16_t count = 0;
    auto frame = [](uint8_t b0, uint8_t b1, uint8_t length) {
        std::vector<uint8_t> f(4 + 2 * 255, 0);
        f[0] = b0;
        f[1] = b1;
        f[2] = length;
        return f;
    };
    struct Case {
        VoiceCodecState *state;
        std::vector<uint8_t> frame;
        bool null_frame, null_samples, null_count;
        int32_t expected;
        int16_t samples;
    };
    const Case cases[] = {
        {nullptr, frame(0, 1, 80), true, true, true, HI_ERR_VOICE_NULL_STATE, 0},
        {&bad, frame(0, 1, 80), true, true, true, HI_ERR_VOICE_NULL_INPUT, 0},
        {&bad, frame(0, 1, 80), false, true, false, HI_ERR_VOICE_NULL_OUTPUT, 0},
        {&bad, frame(0, 1, 80), false, false, true, HI_ERR_VOICE_NULL_OUTPUT, 0},
        {&bad, frame(0, 0, 0), false, false, false, HI_ERR_VOICE_DEC_MARKER, 0},
        {&bad, frame(0, 1, 0), false, false, false, HI_ERR_VOICE_DEC_LENGTH, 0},
        {&bad, frame(0, 1, 80), false, false, false, HI_ERR_VOICE_DEC_TYPE, 0},
        {&good, frame(0, 2, 80), false, false, false, HI_ERR_VOICE_DEC_MARKER, 0},
        {&good, frame(0, 3, 80), false, false, false, HI_ERR_VOICE_DEC_MARKER, 0},
        {&good, frame(0xFF, 0x00, 80), false, false, false, HI_ERR_VOICE_DEC_MARKER, 0},
        {&good, frame(0, 1, 50), false, false, false, HI_ERR_VOICE_DEC_LENGTH, 0},
        {&good, frame(0, 1, 241), false, false, false, HI_ERR_VOICE_DEC_LENGTH, 0},
        {&good, frame(0, 0xFD, 80), false, false, false, 0, 160}, // other marker bits ignored
        {&good, frame(0x7E, 0x01, 40), false, false, false, 0, 80},
        {&good, frame(0, 1, 240), false, false, false, 0, 480},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> f = c.frame;
        const std::vector<uint8_t> before = f;
        count = 999;
        std::fill(std::begin(out), std::end(out), kSampleCanary);
        const int32_t rc = HI_VOICE_DecodeFrame(c.state, c.null_frame ? nullptr : f.data(),
                                                c.null_samples ? nullptr : out,
                                                c.null_count ? nullptr : &count);
        EXPECT_EQ(rc, c.expected) << HI_VOICE_StatusText(rc);
        if (c.state && !c.null_frame && !c.null_samples && !c.null_count)
            EXPECT_EQ(count, c.samples);
        else
            EXPECT_EQ(count, 999);
        EXPECT_EQ(f, before);
        if (rc != 0) {
            EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](int16_t s) { return s == kSampleCanary; }));
        }
    }
}

// Every type and block size: the length byte, the exact bytes written, and what the decoder does.
TEST(VoiceApi, BlockSizesForEveryType)
{
    for (int16_t type : kAllTypes) {
        for (int n : {1, 2, 3, 4, 5, 11, 77, 80, 160, 161, 162, 320, 480, 481}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " samples " << n);
            VoiceCodecState enc = Encoder(type);
            const std::vector<int16_t> pcm = Speech(n, 42 + n); // exactly n samples
            const int length = ExpectedLength(type, n);
            const int bytes = 4 + 2 * length;
            std::vector<uint8_t> frame(kFrameCapacity + 16, kCanary);
            ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, pcm.data(), frame.data(), static_cast<int16_t>(n)), 0);
            EXPECT_EQ(frame[0], 0x00);
            EXPECT_EQ(frame[1], 0x01);
            EXPECT_EQ(frame[2], length);
            EXPECT_EQ(frame[3], 0x00);
            for (std::size_t k = bytes; k < frame.size(); ++k)
                ASSERT_EQ(frame[k], kCanary) << "byte " << k << " written";

            // Decode from a buffer exactly as long as the frame.
            std::vector<uint8_t> exact(frame.begin(), frame.begin() + bytes);
            VoiceCodecState dec = Decoder(type);
            const VoiceCodecState dec_before = dec;
            std::vector<int16_t> out(481 + 8, kSampleCanary);
            int16_t count = 999;
            const int32_t rc = HI_VOICE_DecodeFrame(&dec, exact.data(), out.data(), &count);
            const int expected = ExpectedDecoded(type, length);
            if (expected < 0) {
                EXPECT_EQ(rc, HI_ERR_VOICE_DEC_LENGTH);
                EXPECT_EQ(count, 0);
                EXPECT_TRUE(SameBytes(dec, dec_before));
                EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == kSampleCanary; }));
                continue;
            }
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(count, expected);
            for (std::size_t k = expected; k < out.size(); ++k)
                ASSERT_EQ(out[k], kSampleCanary) << "sample " << k << " written";
        }
    }
}

TEST(VoiceApi, G711FramesCarryTheCodesInSampleOrder)
{
    const std::vector<int16_t> pcm = Speech(161, 9);
    for (int16_t type : {VOICE_G711_A, VOICE_G711_U}) {
        VoiceCodecState enc = Encoder(type);
        VoiceCodecState dec = Decoder(type);
        uint8_t a[kFrameCapacity], b[kFrameCapacity];
        ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, pcm.data(), a, 161), 0);
        ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, pcm.data(), b, 160), 0);
        EXPECT_EQ(a[2], 80); // the 161st sample is lost
        EXPECT_EQ(std::memcmp(a, b, 164), 0) << "no memory between frames";
        int16_t out[481];
        int16_t count = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(&dec, a, out, &count), 0);
        ASSERT_EQ(count, 160);
        // Each decoded sample re-encodes to its code.
        VoiceCodecState again = Encoder(type);
        uint8_t c[kFrameCapacity];
        ASSERT_EQ(HI_VOICE_EncodeFrame(&again, out, c, 160), 0);
        EXPECT_EQ(std::memcmp(a, c, 164), 0);
        // Decoding-error is bounded by one quantisation step (about 1/16 of the value).
        for (int k = 0; k < 160; ++k)
            EXPECT_LE(std::abs(out[k] - pcm[k]), std::max(40, std::abs(pcm[k]) / 14)) << k;
    }
}

TEST(VoiceApi, AdpcmWorkedExampleFrames)
{
    VoiceCodecState enc = Encoder(VOICE_ADPCM_DVI4);
    const int16_t ones[9] = {0, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000};
    uint8_t frame[16] = {};
    ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, ones + 1, frame, 8), 0);
    const uint8_t dvi4[12] = {0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x77, 0x77, 0x75, 0x08};
    EXPECT_EQ(std::memcmp(frame, dvi4, 12), 0);
    EXPECT_EQ(enc.family.adpcm.predicted, 1001);
    EXPECT_EQ(enc.family.adpcm.step_index, 42);

    const int16_t expected[9] = {0, 11, 41, 104, 240, 533, 996, 1057, 1001};
    // Any decoder state gives the same samples: the frame replaces it.
    VoiceCodecState dec = Decoder(VOICE_ADPCM_DVI4);
    dec.family.adpcm.predicted = -20000;
    dec.family.adpcm.step_index = 70;
    int16_t out[481];
    int16_t count = 0;
    ASSERT_EQ(HI_VOICE_DecodeFrame(&dec, frame, out, &count), 0);
    ASSERT_EQ(count, 8);
    EXPECT_TRUE(std::equal(out, out + 8, expected + 1));
    EXPECT_EQ(dec.family.adpcm.predicted, 1001);
    EXPECT_EQ(dec.family.adpcm.step_index, 42);

    VoiceCodecState ima = Encoder(VOICE_ADPCM_IMA);
    ASSERT_EQ(HI_VOICE_EncodeFrame(&ima, ones, frame, 9), 0);
    const uint8_t imaframe[12] = {0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x77, 0x77, 0x57, 0x80};
    EXPECT_EQ(std::memcmp(frame, imaframe, 12), 0);
    VoiceCodecState imadec = Decoder(VOICE_ADPCM_IMA);
    const std::vector<uint8_t> before(frame, frame + 12);
    ASSERT_EQ(HI_VOICE_DecodeFrame(&imadec, frame, out, &count), 0);
    ASSERT_EQ(count, 9);
    EXPECT_TRUE(std::equal(out, out + 9, expected));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), frame)) << "frame changed by decoding";
}

TEST(VoiceApi, AdpcmBlockEdges)
{
    const std::vector<int16_t> pcm = Speech(481, 3);
    struct Case {
        int16_t type;
        int n;
        int length;
        int decoded;
    };
    const Case cases[] = {{VOICE_ADPCM_DVI4, 160, 42, 160}, {VOICE_ADPCM_DVI4, 162, 42, 160},
                          {VOICE_ADPCM_DVI4, 1, 2, 0},      {VOICE_ADPCM_DVI4, 3, 2, 0},
                          {VOICE_ADPCM_DVI4, 481, 122, 480}, {VOICE_ADPCM_IMA, 161, 42, 161},
                          {VOICE_ADPCM_IMA, 160, 41, 157},  {VOICE_ADPCM_IMA, 1, 2, 1},
                          {VOICE_ADPCM_IMA, 481, 122, 481}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << "/" << c.n);
        VoiceCodecState enc = Encoder(c.type);
        VoiceCodecState dec = Decoder(c.type);
        uint8_t frame[kFrameCapacity];
        ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, pcm.data(), frame, static_cast<int16_t>(c.n)), 0);
        EXPECT_EQ(frame[2], c.length);
        int16_t out[481];
        int16_t count = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(&dec, frame, out, &count), 0);
        EXPECT_EQ(count, c.decoded);
        if (c.type == VOICE_ADPCM_IMA) {
            EXPECT_EQ(out[0], pcm[0]);
        }
    }
    // Type 3: the codes coded but not carried move the next frame's header on.
    VoiceCodecState enc = Encoder(VOICE_ADPCM_DVI4);
    uint8_t frame[kFrameCapacity];
    ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, pcm.data(), frame, 162), 0);
    const AdpcmState after = enc.family.adpcm;
    ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, pcm.data() + 162, frame, 160), 0);
    EXPECT_EQ(static_cast<int16_t>(frame[4] | frame[5] << 8), after.predicted);
    EXPECT_EQ(frame[6], after.step_index);
    EXPECT_EQ(frame[7], 0);
}

TEST(VoiceApi, AdpcmStepIndexAboveTheTableIsClamped)
{
    // A received header with index 200 decodes like one with the largest index, 88.
    uint8_t high[4 + 2 * 42] = {0x00, 0x01, 42, 0x00, 0x10, 0x27, 200, 0};
    for (int k = 8; k < 4 + 2 * 42; ++k)
        high[k] = static_cast<uint8_t>(k * 37);
    uint8_t top[sizeof high];
    std::memcpy(top, high, sizeof high);
    top[6] = 88;
    for (int16_t type : {VOICE_ADPCM_DVI4, VOICE_ADPCM_IMA}) {
        VoiceCodecState a = Decoder(type), b = Decoder(type);
        int16_t out_a[481], out_b[481], na = 0, nb = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(&a, high, out_a, &na), 0);
        ASSERT_EQ(HI_VOICE_DecodeFrame(&b, top, out_b, &nb), 0);
        ASSERT_EQ(na, nb);
        EXPECT_TRUE(std::equal(out_a, out_a + na, out_b));
        EXPECT_LE(a.family.adpcm.step_index, 88);
    }
}

TEST(VoiceApi, AdpcmFrameOfOneWordIsRefused)
{
    for (int16_t type : {VOICE_ADPCM_DVI4, VOICE_ADPCM_IMA}) {
        VoiceCodecState dec = Decoder(type);
        const VoiceCodecState before = dec;
        uint8_t frame[6] = {0x00, 0x01, 1, 0x00, 0x34, 0x12};
        int16_t out[4] = {kSampleCanary, kSampleCanary, kSampleCanary, kSampleCanary};
        int16_t count = 7;
        EXPECT_EQ(HI_VOICE_DecodeFrame(&dec, frame, out, &count), HI_ERR_VOICE_DEC_LENGTH);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(out[0], kSampleCanary);
        EXPECT_TRUE(SameBytes(dec, before));
        frame[2] = 123;
        EXPECT_EQ(HI_VOICE_DecodeFrame(&dec, frame, out, &count), HI_ERR_VOICE_DEC_LENGTH);
    }
}

TEST(VoiceApi, BitsBeyondTheLastCodeAreZero)
{
    // Odd counts leave the last sample uncoded; whatever the stack held before, the carried
    // bits after the last code are 0 (at 24 kbit/s: 11, 27, ... 475 samples).
    const std::vector<int16_t> pcm = Speech(481, 11);
    for (int16_t type : kAllTypes) {
        if (!IsG726(type))
            continue;
        const int bits = G726Bits(type);
        for (int n = 1; n <= 481; n += 2) {
            VoiceCodecState enc = Encoder(type);
            uint8_t frame[kFrameCapacity];
            DirtyStack();
            ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, pcm.data(), frame, static_cast<int16_t>(n)), 0);
            const int carried_bits = 16 * frame[2];
            const int coded_bits = (n - 1) * bits;
            if (carried_bits <= coded_bits)
                continue;
            // LSB-first bit p is bit p % 8 of byte p / 8; MSB-first (when re-ordered) the mirror.
            const bool reordered = type >= 36 && (8 * 2 * frame[2]) % bits == 0;
            for (int p = coded_bits; p < carried_bits; ++p) {
                const int bit = reordered ? 7 - p % 8 : p % 8;
                ASSERT_EQ((frame[4 + p / 8] >> bit) & 1, 0) << "type " << type << " n " << n << " bit " << p;
            }
        }
    }
}

TEST(VoiceApi, G726FramesAreReorderedInPlaceOnDecode)
{
    const std::vector<int16_t> pcm = Speech(160, 21);
    for (int16_t lsb_type : {VOICE_G726_16K, VOICE_G726_24K, VOICE_G726_32K, VOICE_G726_40K}) {
        const int16_t msb_type = static_cast<int16_t>(lsb_type + 32);
        VoiceCodecState lsb_enc = Encoder(lsb_type), msb_enc = Encoder(msb_type);
        uint8_t lsb[kFrameCapacity], msb[kFrameCapacity];
        ASSERT_EQ(HI_VOICE_EncodeFrame(&lsb_enc, pcm.data(), lsb, 160), 0);
        ASSERT_EQ(HI_VOICE_EncodeFrame(&msb_enc, pcm.data(), msb, 160), 0);
        const int bytes = 4 + 2 * lsb[2];
        ASSERT_EQ(msb[2], lsb[2]);
        EXPECT_TRUE(SameBytes(lsb_enc, msb_enc) || std::memcmp(&lsb_enc.family, &msb_enc.family,
                                                                 sizeof lsb_enc.family) == 0);
        if (lsb_type == VOICE_G726_32K) { // 4-bit codes: MSB-first swaps the halves of each byte
            for (int k = 4; k < bytes; ++k)
                EXPECT_EQ(msb[k], static_cast<uint8_t>((lsb[k] << 4) | (lsb[k] >> 4))) << k;
        }

        // Decoding the MSB-first frame leaves it in LSB-first order and gives the same samples.
        VoiceCodecState lsb_dec = Decoder(lsb_type), msb_dec = Decoder(msb_type);
        int16_t a[481] = {}, b[481] = {}, na = 0, nb = 0;
        const std::vector<uint8_t> lsb_before(lsb, lsb + bytes);
        ASSERT_EQ(HI_VOICE_DecodeFrame(&lsb_dec, lsb, a, &na), 0);
        ASSERT_EQ(HI_VOICE_DecodeFrame(&msb_dec, msb, b, &nb), 0);
        EXPECT_EQ(na, 160);
        EXPECT_EQ(nb, 160);
        EXPECT_TRUE(std::equal(lsb_before.begin(), lsb_before.end(), lsb)) << "LSB frame changed";
        EXPECT_TRUE(std::equal(lsb_before.begin(), lsb_before.end(), msb)) << "MSB frame not re-ordered";
        EXPECT_TRUE(std::equal(a, a + 160, b));
    }
}

TEST(VoiceApi, OverlappingBuffersCodeAsSeparateOnes)
{
    const std::vector<int16_t> pcm = Speech(480, 8);
    for (int16_t type : {VOICE_G711_A, VOICE_G711_U, VOICE_ADPCM_DVI4, VOICE_ADPCM_IMA}) {
        SCOPED_TRACE(type);
        VoiceCodecState e1 = Encoder(type), e2 = Encoder(type);
        uint8_t separate[kFrameCapacity];
        ASSERT_EQ(HI_VOICE_EncodeFrame(&e1, pcm.data(), separate, 480), 0);
        // Encode in place: the frame is written over the samples it came from.
        std::vector<int16_t> shared(pcm);
        ASSERT_EQ(HI_VOICE_EncodeFrame(&e2, shared.data(), shared.data(), 480), 0);
        const int bytes = 4 + 2 * separate[2];
        EXPECT_EQ(std::memcmp(shared.data(), separate, bytes), 0);

        VoiceCodecState d1 = Decoder(type), d2 = Decoder(type);
        int16_t out[481];
        int16_t n1 = 0, n2 = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(&d1, separate, out, &n1), 0);
        // Decode in place: the samples are written over the frame they come from.
        std::vector<int16_t> buffer(481);
        std::memcpy(buffer.data(), separate, bytes);
        ASSERT_EQ(HI_VOICE_DecodeFrame(&d2, buffer.data(), buffer.data(), &n2), 0);
        ASSERT_EQ(n1, n2);
        EXPECT_TRUE(std::equal(out, out + n1, buffer.begin()));
    }
}

TEST(VoiceApi, StatusTextNamesEveryCode)
{
    const int32_t codes[] = {0,
                             HI_ERR_VOICE_NULL_STATE,
                             HI_ERR_VOICE_NULL_INPUT,
                             HI_ERR_VOICE_NULL_OUTPUT,
                             HI_ERR_VOICE_ENC_TYPE,
                             HI_ERR_VOICE_ENC_SAMPLES,
                             HI_ERR_VOICE_DEC_TYPE,
                             HI_ERR_VOICE_DEC_LENGTH,
                             HI_ERR_VOICE_DEC_MARKER};
    std::vector<std::string> texts;
    for (int32_t c : codes) {
        ASSERT_NE(HI_VOICE_StatusText(c), nullptr);
        texts.emplace_back(HI_VOICE_StatusText(c));
        EXPECT_NE(texts.back(), "unknown status");
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
    EXPECT_STREQ(HI_VOICE_StatusText(12345), "unknown status");
    EXPECT_LT(HI_ERR_VOICE_NULL_STATE, 0);
}
