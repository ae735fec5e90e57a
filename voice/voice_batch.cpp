// The batched codec calls: the per-channel checks of the single-channel calls, the grouping of
// channels by what a kernel can code side by side, and the frames around the multi-channel
// kernels (batch.h). A channel that no kernel takes (G.711, a refused call, buffers that overlap,
// the last few of a group) goes through the single-channel call itself, so its codes and effects
// are those of that call by construction.
#include <cstring>

#include "orvoaudio/voice.h"
#include "voice/adpcm.h"
#include "voice/batch.h"
#include "voice/codec_info.h"
#include "voice/frame.h"
#include "voice/g726.h"
#include "voice/simd.h"

namespace orvo::voice::batch {

const Kernels &ActiveKernels()
{
    switch (ActiveSimdLevel()) {
    case SimdLevel::Avx2:
#if defined(ORVO_BATCH_HAVE_AVX2)
        return kAvx2Kernels;
#else
        break;
#endif
    case SimdLevel::Neon:
#if defined(ORVO_BATCH_HAVE_NEON)
        return kNeonKernels;
#else
        break;
#endif
    case SimdLevel::Scalar:
        break;
    }
    return kPortableKernels;
}

namespace {

// The kernels of a batched call, or null where its channels are coded one by one. The portable
// lanes are the reference the vector kernels are tested against, but slower than the
// single-channel coders: on a machine without vector kernels they run only when a test forces
// the scalar kernels.
const Kernels *BatchKernels()
{
    if (DetectedSimdLevel() == SimdLevel::Scalar && !ScalarKernelsForced())
        return nullptr;
    return &ActiveKernels();
}

// Channels waiting for a kernel, by group key. A key that finds no free group is coded alone.
constexpr int kGroupSlots = 32;
constexpr int kNoKey = -1;

struct Group {
    int key = kNoKey;
    int size = 0;
    int32_t channels[kMaxLanes];
};

// A group short of a full vector runs with scratch lanes when at least a third of the lanes are
// real channels; fewer run faster one by one.
bool WorthAVector(int size, int lanes) { return 3 * size >= lanes; }

// Scratch lanes of a short group: states and outputs that nobody reads.
struct ScratchLanes {
    G726State g726[kMaxLanes];
    AdpcmState adpcm[kMaxLanes];
    StagingFrame frames[kMaxLanes];
    int16_t samples[kMaxLanes][kMaxSamples];
};

// Encode keys: G.726 by code width, ADPCM by type.
constexpr int kEncodeKeyAdpcmDvi4 = 16;
constexpr int kEncodeKeyAdpcmIma = 17;

// The key under which channel `i` can be encoded by a kernel, or kNoKey for the single-channel
// call (which then finds the fault, if there is one, exactly as it would alone).
int EncodeKey(VoiceCodecState *state, const int16_t *samples, void *frame, int count)
{
    if (state == nullptr || samples == nullptr || frame == nullptr || count < 1 || count > kMaxSamples)
        return kNoKey;
    const TypeInfo info = Classify(state->type);
    if (info.family == Family::G726)
        return (count & ~1) >= 2 ? info.bits : kNoKey;
    if (info.family == Family::Adpcm)
        return state->type == VOICE_ADPCM_IMA ? kEncodeKeyAdpcmIma : kEncodeKeyAdpcmDvi4;
    return kNoKey;
}

struct EncodeCall {
    VoiceCodecState *const *states;
    const int16_t *const *samples;
    void *const *frames;
    int count;
    int32_t *results;
    const Kernels *kernels;
};

void EncodeGroup(const EncodeCall &call, const Group &group, ScratchLanes &scratch)
{
    const int lanes = call.kernels->lanes;
    StagingFrame staging[kMaxLanes];
    uint8_t *payloads[kMaxLanes];
    const int16_t *inputs[kMaxLanes];
    VoiceCodecState *const first = call.states[group.channels[0]];
    const int type = first->type;
    const TypeInfo info = Classify(type);
    if (info.family == Family::G726) {
        G726State *states[kMaxLanes];
        for (int l = 0; l < lanes; ++l) {
            const bool real = l < group.size;
            const int32_t channel = group.channels[real ? l : 0];
            states[l] = real ? &call.states[channel]->family.g726 : &(scratch.g726[l] = first->family.g726);
            uint8_t *frame = real ? staging[l].bytes : scratch.frames[l].bytes;
            G726_BeginFrame(frame, info.bits, call.count);
            payloads[l] = frame + kHeaderBytes;
            inputs[l] = call.samples[channel];
        }
        call.kernels->g726_encode[info.bits - kG726SmallestBits](states, inputs, payloads, call.count & ~1);
        for (int l = 0; l < group.size; ++l) {
            const int32_t channel = group.channels[l];
            // The type of a channel decides its bit order; the group shares only the width.
            const unsigned length = G726_FinishFrame(staging[l].bytes, Classify(call.states[channel]->type), call.count);
            std::memcpy(call.frames[channel], staging[l].bytes, kHeaderBytes + 2 * static_cast<std::size_t>(length));
            call.results[channel] = 0;
        }
        return;
    }
    AdpcmState *states[kMaxLanes];
    int coded = 0;
    for (int l = 0; l < lanes; ++l) {
        const bool real = l < group.size;
        const int32_t channel = group.channels[real ? l : 0];
        states[l] = real ? &call.states[channel]->family.adpcm : &(scratch.adpcm[l] = first->family.adpcm);
        uint8_t *frame = real ? staging[l].bytes : scratch.frames[l].bytes;
        const AdpcmCoding coding = ADPCM_BeginFrame(states[l], call.samples[channel], frame, type, call.count);
        inputs[l] = coding.samples;
        payloads[l] = coding.codes;
        coded = coding.count;
    }
    call.kernels->adpcm_encode(states, inputs, payloads, coded);
    for (int l = 0; l < group.size; ++l) {
        const unsigned length = ADPCM_FinishFrame(staging[l].bytes, type, call.count);
        std::memcpy(call.frames[group.channels[l]], staging[l].bytes, kHeaderBytes + 2 * static_cast<std::size_t>(length));
        call.results[group.channels[l]] = 0;
    }
}

void EncodeAlone(const EncodeCall &call, int32_t channel)
{
    call.results[channel] = HI_VOICE_EncodeFrame(call.states[channel], call.samples[channel], call.frames[channel],
                                                 static_cast<int16_t>(call.count));
}

// Decode keys: the family's kind and the frame length (the kernels code one length per group).
constexpr int kDecodeKindShift = 8;
constexpr int kDecodeKindAdpcmDvi4 = 16;
constexpr int kDecodeKindAdpcmIma = 17;

// What the single-channel call would check, in its order; kNoKey where it would refuse the frame
// or where the kernels do not apply. The buffers of a kernel channel must not overlap: the
// single-channel call reads the frame while it writes the samples.
int DecodeKey(VoiceCodecState *state, void *frame, int16_t *samples, int *decoded)
{
    if (state == nullptr || frame == nullptr || samples == nullptr)
        return kNoKey;
    const auto *bytes = static_cast<const uint8_t *>(frame);
    const int length = bytes[kLengthOffset];
    if ((ReadMarker(bytes) & kKindMask) != kMarkerVoice || length == 0)
        return kNoKey;
    const TypeInfo info = Classify(state->type);
    if (info.family != Family::G726 && info.family != Family::Adpcm)
        return kNoKey;
    *decoded = DecodedSamples(info, state->type, length);
    if (*decoded < 0 || Overlaps(bytes, kHeaderBytes + 2 * static_cast<std::size_t>(length), samples,
                                 2 * static_cast<std::size_t>(*decoded)))
        return kNoKey;
    int kind = info.bits;
    if (info.family == Family::Adpcm)
        kind = state->type == VOICE_ADPCM_IMA ? kDecodeKindAdpcmIma : kDecodeKindAdpcmDvi4;
    return kind << kDecodeKindShift | length;
}

struct DecodeCall {
    VoiceCodecState *const *states;
    void *const *frames;
    int16_t *const *samples;
    int16_t *counts;
    int32_t *results;
    const Kernels *kernels;
};

void DecodeGroup(const DecodeCall &call, const Group &group, ScratchLanes &scratch)
{
    const int lanes = call.kernels->lanes;
    VoiceCodecState *const first = call.states[group.channels[0]];
    const int type = first->type;
    const TypeInfo info = Classify(type);
    int16_t *outputs[kMaxLanes];
    int decoded = 0;
    if (info.family == Family::G726) {
        G726State *states[kMaxLanes];
        const uint8_t *payloads[kMaxLanes];
        const int length = static_cast<const uint8_t *>(call.frames[group.channels[0]])[kLengthOffset];
        const auto payload_bytes = static_cast<int16_t>(2 * length);
        for (int l = 0; l < lanes; ++l) {
            const bool real = l < group.size;
            const int32_t channel = group.channels[real ? l : 0];
            auto *payload = static_cast<uint8_t *>(call.frames[channel]) + kHeaderBytes;
            if (real) {
                if (Classify(call.states[channel]->type).msb_first)
                    G726_MsbToLsb(payload, info.bits, payload_bytes); // re-ordered in the caller's frame
                states[l] = &call.states[channel]->family.g726;
                outputs[l] = call.samples[channel];
            } else {
                states[l] = &(scratch.g726[l] = first->family.g726);
                outputs[l] = scratch.samples[l];
            }
            payloads[l] = payload;
        }
        call.kernels->g726_decode[info.bits - kG726SmallestBits](states, payloads, outputs, payload_bytes);
        decoded = DecodedSamples(info, type, length);
    } else {
        AdpcmState *states[kMaxLanes];
        const uint8_t *codes[kMaxLanes];
        int count = 0;
        for (int l = 0; l < lanes; ++l) {
            const bool real = l < group.size;
            const int32_t channel = group.channels[real ? l : 0];
            states[l] = real ? &call.states[channel]->family.adpcm : &scratch.adpcm[l];
            const auto *frame = static_cast<const uint8_t *>(call.frames[channel]);
            const AdpcmDecoding decoding =
                ADPCM_BeginDecode(states[l], frame, real ? call.samples[channel] : scratch.samples[l], type);
            codes[l] = decoding.codes;
            outputs[l] = decoding.samples;
            count = decoding.count;
            decoded = decoding.decoded;
        }
        if (type == VOICE_ADPCM_IMA)
            call.kernels->adpcm_decode_low_first(states, codes, outputs, count);
        else
            call.kernels->adpcm_decode_high_first(states, codes, outputs, count);
    }
    for (int l = 0; l < group.size; ++l) {
        call.counts[group.channels[l]] = static_cast<int16_t>(decoded);
        call.results[group.channels[l]] = 0;
    }
}

void DecodeAlone(const DecodeCall &call, int32_t channel)
{
    call.results[channel] =
        HI_VOICE_DecodeFrame(call.states[channel], call.frames[channel], call.samples[channel], &call.counts[channel]);
}

// Runs `channels` through the groups: full groups at once, short ones at the end.
template <typename Call, typename KeyOf, typename RunGroup, typename RunAlone>
void CodeChannels(const Call &call, int32_t channels, KeyOf key_of, RunGroup run_group, RunAlone run_alone)
{
    if (call.kernels == nullptr) {
        for (int32_t channel = 0; channel < channels; ++channel)
            run_alone(channel);
        return;
    }
    Group groups[kGroupSlots];
    ScratchLanes scratch;
    const int lanes = call.kernels->lanes;
    for (int32_t channel = 0; channel < channels; ++channel) {
        const int key = key_of(channel);
        Group *group = nullptr;
        if (key != kNoKey) {
            for (Group &g : groups) {
                if (g.key == key || g.key == kNoKey) {
                    group = &g;
                    break;
                }
            }
        }
        if (group == nullptr) {
            run_alone(channel);
            continue;
        }
        group->key = key;
        group->channels[group->size++] = channel;
        if (group->size == lanes) {
            run_group(group[0], scratch);
            group->size = 0;
        }
    }
    for (Group &g : groups) {
        if (g.size == 0)
            continue;
        if (WorthAVector(g.size, lanes)) {
            run_group(g, scratch);
        } else {
            for (int l = 0; l < g.size; ++l)
                run_alone(g.channels[l]);
        }
    }
}

int32_t FirstFailure(const int32_t *results, int32_t channels)
{
    for (int32_t channel = 0; channel < channels; ++channel)
        if (results[channel] != 0)
            return results[channel];
    return 0;
}

} // namespace
} // namespace orvo::voice::batch

using namespace orvo::voice;
using namespace orvo::voice::batch;

extern "C" {

ORVO_API int32_t HI_VOICE_EncodeFrames(VoiceCodecState *const *states, const int16_t *const *samples,
                                       void *const *frames, int16_t count, int32_t channels, int32_t *results)
{
    if (states == nullptr || samples == nullptr || frames == nullptr || results == nullptr || channels < 1 ||
        channels > HI_VOICE_MAX_CHANNELS)
        return HI_ERR_VOICE_CHANNELS;
    const EncodeCall call{states, samples, frames, count, results, BatchKernels()};
    CodeChannels(
        call, channels, [&](int32_t i) { return EncodeKey(states[i], samples[i], frames[i], count); },
        [&](const Group &group, ScratchLanes &scratch) { EncodeGroup(call, group, scratch); },
        [&](int32_t i) { EncodeAlone(call, i); });
    return FirstFailure(results, channels);
}

ORVO_API int32_t HI_VOICE_DecodeFrames(VoiceCodecState *const *states, void *const *frames, int16_t *const *samples,
                                       int16_t *counts, int32_t channels, int32_t *results)
{
    if (states == nullptr || frames == nullptr || samples == nullptr || counts == nullptr || results == nullptr ||
        channels < 1 || channels > HI_VOICE_MAX_CHANNELS)
        return HI_ERR_VOICE_CHANNELS;
    const DecodeCall call{states, frames, samples, counts, results, BatchKernels()};
    CodeChannels(
        call, channels,
        [&](int32_t i) {
            int decoded = 0;
            return DecodeKey(states[i], frames[i], samples[i], &decoded);
        },
        [&](const Group &group, ScratchLanes &scratch) { DecodeGroup(call, group, scratch); },
        [&](int32_t i) { DecodeAlone(call, i); });
    return FirstFailure(results, channels);
}

} // extern "C"
