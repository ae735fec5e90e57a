// libFuzzer target for the tools' file readers: the .ovf frame file reader and, on the same
// bytes, the WAV reader. A frame file the reader accepts must decode frame by frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "orvo_tool/codec_types.h"
#include "orvo_tool/ovf_file.h"
#include "orvo_tool/wav_file.h"
#include "orvoaudio/voice.h"

namespace {

void CheckOvf(const uint8_t *data, size_t size)
{
    using namespace orvo::tool;
    OvfFile file;
    OvfError error;
    if (!ParseOvf(data, size, &file, &error)) {
        if (error.offset > size || error.message.empty()) std::abort();
        return;
    }
    if (SerializeOvf(file) != std::vector<uint8_t>(data, data + size)) std::abort();
    const BlockPlan plan = PlanBlock(*FindCodecType(file.header.codec_type), file.header.block_samples);
    VoiceCodecState state;
    if (HI_VOICE_DecReset(&state, file.header.codec_type) != 0) return;
    for (size_t k = 0; k < file.header.frame_count; ++k) {
        // Exactly the frame's bytes, so a sanitizer sees any read beyond it.
        std::vector<uint8_t> frame(file.Frame(k), file.Frame(k) + file.frame_bytes);
        int16_t samples[HI_VOICE_MAX_SAMPLES];
        int16_t count = -1;
        if (HI_VOICE_DecodeFrame(&state, frame.data(), samples, &count) != 0 || count != plan.carried) std::abort();
    }
}

void CheckWav(const uint8_t *data, size_t size)
{
    std::vector<int16_t> samples;
    std::string error;
    if (!orvo::tool::ParseVoiceWav(data, size, &samples, &error)) {
        if (error.empty()) std::abort();
        return;
    }
    const std::vector<uint8_t> canonical = orvo::tool::SerializeVoiceWav(samples);
    std::vector<int16_t> again;
    if (!orvo::tool::ParseVoiceWav(canonical.data(), canonical.size(), &again, &error) || again != samples)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CheckOvf(data, size);
    CheckWav(data, size);
    return 0;
}
