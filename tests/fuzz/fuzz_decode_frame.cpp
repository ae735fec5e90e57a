// Feeds arbitrary frames to HI_VOICE_DecodeFrame for every codec type.
//   byte 0: codec type (index into the supported types; some values pick unsupported types)
//   byte 1: bit 0 decode the frame twice (MSB-first frames are re-ordered by the first decode),
//           bit 1 prepare the decoder with HI_VOICE_EncReset instead of HI_VOICE_DecReset
//   rest:   the frame; it is copied into a buffer of exactly 4 + 2 x length bytes, so that the
//           sanitizer catches any read beyond the frame the header announces.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "orvoaudio/voice.h"

namespace {

constexpr int16_t kTypes[] = {VOICE_G711_A,       VOICE_G711_U,       VOICE_ADPCM_DVI4,
                              VOICE_ADPCM_IMA,    VOICE_G726_16K,     VOICE_G726_24K,
                              VOICE_G726_32K,     VOICE_G726_40K,     VOICE_G726_16K_MSB,
                              VOICE_G726_24K_MSB, VOICE_G726_32K_MSB, VOICE_G726_40K_MSB,
                              0,                  8,                  34,
                              40};
constexpr std::size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];
constexpr std::size_t kControlBytes = 2;
constexpr std::size_t kHeaderBytes = 4;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < kControlBytes + kHeaderBytes)
        return 0;
    const int16_t type = kTypes[data[0] % kTypeCount];
    const bool twice = data[1] & 1;
    const bool enc_reset = data[1] & 2;
    data += kControlBytes;
    size -= kControlBytes;

    const std::size_t frame_bytes = kHeaderBytes + 2 * static_cast<std::size_t>(data[2]);
    std::unique_ptr<uint8_t[]> frame(new uint8_t[frame_bytes]);
    std::memset(frame.get(), 0, frame_bytes);
    std::memcpy(frame.get(), data, size < frame_bytes ? size : frame_bytes);
    std::unique_ptr<int16_t[]> samples(new int16_t[HI_VOICE_MAX_SAMPLES]);

    VoiceCodecState state;
    std::memset(&state, 0, sizeof state);
    if (enc_reset)
        HI_VOICE_EncReset(&state, type);
    else
        HI_VOICE_DecReset(&state, type);
    for (int round = 0; round < (twice ? 2 : 1); ++round) {
        int16_t count = -1;
        const int32_t status = HI_VOICE_DecodeFrame(&state, frame.get(), samples.get(), &count);
        if (count < 0 || count > HI_VOICE_MAX_SAMPLES || (status != 0 && count != 0))
            std::abort();
        if (HI_VOICE_StatusText(status) == nullptr)
            std::abort();
    }
    return 0;
}
