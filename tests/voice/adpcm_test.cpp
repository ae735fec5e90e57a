// IMA ADPCM: the worked examples, the quantiser tables, and the branch-free coder and decoder
// against a plain rendering of the algorithm's steps on seeded random input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "orvoaudio/voice.h"
#include "voice/adpcm.h"

using namespace orvo::voice;

namespace {

struct PlainState {
    int predicted = 0;
    int index = 0;
};

int Clamp(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

// The coder's steps as written, with branches.
std::vector<int> PlainCode(PlainState &st, const std::vector<int16_t> &samples)
{
    std::vector<int> codes;
    int step = ImaStepTable[st.index];
    for (int16_t v : samples) {
        int d = v - st.predicted;
        int sign = 0;
        if (d < 0) {
            sign = 8;
            d = -d;
        }
        int code = 0;
        int delta = step >> 3;
        if (d >= step) {
            code = 4;
            d -= step;
            delta += step;
        }
        step >>= 1;
        if (d >= step) {
            code |= 2;
            d -= step;
            delta += step;
        }
        step >>= 1;
        if (d >= step) {
            code |= 1;
            delta += step;
        }
        st.predicted = Clamp(sign ? st.predicted - delta : st.predicted + delta, -32768, 32767);
        code |= sign;
        st.index = Clamp(st.index + ImaIndexTable[code], 0, 88);
        step = ImaStepTable[st.index];
        codes.push_back(code);
    }
    return codes;
}

std::vector<int16_t> PlainDecode(PlainState &st, const std::vector<int> &codes)
{
    std::vector<int16_t> out;
    int step = ImaStepTable[st.index];
    for (int code : codes) {
        st.index = Clamp(st.index + ImaIndexTable[code], 0, 88);
        int delta = step >> 3;
        if (code & 4)
            delta += step;
        if (code & 2)
            delta += step >> 1;
        if (code & 1)
            delta += step >> 2;
        st.predicted = Clamp(code & 8 ? st.predicted - delta : st.predicted + delta, -32768, 32767);
        step = ImaStepTable[st.index];
        out.push_back(static_cast<int16_t>(st.predicted));
    }
    return out;
}

// Speech-like test signal: sums of sines with a wandering amplitude, plus bursts and clipping.
std::vector<int16_t> TestSignal(std::mt19937 &rng, int n)
{
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<int16_t> s(n);
    double phase1 = 0, phase2 = 0, amp = 2000;
    for (int k = 0; k < n; ++k) {
        if (k % 97 == 0)
            amp = u(rng) < 0.2 ? 40000 * u(rng) : 6000 * u(rng);
        phase1 += 0.05 + 0.2 * u(rng);
        phase2 += 0.9;
        const double v = amp * (0.7 * std::sin(phase1) + 0.3 * std::sin(phase2)) + 300 * (u(rng) - 0.5);
        s[k] = static_cast<int16_t>(Clamp(static_cast<int>(v), -32768, 32767));
    }
    return s;
}

} // namespace

TEST(Adpcm, StepTableShape)
{
    EXPECT_EQ(ImaStepTable[0], 7);
    EXPECT_EQ(ImaStepTable[1], 8);
    EXPECT_EQ(ImaStepTable[10], 19);
    EXPECT_EQ(ImaStepTable[87], 29794);
    EXPECT_EQ(ImaStepTable[88], 32767);
    for (int i = 1; i < kImaStepCount; ++i) {
        EXPECT_GT(ImaStepTable[i], ImaStepTable[i - 1]);
        EXPECT_LE(ImaStepTable[i], ImaStepTable[i - 1] * 1.1 + 1.0) << i; // about 1.1 apart
    }
    const int8_t adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    for (int code = 0; code < 16; ++code)
        EXPECT_EQ(ImaIndexTable[code], adjust[code & 7]);
}

TEST(Adpcm, CoderWorkedExample)
{
    AdpcmState st;
    ADPCM_Reset(&st);
    const int16_t samples[8] = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000};
    uint8_t codes[4] = {};
    ADPCM_Coder(&st, samples, codes, 8);
    const uint8_t expected[4] = {0x77, 0x77, 0x75, 0x08}; // codes 7 7 7 7 7 5 0 8
    EXPECT_TRUE(std::equal(codes, codes + 4, expected));

    AdpcmState dec{1234, 50}; // the decoder's state is replaced by the caller before a block
    dec.predicted = 0;
    dec.step_index = 0;
    int16_t out[8] = {};
    ADPCM_Decoder(&dec, codes, out, 8);
    const int16_t decoded[8] = {11, 41, 104, 240, 533, 996, 1057, 1001};
    EXPECT_TRUE(std::equal(out, out + 8, decoded));
    EXPECT_EQ(st.predicted, 1001);
    EXPECT_EQ(st.step_index, 42);
    EXPECT_EQ(dec.predicted, 1001);
    EXPECT_EQ(dec.step_index, 42);
}

TEST(Adpcm, SilenceCodesToZeroBytes)
{
    AdpcmState st;
    ADPCM_Reset(&st);
    std::vector<int16_t> silence(64, 0);
    std::vector<uint8_t> codes(32, 0xEE);
    ADPCM_Coder(&st, silence.data(), codes.data(), 64);
    EXPECT_TRUE(std::all_of(codes.begin(), codes.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(st.predicted, 0);
    EXPECT_EQ(st.step_index, 0);
}

TEST(Adpcm, CountsOfZeroOrLessDoNothing)
{
    AdpcmState st{100, 20};
    int16_t samples[2] = {5000, 5000};
    uint8_t codes[1] = {0xAB};
    for (int16_t n : {0, -1, -32768}) {
        ADPCM_Coder(&st, samples, codes, n);
        ADPCM_Decoder(&st, codes, samples, n);
        ADPCM_SwapNibbles(codes, n);
    }
    EXPECT_EQ(st.predicted, 100);
    EXPECT_EQ(st.step_index, 20);
    EXPECT_EQ(codes[0], 0xAB);
    EXPECT_EQ(samples[0], 5000);
    ADPCM_SwapNibbles(codes, 1);
    EXPECT_EQ(codes[0], 0xBA);
}

TEST(Adpcm, CoderAndDecoderMatchThePlainStepsOnRandomSignals)
{
    const unsigned seed = 77001;
    std::mt19937 rng(seed);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " round " << round);
        const int n = 1 + static_cast<int>(rng() % 481);
        const std::vector<int16_t> signal = TestSignal(rng, n);
        AdpcmState st{static_cast<int16_t>(rng() % 2000), static_cast<uint8_t>(rng() % 89)};
        PlainState plain{st.predicted, st.step_index};
        const std::vector<int> codes = PlainCode(plain, signal);
        std::vector<uint8_t> packed(n / 2 + 1, 0xCC);
        ADPCM_Coder(&st, signal.data(), packed.data(), static_cast<int16_t>(n));
        EXPECT_EQ(st.predicted, plain.predicted);
        EXPECT_EQ(st.step_index, plain.index);
        for (int k = 0; k + 1 < n; k += 2)
            ASSERT_EQ(packed[k / 2], (codes[k] << 4) | codes[k + 1]) << k;
        EXPECT_EQ(packed[n / 2], 0xCC); // the held code of an odd count is not stored

        // Decode every carried code from a random state.
        const int carried = n & ~1;
        AdpcmState dec{static_cast<int16_t>(rng() % 65536 - 32768), static_cast<uint8_t>(rng() % 89)};
        PlainState pdec{dec.predicted, dec.step_index};
        const std::vector<int16_t> expected =
            PlainDecode(pdec, std::vector<int>(codes.begin(), codes.begin() + carried));
        std::vector<int16_t> out(carried + 1, 0x7777);
        ADPCM_Decoder(&dec, packed.data(), out.data(), static_cast<int16_t>(carried));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
        EXPECT_EQ(out[carried], 0x7777);
        EXPECT_EQ(dec.predicted, pdec.predicted);
        EXPECT_EQ(dec.step_index, pdec.index);
    }
}

TEST(Adpcm, ExtremesClampPredictionAndIndex)
{
    // Full-scale square waves drive the prediction to both rails and the index to 88.
    std::vector<int16_t> square(200);
    for (int k = 0; k < 200; ++k)
        square[k] = (k / 10) % 2 ? 32767 : -32768;
    AdpcmState st;
    ADPCM_Reset(&st);
    PlainState plain;
    const std::vector<int> codes = PlainCode(plain, square);
    std::vector<uint8_t> packed(100);
    ADPCM_Coder(&st, square.data(), packed.data(), 200);
    EXPECT_EQ(st.predicted, plain.predicted);
    EXPECT_EQ(st.step_index, plain.index);
    for (int k = 0; k < 200; k += 2)
        ASSERT_EQ(packed[k / 2], (codes[k] << 4) | codes[k + 1]);

    // Every code byte decodes without leaving the tables, from every index.
    for (int index = 0; index < kImaStepCount; ++index) {
        std::vector<uint8_t> all(256);
        for (int b = 0; b < 256; ++b)
            all[b] = static_cast<uint8_t>(b);
        AdpcmState dec{0, static_cast<uint8_t>(index)};
        PlainState pdec{0, index};
        std::vector<int> unpacked;
        for (int b = 0; b < 256; ++b) {
            unpacked.push_back(b >> 4);
            unpacked.push_back(b & 15);
        }
        const std::vector<int16_t> expected = PlainDecode(pdec, unpacked);
        std::vector<int16_t> out(512);
        ADPCM_Decoder(&dec, all.data(), out.data(), 512);
        ASSERT_EQ(out, expected) << index;
    }
}

TEST(Adpcm, FramesOfRandomBytesDecodeLikeThePlainSteps)
{
    // Both nibble orders, any header (index above 88 read as 88), every accepted length.
    std::mt19937 rng(4242);
    for (int round = 0; round < 200; ++round) {
        const int16_t type = round % 2 ? VOICE_ADPCM_IMA : VOICE_ADPCM_DVI4;
        const int length = 2 + static_cast<int>(rng() % 121);
        std::vector<uint8_t> frame(4 + 2 * length);
        for (auto &b : frame)
            b = static_cast<uint8_t>(rng());
        frame[0] = 0x00;
        frame[1] = 0x01;
        frame[2] = static_cast<uint8_t>(length);
        const int16_t first = static_cast<int16_t>(frame[4] | frame[5] << 8);
        PlainState plain{first, std::min<int>(frame[6], 88)};
        std::vector<int> codes;
        for (int b = 8; b < 4 + 2 * length; ++b) {
            const int hi = frame[b] >> 4, lo = frame[b] & 15;
            codes.push_back(type == VOICE_ADPCM_IMA ? lo : hi);
            codes.push_back(type == VOICE_ADPCM_IMA ? hi : lo);
        }
        std::vector<int16_t> expected = PlainDecode(plain, codes);
        if (type == VOICE_ADPCM_IMA)
            expected.insert(expected.begin(), first);

        VoiceCodecState dec;
        ASSERT_EQ(HI_VOICE_DecReset(&dec, type), 0);
        std::vector<int16_t> out(HI_VOICE_MAX_SAMPLES);
        int16_t count = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(&dec, frame.data(), out.data(), &count), 0);
        ASSERT_EQ(count, static_cast<int>(expected.size()));
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << "round " << round;
        EXPECT_EQ(dec.family.adpcm.predicted, plain.predicted);
        EXPECT_EQ(dec.family.adpcm.step_index, plain.index);
    }
}
