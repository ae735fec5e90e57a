// The talk codec per direction, the frame-size rules of the playback, and the exported G.711 code
// conversions.
#include "talk/talk_codec.h"

#include <atomic>

#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "voice/g711.h"

namespace orvo::talk {
namespace {

constexpr int32_t kBadArgument = -1;
constexpr int32_t kStepSamples = 80;      // decoder frames of G.711 and G.726 come in 10 ms steps
constexpr int32_t kMaxPlaySamples = 320;  // one playback block
constexpr int32_t kAdpcmHeaderBytes = 4;  // AdpcmBlockHeader
constexpr int32_t kAdpcmSamplesPerByte = 2;
constexpr int kBitsPerByte = 8;
constexpr int16_t kG726LsbFirst = VOICE_G726_16K;
constexpr int16_t kG726MsbFirst = VOICE_G726_16K_MSB;
constexpr int kG726Rates = 4;
constexpr int kG726MinBits = 2;
constexpr int32_t kConvertChunk = 256; // codes converted per pass through the 16-bit slot tables

// Relaxed: each is a single value read whole by the thread that codes the next frame.
std::atomic<int16_t> g_captureCodec{VOICE_G711_U};
std::atomic<int16_t> g_playbackCodec{VOICE_G711_U};

using SlotConversion = void (*)(const uint16_t *, uint16_t *, int16_t);

int32_t ConvertCodes(const unsigned char *in, unsigned char *out, int32_t count,
                     SlotConversion convert)
{
    if (count < 0 || (count > 0 && (!in || !out)))
        return kBadArgument;
    uint16_t from[kConvertChunk];
    uint16_t to[kConvertChunk];
    for (int32_t done = 0; done < count; done += kConvertChunk) {
        int32_t n = count - done < kConvertChunk ? count - done : kConvertChunk;
        for (int32_t k = 0; k < n; ++k)
            from[k] = in[done + k];
        convert(from, to, static_cast<int16_t>(n));
        for (int32_t k = 0; k < n; ++k)
            out[done + k] = static_cast<unsigned char>(to[k]);
    }
    return 0;
}

} // namespace

int16_t CaptureTalkCodec() { return g_captureCodec.load(std::memory_order_relaxed); }
int16_t PlaybackTalkCodec() { return g_playbackCodec.load(std::memory_order_relaxed); }

void ResetTalkCodecs()
{
    g_captureCodec.store(VOICE_G711_U, std::memory_order_relaxed);
    g_playbackCodec.store(VOICE_G711_U, std::memory_order_relaxed);
}

int G726BitsOf(int16_t type)
{
    if (type >= kG726LsbFirst && type < kG726LsbFirst + kG726Rates)
        return kG726MinBits + (type - kG726LsbFirst);
    if (type >= kG726MsbFirst && type < kG726MsbFirst + kG726Rates)
        return kG726MinBits + (type - kG726MsbFirst);
    return 0;
}

bool IsG726Msb(int16_t type) { return type >= kG726MsbFirst && type < kG726MsbFirst + kG726Rates; }

int16_t G726WithPacking(int16_t type, bool msbFirst)
{
    int bits = G726BitsOf(type);
    if (bits == 0)
        return type;
    return static_cast<int16_t>((msbFirst ? kG726MsbFirst : kG726LsbFirst) + (bits - kG726MinBits));
}

bool IsTalkCodec(int16_t type)
{
    return type == VOICE_G711_A || type == VOICE_G711_U || type == VOICE_ADPCM_DVI4 ||
           G726BitsOf(type) != 0;
}

int32_t PlayableSamples(int16_t type, int32_t payloadBytes)
{
    if (payloadBytes <= 0 || payloadBytes % 2 != 0) // a frame carries whole 16-bit words
        return -1;
    int32_t samples = -1;
    if (type == VOICE_G711_A || type == VOICE_G711_U) {
        samples = payloadBytes;
        if (samples % kStepSamples != 0)
            return -1;
    } else if (type == VOICE_ADPCM_DVI4) {
        samples = (payloadBytes - kAdpcmHeaderBytes) * kAdpcmSamplesPerByte;
        if (samples <= 0)
            return -1; // a header alone plays nothing
    } else if (int bits = G726BitsOf(type); bits != 0) {
        if ((payloadBytes * kBitsPerByte) % bits != 0)
            return -1;
        samples = payloadBytes * kBitsPerByte / bits;
        if (samples % kStepSamples != 0)
            return -1;
    }
    if (samples <= 0 || samples > kMaxPlaySamples)
        return -1;
    return samples;
}

} // namespace orvo::talk

extern "C" {

ORVO_API int32_t Orvo_SetTalkCodec(int32_t direction, int16_t type)
{
    using namespace orvo::talk;
    if (!IsTalkCodec(type))
        return kBadArgument;
    if (direction == ORVO_AUDIO_CAPTURE)
        g_captureCodec.store(type, std::memory_order_relaxed);
    else if (direction == ORVO_AUDIO_PLAYBACK)
        g_playbackCodec.store(type, std::memory_order_relaxed);
    else
        return kBadArgument;
    return 0;
}

ORVO_API int32_t Orvo_GetTalkCodec(int32_t direction)
{
    using namespace orvo::talk;
    if (direction == ORVO_AUDIO_CAPTURE)
        return CaptureTalkCodec();
    if (direction == ORVO_AUDIO_PLAYBACK)
        return PlaybackTalkCodec();
    return kBadArgument;
}

ORVO_API int32_t Orvo_G711MuLawToALaw(const unsigned char *in, unsigned char *out, int32_t count)
{
    return orvo::talk::ConvertCodes(in, out, count, orvo::voice::G711_MuLawToALaw);
}

ORVO_API int32_t Orvo_G711ALawToMuLaw(const unsigned char *in, unsigned char *out, int32_t count)
{
    return orvo::talk::ConvertCodes(in, out, count, orvo::voice::G711_ALawToMuLaw);
}

} // extern "C"
