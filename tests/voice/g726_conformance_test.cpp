// The ITU-T G.726 reset test sequences: log-PCM input expanded to 16-bit linear, encoded from a reset
// state at each rate, codes compared with the expected ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <iterator>
#include <string>
#include <vector>

#include "voice/g726.h"
#include "voice/simd.h"

namespace orvo::voice {
namespace {

const std::string kDataDir = std::string(ORVO_TEST_DATA_DIR) + "/g726-itu/";

// The files hold 16-bit little-endian words with the value in the low bits.
std::vector<int> ReadWords(const std::string &name)
{
    std::ifstream in(kDataDir + name, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    std::vector<int> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    return words;
}

// G.711 expansion, written from the decoding rules of the two laws.
int16_t ExpandALaw(int code)
{
    const int v = code ^ 0x55;
    int t = (v & 0xF) << 4;
    const int segment = (v >> 4) & 7;
    if (segment == 0) {
        t += 8;
    } else {
        t += 0x108;
        t <<= segment - 1;
    }
    return static_cast<int16_t>((v & 0x80) ? t : -t);
}

int16_t ExpandMuLaw(int code)
{
    const int v = ~code & 0xFF;
    const int t = (((v & 0xF) << 3) + 0x84) << ((v >> 4) & 7);
    return static_cast<int16_t>((v & 0x80) ? 0x84 - t : t - 0x84);
}

TEST(G726Conformance, ExpansionMatchesTellingEntries)
{
    EXPECT_EQ(ExpandALaw(0xD5), 8);
    EXPECT_EQ(ExpandALaw(0x55), -8);
    EXPECT_EQ(ExpandALaw(0xAA), 32256);
    EXPECT_EQ(ExpandALaw(0x2A), -32256);
    EXPECT_EQ(ExpandALaw(0x80), 5504);
    EXPECT_EQ(ExpandALaw(0x00), -5504);
    EXPECT_EQ(ExpandMuLaw(0xFF), 0);
    EXPECT_EQ(ExpandMuLaw(0x7F), 0);
    EXPECT_EQ(ExpandMuLaw(0x80), 32124);
    EXPECT_EQ(ExpandMuLaw(0x00), -32124);
}

struct Sequence {
    const char *input;    // log-PCM input
    bool aLaw;            // the input's law
    int bits;             // code width
    const char *expected; // expected codes
    int firstDifference;  // -1: all codes match
};

void PrintTo(const Sequence &seq, std::ostream *os) { *os << seq.expected; }

// Index of the first code that differs from the expected sequence, -1 when none does.
int FirstDifference(const Sequence &seq, size_t *compared)
{
    const std::vector<int> input = ReadWords(seq.input);
    const std::vector<int> expected = ReadWords(seq.expected);
    EXPECT_EQ(input.size(), expected.size()) << seq.expected;
    EXPECT_FALSE(input.empty()) << seq.input;
    G726State state;
    G726_Reset(&state, seq.bits);
    int first = -1;
    *compared = std::min(input.size(), expected.size());
    for (size_t i = 0; i < *compared; ++i) {
        const int16_t sample = seq.aLaw ? ExpandALaw(input[i]) : ExpandMuLaw(input[i]);
        if (G726_EncodeSample(&state, sample) != expected[i] && first < 0)
            first = static_cast<int>(i);
    }
    return first;
}

class G726ConformanceSequence : public ::testing::TestWithParam<Sequence> {};

TEST_P(G726ConformanceSequence, CodesMatch)
{
    const Sequence &seq = GetParam();
    size_t compared = 0;
    EXPECT_EQ(FirstDifference(seq, &compared), seq.firstDifference) << seq.expected;
    EXPECT_GT(compared, 0u);
}

// The block coder (vector where the CPU has it, and the portable one) gives the same codes as the
// sample coder over the whole sequence, the overload part included.
TEST_P(G726ConformanceSequence, BlockCoderGivesTheSampleCodersCodes)
{
    const Sequence &seq = GetParam();
    const std::vector<int> input = ReadWords(seq.input);
    ASSERT_FALSE(input.empty());
    std::vector<int16_t> samples(input.size());
    for (size_t i = 0; i < input.size(); ++i)
        samples[i] = seq.aLaw ? ExpandALaw(input[i]) : ExpandMuLaw(input[i]);
    std::vector<int> codes(samples.size());
    G726State single;
    G726_Reset(&single, seq.bits);
    for (size_t i = 0; i < samples.size(); ++i)
        codes[i] = G726_EncodeSample(&single, samples[i]);

    for (bool scalar : {false, true}) {
        ForceScalarKernels(scalar);
        G726State block;
        G726_Reset(&block, seq.bits);
        constexpr size_t kBlock = 160;
        for (size_t at = 0; at + kBlock <= samples.size(); at += kBlock) {
            uint8_t payload[kBlock * 5 / 8];
            G726_PackCodes(&block, samples.data() + at, payload, static_cast<int16_t>(kBlock));
            for (size_t i = 0; i < kBlock; ++i) {
                int code = 0;
                for (int b = 0; b < seq.bits; ++b) {
                    const size_t p = i * static_cast<size_t>(seq.bits) + static_cast<size_t>(b);
                    code |= ((payload[p / 8] >> (p % 8)) & 1) << b;
                }
                ASSERT_EQ(code, codes[at + i]) << seq.expected << ", sample " << at + i << ", scalar " << scalar;
            }
        }
    }
    ForceScalarKernels(false);
}

// The two overload sequences at 40 kbit/s drive the signal estimate (or DQSEZ) out of the 16-bit
// range, where the Recommendation wraps and this coder keeps 32 bits: they match up to that
// sample and differ from it on.
const Sequence kSequences[] = {
    {"nrm.a", true, 2, "rn16fa.i", -1},  {"nrm.m", false, 2, "rn16fm.i", -1},
    {"nrm.a", true, 3, "rn24fa.i", -1},  {"nrm.m", false, 3, "rn24fm.i", -1},
    {"nrm.a", true, 4, "rn32fa.i", -1},  {"nrm.m", false, 4, "rn32fm.i", -1},
    {"nrm.a", true, 5, "rn40fa.i", -1},  {"nrm.m", false, 5, "rn40fm.i", -1},
    {"ovr.a", true, 2, "rv16fa.i", -1},  {"ovr.m", false, 2, "rv16fm.i", -1},
    {"ovr.a", true, 3, "rv24fa.i", -1},  {"ovr.m", false, 3, "rv24fm.i", -1},
    {"ovr.a", true, 4, "rv32fa.i", -1},  {"ovr.m", false, 4, "rv32fm.i", -1},
    {"ovr.a", true, 5, "rv40fa.i", 725}, {"ovr.m", false, 5, "rv40fm.i", 462},
};

INSTANTIATE_TEST_SUITE_P(Itu, G726ConformanceSequence, ::testing::ValuesIn(kSequences),
                         [](const ::testing::TestParamInfo<Sequence> &info) {
                             std::string name = info.param.expected;
                             return name.substr(0, name.find('.'));
                         });

} // namespace
} // namespace orvo::voice
