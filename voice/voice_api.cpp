// The exported codec functions: argument checks in their fixed order, the frame size rules, the
// call's staging frame, and the dispatch to the G.711, ADPCM and G.726 families.
#include <cstring>

#include "orvoaudio/voice.h"
#include "voice/adpcm.h"
#include "voice/frame.h"
#include "voice/g711.h"
#include "voice/g726.h"

namespace orvo::voice {
namespace {

enum class Family { Unsupported, G711, Adpcm, G726 };

struct TypeInfo {
    Family family;
    int bits;       // bits per code
    bool msb_first; // G.726 payload re-ordered most significant bit first
};

constexpr int kMsbTypeOffset = VOICE_G726_16K_MSB - VOICE_G726_16K;
constexpr int kG726SmallestBits = 2;

constexpr TypeInfo Classify(int type)
{
    switch (type) {
    case VOICE_G711_A:
    case VOICE_G711_U:
        return {Family::G711, 8, false};
    case VOICE_ADPCM_DVI4:
    case VOICE_ADPCM_IMA:
        return {Family::Adpcm, 4, false};
    case VOICE_G726_16K:
    case VOICE_G726_24K:
    case VOICE_G726_32K:
    case VOICE_G726_40K:
        return {Family::G726, type - VOICE_G726_16K + kG726SmallestBits, false};
    case VOICE_G726_16K_MSB:
    case VOICE_G726_24K_MSB:
    case VOICE_G726_32K_MSB:
    case VOICE_G726_40K_MSB:
        return {Family::G726, type - kMsbTypeOffset - VOICE_G726_16K + kG726SmallestBits, true};
    default:
        return {Family::Unsupported, 0, false};
    }
}

// G.711 and G.726 frames decode only to whole multiples of 80 samples, up to 480.
constexpr int kDecodeBlockSamples = 80;
constexpr int kAdpcmMinLength = 2; // the block header alone

// Samples that a frame of `length` words decodes to, or -1 when the length is refused.
// Divisions truncate, so some lengths (16 words at 24 kbit/s: 85 samples) fall out.
constexpr int DecodedSamples(const TypeInfo &info, int type, int length)
{
    int samples = 0;
    switch (info.family) {
    case Family::Adpcm:
        // A frame of one word would hold half a block header: refused like a frame of none.
        samples = AdpcmSamplesForLength(type, length);
        return length >= kAdpcmMinLength && 4 * length - 7 <= kMaxSamples ? samples : -1;
    case Family::G711:
        samples = 2 * length;
        break;
    case Family::G726:
        samples = 16 * length / info.bits;
        break;
    case Family::Unsupported:
        return -1;
    }
    return samples <= kMaxSamples && samples % kDecodeBlockSamples == 0 ? samples : -1;
}

unsigned EncodeG726(G726State *state, const TypeInfo &info, const int16_t *samples,
                    uint8_t *frame, int count)
{
    uint8_t *payload = frame + kHeaderBytes;
    const unsigned length = static_cast<unsigned>(count * info.bits / 16);
    // The packer merges a code that starts a byte into what the byte held: clear every byte it
    // touches so no stale bits reach the caller.
    const int packed_samples = count & ~1;
    std::memset(payload, 0, static_cast<std::size_t>(packed_samples * info.bits + 7) / 8);
    G726_PackCodes(state, samples, payload, static_cast<int16_t>(count));
    WriteVoiceHeader(frame, length);
    if (info.msb_first)
        G726_LsbToMsb(payload, info.bits, static_cast<int16_t>(2 * length)); // -1 leaves LSB order
    return length;
}

} // namespace
} // namespace orvo::voice

using namespace orvo::voice;

namespace {

int32_t Reset(VoiceCodecState *state, int16_t type, int32_t unsupported)
{
    if (state == nullptr)
        return HI_ERR_VOICE_NULL_STATE;
    const TypeInfo info = Classify(type);
    state->type = type; // stored even when refused, so later frame calls fail on it
    switch (info.family) {
    case Family::G711:
        return 0;
    case Family::Adpcm:
        ADPCM_Reset(&state->family.adpcm);
        return 0;
    case Family::G726:
        G726_Reset(&state->family.g726, info.bits);
        return 0;
    case Family::Unsupported:
        break;
    }
    return unsupported;
}

} // namespace

extern "C" {

ORVO_API int32_t HI_VOICE_EncReset(VoiceCodecState *state, int16_t type)
{
    return Reset(state, type, HI_ERR_VOICE_ENC_TYPE);
}

ORVO_API int32_t HI_VOICE_DecReset(VoiceCodecState *state, int16_t type)
{
    return Reset(state, type, HI_ERR_VOICE_DEC_TYPE);
}

ORVO_API int32_t HI_VOICE_EncodeFrame(VoiceCodecState *state, const int16_t *samples, void *frame,
                                      int16_t count)
{
    if (state == nullptr)
        return HI_ERR_VOICE_NULL_STATE;
    if (samples == nullptr)
        return HI_ERR_VOICE_NULL_INPUT;
    if (frame == nullptr)
        return HI_ERR_VOICE_NULL_OUTPUT;
    if (count < 1 || count > kMaxSamples)
        return HI_ERR_VOICE_ENC_SAMPLES;
    const TypeInfo info = Classify(state->type);
    if (info.family == Family::Unsupported)
        return HI_ERR_VOICE_ENC_TYPE;

    // Built here first, so that exactly 4 + 2 x length bytes reach the caller, even when the
    // caller's frame buffer overlaps the samples. Every byte copied out is written first.
    StagingFrame staging;
    unsigned length = 0;
    switch (info.family) {
    case Family::G711:
        length = G711_EncodeFrame(samples, staging.bytes, state->type, count);
        break;
    case Family::Adpcm:
        length = ADPCM_EncodeFrame(&state->family.adpcm, samples, staging.bytes, state->type, count);
        break;
    case Family::G726:
        length = EncodeG726(&state->family.g726, info, samples, staging.bytes, count);
        break;
    case Family::Unsupported:
        break;
    }
    std::memcpy(frame, staging.bytes, kHeaderBytes + 2 * static_cast<std::size_t>(length));
    return 0;
}

ORVO_API int32_t HI_VOICE_DecodeFrame(VoiceCodecState *state, void *frame, int16_t *samples,
                                      int16_t *count)
{
    if (state == nullptr)
        return HI_ERR_VOICE_NULL_STATE;
    if (frame == nullptr)
        return HI_ERR_VOICE_NULL_INPUT;
    if (samples == nullptr || count == nullptr)
        return HI_ERR_VOICE_NULL_OUTPUT;
    *count = 0;
    auto *bytes = static_cast<uint8_t *>(frame);
    if ((ReadMarker(bytes) & kKindMask) != kMarkerVoice)
        return HI_ERR_VOICE_DEC_MARKER;
    const int length = bytes[kLengthOffset];
    if (length == 0)
        return HI_ERR_VOICE_DEC_LENGTH;
    const int type = state->type;
    const TypeInfo info = Classify(type);
    if (info.family == Family::Unsupported)
        return HI_ERR_VOICE_DEC_TYPE;
    const int decoded = DecodedSamples(info, type, length);
    if (decoded < 0)
        return HI_ERR_VOICE_DEC_LENGTH;

    const std::size_t frame_bytes = kHeaderBytes + 2 * static_cast<std::size_t>(length);
    if (info.family == Family::G726) {
        uint8_t *payload = bytes + kHeaderBytes;
        const auto payload_bytes = static_cast<int16_t>(2 * length);
        if (info.msb_first)
            G726_MsbToLsb(payload, info.bits, payload_bytes); // re-ordered in the caller's frame
        G726_UnpackCodes(&state->family.g726, payload, samples, payload_bytes);
    } else {
        // The families read the frame while they write samples; a sample buffer that overlaps
        // the frame gets a copy of the frame to read from.
        const uint8_t *source = bytes;
        StagingFrame staging;
        if (Overlaps(bytes, frame_bytes, samples, 2 * static_cast<std::size_t>(decoded))) {
            std::memcpy(staging.bytes, bytes, frame_bytes);
            source = staging.bytes;
        }
        if (info.family == Family::G711)
            G711_DecodeFrame(source, samples, type);
        else
            ADPCM_DecodeFrame(&state->family.adpcm, source, samples, type);
    }
    *count = static_cast<int16_t>(decoded);
    return 0;
}

ORVO_API const char *HI_VOICE_StatusText(int32_t status)
{
    switch (status) {
    case 0:
        return "success";
    case HI_ERR_VOICE_NULL_STATE:
        return "null codec state pointer";
    case HI_ERR_VOICE_NULL_INPUT:
        return "null input pointer (samples to encode or frame to decode)";
    case HI_ERR_VOICE_NULL_OUTPUT:
        return "null output pointer (frame buffer, sample buffer or sample count)";
    case HI_ERR_VOICE_ENC_TYPE:
        return "unsupported codec type for encoding";
    case HI_ERR_VOICE_ENC_SAMPLES:
        return "sample count outside 1..481";
    case HI_ERR_VOICE_DEC_TYPE:
        return "unsupported codec type for decoding";
    case HI_ERR_VOICE_DEC_LENGTH:
        return "frame length not accepted for the codec type";
    case HI_ERR_VOICE_DEC_MARKER:
        return "frame marker does not announce voice data";
    default:
        return "unknown status";
    }
}

} // extern "C"
