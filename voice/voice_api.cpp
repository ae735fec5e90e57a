// The exported codec functions: argument checks in their fixed order, the frame size rules, the
// call's staging frame, and the dispatch to the G.711, ADPCM and G.726 families.
#include <cstring>

#include "orvoaudio/voice.h"
#include "voice/adpcm.h"
#include "voice/codec_info.h"
#include "voice/frame.h"
#include "voice/g711.h"
#include "voice/g726.h"

namespace orvo::voice {
namespace {

unsigned EncodeG726(G726State *state, const TypeInfo &info, const int16_t *samples,
                    uint8_t *frame, int count)
{
    G726_BeginFrame(frame, info.bits, count);
    G726_PackCodes(state, samples, frame + kHeaderBytes, static_cast<int16_t>(count));
    return G726_FinishFrame(frame, info, count);
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
    case HI_ERR_VOICE_CHANNELS:
        return "null channel array or channel count outside 1..HI_VOICE_MAX_CHANNELS";
    default:
        return "unknown status";
    }
}

} // extern "C"
