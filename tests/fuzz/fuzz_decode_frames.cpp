// Feeds a batch of arbitrary frames, good and bad, to HI_VOICE_DecodeFrames, and checks every
// channel against HI_VOICE_DecodeFrame on a copy of its own frame and state: same status, count,
// samples, frame and state, so a bad channel never disturbs another.
//   byte 0:   channel count - 1 (1..64)
//   byte 1:   bit 0 force the portable kernels
//   then per channel: one byte of codec type (index into kTypes, some unsupported), one byte that
//   picks the frame: below 0x80 a frame of the decoder's sizes with the rest of the input as its
//   payload (marker and length may then be spoiled by the following bytes), else raw bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvoaudio/voice.h"
#include "voice/simd.h"

namespace {

constexpr int16_t kTypes[] = {VOICE_G711_A,       VOICE_G711_U,       VOICE_ADPCM_DVI4,   VOICE_ADPCM_IMA,
                              VOICE_G726_16K,     VOICE_G726_24K,     VOICE_G726_32K,     VOICE_G726_40K,
                              VOICE_G726_16K_MSB, VOICE_G726_24K_MSB, VOICE_G726_32K_MSB, VOICE_G726_40K_MSB,
                              VOICE_G726_32K,     VOICE_ADPCM_IMA,    0,                  40};
constexpr std::size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];
constexpr std::size_t kFrameBytes = 4 + 2 * 255;
constexpr int kMaxChannels = 64;

struct Reader {
    const uint8_t *data;
    std::size_t size;
    uint8_t Next()
    {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
};

// Accepted lengths by family, so that most frames get through to the kernels.
int GoodLength(int16_t type, uint8_t pick)
{
    switch (type) {
    case VOICE_ADPCM_DVI4:
    case VOICE_ADPCM_IMA:
        return 2 + pick % 121;
    case VOICE_G711_A:
    case VOICE_G711_U:
        return 40 * (1 + pick % 6);
    default: {
        const int bits = (type > 7 ? type - 32 : type) - 2;
        return 80 * (1 + pick % 6) * bits / 16;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    Reader in{data, size};
    const int channels = 1 + in.Next() % kMaxChannels;
    orvo::voice::ForceScalarKernels(in.Next() & 1);
    std::vector<VoiceCodecState> batched(channels), single(channels);
    std::vector<std::vector<uint8_t>> frames(channels, std::vector<uint8_t>(kFrameBytes)), copies;
    std::vector<std::vector<int16_t>> out(channels, std::vector<int16_t>(HI_VOICE_MAX_SAMPLES, 0x3C3C));
    for (int c = 0; c < channels; ++c) {
        const int16_t type = kTypes[in.Next() % kTypeCount];
        std::memset(&batched[c], 0, sizeof batched[c]);
        HI_VOICE_DecReset(&batched[c], type);
        single[c] = batched[c];
        const uint8_t pick = in.Next();
        std::vector<uint8_t> &frame = frames[c];
        for (std::size_t k = 0; k < kFrameBytes; ++k)
            frame[k] = in.Next();
        if (pick < 0x80) {
            frame[0] = 0;
            frame[1] = 1;
            frame[2] = static_cast<uint8_t>(GoodLength(type, pick));
            if (pick & 1) // spoil the marker or the length now and then
                frame[1 + (pick >> 6)] = in.Next();
        }
    }
    copies = frames;
    std::vector<VoiceCodecState *> states(channels);
    std::vector<void *> frame_ptrs(channels);
    std::vector<int16_t *> sample_ptrs(channels);
    for (int c = 0; c < channels; ++c) {
        states[c] = &batched[c];
        frame_ptrs[c] = frames[c].data();
        sample_ptrs[c] = out[c].data();
    }
    std::vector<int16_t> counts(channels, -1);
    std::vector<int32_t> results(channels, 1);
    const int32_t status =
        HI_VOICE_DecodeFrames(states.data(), frame_ptrs.data(), sample_ptrs.data(), counts.data(), channels, results.data());
    int32_t first = 0;
    for (int c = 0; c < channels; ++c) {
        std::vector<int16_t> expected(HI_VOICE_MAX_SAMPLES, 0x3C3C);
        int16_t count = -1;
        const int32_t code = HI_VOICE_DecodeFrame(&single[c], copies[c].data(), expected.data(), &count);
        if (first == 0)
            first = code;
        if (code != results[c] || count != counts[c] || expected != out[c] || copies[c] != frames[c] ||
            std::memcmp(&single[c], &batched[c], sizeof single[c]) != 0)
            std::abort();
    }
    if (status != first)
        std::abort();
    orvo::voice::ForceScalarKernels(false);
    return 0;
}
