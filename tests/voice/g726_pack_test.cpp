// G.726 code packing: bit orders, in-place re-ordering, block loops against the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "g726_reference.h"
#include "g726_test_util.h"
#include "voice/g726.h"
#include "voice/simd.h"

namespace orvo::voice {
namespace {

using testing::MakeSignal;
using testing::Signal;
using testing::StateDifference;
using Bytes = std::vector<uint8_t>;

constexpr int kWidths[] = {2, 3, 4, 5};

G726State Fresh(int bits)
{
    G726State s;
    G726_Reset(&s, bits);
    return s;
}

// Packing by the definition of the layouts: bit position p of the payload is bit p % 8 (LSB-first)
// or bit 7 - p % 8 (MSB-first) of byte p / 8; codes run low bit first or high bit first.
Bytes PackByDefinition(const std::vector<int> &codes, int bits, bool msbFirst)
{
    Bytes out((codes.size() * bits + 7) / 8, 0);
    size_t p = 0;
    for (int code : codes) {
        for (int k = 0; k < bits; ++k, ++p) {
            const int bit = msbFirst ? (code >> (bits - 1 - k)) & 1 : (code >> k) & 1;
            out[p / 8] |= static_cast<uint8_t>(bit << (msbFirst ? 7 - p % 8 : p % 8));
        }
    }
    return out;
}

struct BitOrderCase {
    int bits;
    std::vector<int> codes;
    Bytes lsb;
    Bytes msb;
};

const BitOrderCase kBitOrderCases[] = {
    {2, {1, 2, 3, 0, 2, 1, 0, 3}, {0x39, 0xC6}, {0x6C, 0x93}},
    {3, {5, 3, 6, 1, 4, 2, 7, 0}, {0x9D, 0x43, 0x1D}, {0xAF, 0x18, 0xB8}},
    {4, {1, 10, 7, 12}, {0xA1, 0xC7}, {0x1A, 0x7C}},
    {5, {19, 5, 30, 10, 17, 2, 31, 8}, {0xB3, 0x78, 0x15, 0xC5, 0x47}, {0x99, 0x7C, 0xA8, 0x8B, 0xE8}},
};

TEST(G726Pack, BitOrderExamples)
{
    for (const BitOrderCase &c : kBitOrderCases) {
        SCOPED_TRACE(c.bits);
        EXPECT_EQ(PackByDefinition(c.codes, c.bits, false), c.lsb);
        EXPECT_EQ(PackByDefinition(c.codes, c.bits, true), c.msb);
        Bytes buf = c.lsb;
        EXPECT_EQ(G726_LsbToMsb(buf.data(), c.bits, static_cast<int16_t>(buf.size())), 0);
        EXPECT_EQ(buf, c.msb);
        EXPECT_EQ(G726_MsbToLsb(buf.data(), c.bits, static_cast<int16_t>(buf.size())), 0);
        EXPECT_EQ(buf, c.lsb);

        // Unpacking the LSB-first bytes decodes the codes in order.
        G726State unpacker = Fresh(c.bits), single = Fresh(c.bits);
        std::vector<int16_t> out(c.codes.size() + 1, 0x5555);
        G726_UnpackCodes(&unpacker, c.lsb.data(), out.data(), static_cast<int16_t>(c.lsb.size()));
        for (size_t i = 0; i < c.codes.size(); ++i)
            EXPECT_EQ(out[i], G726_DecodeSample(&single, c.codes[i])) << "code " << i;
        EXPECT_EQ(out.back(), 0x5555);
        EXPECT_EQ(StateDifference(unpacker, single), "");
    }
}

TEST(G726Pack, PackedCodesFollowTheLsbLayout)
{
    for (int bits : kWidths) {
        const std::vector<int16_t> input = MakeSignal(Signal::Speech, 160, 21);
        G726State packer = Fresh(bits), single = Fresh(bits);
        std::vector<int> codes;
        for (int16_t x : input)
            codes.push_back(G726_EncodeSample(&single, x));
        Bytes payload(160 * bits / 8, 0);
        G726_PackCodes(&packer, input.data(), payload.data(), 160);
        EXPECT_EQ(payload, PackByDefinition(codes, bits, false)) << bits;
        EXPECT_EQ(StateDifference(packer, single), "");
    }
}

TEST(G726Pack, RepackFailsWithoutTouchingWhenBitsDoNotDivide)
{
    const struct {
        int bits;
        int16_t nbytes;
        int result;
    } cases[] = {{3, 2, -1}, {5, 2, -1}, {5, 3, -1}, {3, 3, 0}, {5, 5, 0}, {2, 1, 0}, {4, 1, 0}, {3, 6, 0}};
    for (const auto &c : cases) {
        for (bool toMsb : {true, false}) {
            Bytes buf = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
            const Bytes before = buf;
            const int r = toMsb ? G726_LsbToMsb(buf.data(), c.bits, c.nbytes)
                                : G726_MsbToLsb(buf.data(), c.bits, c.nbytes);
            EXPECT_EQ(r, c.result) << c.bits << " bits, " << c.nbytes << " bytes";
            if (r != 0) {
                EXPECT_EQ(buf, before);
            }
            EXPECT_TRUE(std::equal(buf.begin() + c.nbytes, buf.end(), before.begin() + c.nbytes));
        }
    }
}

TEST(G726Pack, RepackMatchesReferenceAndRoundTrips)
{
    std::mt19937 rng(3);
    for (int bits : kWidths) {
        for (int nbytes = 0; nbytes <= 300; ++nbytes) {
            if ((8 * nbytes) % bits != 0)
                continue;
            Bytes lsb(static_cast<size_t>(nbytes) + 8);
            for (uint8_t &b : lsb)
                b = static_cast<uint8_t>(rng());
            Bytes fast = lsb, ref = lsb;
            ASSERT_EQ(G726_LsbToMsb(fast.data(), bits, static_cast<int16_t>(nbytes)), 0);
            ASSERT_EQ(reference::LsbToMsb(ref.data(), bits, nbytes), 0);
            ASSERT_EQ(fast, ref) << bits << " bits, " << nbytes << " bytes";
            ASSERT_EQ(G726_MsbToLsb(fast.data(), bits, static_cast<int16_t>(nbytes)), 0);
            ASSERT_EQ(reference::MsbToLsb(ref.data(), bits, nbytes), 0);
            ASSERT_EQ(fast, ref);
            ASSERT_EQ(fast, lsb) << "MsbToLsb undoes LsbToMsb";
        }
    }
}

TEST(G726Pack, RepackSpecialPatterns)
{
    for (int bits : kWidths) {
        for (uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
            Bytes buf(60, fill);
            EXPECT_EQ(G726_LsbToMsb(buf.data(), bits, 60), 0);
            EXPECT_EQ(buf, Bytes(60, fill));
            EXPECT_EQ(G726_MsbToLsb(buf.data(), bits, 60), 0);
            EXPECT_EQ(buf, Bytes(60, fill));
        }
    }
    for (int v = 0; v < 256; ++v) {
        uint8_t four = static_cast<uint8_t>(v), two = static_cast<uint8_t>(v);
        G726_LsbToMsb(&four, 4, 1);
        G726_LsbToMsb(&two, 2, 1);
        EXPECT_EQ(four, ((v & 15) << 4) | (v >> 4)); // nibbles swap
        EXPECT_EQ(two, ((v & 3) << 6) | ((v & 12) << 2) | ((v >> 2) & 12) | (v >> 6)); // codes reverse
    }
}

TEST(G726Pack, UnpackTwoBytesOfThreeBitCodesDecodesFive)
{
    const Bytes payload = {0xFF, 0xFF};
    std::vector<int16_t> out(8, 0x5555);
    G726State s = Fresh(3), single = Fresh(3);
    G726_UnpackCodes(&s, payload.data(), out.data(), 2);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(out[i], G726_DecodeSample(&single, 7));
    EXPECT_EQ(out[5], 0x5555);
    EXPECT_EQ(StateDifference(s, single), "");
}

TEST(G726Pack, PayloadSizesDecodeToTheirSampleCounts)
{
    const struct {
        int bits;
        int16_t nbytes;
        int samples;
    } cases[] = {{2, 40, 160}, {3, 60, 160}, {4, 80, 160}, {5, 100, 160}, {3, 180, 480}, {5, 300, 480}};
    for (const auto &c : cases) {
        Bytes payload(static_cast<size_t>(c.nbytes), 0x3C);
        std::vector<int16_t> out(static_cast<size_t>(c.samples) + 4, 0x5555);
        G726State s = Fresh(c.bits);
        G726_UnpackCodes(&s, payload.data(), out.data(), c.nbytes);
        EXPECT_NE(out[static_cast<size_t>(c.samples) - 1], 0x5555);
        EXPECT_EQ(out[static_cast<size_t>(c.samples)], 0x5555) << c.bits;
    }
}

TEST(G726Pack, OddAndEmptyCountsPackOnlyWholePairs)
{
    const std::vector<int16_t> input = MakeSignal(Signal::Speech, 16, 9);
    for (int bits : kWidths) {
        for (int16_t count : {int16_t{-5}, int16_t{0}, int16_t{1}, int16_t{7}, int16_t{15}}) {
            G726State s = Fresh(bits), single = Fresh(bits);
            for (int i = 0; i < (count & ~1); ++i)
                G726_EncodeSample(&single, input[static_cast<size_t>(i)]);
            Bytes payload(16, 0xA5);
            G726_PackCodes(&s, input.data(), payload.data(), count);
            EXPECT_EQ(StateDifference(s, single), "") << bits << " bits, count " << count;
            const size_t touched = count > 0 ? ((count & ~1) * bits + 7) / 8 : 0;
            for (size_t i = touched; i < payload.size(); ++i)
                EXPECT_EQ(payload[i], 0xA5) << "byte " << i << " of count " << count;
        }
    }
}

// Block loops against the reference loops: random block sizes, payload buffers pre-filled so the
// byte-merge of a last, partial byte shows, and the state compared after every block. Run on the
// vector coder (where the CPU has one) and on the portable coder.
class G726PackOracle : public ::testing::TestWithParam<std::tuple<int, bool>> {
protected:
    void SetUp() override { ForceScalarKernels(std::get<1>(GetParam())); }
    void TearDown() override { ForceScalarKernels(false); }
    int Width() const { return std::get<0>(GetParam()); }
};

TEST_P(G726PackOracle, EncodeBlocksMatchReference)
{
    const int bits = Width();
    std::mt19937 rng(77 + static_cast<uint32_t>(bits));
    // Besides the signal kinds, near-silence: runs of zeros between tiny values, where the
    // difference is often exactly 0.
    std::vector<int16_t> quiet(100000);
    for (size_t i = 0; i < quiet.size(); ++i)
        quiet[i] = (i / 500) % 2 == 0 ? 0 : static_cast<int16_t>(static_cast<int>(rng() % 15) - 7);
    for (int kind = 0; kind < 4; ++kind) {
        const std::vector<int16_t> input =
            kind == 3 ? quiet : MakeSignal(static_cast<Signal>(kind), 100000, 31);
        G726State fast = Fresh(bits), ref;
        reference::Reset(ref, bits);
        size_t at = 0;
        while (at + 481 < input.size()) {
            const int count = static_cast<int>(rng() % 482);
            Bytes a(320), b;
            for (uint8_t &x : a)
                x = static_cast<uint8_t>(rng());
            b = a;
            G726_PackCodes(&fast, input.data() + at, a.data(), static_cast<int16_t>(count));
            reference::PackCodes(ref, input.data() + at, b.data(), count);
            ASSERT_EQ(a, b) << "count " << count;
            ASSERT_EQ(StateDifference(fast, ref), "") << "count " << count;
            at += static_cast<size_t>(count & ~1);
        }
    }
}

TEST_P(G726PackOracle, DecodeBlocksMatchReference)
{
    const int bits = Width();
    std::mt19937 rng(55 + static_cast<uint32_t>(bits));
    G726State fast = Fresh(bits), ref;
    reference::Reset(ref, bits);
    for (int block = 0; block < 2000; ++block) {
        const int nbytes = static_cast<int>(rng() % (481u * static_cast<unsigned>(bits) / 8 + 1));
        Bytes payload(static_cast<size_t>(nbytes));
        for (uint8_t &x : payload)
            x = static_cast<uint8_t>(block % 7 == 3 ? 0x77 : rng());
        std::vector<int16_t> a(490, 0x1234), b(490, 0x1234);
        G726_UnpackCodes(&fast, payload.data(), a.data(), static_cast<int16_t>(nbytes));
        reference::UnpackCodes(ref, payload.data(), b.data(), nbytes);
        ASSERT_EQ(a, b) << "nbytes " << nbytes;
        ASSERT_EQ(StateDifference(fast, ref), "") << "nbytes " << nbytes;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, G726PackOracle,
                         ::testing::Combine(::testing::Values(2, 3, 4, 5), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<int, bool>> &info) {
                             return std::to_string(std::get<0>(info.param)) + "bits" +
                                    (std::get<1>(info.param) ? "Scalar" : "Active");
                         });

} // namespace
} // namespace orvo::voice
