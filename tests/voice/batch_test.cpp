// The batched calls against the single-channel calls: for every type, random, speech-like and
// clipping inputs, 1 to 300 channels and random block sizes, every frame, sample, count, status
// and state equals what the single-channel call gives the channel, with the vector kernels and
// with the portable ones; and the refusals of the calls as a whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "g726_test_util.h"
#include "orvoaudio/voice.h"
#include "voice/batch.h"
#include "voice/simd.h"

namespace orvo::voice {
namespace {

using testing::MakeSignal;
using testing::Signal;

constexpr int16_t kTypes[] = {VOICE_G711_A,       VOICE_G711_U,       VOICE_ADPCM_DVI4,   VOICE_ADPCM_IMA,
                              VOICE_G726_16K,     VOICE_G726_24K,     VOICE_G726_32K,     VOICE_G726_40K,
                              VOICE_G726_16K_MSB, VOICE_G726_24K_MSB, VOICE_G726_32K_MSB, VOICE_G726_40K_MSB};
constexpr int kFrameBytes = 484;
constexpr uint8_t kCanary = 0xC3;
constexpr int16_t kSampleCanary = 0x3C3C;
constexpr int kCalls = 4;
// Sanitizer builds and emulators run the codec some ten times slower: they check every lane
// shape and the leftover cases, but leave the 300-channel round to the native optimised builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(ORVO_TEST_UNDER_EMULATOR)
#define ORVO_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVO_SLOW_BUILD 1
#endif
#endif
#ifdef ORVO_SLOW_BUILD
constexpr int kChannelCounts[] = {1, 2, 3, 5, 7, 8, 9, 15, 17, 64};
#else
constexpr int kChannelCounts[] = {1, 2, 3, 5, 7, 8, 9, 15, 17, 64, 300};
#endif

bool IsAdpcm(int type) { return type == VOICE_ADPCM_DVI4 || type == VOICE_ADPCM_IMA; }

// Block sizes whose frames the decoder takes: any for ADPCM, multiples of 80 for the others.
int DecodableCount(int type, std::mt19937 &rng)
{
    if (IsAdpcm(type))
        return 1 + static_cast<int>(rng() % HI_VOICE_MAX_SAMPLES);
    return 80 * (1 + static_cast<int>(rng() % 6));
}

// One channel coded both ways: by the single-channel calls (reference) and by the batched ones.
struct Channel {
    int16_t type;
    Signal signal;
    std::vector<int16_t> input;
    VoiceCodecState reference, batched;
};

std::vector<Channel> MakeChannels(int channels, bool mixed, int16_t type, bool decoder, std::mt19937 &rng)
{
    std::vector<Channel> out(static_cast<std::size_t>(channels));
    const Signal signals[] = {Signal::Noise, Signal::Speech, Signal::Square};
    for (Channel &c : out) {
        c.type = mixed ? kTypes[rng() % std::size(kTypes)] : type;
        c.signal = signals[rng() % std::size(signals)];
        c.input = MakeSignal(c.signal, kCalls * HI_VOICE_MAX_SAMPLES, static_cast<uint32_t>(rng()));
        std::memset(&c.reference, 0x5A, sizeof c.reference);
        if (decoder)
            HI_VOICE_DecReset(&c.reference, c.type);
        else
            HI_VOICE_EncReset(&c.reference, c.type);
        c.batched = c.reference;
    }
    return out;
}

// Compares two states as the coder sees them: the whole record up to the family's member.
void ExpectSameState(const VoiceCodecState &a, const VoiceCodecState &b, int channel)
{
    ASSERT_EQ(a.type, b.type) << "channel " << channel;
    if (IsAdpcm(a.type)) {
        EXPECT_EQ(a.family.adpcm.predicted, b.family.adpcm.predicted) << "channel " << channel;
        EXPECT_EQ(a.family.adpcm.step_index, b.family.adpcm.step_index) << "channel " << channel;
    } else if (a.type != VOICE_G711_A && a.type != VOICE_G711_U) {
        EXPECT_EQ(testing::StateDifference(a.family.g726, b.family.g726), "") << "channel " << channel;
    }
}

// Encodes kCalls blocks of every channel both ways and compares; returns the batched frames of
// every call (channel-major) for the decoder tests.
void EncodeBothWays(std::vector<Channel> &channels, std::mt19937 &rng, std::vector<std::vector<uint8_t>> *frames_out)
{
    const int n = static_cast<int>(channels.size());
    std::vector<VoiceCodecState *> states(static_cast<std::size_t>(n));
    std::vector<const int16_t *> inputs(static_cast<std::size_t>(n));
    std::vector<void *> frames(static_cast<std::size_t>(n));
    std::vector<int32_t> results(static_cast<std::size_t>(n), 12345);
    std::vector<std::vector<uint8_t>> batched(static_cast<std::size_t>(n), std::vector<uint8_t>(kFrameBytes));
    std::vector<uint8_t> reference(kFrameBytes);
    for (int call = 0; call < kCalls; ++call) {
        const auto count = static_cast<int16_t>(1 + rng() % HI_VOICE_MAX_SAMPLES);
        for (int i = 0; i < n; ++i) {
            states[i] = &channels[i].batched;
            inputs[i] = channels[i].input.data() + call * HI_VOICE_MAX_SAMPLES;
            std::fill(batched[i].begin(), batched[i].end(), kCanary);
            frames[i] = batched[i].data();
        }
        const int32_t status = HI_VOICE_EncodeFrames(states.data(), inputs.data(), frames.data(), count, n, results.data());
        int32_t first_failure = 0;
        for (int i = 0; i < n; ++i) {
            std::fill(reference.begin(), reference.end(), kCanary);
            const int32_t expected = HI_VOICE_EncodeFrame(&channels[i].reference, inputs[i], reference.data(), count);
            if (first_failure == 0)
                first_failure = expected;
            ASSERT_EQ(results[i], expected) << "channel " << i << " count " << count;
            ASSERT_EQ(batched[i], reference) << "channel " << i << " type " << channels[i].type << " count " << count;
            ExpectSameState(channels[i].reference, channels[i].batched, i);
            if (frames_out)
                frames_out->push_back(batched[i]);
        }
        EXPECT_EQ(status, first_failure);
    }
}

// Decodes the given frames (one per channel and call) both ways and compares.
void DecodeBothWays(std::vector<Channel> &channels, const std::vector<std::vector<uint8_t>> &coded)
{
    const int n = static_cast<int>(channels.size());
    std::vector<VoiceCodecState *> states(static_cast<std::size_t>(n));
    std::vector<void *> frames(static_cast<std::size_t>(n));
    std::vector<int16_t *> outputs(static_cast<std::size_t>(n));
    std::vector<int16_t> counts(static_cast<std::size_t>(n), -7);
    std::vector<int32_t> results(static_cast<std::size_t>(n), 12345);
    std::vector<std::vector<uint8_t>> batched_frames(static_cast<std::size_t>(n));
    std::vector<std::vector<int16_t>> batched(static_cast<std::size_t>(n), std::vector<int16_t>(HI_VOICE_MAX_SAMPLES));
    std::vector<int16_t> reference(HI_VOICE_MAX_SAMPLES);
    const int calls = static_cast<int>(coded.size()) / n;
    for (int call = 0; call < calls; ++call) {
        for (int i = 0; i < n; ++i) {
            states[i] = &channels[i].batched;
            batched_frames[i] = coded[static_cast<std::size_t>(call * n + i)];
            frames[i] = batched_frames[i].data();
            std::fill(batched[i].begin(), batched[i].end(), kSampleCanary);
            outputs[i] = batched[i].data();
        }
        const int32_t status =
            HI_VOICE_DecodeFrames(states.data(), frames.data(), outputs.data(), counts.data(), n, results.data());
        int32_t first_failure = 0;
        for (int i = 0; i < n; ++i) {
            std::vector<uint8_t> frame = coded[static_cast<std::size_t>(call * n + i)];
            std::fill(reference.begin(), reference.end(), kSampleCanary);
            int16_t count = -7;
            const int32_t expected = HI_VOICE_DecodeFrame(&channels[i].reference, frame.data(), reference.data(), &count);
            if (first_failure == 0)
                first_failure = expected;
            ASSERT_EQ(results[i], expected) << "channel " << i;
            ASSERT_EQ(counts[i], count) << "channel " << i;
            ASSERT_EQ(batched[i], reference) << "channel " << i << " type " << channels[i].type;
            ASSERT_EQ(batched_frames[i], frame) << "channel " << i; // MSB-first frames re-ordered alike
            ExpectSameState(channels[i].reference, channels[i].batched, i);
        }
        EXPECT_EQ(status, first_failure);
    }
}

// Frames of decodable sizes for each channel, encoded by the single-channel call (sizes differ
// from channel to channel), or frames of random codes.
std::vector<std::vector<uint8_t>> DecodableFrames(const std::vector<Channel> &channels, bool random_codes,
                                                  std::mt19937 &rng)
{
    const int n = static_cast<int>(channels.size());
    std::vector<std::vector<uint8_t>> out(static_cast<std::size_t>(kCalls * n));
    for (int i = 0; i < n; ++i) {
        VoiceCodecState encoder;
        HI_VOICE_EncReset(&encoder, channels[i].type);
        for (int call = 0; call < kCalls; ++call) {
            std::vector<uint8_t> frame(kFrameBytes, kCanary);
            const auto count = static_cast<int16_t>(DecodableCount(channels[i].type, rng));
            HI_VOICE_EncodeFrame(&encoder, channels[i].input.data() + call * HI_VOICE_MAX_SAMPLES, frame.data(), count);
            if (random_codes)
                for (std::size_t k = 4; k < frame.size(); ++k)
                    frame[k] = static_cast<uint8_t>(rng());
            out[static_cast<std::size_t>(call * n + i)] = frame;
        }
    }
    return out;
}

struct Mode {
    bool force_scalar;
    const char *name;
};

class BatchBitExact : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override { ForceScalarKernels(GetParam().force_scalar); }
    void TearDown() override { ForceScalarKernels(false); }
};

TEST_P(BatchBitExact, EncodeEveryTypeEqualsTheSingleChannelCalls)
{
    std::mt19937 rng(0xBA7C0001u);
    for (int16_t type : kTypes)
        for (int channels : kChannelCounts) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " channels " << channels << " seed 0xBA7C0001");
            std::vector<Channel> c = MakeChannels(channels, false, type, false, rng);
            EncodeBothWays(c, rng, nullptr);
            if (HasFatalFailure())
                return;
        }
}

TEST_P(BatchBitExact, EncodeMixedTypesEqualsTheSingleChannelCalls)
{
    std::mt19937 rng(0xBA7C0002u);
    for (int channels : kChannelCounts) {
        SCOPED_TRACE(::testing::Message() << "channels " << channels << " seed 0xBA7C0002");
        std::vector<Channel> c = MakeChannels(channels, true, 0, false, rng);
        EncodeBothWays(c, rng, nullptr);
        if (HasFatalFailure())
            return;
    }
}

TEST_P(BatchBitExact, DecodeEveryTypeEqualsTheSingleChannelCalls)
{
    std::mt19937 rng(0xBA7C0003u);
    for (bool random_codes : {false, true})
        for (int16_t type : kTypes)
            for (int channels : kChannelCounts) {
                SCOPED_TRACE(::testing::Message() << "type " << type << " channels " << channels << " random codes "
                                                  << random_codes << " seed 0xBA7C0003");
                std::vector<Channel> c = MakeChannels(channels, false, type, true, rng);
                DecodeBothWays(c, DecodableFrames(c, random_codes, rng));
                if (HasFatalFailure())
                    return;
            }
}

TEST_P(BatchBitExact, DecodeMixedTypesAndSizesEqualsTheSingleChannelCalls)
{
    std::mt19937 rng(0xBA7C0004u);
    for (bool random_codes : {false, true})
        for (int channels : kChannelCounts) {
            SCOPED_TRACE(::testing::Message() << "channels " << channels << " seed 0xBA7C0004");
            std::vector<Channel> c = MakeChannels(channels, true, 0, true, rng);
            DecodeBothWays(c, DecodableFrames(c, random_codes, rng));
            if (HasFatalFailure())
                return;
        }
}

// The frames the batched encoder wrote decode alike as well (one size per call).
TEST_P(BatchBitExact, EncodedFramesDecodeAlike)
{
    std::mt19937 rng(0xBA7C0005u);
    std::vector<Channel> encoders = MakeChannels(64, true, 0, false, rng);
    std::vector<std::vector<uint8_t>> frames;
    EncodeBothWays(encoders, rng, &frames);
    std::vector<Channel> decoders = encoders;
    for (Channel &c : decoders) {
        HI_VOICE_DecReset(&c.reference, c.type);
        c.batched = c.reference;
    }
    DecodeBothWays(decoders, frames);
}

INSTANTIATE_TEST_SUITE_P(Kernels, BatchBitExact,
                         ::testing::Values(Mode{false, "Vector"}, Mode{true, "Portable"}),
                         [](const ::testing::TestParamInfo<Mode> &info) { return std::string(info.param.name); });

// ---- Refusals ----

TEST(Batch, RefusesNullArraysAndBadChannelCountsWritingNothing)
{
    VoiceCodecState state;
    HI_VOICE_EncReset(&state, VOICE_G726_32K);
    const VoiceCodecState before = state;
    int16_t pcm[160] = {};
    uint8_t frame[kFrameBytes];
    std::memset(frame, kCanary, sizeof frame);
    VoiceCodecState *states[] = {&state};
    const int16_t *inputs[] = {pcm};
    void *frames[] = {frame};
    int16_t *outputs[] = {pcm};
    int16_t counts[] = {-7};
    int32_t results[] = {12345};
    EXPECT_EQ(HI_VOICE_EncodeFrames(nullptr, inputs, frames, 160, 1, results), HI_ERR_VOICE_CHANNELS);
    EXPECT_EQ(HI_VOICE_EncodeFrames(states, nullptr, frames, 160, 1, results), HI_ERR_VOICE_CHANNELS);
    EXPECT_EQ(HI_VOICE_EncodeFrames(states, inputs, nullptr, 160, 1, results), HI_ERR_VOICE_CHANNELS);
    EXPECT_EQ(HI_VOICE_EncodeFrames(states, inputs, frames, 160, 1, nullptr), HI_ERR_VOICE_CHANNELS);
    EXPECT_EQ(HI_VOICE_DecodeFrames(nullptr, frames, outputs, counts, 1, results), HI_ERR_VOICE_CHANNELS);
    EXPECT_EQ(HI_VOICE_DecodeFrames(states, nullptr, outputs, counts, 1, results), HI_ERR_VOICE_CHANNELS);
    EXPECT_EQ(HI_VOICE_DecodeFrames(states, frames, nullptr, counts, 1, results), HI_ERR_VOICE_CHANNELS);
    EXPECT_EQ(HI_VOICE_DecodeFrames(states, frames, outputs, nullptr, 1, results), HI_ERR_VOICE_CHANNELS);
    EXPECT_EQ(HI_VOICE_DecodeFrames(states, frames, outputs, counts, 1, nullptr), HI_ERR_VOICE_CHANNELS);
    for (int32_t channels : {0, -1, HI_VOICE_MAX_CHANNELS + 1, INT32_MIN}) {
        EXPECT_EQ(HI_VOICE_EncodeFrames(states, inputs, frames, 160, channels, results), HI_ERR_VOICE_CHANNELS);
        EXPECT_EQ(HI_VOICE_DecodeFrames(states, frames, outputs, counts, channels, results), HI_ERR_VOICE_CHANNELS);
    }
    EXPECT_EQ(results[0], 12345);
    EXPECT_EQ(counts[0], -7);
    EXPECT_EQ(std::count(frame, frame + kFrameBytes, kCanary), kFrameBytes);
    EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0);
    EXPECT_STRNE(HI_VOICE_StatusText(HI_ERR_VOICE_CHANNELS), HI_VOICE_StatusText(0x12345));
}

// Channels whose single-channel call would be refused, between good ones of the same type: each
// gets the code of its own call, its buffers stay as they were, and the others code on.
TEST(Batch, BadChannelsGetTheirOwnCodesAndDisturbNoOther)
{
    for (bool force_scalar : {false, true}) {
        ForceScalarKernels(force_scalar);
        constexpr int kChannels = 12;
        std::vector<VoiceCodecState> batched(kChannels), reference(kChannels);
        std::vector<int16_t> pcm = MakeSignal(Signal::Speech, 160, 7);
        std::vector<std::vector<uint8_t>> frames(kChannels, std::vector<uint8_t>(kFrameBytes, kCanary));
        std::vector<VoiceCodecState *> states(kChannels);
        std::vector<const int16_t *> inputs(kChannels, pcm.data());
        std::vector<void *> outs(kChannels);
        for (int i = 0; i < kChannels; ++i) {
            HI_VOICE_EncReset(&batched[i], VOICE_G726_24K);
            states[i] = &batched[i];
            outs[i] = frames[i].data();
        }
        HI_VOICE_EncReset(&batched[5], 8); // unsupported type, stored
        reference = batched;
        states[2] = nullptr;
        inputs[3] = nullptr;
        outs[4] = nullptr;
        std::vector<int32_t> results(kChannels, 12345);
        const int32_t status = HI_VOICE_EncodeFrames(states.data(), inputs.data(), outs.data(), 160, kChannels, results.data());
        EXPECT_EQ(status, HI_ERR_VOICE_NULL_STATE);
        const int32_t expected[kChannels] = {0, 0, HI_ERR_VOICE_NULL_STATE, HI_ERR_VOICE_NULL_INPUT,
                                             HI_ERR_VOICE_NULL_OUTPUT, HI_ERR_VOICE_ENC_TYPE, 0, 0, 0, 0, 0, 0};
        for (int i = 0; i < kChannels; ++i) {
            EXPECT_EQ(results[i], expected[i]) << i;
            std::vector<uint8_t> frame(kFrameBytes, kCanary);
            if (expected[i] == 0) {
                ASSERT_EQ(HI_VOICE_EncodeFrame(&reference[i], pcm.data(), frame.data(), 160), 0);
            }
            EXPECT_EQ(frames[i], frame) << i;
            EXPECT_EQ(std::memcmp(&reference[i], &batched[i], sizeof batched[i]), 0) << i;
        }
        // A bad count refuses every channel alike.
        std::fill(results.begin(), results.end(), 12345);
        EXPECT_EQ(HI_VOICE_EncodeFrames(states.data(), inputs.data(), outs.data(), 0, kChannels, results.data()),
                  HI_ERR_VOICE_ENC_SAMPLES);
        EXPECT_EQ(results[0], HI_ERR_VOICE_ENC_SAMPLES);
        EXPECT_EQ(results[5], HI_ERR_VOICE_ENC_SAMPLES);

        // Decoding: a bad marker, a zero and a refused length, and a wrong type among good frames.
        std::vector<VoiceCodecState> decoders(kChannels);
        for (int i = 0; i < kChannels; ++i)
            HI_VOICE_DecReset(&decoders[i], VOICE_G726_24K);
        std::vector<VoiceCodecState> decoders_before = decoders;
        std::vector<std::vector<uint8_t>> coded(kChannels, frames[0]);
        coded[1][1] = 0x02; // marker kind 2
        coded[6][2] = 0;    // length 0
        coded[7][2] = 16;   // 85 samples at 24 kbit/s
        HI_VOICE_DecReset(&decoders[8], 8);
        decoders_before[8] = decoders[8];
        std::vector<std::vector<uint8_t>> coded_before = coded;
        std::vector<void *> frame_ptrs(kChannels);
        std::vector<std::vector<int16_t>> samples(kChannels, std::vector<int16_t>(HI_VOICE_MAX_SAMPLES, kSampleCanary));
        std::vector<int16_t *> sample_ptrs(kChannels);
        std::vector<VoiceCodecState *> dstates(kChannels);
        for (int i = 0; i < kChannels; ++i) {
            frame_ptrs[i] = coded[i].data();
            sample_ptrs[i] = samples[i].data();
            dstates[i] = &decoders[i];
        }
        std::vector<int16_t> counts(kChannels, -7);
        std::fill(results.begin(), results.end(), 12345);
        EXPECT_EQ(HI_VOICE_DecodeFrames(dstates.data(), frame_ptrs.data(), sample_ptrs.data(), counts.data(), kChannels,
                                        results.data()),
                  HI_ERR_VOICE_DEC_MARKER);
        const int32_t dexpected[kChannels] = {0, HI_ERR_VOICE_DEC_MARKER, 0, 0, 0, 0, HI_ERR_VOICE_DEC_LENGTH,
                                              HI_ERR_VOICE_DEC_LENGTH, HI_ERR_VOICE_DEC_TYPE, 0, 0, 0};
        for (int i = 0; i < kChannels; ++i) {
            EXPECT_EQ(results[i], dexpected[i]) << i;
            if (dexpected[i] != 0) {
                EXPECT_EQ(counts[i], 0) << i;
                EXPECT_EQ(std::count(samples[i].begin(), samples[i].end(), kSampleCanary), HI_VOICE_MAX_SAMPLES) << i;
                EXPECT_EQ(coded[i], coded_before[i]) << i;
                EXPECT_EQ(std::memcmp(&decoders[i], &decoders_before[i], sizeof decoders[i]), 0) << i;
            } else {
                EXPECT_EQ(counts[i], 160) << i;
            }
        }
    }
    ForceScalarKernels(false);
}

// A channel whose sample buffer overlaps its own frame decodes as the single-channel call does.
TEST(Batch, OverlappingBuffersOfOneChannelCodeAsTheSingleCall)
{
    for (int16_t type : {VOICE_G726_32K_MSB, VOICE_ADPCM_IMA, VOICE_ADPCM_DVI4, VOICE_G726_16K}) {
        constexpr int kChannels = 8;
        std::vector<int16_t> pcm = MakeSignal(Signal::Speech, 161, 3);
        std::vector<std::vector<uint8_t>> buffers(kChannels, std::vector<uint8_t>(2048, 0));
        VoiceCodecState encoder;
        HI_VOICE_EncReset(&encoder, type);
        HI_VOICE_EncodeFrame(&encoder, pcm.data(), buffers[0].data(), 160);
        for (auto &b : buffers)
            b = buffers[0];
        std::vector<uint8_t> single = buffers[0];
        VoiceCodecState reference;
        HI_VOICE_DecReset(&reference, type);
        std::vector<VoiceCodecState> decoders(kChannels, reference);
        int16_t count = 0;
        // Channel 0 (and the reference) write their samples two bytes into their frame.
        const int32_t expected = HI_VOICE_DecodeFrame(&reference, single.data(), reinterpret_cast<int16_t *>(single.data() + 2), &count);
        std::vector<VoiceCodecState *> states(kChannels);
        std::vector<void *> frames(kChannels);
        std::vector<std::vector<int16_t>> out(kChannels, std::vector<int16_t>(HI_VOICE_MAX_SAMPLES));
        std::vector<int16_t *> outs(kChannels);
        for (int i = 0; i < kChannels; ++i) {
            states[i] = &decoders[i];
            frames[i] = buffers[i].data();
            outs[i] = out[i].data();
        }
        outs[0] = reinterpret_cast<int16_t *>(buffers[0].data() + 2);
        std::vector<int16_t> counts(kChannels);
        std::vector<int32_t> results(kChannels);
        HI_VOICE_DecodeFrames(states.data(), frames.data(), outs.data(), counts.data(), kChannels, results.data());
        EXPECT_EQ(results[0], expected);
        EXPECT_EQ(counts[0], count);
        EXPECT_EQ(buffers[0], single) << type;
        EXPECT_EQ(std::memcmp(&decoders[0], &reference, sizeof reference), 0) << type;
    }
}

TEST(Batch, KernelsCoverEveryLaneWidth)
{
    EXPECT_EQ(batch::kPortableKernels.lanes, batch::kMaxLanes);
    EXPECT_LE(batch::ActiveKernels().lanes, batch::kMaxLanes);
    ForceScalarKernels(true);
    EXPECT_EQ(&batch::ActiveKernels(), &batch::kPortableKernels);
    ForceScalarKernels(false);
}

} // namespace
} // namespace orvo::voice
