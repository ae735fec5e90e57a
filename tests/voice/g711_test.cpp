// G.711: every 16-bit sample against a plain rendering of the compression steps, the expansion
// and conversion tables, and the vector kernels against the scalar ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "orvoaudio/voice.h"
#include "voice/g711.h"
#include "voice/simd.h"

using namespace orvo::voice;

namespace {

// The compression steps written out one by one, with the bit search as a loop over positions.
int PlainSegmentSearch(int x, int first_bit)
{
    // Highest set bit, searched from bit 14 down (bit 15 is 0 for these magnitudes).
    for (int bit = 14; bit >= 0; --bit)
        if (x & (1 << bit))
            return bit - first_bit;
    return -first_bit;
}

uint8_t PlainALaw(int sample)
{
    int x = sample >> 3;
    int mask = 0xD5;
    if (x < 0) {
        mask = 0x55;
        x = -x - 1;
    }
    int segment = x <= 0x1F ? 0 : PlainSegmentSearch(x, 4);
    int quant = segment < 2 ? (x >> 1) & 0xF : (x >> segment) & 0xF;
    return static_cast<uint8_t>(((segment << 4) | quant) ^ mask);
}

uint8_t PlainMuLaw(int sample)
{
    int x = sample >> 2;
    int mask = 0xFF;
    if (x < 0) {
        mask = 0x7F;
        x = -x;
    }
    if (x > 8159)
        x = 8159;
    x += 33;
    int segment = PlainSegmentSearch(x, 5);
    if (segment == 8)
        return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>(((segment << 4) | ((x >> (segment + 1)) & 0xF)) ^ mask);
}

int PlainALawValue(int code)
{
    int v = code ^ 0x55;
    int t = (v & 0xF) << 4;
    int segment = (v >> 4) & 7;
    if (segment == 0)
        t += 8;
    else if (segment == 1)
        t += 0x108;
    else
        t = (t + 0x108) << (segment - 1);
    return (v & 0x80) ? t : -t;
}

int PlainMuLawValue(int code)
{
    int v = ~code & 0xFF;
    int t = (((v & 0xF) << 3) + 0x84) << ((v >> 4) & 7);
    return (v & 0x80) ? 0x84 - t : t - 0x84;
}

struct KernelSet {
    const char *name;
    bool force_scalar;
};

class G711KernelSuite : public ::testing::TestWithParam<KernelSet> {
protected:
    void SetUp() override { ForceScalarKernels(GetParam().force_scalar); }
    void TearDown() override { ForceScalarKernels(false); }
};

std::vector<int16_t> AllSamples()
{
    std::vector<int16_t> samples;
    for (int s = -32768; s <= 32767; ++s)
        samples.push_back(static_cast<int16_t>(s));
    return samples;
}

} // namespace

TEST(G711, WorkedExamples)
{
    struct Case {
        int16_t sample;
        uint8_t alaw, mulaw;
    };
    const Case cases[] = {{0, 0xD5, 0xFF},         {-1, 0x55, 0x7E},    {32767, 0xAA, 0x80},
                          {-32768, 0x2A, 0x00},    {1000, 0xFA, 0xCE},  {-1000, 0x7A, 0x4E}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sample);
        EXPECT_EQ(ALawCompress(c.sample), c.alaw);
        EXPECT_EQ(MuLawCompress(c.sample), c.mulaw);
    }
}

TEST(G711, MuLawTopStepAndClipShareCodes)
{
    for (int s = 31612; s <= 32767; ++s)
        ASSERT_EQ(MuLawCompress(static_cast<int16_t>(s)), 0x80) << s;
    for (int s = -32768; s <= -31609; ++s)
        ASSERT_EQ(MuLawCompress(static_cast<int16_t>(s)), 0x00) << s;
    EXPECT_NE(MuLawCompress(31611), 0x80);
    EXPECT_NE(MuLawCompress(-31608), 0x00);
}

TEST(G711, ExpansionTablesFollowTheDecodingRules)
{
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(ALawToLinear[code], PlainALawValue(code)) << code;
        EXPECT_EQ(MuLawToLinear[code], PlainMuLawValue(code)) << code;
    }
    struct Entry {
        const ExpandTable &table;
        uint8_t code;
        int value;
    };
    const Entry telling[] = {{ALawToLinear, 0xD5, 8},      {ALawToLinear, 0x55, -8},
                             {ALawToLinear, 0xAA, 32256},  {ALawToLinear, 0x2A, -32256},
                             {ALawToLinear, 0x80, 5504},   {ALawToLinear, 0x00, -5504},
                             {MuLawToLinear, 0xFF, 0},     {MuLawToLinear, 0x7F, 0},
                             {MuLawToLinear, 0x80, 32124}, {MuLawToLinear, 0x00, -32124}};
    for (const Entry &e : telling)
        EXPECT_EQ(e.table[e.code], e.value) << int(e.code);
}

TEST(G711, ExpandingACodeAndCompressingGivesItBack)
{
    // Every A-law code, and every mu-law code but the negative zero 0x7F, is a fixed point.
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(ALawCompress(ALawToLinear[code]), code);
        if (code != 0x7F) {
            EXPECT_EQ(MuLawCompress(MuLawToLinear[code]), code);
        }
    }
}

TEST(G711, ALawToMuLawTableRows)
{
    const char *rows[16] = {
        "2A 2B 28 29 2E 2F 2C 2D 22 23 20 21 26 27 24 25", "39 3A 37 38 3D 3E 3B 3C 31 32 2F 30 35 36 33 34",
        "0A 0B 08 09 0E 0F 0C 0D 02 03 00 01 06 07 04 05", "1A 1B 18 19 1E 1F 1C 1D 12 13 10 11 16 17 14 15",
        "62 63 60 61 66 67 64 65 5D 5D 5C 5C 5F 5F 5E 5E", "74 76 70 72 7C 7E 78 7A 6A 6B 68 69 6E 6F 6C 6D",
        "48 49 46 47 4C 4D 4A 4B 40 41 3F 3F 44 45 42 43", "56 57 54 55 5A 5B 58 59 4F 4F 4E 4E 52 53 50 51",
        "AA AB A8 A9 AE AF AC AD A2 A3 A0 A1 A6 A7 A4 A5", "B9 BA B7 B8 BD BE BB BC B1 B2 AF B0 B5 B6 B3 B4",
        "8A 8B 88 89 8E 8F 8C 8D 82 83 80 81 86 87 84 85", "9A 9B 98 99 9E 9F 9C 9D 92 93 90 91 96 97 94 95",
        "E2 E3 E0 E1 E6 E7 E4 E5 DD DD DC DC DF DF DE DE", "F4 F6 F0 F2 FC FE F8 FA EA EB E8 E9 EE EF EC ED",
        "C8 C9 C6 C7 CC CD CA CB C0 C1 BF BF C4 C5 C2 C3", "D6 D7 D4 D5 DA DB D8 D9 CF CF CE CE D2 D3 D0 D1"};
    for (int row = 0; row < 16; ++row)
        for (int col = 0; col < 16; ++col) {
            const unsigned expected = std::stoul(std::string(rows[row] + 3 * col, 2), nullptr, 16);
            EXPECT_EQ(ALawToMuLawTable[row * 16 + col], expected) << row * 16 + col;
        }
}

TEST(G711, ConversionTablesKeepTheSignAndInvertEachOther)
{
    std::vector<bool> reached(256, false);
    for (int a = 0; a < 256; ++a) {
        EXPECT_EQ(ALawToMuLawTable[a] & 0x80, a & 0x80);
        EXPECT_EQ(ALawToMuLawTable[a ^ 0x80], ALawToMuLawTable[a] ^ 0x80);
        reached[ALawToMuLawTable[a]] = true;
    }
    for (int u = 0; u < 256; ++u) {
        EXPECT_EQ(MuLawToALawTable[u] & 0x80, u & 0x80);
        EXPECT_EQ(MuLawToALawTable[u ^ 0x80], MuLawToALawTable[u] ^ 0x80);
        // A mu-law code that some A-law code converts to survives the trip mu -> A -> mu.
        if (reached[u]) {
            EXPECT_EQ(ALawToMuLawTable[MuLawToALawTable[u]], u) << u;
        }
        // The converted value stays close to the original one (within one A-law step).
        const int diff = std::abs(ALawToLinear[MuLawToALawTable[u]] - MuLawToLinear[u]);
        EXPECT_LE(diff, std::max(16, std::abs(MuLawToLinear[u]) / 16)) << u;
    }
    // Telling entries: zero, the largest magnitudes.
    EXPECT_EQ(MuLawToALawTable[0xFF], 0xD5);
    EXPECT_EQ(MuLawToALawTable[0x80], 0xAA);
    EXPECT_EQ(MuLawToALawTable[0x00], 0x2A);
}

TEST(G711, ArrayOperationsUseSixteenBitSlots)
{
    const int16_t samples[] = {0, -1, 32767, -32768, 1000, -1000};
    uint16_t codes[6] = {};
    int16_t back[6] = {};
    G711_ALawEncode(samples, codes, 6);
    EXPECT_EQ(codes[4], 0xFA);
    G711_ALawDecode(codes, back, 6);
    EXPECT_EQ(back[0], 8);
    G711_MuLawEncode(samples, codes, 6);
    EXPECT_EQ(codes[5], 0x4E);
    uint16_t converted[6] = {};
    G711_MuLawToALaw(codes, converted, 6);
    EXPECT_EQ(converted[0], 0xD5);
    G711_ALawToMuLaw(converted, codes, 6);
    EXPECT_EQ(codes[0], 0xFE); // A-law's smallest positive step is mu-law's second
    EXPECT_EQ(codes[3], 0x00);
    G711_MuLawDecode(codes, back, 0); // a count of 0 does nothing
    EXPECT_EQ(back[0], 8);
    G711_MuLawDecode(codes, back, -3);
    EXPECT_EQ(back[0], 8);
    G711_MuLawDecode(codes, back, 1);
    EXPECT_EQ(back[0], MuLawToLinear[0xFE]);
}

TEST_P(G711KernelSuite, EveryInputGivesTheCodeOfThePlainSteps)
{
    const std::vector<int16_t> samples = AllSamples();
    std::vector<uint8_t> alaw(samples.size()), mulaw(samples.size());
    const G711Kernels &kernels = G711ActiveKernels();
    kernels.alaw_encode(samples.data(), alaw.data(), static_cast<int>(samples.size()));
    kernels.mulaw_encode(samples.data(), mulaw.data(), static_cast<int>(samples.size()));
    for (std::size_t k = 0; k < samples.size(); ++k) {
        ASSERT_EQ(alaw[k], PlainALaw(samples[k])) << samples[k];
        ASSERT_EQ(mulaw[k], PlainMuLaw(samples[k])) << samples[k];
    }
}

TEST_P(G711KernelSuite, EveryCodeExpandsToItsTableValue)
{
    std::vector<uint8_t> codes(256);
    for (int c = 0; c < 256; ++c)
        codes[c] = static_cast<uint8_t>(c);
    std::vector<int16_t> alaw(256), mulaw(256);
    G711ActiveKernels().alaw_decode(codes.data(), alaw.data(), 256);
    G711ActiveKernels().mulaw_decode(codes.data(), mulaw.data(), 256);
    for (int c = 0; c < 256; ++c) {
        ASSERT_EQ(alaw[c], PlainALawValue(c)) << c;
        ASSERT_EQ(mulaw[c], PlainMuLawValue(c)) << c;
    }
}

TEST_P(G711KernelSuite, AwkwardLengthsWriteExactlyTheirOutput)
{
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    constexpr uint8_t kCanary = 0xA5;
    constexpr int16_t kSampleCanary = 0x5A5A;
    for (int n : {0, 1, 2, 14, 15, 16, 17, 18, 30, 31, 32, 33, 34, 47, 48, 160, 161, 481}) {
        SCOPED_TRACE(n);
        // The buffers end exactly where the data does, so a sanitizer sees any overrun.
        std::vector<int16_t> in(n);
        for (auto &s : in)
            s = static_cast<int16_t>(sample(rng));
        std::vector<uint8_t> codes(n + 8, kCanary);
        std::vector<int16_t> back(n + 8, kSampleCanary);
        for (bool alaw : {true, false}) {
            const G711Kernels &k = G711ActiveKernels();
            (alaw ? k.alaw_encode : k.mulaw_encode)(in.data(), codes.data(), n);
            (alaw ? k.alaw_decode : k.mulaw_decode)(codes.data(), back.data(), n);
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(codes[i], alaw ? PlainALaw(in[i]) : PlainMuLaw(in[i]));
                ASSERT_EQ(back[i], alaw ? PlainALawValue(codes[i]) : PlainMuLawValue(codes[i]));
            }
            for (int i = n; i < n + 8; ++i) {
                ASSERT_EQ(codes[i], kCanary);
                ASSERT_EQ(back[i], kSampleCanary);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, G711KernelSuite,
                         ::testing::Values(KernelSet{"detected", false}, KernelSet{"scalar", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(G711, SimdSelectionCanBeForcedToScalar)
{
    ForceScalarKernels(true);
    EXPECT_EQ(ActiveSimdLevel(), SimdLevel::Scalar);
    EXPECT_EQ(&G711ActiveKernels(), &kG711KernelsScalar);
    ForceScalarKernels(false);
    EXPECT_EQ(ActiveSimdLevel(), DetectedSimdLevel());
}

TEST(G711, FramesAreTheSameWithAndWithoutVectorKernels)
{
    std::mt19937 rng(90210);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (int16_t type : {VOICE_G711_A, VOICE_G711_U}) {
        for (int n : {1, 2, 15, 16, 17, 31, 33, 80, 159, 160, 161, 479, 480, 481}) {
            std::vector<int16_t> pcm(n);
            for (auto &s : pcm)
                s = static_cast<int16_t>(sample(rng));
            uint8_t frames[2][484];
            int16_t decoded[2][481];
            int16_t counts[2] = {-1, -1};
            for (int scalar = 0; scalar < 2; ++scalar) {
                ForceScalarKernels(scalar == 1);
                VoiceCodecState enc, dec;
                HI_VOICE_EncReset(&enc, type);
                HI_VOICE_DecReset(&dec, type);
                std::memset(frames[scalar], 0xEE, sizeof frames[scalar]);
                ASSERT_EQ(HI_VOICE_EncodeFrame(&enc, pcm.data(), frames[scalar], static_cast<int16_t>(n)), 0);
                // Decoding needs a length the decoder takes; re-label the frame as 80 words.
                frames[scalar][2] = 80;
                ASSERT_EQ(HI_VOICE_DecodeFrame(&dec, frames[scalar], decoded[scalar], &counts[scalar]), 0);
            }
            ForceScalarKernels(false);
            EXPECT_EQ(std::memcmp(frames[0], frames[1], sizeof frames[0]), 0) << type << "/" << n;
            ASSERT_EQ(counts[0], 160);
            EXPECT_EQ(std::memcmp(decoded[0], decoded[1], 160 * sizeof(int16_t)), 0);
        }
    }
}
